// cmake --install into a temporary prefix: the programs and the desktop entry, the setup
// script, and the installed demo.
#include "DownloadRun.h"

#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QXmlStreamReader>
#include <QtTest>

namespace {
using Run = DownloadResult;

Run runTool(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    return DownloadHome::finish(process);
}

// The texts of the launchable, image and modalias elements of an AppStream file, by name.
QMultiMap<QString, QString> elementTexts(const QByteArray& xml) {
    QMultiMap<QString, QString> texts;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement) continue;
        const QString name = reader.name().toString();
        if (QStringList{"launchable", "image", "modalias"}.contains(name))
            texts.insert(name, reader.readElementText());
    }
    return texts;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir prefix_;

    QString installed(const QString& relative) const { return prefix_.filePath(relative); }

private slots:
    void initTestCase() {
        const Run run =
            runTool("cmake", {"--install", VANTREL_BUILD_DIR, "--prefix", prefix_.path()});
        QVERIFY2(run.exitCode == 0, run.output);
        for (const char* program :
             {"VNPCBase", "VantrelPC", "VantrelVuSim", "VantrelDownload", "vantrel-download"})
            QVERIFY2(QFileInfo(installed(QString("bin/") + program)).isExecutable(), program);
        QVERIFY(QFileInfo(installed("share/vantrel-pc/sim-env.sh")).size() > 0);
    }

    // The entry passes its validator; what it starts and shows is installed.
    void desktopEntry() {
        const QString file = installed("share/applications/vantrel-pc.desktop");
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing: run scripts/setup.sh");
        const Run run = runTool(validator, {file});
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

    // The AppStream data passes its validator (offline: the addresses are not fetched); it
    // names the installed desktop entry, the pictures in docs/screenshots and the cable of
    // the udev rule.
    void appStreamData() {
        const QString file = installed("share/metainfo/com.fenwright.VantrelPC.metainfo.xml");
        const QString validator = QStandardPaths::findExecutable("appstreamcli");
        QVERIFY2(!validator.isEmpty(), "appstreamcli is missing: run scripts/setup.sh");
        const Run run = runTool(validator, {"validate", "--no-net", file});
        QVERIFY2(run.exitCode == 0, run.output);
        const QMultiMap<QString, QString> texts = elementTexts(readWhole(file));
        QCOMPARE(texts.values("launchable"), QStringList{"vantrel-pc.desktop"});
        QVERIFY(QFile::exists(installed("share/applications/vantrel-pc.desktop")));
        const QStringList images = texts.values("image");
        QCOMPARE(images.size(), 4);
        for (const QString& image : images)
            QVERIFY2(
                image.startsWith("https://") &&
                    QFile::exists(VANTREL_SOURCE_DIR "/docs/screenshots/" + image.section('/', -1)),
                qPrintable(image));
        const QString rule =
            QString::fromUtf8(readWhole(VANTREL_SOURCE_DIR "/data/70-vantrel-pc.rules"));
        const QString vendor =
            QRegularExpression("idVendor}==\"([0-9a-f]{4})\"").match(rule).captured(1);
        QVERIFY(!vendor.isEmpty());
        const QStringList modaliases = texts.values("modalias");
        QVERIFY(!modaliases.isEmpty());
        for (const QString& modalias : modaliases)
            QVERIFY2(QRegularExpression("^usb:v" + vendor.toUpper() + "p[0-9A-F]{4}d\\*$")
                         .match(modalias)
                         .hasMatch(),
                     qPrintable(modalias));
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
        const auto row = [](const char* name, const char* script, const char* argument,
                            const char* udev, const QStringList& calls) {
            QTest::newRow(name) << script << argument << udev << calls;
        };
        // clang-format off
        row("installed", "postinst", "configure", "running", all);
        row("installed, udev failing", "postinst", "configure", "failing", all);
        row("installed, udev not running", "postinst", "configure", "stopped", {ping});
        row("installed, no udev", "postinst", "configure", "missing", {});
        row("install undone", "postinst", "abort-upgrade", "running", {});
        row("removed", "postrm", "remove", "running", all);
        row("removed, udev failing", "postrm", "remove", "failing", all);
        row("removed, udev not running", "postrm", "remove", "stopped", {ping});
        row("removed, no udev", "postrm", "remove", "missing", {});
        row("purged", "postrm", "purge", "running", {});
        row("upgraded", "postrm", "upgrade", "running", {});
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
        const Run run =
            runTool("/bin/sh", {VANTREL_SOURCE_DIR "/data/debian/" + script, argument}, env);
        QVERIFY2(run.exitCode == 0 && run.output.isEmpty(), run.output);
        QCOMPARE(
            QString::fromUtf8(readWhole(dir.filePath("calls"))).split('\n', Qt::SkipEmptyParts),
            calls);
        QVERIFY(QFileInfo(VANTREL_SOURCE_DIR "/data/debian/" + script).isExecutable());
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
        row("all there, no package manager", "", "", false, 0, {});
        row("all there, package managers", "+apt-get +dnf +sudo", "", true, 0, {});
        row("zip missing, Debian", "-zip +apt-get +dnf", "", false, 0, {update, install});
        row("zip missing, Fedora", "-zip +dnf", "", false, 0, {"dnf -y install unzip zip []"});
        row("zip missing, not root", "-zip +apt-get +sudo", "", true, 0,
            {sudo + update.chopped(16) + "[]", update, sudo + install.chopped(16) + "[]", install});
        row("zip missing, not root, no sudo", "-zip +apt-get", "", true, 1, {});
        row("zip missing, no package manager", "-zip", "", false, 1, {});
        // The packaging tools only for making the package.
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
        const Run run = DownloadHome::finish(setup);
        const QByteArray& output = run.output;
        QVERIFY2(run.exitCode == exitCode, output.constData());
        QCOMPARE(
            QString::fromUtf8(readWhole(dir.filePath("calls"))).split('\n', Qt::SkipEmptyParts),
            calls);
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
        QCOMPARE(readWhole(result.savedPaths.first()).size(), readWhole(home.served()).size());
        QVERIFY(!QFileInfo::exists(home.documents()));
        QVERIFY(!QFileInfo::exists(home.dataFolder()));
        QVERIFY(home.simulatorFolders().isEmpty());
    }
};

QTEST_MAIN(TestInstall)
#include "test_install.moc"
