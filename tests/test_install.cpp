// cmake --install into a temporary prefix: the programs and the desktop entry, the setup
// script, and the installed demo. The package made of it is scripts/test-package.sh's: it runs
// lintian and appstreamcli validate on it and checks that every file of it is installed.
#include "DownloadRun.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {
DownloadResult runTool(const QString& program, const QStringList& arguments,
                       const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    return DownloadHome::finish(process);
}

// The texts of an XML file's elements of one name, in order.
QStringList elementTexts(const QString& xml, const QString& name) {
    QStringList texts;
    for (const QRegularExpressionMatch& m :
         QRegularExpression("<" + name + "\\b[^>]*>([^<]*)</" + name + ">").globalMatch(xml))
        texts << m.captured(1);
    return texts;
}

// What the stand-ins in a folder were asked, one line each, in order.
QStringList callsIn(const QTemporaryDir& dir) {
    return QString::fromUtf8(readWhole(dir.filePath("calls"))).split('\n', Qt::SkipEmptyParts);
}
} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir prefix_;

    QString installed(const QString& relative) const { return prefix_.filePath(relative); }

private slots:
    void initTestCase() {
        // The programs and sim-env.sh are what the installed demo runs, the window the
        // desktop entry's Exec.
        const DownloadResult run =
            runTool("cmake", {"--install", VANTREL_BUILD_DIR, "--prefix", prefix_.path()});
        QVERIFY2(run.exitCode == 0, run.output);
    }

    // The entry passes its validator; what it starts and shows is installed.
    void desktopEntry() {
        const QString file = installed("share/applications/vantrel-pc.desktop");
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing: run scripts/setup.sh");
        const DownloadResult run = runTool(validator, {file});
        QVERIFY2(run.exitCode == 0 && run.output.isEmpty(), run.output);
        const QString text = QString::fromUtf8(readWhole(file));
        const auto value = [&text](const QString& key) {
            return QRegularExpression("^" + key + "=(\\S+)", QRegularExpression::MultilineOption)
                .match(text)
                .captured(1);
        };
        QVERIFY(QFileInfo(installed("bin/" + value("Exec"))).isExecutable());
        QVERIFY(
            QFile::exists(installed("share/icons/hicolor/48x48/apps/" + value("Icon") + ".png")));
        // The window class under X11 is the front end's application name.
        QCOMPARE(value("StartupWMClass"), QStringLiteral("VantrelPC"));
    }

    // The AppStream data names the installed desktop entry (desktopEntry validates it), the
    // pictures in docs/screenshots and the cable of the udev rule.
    void appStreamData() {
        const QString xml = QString::fromUtf8(
            readWhole(installed("share/metainfo/com.fenwright.VantrelPC.metainfo.xml")));
        QCOMPARE(elementTexts(xml, "launchable"), QStringList{"vantrel-pc.desktop"});
        const QStringList images = elementTexts(xml, "image");
        QCOMPARE(images.size(), 4);
        for (const QString& image : images)
            QVERIFY2(
                image.startsWith("https://") &&
                    QFile::exists(VANTREL_SOURCE_DIR "/docs/screenshots/" + image.section('/', -1)),
                qPrintable(image));
        const QString vendor =
            QRegularExpression("idVendor}==\"([0-9a-f]{4})\"")
                .match(QString::fromUtf8(readWhole(VANTREL_SOURCE_DIR "/data/70-vantrel-pc.rules")))
                .captured(1);
        const QStringList modaliases = elementTexts(xml, "modalias");
        QVERIFY(!vendor.isEmpty() && !modaliases.isEmpty());
        QCOMPARE(modaliases.filter(
                     QRegularExpression("^usb:v" + vendor.toUpper() + "p[0-9A-F]{4}d\\*$")),
                 modaliases);
    }

    // The package's maintainer scripts, with a stand-in udevadm: after installation and
    // removal udev reads its rules again and the plugged-in ports get them; where udev does
    // not run, or fails, nothing else is done and the script still succeeds.
    void maintainerScripts_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("udev"); // "running", "stopped", "failing" or "missing"
        QTest::addColumn<QStringList>("calls");
        const QString ping = "control --ping";
        const QStringList all = {
            ping, "control --reload-rules",
            "trigger --action=change --subsystem-match=tty --subsystem-match=usb-serial"};
        // Each script has its own copy of the steps: each gets every kind of udev.
        for (const auto& [script, argument] :
             {std::pair{"postinst", "configure"}, {"postrm", "remove"}})
            for (const auto& [udev, calls] : {std::pair{"running", all},
                                              {"failing", all},
                                              {"stopped", QStringList{ping}},
                                              {"missing", QStringList()}})
                QTest::addRow("%s %s, udev %s", script, argument, udev)
                    << script << argument << udev << calls;
        // clang-format off
        QTest::newRow("install undone") << "postinst" << "abort-upgrade" << "running" << QStringList();
        QTest::newRow("purged") << "postrm" << "purge" << "running" << QStringList();
        // clang-format on
    }
    void maintainerScripts() {
        QFETCH(QString, script);
        QFETCH(QString, argument);
        QFETCH(QString, udev);
        QFETCH(QStringList, calls);
        QTemporaryDir dir;
        const QString bin = dir.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        if (udev != "missing")
            QVERIFY(writeFile(bin + "/udevadm",
                              "#!/bin/sh\necho \"$*\" >>\"$CALLS\"\n"
                              "[ \"$*\" = \"control --ping\" ] && exit " +
                                  QByteArray(udev == "stopped" ? "1" : "0") + "\nexit " +
                                  QByteArray(udev == "failing" ? "1" : "0") + "\n",
                              QFile::ReadOwner | QFile::ExeOwner));
        QProcessEnvironment env;
        env.insert("PATH", bin);
        env.insert("CALLS", dir.filePath("calls"));
        const QString file = VANTREL_SOURCE_DIR "/data/debian/" + script;
        const DownloadResult run = runTool("/bin/sh", {file, argument}, env);
        QVERIFY2(run.exitCode == 0 && run.output.isEmpty() && QFileInfo(file).isExecutable(),
                 run.output);
        QCOMPARE(callsIn(dir), calls);
    }

    // scripts/setup.sh, called through a link, here where everything is installed (or this
    // test would not have been built) but for what a row hides from PATH: it runs a package
    // manager only for what is missing, through sudo when not root, or says what to run.
    void setup_data() {
        QTest::addColumn<QString>("path"); // "-zip": zip hidden; "+dnf": a recording stand-in
        QTest::addColumn<QString>("argument");
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("calls"); // what the stand-ins were asked, in order
        const QString apt = "apt-get -o DPkg::Lock::Timeout=300 -y -q ";
        const QString update = apt + "update [noninteractive]";
        const QString install = apt + "install --no-install-recommends unzip zip [noninteractive]";
        const QString sudo = "sudo env DEBIAN_FRONTEND=noninteractive ";
        const auto row = [](const char* name, const char* path, const char* argument,
                            bool otherUser, int exitCode, const QStringList& calls) {
            QTest::newRow(name) << path << argument << otherUser << exitCode << calls;
        };
        // clang-format off
        row("zip missing, Debian", "-zip +apt-get +dnf", "", false, 0, {update, install});
        row("zip missing, Fedora", "-zip +dnf", "", false, 0, {"dnf -y install unzip zip []"});
        row("zip missing, not root", "-zip +apt-get +sudo", "", true, 0,
            {sudo + update.chopped(16) + "[]", update, sudo + install.chopped(16) + "[]", install});
        row("zip missing, not root, no sudo", "-zip +apt-get", "", true, 1, {});
        row("zip missing, no package manager", "-zip", "", false, 1, {});
        // Nothing missing (lintian is only for making the package): nothing run.
        row("lintian missing", "-lintian +apt-get", "", false, 0, {});
        row("lintian missing, making the package", "-lintian +apt-get", "--package", false, 0,
            {update, apt + "install --no-install-recommends lintian [noninteractive]"});
        // clang-format on
    }
    void setup() {
        QFETCH(QString, path);
        QFETCH(QString, argument);
        QFETCH(bool, otherUser);
        QFETCH(int, exitCode);
        QFETCH(QStringList, calls);
        QTemporaryDir dir;
        const auto forAll = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                            QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(dir.path(), forAll));
        const QString bin = dir.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        for (const char* folder : {"/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"})
            for (const QFileInfo& tool : QDir(folder).entryInfoList(QDir::Files))
                if (!QStringList{"apt-get", "dnf", "sudo"}.contains(tool.fileName()) &&
                    !(path + ' ').contains('-' + tool.fileName() + ' '))
                    QFile::link(tool.filePath(), bin + "/" + tool.fileName()); // first one wins
        for (const QString& fake : path.split(' ').filter(QRegularExpression("^\\+")))
            QVERIFY(writeFile(bin + "/" + fake.mid(1),
                              "#!/bin/sh\nprintf '%s %s [%s]\\n' \"${0##*/}\" \"$*\" "
                              "\"${DEBIAN_FRONTEND:-}\" >>\"$CALLS\"\n" +
                                  QByteArray(fake == "+sudo" ? "exec \"$@\"\n" : ""),
                              forAll));
        // A copy, which that user may read wherever the source lies, called through a link.
        QVERIFY(QFile::copy(VANTREL_SOURCE_DIR "/scripts/setup.sh", dir.filePath("setup.sh")));
        QVERIFY(QFile::link(dir.filePath("setup.sh"), dir.filePath("setup")));
        QVERIFY(writeFile(dir.filePath("calls"), "", forAll | QFile::WriteOther));
        QProcessEnvironment env;
        env.insert("PATH", bin);
        env.insert("CALLS", dir.filePath("calls"));
        QProcess setup;
        setup.setProcessEnvironment(env);
        if (otherUser && !runAsOtherUser(setup)) QSKIP("no user other than root");
        setup.start(dir.filePath("setup"),
                    argument.isEmpty() ? QStringList() : QStringList{argument});
        const DownloadResult run = DownloadHome::finish(setup);
        // Refused: the packages, or the commands to run as root, are shown.
        QVERIFY2(run.exitCode == exitCode && (exitCode == 0 || run.output.contains(" zip")),
                 run.output.constData());
        QCOMPARE(callsIn(dir), calls);
    }

    // The installed command finds its programs beside itself; --demo downloads from the
    // simulated unit into the demo folder and never into the real ones, and its simulator
    // leaves no folder behind.
    void installedDemo() {
        DownloadHome home;
        const DownloadResult result =
            home.run(installed("bin/vantrel-download"), {"--demo", "--all"}, "--port 141 --days 1");
        QVERIFY2(result.exitCode == 0 && result.status == "Complete" &&
                     result.savedPaths.size() == 1 &&
                     result.savedPaths[0].startsWith(
                         home.home.filePath("data/vantrel-pc-demo/Data/VU/")),
                 result.output.constData());
        QCOMPARE(readWhole(result.savedPaths[0]).size(), readWhole(home.served()).size());
        // The simulator's own folders (TMPDIR points to the home) are gone with it.
        QVERIFY(!QFileInfo::exists(home.documents()) && !QFileInfo::exists(home.dataFolder()) &&
                QDir(home.home.path()).entryList({"vantrel-sim.*"}, QDir::Dirs).isEmpty());
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
