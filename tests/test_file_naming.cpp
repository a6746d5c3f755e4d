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

struct Gen2 {
    QByteArray overview;
    qsizetype periodEnd = 0; // the length up to the end of the downloadable period
};

// A registration record as the regulation has it: nation, code page, number.
const QByteArray kRegistration = "\x0D\x01" + kVrn;

// Two certificate arrays, VIN, registration, current time, downloadable period, then a
// card-slots array that the reader never needs.
Gen2 MakeOverview(int certificateSize = 194, int certificates = 1,
                  const QByteArray& registration = kRegistration, int registrations = 1) {
    Gen2 g;
    g.overview = QByteArray::fromHex("7621");
    g.overview += Array(0x0B, certificateSize, certificates,
                        QByteArray(certificateSize * certificates, '\xC1'));
    g.overview += Array(0x0C, 194, 1, QByteArray(194, '\xC2'));
    g.overview += Array(0x0A, 17, 1, kVin);
    g.overview +=
        Array(0x0E, int(registration.size()), registrations, registration.repeated(registrations));
    g.overview += Array(0x12, 4, 1, QByteArray::fromHex("5F5E1000"));
    g.overview += Array(0x13, 8, 1, QByteArray::fromHex("5E0BE1005F5E0F00"));
    g.periodEnd = g.overview.size();
    g.overview += Array(0x14, 1, 1, QByteArray(1, '\0'));
    return g;
}

QByteArray Padded(const QByteArray& text, int size, char pad = ' ') {
    return text.leftJustified(size, pad, true);
}

// The identification file's data: card identification, then the card holder.
QByteArray Identification(quint8 nation, const QByteArray& number, const QByteArray& surname,
                          const QByteArray& firstNames) {
    QByteArray data(1, char(nation));
    data += Padded(number, 16);
    data += Padded("DVLA", 36) + QByteArray(12, '\x10');
    data += "\x01" + Padded(surname, 35);
    data += "\x01" + Padded(firstNames, 35);
    data += QByteArray::fromHex("19800101") + "en";
    return data;
}

QByteArray CardChain(const QByteArray& identification) {
    return CardFile(0x0002, 0, QByteArray(25, '\x11')) + CardFile(0x0501, 0, QByteArray()) +
           CardFile(0x0520, 0, identification) + CardFile(0x0520, 1, QByteArray(128, '\x05')) +
           CardFile(0x0502, 0, QByteArray(300, '\x20'));
}

const QByteArray kSmith = Identification(0x15, "DB12345678901234", "SMITH", "JOHN");
const QString kSmith35 = QStringLiteral("SMITH").leftJustified(35);

} // namespace

class TestFileNaming : public QObject {
    Q_OBJECT

private slots:
    void vuName_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QByteArray>("vrn");
        QTest::addColumn<QString>("nation");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("name");
        const QString vin = QString::fromLatin1(kVin);
        QTest::newRow("EU keeps padding")
            << "EU" << kVrn << "F  " << kDec5 << "20261205_0907_AB123CD      _" + vin + ".DDD";
        QTest::newRow("FR F") << "FR" << kVrn << "F  " << kDec5 << "F__AB123CD      2612050907.V1B";
        QTest::newRow("FR FIN") << "FR" << kVrn << "FIN" << kDec5
                                << "FINAB123CD      2612050907.V1B";
        QTest::newRow("ES trims") << "ES" << QByteArray("  AB 12 CD   ") << "UK " << kDec5
                                  << "AB 12 CD_UK_20261205_0907.TGD";
        QTest::newRow("LD UK") << "LD" << kVrn << "UK " << kDec5
                               << "UK_AB123CD      _" + vin + "_20261205_0907.DDD";
        QTest::newRow("FR gen2") << "FR" << kVrn << "___" << kDec5
                                 << "___AB123CD      2612050907.V1B";
        QTest::newRow("ES gen2") << "ES" << kVrn << "___" << kDec5
                                 << "AB123CD_____20261205_0907.TGD";
        QTest::newRow("LD gen2") << "LD" << kVrn << "___" << kDec5
                                 << "___AB123CD      _" + vin + "_20261205_0907.DDD";
        QTest::newRow("midnight, 24-hour clock")
            << "EU" << kVrn << "D  " << QDateTime(QDate(2009, 1, 2), QTime(0, 5))
            << "20090102_0005_AB123CD      _" + vin + ".DDD";
        QTest::newRow("afternoon FR")
            << "FR" << kVrn << "D  " << QDateTime(QDate(2031, 7, 30), QTime(23, 59))
            << "D__AB123CD      3107302359.V1B";
        QTest::newRow("engine default style") << " " << kVrn << "F  " << kDec5 << "saved.ddd";
        QTest::newRow("lower case style") << "eu" << kVrn << "F  " << kDec5 << "saved.ddd";
        QTest::newRow("empty style") << "" << kVrn << "F  " << kDec5 << "saved.ddd";
    }

    void vuName() {
        QFETCH(QString, style);
        QFETCH(QByteArray, vrn);
        QFETCH(QString, nation);
        QFETCH(QDateTime, now);
        QFETCH(QString, name);
        QCOMPARE(VuFileNameFor(style, kVin, vrn, nation, now), name);
    }

    // Untrusted bytes never lead out of the folder nor into an unusable name.
    void hostileVuFields_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("name");
        QTest::newRow("EU") << "EU"
                            << "20261205_0907_.._.._etc_x_y_z_ _VIN__12_45_7.DDD";
        QTest::newRow("ES") << "ES"
                            << ".._.._etc_x_y_z__F_20261205_0907.TGD";
        QTest::newRow("LD") << "LD"
                            << "F__.._.._etc_x_y_z_ _VIN__12_45_7_20261205_0907.DDD";
    }

    void hostileVuFields() {
        QFETCH(QString, style);
        QFETCH(QString, name);
        const QByteArray vrn("../../etc\x00x\ny\x7Fz\x1F ", 17);
        const QByteArray vin("VIN/\x00"
                             "12\x85"
                             "45\x9F"
                             "7",
                             12);
        const QString built = VuFileNameFor(style, vin, vrn, "F  ", kDec5);
        QCOMPARE(built, name);
        QVERIFY(!built.contains(QLatin1Char('/')));
    }

    void latin1BecomesUtf8() {
        const QByteArray vrn("M\xDCLLER \xC9T\xE9   ");
        const QString name = VuFileNameFor("ES", kVin, vrn, "D  ", kDec5);
        QCOMPARE(name, QString::fromUtf8("MÜLLER ÉTé_D_20261205_0907.TGD"));
        QCOMPARE(QFile::encodeName(name),
                 QByteArray("M\xC3\x9CLLER \xC3\x89T\xC3\xA9_D_20261205_0907.TGD"));
    }

    void nationFields_data() {
        QTest::addColumn<QString>("nation");
        QTest::addColumn<QString>("nt");
        QTest::addColumn<QString>("n3");
        QTest::addColumn<QString>("n4");
        QTest::newRow("F") << "F  "
                           << "F"
                           << "F__"
                           << "F___";
        QTest::newRow("UK") << "UK "
                            << "UK"
                            << "UK_"
                            << "UK__";
        QTest::newRow("FIN") << "FIN"
                             << "FIN"
                             << "FIN"
                             << "FIN_";
        QTest::newRow("gen2") << "___"
                              << "___"
                              << "___"
                              << "____";
        QTest::newRow("empty") << ""
                               << ""
                               << "___"
                               << "____";
    }

    void nationFields() {
        QFETCH(QString, nation);
        QFETCH(QString, nt);
        QFETCH(QString, n3);
        QFETCH(QString, n4);
        QCOMPARE(NationWithoutSpaces(nation), nt);
        QCOMPARE(NationPadded(nation, 3), n3);
        QCOMPARE(NationPadded(nation, 4), n4);
    }

    void prefix_data() {
        QTest::addColumn<QString>("dataKind");
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("M FR") << "M"
                              << "FR"
                              << "";
        QTest::newRow("M ES") << "M"
                              << "ES"
                              << "V_";
        QTest::newRow("M EU") << "M"
                              << "EU"
                              << "M_";
        QTest::newRow("M LD") << "M"
                              << "LD"
                              << "M_";
        QTest::newRow("M default") << "M"
                                   << " "
                                   << "M_";
        QTest::newRow("C FR") << "C"
                              << "FR"
                              << "C_";
        QTest::newRow("C ES") << "C"
                              << "ES"
                              << "C_";
        QTest::newRow("U EU") << "U"
                              << "EU"
                              << "U_";
        QTest::newRow("S LD") << "S"
                              << "LD"
                              << "S_";
        QTest::newRow("empty") << ""
                               << "EU"
                               << "_";
        QTest::newRow("empty FR") << ""
                                  << "FR"
                                  << "_";
    }

    void prefix() {
        QFETCH(QString, dataKind);
        QFETCH(QString, style);
        QFETCH(QString, prefix);
        QCOMPARE(VuNamePrefix(dataKind, style), prefix);
    }

    void secondGenOverview_data() {
        QTest::addColumn<int>("certificateSize");
        QTest::addColumn<int>("certificates");
        QTest::newRow("one certificate") << 194 << 1;
        QTest::newRow("two certificates") << 194 << 2;
        QTest::newRow("empty certificate array") << 0 << 0;
        // Past the reach of 16-bit positions.
        QTest::newRow("large array") << 20000 << 3;
    }

    void secondGenOverview() {
        QFETCH(int, certificateSize);
        QFETCH(int, certificates);
        const SecondGenOverview read =
            ReadSecondGenOverview(MakeOverview(certificateSize, certificates).overview);
        QVERIFY(read.complete);
        QCOMPARE(read.Vin, kVin);
        QCOMPARE(read.Vrn, kVrn);
        QCOMPARE(read.CurrentTime, QByteArray::fromHex("5F5E1000"));
        QCOMPARE(read.OldestTime, QByteArray::fromHex("5E0BE100"));
        QCOMPARE(read.LatestTime, QByteArray::fromHex("5F5E0F00"));
    }

    // The number's place follows the record size; every character of it must land, so the
    // registration has no two alike at neighbouring places.
    void secondGenOverviewRegistration_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("vrn");
        const QByteArray number = "GEN2-REG-0013";
        QTest::newRow("nation, code page, number") << "\x0D\x01" + number << 1 << number;
        QTest::newRow("code page and number") << "\x01" + number << 1 << number;
        QTest::newRow("longer record") << "\x0D\x01" + number + "\x00\x00" << 1 << number;
        QTest::newRow("two records, the first counts") << "\x0D\x01" + number << 2 << number;
        QTest::newRow("number alone") << number << 1 << QByteArray();
        QTest::newRow("no record") << "\x0D\x01" + number << 0 << QByteArray();
    }

    void secondGenOverviewRegistration() {
        QFETCH(QByteArray, record);
        QFETCH(int, records);
        QFETCH(QByteArray, vrn);
        const SecondGenOverview read =
            ReadSecondGenOverview(MakeOverview(194, 1, record, records).overview);
        QCOMPARE(read.Vrn, vrn);
        // An unusable registration does not cost the fields after it.
        QVERIFY(read.complete);
        QCOMPARE(read.Vin, kVin);
        QCOMPARE(read.LatestTime, QByteArray::fromHex("5F5E0F00"));
    }

    // The anonymized samples' overviews (TREP 0x31) carry the regulation's 15-byte record.
    void secondGenSampleOverview_data() {
        QTest::addColumn<QString>("sample");
        QTest::newRow("003") << "vu_gen2v2_003-anonymized.DDD";
        QTest::newRow("004") << "vu_gen2v2_004-anonymized.DDD";
    }

    void secondGenSampleOverview() {
        QFETCH(QString, sample);
        QFile file(QStringLiteral(VANTREL_SAMPLES_DIR "/") + sample);
        if (!file.open(QIODevice::ReadOnly)) QSKIP("sample files (../shared/samples) are not here");
        const SecondGenOverview read = ReadSecondGenOverview(file.readAll());
        QVERIFY(read.complete);
        QCOMPARE(read.Vin, QByteArray(17, '*'));
        QCOMPARE(read.Vrn, QByteArray(13, '*'));
        QCOMPARE(read.OldestTime, QByteArray::fromHex("6928E600"));
    }

    void secondGenOverviewEveryTruncation() {
        const Gen2 g = MakeOverview();
        for (qsizetype length = 0; length < g.overview.size(); ++length) {
            const SecondGenOverview read = ReadSecondGenOverview(g.overview.left(length));
            QCOMPARE(read.complete, length >= g.periodEnd);
            QVERIFY(read.LatestTime.isEmpty() || read.complete);
        }
        // Cut inside the registration array: what came before is still read.
        const SecondGenOverview partial =
            ReadSecondGenOverview(g.overview.left(2 + 199 * 2 + 22 + 8));
        QCOMPARE(partial.Vin, kVin);
        QVERIFY(partial.Vrn.isEmpty());
        QVERIFY(partial.CurrentTime.isEmpty());
    }

    void secondGenOverviewMalformed_data() {
        QTest::addColumn<QByteArray>("overview");
        const Gen2 g = MakeOverview();
        const qsizetype vinHeader = 2 + 199 * 2;
        QByteArray hugeCount = g.overview;
        hugeCount.replace(3, 4, QByteArray::fromHex("FFFFFFFF"));
        QByteArray shortVin = g.overview;
        shortVin.replace(vinHeader + 1, 4, QByteArray::fromHex("00100001"));
        QByteArray noVinRecord = g.overview;
        noVinRecord.replace(vinHeader + 3, 2, QByteArray::fromHex("0000"));
        QByteArray shortPeriod = g.overview;
        shortPeriod.replace(g.periodEnd - 12, 4, QByteArray::fromHex("00040002"));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("echo only") << QByteArray::fromHex("7621");
        QTest::newRow("array longer than the data") << hugeCount;
        QTest::newRow("VIN record too short") << shortVin;
        QTest::newRow("no VIN record") << noVinRecord;
        QTest::newRow("period record too short") << shortPeriod;
        QTest::newRow("all 0xFF") << QByteArray(600, '\xFF');
    }

    void secondGenOverviewMalformed() {
        QFETCH(QByteArray, overview);
        const SecondGenOverview read = ReadSecondGenOverview(overview);
        QVERIFY(!read.complete);
        QVERIFY(read.LatestTime.isEmpty());
    }

    void cardName_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("name");
        QTest::newRow("EU") << "EU"
                            << "C_20261205_0907_J_" + kSmith35 + "_DB12345678901234.DDD";
        QTest::newRow("FR") << "FR"
                            << "UK_DB123456789012342612050907.C1A";
        QTest::newRow("ES") << "ES"
                            << "C_DB12345678901234_UK_20261205_0907.TGD";
        QTest::newRow("LD") << "LD"
                            << "C_" + kSmith35 + "_J_UK___DB12345678901234_20261205_0907.DDD";
        QTest::newRow("other style") << "XX"
                                     << "";
    }

    void cardName() {
        QFETCH(QString, style);
        QFETCH(QString, name);
        QCOMPARE(sGetCardFileName(style, CardChain(kSmith), kDec5), name);
    }

    void cardScan_data() {
        QTest::addColumn<QByteArray>("card");
        QTest::addColumn<QString>("name");
        const QString smith = "C_DB12345678901234_UK_20261205_0907.TGD";
        QTest::newRow("identification only") << CardFile(0x0520, 0, kSmith) << smith;
        QTest::newRow("after other and zero-length files") << CardChain(kSmith) << smith;
        QTest::newRow("zero-length file first")
            << CardFile(0x0002, 0, QByteArray()) + CardFile(0x0520, 0, kSmith) << smith;
        // Bytes that look like a header inside another file's data are not a header.
        QTest::newRow("look-alike inside data")
            << CardFile(0x0501, 0,
                        QByteArray::fromHex("052000") + Identification(0x11, "FAKE", "X", "Y")) +
                   CardFile(0x0520, 0, kSmith)
            << smith;
        QTest::newRow("signature appendix ignored")
            << CardFile(0x0520, 0, kSmith) +
                   CardFile(0x0520, 1, Identification(0x11, "SIG", "S", "S"))
            << smith;
        QTest::newRow("later identification wins")
            << CardFile(0x0520, 0, Identification(0x11, "FIRST", "A", "B")) + CardChain(kSmith)
            << smith;
        QTest::newRow("hostile fields") << CardFile(0x0520, 0,
                                                    Identification(0x0D,
                                                                   QByteArray("../x/\x00\x0A"
                                                                              "y",
                                                                              8),
                                                                   "Z", "Z"))
                                        << "C_.._x___y        _D_20261205_0907.TGD";
        QTest::newRow("no identification") << CardFile(0x0002, 0, QByteArray(25, '\x11')) +
                                                  CardFile(0x0501, 0, QByteArray(10, 'a'))
                                           << "";
        QTest::newRow("identification cut short") << CardFile(0x0520, 0, kSmith).left(107) << "";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("partial header") << QByteArray::fromHex("0520") << "";
        QTest::newRow("length past the end")
            << QByteArray::fromHex("050100FFFF") + CardFile(0x0520, 0, kSmith) << "";
    }

    void cardScan() {
        QFETCH(QByteArray, card);
        QFETCH(QString, name);
        QCOMPARE(sGetCardFileName("ES", card, kDec5), name);
    }

    void hostileCardNames() {
        const QByteArray id = Identification(0x11, "12/4", QByteArray("O/\x01N\xE9", 5), "/ean");
        const QString eu = sGetCardFileName("EU", CardFile(0x0520, 0, id), kDec5);
        QCOMPARE(eu, "C_20261205_0907___" + QString::fromUtf8("O__Né").leftJustified(35) +
                         "_12_4            .DDD");
    }

    void candidatePath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("candidate");
        QTest::newRow("itself") << "/d/X.DDD" << 0 << "/d/X.DDD";
        QTest::newRow("first") << "/d/X.DDD" << 1 << "/d/X_1.DDD";
        QTest::newRow("second") << "/d/X.DDD" << 2 << "/d/X_2.DDD";
        QTest::newRow("saved") << "/d/saved.ddd" << 12 << "/d/saved_12.ddd";
        QTest::newRow("TGD") << "/d/V_A_F_20261205_0907.TGD" << 1 << "/d/V_A_F_20261205_0907_1.TGD";
        QTest::newRow("short") << "ab" << 1 << "_1ab";
    }

    void candidatePath() {
        QFETCH(QString, path);
        QFETCH(int, n);
        QFETCH(QString, candidate);
        QCOMPARE(CandidatePath(path, n), candidate);
    }
};

QTEST_GUILESS_MAIN(TestFileNaming)
#include "test_file_naming.moc"
