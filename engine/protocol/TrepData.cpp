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

quint32 Unsigned(qint32 seconds) {
    return quint32(seconds);
}

// count bytes from the 1-based position, or nothing when the data does not hold them all.
QByteArray Field(const QByteArray& data, qsizetype position, qsizetype count) {
    if (position < 1 || position - 1 + count > data.size()) return {};
    return data.mid(position - 1, count);
}

std::optional<quint8> ByteAt(const QByteArray& data, qsizetype position) {
    const QByteArray field = Field(data, position, 1);
    return field.isEmpty() ? std::nullopt : std::optional(quint8(field[0]));
}

QString MakerName(qint32 code) {
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
std::optional<qint32> DayOf(const QByteArray& time) {
    if (time.size() != kTimeSize || time == QByteArray(4, '\0') || time == QByteArray(4, '\xFF'))
        return std::nullopt;
    const quint32 seconds = qFromBigEndian<quint32>(time.constData());
    return qint32(seconds - seconds % kDay);
}

// Whole days from one day to a later one; 0 when they come the other way round.
qint64 DaysBetween(qint32 from, qint32 to) {
    return std::max<qint64>(0, (qint64(Unsigned(to)) - qint64(Unsigned(from))) / kDay);
}
} // namespace

// Only an answer to the request that went out comes here: its TREP and sub-message number
// are the ones asked for.
void Session::GetTREPData() {
    const QByteArray& response = response_;
    const int length = response.size() > 3 ? quint8(response[3]) : 0;
    QByteArray data;
    if (SubMessageCounter == 1) {
        storeEcho(Field(response, 5, 2));
        data =
            length == kLongAnswer ? response.mid(8, 251) : response.mid(6, std::max(length - 2, 0));
    } else {
        data = response.mid(8, std::max(length - 4, 0));
    }
    appendData(data);
    countSubMessageProgress();
    if (length == kLongAnswer) {
        ++SubMessageCounter;
        SessionState = 9;
        return;
    }
    completeTrep();
}

// The echo (0x76 and the TREP) heads each block, except card data, which is kept bare.
void Session::storeEcho(const QByteArray& echo) {
    const bool bare = echo == QByteArray("\x76\x06", 2) || echo == QByteArray("\x76\x17", 2);
    if (TrepIndex == 0) Trep5Data.clear();
    QByteArray& target = currentBlockData();
    trepStart_ = target.size();
    if (!bare) target += echo;
}

// The technical data read first is kept apart until its place in the file comes.
QByteArray& Session::currentBlockData() {
    return TrepIndex == 0 ? Trep5Data : DownloadData;
}

void Session::appendData(const QByteArray& data) {
    currentBlockData() += data;
}

// A TREP refused or restarted half-way must not leave a cut-off block in the file.
void Session::dropPartialTrep() {
    if (SubMessageCounter <= 1) return; // nothing of this TREP has been stored yet
    currentBlockData().truncate(trepStart_);
}

void Session::countSubMessageProgress() {
    int every = 0;
    if (BaseTrep == 4)
        every = 8;
    else if (BaseTrep == 6 || BaseTrep == 23)
        every = 4;
    else if (BaseTrep == 25)
        every = 16;
    if (every == 0 || SubMessageCounter % every != 0) return;
    ++status_.BlocksReceived;
    ++SubBlocks;
    status_.WriteStatus(QString());
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
    if (BaseTrep == TrepEntry::TechnicalData && Numbering == TrepNumbering::Gen1)
        readTechnicalData();
    if (BaseTrep == 1) {
        readOverview();
        setDownloadPeriod();
        BuildVuFileName();
    }
    status_.BlocksReceived += trepWeight(BaseTrep) - SubBlocks;
    SetNextTREP();
    status_.WriteStatus(QString());

    const qint32 nextBase = EntryOf(CurrentTrep, Numbering);
    // Another overview or a card starts a new file: save what has been collected first.
    if ((nextBase == TrepEntry::Overview || nextBase == TrepEntry::Card ||
         nextBase == TrepEntry::MakerCard) &&
        TrepIndex >= 2)
        SaveFile();

    if (CurrentTrep == kTrepEnd) {
        SessionState = 7;
    } else {
        SessionState = 6;
        SubMessageCounter = 1;
        SubBlocks = 0;
    }
}

void Session::readTechnicalData() {
    const QByteArray block = currentBlockData().mid(trepStart_);
    const std::optional<quint8> maker = ByteAt(block, kMakerCodeAt);
    if (maker)
        log_.ShowHex(QByteArray(1, char(*maker)));
    else
        log_.sShowText(QStringLiteral("Technical data too short for the manufacturer code"));
    VuMakerCode = maker.value_or(0);
    VuMaker = MakerName(VuMakerCode);
    log_.sShowText(QStringLiteral("VU Manufacturer - ") + VuMaker);
    log_.sShowText(QString());
}

void Session::readOverview() {
    const QByteArray block = DownloadData.mid(trepStart_);
    if (Numbering != TrepNumbering::Gen1) {
        const SecondGenOverview overview = ReadSecondGenOverview(block);
        Vin = overview.Vin;
        Vrn = overview.Vrn;
        VuCurrentTime = overview.CurrentTime;
        VuOldestTime = overview.OldestTime;
        VuLatestTime = overview.LatestTime;
        VuNation = QStringLiteral("___");
        if (Vrn.isEmpty())
            log_.sShowText(QStringLiteral("Registration number missing from the overview"));
        if (!overview.complete)
            log_.sShowText(QStringLiteral("Overview incomplete - %1 bytes").arg(block.size()));
    } else {
        if (block.size() < kLatestTimeAt + kTimeSize - 1)
            log_.sShowText(QStringLiteral("Overview incomplete - %1 bytes").arg(block.size()));
        Vin = Field(block, kVinAt, kVinSize);
        log_.sShowText(QString::fromLatin1(Vin));
        const std::optional<quint8> nation = ByteAt(block, kNationAt);
        VuNation = nation ? NationAlpha(*nation) : QString();
        log_.sShowText(VuNation);
        log_.sShowText(QString());
        Vrn = Field(block, kVrnAt, kVrnSize);
        log_.sShowText(QString::fromLatin1(Vrn));
        VuCurrentTime = Field(block, kCurrentTimeAt, kTimeSize);
        VuOldestTime = Field(block, kOldestTimeAt, kTimeSize);
        VuLatestTime = Field(block, kLatestTimeAt, kTimeSize);
    }
    for (const QByteArray& time : {VuCurrentTime, VuOldestTime, VuLatestTime}) {
        log_.ShowHex(time);
        log_.sShowText(QStringLiteral(" - ") + BytesToDateText(time));
    }
}

void Session::setDownloadPeriod() {
    const char kind = DownloadSettings::DownloadType.toLatin1();
    if (kind == 'C') {
        status_.BlocksExpected = 28;
        return;
    }
    if (kind != 'A' && kind != 'L') return;
    std::optional<qint32> oldest = DayOf(VuOldestTime);
    std::optional<qint32> latest = DayOf(VuLatestTime);
    if (!oldest || !latest) log_.sShowText(QStringLiteral("Downloadable period not known"));
    // Without one end of the period, the other stands for both: one day, not fifty years.
    OldestDate = oldest.value_or(latest.value_or(0));
    LatestDate = latest.value_or(OldestDate);
    log_.sShowText(QStringLiteral("Oldest date - ") + SecondsToDateText(OldestDate) + ' ' +
                   HexText(Unsigned(OldestDate)));
    log_.sShowText(QStringLiteral("Latest date - ") + SecondsToDateText(LatestDate) + ' ' +
                   HexText(Unsigned(LatestDate)));

    if (kind == 'A') {
        ActivityDay = OldestDate;
        status_.BlocksExpected = qint32(DaysBetween(OldestDate, LatestDate) + 50);
        DataKind = QStringLiteral("M");
        return;
    }
    const qint64 latestSeconds = Unsigned(LatestDate);
    const qint64 oldestSeconds = Unsigned(OldestDate);
    qint64 first = std::max<qint64>(0, latestSeconds - qint64(SessionDays) * kDay);
    if (oldestSeconds - first >= kDay)
        first += (oldestSeconds - first) / kDay * kDay; // never more than a day before the oldest
    ActivityDay = qint32(quint32(first));
    log_.sShowText(QStringLiteral("Download from ") + SecondsToDateText(ActivityDay) + ' ' +
                   HexText(Unsigned(ActivityDay)));
    if (status_.BlocksReceived < 2) status_.BlocksExpected = expectedLatestVuBlocks();
}

qint32 Session::expectedLatestVuBlocks() const {
    qint64 sum = 0;
    for (const quint8 trep : trepSequence) {
        if (trep == kTrepEnd) break;
        if (trep == 2)
            sum += DaysBetween(ActivityDay, LatestDate) + 1;
        else if (trep != 0)
            sum += trepWeight(trep);
    }
    return qint32(sum);
}

void Session::SetNextTREP() {
    BaseTrep = EntryOf(CurrentTrep, Numbering);
    if (BaseTrep == 2) {
        const qint64 nextDay = qint64(Unsigned(ActivityDay)) + kDay;
        ActivityDay = qint32(quint32(nextDay));
        if (nextDay > qint64(Unsigned(LatestDate))) {
            PreviousTrep = CurrentTrep;
            takeNextEntry();
        }
    } else {
        PreviousTrep = CurrentTrep;
        takeNextEntry();
    }
    // Read at the start already: its data takes this place in the file. A unit that came to
    // version 1 numbering through refusals is asked again.
    if (!Trep5Data.isEmpty() && Numbering != TrepNumbering::Gen2V1 &&
        EntryOf(CurrentTrep, Numbering) == TrepEntry::TechnicalData) {
        DownloadData += Trep5Data;
        if (DataKind.isEmpty()) DataKind = QStringLiteral("M");
        log_.sShowText(QStringLiteral("TREP5 read previously"));
        PreviousTrep = CurrentTrep;
        takeNextEntry();
    }
    if (VuMakerCode == 0xA1 && CurrentTrep == TrepEntry::Card)
        CurrentTrep = TrepEntry::MakerCard; // this maker reads the card with its own TREP first
}

void Session::takeNextEntry() {
    ++TrepIndex;
    CurrentTrep =
        TrepFor(TrepIndex < kTrepSequenceSize ? trepSequence[TrepIndex] : kTrepEnd, Numbering);
}
