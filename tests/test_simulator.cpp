// The simulated vehicle unit on its own, for what no download against it can show: how it
// reads requests off the line and judges their timing, its fault grammar, its refusals of
// requests a tester never sends.

#include "SimData.h"
#include "SimFaults.h"
#include "SimFrames.h"
#include "SimSession.h"

#include <QtTest>

using namespace sim;

namespace {

QByteArray hexBytes(const char* hex) {
    return QByteArray::fromHex(hex);
}

// A request as the tester sends it: the bytes before the checksum, then the checksum.
Request req(const QByteArray& withoutChecksum, int baud = 0) {
    Request r;
    r.bytes = withoutChecksum + char(checksum(withoutChecksum));
    r.baud = baud;
    return r;
}

// A three-day unit, first generation unless told, whose clock reads 2024-01-28 12:00 UTC.
VuData unitData(bool gen2 = false, bool version2 = false) {
    GenerateOptions o;
    o.days = 3;
    o.gen2 = gen2;
    o.version2 = version2;
    o.now = QDateTime::fromSecsSinceEpoch(1706400000 + 12 * 3600, Qt::UTC);
    return VuData::generate(o);
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    void requestReader_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("stallAt"); // the byte that comes 900 ms late; -1: none
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<int>("dropped");
        const QByteArray sc = hexBytes("81EEF081E0"), stop = hexBytes("80EEF00182E1");
        const QString scHex = "81 EE F0 81 E0", stopHex = "80 EE F0 01 82 E1";
        QTest::newRow("noise first") << hexBytes("00FF") + stop << -1 << QStringList{stopHex} << 2;
        QTest::newRow("two back to back") << sc + stop << -1 << QStringList{scHex, stopHex} << 0;
        // A request that stops half-way is dropped at the next byte.
        QTest::newRow("stalled half-way")
            << hexBytes("80EEF0") + stop.left(3) << 3 << QStringList{} << 3;
    }
    void requestReader() {
        QFETCH(QByteArray, stream);
        QFETCH(int, stallAt);
        QFETCH(QStringList, requests);
        RequestReader reader;
        for (int i = 0; i < stream.size(); ++i)
            reader.feed(stream[i], i == stallAt ? 900 : i * 5, 9600);
        QStringList got;
        for (const Request& r : reader.takeRequests()) {
            got << spacedHex(r.bytes);
            QVERIFY(r.checksumOk());
            QCOMPARE(r.minGapMs, 5.0);
        }
        QCOMPARE(got, requests);
        QFETCH(int, dropped);
        QCOMPARE(reader.droppedBytes(), dropped);
    }

    // kind sid trep part after times code count delay; "" for a refused spec.
    void faultGrammar_data() {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("fields");
        // clang-format off
        for (const auto& [spec, fields] : std::initializer_list<std::pair<const char*, const char*>>{
                 {"silent", "0 -1 -1 -1 0 0 -1 1 200"},
                 {"silent:on=startcomm,times=2", "0 129 -1 -1 0 2 -1 1 200"},
                 {"reject:trep=0x02,code=FF,times=3", "5 -1 2 -1 0 3 255 1 200"},
                 {"reject:on=37,code=10", "5 55 -1 -1 0 0 16 1 200"},
                 {"HANGUP:trep=4,part=5,after=1", "7 -1 4 5 1 0 -1 1 200"},
                 {"pending:count=20", "4 -1 -1 -1 0 0 -1 20 200"},
                 {"duplicate:delay=300", "8 -1 -1 -1 0 0 -1 1 300"},
                 {"delay", "9 -1 -1 -1 0 0 -1 1 0"},
                 {"late", "10 -1 -1 -1 0 0 -1 1 20"},
                 {"subnumber", "11 -1 -1 2 0 0 -1 1 200"},
                 {"latedata", "12 55 -1 -1 0 0 -1 1 200"},
                 {"explode", ""}, {"reject:trep=2", ""}, {"silent:trep", ""},
                 {"silent:colour=red", ""}, {"reject:code=ZZ", ""}, {"reject:code=100", ""},
                 {"pending:count=-1", ""}, {"silent:on=coffee", ""}})
            QTest::newRow(spec) << spec << fields;
        // clang-format on
    }
    void faultGrammar() {
        QFETCH(QString, spec);
        QFETCH(QString, fields);
        QString error;
        const auto f = Fault::parse(spec, &error);
        QCOMPARE(error.isEmpty(), !fields.isEmpty());
        if (!f) return;
        QStringList got;
        for (const int v : {int(f->kind), f->sid, f->trep, f->part, f->after, f->times, f->code,
                            f->count, f->delayMs})
            got << QString::number(v);
        QCOMPARE(got.join(' '), fields);
    }

    // A fault acts on the requests its selectors name, after letting `after` of them pass,
    // `times` times; the speed limit only on Verify Baud Rate.
    void faultSelectors() {
        Fault f = *Fault::parse("silent:on=data,trep=5,part=2,after=1,times=1", nullptr);
        QList<bool> taken;
        for (const auto& [sid, trep, part] : {std::tuple{0x36, 5, 1},
                                              {0x36, 4, 2},
                                              {0x83, 5, 2},
                                              {0x36, 5, 2},
                                              {0x36, 5, 2},
                                              {0x36, 5, 2}})
            taken << f.take(sid, trep, part);
        QCOMPARE(taken, QList<bool>({false, false, false, false, true, false}));
        Fault limit = *Fault::parse("maxbaud:code=3", nullptr);
        QCOMPARE(QList<bool>({limit.take(0x87, -1, 1), limit.take(0x36, -1, 1)}),
                 QList<bool>({true, false}));
    }

    // Requests in order (hex without checksum, ';' between them; BAD: a wrong checksum) and
    // the bytes the unit sends for the last one (hex with checksums; "" for nothing).
    void session_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("answer");
        const QString up = "81EEF081;80EEF0021081;80EEF00A350000000000FFFFFFFF;";
        // clang-format off
        const auto row = [](const char* name, const char* fault, const QString& requests,
                            const char* answer) {
            QTest::newRow(name) << fault << requests << answer;
        };
        row("diagnostic before start", "", "80EEF0021081", "80F0EE037F102212");
        row("data before upload", "", "81EEF081;80EEF0021081;80EEF0023601", "80F0EE037F362238");
        row("unknown service", "", "80EEF00131", "80F0EE037F311122");
        row("first generation refuses TREP 0x21", "", up + "80EEF0023621", "80F0EE037F361228");
        row("day after the period", "", up + "80EEF006360265B6EA80", "80F0EE037F36FA10");
        row("day cut short", "", up + "80EEF005360265B5", "80F0EE037F361329");
        row("transition not answered", "", "81EEF081;80EEF0021081;80EEF00487010104;80EEF003870203", "");
        row("silent twice, third answered", "silent:on=startcomm,times=2", "81EEF081;81EEF081;81EEF081", "80F0EE03C1EA8F9B");
        row("refused as conditions not correct", "reject:trep=5,code=22,times=1", up + "80EEF0023605", "80F0EE037F362238");
        row("exit refused", "reject:on=exit,code=10", up + "80EEF00137", "80F0EE037F371027");
        row("ack without sub-messages", "", up + "80EEF00483760002", "80F0EE037F832285");
        row("bad request checksum ignored", "", "BAD", "");
        row("stop", "", "81EEF081;80EEF00182", "80F0EE01C221");
        // clang-format on
    }
    void session() {
        QFETCH(QString, fault);
        QFETCH(QString, requests);
        QList<Fault> faults;
        if (!fault.isEmpty()) faults << *Fault::parse(fault, nullptr);
        VuSession s(unitData(), faults);
        QList<Output> last;
        for (const QString& r : requests.split(';')) {
            last = s.handle(r == "BAD" ? Request{hexBytes("81EEF081E1")}
                                       : req(hexBytes(r.toLatin1())));
            if (r == "BAD") QVERIFY(s.takeNotes().join(' ').contains("checksum"));
        }
        QFETCH(QString, answer);
        QByteArray sent;
        for (const Output& o : last)
            sent += o.bytes;
        QCOMPARE(sent.toHex().toUpper(), answer.toLatin1());
    }

    // Generated data of each kind of unit cuts back into the blocks it was made of, as the
    // unit does with a file it is given: technical data, overview, each day, events, speed.
    void generatedDataSplitsBack() {
        for (const auto& [gen2, version2] :
             {std::pair{false, false}, {true, false}, {false, true}}) {
            const QList<Block> blocks = unitData(gen2, version2).blocks();
            QByteArray file;
            for (const Block& b : blocks)
                file += char(0x76) + QByteArray(1, char(b.trep)) + b.data;
            QString error;
            const QList<Block> again = splitVuFile(file, &error);
            QCOMPARE(again.size(), 3 + 4);
            for (int i = 0; i < again.size(); ++i)
                QVERIFY(again[i].trep == blocks[i].trep && again[i].data == blocks[i].data);
        }
    }

    // A file whose days all carry one date (as anonymised samples do) is served by position,
    // each block with the day asked for, as a unit's own block carries it; the rest of the
    // block is the file's.
    void sameDayBlocksCarryTheDayAsked() {
        QByteArray file;
        QByteArray firstDay;
        const VuData generated = unitData(false, true);
        for (const Block& b : generated.blocks()) {
            QByteArray data = b.data;
            if (b.trep == 0x32 && firstDay.isEmpty()) firstDay = data.mid(5, 4);
            if (b.trep == 0x32) data.replace(5, 4, firstDay);
            file += char(0x76) + QByteArray(1, char(b.trep)) + data;
        }
        QString error;
        const VuData unit = VuData::fromFile(file, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const quint32 oldest = unit.oldestTime() - unit.oldestTime() % 86400;
        for (quint32 day = oldest; day < oldest + 3 * 86400; day += 86400) {
            const QByteArray asked = hexBytes(QByteArray::number(day, 16).rightJustified(8, '0'));
            const VuData::Answer a = unit.answer(0x32, asked);
            QCOMPARE(a.data.mid(5, 4).toHex(), asked.toHex());
            QVERIFY(a.data.size() > 9 && file.contains(a.data.mid(9)));
        }
    }

    // The unit's own judgement of the tester's line speed and pauses: what the end-to-end
    // tests require to stay silent must speak up on a wrong speed or a short pause.
    void wrongSpeedAndShortPauseAreReported() {
        VuSession s(unitData(), {});
        for (const char* r : {"81EEF081", "80EEF0021081", "80EEF00487010104"})
            s.handle(req(hexBytes(r), 9600));
        QVERIFY(s.takeNotes().isEmpty());
        QVERIFY(s.handle(req(hexBytes("80EEF003870203"), 9600)).isEmpty());
        QCOMPARE(s.expectedBaud(), 57600);
        s.takeNotes();
        s.handle(req(hexBytes("80EEF00A350000000000FFFFFFFF"), 9600));
        QVERIFY(s.takeNotes().join(' ').contains("9600 baud, unit listens at 57600"));
        Request fast = req(hexBytes("80EEF00182"), 57600);
        fast.minGapMs = 0.1;
        fast.maxGapMs = 0.1;
        s.handle(fast);
        QVERIFY(s.takeNotes().join(' ').contains("below 5 ms"));
        QCOMPARE(s.expectedBaud(), 9600); // after Stop Communication
    }

    // A request that begins less than 10 ms after the unit's answer ended is reported; one
    // after output the tester did not wait for (a duplicate, an answer held past a request)
    // or one already under way when the answer ended is not.
    void shortPauseAfterAnswerIsReported_data() {
        // "answer", "duplicate", "held", several joined by "+", or "" (none)
        QTest::addColumn<QString>("output");
        QTest::addColumn<double>("gapMs"); // from the output's end to the request's start
        QTest::addColumn<bool>("reported");
        QTest::newRow("9.9 ms") << "answer" << 9.9 << true;
        QTest::newRow("at once") << "answer" << 0.0 << true;
        QTest::newRow("10 ms") << "answer" << 10.0 << false;
        QTest::newRow("request under way") << "answer" << -3.0 << false;
        QTest::newRow("after a duplicate") << "duplicate" << 2.0 << false;
        QTest::newRow("after a held answer") << "held" << 2.0 << false;
        QTest::newRow("no answer before") << "" << 2.0 << false;
        QTest::newRow("answer of the copy a held one came in") << "held+answer" << 2.0 << false;
        QTest::newRow("the answer after those") << "held+answer+answer" << 2.0 << true;
    }
    void shortPauseAfterAnswerIsReported() {
        QFETCH(QString, output);
        QFETCH(double, gapMs);
        VuSession s(unitData(), {});
        for (const QString& kind : output.split('+', Qt::SkipEmptyParts)) {
            Output o;
            o.unasked = kind == "duplicate";
            o.untilNextRequest = kind == "held";
            s.outputSent(o, 1000);
        }
        Request r = req(hexBytes("81EEF081"), 9600);
        r.firstByteMs = 1000 + gapMs;
        s.handle(r);
        QFETCH(bool, reported);
        QCOMPARE(s.takeNotes().join(' ').contains("after the answer, below 10 ms"), reported);
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
