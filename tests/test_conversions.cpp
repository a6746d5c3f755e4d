#include "Conversions.h"
#include "NationCodes.h"

#include <QTest>
#include <climits>
#include <ctime>

namespace {

QDateTime Utc(const QString& text) {
    QDateTime d = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    d.setTimeSpec(Qt::UTC);
    return d;
}

} // namespace

class TestConversions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A zone far from UTC, so that any local-time shift shows.
        qputenv("TZ", "XYZ-3");
        tzset();
        SetDateLimits();
    }

    void dateLimits() {
        QCOMPARE(TimeBase, Utc("1970-01-01 00:00:00"));
        QCOMPARE(TimeBase.secsTo(TimeWrap), Q_INT64_C(1) << 32);
        QCOMPARE(TimeBase.secsTo(TimeSignedLimit), qint64(INT_MAX));
        QCOMPARE(DateText(TimeWrap), QStringLiteral("2106-02-07 06:28:16"));
        QCOMPARE(DateText(TimeSignedLimit), QStringLiteral("2038-01-19 03:14:07"));
    }

    void dateToSeconds_data() {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<qint32>("seconds");
        QTest::newRow("base") << Utc("1970-01-01 00:00:00") << 0;
        QTest::newRow("one second") << Utc("1970-01-01 00:00:01") << 1;
        QTest::newRow("a day") << Utc("2024-03-01 00:00:00") << 1709251200;
        QTest::newRow("last signed") << Utc("2038-01-19 03:14:07") << INT_MAX;
        QTest::newRow("first past signed") << Utc("2038-01-19 03:14:08") << INT_MIN;
        QTest::newRow("last reachable") << Utc("2106-02-07 06:28:15") << -1;
        // Outside the count's range the bits wrap rather than overflow.
        QTest::newRow("wrap instant") << Utc("2106-02-07 06:28:16") << 0;
        QTest::newRow("before base") << Utc("1969-12-31 23:59:59") << -1;
        // The calendar fields count, never a zone offset.
        QTest::newRow("offset ignored")
            << QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::OffsetFromUTC, 3600) << 1709251200;
        QTest::newRow("local ignored")
            << QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime) << 1709251200;
    }

    void dateToSeconds() {
        QFETCH(QDateTime, date);
        QFETCH(qint32, seconds);
        QCOMPARE(DateToSeconds(date), seconds);
    }

    void secondsToBytes_data() {
        QTest::addColumn<qint32>("seconds");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("zero") << 0 << QByteArray::fromHex("00000000");
        QTest::newRow("one") << 1 << QByteArray::fromHex("00000001");
        QTest::newRow("msb first") << 0x12345678 << QByteArray::fromHex("12345678");
        QTest::newRow("max") << INT_MAX << QByteArray::fromHex("7FFFFFFF");
        QTest::newRow("min") << INT_MIN << QByteArray::fromHex("80000000");
        QTest::newRow("minus one") << -1 << QByteArray::fromHex("FFFFFFFF");
        QTest::newRow("minus two") << -2 << QByteArray::fromHex("FFFFFFFE");
    }

    void secondsToBytes() {
        QFETCH(qint32, seconds);
        QFETCH(QByteArray, bytes);
        QCOMPARE(SecondsToBytes(seconds), bytes);
    }

    void bytesToDateText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("one second") << QByteArray::fromHex("00000001") << "1970-01-01 00:00:01";
        QTest::newRow("last signed") << QByteArray::fromHex("7FFFFFFF") << "2038-01-19 03:14:07";
        QTest::newRow("2^31") << QByteArray::fromHex("80000000") << "2038-01-19 03:14:08";
        QTest::newRow("last before unknown")
            << QByteArray::fromHex("FFFFFFFE") << "2106-02-07 06:28:14";
        QTest::newRow("midnight") << QByteArray::fromHex("65E11A80") << "2024-03-01";
        QTest::newRow("unknown") << QByteArray::fromHex("FFFFFFFF") << "Unknown";
        QTest::newRow("no info") << QByteArray::fromHex("00000000") << "No info.";
        QTest::newRow("empty") << QByteArray() << "No info.";
        QTest::newRow("three bytes") << QByteArray::fromHex("FFFFFF") << "No info.";
        QTest::newRow("extra byte ignored")
            << QByteArray::fromHex("00000001FF") << "1970-01-01 00:00:01";
    }

    void bytesToDateText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(BytesToDateText(bytes), text);
    }

    void secondsToDateText_data() {
        QTest::addColumn<qint32>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0 << "No info.";
        QTest::newRow("midnight") << 86400 << "1970-01-02";
        QTest::newRow("one second past midnight") << 86401 << "1970-01-02 00:00:01";
        QTest::newRow("afternoon") << 0x12345678 << "1979-09-05 22:51:36";
        QTest::newRow("min") << INT_MIN << "2038-01-19 03:14:08";
        QTest::newRow("minus one") << -1 << "2106-02-07 06:28:15";
    }

    void secondsToDateText() {
        QFETCH(qint32, seconds);
        QFETCH(QString, text);
        QCOMPARE(SecondsToDateText(seconds), text);
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("text");
        for (const char* t : {"1970-01-01 00:00:01", "2001-09-09 01:46:40", "2038-01-19 03:14:07",
                              "2038-01-19 03:14:08", "2099-12-31 23:59:59", "2106-02-07 06:28:15"})
            QTest::newRow(t) << QString::fromLatin1(t);
    }

    void roundTrip() {
        QFETCH(QString, text);
        QCOMPARE(SecondsToDateText(DateToSeconds(Utc(text))), text);
    }

    void nationAlpha_data() {
        QTest::addColumn<int>("nation");
        QTest::addColumn<QString>("code");
        QTest::newRow("unknown") << 0x00 << "UNK";
        QTest::newRow("austria") << 0x01 << "A  ";
        QTest::newRow("germany") << 0x0D << "D  ";
        QTest::newRow("france") << 0x11 << "F  ";
        QTest::newRow("faeroe") << 0x14 << "FR ";
        QTest::newRow("uk") << 0x15 << "UK ";
        QTest::newRow("slovenia") << 0x2E << "SLO";
        QTest::newRow("last listed") << 0x33 << "YU ";
        QTest::newRow("first reserved") << 0x34 << "RFU";
        QTest::newRow("last reserved") << 0xFC << "RFU";
        QTest::newRow("community") << 0xFD << "EC ";
        QTest::newRow("europe") << 0xFE << "EUR";
        QTest::newRow("world") << 0xFF << "WLD";
    }

    void nationAlpha() {
        QFETCH(int, nation);
        QFETCH(QString, code);
        FillNationAlpha();
        QCOMPARE(NationAlpha(quint8(nation)), code);
    }

    void nationAlphaAlwaysThreeCharacters() {
        FillNationAlpha();
        for (int n = 0; n < 256; ++n)
            QVERIFY2(NationAlpha(quint8(n)).size() == 3, qPrintable(QString::number(n)));
    }
};

QTEST_GUILESS_MAIN(TestConversions)
#include "test_conversions.moc"
