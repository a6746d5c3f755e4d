#include "FileNaming.h"
#include "SaveFile.h"
#include "Session.h"
#include "StatusFile.h"

#include <DownloadSettings.h>

#include <QDateTime>

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
