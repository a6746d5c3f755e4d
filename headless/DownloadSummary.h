#pragma once

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QString>

// What a saved download says about itself, for the headless command's result: the vehicle
// and its unit from the overview a vehicle-unit file starts with, or the number of the card
// in a card file. Every field is read from bytes at checked positions; one the data does not
// hold is left out, never guessed.
struct DownloadSummary {
    QString kind;       // "vehicle" or "card"; empty when the file tells nothing
    QJsonObject fields; // vin, registration, nation, generation, interface_version,
                        // oldest_day, latest_day; or number, nation

    bool isEmpty() const { return kind.isEmpty(); }
    // The summary as one line of plain output ("vehicle: VIN ..., ...").
    QString line() const;
};

// firstDay: the first day of activities the engine asked for, when it asked for fewer than
// the unit holds (a download of the latest days).
DownloadSummary summaryOf(const QByteArray& file, const QDate& firstDay = QDate());
