#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// The data a simulated vehicle unit holds: its TREP blocks, either split from a real
// download file or generated, and the driver card it serves through TREP 6.
namespace sim {

constexpr quint32 kSecondsPerDay = 86400;

struct Block {
    quint8 trep = 0;
    QByteArray data; // the value after 0x76 and the TREP byte
};

// Blocks of a vehicle-unit file (chained 0x76, TREP, value). First-generation values end
// where their record counts say; second-generation values are record arrays up to the next
// 0x76 (no record type has that value). Empty list and *error set on a malformed file.
QList<Block> splitVuFile(const QByteArray& file, QString* error);
// Length of a first-generation value starting at `at`; -1 when the counts run past the end.
qsizetype gen1ValueLength(quint8 trep, const QByteArray& file, qsizetype at);
// Length of a second-generation value (record arrays) starting at `at`; -1 when malformed.
qsizetype gen2ValueLength(const QByteArray& file, qsizetype at);

bool isGen2Trep(quint8 trep);
// TREP 2 of either numbering: the day is in the request and in the block.
bool isActivitiesTrep(quint8 trep);
// TREP 6 or 0x17: the driver card, which a tester stores bare (without 0x76 and TREP).
bool isCardTrep(quint8 trep);
// Start of the day an activities block holds (seconds since 1970), if readable.
std::optional<quint32> blockDay(const Block& block);
// Four bytes at `at`, most significant first.
std::optional<quint32> readTime(const QByteArray& bytes, qsizetype at);

// Card files of the chain (file id 2, appendix 1, length 2, data); -1 entries on overrun.
struct CardFile {
    quint16 id = 0;
    quint8 appendix = 0;
    QByteArray data;
};
QList<CardFile> splitCardChain(const QByteArray& chain, QString* error);

struct GenerateOptions {
    int days = 28;
    QDateTime now;       // the unit's current time (UTC); the last day of data is its date
    quint8 maker = 0xA1; // manufacturer code of the unit's serial number
    bool gen2 = false;
    bool version2 = false; // a second-generation version 2 unit (TREPs 0x31-0x35)
    int speedBlocks = 75;  // one-minute detailed-speed blocks (75 need 20 sub-messages)
    QByteArray vin = "WDB9066331S123456";
    quint8 nation = 0x0D; // D
    QByteArray vrn = "VT-SIM 42";
};

class VuData {
public:
    // What the unit answers to a Transfer Data request: data, or a negative response code.
    struct Answer {
        quint8 negativeCode = 0;
        quint8 trep = 0; // the TREP echoed in the answer
        QByteArray data;
    };

    static VuData fromFile(const QByteArray& file, QString* error);
    static VuData generate(const GenerateOptions& options);

    bool gen2() const { return gen2_; }
    bool version2() const { return version2_; }
    quint8 maker() const { return maker_; }
    void setMaker(quint8 maker) { maker_ = maker; }
    void setCard(const QByteArray& chain) { card_ = chain; }
    const QByteArray& card() const { return card_; }
    const QList<Block>& blocks() const { return blocks_; }
    quint32 oldestTime() const { return oldest_; }
    quint32 latestTime() const { return latest_; }

    // TRTP as requested and the request's parameters after it (the day for activities).
    Answer answer(quint8 trtp, const QByteArray& params) const;

private:
    void readPeriod();
    std::optional<Block> find(quint8 trep) const;
    QList<Block> activityBlocks() const;
    Answer activities(quint8 trtp, const QByteArray& params) const;
    QByteArray emptyDay(quint32 day) const;

    bool gen2_ = false;
    bool version2_ = false;
    bool distinctDays_ = true;
    quint8 maker_ = 0;
    quint32 oldest_ = 0;
    quint32 latest_ = 0;
    QList<Block> blocks_;
    QByteArray card_;
};

// Generated values, one per block kind.
QByteArray gen1Overview(const GenerateOptions& o, quint32 oldest, quint32 latest);
QByteArray gen1Activities(quint32 day, quint32 odometer, int seed);
QByteArray gen1EmptyDay(quint32 day, quint32 odometer);
QByteArray gen1EventsFaults(quint32 oldest, quint32 latest);
QByteArray gen1DetailedSpeed(quint32 start, int blocks);
QByteArray gen1TechnicalData(quint8 maker, quint32 now);
QByteArray gen2EmptyDay(quint32 day, quint32 odometer);
// A first-generation driver card as a chain of card files, identification file included.
QByteArray generateCardChain(quint32 now, quint8 nation);

} // namespace sim
