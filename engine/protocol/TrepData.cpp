// The data of the TREPs: unpacking answers and their sub-messages, progress, what the
// session reads from the technical data and the overview, and the walk through the TREPs.

#include "Conversions.h"
#include "DownloadSettings.h"
#include "FileNaming.h"
#include "MessageLog.h"
#include "NationCodes.h"
#include "OverviewLayout.h"
#include "Session.h"
#include "StatusFile.h"

#include <QtEndian>
#include <optional>

namespace {
constexpr qint64 kDay = 86400;
constexpr int kLongAnswer = 255; // length byte of a sub-message that more parts follow

// Positions in the first-generation blocks, counted from 1 at the block's 0x76.
constexpr qsizetype kMakerCodeAt = 98;
using namespace Gen1Overview;

quint32 toUnsigned(qint32 seconds) {
    return quint32(seconds);
}

// count bytes from the 1-based position, or nothing when the data does not hold them all.
QByteArray fieldAt(const QByteArray& data, qsizetype position, qsizetype count) {
    if (position < 1 || position - 1 + count > data.size()) return {};
    return data.mid(position - 1, count);
}

std::optional<quint8> byteAt(const QByteArray& data, qsizetype position) {
    const QByteArray field = fieldAt(data, position, 1);
    return field.isEmpty() ? std::nullopt : std::optional(quint8(field[0]));
}

QString makerName(qint32 code) {
    switch (code) {
    case 0x10:
        return QStringLiteral("Actia");
    case 0x32:
        return QStringLiteral("Intellic");
    case 0xA1:
        return QStringLiteral("VDO");
    case 0xA2:
        return QStringLiteral("Stoneridge");
    default:
        return QStringLiteral("Unknown");
    }
}

// Midnight of a received time, or nothing for a time the unit does not know.
std::optional<qint32> dayOf(const QByteArray& time) {
    if (time.size() != kTimeSize || time == QByteArray(4, '\0') || time == QByteArray(4, '\xFF'))
        return std::nullopt;
    const quint32 seconds = qFromBigEndian<quint32>(time.constData());
    return qint32(seconds - seconds % kDay);
}

// Whole days from one day to a later one; 0 when they come the other way round.
qint64 daysBetween(qint32 from, qint32 to) {
    return std::max<qint64>(0, (qint64(toUnsigned(to)) - qint64(toUnsigned(from))) / kDay);
}
} // namespace

// Only an answer to the request that went out comes here: its TREP and sub-message number
// are the ones asked for.
void Session::takeTrepData() {
    const QByteArray& response = response_;
    const int length = response.size() > 3 ? quint8(response[3]) : 0;
    QByteArray data;
    if (walk_.subMessageCounter == 1) {
        storeEcho(fieldAt(response, 5, 2));
        data =
            length == kLongAnswer ? response.mid(8, 251) : response.mid(6, std::max(length - 2, 0));
    } else {
        data = response.mid(8, std::max(length - 4, 0));
    }
    appendData(data);
    countSubMessageProgress();
    if (length == kLongAnswer) {
        ++walk_.subMessageCounter;
        exchange_.state = State::AcknowledgeSubMessage;
        return;
    }
    completeTrep();
}

// The echo (0x76 and the TREP) heads each block, except card data, which is kept bare.
void Session::storeEcho(const QByteArray& echo) {
    const bool bare = echo == QByteArray("\x76\x06", 2) || echo == QByteArray("\x76\x17", 2);
    if (walk_.index == 0) unit_.technicalData.clear();
    QByteArray& target = currentBlockData();
    walk_.trepStart = target.size();
    if (!bare) target += echo;
}

// The technical data read first is kept apart until its place in the file comes.
QByteArray& Session::currentBlockData() {
    return walk_.index == 0 ? unit_.technicalData : data_;
}

void Session::appendData(const QByteArray& data) {
    currentBlockData() += data;
}

// A TREP refused or restarted half-way must not leave a cut-off block in the file.
void Session::dropPartialTrep() {
    if (walk_.subMessageCounter <= 1) return; // nothing of this TREP has been stored yet
    currentBlockData().truncate(walk_.trepStart);
}

void Session::countSubMessageProgress() {
    int every = 0;
    if (walk_.baseTrep == 4)
        every = 8;
    else if (walk_.baseTrep == 6 || walk_.baseTrep == 23)
        every = 4;
    else if (walk_.baseTrep == 25)
        every = 16;
    if (every == 0 || walk_.subMessageCounter % every != 0) return;
    ++status_.blocksReceived;
    ++walk_.subBlocks;
    status_.writeStatus(QString());
}

qint32 Session::trepWeight(qint32 baseTrep) const {
    switch (baseTrep) {
    case 4:
        return 46;
    case 6:
    case 23:
        return 27;
    case 25:
        return 160;
    default:
        return 1; // one per day for the activities
    }
}

void Session::completeTrep() {
    if (walk_.baseTrep == TrepEntry::TechnicalData && walk_.numbering == TrepNumbering::Gen1)
        readTechnicalData();
    if (walk_.baseTrep == 1) {
        readOverview();
        setDownloadPeriod();
        buildVuFileName();
    }
    status_.blocksReceived += trepWeight(walk_.baseTrep) - walk_.subBlocks;
    setNextTrep();
    status_.writeStatus(QString());

    const qint32 nextBase = entryOf(walk_.currentTrep, walk_.numbering);
    // Another overview or a card starts a new file: save what has been collected first.
    if ((nextBase == TrepEntry::Overview || nextBase == TrepEntry::Card ||
         nextBase == TrepEntry::MakerCard) &&
        walk_.index >= 2)
        saveFile();

    if (walk_.currentTrep == kTrepEnd) {
        exchange_.state = State::TransferExit;
    } else {
        exchange_.state = State::TransferData;
        walk_.subMessageCounter = 1;
        walk_.subBlocks = 0;
    }
}

void Session::readTechnicalData() {
    const QByteArray block = currentBlockData().mid(walk_.trepStart);
    const std::optional<quint8> maker = byteAt(block, kMakerCodeAt);
    if (maker)
        log_.hex(QByteArray(1, char(*maker)));
    else
        log_.line(QStringLiteral("Technical data too short for the manufacturer code"));
    unit_.makerCode = maker.value_or(0);
    unit_.maker = makerName(unit_.makerCode);
    log_.line(QStringLiteral("VU Manufacturer - ") + unit_.maker);
    log_.line(QString());
}

void Session::readOverview() {
    const QByteArray block = data_.mid(walk_.trepStart);
    if (walk_.numbering != TrepNumbering::Gen1) {
        const SecondGenOverview overview = readSecondGenOverview(block);
        unit_.vin = overview.vin;
        unit_.vrn = overview.vrn;
        unit_.currentTime = overview.currentTime;
        unit_.oldestTime = overview.oldestTime;
        unit_.latestTime = overview.latestTime;
        unit_.nation = QStringLiteral("___");
        if (unit_.vrn.isEmpty())
            log_.line(QStringLiteral("Registration number missing from the overview"));
        if (!overview.complete)
            log_.line(QStringLiteral("Overview incomplete - %1 bytes").arg(block.size()));
    } else {
        if (block.size() < kLatestTimeAt + kTimeSize - 1)
            log_.line(QStringLiteral("Overview incomplete - %1 bytes").arg(block.size()));
        unit_.vin = fieldAt(block, kVinAt, kVinSize);
        log_.line(QString::fromLatin1(unit_.vin));
        const std::optional<quint8> nation = byteAt(block, kNationAt);
        unit_.nation = nation ? nationLetters(*nation) : QString();
        log_.line(unit_.nation);
        log_.line(QString());
        unit_.vrn = fieldAt(block, kVrnAt, kVrnSize);
        log_.line(QString::fromLatin1(unit_.vrn));
        unit_.currentTime = fieldAt(block, kCurrentTimeAt, kTimeSize);
        unit_.oldestTime = fieldAt(block, kOldestTimeAt, kTimeSize);
        unit_.latestTime = fieldAt(block, kLatestTimeAt, kTimeSize);
    }
    for (const QByteArray& time : {unit_.currentTime, unit_.oldestTime, unit_.latestTime}) {
        log_.hex(time);
        log_.line(QStringLiteral(" - ") + bytesToDateText(time));
    }
}

void Session::setDownloadPeriod() {
    const char kind = DownloadSettings::downloadType.toLatin1();
    if (kind == 'C') {
        status_.blocksExpected = 28;
        return;
    }
    if (kind != 'A' && kind != 'L') return;
    std::optional<qint32> oldest = dayOf(unit_.oldestTime);
    std::optional<qint32> latest = dayOf(unit_.latestTime);
    if (!oldest || !latest) log_.line(QStringLiteral("Downloadable period not known"));
    // Without one end of the period, the other stands for both: one day, not fifty years.
    walk_.oldestDate = oldest.value_or(latest.value_or(0));
    walk_.latestDate = latest.value_or(walk_.oldestDate);
    log_.line(QStringLiteral("Oldest date - ") + secondsToDateText(walk_.oldestDate) + ' ' +
              hexText(toUnsigned(walk_.oldestDate)));
    log_.line(QStringLiteral("Latest date - ") + secondsToDateText(walk_.latestDate) + ' ' +
              hexText(toUnsigned(walk_.latestDate)));

    if (kind == 'A') {
        walk_.activityDay = walk_.oldestDate;
        status_.blocksExpected = qint32(daysBetween(walk_.oldestDate, walk_.latestDate) + 50);
        dataKind_ = QStringLiteral("M");
        return;
    }
    const qint64 latestSeconds = toUnsigned(walk_.latestDate);
    const qint64 oldestSeconds = toUnsigned(walk_.oldestDate);
    qint64 first = std::max<qint64>(0, latestSeconds - qint64(walk_.plan.days) * kDay);
    if (oldestSeconds - first >= kDay)
        first += (oldestSeconds - first) / kDay * kDay; // never more than a day before the oldest
    walk_.activityDay = qint32(quint32(first));
    log_.line(QStringLiteral("Download from ") + secondsToDateText(walk_.activityDay) + ' ' +
              hexText(toUnsigned(walk_.activityDay)));
    if (status_.blocksReceived < 2) status_.blocksExpected = expectedLatestVuBlocks();
}

qint32 Session::expectedLatestVuBlocks() const {
    qint64 sum = 0;
    for (const quint8 trep : walk_.plan.treps) {
        if (trep == kTrepEnd) break;
        if (trep == 2)
            sum += daysBetween(walk_.activityDay, walk_.latestDate) + 1;
        else if (trep != 0)
            sum += trepWeight(trep);
    }
    return qint32(sum);
}

void Session::setNextTrep() {
    walk_.baseTrep = entryOf(walk_.currentTrep, walk_.numbering);
    if (walk_.baseTrep == 2) {
        const qint64 nextDay = qint64(toUnsigned(walk_.activityDay)) + kDay;
        walk_.activityDay = qint32(quint32(nextDay));
        if (nextDay > qint64(toUnsigned(walk_.latestDate))) {
            walk_.previousTrep = walk_.currentTrep;
            takeNextEntry();
        }
    } else {
        walk_.previousTrep = walk_.currentTrep;
        takeNextEntry();
    }
    // Read at the start already: its data takes this place in the file. A unit that came to
    // version 1 numbering through refusals is asked again.
    if (!unit_.technicalData.isEmpty() && walk_.numbering != TrepNumbering::Gen2V1 &&
        entryOf(walk_.currentTrep, walk_.numbering) == TrepEntry::TechnicalData) {
        data_ += unit_.technicalData;
        if (dataKind_.isEmpty()) dataKind_ = QStringLiteral("M");
        log_.line(QStringLiteral("TREP5 read previously"));
        walk_.previousTrep = walk_.currentTrep;
        takeNextEntry();
    }
    if (unit_.makerCode == 0xA1 && walk_.currentTrep == TrepEntry::Card)
        walk_.currentTrep =
            TrepEntry::MakerCard; // this maker reads the card with its own TREP first
}

void Session::takeNextEntry() {
    ++walk_.index;
    walk_.currentTrep =
        trepFor(walk_.index < kTrepSequenceSize ? walk_.plan.treps[walk_.index] : kTrepEnd,
                walk_.numbering);
}
