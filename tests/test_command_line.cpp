#include "CommandLine.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<qint32>)

namespace {
QString Sequence(const TrepSequence& sequence) {
    QStringList entries;
    for (const quint8 trep : sequence) {
        entries << QString::number(trep);
        if (trep == kTrepEnd) break;
    }
    return entries.join(QLatin1Char(','));
}
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sequence");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("stay");
        QTest::addColumn<std::optional<qint32>>("top");
        QTest::addColumn<std::optional<qint32>>("left");
        const std::optional<qint32> none;

        QTest::newRow("all VU") << "A E {4200,7500}"
                                << "A"
                                << "5,1,2,3,4,5,255" << 0 << false << false << std::optional(4200)
                                << std::optional(7500);
        QTest::newRow("latest, quoted")
            << "\"L [002003005] 28 E {4200,7500}\""
            << "L"
            << "5,2,3,5,255" << 28 << false << false << std::optional(4200) << std::optional(7500);
        QTest::newRow("latest, manufacturer TREPs")
            << "\"L [001017018] 7 E {0,0}\""
            << "L"
            << "5,1,17,18,255" << 7 << false << false << std::optional(0) << std::optional(0);
        QTest::newRow("card") << "C E {15,30}"
                              << "C"
                              << "5,6,255" << 0 << false << false << std::optional(15)
                              << std::optional(30);
        QTest::newRow("cable check") << "E"
                                     << "Z"
                                     << "255" << 0 << false << false << none << none;
        QTest::newRow("A before C") << "C A"
                                    << "A"
                                    << "5,1,2,3,4,5,255" << 0 << false << false << none << none;
        QTest::newRow("A with D and V") << "A D V"
                                        << "A"
                                        << "5,1,2,3,4,5,255" << 0 << true << true << none << none;
        QTest::newRow("days rounded to even") << "L [001] 28.5 E"
                                              << "L"
                                              << "5,1,255" << 28 << false << false << none << none;
        QTest::newRow("days above the year") << "L [001] 400 E"
                                             << "L"
                                             << "5,1,255" << 366 << false << false << none << none;
        QTest::newRow("negative days") << "L [001] -3 E"
                                       << "L"
                                       << "5,1,255" << 0 << false << false << none << none;
        QTest::newRow("days not a number") << "L [001] x E"
                                           << "L"
                                           << "5,1,255" << 0 << false << false << none << none;
        QTest::newRow("days too large for the field")
            << "L [001] 99999999999 E"
            << "L"
            << "5,1,255" << 366 << false << false << none << none;
        QTest::newRow("days too small for the field")
            << "L [001] -99999999999 E"
            << "L"
            << "5,1,255" << 0 << false << false << none << none;
        QTest::newRow("nothing after the days")
            << "L [001002] 28"
            << "L"
            << "5,1,2,255" << 0 << false << false << none << none;
        QTest::newRow("entry with a trailing space")
            << "L [01 002] 5 E"
            << "L"
            << "5,1,2,255" << 5 << false << false << none << none;
        QTest::newRow("short last entry") << "L [00100] 5 E"
                                          << "L"
                                          << "5,1,0,255" << 5 << false << false << none << none;
        QTest::newRow("entry too large for a TREP is left out")
            << "L [001999003] 5 E"
            << "L"
            << "5,1,3,255" << 5 << false << false << none << none;
        QTest::newRow("D and V before the list do not count")
            << "\"L D V [001] 7 E\""
            << "L"
            << "5,1,255" << 7 << false << false << none << none;
        QTest::newRow("D and V after the list count")
            << "\"L [001] 7 E D V {1,2}\""
            << "L"
            << "5,1,255" << 7 << true << true << std::optional(1) << std::optional(2);
        QTest::newRow("inner quotes kept")
            << "\"\"A \"x\" E\"\""
            << "A"
            << "5,1,2,3,4,5,255" << 0 << false << false << none << none;
        QTest::newRow("position rounded, empty edge")
            << "A {4200.5,}"
            << "A"
            << "5,1,2,3,4,5,255" << 0 << false << false << std::optional(4200) << none;
        QTest::newRow("position not a number")
            << "A {x,12}"
            << "A"
            << "5,1,2,3,4,5,255" << 0 << false << false << none << std::optional(12);
        QTest::newRow("position delimiters reversed")
            << "A }1,2{"
            << "A"
            << "5,1,2,3,4,5,255" << 0 << false << false << none << none;
        QTest::newRow("position too large")
            << "A {1,99999999999}"
            << "A"
            << "5,1,2,3,4,5,255" << 0 << false << false << std::optional(1) << none;
        QTest::newRow("list brackets reversed") << "L ]001[ 5 E"
                                                << "L"
                                                << "5,255" << 0 << false << false << none << none;
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(QString, type);
        QFETCH(QString, sequence);
        QFETCH(int, days);
        QFETCH(bool, show);
        QFETCH(bool, stay);
        QFETCH(std::optional<qint32>, top);
        QFETCH(std::optional<qint32>, left);
        const CommandLine command = ParseCommandLine(text);
        QCOMPARE(QString(command.downloadType), type);
        QCOMPARE(Sequence(BuildTrepSequence(command)), sequence);
        QCOMPARE(command.latestDays, days);
        QCOMPARE(command.showWindow, show);
        QCOMPARE(command.stayOpen, stay);
        QCOMPARE(command.top, top);
        QCOMPARE(command.left, left);
    }

    void trepListLength_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("usable");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("two characters") << "01" << false;
        QTest::newRow("one entry") << "001" << true;
        QTest::newRow("19 entries") << QString("001").repeated(19) << true;
        QTest::newRow("19 entries and a short one") << QString("001").repeated(19) + "1" << false;
        QTest::newRow("20 entries") << QString("001").repeated(20) << false;
    }
    void trepListLength() {
        QFETCH(QString, list);
        QFETCH(bool, usable);
        QCOMPARE(IsUsableTrepList(list), usable);
    }

    void nineteenEntriesFillTheSequence() {
        const CommandLine command = ParseCommandLine("L [" + QString("002").repeated(19) + "] 3 E");
        const TrepSequence sequence = BuildTrepSequence(command);
        QCOMPARE(sequence[0], quint8(5));
        for (int i = 1; i <= kMaxListedTreps; ++i)
            QCOMPARE(sequence[i], quint8(2));
        QCOMPARE(sequence[kTrepSequenceSize - 1], kTrepEnd);
    }

    void stripQuotes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stripped");
        QTest::newRow("none") << "A E"
                              << "A E";
        QTest::newRow("both ends, repeated") << "\"\"L [1]\"\""
                                             << "L [1]";
        QTest::newRow("inside kept") << "\"a\"b\""
                                     << "a\"b";
        QTest::newRow("only quotes") << "\"\"\""
                                     << "";
    }
    void stripQuotes() {
        QFETCH(QString, text);
        QFETCH(QString, stripped);
        QCOMPARE(StripQuotes(text), stripped);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
