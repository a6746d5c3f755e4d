// The Latest VU selection: the file's two lines as Save writes them and the window and the
// Latest VU button read them, the days check and rounding, the exclusive pair, and the
// window itself (offscreen).
#include "DownloadSettings.h"
#include "LatestVuSettings.h"
#include "LatestVuWindow.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "SkinControls.h"

#include "TestFiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

namespace {
// "1578" checks boxes 1, 5, 7 and 8.
CheckStates checksOf(const QString& boxes) {
    CheckStates checks{};
    for (QChar box : boxes)
        checks[box.digitValue()] = true;
    return checks;
}

// The boxes checked in the window, as above; the overview (0) is always checked.
QString boxesText(const LatestVuWindow& window) {
    QString boxes;
    for (int index = 1; index < kCheckCount; ++index)
        if (window.checkBoxes[index]->isChecked()) boxes += QString::number(index);
    return boxes;
}
} // namespace

class TestLatestVu : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QStringList boxes_;
    const QString file_ = home_.filePath("data/Fenwright/Vantrel PC/VantrelPCLatestVU.ini");

    // Opens the window, active, with the focus on the first box that can change; then types
    // `days` over the days box's text, unless empty.
    static void openActive(LatestVuWindow& window, const QString& days) {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTRY_VERIFY(window.checkBoxes[1]->hasFocus());
        if (days.isEmpty()) return;
        window.daysEdit->setFocus();
        window.daysEdit->selectAll();
        QTest::keyClicks(window.daysEdit, days);
    }

private slots:
    void initTestCase() {
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        QVERIFY(QDir().mkpath(QFileInfo(file_).path()));
        setMessageBoxHandler(
            [this](const QString& text, const QString& title) { boxes_ << title + ": " + text; });
    }

    void init() {
        boxes_.clear();
        QFile::remove(file_);
        DownloadSettings::language = "EN";
    }

    // Line 1 holds groups led by the overview 001; the driver card stands alone; other VDO
    // data with 4 Hz speed data brings the rest of the VDO blocks. What Save writes loads
    // back to the same boxes.
    void saveWritesBothLines() {
        // Checked boxes|days, and the file written; the days are rounded before writing.
        // clang-format off
        const std::pair<const char*, QByteArray> rows[] = {
            {"1234678|2", "001002003004005001017018019020021022024001025\r\n2\r\n"},
            {"1578|7", "001002006001017001025\r\n7\r\n"}, {"5|0", "006\r\n0\r\n"},
            {"|60", "\r\n60\r\n"}, {"3| 59.5 ", "001004\r\n60\r\n"}};
        // clang-format on
        for (const auto& [selection, file] : rows) {
            const QString checked = QString(selection).section('|', 0, 0);
            LatestVuSelection saved{checksOf(checked), QString(selection).section('|', 1)};
            QVERIFY2(saved.save(file_), selection);
            QCOMPARE(selection + (' ' + readWhole(file_, kNoFile)), selection + (' ' + file));
            LatestVuWindow window; // loads the file as it opens
            window.show();
            QCOMPARE(boxesText(window) + ' ' + window.daysEdit->text(), checked + ' ' + saved.days);
        }
    }

    // The window and the Latest VU button read a file alike: line ends, blanks around the
    // days, over-long lines. The button passes line 1 on as it is; the window takes its
    // complete three-character groups.
    void oddFiles() {
        // Each file (null: none) and what is read from it: the window's boxes and days | what the
        // button passes to the engine.
        const std::tuple<const char*, QByteArray, QString> rows[] = {
            {"no file: design states", {}, "124 60|(none)"},
            {"LF line ends", "001017\n9\n", "7 9|[001017] 9"},
            {"CR line ends", "001004\r7\r", "3 7|[001004] 7"},
            {"no line end, negative days", "001\r\n-3", " -3|[001]-3"},
            {"blanks around the days", "001004\r\n \t6.5 \t\r\n", "3 6.5|[001004] 6"},
            {"incomplete last group: 02 is no box", "00100302\r\n12\r\n", "2 12|[00100302] 12"},
            {"no second line keeps the days", "001004\r\n", "3 60|[001004] 0"},
            {"empty second line", "001004\r\n\r\n", "3 |[001004] 0"},
            {"unknown codes set nothing", "001999abc019020021022024007025\r\n1\r\n",
             "8 1|[001999abc019020021022024007025] 1"},
            {"empty file", "", " 60|[] 0"},
            {"both of the pair: 4Hz last wins", "006001018\r\n1\r\n", "6 1|[006001018] 1"},
            {"both of the pair: card last wins", "001018006\r\n1\r\n", "5 1|[001018006] 1"},
            // Far more than fits one argument: cut at 1024 characters, the days still read.
            {"over-long first line", "001006" + QByteArray(300000, '0') + "\r\n7\r\n",
             "5 7|[001006" + QString(1018, '0') + "] 7"}};
        for (const auto& [name, file, read] : rows) {
            if (!file.isNull()) QVERIFY(writeFile(file_, file));
            LatestVuWindow window;
            window.show();
            QCOMPARE(name + QString(": ") + boxesText(window) + ' ' + window.daysEdit->text() +
                         '|' + readLatestTrepText(file_).value_or("(none)"),
                     name + QString(": ") + read);
            QVERIFY(window.checkBoxes[0]->isChecked() && !window.checkBoxes[0]->isEnabled());
        }
    }

    // The days as checked on leaving the days box and on Save.
    void days() {
        const QString notNumber = "The number of days must be a number";
        const QString outOfRange = "The number of days must be between 0 and 365";
        // 58.5 rounds to even; 365.4 into the range and 365.5 out of it; -0.4 is checked before
        // rounding; a comma is no decimal point; 1e400 is too large for a double.
        // clang-format off
        const std::tuple<const char*, QString, const char*> rows[] = {
            {"0", {}, "0"}, {"58.5", {}, "58"}, {"365.4", {}, "365"}, {"365.5", outOfRange, "366"},
            {"-0.4", outOfRange, "0"}, {"", notNumber, "0"}, {"7,5", notNumber, "7"},
            {"1e400", outOfRange, "2147483647"}};
        // clang-format on
        for (const auto& [text, message, rounded] : rows) {
            boxes_.clear();
            LatestVuSelection validated{defaultChecks(), text}, saved{defaultChecks(), text};
            const QString problem = daysMessage(validated.validateDays());
            // Save refuses what the check refuses, with its message, and leaves the days as typed.
            const bool written = saved.save(file_);
            QCOMPARE(QStringList({text, problem, validated.days, written ? "saved" : "refused",
                                  boxes_.join('|') + saved.days})
                         .join(" | "),
                     QStringList({text, message, rounded, message.isEmpty() ? "saved" : "refused",
                                  message.isEmpty() ? rounded : "VantrelPC: " + message + text})
                         .join(" | "));
        }
    }

    // Cancel drops the changes and the window shows the file when opened again; Save writes.
    // Of the exclusive pair, driver card and 4 Hz speed data, the box just checked wins.
    void saveAndCancelFromTheWindow() {
        QVERIFY(writeFile(file_, "001004\r\n5\r\n"));
        LatestVuWindow window;
        window.show();
        QTest::mouseClick(window.checkBoxes[1], Qt::LeftButton);
        window.daysEdit->setText("8");
        window.hide(); // as while the main window is dragged: the changes stay
        window.show();
        QCOMPARE(boxesText(window) + window.daysEdit->text(), QStringLiteral("138"));
        QTest::mouseClick(window.cancelButton, Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(readWhole(file_), QByteArray("001004\r\n5\r\n"));
        window.show();
        QCOMPARE(boxesText(window) + window.daysEdit->text(), QStringLiteral("35"));
        // Tab's way: down the boxes, but to the days box after Other VDO Special Data.
        QString order;
        for (QWidget* w = window.checkBoxes[1]; w != window.checkBoxes[6];
             w = w->nextInFocusChain())
            order += w->objectName().remove("checkBox") + ' ';
        QCOMPARE(order, "1 2 3 4 5 7 daysEdit 8 ");
        // Clicked in turn, with the boxes then checked.
        const std::pair<int, const char*> clicks[] = {{6, "36"}, {5, "35"},  {6, "36"}, {7, "367"},
                                                      {6, "37"}, {5, "357"}, {5, "37"}};
        for (const auto& [box, after] : clicks) {
            QTest::mouseClick(window.checkBoxes[box], Qt::LeftButton);
            QCOMPARE(boxesText(window), QString(after));
        }
        window.daysEdit->setText("2.5");
        QTest::mouseClick(window.saveButton, Qt::LeftButton);
        QCOMPARE(readWhole(file_), QByteArray("001004001017\r\n2\r\n"));
        // A file that cannot be written (a folder in its way, then a full disk: a file-size
        // limit of 0) is reported, never taken as saved: the window stays.
        QVERIFY(!window.isVisible() && QFile::remove(file_) && QDir().mkdir(file_));
        window.show();
        QTest::mouseClick(window.saveButton, Qt::LeftButton);
        QVERIFY(QDir().rmdir(file_) && window.isVisible());
        rlimit room{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &room) == 0 && ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const rlimit full{0, room.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        QTest::mouseClick(window.saveButton, Qt::LeftButton);
        ::setrlimit(RLIMIT_FSIZE, &room);
        const QString box = "VantrelPC: The 'Latest VU' settings could not be saved in\n" + file_;
        QCOMPARE(window.isVisible() ? boxes_ : QStringList(), QStringList(2, box));
    }

    // Without a mouse: the first box that can change has the focus on opening, Space checks
    // it, and Enter saves and Escape cancels from any control, with the days checked as a click
    // on Save checks them.
    void keys() {
        // Typed into the days box (empty: Space in the box), the key, and what is saved.
        // clang-format off
        const std::tuple<QString, Qt::Key, QByteArray> rows[] = {
            {"", Qt::Key_Return, "001003005\r\n60\r\n"}, {"500", Qt::Key_Return, kNoFile},
            {"12.5", Qt::Key_Enter, "001002003005\r\n12\r\n"}, {"", Qt::Key_Escape, kNoFile},
            {"7", Qt::Key_Escape, kNoFile}};
        // clang-format on
        for (const auto& [days, key, saved] : rows) {
            init();
            LatestVuWindow window;
            openActive(window, days);
            if (days.isEmpty()) {
                QTest::keyClick(window.windowHandle(), Qt::Key_Space);
                QVERIFY(!window.checkBoxes[1]->isChecked());
                // Moved by a key, the focus shows on its box, and no longer once it moves on.
                QTest::keyClick(window.windowHandle(), Qt::Key_Tab);
                CaptionCheckBox* box = window.checkBoxes[2];
                const QImage marked = box->grab(box->captionArea()).toImage();
                window.checkBoxes[3]->setFocus();
                QVERIFY(box->grab(box->captionArea()).toImage() != marked);
            }
            QTest::keyClick(window.windowHandle(), key);
            // Refused: the window stays open and says why.
            const bool refused = key != Qt::Key_Escape && saved == kNoFile;
            const QString row = days + QStringLiteral(" key %1: open %2, boxes %3, ");
            QCOMPARE(row.arg(key, 0, 16).arg(window.isVisible()).arg(boxes_.size()) +
                         readWhole(file_, kNoFile),
                     row.arg(key, 0, 16).arg(refused).arg(int(refused)) + saved);
        }
    }

    // Leaving the days box for a check box checks the typed days before the click is handled:
    // they are neither put back to the stored days nor replaced without their message.
    void leavingTheDaysBox() {
        // Typed, refused or not, shown after the click, and what Save writes then (500 is out
        // of range: not saved).
        // clang-format off
        const std::tuple<QString, bool, QString, QByteArray> rows[] = {
            {"7", false, "7", "001002005\r\n7\r\n"}, {"12.5", false, "12", "001002005\r\n12\r\n"},
            {"x", true, "0", "001002005\r\n0\r\n"}, {"500", true, "500", kNoFile}};
        // clang-format on
        for (const auto& [text, refused, shown, saved] : rows) {
            init();
            LatestVuWindow window;
            openActive(window, text);
            // Press and release in one go, as a quick click or a tap on a touchpad comes.
            QTest::mouseClick(window.checkBoxes[2], Qt::LeftButton);
            QCOMPARE(text + ": " + window.daysEdit->text(), text + ": " + shown);
            QVERIFY(!window.checkBoxes[2]->isChecked());
            QTRY_COMPARE(boxes_.size(), refused ? 1 : 0);
            QTRY_COMPARE(window.daysEdit->hasFocus(), refused);
            QVERIFY(!QFile::exists(file_)); // checking is not saving
            QTest::mouseClick(window.saveButton, Qt::LeftButton);
            QCOMPARE(text + ": " + readWhole(file_, kNoFile), text + ": " + saved);
            QCOMPARE(window.isVisible(), saved == kNoFile); // refused: the window stays open
            QCOMPARE(boxes_.size(), refused + (saved == kNoFile));
        }
    }

    // The window opens beside the main window, its skin's rounded corners cut away, Cancel
    // and Save at the foot; German captions move the boxes from (3) down. Every box reaches to
    // the panel's edge, and each caption is on the lines of its box (one but for a long German
    // one) at the sizes of a plain display and of one scaled by 2 (glyphs hinted at twice the
    // pixels): "(TREP" never parts from its number; the days caption takes a second line.
    void layoutAndCaptions() {
        QWidget main(nullptr, Qt::FramelessWindowHint);
        main.setGeometry(100, 50, 215, 479);
        for (const QString language : {"EN", "DE"}) {
            DownloadSettings::language = language;
            LatestVuWindow window(&main);
            window.show();
            QCOMPARE(window.geometry(), QRect(315, 50, 184, 364));
            QCOMPARE(window.cancelButton->geometry(), QRect(48, 312, 33, 33));
            QCOMPARE(window.saveButton->geometry(), QRect(128, 312, 33, 33));
            QCOMPARE(window.windowTitle(),
                     language == "DE" ? "\"Latest VU\" Einstellungen" : "'Latest VU' Settings");
            const QRegion face = window.mask();
            QVERIFY(!face.contains(QPoint(0, 0)) && !face.contains(QPoint(183, 363)));
            QVERIFY(face.contains(QPoint(92, 180)) && face.contains(QPoint(144, 328)));
            const QRect german[] = {{24, 16, 150, 16},  {25, 40, 149, 16},  {34, 88, 140, 24},
                                    {38, 120, 136, 29}, {40, 152, 134, 24}, {42, 176, 132, 32},
                                    {44, 200, 130, 32}, {45, 232, 129, 24}, {41, 266, 133, 40}};
            for (int index = 0; index < kCheckCount && language == "DE"; ++index)
                QCOMPARE(window.checkBoxes[index]->geometry(), german[index]);
            // The days caption is too long for one line of its label: it goes on below.
            const QImage days = window.daysLabel->grab().toImage();
            const int below = QFontMetrics(window.daysLabel->font()).lineSpacing();
            QImage blank = days.copy(0, below, days.width(), days.height() - below);
            blank.fill(QColor::fromRgba(days.pixel(0, 0)));
            QVERIFY(days.copy(0, below, days.width(), days.height() - below) != blank);
            for (double scale : {1.0, 2.0})
                for (const CaptionCheckBox* box : window.checkBoxes) {
                    // The German (8) has a box of two lines for its long caption.
                    const int lines = box == window.checkBoxes[8] && language == "DE" ? 2 : 1;
                    QFont font = box->font();
                    font.setPointSizeF(font.pointSizeF() * scale);
                    const QFontMetricsF metrics(font);
                    const QRectF area(QPointF(0, 0), QSizeF(box->captionArea().size()) * scale);
                    const QRectF text =
                        metrics.boundingRect(area, CaptionCheckBox::kCaptionFlags, box->text());
                    QVERIFY2(qRound(text.height() / metrics.lineSpacing()) == lines &&
                                 text.width() <= area.width(),
                             qPrintable(QStringLiteral("%1 at %2").arg(box->text()).arg(scale)));
                }
        }
    }
};

QTEST_MAIN(TestLatestVu)
#include "test_latest_vu.moc"
