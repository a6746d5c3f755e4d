// The simulated vehicle unit on its own, for what no download against it can show: how it
// reads requests off the line and judges their timing, its fault grammar, its refusals of
// requests a tester never sends, and its sub-message cutting at the edges.

#include "SimData.h"
#include "SimFaults.h"
#include "SimFrames.h"
#include "SimSession.h"

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

QByteArray Sent(const QList<Output>& outputs) {
    QByteArray all;
    for (const Output& o : outputs)
        all += o.bytes;
    return all;
}

// A three-day first-generation unit whose clock reads 2024-01-28 12:00 UTC.
VuData Unit() {
    GenerateOptions o;
    o.days = 3;
    o.now = QDateTime::fromSecsSinceEpoch(1706400000 + 12 * 3600, Qt::UTC);
    return VuData::Generate(o);
}

// Brings a session to the point where Transfer Data is allowed.
VuSession Uploading(const QList<Fault>& faults) {
    VuSession s(Unit(), faults);
    for (const char* r : {"81EEF081", "80EEF0021081", "80EEF00A350000000000FFFFFFFF"})
        s.handle(Req(H(r)));
    s.takeNotes();
    return s;
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
        const QByteArray sc = H("81EEF081E0"), stop = H("80EEF00182E1");
        QTest::newRow("start communication") << sc << -1 << QStringList{"81 EE F0 81 E0"} << 0;
        QTest::newRow("noise first")
            << H("00FF") + stop << -1 << QStringList{"80 EE F0 01 82 E1"} << 2;
        QTest::newRow("two back to back")
            << sc + stop << -1 << QStringList{"81 EE F0 81 E0", "80 EE F0 01 82 E1"} << 0;
        // A request that stops half-way is dropped at the next byte.
        QTest::newRow("stalled half-way") << H("80EEF0") + stop.left(3) << 3 << QStringList{} << 3;
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
            got << Hex(r.bytes);
            QVERIFY(r.checksumOk());
            QCOMPARE(r.minGapMs, 5.0);
        }
        QCOMPARE(got, requests);
        QFETCH(int, dropped);
        QCOMPARE(reader.droppedBytes(), dropped);
    }

    // Bytes that waited unseen while the line opened give no pause reading on either side.
    void bytesSeenLateAreNotTimed() {
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

    // kind sid trep part after times code count delay; "" for a refused spec.
    void faultGrammar_data() {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("fields");
        QTest::newRow("defaults") << "silent"
                                  << "0 -1 -1 -1 0 0 -1 1 200";
        QTest::newRow("service name") << "silent:on=startcomm,times=2"
                                      << "0 129 -1 -1 0 2 -1 1 200";
        QTest::newRow("hex, largest code") << "reject:trep=0x02,code=FF,times=3"
                                           << "5 -1 2 -1 0 3 255 1 200";
        QTest::newRow("SID in hex") << "reject:on=37,code=10"
                                    << "5 55 -1 -1 0 0 16 1 200";
        QTest::newRow("kind in capitals") << "HANGUP:trep=4,part=5,after=1"
                                          << "7 -1 4 5 1 0 -1 1 200";
        QTest::newRow("count") << "pending:count=20"
                               << "4 -1 -1 -1 0 0 -1 20 200";
        QTest::newRow("duplicate's delay") << "duplicate:delay=300"
                                           << "8 -1 -1 -1 0 0 -1 1 300";
        QTest::newRow("delay's own default") << "delay"
                                             << "9 -1 -1 -1 0 0 -1 1 0";
        QTest::newRow("late's own default") << "late"
                                            << "10 -1 -1 -1 0 0 -1 1 20";
        QTest::newRow("subnumber: part 2") << "subnumber"
                                           << "11 -1 -1 2 0 0 -1 1 200";
        QTest::newRow("latedata: on exit") << "latedata"
                                           << "12 55 -1 -1 0 0 -1 1 200";
        QTest::newRow("unknown kind") << "explode"
                                      << "";
        QTest::newRow("reject without code") << "reject:trep=2"
                                             << "";
        QTest::newRow("not name=value") << "silent:trep"
                                        << "";
        QTest::newRow("unknown parameter") << "silent:colour=red"
                                           << "";
        QTest::newRow("bad hex") << "reject:code=ZZ"
                                 << "";
        QTest::newRow("code too big") << "reject:code=100"
                                      << "";
        QTest::newRow("negative count") << "pending:count=-1"
                                        << "";
        QTest::newRow("bad service") << "silent:on=coffee"
                                     << "";
    }
    void faultGrammar() {
        QFETCH(QString, spec);
        QFETCH(QString, fields);
        QString error;
        const auto f = Fault::Parse(spec, &error);
        QCOMPARE(error.isEmpty(), !fields.isEmpty());
        if (!f) return;
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9")
                     .arg(int(f->kind))
                     .arg(f->sid)
                     .arg(f->trep)
                     .arg(f->part)
                     .arg(f->after)
                     .arg(f->times)
                     .arg(f->code)
                     .arg(f->count)
                     .arg(f->delayMs),
                 fields);
    }

    // Requests in order (hex without checksum, ';' between them; BAD: a wrong checksum) and
    // the bytes the unit sends for the last one (hex with checksums; "" for nothing).
    void session_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("requests");
        QTest::addColumn<QString>("answer");
        const QString up = "81EEF081;80EEF0021081;80EEF00A350000000000FFFFFFFF;";
        QTest::newRow("diagnostic before start") << ""
                                                 << "80EEF0021081"
                                                 << "80F0EE037F102212";
        QTest::newRow("data before upload") << ""
                                            << "81EEF081;80EEF0021081;80EEF0023601"
                                            << "80F0EE037F362238";
        QTest::newRow("unknown service") << ""
                                         << "80EEF00131"
                                         << "80F0EE037F311122";
        QTest::newRow("first generation refuses TREP 0x21") << "" << up + "80EEF0023621"
                                                            << "80F0EE037F361228";
        QTest::newRow("day after the period") << "" << up + "80EEF006360265B6EA80"
                                              << "80F0EE037F36FA10";
        QTest::newRow("day cut short") << "" << up + "80EEF005360265B5"
                                       << "80F0EE037F361329";
        QTest::newRow("transition not answered")
            << ""
            << "81EEF081;80EEF0021081;80EEF00487010104;80EEF003870203"
            << "";
        QTest::newRow("silent twice, third answered") << "silent:on=startcomm,times=2"
                                                      << "81EEF081;81EEF081;81EEF081"
                                                      << "80F0EE03C1EA8F9B";
        QTest::newRow("refused as conditions not correct")
            << "reject:trep=5,code=22,times=1" << up + "80EEF0023605"
            << "80F0EE037F362238";
        QTest::newRow("exit refused") << "reject:on=exit,code=10" << up + "80EEF00137"
                                      << "80F0EE037F371027";
        QTest::newRow("ack without sub-messages") << "" << up + "80EEF00483760002"
                                                  << "80F0EE037F832285";
        QTest::newRow("bad request checksum ignored") << ""
                                                      << "BAD"
                                                      << "";
        QTest::newRow("stop") << ""
                              << "81EEF081;80EEF00182"
                              << "80F0EE01C221";
    }
    void session() {
        QFETCH(QString, fault);
        QFETCH(QString, requests);
        QList<Fault> faults;
        if (!fault.isEmpty()) faults << *Fault::Parse(fault, nullptr);
        VuSession s(Unit(), faults);
        QList<Output> last;
        for (const QString& r : requests.split(';')) {
            last = s.handle(r == "BAD" ? Request{H("81EEF081E1")} : Req(H(r.toLatin1())));
            if (r == "BAD") QVERIFY(s.takeNotes().join(' ').contains("checksum"));
        }
        QFETCH(QString, answer);
        QCOMPARE(Sent(last).toHex().toUpper(), answer.toLatin1());
    }

    // The unit's own judgement of the tester's line speed and pauses: what the end-to-end
    // tests require to stay silent must speak up on a wrong speed or a short pause.
    void wrongSpeedAndShortPauseAreReported() {
        VuSession s(Unit(), {});
        for (const char* r : {"81EEF081", "80EEF0021081", "80EEF00487010104"})
            s.handle(Req(H(r), 9600));
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

    // Answers of 252, 253 and 502 bytes: one message, two, and two full ones with an empty
    // third; every part numbered, the data whole again when joined.
    void subMessageEdges_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<int>>("lengthBytes");
        QTest::newRow("one message, longest") << 252 << QList<int>{254};
        QTest::newRow("253 bytes need two") << 253 << QList<int>{255, 6};
        QTest::newRow("exactly two full: empty end") << 502 << QList<int>{255, 255, 4};
    }
    void subMessageEdges() {
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
            QCOMPARE(m.mid(4, 2), H("7604"));
            QCOMPARE(int(quint8(m[3])), lengthBytes[i]);
            QCOMPARE(m.size(), lengthBytes[i] + 5);
            QCOMPARE(quint8(m.back()), Checksum(m.chopped(1)));
            if (parts.size() > 1) QCOMPARE(m.mid(6, 2), QByteArray(1, char(0)) + char(i + 1));
            joined += m.mid(parts.size() > 1 ? 8 : 6).chopped(1);
        }
        QCOMPARE(joined, data);
    }

    // Pending answers spaced as asked, then the card; the next request is answered at once.
    // A wrong sub-message number goes out every time that part is asked for, with a right
    // checksum; a block counts as served when its last part is out.
    void pendingAndSubNumber() {
        VuSession s = Uploading({*Fault::Parse("pending:trep=6,count=3,every=1000", nullptr),
                                 *Fault::Parse("subnumber:trep=4,part=3", nullptr)});
        QList<Output> out = s.handle(Req(H("80EEF0023606")));
        QCOMPARE(out.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(out[i].atMs, 1000.0 * i);
        QCOMPARE(out[2].bytes, H("80F0EE037F36788E"));
        QCOMPARE(out[3].bytes.mid(4, 4), H("76060001"));
        s.takeServed();
        QCOMPARE(s.handle(Req(H("80EEF0023605"))).first().atMs, 0.0);
        QVERIFY(s.takeServed().isEmpty());
        s.handle(Req(H("80EEF00483760002"))); // the second and last part
        QCOMPARE(s.takeServed().size(), 1);
        QVERIFY(s.handle(Req(H("80EEF00483760003"))).isEmpty());
        s.handle(Req(H("80EEF0023604")));
        s.handle(Req(H("80EEF00483760002")));
        for (int i = 0; i < 2; ++i) {
            const QByteArray sent = Sent(s.handle(Req(H("80EEF00483760003"))));
            QCOMPARE(sent.mid(6, 2), H("0002"));
            QCOMPARE(quint8(sent.back()), Checksum(sent.chopped(1)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
