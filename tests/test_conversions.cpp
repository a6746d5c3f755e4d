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
};

QTEST_GUILESS_MAIN(TestConversions)
#include "test_conversions.moc"
