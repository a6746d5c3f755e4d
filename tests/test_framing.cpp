#include "Conversions.h"
#include "Framing.h"
#include "ScriptedLink.h" // Response()

#include <QRandomGenerator>
#include <QTest>

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

// Positive Start Communication with its two key bytes EA 8F.
const QByteArray kStartCommOk = Hex("80F0EE03C1EA8F9B");
const QByteArray kPending = Hex("80F0EE037F36788E");

} // namespace

class TestFraming : public QObject {
    Q_OBJECT

private slots:
    void catalogue_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("checksum");
        QTest::newRow("start communication") << StartCommunication() << Hex("81EEF081") << 0xE0;
        QTest::newRow("start diagnostic session")
            << StartDiagnosticSession() << Hex("80EEF0021081") << 0xF1;
        for (int code = 1; code <= 5; ++code)
            QTest::addRow("verify baud rate %d", code)
                << VerifyBaudRate(quint8(code)) << Hex("80EEF004870101") + char(code)
                << 0xEB + code;
        QTest::newRow("transition baud rate")
            << TransitionBaudRate() << Hex("80EEF003870203") << 0xED;
        QTest::newRow("request upload")
            << RequestUpload() << Hex("80EEF00A350000000000FFFFFFFF") << 0x99;
        for (int trep = 1; trep <= 6; ++trep)
            QTest::addRow("transfer data %d", trep)
                << TransferData(quint8(trep)) << Hex("80EEF00236") + char(trep) << 0x96 + trep;
        QTest::newRow("transfer data, prefix given")
            << TransferData(TransferPrefix, 0x25) << Hex("80EEF0023625") << 0xBB;
        QTest::newRow("transfer data dated")
            << TransferDataDated(2, 1709251200) << Hex("80EEF006360265E11A80") << 0x7C;
        QTest::newRow("transfer data dated, past 2038")
            << TransferDataDated(2, INT_MIN) << Hex("80EEF006360280000000") << 0x1C;
        QTest::newRow("transfer exit") << TransferExit() << Hex("80EEF00137") << 0x96;
        QTest::newRow("stop communication") << StopCommunication() << Hex("80EEF00182") << 0xE1;
        QTest::newRow("acknowledge 0x0102")
            << AcknowledgeSubMessage(0x0102) << Hex("80EEF00483760102") << 0x5E;
        QTest::newRow("acknowledge 0xFFFF")
            << AcknowledgeSubMessage(0xFFFF) << Hex("80EEF0048376FFFF") << 0x59;
    }

    void catalogue() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, bytes);
        QFETCH(int, checksum);
        QCOMPARE(request.toHex(' '), bytes.toHex(' '));
        QCOMPARE(int(Checksum(request)), checksum);
        QCOMPARE(WithChecksum(request), bytes + char(checksum));
    }

    void prefixes() {
        QCOMPARE(TransferPrefixDated, Hex("80EEF00636"));
        QCOMPARE(TransferPrefix, Hex("80EEF00236"));
    }

    void checkMessage_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("id");
        QTest::newRow("start communication, with keys") << kStartCommOk << 1;
        const struct {
            const char* name;
            char sid;
            int id;
        } positive[] = {{"start diagnostic session", '\x50', 2},
                        {"link control", '\xC7', 3},
                        {"request upload", '\x75', 5},
                        {"transfer data", '\x76', 6},
                        {"transfer exit", '\x77', 7},
                        {"stop communication", '\xC2', 8},
                        {"sid 85", '\x85', 9},
                        {"request sid echoed", '\x36', 8191},
                        {"sid 00", '\x00', 8191}};
        for (const auto& p : positive)
            QTest::newRow(p.name) << Response(QByteArray(1, p.sid) + "\x01\x02") << p.id;
        const struct {
            const char* name;
            char code;
            int id;
        } negative[] = {{"general reject", '\x10', 10},
                        {"service not supported", '\x11', 11},
                        {"sub-function not supported", '\x12', 12},
                        {"incorrect message length", '\x13', 13},
                        {"conditions not correct", '\x22', 14},
                        {"request out of range", '\x31', 15},
                        {"upload not accepted", '\x50', 16},
                        {"data not available", '\xFA', 18},
                        {"other code", '\x33', 8190},
                        {"code 00", '\x00', 8190}};
        for (const auto& n : negative)
            QTest::newRow(n.name) << Response(QByteArray("\x7F\x36", 2) + n.code) << n.id;
        QTest::newRow("response pending") << kPending << 17;
        QTest::newRow("checksum off by one") << Hex("80F0EE03C1EA8F9C") << 4096;
        // A length byte one short puts the checksum on a key byte.
        QTest::newRow("length one short") << Hex("80F0EE02C1EA8F") << 4096;
        QTest::newRow("checksum of a pending") << Hex("80F0EE037F36788F") << 4096;
        QTest::newRow("request header") << WithChecksum(Hex("80EEF003C1EA8F")) << 4097;
        QTest::newRow("format byte 81") << WithChecksum(Hex("81F0EE03C1EA8F")) << 4097;
        // Messages too short to hold a field in front of their checksum.
        QTest::newRow("empty") << QByteArray() << 4096;
        QTest::newRow("one zero byte") << Hex("00") << 4097;
        QTest::newRow("two bytes") << Hex("8080") << 4097;
        QTest::newRow("header and checksum") << WithChecksum(kResponseHeader) << 8191;
        QTest::newRow("length 0") << Hex("80F0EE005E") << 8191;
        QTest::newRow("negative, no data") << Response(Hex("7F")) << 8190;
        QTest::newRow("negative, no code") << Response(Hex("7F36")) << 8190;
        QTest::newRow("negative, extra data") << Response(Hex("7F3678AABB")) << 17;
    }

    void checkMessage() {
        QFETCH(QByteArray, message);
        QFETCH(int, id);
        QCOMPARE(lCheckMessage(message), id);
    }

    // Every id above 18 means "unusable", every protocol answer is 18 or below.
    void idsSplitAtLastProtocolAnswer() {
        QVERIFY(lCheckMessage(kPending) <= MessageId::LastProtocolAnswer);
        QVERIFY(lCheckMessage(Hex("80F0EE005E")) > MessageId::LastProtocolAnswer);
    }

    void assembly_data() {
        QTest::addColumn<QByteArrayList>("pieces");
        // For each expected response: the index of the piece that completes it.
        QTest::addColumn<QList<int>>("completedBy");
        QTest::addColumn<QByteArrayList>("responses");
        QTest::addColumn<QByteArray>("rest");

        const QByteArray both = kStartCommOk + kPending;
        QTest::newRow("whole") << QByteArrayList{kStartCommOk} << QList<int>{0}
                               << QByteArrayList{kStartCommOk} << QByteArray();
        QTest::newRow("pieces of 3, 3, 2")
            << QByteArrayList{Hex("80F0EE"), Hex("03C1EA"), Hex("8F9B")} << QList<int>{2}
            << QByteArrayList{kStartCommOk} << QByteArray();
        QByteArrayList single;
        for (char b : kStartCommOk)
            single << QByteArray(1, b);
        QTest::newRow("byte by byte")
            << single << QList<int>{7} << QByteArrayList{kStartCommOk} << QByteArray();
        QTest::newRow("leading 00") << QByteArrayList{Hex("00") + kStartCommOk} << QList<int>{0}
                                    << QByteArrayList{kStartCommOk} << QByteArray();
        QTest::newRow("noise in its own piece")
            << QByteArrayList{Hex("00FF7F"), Hex("F0EE"), kStartCommOk} << QList<int>{2}
            << QByteArrayList{kStartCommOk} << QByteArray();
        QTest::newRow("two in one piece") << QByteArrayList{both} << QList<int>{0, 0}
                                          << QByteArrayList{kStartCommOk, kPending} << QByteArray();
        QTest::newRow("noise between two")
            << QByteArrayList{kStartCommOk + Hex("0000") + kPending} << QList<int>{0, 0}
            << QByteArrayList{kStartCommOk, kPending} << QByteArray();
        QTest::newRow("second split across pieces")
            << QByteArrayList{kStartCommOk + kPending.left(5), kPending.mid(5)} << QList<int>{0, 1}
            << QByteArrayList{kStartCommOk, kPending} << QByteArray();
        QTest::newRow("incomplete stays") << QByteArrayList{both.left(12)} << QList<int>{0}
                                          << QByteArrayList{kStartCommOk} << kPending.left(4);
        QTest::newRow("wrong checksum still framed")
            << QByteArrayList{Hex("80F0EE03C1EA8F9C")} << QList<int>{0}
            << QByteArrayList{Hex("80F0EE03C1EA8F9C")} << QByteArray();
        // The length byte rules: one short, and the last byte is noise before the next.
        QTest::newRow("length one short")
            << QByteArrayList{Hex("80F0EE02C1EA8F9A") + kPending} << QList<int>{0, 0}
            << QByteArrayList{Hex("80F0EE02C1EA8F"), kPending} << QByteArray();
        const QByteArray longest = Response(QByteArray(255, '\x76'));
        QTest::newRow("longest, 260 bytes")
            << QByteArrayList{longest.left(100), longest.mid(100)} << QList<int>{1}
            << QByteArrayList{longest} << QByteArray();
        QTest::newRow("only noise")
            << QByteArrayList{Hex("0011FF7F")} << QList<int>{} << QByteArrayList{} << QByteArray();
    }

    void assembly() {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QList<int>, completedBy);
        QFETCH(QByteArrayList, responses);
        QFETCH(QByteArray, rest);
        FrameAssembler assembler;
        QByteArrayList got;
        QList<int> gotBy;
        for (int i = 0; i < pieces.size(); ++i) {
            for (const QByteArray& frame : assembler.feed(pieces[i])) {
                got << frame;
                gotBy << i;
            }
        }
        QCOMPARE(got, responses);
        QCOMPARE(gotBy, completedBy);
        QCOMPARE(assembler.RxBuffer(), rest);
    }

    void clearDropsHalfResponse() {
        FrameAssembler assembler;
        QVERIFY(assembler.feed(kPending.left(5)).isEmpty());
        QCOMPARE(assembler.ExpectedLength(), 8);
        // Without the clear the repeated answer would be appended to the stale bytes.
        assembler.clear();
        QCOMPARE(assembler.feed(kStartCommOk), QByteArrayList{kStartCommOk});
        QVERIFY(assembler.RxBuffer().isEmpty());
    }

    // Random responses with noise between them, cut at random places, come out whole and
    // in order.
    void randomPiecesAndNoise() {
        QRandomGenerator rng(20240301);
        for (int round = 0; round < 200; ++round) {
            QByteArrayList sent;
            QByteArray stream;
            for (int r = rng.bounded(1, 6); r > 0; --r) {
                QByteArray noise(rng.bounded(0, 4), '\0');
                for (char& b : noise)
                    b = char(rng.bounded(0x80)); // below the start byte
                QByteArray body(rng.bounded(1, 256), '\0');
                for (char& b : body)
                    b = char(rng.bounded(256));
                sent << Response(body);
                stream += noise + sent.last();
            }
            FrameAssembler assembler;
            QByteArrayList got;
            for (qsizetype at = 0; at < stream.size();) {
                const qsizetype n = rng.bounded(1, 40);
                got += assembler.feed(stream.mid(at, n));
                at += n;
            }
            QCOMPARE(got, sent);
            QVERIFY(assembler.RxBuffer().isEmpty());
        }
    }

    // Arbitrary bytes never give a frame of the wrong length nor an id outside the table.
    void randomBytes() {
        const QList<qint32> ids{1,  2,  3,  5,  6,  7,  8,    9,    10,   11,  12,
                                13, 14, 15, 16, 17, 18, 4096, 4097, 8190, 8191};
        QRandomGenerator rng(7);
        FrameAssembler assembler;
        for (int round = 0; round < 2000; ++round) {
            QByteArray piece(rng.bounded(0, 64), '\0');
            for (char& b : piece)
                b = char(rng.bounded(256));
            for (const QByteArray& frame : assembler.feed(piece)) {
                QCOMPARE(frame.at(0), kFormatByte);
                QCOMPARE(frame.size(), quint8(frame.at(3)) + 5);
                QVERIFY(ids.contains(lCheckMessage(frame)));
            }
            for (qsizetype n = 0; n <= piece.size(); ++n)
                QVERIFY(ids.contains(lCheckMessage(piece.left(n))));
            QVERIFY(assembler.RxBuffer().size() < 260);
        }
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "test_framing.moc"
