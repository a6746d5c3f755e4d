// The engine's functions without state: messages and their checks, dates, file names and
// the command line.

#include "CommandLine.h"
#include "Conversions.h"
#include "FileNaming.h"
#include "Framing.h"
#include "NationCodes.h"
#include "ScriptedLink.h" // Hex(), Response()

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <climits>
#include <ctime>

namespace {
// Positive Start Communication with its two key bytes EA 8F, and a response pending.
const QByteArray kStartCommOk = spacedHex("80F0EE03C1EA8F9B");
const QByteArray kPending = spacedHex("80F0EE037F36788E");

// Feeds the pieces (hex, split at spaces) to one assembler: each response found as "piece
// index:hex ", then "|" and what is left in the buffer.
QByteArray assemble(const QByteArray& pieces) {
    FrameAssembler assembler;
    QByteArray result;
    int index = 0;
    for (const QByteArray& piece : pieces.split(' ')) {
        for (const QByteArray& frame : assembler.feed(QByteArray::fromHex(piece)))
            result += QByteArray::number(index) + ':' + frame.toHex().toUpper() + ' ';
        ++index;
    }
    return result + '|' + assembler.rxBuffer().toHex().toUpper();
}

// Two bytes, most significant first.
inline QByteArray word(int value) {
    return QByteArray(1, char(value >> 8)) + char(value & 0xFF);
}

// A card file as a chain holds it: identifier, appendix, length, data.
inline QByteArray cardFile(int id, int appendix, const QByteArray& data) {
    return word(id) + char(appendix) + word(int(data.size())) + data;
}

const QDateTime kEvening = QDateTime(QDate(2026, 12, 5), QTime(21, 7, 59));
const QByteArray kVin = "WDB9066351S123456";
const QByteArray kVrn = "AB123CD      "; // seven characters and six spaces

// One record array of a second-generation overview.
QByteArray array(int type, int size, int count, const QByteArray& records) {
    return QByteArray(1, char(type)) + word(size) + word(count) + records;
}

// Two certificate arrays, VIN, registration, current time, downloadable period, then a
// card-slots array that the reader never needs.
QByteArray overviewBlock(int certificateSize = 194, int certificates = 1,
                         const QByteArray& registration = "\x0D\x01" + kVrn,
                         int registrations = 1) {
    return QByteArray::fromHex("7621") +
           array(0x0B, certificateSize, certificates,
                 QByteArray(certificateSize * certificates, '\xC1')) +
           array(0x0C, 194, 1, QByteArray(194, '\xC2')) + array(0x0A, 17, 1, kVin) +
           array(0x0E, int(registration.size()), registrations,
                 registration.repeated(registrations)) +
           array(0x12, 4, 1, QByteArray::fromHex("5F5E1000")) +
           array(0x13, 8, 1, QByteArray::fromHex("5E0BE1005F5E0F00")) +
           array(0x14, 1, 1, QByteArray(1, '\0'));
}
constexpr qsizetype kPeriodEnd = 2 + 199 * 2 + 22 + 20 + 9 + 13;

// What was read, as "VIN|VRN|current|oldest latest", and "+" when the period was reached.
QByteArray parseOverview(const QByteArray& overview) {
    const SecondGenOverview read = readSecondGenOverview(overview);
    return read.vin + '|' + read.vrn + '|' + read.currentTime.toHex() + '|' +
           read.oldestTime.toHex() + ' ' + read.latestTime.toHex() + (read.complete ? "+" : "");
}
const QByteArray kWhole = kVin + '|' + kVrn + "|5f5e1000|5e0be100 5f5e0f00+";

// The identification file's data: card identification, then the card holder.
QByteArray identificationBlock(quint8 nation, const QByteArray& number, const QByteArray& surname,
                               const QByteArray& firstNames) {
    const auto padded = [](QByteArray t, int n) { return t.leftJustified(n, ' ', true); };
    return char(nation) + padded(number, 16) + padded("DVLA", 36) + QByteArray(12, '\x10') +
           "\x01" + padded(surname, 35) + "\x01" + padded(firstNames, 35) +
           QByteArray::fromHex("19800101") + "en";
}
const QByteArray kSmith = identificationBlock(0x15, "DB12345678901234", "SMITH", "JOHN");

QByteArray cardChain(const QByteArray& identification) {
    return cardFile(0x0002, 0, QByteArray(25, '\x11')) + cardFile(0x0501, 0, QByteArray()) +
           cardFile(0x0520, 0, identification) + cardFile(0x0520, 1, QByteArray(128, '\x05')) +
           cardFile(0x0502, 0, QByteArray(300, '\x20'));
}

// Everything a command line decides, in one line: type, TREPs up to the end mark, days, the
// D and V flags and the window position ("-" where there is none).
QString summaryOf(const QString& text) {
    const CommandLine command = parseCommandLine(text);
    QStringList treps;
    for (const quint8 trep : buildTrepSequence(command)) {
        treps << QString::number(trep);
        if (trep == kTrepEnd) break;
    }
    const auto number = [](std::optional<qint32> n) { return n ? QString::number(*n) : "-"; };
    return QString(command.downloadType) + ' ' + treps.join(',') + ' ' +
           QString::number(command.latestDays) + ' ' + (command.showWindow ? 'D' : '-') +
           (command.stayOpen ? 'V' : '-') + " {" + number(command.top) + ',' +
           number(command.left) + '}';
}
} // namespace

class TestEngineFunctions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A zone far from UTC, so that any local-time shift shows.
        qputenv("TZ", "XYZ-3");
        tzset(); // the date limits are left to the conversions to set on first use
    }

    // The unit's 32-bit second counts: from 1970 on, past 2038 as negative numbers, wrapping
    // at 2106; the calendar fields count, never a zone. Received bytes read the same, but for
    // the unit's "unknown", and a fifth byte is not read. The first conversion of all turns a
    // count into text: that one must set the date limits on its own.
    void dateToSecondsAndBack() {
        // clang-format off
        const std::tuple<const char*, const char*, const char*> rows[] = {
            {"1970-01-01T00:00:01Z", "00000001", "1970-01-01 00:00:01"},
            {"2024-03-01T00:00:00Z", "65E11A80", "2024-03-01"},
            {"2038-01-19T03:14:07Z", "7FFFFFFF", "2038-01-19 03:14:07"},
            {"2038-01-19T03:14:08Z", "80000000", "2038-01-19 03:14:08"},
            {"2106-02-07T06:28:15Z", "FFFFFFFF", "2106-02-07 06:28:15"},
            {"2106-02-07T06:28:16Z", "00000000", "No info."},
            {"1969-12-31T23:59:59Z", "FFFFFFFF", "2106-02-07 06:28:15"},
            {"2024-03-01T00:00:00+01:00", "65E11A80", "2024-03-01"},
            {"2024-03-01T00:00:00", "65E11A80", "2024-03-01"}}; // local time
        // clang-format on
        for (const auto& [date, hex, text] : rows) {
            const QByteArray bytes = QByteArray::fromHex(hex);
            QCOMPARE(secondsToDateText(qint32(bytes.toHex().toUInt(nullptr, 16))), text);
            QCOMPARE(secondsToBytes(dateToSeconds(QDateTime::fromString(date, Qt::ISODate))),
                     bytes);
            QCOMPARE(bytesToDateText(bytes + '\xFF'),
                     bytes == "\xFF\xFF\xFF\xFF" ? "Unknown" : text);
        }
        QCOMPARE(bytesToDateText(QByteArray::fromHex("FFFFFF")) + bytesToDateText({}),
                 "No info.No info.");                                // too short
        QCOMPARE(timeBase.secsTo(timeSignedLimit), qint64(INT_MAX)); // for other code
    }

    // Listed nations in order, then reserved numbers, then the three group codes; always
    // three characters, as file names use them. The table fills itself on first use.
    void nationAlpha() {
        QString codes;
        for (const int nation : {0x00, 0x0D, 0x15, 0x33, 0x34, 0xFC, 0xFD, 0xFE, 0xFF})
            codes += nationLetters(quint8(nation));
        QCOMPARE(codes, QString("UNKD  UK YU RFURFUEC EURWLD"));
        for (int n = 0; n < 256; ++n)
            QCOMPARE(nationLetters(quint8(n)).size(), 3);
    }

    void requestCatalogue() {
        // clang-format off
        const std::pair<QByteArray, const char*> rows[] = {
            {startCommunication(), "81EEF081E0"}, {startDiagnosticSession(), "80EEF0021081F1"},
            {verifyBaudRate(5), "80EEF00487010105F0"}, {transitionBaudRate(), "80EEF003870203ED"},
            {requestUpload(), "80EEF00A350000000000FFFFFFFF99"},
            {transferData(1), "80EEF002360197"}, {transferData(6), "80EEF00236069C"},
            {transferData(transferPrefix, 0x25), "80EEF0023625BB"},
            {transferDataDated(2, 1709251200), "80EEF006360265E11A807C"},
            {transferDataDated(2, INT_MIN), "80EEF0063602800000001C"},
            {transferExit(), "80EEF0013796"}, {stopCommunication(), "80EEF00182E1"},
            {acknowledgeSubMessage(0x0102), "80EEF004837601025E"},
            {acknowledgeSubMessage(0xFFFF), "80EEF0048376FFFF59"}};
        // clang-format on
        for (const auto& [request, hex] : rows)
            QCOMPARE(withChecksum(request).toHex().toUpper(), QByteArray(hex));
    }

    // Positive answers (+) by their SID, negative ones (-) by their response code, then
    // messages damaged or too short to hold a field in front of their checksum.
    void messageIds() {
        // clang-format off
        const QByteArray rows("+C1:1 +50:2 +C7:3 +75:5 +76:6 +77:7 +C2:8 +85:9 +36:8191 +00:8191 "
            "-10:10 -11:11 -12:12 -13:13 -22:14 -31:15 -50:16 -78:17 -FA:18 -33:8190 -00:8190 "
            "80F0EE03C1EA8F9C:4096 80F0EE037F36788F:4096 80F0EE02C1EA8F:4096 "
            ":4096 00:4097 8080:4097 80EEF003C1EA8F9B:4097 81F0EE03C1EA8F9C:4097 80F0EE5E:8191 "
            "80F0EE005E:8191 80F0EE017FDE:8190 80F0EE027F3615:8190 80F0EE057F3678AABBF5:17");
        // clang-format on
        for (const QByteArray& row : rows.split(' ')) {
            const QByteArray hex = row.split(':')[0], byte = QByteArray::fromHex(hex.mid(1));
            const QByteArray message = hex.startsWith('+')   ? responseFrame(byte + "\x01\x02")
                                       : hex.startsWith('-') ? negative(0x36, quint8(byte.at(0)))
                                                             : QByteArray::fromHex(hex);
            QVERIFY2(messageIdOf(message) == row.split(':')[1].toInt(), row.constData());
        }
    }

    // Which request an answer belongs to: the service, or the refused one; for Transfer Data
    // the TREP, the number of a first sub-message and the day; for an acknowledgement the
    // number it asks for, of the TREP being read.
    void answerForRequest() {
        const quint32 d = 1704067200; // 2024-01-01 00:00
        // A response: its hex head, then a time value when one is given.
        const auto r = [](const char* head, std::optional<quint32> time = {}) {
            const QByteArray t = time ? QByteArray::number(*time, 16).rightJustified(8, '0') : "";
            return responseFrame(spacedHex(head + t));
        };
        const auto part = [](const char* head) {
            return responseFrame(spacedHex(head) + QByteArray(251, 'x'));
        };
        const auto day = [](quint8 trep, quint32 t) { return transferDataDated(trep, qint32(t)); };
        const QByteArray ack3 = acknowledgeSubMessage(3), trep5 = transferData(5);
        // clang-format off
        const std::tuple<const char*, QByteArray, QByteArray, int, bool> rows[] = {
            {"start communication", startCommunication(), kStartCommOk, 0, true},
            {"start communication refused", startCommunication(), negative(0x81, 0x10), 0, true},
            {"another request refused", startCommunication(), negative(0x36, 0x12), 0, false},
            {"data for start communication", startCommunication(), r("7605AA"), 0, false},
            {"diagnostic session", startDiagnosticSession(), r("5081"), 0, true},
            {"data", trep5, r("7605AA"), 0, true},
            {"data of another TREP", trep5, r("7601AA"), 5, false},
            {"data pending", trep5, negative(0x36, 0x78), 0, true},
            {"acknowledgement answer to data", trep5, negative(0x83, 0x22), 5, false},
            {"first sub-message", trep5, part("7605 0001"), 0, true},
            {"later sub-message for a request", trep5, part("7605 0002"), 0, false},
            {"activities of the day", day(2, d), r("7602", d), 0, true},
            {"activities stamped late that day", day(2, d), r("7602", d + 86399), 0, true},
            {"activities of the day before", day(2, d), r("7602", d - 1), 0, false},
            {"activities of the next day", day(2, d), r("7602", d + 86400), 0, false},
            {"activities without their day", day(2, d), r("7602656F"), 0, false},
            {"activities in sub-messages", day(2, d), part("76020001"), 0, false},
            // The first of many sub-messages holds the day after its number.
            {"activities in sub-messages, their day", day(2, d), responseFrame(r("76020001", d).mid(4, 8) + QByteArray(247, 'x')), 0, true},
            {"version 2 activities", day(0x32, d), r("76320600040001", d), 0, true},
            {"version 2 activities, other record type", day(0x32, d), r("76320100040001", d), 0, true},
            {"version 2 activities, two records", day(0x32, d), r("76320600040002", d), 0, false},
            {"version 2 activities of another day", day(0x32, d), r("76320600040001", d + 86400), 0, false},
            {"version 2 activities without the day array", day(0x32, d), r("7632", d), 0, false},
            {"sub-message asked for", ack3, part("7604 0003"), 4, true},
            {"last sub-message asked for", ack3, r("76040003AA"), 4, true},
            {"sub-message before", ack3, part("7604 0002"), 4, false},
            {"sub-message after", ack3, part("7604 0004"), 4, false},
            {"sub-message of another TREP", ack3, part("7605 0003"), 4, false},
            {"acknowledgement refused", ack3, negative(0x83, 0xFA), 4, true},
            {"sub-message refused as data", ack3, negative(0x36, 0x22), 4, true},
            {"late data after exit", transferExit(), r("7605AA"), 5, false},
            {"stop", stopCommunication(), r("C2"), 0, true},
            {"no service", stopCommunication(), responseFrame({}), 0, false}};
        // clang-format on
        for (const auto& [name, request, response, trep, answers] : rows)
            QVERIFY2(answersRequest(response, request, quint8(trep)) == answers, name);
    }

    // Responses assembled from pieces by their length byte, noise before a start byte
    // dropped; a response cut short waits for the next piece.
    void assembly() {
        const QByteArray s = kStartCommOk.toHex().toUpper(), p = kPending.toHex().toUpper();
        const QByteArray longest = responseFrame(QByteArray(255, '\x76')).toHex().toUpper();
        const std::pair<QByteArray, QByteArray> rows[] = {
            // clang-format off
            {s, "0:" + s + " |"}, {"00FF7F F0EE " + s, "2:" + s + " |"},
            {s + p, "0:" + s + " 0:" + p + " |"}, {s + p.left(8), "0:" + s + " |" + p.left(8)},
            {"80F0EE03C1EA8F9C", "0:80F0EE03C1EA8F9C |"}, // a wrong checksum is still framed
            // The length byte rules: one short, and the last byte is noise before the next.
            {"80F0EE02C1EA8F9A" + p, "0:80F0EE02C1EA8F 0:" + p + " |"},
            {longest.left(200) + ' ' + longest.mid(200), "1:" + longest + " |"},
            {"0011FF7F", "|"}};
        // clang-format on
        for (const auto& [pieces, frames] : rows)
            QCOMPARE(assemble(pieces), frames);
        // Without a clear the repeated answer would be appended to the stale bytes.
        FrameAssembler assembler;
        QVERIFY(assembler.feed(kPending.left(5)).isEmpty() && assembler.expectedLength() == 8);
        assembler.clear();
        QCOMPARE(assembler.feed(kStartCommOk), QByteArrayList{kStartCommOk});
    }

    // Random responses with noise between them, cut at random places, come out whole and
    // in order.
    void randomPiecesAndNoise() {
        QRandomGenerator rng(20240301);
        const auto bytes = [&rng](int size, int below) {
            QByteArray data(size, '\0');
            std::generate(data.begin(), data.end(), [&] { return char(rng.bounded(below)); });
            return data;
        };
        for (int round = 0; round < 200; ++round) {
            QByteArrayList sent;
            QByteArray stream;
            for (int r = rng.bounded(1, 6); r > 0; --r) {
                sent << responseFrame(bytes(rng.bounded(1, 256), 256));
                stream += bytes(rng.bounded(0, 4), 0x80) + sent.last(); // noise below 0x80
            }
            FrameAssembler assembler;
            QByteArrayList got;
            for (qsizetype at = 0, n = 0; at < stream.size(); at += n)
                got += assembler.feed(stream.mid(at, n = rng.bounded(1, 40)));
            QCOMPARE(got, sent);
            QVERIFY(assembler.rxBuffer().isEmpty());
        }
    }

    // Every naming style for a unit's file and a card's, with nations of one to three letters.
    // The fields come untrusted from the data: "/" and control characters become "_", Latin-1
    // bytes their own characters; Spain drops the spaces around the registration number.
    void fileNames() {
        const QByteArray vin = QByteArray::fromHex("56494E2F0031328534359F37"); // "VIN/", NUL
        const QByteArray vrn = QByteArray("  ../\xC9 T\x7F") + "1\n  ";
        const QString surname = QString("O__Né").leftJustified(35);
        // clang-format off
        const std::tuple<const char*, quint8, const char*, const char*> rows[] = {
            {"EU", 0x11, "20261205_2107_  .._É T_1_  _VIN__12_45_7.DDD", "C_20261205_2107___$S_12__            .DDD"},
            {"FR", 0x11, "F__  .._É T_1_  2612052107.V1B", "F__12__            2612052107.C1A"},
            {"FR", 0x12, "FIN  .._É T_1_  2612052107.V1B", "FIN12__            2612052107.C1A"},
            {"ES", 0x15, ".._É T_1__UK_20261205_2107.TGD", "C_12__            _UK_20261205_2107.TGD"},
            {"LD", 0x12, "FIN  .._É T_1_  _VIN__12_45_7_20261205_2107.DDD", "C_$S___FIN__12__            _20261205_2107.DDD"},
            {"LD", 0x11, "F__  .._É T_1_  _VIN__12_45_7_20261205_2107.DDD", "C_$S___F____12__            _20261205_2107.DDD"},
            {"eu", 0x11, "saved.ddd", ""}};
        // clang-format on
        for (const auto& [style, nation, vuName, cardName] : rows) {
            const QByteArray id = identificationBlock(nation, "12/\n", "O/\x01N\xE9", "/ean");
            QCOMPARE(vuFileNameFor(style, vin, vrn, nationLetters(nation), kEvening), vuName);
            QCOMPARE(cardFileNameFor(style, cardChain(id), kEvening),
                     QString(cardName).replace("$S", surname));
        }
        // The prefix of a VU download's name: none in France, V_ in Spain, else the kind.
        QCOMPARE(vuNamePrefix("M", "FR") + '|' + vuNamePrefix("M", "ES") + '|' +
                     vuNamePrefix("C", "FR"),
                 "|V_|C_");
    }

    // The naming fields of second-generation overviews, whatever their arrays hold; cut short
    // anywhere, what came before is read, but never a period without its end.
    void secondGenOverview() {
        const QByteArray number = "GEN2-REG-0013";
        const QByteArray gen2 = kVin + '|' + number + "|5f5e1000|5e0be100 5f5e0f00+";
        const QByteArray noVrn = kVin + "||5f5e1000|5e0be100 5f5e0f00+";
        const QByteArray whole = overviewBlock();
        const auto patched = [&whole](qsizetype at, const char* hex) {
            return QByteArray(whole).replace(at, qstrlen(hex) / 2, QByteArray::fromHex(hex));
        };
        const std::pair<QByteArray, QByteArray> rows[] = {
            {whole, kWhole},
            {overviewBlock(20000, 3), kWhole}, // beyond 16-bit positions
            // The number's place follows the record size; an unusable registration does not
            // cost the fields after it.
            {overviewBlock(194, 1, "\x01" + number), gen2},
            {overviewBlock(194, 1, "\x0D\x01" + number + QByteArray(2, '\0')), gen2},
            {overviewBlock(194, 1, number), noVrn},
            {overviewBlock(194, 1, "\x0D\x01" + number, 0), noVrn},
            {whole.left(2 + 199 * 2 + 22 + 8), kVin + "||| "},
            {patched(3, "FFFFFFFF"), "||| "},   // an array longer than the data
            {patched(401, "00100001"), "||| "}, // a VIN record too short
            {patched(kPeriodEnd - 12, "00040002"), kVin + '|' + kVrn + "|5f5e1000| "},
            {QByteArray(600, '\xFF'), "||| "}};
        for (const auto& [overview, read] : rows)
            QCOMPARE(parseOverview(overview), read);
        for (qsizetype length = 0; length < whole.size(); ++length) {
            const SecondGenOverview read = readSecondGenOverview(whole.left(length));
            QCOMPARE(read.complete, length >= kPeriodEnd);
            QCOMPARE(read.latestTime.isEmpty(), !read.complete);
        }
    }

    // The identification file is found by walking the chain's headers, the last one wins.
    void cardNames() {
        const QByteArray id = cardFile(0x0520, 0, kSmith);
        // clang-format off
        const std::pair<QByteArray, bool> rows[] = {
            {cardChain(kSmith), true}, {id.left(107), false}, {QByteArray::fromHex("0520"), false},
            // Bytes that look like a header inside another file's data are not a header.
            {cardFile(0x0501, 0, QByteArray("\x05\x20\0", 3) + identificationBlock(0x11, "X", "X", "X")) + id, true},
            {cardFile(0x0520, 0, identificationBlock(0x11, "FIRST", "A", "B")) + id, true},
            {QByteArray::fromHex("050100FFFF") + id, false}};
        // clang-format on
        for (const auto& [card, found] : rows)
            QCOMPARE(cardFileNameFor("ES", card, kEvening),
                     found ? "C_DB12345678901234_UK_20261205_2107.TGD" : "");
    }

    void parse() {
        const QString all = "A 5,1,2,3,4,5,255 0 ";
        const QString twos = "L [" + QString("002").repeated(19);
        const QString nineteen = "L 5," + QString("2,").repeated(19) + "255 3 -- {-,-}";
        const std::pair<QString, QString> rows[] = {
            {"A E {4200,7500}", all + "-- {4200,7500}"},
            {"\"L [002003005] 28 E {4200,7500}\"", "L 5,2,3,5,255 28 -- {4200,7500}"},
            {"\"L [001017018] 7 E {0,0}\"", "L 5,1,17,18,255 7 -- {0,0}"},
            {"C E {15,30}", "C 5,6,255 0 -- {15,30}"},
            {"E", "Z 255 0 -- {-,-}"},
            {"C A", all + "-- {-,-}"},
            {"A D V", all + "DV {-,-}"},
            // Days: halves to even, held to 0..366 however large, 0 for no number, and
            // counted only when something follows them.
            {"L [001] 28.5 E", "L 5,1,255 28 -- {-,-}"},
            {"L [001] 99999999999 E", "L 5,1,255 366 -- {-,-}"},
            {"L [001] -3 E", "L 5,1,255 0 -- {-,-}"},
            {"L [001] x E", "L 5,1,255 0 -- {-,-}"},
            {"L [001] nan E", "L 5,1,255 0 -- {-,-}"},
            {"L [001002] 28", "L 5,1,2,255 0 -- {-,-}"},
            // List entries: read as far as their digits go, left out above 255, 19 at most.
            {"L [01 002] 5 E", "L 5,1,2,255 5 -- {-,-}"},
            {"L [00100] 5 E", "L 5,1,0,255 5 -- {-,-}"},
            {"L [001999003] 5 E", "L 5,1,3,255 5 -- {-,-}"},
            {twos + "] 3 E", nineteen},
            {twos + "002] 3 E", nineteen},
            {"L ]001[ 5 E", "L 5,255 0 -- {-,-}"},
            // D, V and the position count only after a Latest VU list.
            {"\"L D V [001] 7 E\"", "L 5,1,255 7 -- {-,-}"},
            {"\"L [001] 7 E D V {1,2}\"", "L 5,1,255 7 DV {1,2}"},
            // The position: each edge on its own, and only with "{", "," and "}" in order.
            {"A {4200.5,}", all + "-- {4200,-}"},
            {"A {x,12}", all + "-- {-,12}"},
            {"A {2147483647.4,-2147483649}", all + "-- {2147483647,-}"},
            {"A {-2147483648,2147483648}", all + "-- {-2147483648,-}"},
            {"A }1,2{", all + "-- {-,-}"},
            {"A {1,2", all + "-- {-,-}"},
            {"A {5},7", all + "-- {-,-}"},
            {"{3,4}", "Z 255 0 -- {3,4}"},
            {"5,6}", "Z 255 0 -- {-,-}"},
        };
        for (const auto& [text, summary] : rows)
            QCOMPARE(summaryOf(text), summary);
        // A usable list holds one to 19 entries of three digits; quotes go from both ends.
        const QString one = "001";
        QVERIFY(!isUsableTrepList("") && !isUsableTrepList("01"));
        QVERIFY(isUsableTrepList(one) && isUsableTrepList(one.repeated(19)));
        QVERIFY(!isUsableTrepList(one.repeated(19) + "1") && !isUsableTrepList(one.repeated(20)));
        QCOMPARE(stripQuotes("\"\"L [1]\"\"") + stripQuotes("|\"a\"b\"") + stripQuotes("\"\"\""),
                 QString("L [1]|\"a\"b"));
    }
};

QTEST_GUILESS_MAIN(TestEngineFunctions)
#include "test_engine_functions.moc"
