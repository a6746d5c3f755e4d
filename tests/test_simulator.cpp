// The simulated vehicle unit on its own: how it cuts files and answers into blocks and
// messages, where its generated data puts each field, and what each fault does.

#include "SimData.h"
#include "SimFaults.h"
#include "SimFrames.h"
#include "SimSession.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace sim;

namespace {

QByteArray H(const char* hex) {
    return QByteArray::fromHex(hex);
}

// A request as the tester sends it: the bytes before the checksum, then the checksum.
Request Req(const QByteArray& withoutChecksum, int baud = 0) {
    Request r;
    r.bytes = withoutChecksum + char(Checksum(withoutChecksum));
    r.baud = baud;
    return r;
}

QByteArray DataRequest(quint8 trep, const QByteArray& params = {}) {
    QByteArray b = H("80EEF000 36");
    b[3] = char(2 + params.size());
    return b + char(trep) + params;
}

QByteArray Ack(int number) {
    return H("80EEF004 8376") + char(number >> 8) + char(number & 0xFF);
}

QByteArray Time(quint32 t) {
    QByteArray b(4, '\0');
    qToBigEndian(t, b.data());
    return b;
}

// Reads a big-endian number of `width` bytes at 1-based `pos`, as a tester counts.
quint32 At(const QByteArray& b, int pos, int width) {
    quint32 v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | quint8(b.at(pos - 1 + i));
    return v;
}

QByteArray AsFile(const QList<Block>& blocks) {
    QByteArray out;
    for (const Block& b : blocks)
        out += char(0x76) + QByteArray(1, char(b.trep)) + b.data;
    return out;
}

QString TrepList(const QList<Block>& blocks) {
    QStringList out;
    for (const Block& b : blocks)
        out << QString::number(b.trep, 16).rightJustified(2, '0');
    return out.join(' ');
}

const quint32 k2024_01_28 = 1706400000; // 2024-01-28 00:00 UTC

// unit: 0 first generation, 1 second generation, 2 second generation version 2.
GenerateOptions Options(int days, quint8 maker, int unit = 0) {
    GenerateOptions o;
    o.days = days;
    o.maker = maker;
    o.gen2 = unit == 1;
    o.version2 = unit == 2;
    o.now = QDateTime::fromSecsSinceEpoch(k2024_01_28 + 12 * 3600, Qt::UTC);
    return o;
}

// Brings a session to the point where Transfer Data is allowed.
VuSession Uploading(const VuData& data, QList<Fault> faults = {}) {
    VuSession s(data, faults);
    s.handle(Req(H("81EEF081")));
    s.handle(Req(H("80EEF0021081")));
    s.handle(Req(H("80EEF00A350000000000FFFFFFFF")));
    s.takeNotes();
    return s;
}

QByteArray Sent(const QList<Output>& outputs) {
    QByteArray all;
    for (const Output& o : outputs)
        all += o.bytes;
    return all;
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void samplesSplit_data();
    void samplesSplit();
    void cardSampleChain();
    void generatedSplitsBack_data();
    void generatedSplitsBack();
    void generatedPositions_data();
    void generatedPositions();
    void gen2OverviewWalk();
    void cardChainIdentification();
    void subMessages_data();
    void subMessages();
    void requestReader_data();
    void requestReader();
    void bytesSeenLate();
    void faultGrammar_data();
    void faultGrammar();
    void badFaults_data();
    void badFaults();
    void session_data();
    void session();
    void activitiesDays_data();
    void activitiesDays();
    void pendingTimes();
    void speedAndLine();
    void servedBlocks();
};

void TestSimulator::samplesSplit_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("treps");
    QTest::addColumn<int>("maker");
    QTest::addColumn<int>("nation");
    const QString gen1 = "01 02 02 02 02 02 02 03 04 05";
    QTest::newRow("gen1 000") << "vu_gen1_000-anonymized.DDD" << gen1 << 0xA1 << 0x00;
    QTest::newRow("gen1 001") << "vu_gen1_001-anonymized.DDD" << gen1 << 0xA1 << 0x12;
    QTest::newRow("gen1 002") << "vu_gen1_002-anonymized.DDD" << gen1 << 0xA1 << 0x12;
    QStringList many{"31"};
    for (int i = 0; i < 96; ++i)
        many << "32";
    many << "33"
         << "24"
         << "35";
    QTest::newRow("gen2v2 003") << "vu_gen2v2_003-anonymized.DDD" << many.join(' ') << -1 << -1;
    QTest::newRow("gen2v2 004") << "vu_gen2v2_004-anonymized.DDD"
                                << "31 32 32 32 33 24 35" << -1 << -1;
}

void TestSimulator::samplesSplit() {
    QFETCH(QString, file);
    QFile f(QDir(VANTREL_SAMPLES_DIR).filePath(file));
    if (!f.open(QIODevice::ReadOnly)) QSKIP("sample files (../shared/samples) are not here");
    const QByteArray bytes = f.readAll();
    QString error;
    const QList<Block> blocks = SplitVuFile(bytes, &error);
    QVERIFY2(!blocks.isEmpty(), qPrintable(error));
    QFETCH(QString, treps);
    QCOMPARE(TrepList(blocks), treps);
    QCOMPARE(AsFile(blocks), bytes); // nothing lost, nothing added
    const VuData vu = VuData::FromFile(bytes, &error);
    QVERIFY(vu.oldestTime() > 0 && vu.oldestTime() <= vu.latestTime());
    QFETCH(int, maker);
    if (maker >= 0) {
        QCOMPARE(int(vu.maker()), maker);
        QFETCH(int, nation);
        QCOMPARE(int(quint8(AsFile({blocks.first()}).at(407))), nation);
    }
    // Every activities block is found again by its own day; where anonymisation gave them
    // all one day, by its place counted from the oldest day.
    QList<Block> days = blocks;
    days.removeIf([](const Block& b) { return !IsActivitiesTrep(b.trep); });
    QSet<quint32> distinct;
    for (const Block& b : days)
        distinct.insert(*BlockDay(b));
    for (int i = 0; i < days.size(); ++i) {
        const quint32 oldestDay = vu.oldestTime() - vu.oldestTime() % kSecondsPerDay;
        const quint32 day =
            distinct.size() == days.size() ? *BlockDay(days[i]) : oldestDay + i * kSecondsPerDay;
        const auto a = vu.answer(days[i].trep, Time(day + 3600));
        QCOMPARE(a.negativeCode, quint8(0));
        QCOMPARE(a.data, days[i].data);
    }
}

void TestSimulator::cardSampleChain() {
    QFile f(QDir(VANTREL_SAMPLES_DIR).filePath("card_gen2_004-anonymized.DDD"));
    if (!f.open(QIODevice::ReadOnly)) QSKIP("sample files (../shared/samples) are not here");
    QString error;
    const QList<CardFile> files = SplitCardChain(f.readAll(), &error);
    QVERIFY2(!files.isEmpty(), qPrintable(error));
    int identifications = 0;
    for (const CardFile& c : files)
        identifications += c.id == 0x0520 && c.data.size() == 143;
    QCOMPARE(identifications, 2); // first- and second-generation application
}

void TestSimulator::generatedSplitsBack_data() {
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("speedBlocks");
    QTest::addColumn<QString>("treps");
    QTest::newRow("gen1 one day") << 1 << 0 << 0 << "01 02 03 04 05";
    QTest::newRow("gen1 28 days") << 28 << 0 << 75 << "";
    QTest::newRow("gen1 60 days, long speed") << 60 << 0 << 3000 << "";
    QTest::newRow("gen2 28 days") << 28 << 1 << 75 << "";
    QTest::newRow("gen2v2 2 days") << 2 << 2 << 75 << "31 32 32 33 24 35";
}

void TestSimulator::generatedSplitsBack() {
    QFETCH(int, days);
    QFETCH(int, unit);
    GenerateOptions o = Options(days, 0xA1, unit);
    QFETCH(int, speedBlocks);
    o.speedBlocks = speedBlocks;
    const VuData vu = VuData::Generate(o);
    QString error;
    const QList<Block> again = SplitVuFile(AsFile(vu.blocks()), &error);
    QVERIFY2(!again.isEmpty(), qPrintable(error));
    QCOMPARE(again.size(), days + 4);
    QFETCH(QString, treps);
    if (!treps.isEmpty()) QCOMPARE(TrepList(again), treps);
    if (unit == 2) { // a version 2 unit answers a version 1 request from the same data
        const VuData::Answer overview = vu.answer(0x21, {});
        QCOMPARE(overview.trep, quint8(0x21));
        QCOMPARE(overview.data, vu.blocks().first().data);
    }
    for (int i = 0; i < again.size(); ++i) {
        QCOMPARE(again[i].trep, vu.blocks()[i].trep);
        QCOMPARE(again[i].data, vu.blocks()[i].data);
    }
}

void TestSimulator::generatedPositions_data() {
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("maker");
    QTest::newRow("28 days VDO") << 28 << 0xA1;
    QTest::newRow("7 days Stoneridge") << 7 << 0xA2;
    QTest::newRow("1 day Actia") << 1 << 0x10;
}

void TestSimulator::generatedPositions() {
    QFETCH(int, days);
    QFETCH(int, maker);
    const VuData vu = VuData::Generate(Options(days, quint8(maker)));
    const QByteArray overview = AsFile({vu.blocks().first()});
    const QByteArray technical = AsFile({vu.blocks().last()});
    QCOMPARE(int(quint8(technical.at(97))), maker); // position 98 from the 0x76
    QCOMPARE(overview.mid(390, 17), QByteArray("WDB9066331S123456"));
    QCOMPARE(int(quint8(overview.at(407))), 0x0D);
    QCOMPARE(overview.mid(409, 13), QByteArray("VT-SIM 42    "));
    QCOMPARE(At(overview, 423, 4), k2024_01_28 + 12 * 3600);
    const quint32 oldest = At(overview, 427, 4), latest = At(overview, 431, 4);
    QCOMPARE(oldest - oldest % kSecondsPerDay, k2024_01_28 - quint32(days - 1) * kSecondsPerDay);
    QCOMPARE(latest - latest % kSecondsPerDay, k2024_01_28);
    int activityDays = 0;
    for (const Block& b : vu.blocks())
        activityDays += b.trep == 2;
    QCOMPARE(activityDays, days);
    // Detailed speed, 75 minutes by default: 20 sub-messages.
    QCOMPARE(TransferDataMessages(4, vu.blocks()[days + 2].data).size(), 20);
}

// The second-generation overview is walked by array headers: VIN in the third array, the
// registration (after nation and code page) in the fourth, the period in the sixth.
void TestSimulator::gen2OverviewWalk() {
    const VuData vu = VuData::Generate(Options(28, 0xA1, 1));
    const QByteArray o = AsFile({vu.blocks().first()});
    QCOMPARE(vu.blocks().first().trep, quint8(0x21));
    int p = int(At(o, 4, 2) * At(o, 6, 2)) + 9;
    p = int(At(o, p, 2) * At(o, p + 2, 2)) + p + 5;
    QCOMPARE(o.mid(p + 4 - 1, 17), QByteArray("WDB9066331S123456"));
    p = int(At(o, p, 2) * At(o, p + 2, 2)) + p + 5;
    QCOMPARE(At(o, p, 2), 15u);
    QCOMPARE(o.mid(p + 4 - 1, 2), QByteArray("\x0D\x01")); // nation, code page
    QCOMPARE(o.mid(p + 6 - 1, 13), QByteArray("VT-SIM 42    "));
    p = int(At(o, p, 2) * At(o, p + 2, 2)) + p + 5;
    QCOMPARE(At(o, p + 4, 4), k2024_01_28 + 12 * 3600);
    p = int(At(o, p, 2) * At(o, p + 2, 2)) + p + 5;
    QCOMPARE(At(o, p + 4, 4), vu.oldestTime());
    QCOMPARE(At(o, p + 8, 4), vu.latestTime());
}

void TestSimulator::cardChainIdentification() {
    const QByteArray chain = GenerateCardChain(k2024_01_28, 0x0D);
    QString error;
    QVERIFY(!SplitCardChain(chain, &error).isEmpty());
    // The header-by-header scan a tester uses to name the card file.
    int found = 0;
    for (int i = 1; i + 4 <= chain.size(); i += 5 + int(At(chain, i + 3, 2))) {
        if (chain.mid(i - 1, 3) != H("052000")) continue;
        ++found;
        QCOMPARE(int(quint8(chain.at(i + 5 - 1))), 0x0D);
        QCOMPARE(chain.mid(i + 6 - 1, 16), QByteArray("DSIM000012345600"));
        QCOMPARE(chain.mid(i + 71 - 1, 16), QByteArray("Muster          "));
        QCOMPARE(chain.at(i + 107 - 1), 'M');
    }
    QCOMPARE(found, 1);
}

void TestSimulator::subMessages_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("lengthBytes");
    QTest::newRow("empty") << 0 << QList<int>{2};
    QTest::newRow("one message, longest") << 252 << QList<int>{254};
    QTest::newRow("253 bytes need two") << 253 << QList<int>{255, 6};
    QTest::newRow("exactly two full: empty end") << 502 << QList<int>{255, 255, 4};
    QTest::newRow("20 parts") << 4930 << (QList<int>(19, 255) << 4 + 4930 - 19 * 251);
}

void TestSimulator::subMessages() {
    QFETCH(int, length);
    QFETCH(QList<int>, lengthBytes);
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char(i * 7 + 3);
    const QList<QByteArray> parts = TransferDataMessages(0x04, data);
    QCOMPARE(parts.size(), lengthBytes.size());
    QByteArray joined;
    for (int i = 0; i < parts.size(); ++i) {
        const QByteArray& m = parts[i];
        QCOMPARE(m.left(3), H("80F0EE"));
        QCOMPARE(int(quint8(m[3])), lengthBytes[i]);
        QCOMPARE(m.size(), lengthBytes[i] + 5);
        QCOMPARE(quint8(m.back()), Checksum(m.chopped(1)));
        QCOMPARE(m.mid(4, 2), H("7604"));
        if (parts.size() == 1) {
            joined += m.mid(6, m.size() - 7);
        } else {
            QCOMPARE(int(At(m, 7, 2)), i + 1); // every part carries its number
            joined += m.mid(8, m.size() - 9);
        }
    }
    QCOMPARE(joined, data);
}

void TestSimulator::requestReader_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("dropped");
    const QByteArray sc = H("81EEF081E0"), stop = H("80EEF00182E1");
    auto every = [](int n, double step) {
        QList<double> t;
        for (int i = 0; i < n; ++i)
            t << i * step;
        return t;
    };
    QTest::newRow("start communication") << sc << every(5, 5) << QStringList{"81 EE F0 81 E0"} << 0;
    QTest::newRow("noise first") << H("00FF") + stop << every(8, 5)
                                 << QStringList{"80 EE F0 01 82 E1"} << 2;
    QTest::newRow("two back to back")
        << sc + stop << every(11, 5) << QStringList{"81 EE F0 81 E0", "80 EE F0 01 82 E1"} << 0;
    QList<double> stalled = every(6, 5);
    stalled[3] = 900; // a request that stops half-way is dropped at the next byte
    QTest::newRow("stalled half-way")
        << H("80EEF0") + stop.left(3) << stalled << QStringList{} << 3;
}

void TestSimulator::requestReader() {
    QFETCH(QByteArray, stream);
    QFETCH(QList<double>, times);
    QFETCH(QStringList, requests);
    RequestReader reader;
    for (int i = 0; i < stream.size(); ++i)
        reader.feed(stream[i], times[i], 9600);
    QStringList got;
    for (const Request& r : reader.takeRequests()) {
        got << Hex(r.bytes);
        QVERIFY(r.checksumOk());
        QCOMPARE(r.minGapMs, 5.0);
    }
    QCOMPARE(got, requests);
    QFETCH(int, dropped);
    QCOMPARE(reader.droppedBytes(), dropped);
}

// Bytes that waited unseen while the line opened give no pause reading on either side.
void TestSimulator::bytesSeenLate() {
    RequestReader reader;
    const QByteArray stop = H("80EEF00182E1");
    const QList<double> times{10, 10, 11.35, 16.4, 21.5, 26.6};
    for (int i = 0; i < stop.size(); ++i)
        reader.feed(stop[i], times[i], 9600, i > 1);
    const QList<Request> got = reader.takeRequests();
    QCOMPARE(got.size(), 1);
    QVERIFY(qAbs(got.first().minGapMs - 5.05) < 0.01);
    QVERIFY(qAbs(got.first().maxGapMs - 5.1) < 0.01);
}

void TestSimulator::faultGrammar_data() {
    QTest::addColumn<QString>("spec");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QList<int>>("fields"); // sid trep part after times code count
    using K = Fault::Kind;
    QTest::newRow("silent") << "silent" << int(K::Silent) << QList<int>{-1, -1, -1, 0, 0, -1, 1};
    QTest::newRow("silent start") << "silent:on=startcomm,times=2" << int(K::Silent)
                                  << QList<int>{0x81, -1, -1, 0, 2, -1, 1};
    QTest::newRow("reject hex") << "reject:trep=0x02,code=22,times=3" << int(K::Reject)
                                << QList<int>{-1, 2, -1, 0, 3, 0x22, 1};
    QTest::newRow("reject sid") << "reject:on=37,code=10" << int(K::Reject)
                                << QList<int>{0x37, -1, -1, 0, 0, 0x10, 1};
    QTest::newRow("pending") << "pending:trep=6,count=20,every=1000" << int(K::Pending)
                             << QList<int>{-1, 6, -1, 0, 0, -1, 20};
    QTest::newRow("maxbaud") << "maxbaud:code=3" << int(K::MaxBaud)
                             << QList<int>{-1, -1, -1, 0, 0, 3, 1};
    QTest::newRow("hangup later") << "HANGUP:trep=4,part=5,after=1" << int(K::HangUp)
                                  << QList<int>{-1, 4, 5, 1, 0, -1, 1};
    QTest::newRow("subnumber default part")
        << "subnumber" << int(K::SubNumber) << QList<int>{-1, -1, 2, 0, 0, -1, 1};
    QTest::newRow("latedata on exit")
        << "latedata" << int(K::LateData) << QList<int>{0x37, -1, -1, 0, 0, -1, 1};
}

void TestSimulator::faultGrammar() {
    QFETCH(QString, spec);
    QFETCH(QList<int>, fields);
    QString error;
    const auto f = Fault::Parse(spec, &error);
    QVERIFY2(f, qPrintable(error));
    QFETCH(int, kind);
    QCOMPARE(int(f->kind), kind);
    QCOMPARE((QList<int>{f->sid, f->trep, f->part, f->after, f->times, f->code, f->count}), fields);
}

void TestSimulator::badFaults_data() {
    QTest::addColumn<QString>("spec");
    QTest::newRow("unknown kind") << "explode";
    QTest::newRow("reject without code") << "reject:trep=2";
    QTest::newRow("not name=value") << "silent:trep";
    QTest::newRow("unknown parameter") << "silent:colour=red";
    QTest::newRow("bad hex") << "reject:code=ZZ";
    QTest::newRow("code too big") << "reject:code=1FF";
    QTest::newRow("negative count") << "pending:count=-1";
    QTest::newRow("bad service") << "silent:on=coffee";
}

void TestSimulator::badFaults() {
    QFETCH(QString, spec);
    QString error;
    QVERIFY(!Fault::Parse(spec, &error));
    QVERIFY(!error.isEmpty());
}

// Requests in order (hex without checksum, ';' between them) and the bytes the unit sends
// for the last one (hex with checksums; "" for nothing).
void TestSimulator::session_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("requests");
    QTest::addColumn<QString>("answer");
    const QString up = "81EEF081;80EEF0021081;80EEF00A350000000000FFFFFFFF;";
    QTest::newRow("start communication") << QStringList{} << 0 << "81EEF081"
                                         << "80F0EE03C1EA8F9B";
    QTest::newRow("diagnostic before start") << QStringList{} << 0 << "80EEF0021081"
                                             << "80F0EE037F102212";
    QTest::newRow("upload") << QStringList{} << 0 << up.chopped(1) << "80F0EE037500FFD5";
    QTest::newRow("data before upload")
        << QStringList{} << 0 << "81EEF081;80EEF0021081;80EEF0023601"
        << "80F0EE037F362238";
    QTest::newRow("unknown service") << QStringList{} << 0 << "80EEF00131"
                                     << "80F0EE037F311122";
    QTest::newRow("gen2 refuses TREP 1") << QStringList{} << 1 << up + "80EEF0023601"
                                         << "80F0EE037F361228";
    QTest::newRow("gen2 refuses TREP 0x31") << QStringList{} << 1 << up + "80EEF0023631"
                                            << "80F0EE037F361228";
    QTest::newRow("gen2v2 interface version") << QStringList{} << 2 << up + "80EEF0023600"
                                              << "80F0EE0476000202DC";
    QTest::newRow("gen2 refuses interface version") << QStringList{} << 1 << up + "80EEF0023600"
                                                    << "80F0EE037F361228";
    QTest::newRow("gen1 refuses interface version") << QStringList{} << 0 << up + "80EEF0023600"
                                                    << "80F0EE037F361228";
    QTest::newRow("gen1 refuses TREP 0x21") << QStringList{} << 0 << up + "80EEF0023621"
                                            << "80F0EE037F361228";
    QTest::newRow("baud above limit")
        << QStringList{"maxbaud:code=3"} << 0 << "81EEF081;80EEF0021081;80EEF00487010104"
        << "80F0EE037F871279";
    QTest::newRow("baud at limit") << QStringList{"maxbaud:code=3"} << 0
                                   << "81EEF081;80EEF0021081;80EEF00487010104;80EEF00487010103"
                                   << "80F0EE02C70128";
    QTest::newRow("baud refused out of range")
        << QStringList{"maxbaud:code=2,reply=31"} << 0 << "81EEF081;80EEF0021081;80EEF00487010105"
        << "80F0EE037F873198";
    QTest::newRow("transition not answered")
        << QStringList{} << 0 << "81EEF081;80EEF0021081;80EEF00487010104;80EEF003870203"
        << "";
    QTest::newRow("silent twice, third answered")
        << QStringList{"silent:on=startcomm,times=2"} << 0 << "81EEF081;81EEF081;81EEF081"
        << "80F0EE03C1EA8F9B";
    QTest::newRow("silent") << QStringList{"silent:on=startcomm"} << 0 << "81EEF081"
                            << "";
    QTest::newRow("wrong checksum")
        << QStringList{"checksum:on=upload"} << 0 << up.chopped(1) << "80F0EE037500FFD6";
    QTest::newRow("noise before") << QStringList{"noise:bytes=0055"} << 0 << "81EEF081"
                                  << "005580F0EE03C1EA8F9B";
    QTest::newRow("reject conditions, first time")
        << QStringList{"reject:trep=5,code=22,times=1"} << 0 << up + "80EEF0023605"
        << "80F0EE037F362238";
    QTest::newRow("exit refused") << QStringList{"reject:on=exit,code=10"} << 0 << up + "80EEF00137"
                                  << "80F0EE037F371027";
    QTest::newRow("ack without sub-messages") << QStringList{} << 0 << up + "80EEF00483760002"
                                              << "80F0EE037F832285";
    QTest::newRow("bad request checksum ignored") << QStringList{} << 0 << "BAD"
                                                  << "";
    QTest::newRow("stop") << QStringList{} << 0 << "81EEF081;80EEF00182"
                          << "80F0EE01C221";
}

void TestSimulator::session() {
    QFETCH(QStringList, faults);
    QFETCH(int, unit);
    QFETCH(QString, requests);
    QList<Fault> list;
    QString error;
    for (const QString& spec : faults)
        list.append(*Fault::Parse(spec, &error));
    VuSession s(VuData::Generate(Options(3, 0xA1, unit)), list);
    QList<Output> last;
    for (const QString& r : requests.split(';')) {
        if (r == "BAD") {
            last = s.handle(Request{H("81EEF081E1")});
            QVERIFY(s.takeNotes().join(' ').contains("checksum"));
            continue;
        }
        last = s.handle(Req(QByteArray::fromHex(r.toLatin1())));
    }
    QFETCH(QString, answer);
    QCOMPARE(Sent(last).toHex().toUpper(), answer.toUpper().toLatin1());
}

void TestSimulator::activitiesDays_data() {
    QTest::addColumn<int>("dayOffset"); // days from the last day
    QTest::addColumn<int>("code");      // 0: data
    QTest::addColumn<bool>("generated");
    QTest::newRow("last day") << 0 << 0 << true;
    QTest::newRow("first day") << -6 << 0 << true;
    QTest::newRow("day after the period") << 1 << 0xFA << false;
    QTest::newRow("day before the period") << -7 << 0xFA << false;
}

void TestSimulator::activitiesDays() {
    QFETCH(int, dayOffset);
    QFETCH(int, code);
    GenerateOptions o = Options(7, 0xA1);
    VuData vu = VuData::Generate(o);
    const quint32 day = k2024_01_28 + quint32(dayOffset * int(kSecondsPerDay));
    const auto a = vu.answer(0x02, Time(day + 600));
    QCOMPARE(int(a.negativeCode), code);
    if (code == 0) QCOMPARE(At(a.data, 1, 4), day);
    // A unit keeps every day of its period: a day it holds nothing for is still answered.
    QList<Block> blocks = vu.blocks();
    blocks.removeIf([](const Block& b) { return b.trep == 2; });
    QString error;
    const VuData sparse = VuData::FromFile(AsFile(blocks), &error);
    const auto empty = sparse.answer(0x02, Time(day));
    QCOMPARE(int(empty.negativeCode), code);
    if (code == 0) {
        QCOMPARE(At(empty.data, 1, 4), day);
        QCOMPARE(Gen1ValueLength(2, empty.data, 0), empty.data.size());
    }
    QCOMPARE(int(vu.answer(0x02, Time(day).left(3)).negativeCode), 0x13);
}

void TestSimulator::pendingTimes() {
    QList<Fault> faults{*Fault::Parse("pending:trep=6,count=3,every=1000", nullptr)};
    VuSession s = Uploading(VuData::Generate(Options(3, 0x10)), faults);
    const QList<Output> out = s.handle(Req(DataRequest(6)));
    QCOMPARE(out.size(), 4);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(out[i].atMs, 1000.0 * i);
        QCOMPARE(out[i].bytes.toHex(), QByteArray("80f0ee037f36788e"));
    }
    QCOMPARE(out[3].atMs, 3000.0);
    QCOMPARE(out[3].bytes.mid(4, 4), H("76060001")); // the card, in sub-messages
    // The next request is answered at once again.
    QCOMPARE(s.handle(Req(Ack(2))).first().atMs, 0.0);
}

void TestSimulator::speedAndLine() {
    VuSession s(VuData::Generate(Options(3, 0xA1)), {});
    s.handle(Req(H("81EEF081"), 9600));
    s.handle(Req(H("80EEF0021081"), 9600));
    s.handle(Req(H("80EEF00487010104"), 9600));
    QVERIFY(s.takeNotes().isEmpty());
    QVERIFY(s.handle(Req(H("80EEF003870203"), 9600)).isEmpty());
    QCOMPARE(s.expectedBaud(), 57600);
    s.takeNotes();
    s.handle(Req(H("80EEF00A350000000000FFFFFFFF"), 9600));
    QVERIFY(s.takeNotes().join(' ').contains("9600 baud, unit listens at 57600"));
    Request fast = Req(H("80EEF00182"), 57600);
    fast.minGapMs = 0.1;
    fast.maxGapMs = 0.1;
    s.handle(fast);
    QVERIFY(s.takeNotes().join(' ').contains("below 5 ms"));
    QCOMPARE(s.expectedBaud(), 9600); // after Stop Communication
}

// Faults on sub-messages, and what a tester would store from the answers.
void TestSimulator::servedBlocks() {
    const VuData vu = VuData::Generate(Options(3, 0xA1));
    const QList<Fault> faults{*Fault::Parse("subnumber:trep=4,part=3", nullptr),
                              *Fault::Parse("split:trep=4,part=2,pieces=4,pause=10", nullptr),
                              *Fault::Parse("hangup:trep=4,part=20", nullptr)};
    VuSession s = Uploading(vu, faults);
    QByteArray stored;
    QList<Output> out = s.handle(Req(DataRequest(5)));
    QCOMPARE(out.size(), 1);
    out = s.handle(Req(Ack(2)));
    QVERIFY(s.handle(Req(Ack(3))).isEmpty()); // acknowledging the last part: no answer
    const QList<QByteArray> served = s.takeServed();
    QCOMPARE(served.size(), 1);
    QCOMPARE(served.first(), AsFile({vu.blocks().last()}));

    out = s.handle(Req(DataRequest(4)));
    out = s.handle(Req(Ack(2)));
    QCOMPARE(out.size(), 4);
    QCOMPARE(out[3].atMs, 30.0);
    QCOMPARE(int(At(Sent(out), 7, 2)), 2);
    out = s.handle(Req(Ack(3)));
    QCOMPARE(int(At(Sent(out), 7, 2)), 2); // wrong number, right checksum
    QCOMPARE(quint8(Sent(out).back()), Checksum(Sent(out).chopped(1)));
    out = s.handle(Req(Ack(3)));
    QCOMPARE(int(At(Sent(out), 7, 2)), 2); // every time the part is sent
    out = s.handle(Req(Ack(20)));
    QCOMPARE(out.size(), 1);
    QVERIFY(out.first().hangUp);
    QVERIFY(s.takeServed().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
