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

// A request as the tester sends it: the bytes before the checksum (hex), then the checksum;
// its first byte at `atMs`, the pauses between its bytes `gapMs` (-1: one piece).
Request req(const QByteArray& hexWithoutChecksum, int baud = 0, double atMs = 0,
            double gapMs = -1) {
    const QByteArray bytes = QByteArray::fromHex(hexWithoutChecksum);
    return Request{bytes + char(checksum(bytes)), atMs, gapMs, gapMs, baud};
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

// The blocks chained as a file holds them: 0x76, the TREP, the value.
QByteArray fileOf(const QList<Block>& blocks) {
    QByteArray file;
    for (const Block& b : blocks)
        file += char(0x76) + QByteArray(1, char(b.trep)) + b.data;
    return file;
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT

private slots:
    // Noise before a request and a request that stops half-way (a byte 900 ms late: stallAt)
    // are dropped, the latter at the next byte; two back to back are both read.
    void requestReader() {
        const QByteArray stop = QByteArray::fromHex("80EEF00182E1");
        const std::tuple<QByteArray, int, const char*> rows[] = {
            {QByteArray::fromHex("00FF") + stop, -1, "80 EE F0 01 82 E1|2"},
            {QByteArray::fromHex("81EEF081E0") + stop, -1, "81 EE F0 81 E0,80 EE F0 01 82 E1|0"},
            {QByteArray::fromHex("80EEF0") + stop.left(3), 3, "|3"}};
        for (const auto& [stream, stallAt, read] : rows) {
            RequestReader reader;
            for (int i = 0; i < stream.size(); ++i)
                reader.feed(stream[i], i == stallAt ? 900 : i * 5, 9600);
            QStringList got;
            for (const Request& r : reader.takeRequests()) {
                got << spacedHex(r.bytes);
                QVERIFY(r.checksumOk() && r.minGapMs == 5.0);
            }
            QCOMPARE(got.join(',') + '|' + QString::number(reader.droppedBytes()), read);
        }
    }

    // Each spec with its fields (kind sid trep part after times code count delay), or ""
    // where it is refused.
    void faultGrammar() {
        // clang-format off
        const std::pair<const char*, const char*> rows[] = {
            {"silent", "0 -1 -1 -1 0 0 -1 1 200"}, {"pending:count=20", "4 -1 -1 -1 0 0 -1 20 200"},
            {"silent:on=startcomm,times=2", "0 129 -1 -1 0 2 -1 1 200"},
            {"reject:trep=0x02,code=FF,times=3", "5 -1 2 -1 0 3 255 1 200"},
            {"reject:on=37,code=10", "5 55 -1 -1 0 0 16 1 200"},
            {"HANGUP:trep=4,part=5,after=1", "7 -1 4 5 1 0 -1 1 200"},
            {"duplicate:delay=300", "8 -1 -1 -1 0 0 -1 1 300"}, {"delay", "9 -1 -1 -1 0 0 -1 1 0"},
            {"late", "10 -1 -1 -1 0 0 -1 1 20"}, {"subnumber", "11 -1 -1 2 0 0 -1 1 200"},
            {"latedata", "12 55 -1 -1 0 0 -1 1 200"}, {"explode", ""}, {"reject:trep=2", ""},
            {"silent:trep", ""}, {"silent:colour=red", ""}, {"reject:code=ZZ", ""},
            {"reject:code=100", ""}, {"pending:count=-1", ""}, {"silent:on=coffee", ""}};
        // clang-format on
        for (const auto& [spec, fields] : rows) {
            QString error;
            const auto f = Fault::parse(spec, &error);
            QVERIFY2(error.isEmpty() == bool(f) && error.isEmpty() == (*fields != '\0'), spec);
            if (f)
                QCOMPARE(QString::asprintf("%s: %d %d %d %d %d %d %d %d %d", spec, int(f->kind),
                                           f->sid, f->trep, f->part, f->after, f->times, f->code,
                                           f->count, f->delayMs),
                         spec + QString(": ") + fields);
        }
    }

    // A fault acts on the requests its selectors name, after letting `after` of them pass,
    // `times` times; the speed limit only on Verify Baud Rate.
    void faultSelectors() {
        Fault f = *Fault::parse("silent:on=data,trep=5,part=2,after=1,times=1", nullptr);
        QString taken;
        const std::tuple<int, int, int> requests[] = {{0x36, 5, 1}, {0x36, 4, 2}, {0x83, 5, 2},
                                                      {0x36, 5, 2}, {0x36, 5, 2}, {0x36, 5, 2}};
        for (const auto& [sid, trep, part] : requests)
            taken += f.take(sid, trep, part) ? '1' : '0';
        Fault limit = *Fault::parse("maxbaud:code=3", nullptr);
        taken += QStringLiteral(" %1%2").arg(limit.take(0x87, -1, 1)).arg(limit.take(0x36, -1, 1));
        QCOMPARE(taken, "000010 10");
    }

    // Requests in order (hex without checksum, ';' between them; BAD: a wrong checksum) and
    // the bytes the unit sends for the last one (hex with checksums; "" for nothing).
    void session() {
        const QString up = "81EEF081;80EEF0021081;80EEF00A350000000000FFFFFFFF;";
        // clang-format off
        const std::tuple<const char*, const char*, QString, const char*> rows[] = {
            {"diagnostic before start", "", "80EEF0021081", "80F0EE037F102212"},
            {"data before upload", "", "81EEF081;80EEF0021081;80EEF0023601", "80F0EE037F362238"},
            {"unknown service", "", "80EEF00131", "80F0EE037F311122"},
            {"first generation refuses TREP 0x21", "", up + "80EEF0023621", "80F0EE037F361228"},
            {"day after the period", "", up + "80EEF006360265B6EA80", "80F0EE037F36FA10"},
            {"day cut short", "", up + "80EEF005360265B5", "80F0EE037F361329"},
            {"transition not answered", "", "81EEF081;80EEF0021081;80EEF00487010104;80EEF003870203", ""},
            {"silent twice, third answered", "silent:on=startcomm,times=2", "81EEF081;81EEF081;81EEF081", "80F0EE03C1EA8F9B"},
            {"refused as conditions not correct", "reject:trep=5,code=22,times=1", up + "80EEF0023605", "80F0EE037F362238"},
            {"exit refused", "reject:on=exit,code=10", up + "80EEF00137", "80F0EE037F371027"},
            {"ack without sub-messages", "", up + "80EEF00483760002", "80F0EE037F832285"},
            {"bad request checksum ignored", "", "BAD", ""},
            {"stop", "", "81EEF081;80EEF00182", "80F0EE01C221"}};
        // clang-format on
        for (const auto& [name, fault, requests, answer] : rows) {
            VuSession s(unitData(), *fault ? QList{*Fault::parse(fault, nullptr)} : QList<Fault>());
            QList<Output> last;
            for (const QString& r : requests.split(';')) {
                last = s.handle(r == "BAD" ? Request{QByteArray::fromHex("81EEF081E1")}
                                           : req(r.toLatin1()));
                if (r == "BAD") QVERIFY(s.takeNotes().join(' ').contains("checksum"));
            }
            QByteArray sent;
            for (const Output& o : last)
                sent += o.bytes;
            QCOMPARE(name + QString(": ") + sent.toHex().toUpper(), name + QString(": ") + answer);
        }
    }

    // Generated data of each kind of unit cuts back into the blocks it was made of, as the
    // unit does with a file it is given: technical data, overview, each day, events, speed.
    void generatedDataSplitsBack() {
        for (const auto& [gen2, version2] :
             {std::pair{false, false}, {true, false}, {false, true}}) {
            const QList<Block> blocks = unitData(gen2, version2).blocks();
            QString error;
            const QList<Block> again = splitVuFile(fileOf(blocks), &error);
            QCOMPARE(again.size(), 3 + 4);
            for (int i = 0; i < again.size(); ++i)
                QVERIFY(again[i].trep == blocks[i].trep && again[i].data == blocks[i].data);
        }
    }

    // A file whose days all carry one date (as anonymised samples do) is served by position,
    // each block with the day asked for, as a unit's own block carries it; the rest of the
    // block is the file's.
    void sameDayBlocksCarryTheDayAsked() {
        QList<Block> blocks = unitData(false, true).blocks();
        const auto isDay = [](const Block& b) { return b.trep == 0x32; };
        const QByteArray firstDay =
            std::find_if(blocks.begin(), blocks.end(), isDay)->data.mid(5, 4);
        for (Block& b : blocks)
            if (isDay(b)) b.data.replace(5, 4, firstDay);
        const QByteArray file = fileOf(blocks);
        QString error;
        const VuData unit = VuData::fromFile(file, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const quint32 oldest = unit.oldestTime() - unit.oldestTime() % 86400;
        for (quint32 day = oldest; day < oldest + 3 * 86400; day += 86400) {
            const QByteArray asked =
                QByteArray::fromHex(QByteArray::number(day, 16).rightJustified(8, '0'));
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
            s.handle(req(r, 9600));
        QVERIFY(s.takeNotes().isEmpty() && s.handle(req("80EEF003870203", 9600)).isEmpty());
        QCOMPARE(s.expectedBaud(), 57600);
        s.takeNotes();
        s.handle(req("80EEF00A350000000000FFFFFFFF", 9600));
        QVERIFY(s.takeNotes().join(' ').contains("9600 baud, unit listens at 57600"));
        s.handle(req("80EEF00182", 57600, 0, 0.1));
        QVERIFY(s.takeNotes().join(' ').contains("below 5 ms"));
        QCOMPARE(s.expectedBaud(), 9600); // after Stop Communication
    }

    // A request that begins less than 10 ms after the unit's answer ended is reported; one
    // after output the tester did not wait for (a duplicate, an answer held past a request)
    // or one already under way when the answer ended is not.
    void shortPauseAfterAnswerIsReported() {
        // What the unit sent before ("answer", "duplicate", "held", several joined by "+", or
        // "" for none), the pause from its end to the request's start (-3: the request was under
        // way), and whether it is told. "held+answer": the answer of the copy a held one came in.
        // clang-format off
        const std::tuple<const char*, double, bool> rows[] = {
            {"answer", 9.9, true}, {"answer", 0.0, true}, {"answer", 10.0, false},
            {"answer", -3.0, false}, {"duplicate", 2.0, false}, {"held", 2.0, false},
            {"", 2.0, false}, {"held+answer", 2.0, false}, {"held+answer+answer", 2.0, true}};
        // clang-format on
        for (const auto& [output, gapMs, reported] : rows) {
            VuSession s(unitData(), {});
            // Held: until the next request; a duplicate: unasked.
            for (const QString& kind : QString(output).split('+', Qt::SkipEmptyParts))
                s.outputSent({0, {}, false, {}, kind == "held", kind == "duplicate"}, 1000);
            s.handle(req("81EEF081", 9600, 1000 + gapMs));
            QVERIFY2(s.takeNotes().join(' ').contains("after the answer, below 10 ms") == reported,
                     qPrintable(output + QStringLiteral(" %1 ms").arg(gapMs)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
