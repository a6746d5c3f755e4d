#include "Conversions.h"
#include "NationCodes.h"

#include <QTest>
#include <climits>
#include <ctime>

class TestConversions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A zone far from UTC, so that any local-time shift shows.
        qputenv("TZ", "XYZ-3");
        tzset();
        SetDateLimits();
    }

    // The unit's 32-bit second counts: from 1970 on, past 2038 as negative numbers, wrapping
    // at 2106; the calendar fields count, never a zone.
    void dateToSecondsAndBack_data() {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<qint32>("seconds");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text"); // of the seconds
        const auto row = [](const char* name, QDateTime date, qint32 seconds, const char* hex,
                            const char* text) {
            QTest::newRow(name) << date << seconds << QByteArray::fromHex(hex) << QString(text);
        };
        const auto utc = [](const char* text) {
            QDateTime d = QDateTime::fromString(text, "yyyy-MM-dd HH:mm:ss");
            d.setTimeSpec(Qt::UTC);
            return d;
        };
        row("one second", utc("1970-01-01 00:00:01"), 1, "00000001", "1970-01-01 00:00:01");
        row("midnight", utc("2024-03-01 00:00:00"), 1709251200, "65E11A80", "2024-03-01");
        row("afternoon", utc("1979-09-05 22:51:36"), 0x12345678, "12345678", "1979-09-05 22:51:36");
        row("last signed", utc("2038-01-19 03:14:07"), INT_MAX, "7FFFFFFF", "2038-01-19 03:14:07");
        row("first past", utc("2038-01-19 03:14:08"), INT_MIN, "80000000", "2038-01-19 03:14:08");
        row("last", utc("2106-02-07 06:28:15"), -1, "FFFFFFFF", "2106-02-07 06:28:15");
        row("wrap", utc("2106-02-07 06:28:16"), 0, "00000000", "No info.");
        row("before 1970", utc("1969-12-31 23:59:59"), -1, "FFFFFFFF", "2106-02-07 06:28:15");
        row("offset ignored", QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::OffsetFromUTC, 3600),
            1709251200, "65E11A80", "2024-03-01");
        row("local ignored", QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime), 1709251200,
            "65E11A80", "2024-03-01");
    }
    void dateToSecondsAndBack() {
        QFETCH(QDateTime, date);
        QFETCH(qint32, seconds);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DateToSeconds(date), seconds);
        QCOMPARE(SecondsToBytes(seconds), bytes);
        QCOMPARE(SecondsToDateText(seconds), text);
        // Received bytes read the same, but for the unit's "unknown".
        QCOMPARE(BytesToDateText(bytes + '\xFF'), bytes == "\xFF\xFF\xFF\xFF" ? "Unknown" : text);
    }

    void receivedTimesTooShort() {
        QCOMPARE(BytesToDateText(QByteArray()), QString("No info."));
        QCOMPARE(BytesToDateText(QByteArray::fromHex("FFFFFF")), QString("No info."));
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
};

QTEST_GUILESS_MAIN(TestConversions)
#include "test_conversions.moc"
