// cmake --install into a temporary prefix: the programs, the desktop entry and icons, the
// udev rule for the cable, the man pages and the setup script, each checked with the tool
// that reads it, and the installed demo.
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
    if (!process.waitForFinished(120000)) return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// What udev rules assign to a device with the given properties (one parent, at which ATTRS
// and SUBSYSTEMS look), read as udev does: comments, continued lines, comma-separated keys,
// GOTO and LABEL, patterns with "|" alternatives. A line it cannot read goes to *error.
QMap<QString, QString> UdevAssigns(QString rules, const QMap<QString, QString>& device,
                                   QString* error) {
    static const QRegularExpression token("^([A-Z_]+(?:\\{[^{}]+\\})?)\\s*(==|!=|\\+=|-=|:=|=)\\s*"
                                          "\"((?:[^\"\\\\]|\\\\.)*)\"\\s*(,\\s*|$)");
    QMap<QString, QString> assigned;
    QString skipTo;
    for (QString rest : rules.replace("\\\n", " ").split('\n')) {
        rest = rest.trimmed();
        QList<QStringList> keys; // key, operator, value
        while (!rest.isEmpty() && !rest.startsWith('#')) {
            const QRegularExpressionMatch m = token.match(rest);
            if (!m.hasMatch() || (m.captured(4).startsWith(',') && m.capturedEnd() == rest.size()))
                *error += rest + '\n';
            if (!m.hasMatch()) break;
            keys.append({m.captured(1), m.captured(2), m.captured(3)});
            rest = rest.mid(m.capturedEnd());
        }
        bool matches = !keys.isEmpty();
        for (const QStringList& key : keys) {
            if (key[0] == "LABEL" && key[2] == skipTo) skipTo.clear();
            bool found = false;
            for (const QString& pattern : key[2].split('|'))
                found |=
                    QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern))
                        .match(device.value(key[0]))
                        .hasMatch();
            if (key[1] == "==" || key[1] == "!=") matches &= found == (key[1] == "==");
        }
        for (const QStringList& key : keys) {
            if (!matches || !skipTo.isEmpty() || key[1] == "==" || key[1] == "!=") continue;
            if (key[0] == "GOTO")
                skipTo = key[2];
            else if (key[0] != "LABEL")
                assigned[key[0]] = key[2];
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
        const Run run =
            RunTool("cmake", {"--install", VANTREL_BUILD_DIR, "--prefix", prefix_.path()});
        QVERIFY2(run.exitCode == 0, run.out + run.err);
        for (const char* program :
             {"VNPCBase", "VantrelPC", "VantrelVuSim", "VantrelDownload", "vantrel-download"})
            QVERIFY2(QFileInfo(installed(QString("bin/") + program)).isExecutable(), program);
        QVERIFY(QFileInfo(installed("share/vantrel-pc/sim-env.sh")).size() > 0);
    }

    // Each size of the icon: the skin in the middle, clear beside it and where its key
    // colour was.
    void icons() {
        for (int size : {48, 64, 128, 256}) {
            const QImage image(
                installed(QString("share/icons/hicolor/%1x%1/apps/vantrel-pc.png").arg(size)));
            QCOMPARE(image.size(), QSize(size, size));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    QVERIFY(image.pixel(x, y) != qRgb(192, 0, 192));
        }
    }

    void desktopEntry() {
        const QString file = installed("share/applications/vantrel-pc.desktop");
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing: run scripts/setup.sh");
        const Run run = RunTool(validator, {file});
        QVERIFY2(run.exitCode == 0 && (run.out + run.err).isEmpty(), run.out + run.err);
        // What it starts and shows is installed.
        const QString text = QString::fromUtf8(ReadAll(file));
        const auto value = [&text](const QString& key) {
            return QRegularExpression("^" + key + "=(\\S+)", QRegularExpression::MultilineOption)
                .match(text)
                .captured(1);
        };
        QVERIFY(QFileInfo(installed("bin/" + value("Exec"))).isExecutable());
        QVERIFY(
            QFile::exists(installed("share/icons/hicolor/48x48/apps/" + value("Icon") + ".png")));
        // The desktop groups the window under this entry: by the entry's name that the front
        // end gives (Wayland) and by its window class, the application name (X11).
        const QString main = QString::fromUtf8(ReadAll(VANTREL_SOURCE_DIR "/front/main.cpp"));
        const auto named = [&main](const char* call) {
            return QRegularExpression(QString(call) + "\\(QStringLiteral\\(\"([^\"]+)\"\\)\\)")
                .match(main)
                .captured(1);
        };
        QCOMPARE(named("setDesktopFileName") + ".desktop", QFileInfo(file).fileName());
        QCOMPARE(value("StartupWMClass"), named("setApplicationName"));
    }

    // The tty of the cable gets the desktop's user and the dialout group, its usb-serial port
    // a latency of 1 ms; no other device is touched.
    void udevRule_data() {
        QTest::addColumn<QString>("device"); // action|subsystem|vendor|product
        QTest::addColumn<QStringList>("assigned");
        const QStringList tty = {"ENV{ID_MM_DEVICE_IGNORE}=1", "GROUP=dialout", "MODE=0660",
                                 "TAG=uaccess"};
        QTest::newRow("cable") << "add|tty|0403|Vantrel PC Cable" << tty;
        QTest::newRow("adapter") << "add|tty|0403|USB Tacho Download Adapter" << tty;
        QTest::newRow("change event") << "change|tty|0403|Vantrel PC Cable" << tty;
        QTest::newRow("cable's port")
            << "add|usb-serial|0403|Vantrel PC Cable" << QStringList{"ATTR{latency_timer}=1"};
        QTest::newRow("other FTDI") << "add|tty|0403|FT232R USB UART" << QStringList();
        QTest::newRow("other vendor") << "add|tty|067b|Vantrel PC Cable" << QStringList();
        QTest::newRow("longer name") << "add|tty|0403|Vantrel PC Cable 2" << QStringList();
        QTest::newRow("removed") << "remove|tty|0403|Vantrel PC Cable" << QStringList();
        QTest::newRow("usb device") << "add|usb|0403|Vantrel PC Cable" << QStringList();
    }
    void udevRule() {
        QFETCH(QString, device);
        QFETCH(QStringList, assigned);
        const QStringList d = device.split('|');
        QString error;
        const QMap<QString, QString> got =
            UdevAssigns(ReadAll(installed("lib/udev/rules.d/70-vantrel-pc.rules")),
                        {{"ACTION", d[0]},
                         {"SUBSYSTEM", d[1]},
                         {"SUBSYSTEMS", "usb"},
                         {"ATTRS{idVendor}", d[2]},
                         {"ATTRS{product}", d[3]}},
                        &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QStringList pairs;
        for (auto it = got.begin(); it != got.end(); ++it)
            pairs << it.key() + '=' + it.value();
        QCOMPARE(pairs, assigned);
    }

    void manPages() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MANWIDTH", "80");
        env.insert("LC_ALL", "C.UTF-8");
        for (const QString page : {"VNPCBase", "VantrelPC", "VantrelVuSim", "vantrel-download"}) {
            const QString file = installed("share/man/man1/" + page + ".1");
            QVERIFY2(QFile::exists(file), qPrintable(file));
            const Run run = RunTool("man", {"--warnings", "-l", file}, env);
            QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), run.err);
            const QString text = QString::fromUtf8(run.out);
            QVERIFY(text.contains(QRegularExpression("NAME\n +" + page + " +- ")));
            QVERIFY(text.contains("SYNOPSIS"));
            QVERIFY(text.contains("Vantrel PC " VANTREL_VERSION_TEXT));
            for (const QString& line : text.split('\n'))
                QVERIFY2(line.size() <= 80, qPrintable(line));
        }
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
        const QString sudo = "sudo env DEBIAN_FRONTEND=noninteractive ";
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
            << QStringList{sudo + update.chopped(16) + "[]", update,
                           sudo + install.chopped(16) + "[]", install};
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
        hidden += {"apt-get", "dnf", "sudo"};
        for (const char* folder : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"})
            for (const QFileInfo& tool : QDir(folder).entryInfoList(QDir::Files))
                if (!hidden.contains(tool.fileName()))
                    QFile::link(tool.filePath(), bin + "/" + tool.fileName()); // first one wins
        const QString log = dir.filePath("calls");
        for (const QString& fake : fakes)
            QVERIFY(WriteFile(bin + "/" + fake,
                              "#!/bin/sh\nprintf '%s %s [%s]\\n' \"${0##*/}\" \"$*\" "
                              "\"${DEBIAN_FRONTEND:-}\" >>\"$CALLS\"\n" +
                                  QByteArray(fake == "sudo" ? "exec \"$@\"\n" : ""),
                              kExecutable | QFile::ReadOther | QFile::ExeOther));
        // A copy, which that user may read wherever the source lies, called through a link.
        QVERIFY(QFile::copy(VANTREL_SOURCE_DIR "/scripts/setup.sh", dir.filePath("setup.sh")));
        QVERIFY(QFile::link(dir.filePath("setup.sh"), dir.filePath("setup")));
        QVERIFY(WriteFile(log, "", QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther));
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
        QCOMPARE(QString::fromUtf8(ReadAll(log)).split('\n', Qt::SkipEmptyParts), calls);
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
