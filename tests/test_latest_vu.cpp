// The Latest VU selection: the file's two lines as Save writes them and loading reads them,
// the days check and rounding, the exclusive pair, the layout at several display settings and
// the window itself (offscreen).
#include "Artwork.h"
#include "DownloadSettings.h"
#include "LatestVuSettings.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "SkinControls.h"
#include "frmLatestSettings.h"

#include "TestFiles.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// "1578" checks boxes 1, 5, 7 and 8.
CheckStates Checks(const QString& boxes) {
    CheckStates checks{};
    for (QChar box : boxes)
        checks[box.digitValue()] = true;
    return checks;
}

QString Boxes(const CheckStates& checks) {
    QString boxes;
    for (int index = 1; index < kCheckCount; ++index) {
        if (checks[index]) boxes += QString::number(index);
    }
    return boxes;
}

QString Boxes(const frmLatestSettings& window) {
    CheckStates checks{};
    for (int index = 1; index < kCheckCount; ++index)
        checks[index] = window.Check1[index]->isChecked();
    return Boxes(checks);
}

} // namespace

class TestLatestVu : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QStringList boxes_;
    QString file_;

private slots:
    void initTestCase() {
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(home_.filePath("data/Fenwright/Vantrel PC")));
        file_ = home_.filePath("data/Fenwright/Vantrel PC/VantrelPCLatestVU.ini");
        SetMessageBoxHandler(
            [this](const QString& text, const QString& title) { boxes_ << title + ": " + text; });
    }

    void init() {
        boxes_.clear();
        QFile::remove(file_);
        DownloadSettings::Language = "EN";
    }

    void saveWritesBothLines_data() {
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("days");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("design defaults") << "124"
                                         << "60" << QByteArray("001002003005\r\n60\r\n");
        QTest::newRow("1, 5, 7, 8") << "1578"
                                    << "7" << QByteArray("001002006001017001025\r\n7\r\n");
        QTest::newRow("4Hz with other VDO")
            << "67"
            << "60" << QByteArray("001017018019020021022024\r\n60\r\n");
        QTest::newRow("other VDO alone") << "7"
                                         << "1" << QByteArray("001017\r\n1\r\n");
        QTest::newRow("4Hz alone") << "6"
                                   << "1" << QByteArray("001018\r\n1\r\n");
        QTest::newRow("driver card alone") << "5"
                                           << "0" << QByteArray("006\r\n0\r\n");
        QTest::newRow("168h alone") << "8"
                                    << "365" << QByteArray("001025\r\n365\r\n");
        QTest::newRow("nothing checked") << ""
                                         << "60" << QByteArray("\r\n60\r\n");
        QTest::newRow("the most there can be: 15 codes")
            << "1234678"
            << "2" << QByteArray("001002003004005001017018019020021022024001025\r\n2\r\n");
        QTest::newRow("days rounded before writing") << "3"
                                                     << " 59.5 " << QByteArray("001004\r\n60\r\n");
    }
    void saveWritesBothLines() {
        QFETCH(QString, checked);
        QFETCH(QString, days);
        QFETCH(QByteArray, file);
        LatestVuSelection selection{Checks(checked), days};
        QVERIFY(selection.Save(file_));
        QCOMPARE(ReadAll(file_, kNoFile), file);
        QVERIFY(boxes_.isEmpty());
        // What was written loads back to the same boxes.
        LatestVuSelection loaded;
        loaded.Load(file_);
        QCOMPARE(Boxes(loaded.checks), checked);
        QCOMPARE(loaded.days, selection.days);
    }

    // The window and the Latest VU button read a file the same way: line ends, blanks around
    // the days, over-long lines. The button passes line 1 on as it is; the window takes its
    // complete three-character groups.
    void loadReadsCompleteGroups_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("selection"); // what the button passes to the engine
        QTest::newRow("no file: design states") << QByteArray() << "124"
                                                << "60"
                                                << "(none)";
        QTest::newRow("design file") << QByteArray("001002003005\r\n60\r\n") << "124"
                                     << "60"
                                     << "[001002003005] 60";
        QTest::newRow("LF line ends") << QByteArray("001017\n9\n") << "7"
                                      << "9"
                                      << "[001017] 9";
        QTest::newRow("CR line ends") << QByteArray("001004\r7\r") << "3"
                                      << "7"
                                      << "[001004] 7";
        QTest::newRow("no line end, negative days") << QByteArray("001\r\n-3") << ""
                                                    << "-3"
                                                    << "[001]-3";
        QTest::newRow("blanks around the days") << QByteArray("001004\r\n \t7.5 \t\r\n") << "3"
                                                << "7.5"
                                                << "[001004] 8";
        QTest::newRow("one character left over") << QByteArray("0010020\r\n 7 \r\n") << "1"
                                                 << "7"
                                                 << "[0010020] 7";
        QTest::newRow("two characters left over: 00 is no box")
            << QByteArray("00100300\r\n12\r\n") << "2"
            << "12"
            << "[00100300] 12";
        QTest::newRow("no second line keeps the days") << QByteArray("001004\r\n") << "3"
                                                       << "60"
                                                       << "[001004] 0";
        QTest::newRow("empty second line") << QByteArray("001004\r\n\r\n") << "3"
                                           << ""
                                           << "[001004] 0";
        QTest::newRow("unknown codes set nothing")
            << QByteArray("001999abc019020021022024007025\r\n1\r\n") << "8"
            << "1"
            << "[001999abc019020021022024007025] 1";
        QTest::newRow("empty first line") << QByteArray("\r\n30\r\n") << ""
                                          << "30"
                                          << "[] 30";
        QTest::newRow("empty file") << QByteArray("") << ""
                                    << "60"
                                    << "[] 0";
        QTest::newRow("both of the pair: 4Hz last wins") << QByteArray("006001018\r\n1\r\n") << "6"
                                                         << "1"
                                                         << "[006001018] 1";
        QTest::newRow("both of the pair: card last wins") << QByteArray("001018006\r\n1\r\n") << "5"
                                                          << "1"
                                                          << "[001018006] 1";
        // Far more than fits one argument: cut at 1024 characters, the days still read.
        QTest::newRow("over-long first line") << "001006" + QByteArray(300000, '0') + "\r\n7\r\n"
                                              << "5"
                                              << "7"
                                              << "[001006" + QString(1018, '0') + "] 7";
    }
    void loadReadsCompleteGroups() {
        QFETCH(QByteArray, file);
        QFETCH(QString, checked);
        QFETCH(QString, days);
        QFETCH(QString, selection);
        if (!file.isNull()) QVERIFY(WriteFile(file_, file));
        LatestVuSelection loaded{Checks("35"), "1"};
        loaded.Load(file_);
        QCOMPARE(Boxes(loaded.checks), checked);
        QCOMPARE(loaded.days, days);
        QCOMPARE(ReadLatestTrepText(file_).value_or("(none)"), selection);

        frmLatestSettings window;
        window.show();
        QCOMPARE(Boxes(window), checked);
        QCOMPARE(window.tbDays->text(), days);
        QCOMPARE(window.Check1[0]->checkState(), Qt::Checked);
        QVERIFY(!window.Check1[0]->isEnabled());
    }

    void days_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("rounded");
        const QString notNumber = "The number of days must be a number";
        const QString outOfRange = "The number of days must be between 0 and 365";
        QTest::newRow("365") << "365" << QString() << "365";
        QTest::newRow("0") << "0" << QString() << "0";
        QTest::newRow("366") << "366" << outOfRange << "366";
        QTest::newRow("-1") << "-1" << outOfRange << "-1";
        QTest::newRow("59.5 up to even") << "59.5" << QString() << "60";
        QTest::newRow("58.5 down to even") << "58.5" << QString() << "58";
        QTest::newRow("58.51") << "58.51" << QString() << "59";
        QTest::newRow("365.4 rounds into the range") << "365.4" << QString() << "365";
        QTest::newRow("365.5 rounds out of it") << "365.5" << outOfRange << "366";
        QTest::newRow("-0.4 checked before rounding") << "-0.4" << outOfRange << "0";
        QTest::newRow("text") << "many" << notNumber << "0";
        QTest::newRow("empty") << "" << notNumber << "0";
        QTest::newRow("number then text") << "12 days" << notNumber << "12";
        QTest::newRow("spaces and sign") << "  +7  " << QString() << "7";
        QTest::newRow("tab before") << "\t5" << QString() << "5";
        QTest::newRow("exponent") << "1.5e2" << QString() << "150";
        QTest::newRow("leading point") << ".5" << QString() << "0";
        QTest::newRow("comma is no decimal point") << "7,5" << notNumber << "7";
        QTest::newRow("huge") << "1e400" << outOfRange << "2147483647";
    }
    void days() {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(QString, rounded);
        const QString box = message.isEmpty() ? QString() : "VantrelPC: " + message;

        LatestVuSelection validated{DefaultChecks(), text};
        QCOMPARE(DaysMessage(validated.ValidateDays()), message);
        QCOMPARE(validated.days, rounded);

        QVERIFY(WriteFile(file_, "001004\r\n5\r\n"));
        LatestVuSelection saved{DefaultChecks(), text};
        QCOMPARE(saved.Save(file_), message.isEmpty());
        QCOMPARE(boxes_.join('|'), box);
        if (message.isEmpty()) {
            QCOMPARE(ReadAll(file_, kNoFile), "001002003005\r\n" + rounded.toUtf8() + "\r\n");
        } else {
            QCOMPARE(ReadAll(file_, kNoFile), QByteArray("001004\r\n5\r\n"));
            QCOMPARE(saved.days, text); // left for the user to correct
        }
    }

    void saveAndCancelFromTheWindow() {
        QVERIFY(WriteFile(file_, "001004\r\n5\r\n"));
        frmLatestSettings window;
        window.show();
        QCOMPARE(Boxes(window), QStringLiteral("3"));
        QTest::mouseClick(window.Check1[1], Qt::LeftButton);
        QTest::mouseClick(window.Check1[8], Qt::LeftButton);
        window.tbDays->setText("8");
        QTest::mouseClick(window.cmdCancel, Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(ReadAll(file_, kNoFile), QByteArray("001004\r\n5\r\n"));

        // Opened again it shows the file, not the cancelled changes.
        window.show();
        QCOMPARE(Boxes(window), QStringLiteral("3"));
        QCOMPARE(window.tbDays->text(), QStringLiteral("5"));

        QTest::mouseClick(window.Check1[7], Qt::LeftButton);
        window.tbDays->setText("2.5");
        QTest::mouseClick(window.cmdSave, Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(ReadAll(file_, kNoFile), QByteArray("001004001017\r\n2\r\n"));
    }

    void exclusivePair_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QString>("after");
        QTest::newRow("card unchecks 4Hz") << "16" << 5 << "15";
        QTest::newRow("4Hz unchecks card") << "57" << 6 << "67";
        QTest::newRow("unchecking card leaves 4Hz unchecked") << "5" << 5 << "";
        QTest::newRow("unchecking 4Hz leaves card unchecked") << "6" << 6 << "";
        QTest::newRow("other boxes leave the pair") << "5" << 7 << "57";
    }
    void exclusivePair() {
        QFETCH(QString, before);
        QFETCH(int, clicked);
        QFETCH(QString, after);
        LatestVuSelection({Checks(before), "1"}).Save(file_);
        frmLatestSettings window;
        window.show();
        QCOMPARE(Boxes(window), before);
        QTest::mouseClick(window.Check1[clicked], Qt::LeftButton);
        QCOMPARE(Boxes(window), after);
        QTest::mouseClick(window.cmdSave, Qt::LeftButton);
        QCOMPARE(ReadAll(file_, kNoFile).split('\r').first(), TrepLine(Checks(after)).toUtf8());
    }

    // Leaving the days box for a check box checks the typed days before the click is handled:
    // they are neither put back to the stored days nor replaced without their message.
    void leavingTheDaysBox_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("keptFocus");
        QTest::addColumn<QByteArray>("saved");
        const QString notNumber = "VantrelPC: The number of days must be a number";
        QTest::newRow("typed") << "7"
                               << "7" << false << QByteArray("001002005\r\n7\r\n");
        QTest::newRow("rounded") << "12.5"
                                 << "12" << false << QByteArray("001002005\r\n12\r\n");
        QTest::newRow("no number") << "x"
                                   << "0" << true << QByteArray("001002005\r\n0\r\n");
        QTest::newRow("out of range: not saved") << "500"
                                                 << "500" << true << kNoFile;
    }
    void leavingTheDaysBox() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(bool, keptFocus);
        QFETCH(QByteArray, saved);
        frmLatestSettings window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.tbDays->setFocus();
        window.tbDays->selectAll();
        QTest::keyClicks(window.tbDays, text);
        // Press and release in one go, as a quick click or a tap on a touchpad comes.
        QTest::mouseClick(window.Check1[2], Qt::LeftButton);
        QCOMPARE(window.tbDays->text(), shown);
        QVERIFY(!window.Check1[2]->isChecked());
        QTRY_COMPARE(boxes_.size(), keptFocus ? 1 : 0);
        QTRY_COMPARE(window.tbDays->hasFocus(), keptFocus);
        QVERIFY(!QFile::exists(file_)); // checking is not saving
        QTest::mouseClick(window.cmdSave, Qt::LeftButton);
        QCOMPARE(ReadAll(file_, kNoFile), saved);
        QCOMPARE(window.isVisible(), saved == kNoFile); // refused: the window stays open
        QCOMPARE(boxes_.size(), keptFocus + (saved == kNoFile));
    }

    void languageStrings_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("days");
        const QStringList english = {
            "Overview (TREP 1)",       "Activities (TREP 2)",     "Events & Faults (TREP 3)",
            "Detailed Speed (TREP 4)", "Technical Data (TREP 5)", "Driver Card (in VU, TREP 6)",
            "4Hz Speed Data",          "Other VDO Special Data",  "168h of Detailed Speed"};
        QTest::newRow("EN") << "EN"
                            << "'Latest VU' Settings" << english << "Days of Activities";
        QTest::newRow("FR stays English")
            << "FR"
            << "'Latest VU' Settings" << english << "Days of Activities";
        QTest::newRow("DE") << "DE"
                            << "\"Latest VU\" Einstellungen"
                            << QStringList{"Überblick",
                                           "Aktivitäten",
                                           "Ereignisse & Störungen",
                                           "Detaillierte Geschwindigkeit",
                                           "Technische Daten",
                                           "Fahrerkarte",
                                           "4Hz Geschwindigkeit",
                                           "Andere VDO Spezialdaten",
                                           "Detaillierte Geschwindigkeit über 168 Stunden"}
                            << "Tage mit Aktivitäten";
    }
    void languageStrings() {
        QFETCH(QString, language);
        QFETCH(QString, caption);
        QFETCH(QStringList, shown);
        QFETCH(QString, days);
        DownloadSettings::Language = language;
        frmLatestSettings window;
        window.show();
        QCOMPARE(window.windowTitle(), caption);
        QCOMPARE(window.lblDaysActivities->text(), days);
        for (int index = 0; index < kCheckCount; ++index) {
            // A doubled ampersand shows as one.
            QString text = window.Check1[index]->text();
            QCOMPARE(text.replace("&&", "&"), shown.at(index));
        }
    }

    void layoutInPixels_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("window") << "EN" << kLatestWindowName << QRect(0, 0, 184, 364);
        QTest::newRow("Check1(0)") << "EN" << CheckName(0) << QRect(24, 16, 120, 16);
        QTest::newRow("Check1(1)") << "EN" << CheckName(1) << QRect(25, 40, 120, 16);
        QTest::newRow("Check1(8)") << "EN" << CheckName(8) << QRect(45, 280, 121, 24);
        QTest::newRow("tbDays") << "EN"
                                << "tbDays" << QRect(32, 56, 33, 19);
        QTest::newRow("lblDaysActivities") << "EN"
                                           << "lblDaysActivities" << QRect(72, 56, 65, 25);
        QTest::newRow("cmdCancel") << "EN"
                                   << "cmdCancel" << QRect(48, 312, 33, 33);
        QTest::newRow("cmdSave") << "EN"
                                 << "cmdSave" << QRect(128, 312, 33, 33);
        QTest::newRow("DE Check1(3) larger") << "DE" << CheckName(3) << QRect(38, 120, 123, 29);
        QTest::newRow("DE Check1(4)") << "DE" << CheckName(4) << QRect(40, 152, 105, 24);
        QTest::newRow("DE Check1(5)") << "DE" << CheckName(5) << QRect(42, 176, 122, 32);
        QTest::newRow("DE Check1(6)") << "DE" << CheckName(6) << QRect(44, 200, 122, 32);
        QTest::newRow("DE Check1(7)") << "DE" << CheckName(7) << QRect(45, 232, 121, 24);
        QTest::newRow("DE Check1(8)") << "DE" << CheckName(8) << QRect(41, 266, 125, 40);
        QTest::newRow("DE tbDays unchanged") << "DE"
                                             << "tbDays" << QRect(32, 56, 33, 19);
    }
    void layoutInPixels() {
        QFETCH(QString, language);
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        DownloadSettings::Language = language;
        frmLatestSettings window;
        window.show();
        const QWidget* control =
            name == kLatestWindowName ? &window : window.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(QRect(name == kLatestWindowName ? QPoint(0, 0) : control->pos(), control->size()),
                 geometry);
    }

    void displayScaling_data() {
        QTest::addColumn<double>("twipsPerPixel");
        QTest::newRow("96 dpi") << 15.0;
        QTest::newRow("120 dpi") << 12.0;
        QTest::newRow("144 dpi") << 10.0;
    }
    void displayScaling() {
        QFETCH(double, twipsPerPixel);
        const std::vector<DesignControl> layout = LatestSettingsLayout(twipsPerPixel);
        const std::vector<DesignControl>& design = LatestSettingsDesign();
        QCOMPARE(layout.size(), design.size());
        const bool raised = twipsPerPixel < 15;
        for (size_t i = 0; i < layout.size(); ++i) {
            const QRect pixels = TwipsToPixels(layout[i].twips, twipsPerPixel);
            QRect expected = TwipsToPixels(design[i].twips, 15);
            const bool adjusted = layout[i].name == CheckName(0) || layout[i].name == CheckName(1);
            if (adjusted && raised) {
                // 100 twips of this display higher and taller.
                QCOMPARE(layout[i].twips.top(), design[i].twips.top() / 15 * twipsPerPixel - 100);
                QCOMPARE(layout[i].twips.bottom(), design[i].twips.bottom() / 15 * twipsPerPixel);
                expected.setTop(expected.top() - int(std::lround(100 / twipsPerPixel)));
            }
            QCOMPARE(pixels, expected);
        }
        if (twipsPerPixel == 15) {
            for (size_t i = 0; i < layout.size(); ++i)
                QCOMPARE(layout[i].twips, design[i].twips);
        }
        // German steps are in pixels of the display too.
        std::vector<DesignControl> german = LatestSettingsLayout(twipsPerPixel);
        LanguageStrings("DE", german, twipsPerPixel);
        const QRectF box8 = *FindControl(german, CheckName(8));
        const QRectF box7 = *FindControl(german, CheckName(7));
        QCOMPARE(box8.height(), 40 * twipsPerPixel);
        QCOMPARE(box8.top(), box7.top() + 34 * twipsPerPixel);
    }

    void skinAndPlacement() {
        QWidget main(nullptr, Qt::FramelessWindowHint);
        main.setGeometry(100, 50, 215, 479);
        frmLatestSettings window(&main);
        window.show();
        QCOMPARE(window.pos(), QPoint(315, 50)); // beside the main window
        QCOMPARE(window.windowIcon().pixmap(48).toImage(),
                 Artwork::AppIcon(48).convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const QRegion face = window.mask();
        QVERIFY(!face.contains(QPoint(0, 0))); // rounded corner: key colour
        QVERIFY(!face.contains(QPoint(183, 363)));
        QVERIFY(face.contains(QPoint(92, 180)));
        QVERIFY(face.contains(window.cmdSave->geometry().center()));
        QVERIFY(window.cmdSave->geometry().center().x() >
                window.cmdCancel->geometry().center().x());
    }
};

QTEST_MAIN(TestLatestVu)
#include "test_latest_vu.moc"
