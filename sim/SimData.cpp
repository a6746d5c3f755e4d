#include "SimData.h"

#include <QSet>

namespace sim {

namespace {

quint32 be(const QByteArray& b, qsizetype at, int width) {
    quint32 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(b[at + i]);
    return value;
}

// Builds values field by field, most significant byte first.
class Writer {
public:
    Writer& u8(unsigned v) { return put(v, 1); }
    Writer& u16(unsigned v) { return put(v, 2); }
    Writer& u24(unsigned v) { return put(v, 3); }
    Writer& u32(quint32 v) { return put(v, 4); }
    Writer& bytes(const QByteArray& b) {
        out.append(b);
        return *this;
    }
    Writer& fill(int count, char c = '\0') {
        out.append(count, c);
        return *this;
    }
    // Fixed-width text padded with spaces.
    Writer& text(const QByteArray& t, int width) {
        out.append(t.left(width));
        out.append(width - qMin<int>(width, t.size()), ' ');
        return *this;
    }
    // A name field: code page 1 then 35 characters.
    Writer& name(const QByteArray& t) { return u8(1).text(t, 35); }
    // Card type 1, nation, 16-character number.
    Writer& cardNumber(quint8 nation, const QByteArray& number) {
        return u8(1).u8(nation).text(number, 16);
    }
    Writer& signature(int size = 128) { return fill(size); }
    QByteArray out;

private:
    Writer& put(quint32 v, int width) {
        for (int i = width - 1; i >= 0; --i)
            out.append(char((v >> (8 * i)) & 0xFF));
        return *this;
    }
};

quint32 dayStart(quint32 t) {
    return t - t % kSecondsPerDay;
}

// One first-generation layout step: a count of `countBytes` bytes and its record size.
struct CountedRecords {
    int countBytes;
    int recordSize;
};

struct Gen1Layout {
    int fixedBefore;
    QList<CountedRecords> records;
    int fixedAfterFirstTwo; // fixed bytes after the second counted list (events only)
};

std::optional<Gen1Layout> layoutOf(quint8 trep) {
    switch (trep) {
    case 1:
        return Gen1Layout{491, {{1, 98}, {1, 31}}, 0};
    case 2:
        return Gen1Layout{7, {{2, 129}, {2, 2}, {1, 28}, {2, 5}}, 0};
    case 3:
        return Gen1Layout{0, {{1, 82}, {1, 83}, {1, 31}, {1, 98}}, 9};
    case 4:
        return Gen1Layout{0, {{2, 64}}, 0};
    case 5:
        return Gen1Layout{136, {{1, 167}}, 0};
    default:
        return std::nullopt;
    }
}

Writer activityChanges(Writer w, const QList<quint16>& changes) {
    w.u16(changes.size());
    for (quint16 c : changes)
        w.u16(c);
    return w;
}

// 'scpaattttttttttt': slot, driving status, card status (1 = not inserted), activity, minute.
quint16 change(int slot, bool noCard, int activity, int minute) {
    return quint16((slot << 15) | (noCard ? 1 << 13 : 0) | (activity << 11) | (minute & 0x7FF));
}

// A second-generation record array.
void array(Writer& w, quint8 type, int size, const QList<QByteArray>& records) {
    w.u8(type).u16(size).u16(records.size());
    for (const QByteArray& r : records)
        w.bytes(r.leftJustified(size, '\0', true));
}

namespace rt { // second-generation record types
constexpr quint8 ActivityChangeInfo = 0x01, CardSlotsStatus = 0x02, CurrentDateTime = 0x03,
                 MemberStateCertificate = 0x04, OdometerValueMidnight = 0x05,
                 DateOfDayDownloaded = 0x06, SensorPaired = 0x07, Signature = 0x08,
                 SpecificCondition = 0x09, Vin = 0x0A, Vrn = 0x0B, Calibration = 0x0C,
                 CardIW = 0x0D, VuCertificate = 0x0F, CompanyLocks = 0x10, ControlActivity = 0x11,
                 DetailedSpeed = 0x12, DownloadablePeriod = 0x13, DownloadActivity = 0x14,
                 Event = 0x15, Gnss = 0x16, Fault = 0x18, Identification = 0x19,
                 OverSpeedControl = 0x1A, OverSpeedEvent = 0x1B, PlaceDaily = 0x1C,
                 TimeAdjustment = 0x1E;
}

QByteArray sig2() {
    return QByteArray(64, '\0');
}

// Where the second-generation record array starting at `at` ends: its header holds the type,
// the record size and the record count (1, 2 and 2 bytes).
qsizetype arrayEnd(const QByteArray& b, qsizetype at) {
    return at + 5 + qsizetype(be(b, at + 1, 2)) * be(b, at + 3, 2);
}

// One minute of detailed speed: its start time, then a speed for each second.
QByteArray speedMinute(quint32 start, int minute) {
    Writer w;
    w.u32(start + 60 * minute);
    for (int s = 0; s < 60; ++s)
        w.u8((40 + (minute * 7 + s) % 50) & 0xFF);
    return w.out;
}

} // namespace

std::optional<quint32> readTime(const QByteArray& bytes, qsizetype at) {
    if (at < 0 || at + 4 > bytes.size()) return std::nullopt;
    return be(bytes, at, 4);
}

bool isGen2Trep(quint8 trep) {
    return (trep >= 0x21 && trep <= 0x25) || (trep >= 0x31 && trep <= 0x35);
}

bool isActivitiesTrep(quint8 trep) {
    return trep == 0x02 || trep == 0x22 || trep == 0x32;
}

bool isCardTrep(quint8 trep) {
    return trep == 0x06 || trep == 0x17;
}

qsizetype gen1ValueLength(quint8 trep, const QByteArray& file, qsizetype at) {
    const auto layout = layoutOf(trep);
    if (!layout) return -1;
    qsizetype p = at + layout->fixedBefore;
    for (int i = 0; i < layout->records.size(); ++i) {
        const CountedRecords& r = layout->records[i];
        if (p + r.countBytes > file.size()) return -1;
        p += r.countBytes + qsizetype(be(file, p, r.countBytes)) * r.recordSize;
        if (i == 1) p += layout->fixedAfterFirstTwo;
    }
    p += 128; // signature
    return p <= file.size() ? p - at : -1;
}

qsizetype gen2ValueLength(const QByteArray& file, qsizetype at) {
    qsizetype p = at;
    do {
        if (p + 5 > file.size()) return -1;
        p = arrayEnd(file, p);
        if (p > file.size()) return -1;
    } while (p < file.size() && quint8(file[p]) != 0x76);
    return p - at;
}

QList<Block> splitVuFile(const QByteArray& file, QString* error) {
    QList<Block> blocks;
    qsizetype p = 0;
    while (p < file.size()) {
        if (p + 2 > file.size() || quint8(file[p]) != 0x76) {
            *error = QStringLiteral("no block start (0x76) at byte %1").arg(p);
            return {};
        }
        const quint8 trep = quint8(file[p + 1]);
        const qsizetype length =
            trep >= 0x20 ? gen2ValueLength(file, p + 2) : gen1ValueLength(trep, file, p + 2);
        if (length < 0) {
            *error = QStringLiteral("block TREP %1 at byte %2 runs past the end or is unknown")
                         .arg(trep, 2, 16, QLatin1Char('0'))
                         .arg(p);
            return {};
        }
        blocks.append({trep, file.mid(p + 2, length)});
        p += 2 + length;
    }
    if (blocks.isEmpty()) *error = QStringLiteral("empty file");
    return blocks;
}

std::optional<quint32> blockDay(const Block& block) {
    if (!isActivitiesTrep(block.trep)) return std::nullopt;
    // Second generation: the first array is the day downloaded, one 4-byte record.
    const qsizetype at = block.trep == 0x02 ? 0 : 5;
    const auto t = readTime(block.data, at);
    return t ? std::optional<quint32>(dayStart(*t)) : std::nullopt;
}

QList<CardFile> splitCardChain(const QByteArray& chain, QString* error) {
    QList<CardFile> files;
    qsizetype p = 0;
    while (p < chain.size()) {
        if (p + 5 > chain.size()) {
            *error = QStringLiteral("card file header cut at byte %1").arg(p);
            return {};
        }
        const qsizetype length = be(chain, p + 3, 2);
        if (p + 5 + length > chain.size()) {
            *error = QStringLiteral("card file at byte %1 runs past the end").arg(p);
            return {};
        }
        files.append({quint16(be(chain, p, 2)), quint8(chain[p + 2]), chain.mid(p + 5, length)});
        p += 5 + length;
    }
    return files;
}

// ---- the unit's answers

VuData VuData::fromFile(const QByteArray& file, QString* error) {
    VuData vu;
    vu.blocks_ = splitVuFile(file, error);
    if (vu.blocks_.isEmpty()) return vu;
    vu.gen2_ = vu.blocks_.first().trep >= 0x20;
    vu.version2_ = vu.blocks_.first().trep >= 0x30;
    if (const auto tech = vu.find(0x05); !vu.gen2_ && tech && tech->data.size() > 95)
        vu.maker_ = quint8(tech->data[95]);
    vu.readPeriod();
    QList<quint32> days;
    for (const Block& b : vu.activityBlocks())
        days.append(blockDay(b).value_or(0));
    vu.distinctDays_ = QSet<quint32>(days.begin(), days.end()).size() == days.size();
    return vu;
}

QList<Block> VuData::activityBlocks() const {
    QList<Block> out;
    for (const Block& b : blocks_)
        if (isActivitiesTrep(b.trep)) out.append(b);
    return out;
}

void VuData::readPeriod() {
    const auto overview = find(gen2_ ? 0x21 : 0x01);
    if (!overview) return;
    const QByteArray& d = overview->data;
    qsizetype at = 424; // first generation: oldest and latest time
    if (gen2_) {
        // The sixth record array holds the downloadable period.
        qsizetype p = 0;
        for (int i = 0; i < 5 && p + 5 <= d.size(); ++i)
            p = arrayEnd(d, p);
        at = p + 5;
    }
    oldest_ = readTime(d, at).value_or(0);
    latest_ = readTime(d, at + 4).value_or(0);
}

std::optional<Block> VuData::find(quint8 trep) const {
    // A unit of the second generation answers both of its numberings from the same data.
    const quint8 twin = (trep >= 0x21 && trep <= 0x25 && trep != 0x24)   ? trep + 0x10
                        : (trep >= 0x31 && trep <= 0x35 && trep != 0x34) ? trep - 0x10
                                                                         : trep;
    for (const Block& b : blocks_)
        if (b.trep == trep) return b;
    for (const Block& b : blocks_)
        if (b.trep == twin) return b;
    return std::nullopt;
}

VuData::Answer VuData::answer(quint8 trtp, const QByteArray& params) const {
    constexpr quint8 kSubFunctionNotSupported = 0x12, kDataNotAvailable = 0xFA;
    if (trtp == 0x06 || (trtp == 0x17 && maker_ == 0xA1)) {
        if (card_.isEmpty()) return {kDataNotAvailable, trtp, {}};
        return {0, trtp, card_};
    }
    // A version 2 unit takes the version 1 TRTPs too; only it knows the interface version.
    const bool known = !gen2_      ? trtp >= 1 && trtp <= 5
                       : version2_ ? isGen2Trep(trtp) || trtp == 0x00
                                   : trtp >= 0x21 && trtp <= 0x25;
    if (!known) return {kSubFunctionNotSupported, trtp, {}};
    if (trtp == 0x00) // download interface version: generation 2, version 2
        return {0, trtp, QByteArray::fromHex("0202")};
    if (isActivitiesTrep(trtp)) return activities(trtp, params);
    const auto block = find(trtp);
    if (!block) return {kDataNotAvailable, trtp, {}};
    return {0, trtp, block->data};
}

VuData::Answer VuData::activities(quint8 trtp, const QByteArray& params) const {
    const auto requested = readTime(params, 0);
    if (!requested || params.size() != 4) return {0x13, trtp, {}}; // incorrect message length
    const quint32 day = dayStart(*requested);
    // Inside the downloadable period the unit holds every day (at least the slots' state at
    // midnight); outside it there is nothing to send.
    if (oldest_ == 0 || day < dayStart(oldest_) || day > dayStart(latest_)) return {0xFA, trtp, {}};
    const QList<Block> days = activityBlocks();
    if (distinctDays_) {
        for (const Block& b : days)
            if (blockDay(b) == day) return {0, trtp, b.data};
    } else {
        // Anonymised files give every block the same day: count days from the oldest, and
        // give the block the day asked for, as a unit's own block would carry it.
        const qsizetype index = (day - dayStart(oldest_)) / kSecondsPerDay;
        if (index < days.size()) {
            QByteArray data = days[index].data;
            const qsizetype at = days[index].trep == 0x02 ? 0 : 5;
            if (data.size() >= at + 4) data.replace(at, 4, Writer().u32(day).out);
            return {0, trtp, data};
        }
    }
    return {0, trtp, emptyDay(day)};
}

QByteArray VuData::emptyDay(quint32 day) const {
    quint32 odometer = 0;
    for (const Block& b : blocks_) {
        const auto d = blockDay(b);
        if (d && *d < day && b.trep == 0x02 && b.data.size() >= 7) odometer = be(b.data, 4, 3);
    }
    return gen2_ ? gen2EmptyDay(day, odometer) : gen1EmptyDay(day, odometer);
}

// ---- generated data

QByteArray gen1Overview(const GenerateOptions& o, quint32 oldest, quint32 latest) {
    const quint32 now = quint32(o.now.toSecsSinceEpoch());
    Writer w;
    w.fill(194, '\x11').fill(194, '\x22'); // member-state and unit certificates
    w.text(o.vin, 17).u8(o.nation).u8(1).text(o.vrn, 13);
    w.u32(now).u32(oldest).u32(latest);
    w.u8(0x01); // card slots: a driver card in slot 1
    // last download to a company: time, company card, company name
    w.u32(oldest).cardNumber(o.nation, "C000000012345600").name("Vantrel Transport");
    w.u8(1).u32(oldest).u32(0xFFFFFFFF).name("Vantrel Transport").name("Depot Road 1");
    w.cardNumber(o.nation, "C000000012345600");
    w.u8(1).u8(0x02).u32(latest - 3600).cardNumber(o.nation, "K000000099999900");
    w.u32(oldest).u32(latest);
    w.signature();
    return w.out;
}

QByteArray gen1Activities(quint32 day, quint32 odometer, int seed) {
    const int start = 360 + (seed * 37) % 120; // first minute of the working day
    Writer w;
    w.u32(day).u24(odometer);
    w.u16(1); // one card insertion
    w.name("Muster").name("Max").cardNumber(0x0D, "D000000123456700").u32(day + 5 * 365 * 86400);
    w.u32(day + start * 60).u24(odometer).u8(0);
    w.u32(day + (start + 600) * 60).u24(odometer + 420);
    w.u8(0x0D).u8(1).text("VT-SIM 42", 13).u32(day - 86400 + 64800); // previous vehicle
    w.u8(0);
    w = activityChanges(w, {change(0, true, 0, 0), change(1, true, 0, 0),
                            change(0, false, 2, start), change(0, false, 3, start + 15),
                            change(0, false, 0, start + 270), change(0, false, 3, start + 315),
                            change(0, false, 2, start + 580), change(0, true, 0, start + 600)});
    w.u8(1).cardNumber(0x0D, "D000000123456700");
    w.u32(day + start * 60).u8(0).u8(0x0D).u8(0).u24(odometer);
    w.u16(0);
    w.signature();
    return w.out;
}

QByteArray gen1EmptyDay(quint32 day, quint32 odometer) {
    Writer w;
    w.u32(day).u24(odometer).u16(0);
    w = activityChanges(w, {change(0, true, 0, 0), change(1, true, 0, 0)});
    w.u8(0).u16(0).signature();
    return w.out;
}

QByteArray gen1EventsFaults(quint32 oldest, quint32 latest) {
    Writer w;
    w.u8(1).u8(0x31).u8(0).u32(oldest + 7200).u32(oldest + 7260); // one fault
    w.cardNumber(0x0D, "D000000123456700").fill(18).fill(18).fill(18);
    w.u8(2); // two events
    for (int i = 0; i < 2; ++i) {
        w.u8(0x05 + i).u8(0).u32(latest - 86400 * (i + 1)).u32(latest - 86400 * (i + 1) + 120);
        w.u8(1).cardNumber(0x0D, "D000000123456700").fill(18).fill(18).fill(18);
    }
    w.u32(oldest).u32(latest - 86400).u8(1); // over-speeding control data
    w.u8(1).u8(0x07).u8(0).u32(latest - 86400).u32(latest - 86340).u8(98).u8(95);
    w.cardNumber(0x0D, "D000000123456700").u8(1);
    w.u8(1).u32(oldest + 3600).u32(oldest + 3660).name("Workshop").name("Street 2");
    w.cardNumber(0x0D, "W000000055555500");
    w.signature();
    return w.out;
}

QByteArray gen1DetailedSpeed(quint32 start, int blocks) {
    Writer w;
    w.u16(blocks);
    for (int b = 0; b < blocks; ++b)
        w.bytes(speedMinute(start, b));
    w.signature();
    return w.out;
}

QByteArray gen1TechnicalData(quint8 maker, quint32 now) {
    Writer w;
    w.name("Vantrel Simulated VU").name("Test Bench 1");
    w.text("VTSIM-0001", 16);
    w.u32(1).u8(0x01).u8(0x24).u8(0x01).u8(maker); // serial, month/year, type, maker code
    w.text("0102", 4).u32(now - 400 * 86400);      // software version and installation
    w.u32(now - 500 * 86400).text("e1-0042", 8);
    w.u32(42424242).u32(0).text("e1-0084", 8).u32(now - 400 * 86400); // paired sensor
    w.u8(1);                                                          // one calibration
    w.u8(1).name("Workshop").name("Street 2").cardNumber(0x0D, "W000000055555500");
    w.u32(now + 700 * 86400).text("WDB9066331S123456", 17).u8(0x0D).u8(1).text("VT-SIM 42", 13);
    w.u16(8000).u16(3200).u16(2000).text("315/70R22.5", 15).u8(90);
    w.u24(0).u24(0).u32(now - 400 * 86400).u32(now - 400 * 86400).u32(now + 300 * 86400);
    w.signature();
    return w.out;
}

QByteArray gen2EmptyDay(quint32 day, quint32 odometer) {
    Writer w;
    array(w, rt::DateOfDayDownloaded, 4, {Writer().u32(day).out});
    array(w, rt::OdometerValueMidnight, 3, {Writer().u24(odometer).out});
    array(w, rt::CardIW, 132, {});
    array(w, rt::ActivityChangeInfo, 2,
          {Writer().u16(change(0, true, 0, 0)).out, Writer().u16(change(1, true, 0, 0)).out});
    array(w, rt::PlaceDaily, 41, {});
    array(w, rt::Gnss, 57, {});
    array(w, rt::SpecificCondition, 5, {});
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

namespace {

QByteArray gen2Overview(const GenerateOptions& o, quint32 oldest, quint32 latest) {
    const quint32 now = quint32(o.now.toSecsSinceEpoch());
    Writer w;
    array(w, rt::MemberStateCertificate, 204, {QByteArray(204, '\x11')});
    array(w, rt::VuCertificate, 204, {QByteArray(204, '\x22')});
    array(w, rt::Vin, 17, {Writer().text(o.vin, 17).out});
    array(w, rt::Vrn, 15, {Writer().u8(o.nation).u8(1).text(o.vrn, 13).out});
    array(w, rt::CurrentDateTime, 4, {Writer().u32(now).out});
    array(w, rt::DownloadablePeriod, 8, {Writer().u32(oldest).u32(latest).out});
    array(w, rt::CardSlotsStatus, 1, {QByteArray(1, '\x01')});
    array(
        w, rt::DownloadActivity, 59,
        {Writer().u32(oldest).cardNumber(o.nation, "C000000012345600").u8(2).name("Vantrel").out});
    array(w, rt::CompanyLocks, 99, {});
    array(w, rt::ControlActivity, 32, {});
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

QByteArray gen2Activities(quint32 day, quint32 odometer, int seed) {
    const int start = 360 + (seed * 37) % 120;
    Writer w;
    array(w, rt::DateOfDayDownloaded, 4, {Writer().u32(day).out});
    array(w, rt::OdometerValueMidnight, 3, {Writer().u24(odometer).out});
    array(w, rt::CardIW, 132,
          {Writer().name("Muster").name("Max").cardNumber(0x0D, "D000000123456700").u8(2).out});
    QList<QByteArray> changes;
    for (quint16 c : {change(0, true, 0, 0), change(1, true, 0, 0), change(0, false, 3, start),
                      change(0, false, 0, start + 270), change(0, true, 0, start + 600)})
        changes.append(Writer().u16(c).out);
    array(w, rt::ActivityChangeInfo, 2, changes);
    array(w, rt::PlaceDaily, 41, {});
    array(w, rt::Gnss, 57, {});
    array(w, rt::SpecificCondition, 5, {});
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

QByteArray gen2Events(quint32 oldest, quint32 latest) {
    Writer w;
    array(w, rt::Fault, 83, {});
    array(w, rt::Event, 84, {});
    array(w, rt::OverSpeedControl, 9, {Writer().u32(oldest).u32(latest).u8(0).out});
    array(w, rt::OverSpeedEvent, 32, {});
    array(w, rt::TimeAdjustment, 99, {});
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

QByteArray gen2Speed(quint32 start, int blocks) {
    QList<QByteArray> records;
    for (int b = 0; b < blocks; ++b)
        records.append(speedMinute(start, b));
    Writer w;
    array(w, rt::DetailedSpeed, 64, records);
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

QByteArray gen2Technical(quint8 maker, quint32 now) {
    Writer id;
    id.name("Vantrel Simulated VU").name("Test Bench 1").text("VTSIM-0002", 16);
    id.u32(2).u8(0x01).u8(0x24).u8(0x01).u8(maker).text("0201", 4).u32(now - 400 * 86400);
    id.u32(now - 500 * 86400).text("e2-00042", 16).u8(2).u8(1);
    Writer w;
    array(w, rt::Identification, id.out.size(), {id.out});
    array(w, rt::SensorPaired, 20, {Writer().u32(42424242).u32(0).text("e2-0084", 8).u32(now).out});
    array(w, rt::Calibration, 169, {});
    array(w, rt::Signature, 64, {sig2()});
    return w.out;
}

void cardFileTo(Writer& w, quint16 id, const QByteArray& data, bool signedFile) {
    w.u16(id).u8(0).u16(data.size()).bytes(data);
    if (signedFile) w.u16(id).u8(1).u16(128).signature();
}

} // namespace

QByteArray generateCardChain(quint32 now, quint8 nation) {
    Writer w;
    cardFileTo(w, 0x0002, Writer().fill(25, '\x01').out, false); // ICC
    cardFileTo(w, 0x0005, Writer().fill(8, '\x02').out, false);  // IC
    cardFileTo(w, 0x0501, Writer().u8(1).u16(0x0100).u8(12).u8(24).u16(13776).u16(84).u8(112).out,
               false);
    cardFileTo(w, 0xC100, QByteArray(194, '\x33'), false);
    cardFileTo(w, 0xC108, QByteArray(194, '\x44'), false);
    Writer ident; // card identification, then the card holder
    ident.u8(nation).text("DSIM000012345600", 16).name("KBA Flensburg");
    ident.u32(now - 900 * 86400).u32(now - 900 * 86400).u32(now + 900 * 86400);
    ident.name("Muster").name("Max").u32(0x19800101).text("de", 2);
    cardFileTo(w, 0x0520, ident.out, true);
    cardFileTo(w, 0x050E, Writer().u32(now - 28 * 86400).out, true);
    cardFileTo(w, 0x0521, Writer().name("KBA Flensburg").u8(nation).text("L0001234", 16).out, true);
    cardFileTo(w, 0x0502, QByteArray(6 * 12 * 24, '\0'), true);
    cardFileTo(w, 0x0503, QByteArray(2 * 24 * 24, '\0'), true);
    // cyclic activity buffer: oldest and newest record pointers, then the records
    cardFileTo(w, 0x0504, Writer().u16(0).u16(0).fill(13776).out, true);
    cardFileTo(w, 0x0505, QByteArray(2 + 84 * 31, '\0'), true);
    cardFileTo(w, 0x0506, QByteArray(1 + 112 * 10, '\0'), true);
    cardFileTo(w, 0x0507, Writer().u32(now).u8(0x0D).u8(1).text("VT-SIM 42", 13).out, true);
    cardFileTo(w, 0x0508, QByteArray(46, '\0'), true);
    cardFileTo(w, 0x0522, QByteArray(280, '\0'), true);
    return w.out;
}

VuData VuData::generate(const GenerateOptions& o) {
    VuData vu;
    vu.gen2_ = o.gen2 || o.version2;
    vu.version2_ = o.version2;
    vu.maker_ = o.maker;
    const quint32 now = quint32(o.now.toSecsSinceEpoch());
    const quint32 lastDay = dayStart(now);
    const quint32 firstDay = lastDay - kSecondsPerDay * quint32(qMax(1, o.days) - 1);
    vu.oldest_ = firstDay + 6 * 3600;
    vu.latest_ = now;
    const quint32 speedStart = qMax(firstDay, now - 60 * quint32(o.speedBlocks));
    auto add = [&vu](quint8 trep, const QByteArray& data) { vu.blocks_.append({trep, data}); };
    if (vu.gen2_) {
        // Version 2 keeps the record arrays; detailed speed has one TREP for both versions.
        const quint8 version = o.version2 ? 0x30 : 0x20;
        add(version + 1, gen2Overview(o, vu.oldest_, vu.latest_));
        for (quint32 day = firstDay, i = 0; day <= lastDay; day += kSecondsPerDay, ++i)
            add(version + 2, gen2Activities(day, 100000 + 420 * i, int(i)));
        add(version + 3, gen2Events(vu.oldest_, vu.latest_));
        add(0x24, gen2Speed(speedStart, o.speedBlocks));
        add(version + 5, gen2Technical(o.maker, now));
    } else {
        add(0x01, gen1Overview(o, vu.oldest_, vu.latest_));
        for (quint32 day = firstDay, i = 0; day <= lastDay; day += kSecondsPerDay, ++i)
            add(0x02, gen1Activities(day, 100000 + 420 * i, int(i)));
        add(0x03, gen1EventsFaults(vu.oldest_, vu.latest_));
        add(0x04, gen1DetailedSpeed(speedStart, o.speedBlocks));
        add(0x05, gen1TechnicalData(o.maker, now));
    }
    vu.card_ = generateCardChain(now, o.nation);
    return vu;
}

} // namespace sim
