#include "DownloadFiles.h"
#include "FileNaming.h"
#include "MessageLog.h"
#include "NewFile.h"

#include <DownloadSettings.h>
#include <Folders.h>

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>

namespace {

// The card's name in the configured style, or the default name where its data gives none.
QString cardName(const QByteArray& data) {
    const QString name =
        cardFileNameFor(DownloadSettings::fileNameStyle, data, QDateTime::currentDateTime());
    return name.isEmpty() ? kSavedName : name;
}

// The name built at the overview, completed with its prefix.
QString vuName(const QString& built, const QString& dataKind, bool empty) {
    if (built == kSavedName || built.isEmpty() || empty) return kSavedName;
    return vuNamePrefix(dataKind, DownloadSettings::fileNameStyle) + built;
}

// The free-name search from candidate `from` on: only files take a name.
int firstFreeNumber(const QString& path, int from) {
    int n = from;
    while (QFileInfo(candidatePath(path, n)).isFile())
        ++n;
    return n;
}

struct Outcome {
    QString path;
    int error = 0;
};

// Whatever takes a name between the search and the creation (a file made meanwhile, a
// folder of that name) makes the search go on to the next candidate.
Outcome writeUnderFreeName(const QString& path, const QByteArray& data) {
    for (int n = firstFreeNumber(path, 0);; n = firstFreeNumber(path, n + 1)) {
        const Outcome outcome{candidatePath(path, n), writeNewFile(candidatePath(path, n), data)};
        if (outcome.error != EEXIST) return outcome;
    }
}

QString errorText(int error) {
    return QString::number(error) + QStringLiteral(" - ") + errorDescription(error);
}

// Writes one download file and logs where it went. A folder that is missing is made for a
// second attempt; when that fails too, the data goes to the engine's data folder instead.
class FileWriter {
public:
    FileWriter(MessageLog& log, bool card) : log_(log), card_(card) {}

    void logPath(const QString& path) {
        log_.line((card_ ? QStringLiteral("Card Path/File Name - ")
                         : QStringLiteral("VU Path/File Name - ")) +
                  path);
    }

    // False when the data could be saved nowhere.
    bool save(const QString& folder, const QString& name, const QByteArray& data) {
        // The default folders are not made until something goes into them.
        if (!QFileInfo::exists(folder)) makeFolderPath(folder);
        Outcome outcome = writeUnderFreeName(folder + name, data);
        logPath(outcome.path);
        if (outcome.error != 0 && isNameOrFolderError(outcome.error)) {
            log_.line(QStringLiteral("File error no. ") + errorText(outcome.error));
            makeFolderPath(folder);
            outcome = writeUnderFreeName(folder + name, data);
            logPath(QLatin1Char('"') + outcome.path + QLatin1Char('"'));
        }
        if (outcome.error == 0) {
            log_.line(QStringLiteral("File saved"));
            return true;
        }
        logSaveError(outcome.error);
        return saveInDataFolder(name, data);
    }

private:
    void logSaveError(int error) {
        log_.line(QStringLiteral("File save error - no. ") + errorText(error));
    }

    bool saveInDataFolder(const QString& name, const QByteArray& data) {
        const Outcome outcome =
            writeUnderFreeName(dataFolderPath() + QLatin1Char('/') + name, data);
        logPath(outcome.path);
        if (outcome.error == 0) {
            log_.line(QStringLiteral("File saved"));
            return true;
        }
        logSaveError(outcome.error);
        log_.line(QStringLiteral("File not saved - the downloaded data is lost"));
        return false;
    }

    MessageLog& log_;
    bool card_;
};

} // namespace

QString DownloadFiles::save(bool card, const QString& builtName, const QString& kind,
                            const QByteArray& data) {
    if (!data.isEmpty()) (card ? cardData_ : vuData_) = true;
    const QString name = card ? cardName(data) : vuName(builtName, kind, data.isEmpty());
    const QString& folder = card ? DownloadSettings::cardDataPath : DownloadSettings::vuDataPath;
    FileWriter writer(log_, card);
    if (data.isEmpty())
        writer.logPath(candidatePath(folder + name, firstFreeNumber(folder + name, 0)));
    else if (!writer.save(folder, name, data))
        lost_ = true;
    return name;
}

QString DownloadFiles::finalStatus() const {
    if (lost_) return QStringLiteral("Failed - file not saved");
    return vuData_ || cardData_ ? QStringLiteral("Complete") : QStringLiteral("Failed");
}
