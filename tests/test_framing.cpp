#include "Conversions.h"
#include "Framing.h"
#include "NationCodes.h"
#include "ScriptedLink.h" // Response()

#include <QRandomGenerator>
#include <QTest>
#include <climits>
#include <ctime>

namespace {
QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Positive Start Communication with its two key bytes EA 8F, and a response pending.
const QByteArray kStartCommOk = Hex("80F0EE03C1EA8F9B");
const QByteArray kPending = Hex("80F0EE037F36788E");

// Feeds the pieces (hex, split at spaces) to one assembler: each response found as "piece
// index:hex ", then "|" and what is left in the buffer.
QByteArray Assemble(const QByteArray& pieces) {
    FrameAssembler assembler;
    QByteArray result;
    int index = 0;
    for (const QByteArray& piece : pieces.split(' ')) {
        for (const QByteArray& frame : assembler.feed(QByteArray::fromHex(piece)))
            result += QByteArray::number(index) + ':' + frame.toHex().toUpper() + ' ';
        ++index;
    }
    return result + '|' + assembler.RxBuffer().toHex().toUpper();
}
} // namespace

class TestFraming : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A zone far from UTC, so that any local-time shift shows.
        qputenv("TZ", "XYZ-3");
        tzset();
        SetDateLimits();
    }

    // The unit's 32-bit second counts: from 1970 on, past 2038 as negative numbers, wrapping
    // at 2106; the calendar fields count, never a zone. Received bytes read the same, but for
    // the unit's "unknown", and a fifth byte is not read.
    void dateToSecondsAndBack() {
        const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
        };
        const QDate march(2024, 3, 1);
        const struct {
            QDateTime date;
            const char *hex, *text;
        } rows[] = {
            // clang-format off
            {utc(1970, 1, 1, 0, 0, 1), "00000001", "1970-01-01 00:00:01"},
            {utc(2024, 3, 1, 0, 0, 0), "65E11A80", "2024-03-01"},
            {utc(1979, 9, 5, 22, 51, 36), "12345678", "1979-09-05 22:51:36"},
            {utc(2038, 1, 19, 3, 14, 7), "7FFFFFFF", "2038-01-19 03:14:07"},
            {utc(2038, 1, 19, 3, 14, 8), "80000000", "2038-01-19 03:14:08"},
            {utc(2106, 2, 7, 6, 28, 15), "FFFFFFFF", "2106-02-07 06:28:15"},
            {utc(2106, 2, 7, 6, 28, 16), "00000000", "No info."},
            {utc(1969, 12, 31, 23, 59, 59), "FFFFFFFF", "2106-02-07 06:28:15"},
            {QDateTime(march, QTime(0, 0), Qt::OffsetFromUTC, 3600), "65E11A80", "2024-03-01"},
            {QDateTime(march, QTime(0, 0), Qt::LocalTime), "65E11A80", "2024-03-01"}};
        // clang-format on
        for (const auto& row : rows) {
            const QByteArray bytes = QByteArray::fromHex(row.hex);
            QCOMPARE(SecondsToBytes(DateToSeconds(row.date)), bytes);
            QCOMPARE(SecondsToDateText(qint32(bytes.toHex().toUInt(nullptr, 16))), row.text);
            QCOMPARE(BytesToDateText(bytes + '\xFF'),
                     bytes == "\xFF\xFF\xFF\xFF" ? "Unknown" : row.text);
        }
        QCOMPARE(BytesToDateText(QByteArray::fromHex("FFFFFF")) + BytesToDateText({}),
                 "No info.No info."); // too short
    }

    void limitsSeenByOtherCode() {
        QCOMPARE(TimeBase.secsTo(TimeWrap), Q_INT64_C(1) << 32);
        QCOMPARE(TimeBase.secsTo(TimeSignedLimit), qint64(INT_MAX));
        QCOMPARE(DateText(TimeBase), QString("1970-01-01"));
    }

    // Listed nations in order, then reserved numbers, then the three group codes; always
    // three characters, as file names use them.
    void nationAlpha() {
        FillNationAlpha();
        const std::pair<int, const char*> rows[] = {{0x00, "UNK"}, {0x0D, "D  "}, {0x15, "UK "},
                                                    {0x33, "YU "}, {0x34, "RFU"}, {0xFC, "RFU"},
                                                    {0xFD, "EC "}, {0xFE, "EUR"}, {0xFF, "WLD"}};
        for (const auto& [nation, code] : rows)
            QCOMPARE(NationAlpha(quint8(nation)), QString(code));
        for (int n = 0; n < 256; ++n)
            QCOMPARE(NationAlpha(quint8(n)).size(), 3);
    }

    void requestCatalogue() {
        // clang-format off
        const std::pair<QByteArray, const char*> rows[] = {
            {StartCommunication(), "81EEF081E0"}, {StartDiagnosticSession(), "80EEF0021081F1"},
            {VerifyBaudRate(1), "80EEF00487010101EC"}, {VerifyBaudRate(5), "80EEF00487010105F0"},
            {TransitionBaudRate(), "80EEF003870203ED"},
            {RequestUpload(), "80EEF00A350000000000FFFFFFFF99"},
            {TransferData(1), "80EEF002360197"}, {TransferData(6), "80EEF00236069C"},
            {TransferData(TransferPrefix, 0x25), "80EEF0023625BB"},
            {TransferDataDated(2, 1709251200), "80EEF006360265E11A807C"},
            {TransferDataDated(2, INT_MIN), "80EEF0063602800000001C"},
            {TransferExit(), "80EEF0013796"}, {StopCommunication(), "80EEF00182E1"},
            {AcknowledgeSubMessage(0x0102), "80EEF004837601025E"},
            {AcknowledgeSubMessage(0xFFFF), "80EEF0048376FFFF59"}};
        // clang-format on
        for (const auto& [request, hex] : rows)
            QCOMPARE(WithChecksum(request).toHex().toUpper(), QByteArray(hex));
    }

    // Positive answers by their SID, negative ones by their response code, then messages
    // damaged or too short to hold a field in front of their checksum.
    void messageIds() {
        for (const QByteArray& row :
             QByteArray("C1:1 50:2 C7:3 75:5 76:6 77:7 C2:8 85:9 36:8191 00:8191").split(' '))
            QCOMPARE(lCheckMessage(Response(QByteArray::fromHex(row.left(2)) + "\x01\x02")),
                     row.mid(3).toInt());
        for (const QByteArray& row :
             QByteArray("10:10 11:11 12:12 13:13 22:14 31:15 50:16 78:17 FA:18 33:8190 00:8190")
                 .split(' '))
            QCOMPARE(lCheckMessage(Negative(0x36, quint8(row.left(2).toUInt(nullptr, 16)))),
                     row.mid(3).toInt());
        // clang-format off
        const QByteArray damaged("80F0EE03C1EA8F9C:4096 80F0EE037F36788F:4096 80F0EE02C1EA8F:4096 "
            ":4096 00:4097 8080:4097 80EEF003C1EA8F9B:4097 81F0EE03C1EA8F9C:4097 80F0EE5E:8191 "
            "80F0EE005E:8191 80F0EE017FDE:8190 80F0EE027F3615:8190 80F0EE057F3678AABBF5:17");
        // clang-format on
        for (const QByteArray& row : damaged.split(' '))
            QVERIFY2(lCheckMessage(QByteArray::fromHex(row.split(':')[0])) ==
                         row.split(':')[1].toInt(),
                     row.constData());
    }

    // Responses assembled from pieces by their length byte, noise before a start byte
    // dropped; a response cut short waits for the next piece.
    void assembly() {
        const QByteArray s = kStartCommOk.toHex().toUpper(), p = kPending.toHex().toUpper();
        const QByteArray longest = Response(QByteArray(255, '\x76')).toHex().toUpper();
        const std::pair<QByteArray, QByteArray> rows[] = {
            // clang-format off
            {s, "0:" + s + " |"},
            {"80F0EE 03C1EA 8F9B", "2:" + s + " |"},
            {"00FF7F F0EE " + s, "2:" + s + " |"},
            {s + "0000" + p, "0:" + s + " 0:" + p + " |"},
            {s + p.left(8), "0:" + s + " |" + p.left(8)},
            {"80F0EE03C1EA8F9C", "0:80F0EE03C1EA8F9C |"}, // a wrong checksum is still framed
            // The length byte rules: one short, and the last byte is noise before the next.
            {"80F0EE02C1EA8F9A" + p, "0:80F0EE02C1EA8F 0:" + p + " |"},
            {longest.left(200) + ' ' + longest.mid(200), "1:" + longest + " |"},
            {"0011FF7F", "|"}};
        // clang-format on
        for (const auto& [pieces, frames] : rows)
            QCOMPARE(Assemble(pieces), frames);
    }

    void clearDropsHalfResponse() {
        FrameAssembler assembler;
        QVERIFY(assembler.feed(kPending.left(5)).isEmpty());
        QCOMPARE(assembler.ExpectedLength(), 8);
        // Without the clear the repeated answer would be appended to the stale bytes.
        assembler.clear();
        QCOMPARE(assembler.feed(kStartCommOk), QByteArrayList{kStartCommOk});
    }

    // Random responses with noise between them, cut at random places, come out whole and
    // in order.
    void randomPiecesAndNoise() {
        QRandomGenerator rng(20240301);
        const auto bytes = [&rng](int size, int below) {
            QByteArray data(size, '\0');
            for (char& b : data)
                b = char(rng.bounded(below));
            return data;
        };
        for (int round = 0; round < 200; ++round) {
            QByteArrayList sent;
            QByteArray stream;
            for (int r = rng.bounded(1, 6); r > 0; --r) {
                sent << Response(bytes(rng.bounded(1, 256), 256));
                stream += bytes(rng.bounded(0, 4), 0x80) + sent.last(); // noise below 0x80
            }
            FrameAssembler assembler;
            QByteArrayList got;
            for (qsizetype at = 0, n = 0; at < stream.size(); at += n)
                got += assembler.feed(stream.mid(at, n = rng.bounded(1, 40)));
            QCOMPARE(got, sent);
            QVERIFY(assembler.RxBuffer().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "test_framing.moc"
