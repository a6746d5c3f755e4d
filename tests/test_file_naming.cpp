#include "CardBytes.h"
#include "FileNaming.h"
#include "NationCodes.h"

#include <QFile>
#include <QTest>

namespace {

const QDateTime kDec5 = QDateTime(QDate(2026, 12, 5), QTime(9, 7, 59));
const QByteArray kVin = "WDB9066351S123456";
const QByteArray kVrn = "AB123CD      "; // seven characters and six spaces

// One record array of a second-generation overview.
QByteArray Array(int type, int size, int count, const QByteArray& records) {
    return QByteArray(1, char(type)) + Word(size) + Word(count) + records;
}

// Two certificate arrays, VIN, registration, current time, downloadable period, then a
// card-slots array that the reader never needs.
QByteArray Overview(int certificateSize = 194, int certificates = 1,
                    const QByteArray& registration = "\x0D\x01" + kVrn, int registrations = 1) {
    return QByteArray::fromHex("7621") +
           Array(0x0B, certificateSize, certificates,
                 QByteArray(certificateSize * certificates, '\xC1')) +
           Array(0x0C, 194, 1, QByteArray(194, '\xC2')) + Array(0x0A, 17, 1, kVin) +
           Array(0x0E, int(registration.size()), registrations,
                 registration.repeated(registrations)) +
           Array(0x12, 4, 1, QByteArray::fromHex("5F5E1000")) +
           Array(0x13, 8, 1, QByteArray::fromHex("5E0BE1005F5E0F00")) +
           Array(0x14, 1, 1, QByteArray(1, '\0'));
}
constexpr qsizetype kPeriodEnd = 2 + 199 * 2 + 22 + 20 + 9 + 13;

// What was read, as "VIN|VRN|current|oldest latest", and "+" when the period was reached.
QByteArray Read(const QByteArray& overview) {
    const SecondGenOverview read = ReadSecondGenOverview(overview);
    return read.Vin + '|' + read.Vrn + '|' + read.CurrentTime.toHex() + '|' +
           read.OldestTime.toHex() + ' ' + read.LatestTime.toHex() + (read.complete ? "+" : "");
}
const QByteArray kWhole = kVin + '|' + kVrn + "|5f5e1000|5e0be100 5f5e0f00+";

// The identification file's data: card identification, then the card holder.
QByteArray Identification(quint8 nation, const QByteArray& number, const QByteArray& surname,
                          const QByteArray& firstNames) {
    const auto padded = [](const QByteArray& text, int size) {
        return text.leftJustified(size, ' ', true);
    };
    return char(nation) + padded(number, 16) + padded("DVLA", 36) + QByteArray(12, '\x10') +
           "\x01" + padded(surname, 35) + "\x01" + padded(firstNames, 35) +
           QByteArray::fromHex("19800101") + "en";
}
const QByteArray kSmith = Identification(0x15, "DB12345678901234", "SMITH", "JOHN");

QByteArray CardChain(const QByteArray& identification) {
    return CardFile(0x0002, 0, QByteArray(25, '\x11')) + CardFile(0x0501, 0, QByteArray()) +
           CardFile(0x0520, 0, identification) + CardFile(0x0520, 1, QByteArray(128, '\x05')) +
           CardFile(0x0502, 0, QByteArray(300, '\x20'));
}

} // namespace

class TestFileNaming : public QObject {
    Q_OBJECT

private slots:
    void vuNames() {
        const QString vin = QString::fromLatin1(kVin);
        const QDateTime late(QDate(2031, 7, 30), QTime(23, 59));
        const struct {
            const char* style;
            QByteArray vrn;
            const char* nation;
            QDateTime now;
            QString name;
        } rows[] = {
            {"EU", kVrn, "F  ", kDec5, "20261205_0907_AB123CD      _" + vin + ".DDD"},
            {"FR", kVrn, "F  ", kDec5, "F__AB123CD      2612050907.V1B"},
            {"FR", kVrn, "FIN", late, "FINAB123CD      3107302359.V1B"},
            {"ES", "  AB 12 CD   ", "UK ", kDec5, "AB 12 CD_UK_20261205_0907.TGD"},
            {"LD", kVrn, "UK ", kDec5, "UK_AB123CD      _" + vin + "_20261205_0907.DDD"},
            {"eu", kVrn, "F  ", kDec5, "saved.ddd"},
            // Latin-1 bytes of the unit become their own characters.
            {"ES", "M\xDCLLER \xC9T\xE9   ", "D  ", kDec5,
             QString::fromUtf8("MÜLLER ÉTé_D_20261205_0907.TGD")},
        };
        for (const auto& row : rows)
            QCOMPARE(VuFileNameFor(row.style, kVin, row.vrn, row.nation, row.now), row.name);
    }

    // Untrusted bytes never lead out of the folder nor into an unusable name.
    void hostileVuFields() {
        const QByteArray vin = QByteArray::fromHex("56494E2F0031328534359F37"); // "VIN/", NUL..
        const QByteArray vrn = QByteArray::fromHex("2E2E2F2E2E2F65746300780A797F7A1F20"); // "../"
        QCOMPARE(VuFileNameFor("EU", vin, vrn, "F  ", kDec5),
                 "20261205_0907_.._.._etc_x_y_z_ _VIN__12_45_7.DDD");
        QCOMPARE(VuFileNameFor("ES", vin, vrn, "F  ", kDec5),
                 ".._.._etc_x_y_z__F_20261205_0907.TGD");
    }

    // The naming fields of second-generation overviews, whatever their arrays hold; cut short
    // anywhere, what came before is read, but never a period without its end.
    void secondGenOverview() {
        const QByteArray number = "GEN2-REG-0013";
        const QByteArray gen2 = kVin + '|' + number + "|5f5e1000|5e0be100 5f5e0f00+";
        const QByteArray noVrn = kVin + "||5f5e1000|5e0be100 5f5e0f00+";
        const QByteArray whole = Overview();
        const auto patched = [&whole](qsizetype at, const char* hex) {
            return QByteArray(whole).replace(at, qstrlen(hex) / 2, QByteArray::fromHex(hex));
        };
        const std::pair<QByteArray, QByteArray> rows[] = {
            {whole, kWhole},
            {Overview(20000, 3), kWhole}, // beyond 16-bit positions
            // The number's place follows the record size; an unusable registration does not
            // cost the fields after it.
            {Overview(194, 1, "\x01" + number), gen2},
            {Overview(194, 1, "\x0D\x01" + number + QByteArray(2, '\0')), gen2},
            {Overview(194, 1, "\x0D\x01" + number, 2), gen2},
            {Overview(194, 1, number), noVrn},
            {Overview(194, 1, "\x0D\x01" + number, 0), noVrn},
            {whole.left(2 + 199 * 2 + 22 + 8), kVin + "||| "},
            {patched(3, "FFFFFFFF"), "||| "},   // an array longer than the data
            {patched(401, "00100001"), "||| "}, // a VIN record too short
            {patched(kPeriodEnd - 12, "00040002"), kVin + '|' + kVrn + "|5f5e1000| "},
            {QByteArray(600, '\xFF'), "||| "}};
        for (const auto& [overview, read] : rows)
            QCOMPARE(Read(overview), read);
        for (qsizetype length = 0; length < whole.size(); ++length) {
            const SecondGenOverview read = ReadSecondGenOverview(whole.left(length));
            QCOMPARE(read.complete, length >= kPeriodEnd);
            QCOMPARE(read.LatestTime.isEmpty(), !read.complete);
        }
    }

    // The anonymized samples' overviews (TREP 0x31) carry the regulation's 15-byte record.
    void secondGenSampleOverviews() {
        for (const char* sample :
             {"vu_gen2v2_003-anonymized.DDD", "vu_gen2v2_004-anonymized.DDD"}) {
            QFile file(QStringLiteral(VANTREL_SAMPLES_DIR "/") + sample);
            if (!file.open(QIODevice::ReadOnly)) QSKIP("the sample files are not here");
            const QByteArray read = Read(file.readAll());
            QCOMPARE(read.left(32), QByteArray(17, '*') + '|' + QByteArray(13, '*') + '|');
            QVERIFY(read.endsWith("+"));
        }
    }

    void cardNames() {
        const QString smith35 = QString("SMITH").leftJustified(35);
        const QByteArray chain = CardChain(kSmith);
        QCOMPARE(sGetCardFileName("EU", chain, kDec5),
                 "C_20261205_0907_J_" + smith35 + "_DB12345678901234.DDD");
        QCOMPARE(sGetCardFileName("XX", chain, kDec5), QString());
        const QByteArray hostile = Identification(0x11, "12/4", "O/\x01N\xE9", "/ean");
        QCOMPARE(sGetCardFileName("EU", CardFile(0x0520, 0, hostile), kDec5),
                 "C_20261205_0907___" + QString::fromUtf8("O__Né").leftJustified(35) +
                     "_12_4            .DDD");
    }

    // The identification file is found by walking the chain's headers, the last one wins.
    void cardScan() {
        const QString smith = "C_DB12345678901234_UK_20261205_0907.TGD";
        const QByteArray id = CardFile(0x0520, 0, kSmith);
        const std::pair<QByteArray, QString> rows[] = {
            {CardChain(kSmith), smith},
            {CardFile(0x0002, 0, QByteArray()) + id, smith},
            // Bytes that look like a header inside another file's data are not a header.
            {CardFile(0x0501, 0,
                      "\x05\x20" + QByteArray(1, '\0') + Identification(0x11, "X", "X", "X")) +
                 id,
             smith},
            {id + CardFile(0x0520, 1, Identification(0x11, "SIG", "S", "S")), smith},
            {CardFile(0x0520, 0, Identification(0x11, "FIRST", "A", "B")) + CardChain(kSmith),
             smith},
            {CardFile(0x0520, 0, Identification(0x0D, QByteArray("../x/\0\ny", 8), "Z", "Z")),
             "C_.._x___y        _D_20261205_0907.TGD"},
            {id.left(107), ""},
            {QByteArray::fromHex("0520"), ""},
            {QByteArray::fromHex("050100FFFF") + id, ""}};
        for (const auto& [card, name] : rows)
            QCOMPARE(sGetCardFileName("ES", card, kDec5), name);
    }
};

QTEST_GUILESS_MAIN(TestFileNaming)
#include "test_file_naming.moc"
