// Settings file and folder procedures. Built once per program variant: the same rows run
// against the engine's and the front end's module, with their own expectations.
#include "DownloadSettings.h"
#include "Folders.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace DownloadSettings;

namespace {

QString Flag(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString SettingValue(const QString& name) {
    if (name == "Language") return Language;
    if (name == "VUDataPath") return VUDataPath;
    if (name == "CardDataPath") return CardDataPath;
    if (name == "DiagnosticsWindow") return Flag(DiagnosticsWindow);
    if (name == "CloseDiagnosticsWindow") return Flag(CloseDiagnosticsWindow);
    if (name == "FileNameStyle") return FileNameStyle;
    if (name == "Log") return Flag(Log);
    if (name == "RXTIMEOUT") return QString::number(RXTIMEOUT);
    if (name == "InterBytePause") return QString::number(InterBytePause);
    return QStringLiteral("<unknown setting %1>").arg(name);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    int m_cases = 0;

    QString Home() const { return m_root.filePath("home"); }
    QString Documents() const { return Home() + "/Documents"; }
    QString DataHome() const { return Home() + "/.local/share"; }
    QString ConfigHome() const { return Home() + "/.config"; }

    // A fresh, empty folder for one test row.
    QString NewFolder() {
        const QString path = m_root.filePath(QStringLiteral("case%1").arg(++m_cases));
        QDir().mkpath(path);
        return path;
    }

    // Loads a settings file with the given content from a fresh data folder.
    QString LoadFrom(const QByteArray& content) {
        const QString folder = NewFolder();
        if (!WriteFile(folder + "/Settings.ini", content))
            qFatal("cannot write the settings file of a test row");
        LoadSettings(folder);
        return folder;
    }

private slots:
    void initTestCase();
    void specialFolders();
    void defaultsByVariant();
    void writtenFile_data();
    void writtenFile();
    void existingFileIsNeverRewritten_data();
    void existingFileIsNeverRewritten();
    void brokenFiles_data();
    void brokenFiles();
    void keys_data();
    void keys();
    void dataPaths_data();
    void dataPaths();
    void makeFolderPath_data();
    void makeFolderPath();
    void makeFolderPathRelative();
    void makeFolderPathWithoutPermission();
};

void TestSettings::initTestCase() {
    QVERIFY(m_root.isValid());
    QVERIFY(QDir().mkpath(Home()));
    qputenv("HOME", QFile::encodeName(Home()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome()));
    QStandardPaths::setTestModeEnabled(false);
}

void TestSettings::specialFolders() {
    QCOMPARE(GetSpecialFolder(CSIDL_COMMON_APPDATA), DataHome());
    QCOMPARE(GetSpecialFolder(CSIDL_PERSONAL), Documents());
    QCOMPARE(GetSpecialFolder(26), QString());
    QCOMPARE(GetSpecialFolder(0), QString());
    QCOMPARE(DataFolderPath(), DataHome() + "/Fenwright/Vantrel PC");

    qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome() + "/"));
    QCOMPARE(GetSpecialFolder(CSIDL_COMMON_APPDATA), DataHome());
    qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome()));
}

void TestSettings::defaultsByVariant() {
    const QString folder = NewFolder();
    LoadSettings(folder);
    QCOMPARE(SettingsFile, folder + "/Settings.ini");
    QCOMPARE(Language, QString("EN"));
    QCOMPARE(DiagnosticsWindow, false);
    QCOMPARE(CloseDiagnosticsWindow, true);
    QCOMPARE(Log, true);
    QCOMPARE(RXTIMEOUT, 1160);
    if (IsEngineVariant()) {
        QCOMPARE(VUDataPath, Documents() + "/VantrelPC/Data/VU/");
        QCOMPARE(CardDataPath, Documents() + "/VantrelPC/Data/Card/");
        QCOMPARE(FileNameStyle, QString(" "));
    } else {
        QCOMPARE(VUDataPath, Documents() + "/Vantrel PC/Data/VU");
        QCOMPARE(CardDataPath, Documents() + "/Vantrel PC/Data/Card");
        QCOMPARE(FileNameStyle, QString("LD"));
    }
    // Defaults are only named, not made: the folders appear when a download is saved.
    QVERIFY(!QFileInfo::exists(Documents() + "/VantrelPC"));
    QVERIFY(!QFileInfo::exists(Documents() + "/Vantrel PC"));
}

void TestSettings::writtenFile_data() {
    QTest::addColumn<QString>("userDirs"); // content of user-dirs.dirs, none when empty
    QTest::addColumn<QString>("documents");

    QTest::newRow("home documents") << QString() << Documents();
    QTest::newRow("user dirs with space and umlaut")
        << QString("XDG_DOCUMENTS_DIR=\"$HOME/Eigene Dateien \u00e4\"\n")
        << Home() + "/Eigene Dateien \u00e4";
}

void TestSettings::writtenFile() {
    QFETCH(QString, userDirs);
    QFETCH(QString, documents);
    const QString userDirsFile = ConfigHome() + "/user-dirs.dirs";
    QDir().mkpath(ConfigHome());
    QFile::remove(userDirsFile);
    if (!userDirs.isEmpty()) {
        QVERIFY(WriteFile(userDirsFile, userDirs.toUtf8()));
        QDir().mkpath(documents);
    }

    const QString folder = NewFolder();
    LoadSettings(folder);
    QFile::remove(userDirsFile);

    const QByteArray docs = documents.toUtf8();
    QByteArray expected;
    if (IsEngineVariant()) {
        expected = "#==============  Settings ==============#\r\n"
                   "\r\n"
                   "[InstallSettings]\r\n"
                   "Language=EN\r\n"
                   "VUDataPath=" +
                   docs + "/VantrelPC/Data/VU/\r\nCardDataPath=" + docs +
                   "/VantrelPC/Data/Card/\r\n"
                   "\r\n"
                   "[Options]\r\n";
    } else {
        expected = "#============== Settings ==============#\r\n"
                   "\r\n"
                   "[InstallSettings]\r\n"
                   "Language=EN\r\n"
                   "VUDataPath=" +
                   docs + "/Vantrel PC/Data/VU\r\nCardDataPath=" + docs +
                   "/Vantrel PC/Data/Card\r\n"
                   "\r\n"
                   "[Options]\r\n"
                   "FileNameStyle=LD\r\n";
    }
    QCOMPARE(ReadAll(folder + "/Settings.ini", kNoFile), expected);

    // Read back by the same variant, the written file gives the same settings, except that
    // a data path read from a file always ends with the separator.
    const QString vuWritten = VUDataPath;
    LoadSettings(folder);
    QCOMPARE(ReadAll(folder + "/Settings.ini", kNoFile), expected);
    QCOMPARE(Language, QString("EN"));
    QCOMPARE(FileNameStyle, IsEngineVariant() ? QString(" ") : QString("LD"));
    QCOMPARE(VUDataPath, vuWritten.endsWith('/') ? vuWritten : vuWritten + '/');
    QVERIFY(QFileInfo(VUDataPath).isDir());
    QVERIFY(QDir(documents).removeRecursively());
}

void TestSettings::existingFileIsNeverRewritten_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("language");

    QTest::newRow("empty file") << QByteArray() << "EN";
    QTest::newRow("comments and unknown lines survive")
        << QByteArray("# mine\r\n[Other]\r\nColour=blue\r\nLanguage=NL\r\n") << "NL";
    QTest::newRow("no line end at the end") << QByteArray("Language=PL") << "PL";
}

void TestSettings::existingFileIsNeverRewritten() {
    QFETCH(QByteArray, content);
    QFETCH(QString, language);
    const QString folder = LoadFrom(content);
    QCOMPARE(ReadAll(folder + "/Settings.ini", kNoFile), content);
    QCOMPARE(Language, language);
    QCOMPARE(Log, true);
}

void TestSettings::brokenFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("language");

    QTest::newRow("missing data folder") << "no folder"
                                         << "EN";
    QTest::newRow("folder in place of the file") << "folder"
                                                 << "EN";
    QTest::newRow("binary garbage, then a key") << "garbage"
                                                << "DE";
    QTest::newRow("three megabyte line, then a key") << "long line"
                                                     << "FR";
    QTest::newRow("long value line is read") << "long value"
                                             << "ES";
}

void TestSettings::brokenFiles() {
    QFETCH(QString, kind);
    QFETCH(QString, language);
    const QString folder = NewFolder();
    const QString file = folder + "/Settings.ini";
    QByteArray content;
    if (kind == "no folder") {
        LoadSettings(folder + "/missing");
        QVERIFY(!QFileInfo::exists(folder + "/missing"));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(file));
        LoadSettings(folder);
        QVERIFY(QFileInfo(file).isDir());
    } else {
        if (kind == "garbage") {
            QRandomGenerator random(2024);
            content.resize(1 << 16);
            for (char& byte : content)
                byte = char(random.bounded(256));
            content += QByteArray("\r\n\xff\xfe\0\r\rLanguage=XX\n\nLanguage=DE\r\n", 33);
        } else if (kind == "long line") {
            content = "Language=PL" + QByteArray(3 << 20, 'x') + "\r\nLanguage=FR\r\n";
        } else {
            content = "Log=" + QByteArray(100000, ' ') + "false\r\nLanguage=ES";
        }
        QVERIFY(WriteFile(file, content));
        LoadSettings(folder);
        QCOMPARE(ReadAll(file, kNoFile), content);
    }
    QCOMPARE(Language, language);
    QCOMPARE(Log, kind != "long value");
}

void TestSettings::keys_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("front");

    const auto both = [](const char* name, const QByteArray& content, const char* setting,
                         const char* value) {
        QTest::newRow(name) << content << QString(setting) << QString(value) << QString(value);
    };
    const auto rx = [](const char* name, const QByteArray& content, const char* engine) {
        QTest::newRow(name) << content << QString("RXTIMEOUT") << QString(engine)
                            << QString("1160");
    };

    both("Language upper case", "Language=DE\r\n", "Language", "DE");
    both("Language lower case refused", "Language=de\r\n", "Language", "EN");
    both("Language first two letters", "Language=DEUTSCH\r\n", "Language", "DE");
    both("Language trailing text", "Language=PL   \r\n", "Language", "PL");
    both("Language unknown code", "Language=IT\r\n", "Language", "EN");
    both("Language one letter too short", "Language=D\r\n", "Language", "EN");
    both("Language key case", "language=DE\r\n", "Language", "EN");
    both("Language with space after key", "Language= DE\r\n", "Language", "EN");
    both("key after leading spaces", "  Language=DE\r\n", "Language", "EN");
    both("comment", "# Language=DE\r\n", "Language", "EN");
    both("comment after spaces", "   #Language=DE\r\n", "Language", "EN");
    both("section header", "[Language=DE]\r\n", "Language", "EN");
    both("under Options", "[Options]\r\nLanguage=FR\r\n", "Language", "FR");
    both("before any section", "Language=NL\r\n[InstallSettings]\r\n", "Language", "NL");
    both("last line wins", "Language=DE\r\nLanguage=FR\r\n", "Language", "FR");
    both("last accepted line wins", "Language=DE\r\nLanguage=fr\r\nLanguage=X\r\n", "Language",
         "DE");
    both("LF line ends", "Log=true\nLanguage=ES\n", "Language", "ES");
    both("mixed line ends", "Log=true\r\nLog=false\nLanguage=ES", "Log", "false");
    both("CR LF value", "Log=FALSE\r\n", "Log", "false");

    both("Log lower case", "Log=false\r\n", "Log", "false");
    both("Log spaces around value", "Log= False  \r\n", "Log", "false");
    both("Log number refused", "Log=0\r\n", "Log", "true");
    both("Log without value", "Log=\r\n", "Log", "true");
    both("Log only spaces", "Log=   \r\n", "Log", "true");
    both("Log key case", "LOG=false\r\n", "Log", "true");
    both("Log after leading spaces", "  Log=FALSE\r\n", "Log", "true");
    both("Log tab is part of the value", "Log=\tfalse\r\n", "Log", "true");
    both("DiagnosticsWindow true", "DiagnosticsWindow=tRuE\r\n", "DiagnosticsWindow", "true");
    both("DiagnosticsWindow trailing text", "DiagnosticsWindow=TRUEX\r\n", "DiagnosticsWindow",
         "false");
    both("DiagnosticsWindow is not CloseDiagnosticsWindow", "CloseDiagnosticsWindow=true\r\n",
         "DiagnosticsWindow", "false");
    both("CloseDiagnosticsWindow false", "CloseDiagnosticsWindow= false\r\n",
         "CloseDiagnosticsWindow", "false");
    both("CloseDiagnosticsWindow not DiagnosticsWindow", "DiagnosticsWindow=false\r\n",
         "CloseDiagnosticsWindow", "true");
    both("flag toggled twice", "Log=false\r\nLog=true\r\nLog=maybe\r\n", "Log", "true");

    const char* style = "FileNameStyle";
    const char* defaultStyle = DownloadSettings::IsEngineVariant() ? " " : "LD";
    both("FileNameStyle lower case", "FileNameStyle=fr\r\n", style, "FR");
    both("FileNameStyle mixed case", "FileNameStyle=eS\r\n", style, "ES");
    both("FileNameStyle first two letters", "FileNameStyle=EUROPE\r\n", style, "EU");
    both("FileNameStyle one letter", "FileNameStyle=F\r\n", style, defaultStyle);
    both("FileNameStyle unknown", "FileNameStyle=DE\r\n", style, defaultStyle);
    both("FileNameStyle without value", "FileNameStyle=\r\n", style, defaultStyle);
    both("FileNameStyle space first", "FileNameStyle= EU\r\n", style, defaultStyle);
    both("FileNameStyle last wins", "FileNameStyle=LD\r\nFileNameStyle=eu\r\n", style, "EU");

    rx("RXTIMEOUT plain", "RXTIMEOUT=2000\r\n", "2000");
    rx("RXTIMEOUT key any case", "rxTimeout=2000\r\n", "2000");
    rx("RXTIMEOUT no number", "RXTIMEOUT=abc\r\n", "0");
    rx("RXTIMEOUT half down to even", "RXTIMEOUT=1500.5\r\n", "1500");
    rx("RXTIMEOUT half up to even", "RXTIMEOUT=1501.5\r\n", "1502");
    rx("RXTIMEOUT above half", "RXTIMEOUT=1500.51\r\n", "1501");
    rx("RXTIMEOUT leading spaces", "RXTIMEOUT=   2500 ms\r\n", "2500");
    rx("RXTIMEOUT stops at text", "RXTIMEOUT=12x34\r\n", "12");
    rx("RXTIMEOUT stops at inner space", "RXTIMEOUT=1 2\r\n", "1");
    rx("RXTIMEOUT negative", "RXTIMEOUT=-300\r\n", "-300");
    rx("RXTIMEOUT plus sign", "RXTIMEOUT=+7\r\n", "7");
    rx("RXTIMEOUT fraction only", "RXTIMEOUT=.5\r\n", "0");
    rx("RXTIMEOUT fraction only above half", "RXTIMEOUT=.75\r\n", "1");
    rx("RXTIMEOUT trailing point", "RXTIMEOUT=42.\r\n", "42");
    rx("RXTIMEOUT exponent", "RXTIMEOUT=1.2e3\r\n", "1200");
    rx("RXTIMEOUT signed exponent", "RXTIMEOUT=25E-1x\r\n", "2");
    rx("RXTIMEOUT exponent without digits", "RXTIMEOUT=3e\r\n", "3");
    rx("RXTIMEOUT sign without digits", "RXTIMEOUT=-x\r\n", "0");
    rx("RXTIMEOUT beyond 32 bits", "RXTIMEOUT=99999999999\r\n", "2147483647");
    rx("RXTIMEOUT far below 32 bits", "RXTIMEOUT=-1e300\r\n", "-2147483648");
    rx("RXTIMEOUT overflowing double", "RXTIMEOUT=1e99999\r\n", "2147483647");
    rx("RXTIMEOUT underflowing double", "RXTIMEOUT=1e-99999\r\n", "0");
    rx("RXTIMEOUT 32-bit maximum", "RXTIMEOUT=2147483647\r\n", "2147483647");
    rx("RXTIMEOUT 32-bit minimum", "RXTIMEOUT=-2147483648\r\n", "-2147483648");
    rx("RXTIMEOUT too short", "RXTIMEOUT=\r\n", "1160");
    rx("RXTIMEOUT after leading space", " RXTIMEOUT=5\r\n", "1160");
    rx("RXTIMEOUT space before equals", "RXTIMEOUT =5\r\n", "1160");
    rx("RXTIMEOUT last wins", "RXTIMEOUT=5\r\nrxtimeout=900\r\n", "900");
    QTest::newRow("InterBytePause") << QByteArray("interBytePause=6.4\r\n")
                                    << QString("InterBytePause") << QString("6") << QString("5");
}

void TestSettings::keys() {
    QFETCH(QByteArray, content);
    QFETCH(QString, setting);
    QFETCH(QString, engine);
    QFETCH(QString, front);
    LoadFrom(content);
    QCOMPARE(SettingValue(setting), IsEngineVariant() ? engine : front);
}

void TestSettings::dataPaths_data() {
    QTest::addColumn<QStringList>("files");   // regular files made first
    QTest::addColumn<QStringList>("folders"); // folders made first
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("expected"); // $DEFAULT, or $PREVIOUS: default with separator
    QTest::addColumn<QStringList>("madeFolders");

    const QStringList none;
    QTest::newRow("missing folder is created level by level")
        << none << none << "VUDataPath=$T/Downloads/VU\r\n"
        << "VUDataPath"
        << "$T/Downloads/VU/" << QStringList{"$T/Downloads", "$T/Downloads/VU"};
    QTest::newRow("card folder") << none << none << "CardDataPath=$T/c/d\r\n"
                                 << "CardDataPath"
                                 << "$T/c/d/" << QStringList{"$T/c/d"};
    QTest::newRow("existing folder with separator")
        << none << QStringList{"$T/vu"} << "VUDataPath=$T/vu/\r\n"
        << "VUDataPath"
        << "$T/vu/" << QStringList{"$T/vu"};
    QTest::newRow("spaces around the value") << none << none << "VUDataPath=   $T/vu   \r\n"
                                             << "VUDataPath"
                                             << "$T/vu/" << QStringList{"$T/vu"};
    QTest::newRow("space inside the name") << none << none << "CardDataPath=$T/my cards\n"
                                           << "CardDataPath"
                                           << "$T/my cards/" << QStringList{"$T/my cards"};
    QTest::newRow("below a regular file keeps the previous path")
        << QStringList{"$T/f"} << none << "VUDataPath=$T/f/VU\r\n"
        << "VUDataPath"
        << "$PREVIOUS" << none;
    QTest::newRow("an existing regular file is taken")
        << QStringList{"$T/f"} << none << "CardDataPath=$T/f\r\n"
        << "CardDataPath"
        << "$T/f/" << none;
    QTest::newRow("empty value keeps the previous path") << none << none << "VUDataPath=    \r\n"
                                                         << "VUDataPath"
                                                         << "$PREVIOUS" << none;
    QTest::newRow("line too short") << none << none << "CardDataPath=\r\n"
                                    << "CardDataPath"
                                    << "$DEFAULT" << none;
    QTest::newRow("key after leading spaces") << none << none << "  VUDataPath=$T/a\r\n"
                                              << "VUDataPath"
                                              << "$DEFAULT" << none;
    QTest::newRow("failed path after a good one")
        << QStringList{"$T/f"} << none << "VUDataPath=$T/a\r\nVUDataPath=$T/f/x\r\n"
        << "VUDataPath"
        << "$T/a/" << QStringList{"$T/a"};
    QTest::newRow("keys are apart") << none << none << "CardDataPath=$T/c\r\n"
                                    << "VUDataPath"
                                    << "$DEFAULT" << QStringList{"$T/c"};
}

void TestSettings::dataPaths() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(QString, content);
    QFETCH(QString, setting);
    QFETCH(QString, expected);
    QFETCH(QStringList, madeFolders);

    const QString root = NewFolder();
    const auto place = [&root](QString text) { return text.replace("$T", root); };
    for (const QString& file : files)
        QVERIFY(WriteFile(place(file), "x"));
    for (const QString& folder : folders)
        QVERIFY(QDir().mkpath(place(folder)));

    // The defaults of this variant, for the rows that keep them.
    LoadSettings(NewFolder());
    QString defaultPath = SettingValue(setting);
    QString previous = defaultPath.endsWith('/') ? defaultPath : defaultPath + '/';
    expected.replace("$DEFAULT", defaultPath).replace("$PREVIOUS", previous);

    LoadFrom(place(content).toUtf8());
    QCOMPARE(SettingValue(setting), place(expected));
    for (const QString& folder : madeFolders)
        QVERIFY2(QFileInfo(place(folder)).isDir(), qPrintable(place(folder)));
    QVERIFY(!QFileInfo::exists(root + "/a\r"));
}

void TestSettings::makeFolderPath_data() {
    QTest::addColumn<QStringList>("files"); // regular files made first
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("made");
    QTest::addColumn<QStringList>("folders"); // folders that exist afterwards
    QTest::addColumn<QString>("failedLevel"); // named in the reason

    const QStringList none;
    const QString longName(300, 'n');
    QTest::newRow("new levels") << none << "$T/a/b/c" << true << QStringList{"$T/a", "$T/a/b/c"}
                                << "";
    QTest::newRow("ending with separator")
        << none << "$T/a/b/" << true << QStringList{"$T/a/b"} << "";
    QTest::newRow("doubled separator") << none << "$T/a//b" << true << QStringList{"$T/a/b"} << "";
    QTest::newRow("existing folder") << none << "$T" << true << QStringList{"$T"} << "";
    QTest::newRow("root") << none << "/" << true << QStringList{"/"} << "";
    QTest::newRow("empty path") << none << "" << true << none << "";
    QTest::newRow("path is a regular file") << QStringList{"$T/f"} << "$T/f" << true << none << "";
    QTest::newRow("level below a regular file")
        << QStringList{"$T/f"} << "$T/f/sub/x" << false << none << "$T/f/sub";
    QTest::newRow("name too long stops the walk")
        << none << "$T/a/" + longName + "/b" << false << QStringList{"$T/a"} << "$T/a/" + longName;
}

void TestSettings::makeFolderPath() {
    QFETCH(QStringList, files);
    QFETCH(QString, path);
    QFETCH(bool, made);
    QFETCH(QStringList, folders);
    QFETCH(QString, failedLevel);

    const QString root = NewFolder();
    const auto place = [&root](QString text) { return text.replace("$T", root); };
    for (const QString& file : files)
        QVERIFY(WriteFile(place(file), "x"));

    QString error;
    QCOMPARE(MakeFolderPath(place(path), &error), made);
    for (const QString& folder : folders)
        QVERIFY2(QFileInfo(place(folder)).isDir(), qPrintable(place(folder)));
    for (const QString& file : files)
        QVERIFY(QFileInfo(place(file)).isFile());
    if (made) {
        QVERIFY2(error.isEmpty(), qPrintable(error));
    } else {
        QVERIFY2(error.contains(place(failedLevel) + ":"), qPrintable(error));
        QVERIFY(!QFileInfo::exists(place(path)));
    }
    QCOMPARE(MakeFolderPath(place(path)), made); // a second walk finds the same
}

void TestSettings::makeFolderPathRelative() {
    const QString root = NewFolder();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root));
    const bool made = MakeFolderPath("rel/a");
    QDir::setCurrent(previous);
    QVERIFY(made);
    QVERIFY(QFileInfo(root + "/rel/a").isDir());
}

void TestSettings::makeFolderPathWithoutPermission() {
    if (::geteuid() == 0) QSKIP("root may create folders anywhere");
    const QString root = NewFolder();
    QVERIFY(QDir().mkdir(root + "/locked"));
    QVERIFY(QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::ExeOwner));
    QString error;
    const bool made = MakeFolderPath(root + "/locked/a/b", &error);
    QFile::setPermissions(root + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!made);
    QVERIFY2(error.contains(root + "/locked/a:"), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
