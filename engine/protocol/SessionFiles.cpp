#include "FileNaming.h"
#include "Session.h"
#include "StatusFile.h"

#include <DownloadSettings.h>

#include <QDateTime>

void Session::buildVuFileName() {
    fileName_ = vuFileNameFor(DownloadSettings::fileNameStyle, unit_.vin, unit_.vrn, unit_.nation,
                              QDateTime::currentDateTime());
}

void Session::saveFile() {
    saveCollected();
    if (walk_.currentTrep == kTrepEnd) status_.writeStatus(finalStatus());
}

void Session::saveCollected() {
    const bool card = walk_.previousTrep == 6 || walk_.previousTrep == 23;
    fileName_ = files_.save(card, fileName_, dataKind_, data_);
    data_.clear();
    dataKind_.clear();
}

QString Session::finalStatus() const {
    if (!files_.lost() && twoAnswers_) return QStringLiteral("Failed - two answers to one request");
    return files_.finalStatus();
}
