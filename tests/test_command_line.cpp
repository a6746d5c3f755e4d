#include "CommandLine.h"

#include <QTest>

namespace {
// Everything a command line decides, in one line: type, TREPs up to the end mark, days, the
// D and V flags and the window position ("-" where there is none).
QString Summary(const QString& text) {
    const CommandLine command = ParseCommandLine(text);
    QStringList treps;
    for (const quint8 trep : BuildTrepSequence(command)) {
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

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
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
            {"L [001] 400 E", "L 5,1,255 366 -- {-,-}"},
            {"L [001] 99999999999 E", "L 5,1,255 366 -- {-,-}"},
            {"L [001] -3 E", "L 5,1,255 0 -- {-,-}"},
            {"L [001] x E", "L 5,1,255 0 -- {-,-}"},
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
            {"A {1,99999999999}", all + "-- {1,-}"},
            {"A }1,2{", all + "-- {-,-}"},
            {"A {1,2", all + "-- {-,-}"},
            {"A {5},7", all + "-- {-,-}"},
            {"{3,4}", "Z 255 0 -- {3,4}"},
            {"5,6}", "Z 255 0 -- {-,-}"},
        };
        for (const auto& [text, summary] : rows)
            QCOMPARE(Summary(text), summary);
    }

    void usableTrepListAndQuotes() {
        const QString one = "001";
        QVERIFY(!IsUsableTrepList("") && !IsUsableTrepList("01"));
        QVERIFY(IsUsableTrepList(one) && IsUsableTrepList(one.repeated(19)));
        QVERIFY(!IsUsableTrepList(one.repeated(19) + "1") && !IsUsableTrepList(one.repeated(20)));
        QCOMPARE(StripQuotes("\"\"L [1]\"\""), QString("L [1]"));
        QCOMPARE(StripQuotes("\"a\"b\""), QString("a\"b"));
        QCOMPARE(StripQuotes("\"\"\""), QString());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
