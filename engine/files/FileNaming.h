#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// Names of downloaded files in the national naming styles "EU", "FR", "ES" and "LD".
// The fields come from the vehicle unit and the card, so they are untrusted: a "/" or a
// control character in them becomes "_" before it can reach a file name.

// The name of every file when the style is none of the four (and the fallback name).
inline const QString kSavedName = QStringLiteral("saved.ddd");

// Latin-1 bytes as text, each "/", NUL or other control character replaced by "_".
QString nameField(const QByteArray& bytes);
// A nation code without its spaces (Nt), and padded with "_" to a width (N3, N4).
QString nationWithoutSpaces(const QString& nation);
QString nationPadded(const QString& nation, int width);

// The name of a vehicle-unit file, without prefix; "saved.ddd" for an unknown style.
QString vuFileNameFor(const QString& style, const QByteArray& vin, const QByteArray& vrn,
                      const QString& vuNation, const QDateTime& localNow);
// What goes in front of a vehicle-unit name, by the kind of data and the style.
QString vuNamePrefix(const QString& dataKind, const QString& style);

// The naming fields of a second-generation overview (0x76, TREP, then its record arrays).
// Fields that the overview does not hold in full stay empty; complete says the walk reached
// the downloadable period. A registration record too small for the number leaves Vrn empty
// and the walk goes on.
struct SecondGenOverview {
    QByteArray vin, vrn, currentTime, oldestTime, latestTime;
    std::optional<quint8> nation; // only a registration record of 15 bytes holds it
    bool complete = false;
};
SecondGenOverview readSecondGenOverview(const QByteArray& overview);

// The card holder's identification, from the last identification file of a card chain.
struct CardIdentification {
    quint8 nation = 0;
    QByteArray cardNumber; // 16 bytes
    QByteArray surname;    // the first 16 bytes
    QByteArray firstInitial;
    bool found = false;
};
CardIdentification scanCardIdentification(const QByteArray& cardData);

// The name of a driver-card file; empty for an unknown style or a chain without an
// identification file.
QString cardFileNameFor(const QString& style, const QByteArray& cardData,
                        const QDateTime& localNow);

// Candidate n of the free-name search: the path itself for 0, otherwise "_n" put in front of
// its last four characters (X.DDD, X_1.DDD, X_2.DDD, ...).
QString candidatePath(const QString& path, int n);
