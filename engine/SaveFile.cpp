#include "FileNaming.h"
#include "MessageLog.h"
#include "NewFile.h"
#include "Session.h"
#include "StatusFile.h"

#include <DownloadSettings.h>
#include <Folders.h>

#include <QFileInfo>

#include <cerrno>

namespace {

QString CardName(const QByteArray& data) {
    const QString name =
        sGetCardFileName(DownloadSettings::FileNameStyle, data, QDateTime::currentDateTime());
    return name.isEmpty() ? kSavedName : name;
}

// The name built at the overview, completed with its prefix.
QString VuName(const QString& built, const QString& dataKind, bool empty) {
    if (built == kSavedName || built.isEmpty() || empty) return kSavedName;
    return VuNamePrefix(dataKind, DownloadSettings::FileNameStyle) + built;
}

// The free-name search from candidate `from` on: only files take a name.
int FirstFreeNumber(const QString& path, int from) {
    int n = from;
    while (QFileInfo(CandidatePath(path, n)).isFile())
        ++n;
    return n;
}

struct Outcome {
    QString path;
    int error = 0;
};

// Whatever takes a name between the search and the creation (a file made meanwhile, a
// folder of that name) makes the search go on to the next candidate.
Outcome WriteUnderFreeName(const QString& path, const QByteArray& data) {
    for (int n = FirstFreeNumber(path, 0);; n = FirstFreeNumber(path, n + 1)) {
        const Outcome outcome{CandidatePath(path, n), WriteNewFile(CandidatePath(path, n), data)};
        if (outcome.error != EEXIST) return outcome;
    }
}

QString ErrorText(int error) {
    return QString::number(error) + QStringLiteral(" - ") + ErrorDescription(error);
}

// Writes one download file and logs where it went. A folder that is missing is made for a
// second attempt; when that fails too, the data goes to the engine's data folder instead.
class FileWriter {
public:
    FileWriter(MessageLog& log, bool card) : log_(log), card_(card) {}

    void logPath(const QString& path) {
        log_.sShowText((card_ ? QStringLiteral("Card Path/File Name - ")
                              : QStringLiteral("VU Path/File Name - ")) +
                       path);
    }

    // False when the data could be saved nowhere.
    bool save(const QString& folder, const QString& name, const QByteArray& data) {
        // The default folders are not made until something goes into them.
        if (!QFileInfo::exists(folder)) MakeFolderPath(folder);
        Outcome outcome = WriteUnderFreeName(folder + name, data);
        logPath(outcome.path);
        if (outcome.error != 0 && IsNameOrFolderError(outcome.error)) {
            log_.sShowText(QStringLiteral("File error no. ") + ErrorText(outcome.error));
            MakeFolderPath(folder);
            outcome = WriteUnderFreeName(folder + name, data);
            logPath(QLatin1Char('"') + outcome.path + QLatin1Char('"'));
        }
        if (outcome.error == 0) {
            log_.sShowText(QStringLiteral("File saved"));
            return true;
        }
        logSaveError(outcome.error);
        return saveInDataFolder(name, data);
    }

private:
    void logSaveError(int error) {
        log_.sShowText(QStringLiteral("File save error - no. ") + ErrorText(error));
    }

    bool saveInDataFolder(const QString& name, const QByteArray& data) {
        const Outcome outcome =
            WriteUnderFreeName(DataFolderPath() + QLatin1Char('/') + name, data);
        logPath(outcome.path);
        if (outcome.error == 0) {
            log_.sShowText(QStringLiteral("File saved"));
            return true;
        }
        logSaveError(outcome.error);
        log_.sShowText(QStringLiteral("File not saved - the downloaded data is lost"));
        return false;
    }

    MessageLog& log_;
    bool card_;
};

} // namespace

void Session::BuildVuFileName() {
    VuFileName = VuFileNameFor(DownloadSettings::FileNameStyle, Vin, Vrn, VuNation,
                               QDateTime::currentDateTime());
}

void Session::SaveFile() {
    saveCollected();
    if (CurrentTrep == kTrepEnd) status_.WriteStatus(finalStatus());
}

void Session::saveCollected() {
    const bool card = PreviousTrep == 6 || PreviousTrep == 23;
    if (!DownloadData.isEmpty()) (card ? CardDataPresent : VuDataPresent) = true;
    VuFileName =
        card ? CardName(DownloadData) : VuName(VuFileName, DataKind, DownloadData.isEmpty());
    const QString& folder = card ? DownloadSettings::CardDataPath : DownloadSettings::VUDataPath;
    FileWriter writer(log_, card);
    if (DownloadData.isEmpty())
        writer.logPath(CandidatePath(folder + VuFileName, FirstFreeNumber(folder + VuFileName, 0)));
    else if (!writer.save(folder, VuFileName, DownloadData))
        fileLost_ = true;
    DownloadData.clear();
    DataKind.clear();
}

// A download of which any file was lost has failed, even when another file was saved.
QString Session::finalStatus() const {
    if (fileLost_) return QStringLiteral("Failed - file not saved");
    if (twoAnswers_) return QStringLiteral("Failed - two answers to one request");
    return VuDataPresent || CardDataPresent ? QStringLiteral("Complete") : QStringLiteral("Failed");
}
