#pragma once

#include <QByteArray>
#include <QString>

class MessageLog;

// The name of a card file in the configured style, or the default name where the data gives
// none.
QString CardName(const QByteArray& data);
// The name built at the overview, completed with its prefix.
QString VuName(const QString& built, const QString& dataKind, bool empty);
// The free-name search from candidate `from` on: only files take a name.
int FirstFreeNumber(const QString& path, int from);

// Writes one download file and logs where it went. A folder that is missing is made for a
// second attempt; when that fails too, the data goes to the engine's data folder instead.
class FileWriter {
public:
    FileWriter(MessageLog& log, bool card) : log_(log), card_(card) {}

    void logPath(const QString& path);
    // False when the data could be saved nowhere.
    bool save(const QString& folder, const QString& name, const QByteArray& data);

private:
    void logSaveError(int error);
    bool saveInDataFolder(const QString& name, const QByteArray& data);

    MessageLog& log_;
    bool card_;
};
