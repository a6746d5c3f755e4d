#include "SaveFile.h"
#include "FileNaming.h"
#include "MessageLog.h"
#include "NewFile.h"

#include <DownloadSettings.h>
#include <Folders.h>

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>

QString CardName(const QByteArray& data) {
    const QString name =
        sGetCardFileName(DownloadSettings::FileNameStyle, data, QDateTime::currentDateTime());
    return name.isEmpty() ? kSavedName : name;
}

QString VuName(const QString& built, const QString& dataKind, bool empty) {
    if (built == kSavedName || built.isEmpty() || empty) return kSavedName;
    return VuNamePrefix(dataKind, DownloadSettings::FileNameStyle) + built;
}

int FirstFreeNumber(const QString& path, int from) {
    int n = from;
    while (QFileInfo(CandidatePath(path, n)).isFile())
        ++n;
    return n;
}

namespace {

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

} // namespace

void FileWriter::logPath(const QString& path) {
    log_.sShowText((card_ ? QStringLiteral("Card Path/File Name - ")
                          : QStringLiteral("VU Path/File Name - ")) +
                   path);
}

bool FileWriter::save(const QString& folder, const QString& name, const QByteArray& data) {
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

void FileWriter::logSaveError(int error) {
    log_.sShowText(QStringLiteral("File save error - no. ") + ErrorText(error));
}

bool FileWriter::saveInDataFolder(const QString& name, const QByteArray& data) {
    const Outcome outcome = WriteUnderFreeName(DataFolderPath() + QLatin1Char('/') + name, data);
    logPath(outcome.path);
    if (outcome.error == 0) {
        log_.sShowText(QStringLiteral("File saved"));
        return true;
    }
    logSaveError(outcome.error);
    log_.sShowText(QStringLiteral("File not saved - the downloaded data is lost"));
    return false;
}
