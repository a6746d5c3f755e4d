#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class MessageLog;

// "VNPCstatus.txt": one line that the front end polls to follow a download.
class StatusFile {
public:
    explicit StatusFile(MessageLog& log) : log_(log) {}

    void setFilePath(const QString& path) { filePath_ = path; }
    const QString& filePath() const { return filePath_; }

    // A non-empty text is written as it is (and logged); empty text writes the progress
    // line "blocksReceived/blocksExpected", each at least four digits.
    void writeStatus(const QString& status);

    qint32 blocksReceived = 0;
    qint32 blocksExpected = 0;

    const QString& caption() const { return caption_; }
    // Called with each new status (the window's status label shows it).
    std::function<void(const QString&)> onStatusChanged;

private:
    MessageLog& log_;
    QString filePath_;
    QString caption_ = QStringLiteral("Waiting...");
};
