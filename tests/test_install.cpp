// cmake --install into a temporary prefix: the programs, the download command, the desktop
// entry and icons, the udev rule for the cable and the man pages, each checked with the tool
// that reads it.
#include "DownloadRun.h"

#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run RunTool(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(120000)) return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// One "KEY{attr} op "value"" of a udev rule.
struct UdevToken {
    QString key;
    QString attr;
    QString op;
    QString value;
};
using UdevRule = QList<UdevToken>;

const QStringList kUdevMatchKeys = {"ACTION",     "DEVPATH", "KERNEL",  "KERNELS", "SUBSYSTEM",
                                    "SUBSYSTEMS", "DRIVER",  "DRIVERS", "ATTR",    "ATTRS",
                                    "ENV",        "TAG",     "TAGS",    "TEST",    "PROGRAM",
                                    "RESULT",     "CONST",   "NAME",    "SYMLINK", "SYSCTL"};
const QStringList kUdevAssignKeys = {"NAME",  "SYMLINK", "OWNER",  "GROUP",   "MODE",
                                     "ATTR",  "SYSCTL",  "ENV",    "TAG",     "RUN",
                                     "LABEL", "GOTO",    "IMPORT", "OPTIONS", "SECLABEL"};
const QStringList kUdevAttrKeys = {"ATTR", "ATTRS", "ENV", "SYSCTL", "CONST", "SECLABEL"};
const QStringList kUdevOptionalAttrKeys = {"TEST", "IMPORT", "RUN"};

bool IsMatch(const UdevToken& token) {
    return token.op == "==" || token.op == "!=";
}

// Reads the rules as udev does (comments, continued lines, comma-separated keys); an error
// text names the first line it cannot read.
QList<UdevRule> ParseUdevRules(const QString& text, QString* error) {
    // KEY, {attribute}, operator, "value", then a comma or the end of the line.
    static const QRegularExpression tokenPattern(
        "^\\s*([A-Z_]+)(?:\\{([^{}]+)\\})?\\s*(==|!=|\\+=|-=|:=|=)\\s*"
        "\"((?:[^\"\\\\]|\\\\.)*)\"\\s*(,|$)");
    QList<UdevRule> rules;
    QString joined = text;
    joined.replace("\\\n", " ");
    int lineNumber = 0;
    for (const QString& line : joined.split('\n')) {
        ++lineNumber;
        QString rest = line.trimmed();
        if (rest.isEmpty() || rest.startsWith('#')) continue;
        UdevRule rule;
        while (!rest.isEmpty()) {
            const QRegularExpressionMatch m = tokenPattern.match(rest);
            if (!m.hasMatch() || (m.captured(5) == "," && m.capturedEnd() == rest.size())) {
                *error = QString("line %1: cannot read '%2'").arg(lineNumber).arg(rest);
                return {};
            }
            rule.append({m.captured(1), m.captured(2), m.captured(3), m.captured(4)});
            rest = rest.mid(m.capturedEnd()).trimmed();
        }
        for (const UdevToken& t : rule) {
            const QStringList& keys = IsMatch(t) ? kUdevMatchKeys : kUdevAssignKeys;
            const bool attrAllowed =
                kUdevAttrKeys.contains(t.key) || kUdevOptionalAttrKeys.contains(t.key);
            if (!keys.contains(t.key) || (kUdevAttrKeys.contains(t.key) && t.attr.isEmpty()) ||
                (!attrAllowed && !t.attr.isEmpty())) {
                *error = QString("line %1: %2 %3 not allowed").arg(lineNumber).arg(t.key, t.op);
                return {};
            }
        }
        rules.append(rule);
    }
    return rules;
}

QString FullKey(const UdevToken& token) {
    return token.attr.isEmpty() ? token.key : token.key + "{" + token.attr + "}";
}

// udev's patterns: shell globs, alternatives separated by "|".
bool GlobMatches(const QString& pattern, const QString& value) {
    for (const QString& alternative : pattern.split('|')) {
        // No value here holds a "/", which the conversion would treat as a path separator.
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(alternative));
        if (re.match(value).hasMatch()) return true;
    }
    return false;
}

// What the rules assign to a device that has the given properties (a device with one
// parent: ATTRS and SUBSYSTEMS look at that one).
QMap<QString, QString> ApplyUdevRules(const QList<UdevRule>& rules,
                                      const QMap<QString, QString>& device) {
    QMap<QString, QString> assigned;
    QString skipTo;
    for (const UdevRule& rule : rules) {
        if (!skipTo.isEmpty()) {
            if (rule.size() == 1 && rule[0].key == "LABEL" && rule[0].value == skipTo)
                skipTo.clear();
            continue;
        }
        bool matches = true;
        for (const UdevToken& t : rule) {
            if (IsMatch(t))
                matches &= GlobMatches(t.value, device.value(FullKey(t))) == (t.op == "==");
        }
        if (!matches) continue;
        for (const UdevToken& t : rule) {
            if (t.key == "GOTO")
                skipTo = t.value;
            else if (!IsMatch(t) && t.key != "LABEL")
                assigned[FullKey(t)] = t.value;
        }
    }
    return assigned;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir prefix_;

    QString installed(const QString& relative) const { return prefix_.filePath(relative); }

private slots:
    void initTestCase() {
        QVERIFY(prefix_.isValid());
        const Run run =
            RunTool("cmake", {"--install", VANTREL_BUILD_DIR, "--prefix", prefix_.path()});
        QVERIFY2(run.exitCode == 0, run.out + run.err);
    }

    void layout_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        for (const char* program :
             {"VNPCBase", "VantrelPC", "VantrelVuSim", "VantrelDownload", "vantrel-download"})
            QTest::newRow(program) << QString("bin/") + program << true;
        QTest::newRow("sim-env") << "share/vantrel-pc/sim-env.sh" << false;
        QTest::newRow("desktop") << "share/applications/vantrel-pc.desktop" << false;
        QTest::newRow("udev") << "lib/udev/rules.d/70-vantrel-pc.rules" << false;
    }
    void layout() {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo info(installed(path));
        QVERIFY2(info.isFile(), qPrintable(path));
        QVERIFY(info.size() > 0);
        QCOMPARE(info.isExecutable(), executable);
    }

    void icon_data() {
        QTest::addColumn<int>("size");
        for (int size : {48, 64, 128, 256})
            QTest::addRow("%d", size) << size;
    }
    void icon() {
        QFETCH(int, size);
        const QImage image(
            installed(QString("share/icons/hicolor/%1x%1/apps/vantrel-pc.png").arg(size)));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
        // The skin stands in the middle; beside it, and where its key colour was, is clear.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                QVERIFY(image.pixel(x, y) != qRgb(192, 0, 192));
    }

    void desktopEntry() {
        const QString file = installed("share/applications/vantrel-pc.desktop");
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing: run scripts/setup.sh");
        const Run run = RunTool(validator, {file});
        QVERIFY2(run.exitCode == 0 && run.out.isEmpty() && run.err.isEmpty(), run.out + run.err);
        // What it starts and shows is installed.
        const QString text = QString::fromUtf8(ReadAll(file));
        const QString exec = QRegularExpression("^Exec=(\\S+)", QRegularExpression::MultilineOption)
                                 .match(text)
                                 .captured(1);
        const QString icon =
            QRegularExpression("^Icon=(\\S+)$", QRegularExpression::MultilineOption)
                .match(text)
                .captured(1);
        QVERIFY(QFileInfo(installed("bin/" + exec)).isExecutable());
        QVERIFY(QFile::exists(installed("share/icons/hicolor/48x48/apps/" + icon + ".png")));
        // The desktop groups the window under this entry: by the entry's name that the front
        // end gives (Wayland) and by its window class, the application name (X11).
        const QString main = QString::fromUtf8(ReadAll(VANTREL_SOURCE_DIR "/front/main.cpp"));
        auto named = [&main](const char* call) {
            return QRegularExpression(QString(call) + "\\(QStringLiteral\\(\"([^\"]+)\"\\)\\)")
                .match(main)
                .captured(1);
        };
        QCOMPARE(named("setDesktopFileName") + ".desktop", QFileInfo(file).fileName());
        QVERIFY(text.contains("\nStartupWMClass=" + named("setApplicationName") + "\n"));
    }

    void udevRuleSyntax() {
        const QString file = installed("lib/udev/rules.d/70-vantrel-pc.rules");
        const QString udevadm = QStandardPaths::findExecutable("udevadm");
        if (!udevadm.isEmpty() && RunTool(udevadm, {"verify", "--help"}).exitCode == 0) {
            const Run run = RunTool(udevadm, {"verify", file});
            QVERIFY2(run.exitCode == 0, run.out + run.err);
        }
        QString error;
        const QList<UdevRule> rules = ParseUdevRules(ReadAll(file), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!rules.isEmpty());
    }

    void udevRuleEffect_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("subsystem");
        QTest::addColumn<QString>("vendor");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QStringList>("assigned"); // key=value
        // The tty: the desktop's user and the dialout group; the usb-serial port: 1 ms.
        const QStringList tty = {"GROUP=dialout", "MODE=0660", "TAG=uaccess",
                                 "ENV{ID_MM_DEVICE_IGNORE}=1"};
        const QStringList port = {"ATTR{latency_timer}=1"};
        const QString cable = "Vantrel PC Cable";
        QTest::newRow("cable") << "add"
                               << "tty"
                               << "0403" << cable << tty;
        QTest::newRow("adapter") << "add"
                                 << "tty"
                                 << "0403"
                                 << "USB Tacho Download Adapter" << tty;
        QTest::newRow("change event") << "change"
                                      << "tty"
                                      << "0403" << cable << tty;
        QTest::newRow("cable's port") << "add"
                                      << "usb-serial"
                                      << "0403" << cable << port;
        QTest::newRow("other FTDI") << "add"
                                    << "tty"
                                    << "0403"
                                    << "FT232R USB UART" << QStringList();
        QTest::newRow("other FTDI's port") << "add"
                                           << "usb-serial"
                                           << "0403"
                                           << "FT232R USB UART" << QStringList();
        QTest::newRow("other vendor") << "add"
                                      << "tty"
                                      << "067b" << cable << QStringList();
        QTest::newRow("longer name") << "add"
                                     << "tty"
                                     << "0403"
                                     << "Vantrel PC Cable 2" << QStringList();
        QTest::newRow("removed") << "remove"
                                 << "tty"
                                 << "0403" << cable << QStringList();
        QTest::newRow("usb device") << "add"
                                    << "usb"
                                    << "0403" << cable << QStringList();
    }
    void udevRuleEffect() {
        QFETCH(QString, action);
        QFETCH(QString, subsystem);
        QFETCH(QString, vendor);
        QFETCH(QString, product);
        QFETCH(QStringList, assigned);
        QString error;
        const QList<UdevRule> rules =
            ParseUdevRules(ReadAll(installed("lib/udev/rules.d/70-vantrel-pc.rules")), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QMap<QString, QString> device = {{"ACTION", action},
                                               {"SUBSYSTEM", subsystem},
                                               {"SUBSYSTEMS", "usb"},
                                               {"ATTRS{idVendor}", vendor},
                                               {"ATTRS{product}", product}};
        QMap<QString, QString> expected;
        for (const QString& pair : assigned)
            expected[pair.section('=', 0, 0)] = pair.section('=', 1);
        QCOMPARE(ApplyUdevRules(rules, device), expected);
    }

    void manPage_data() {
        QTest::addColumn<QString>("page");
        for (const char* page : {"VNPCBase", "VantrelPC", "VantrelVuSim", "vantrel-download"})
            QTest::newRow(page) << QString(page);
    }
    void manPage() {
        QFETCH(QString, page);
        const QString file = installed("share/man/man1/" + page + ".1");
        QVERIFY(QFile::exists(file));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MANWIDTH", "80");
        env.insert("LC_ALL", "C.UTF-8");
        const Run run = RunTool("man", {"--warnings", "-l", file}, env);
        QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), run.err);
        const QString text = QString::fromUtf8(run.out);
        QVERIFY(text.contains(QRegularExpression("NAME\n +" + page + " +- ")));
        QVERIFY(text.contains("SYNOPSIS"));
        QVERIFY(text.contains("Vantrel PC " VANTREL_VERSION_TEXT));
        for (const QString& line : text.split('\n'))
            QVERIFY2(line.size() <= 80, qPrintable(line));
    }

    // scripts/setup.sh, called through a link, here where everything is installed (or this
    // test would not have been built) but for what a row hides from PATH: it runs a package
    // manager only for what is missing, through sudo when not root, or says what to run.
    void setup_data() {
        QTest::addColumn<QStringList>("hidden"); // commands left out of PATH
        QTest::addColumn<QStringList>("fakes");  // recording stand-ins put into PATH
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("calls"); // what the stand-ins were asked, in order
        const QString apt = "apt-get -o DPkg::Lock::Timeout=300 -y -q ";
        const QString update = apt + "update [noninteractive]";
        const QString install = apt + "install --no-install-recommends unzip zip [noninteractive]";
        QTest::newRow("all there, no package manager")
            << QStringList() << QStringList() << false << 0 << QStringList();
        QTest::newRow("all there, package managers")
            << QStringList() << QStringList{"apt-get", "dnf", "sudo"} << true << 0 << QStringList();
        QTest::newRow("zip missing, Debian") << QStringList{"zip"} << QStringList{"apt-get", "dnf"}
                                             << false << 0 << QStringList{update, install};
        QTest::newRow("zip missing, Fedora") << QStringList{"zip"} << QStringList{"dnf"} << false
                                             << 0 << QStringList{"dnf -y install unzip zip []"};
        QTest::newRow("zip missing, not root")
            << QStringList{"zip"} << QStringList{"apt-get", "sudo"} << true << 0
            << QStringList{"sudo env DEBIAN_FRONTEND=noninteractive " + update.chopped(16) + "[]",
                           update,
                           "sudo env DEBIAN_FRONTEND=noninteractive " + install.chopped(16) + "[]",
                           install};
        QTest::newRow("zip missing, not root, no sudo")
            << QStringList{"zip"} << QStringList{"apt-get"} << true << 1 << QStringList();
        QTest::newRow("zip missing, no package manager")
            << QStringList{"zip"} << QStringList() << false << 1 << QStringList();
    }
    void setup() {
        QFETCH(QStringList, hidden);
        QFETCH(QStringList, fakes);
        QFETCH(bool, otherUser);
        QFETCH(int, exitCode);
        QFETCH(QStringList, calls);
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther |
                                                      QFile::ReadOther));
        const QString bin = dir.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        hidden << "apt-get"
               << "dnf"
               << "sudo";
        for (const char* folder : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"})
            for (const QFileInfo& tool : QDir(folder).entryInfoList(QDir::Files))
                if (!hidden.contains(tool.fileName()))
                    QFile::link(tool.filePath(), bin + "/" + tool.fileName()); // first one wins
        const QString log = dir.filePath("calls");
        for (const QString& fake : fakes) {
            QFile script(bin + "/" + fake);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s %s [%s]\\n' \"${0##*/}\" \"$*\" "
                         "\"${DEBIAN_FRONTEND:-}\" >>\"$CALLS\"\n");
            if (fake == "sudo") script.write("exec \"$@\"\n");
            script.setPermissions(QFile::permissions(script.fileName()) | QFile::ExeOther |
                                  QFile::ExeOwner);
        }
        // A copy, which that user may read wherever the source lies, called through a link.
        QVERIFY(QFile::copy(VANTREL_SOURCE_DIR "/scripts/setup.sh", dir.filePath("setup.sh")));
        QVERIFY(QFile::link(dir.filePath("setup.sh"), dir.filePath("setup")));
        QFile(log).open(QIODevice::WriteOnly);
        QFile::setPermissions(log, QFile::permissions(log) | QFile::WriteOther);

        QProcessEnvironment env;
        env.insert("PATH", bin);
        env.insert("CALLS", log);
        QProcess setup;
        setup.setProcessEnvironment(env);
        if (otherUser && !RunAsOtherUser(setup)) QSKIP("no user other than root");
        setup.start(dir.filePath("setup"), {});
        QVERIFY(setup.waitForFinished(60000));
        const QByteArray output = setup.readAllStandardOutput() + setup.readAllStandardError();
        QVERIFY2(setup.exitStatus() == QProcess::NormalExit && setup.exitCode() == exitCode,
                 output.constData());
        QStringList called = QString::fromUtf8(ReadAll(log)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(called, calls);
        // Refused for want of root: the commands to run as root are shown.
        if (exitCode != 0) QVERIFY2(output.contains(" zip"), output.constData());
    }

    // The installed command finds its programs beside itself; --demo downloads from the
    // simulated unit into the demo folder and never into the real ones.
    void installedDemo() {
        DownloadHome home;
        const DownloadResult result =
            home.run(installed("bin/vantrel-download"), {"--demo", "--all"}, "--port 141 --days 1");
        QVERIFY2(result.finished && result.exitCode == 0, result.output.constData());
        QCOMPARE(result.status, QString("Complete"));
        QCOMPARE(result.savedPaths.size(), 1);
        QVERIFY2(result.savedPaths.first().startsWith(home.demoFolder() + "/Data/VU/"),
                 qPrintable(result.savedPaths.first()));
        QCOMPARE(ReadAll(result.savedPaths.first()).size(), ReadAll(home.served()).size());
        QVERIFY(!QFileInfo::exists(home.documents()));
        QVERIFY(!QFileInfo::exists(home.dataFolder()));
        QVERIFY(home.simulatorFolders().isEmpty());
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
