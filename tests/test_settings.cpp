// Settings file and folder procedures. Built once per program variant: the same rows run
// against the engine's and the front end's module, with their own expectations.
#include "DownloadSettings.h"
#include "Folders.h"
#include "Numbers.h"
#include "TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

using namespace DownloadSettings;

namespace {

// What a file set, in one line: language, the two window flags, log, naming style.
QString Read() {
    return QStringList{Language, QString::number(DiagnosticsWindow),
                       QString::number(CloseDiagnosticsWindow), QString::number(Log), FileNameStyle}
        .join('|');
}

QString Shown(const QByteArray& content) {
    return QString::fromUtf8(content).replace("\r\n", "|").replace('\n', '|');
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    int m_cases = 0;
    QString Home() const { return m_root.filePath("home"); }
    QString DataHome() const { return Home() + "/.local/share"; }

    QString NewFolder() {
        const QString path = m_root.filePath(QStringLiteral("case%1").arg(++m_cases));
        QDir().mkpath(path);
        return path;
    }

    // Loads the settings of a fresh data folder that holds this file.
    void LoadFrom(const QByteArray& content) {
        const QString folder = NewFolder();
        if (!WriteFile(folder + "/Settings.ini", content)) qFatal("cannot write Settings.ini");
        LoadSettings(folder);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        QVERIFY(QDir().mkpath(Home()));
        qputenv("HOME", QFile::encodeName(Home()));
        // The separator at the end must not reach the paths made from it.
        qputenv("XDG_DATA_HOME", QFile::encodeName(DataHome() + "/"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Home() + "/.config"));
        QStandardPaths::setTestModeEnabled(false);
    }

    void missingFileIsWrittenWithVariantDefaults_data() {
        QTest::addColumn<QByteArray>("userDirs"); // content of user-dirs.dirs, none when empty
        QTest::addColumn<QString>("documents");
        QTest::newRow("home documents") << QByteArray() << Home() + "/Documents";
        QTest::newRow("user dirs with space and umlaut")
            << QByteArray("XDG_DOCUMENTS_DIR=\"$HOME/Eigene Dateien \xc3\xa4\"\n")
            << Home() + "/Eigene Dateien \u00e4";
    }

    void missingFileIsWrittenWithVariantDefaults() {
        QFETCH(QByteArray, userDirs);
        QFETCH(QString, documents);
        const QString userDirsFile = Home() + "/.config/user-dirs.dirs";
        QVERIFY(QDir().mkpath(documents) && QDir().mkpath(Home() + "/.config"));
        QVERIFY(userDirs.isEmpty() ? QFile::remove(userDirsFile) || !QFile::exists(userDirsFile)
                                   : WriteFile(userDirsFile, userDirs));
        QCOMPARE(GetSpecialFolder(CSIDL_PERSONAL), documents);
        QCOMPARE(GetSpecialFolder(CSIDL_COMMON_APPDATA), DataHome());
        QCOMPARE(GetSpecialFolder(26), QString());
        QCOMPARE(DataFolderPath(), DataHome() + "/Fenwright/Vantrel PC");

        const QString folder = NewFolder();
        LoadSettings(folder);
        const bool engine = IsEngineVariant();
        QCOMPARE(SettingsFile, folder + "/Settings.ini");
        QCOMPARE(Read() + QStringLiteral("|%1|%2").arg(RXTIMEOUT).arg(InterBytePause),
                 QString(engine ? "EN|0|1|1| |1160|5" : "EN|0|1|1|LD|1160|5"));
        const QString vu = documents + (engine ? "/VantrelPC/Data/VU/" : "/Vantrel PC/Data/VU");
        const QString card =
            documents + (engine ? "/VantrelPC/Data/Card/" : "/Vantrel PC/Data/Card");
        QCOMPARE(VUDataPath + '|' + CardDataPath, vu + '|' + card);
        // Defaults are only named, not made: the folders appear when a download is saved.
        QVERIFY(QDir(documents).isEmpty());
        const QByteArray written = ReadAll(SettingsFile, kNoFile);
        QCOMPARE(written, QString(engine ? "#==============  Settings ==============#\r\n\r\n"
                                           "[InstallSettings]\r\nLanguage=EN\r\nVUDataPath=%1\r\n"
                                           "CardDataPath=%2\r\n\r\n[Options]\r\n"
                                         : "#============== Settings ==============#\r\n\r\n"
                                           "[InstallSettings]\r\nLanguage=EN\r\nVUDataPath=%1\r\n"
                                           "CardDataPath=%2\r\n\r\n[Options]\r\n"
                                           "FileNameStyle=LD\r\n")
                              .arg(vu, card)
                              .toUtf8());

        // Read back, it names the same settings, and the data folders are made; a path read
        // from a file always ends with the separator. The headless command's naming style
        // lasts one engine run, and the front end never takes it.
        qputenv("VANTREL_FILE_NAME_STYLE", "es");
        LoadSettings(folder);
        qunsetenv("VANTREL_FILE_NAME_STYLE");
        QCOMPARE(ReadAll(SettingsFile, kNoFile), written);
        QCOMPARE(Read(), QString(engine ? "EN|0|1|1|ES" : "EN|0|1|1|LD"));
        QCOMPARE(CardDataPath, engine ? card : card + '/');
        QVERIFY(QFileInfo(VUDataPath).isDir() && QFileInfo(CardDataPath).isDir());
        QFile::remove(userDirsFile);
        QVERIFY(QDir(documents).removeRecursively());
    }

    void existingFileIsReadNeverRewritten_data() {
        QTest::addColumn<QString>("place"); // "file", or what is there instead of the file
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");

        QByteArray garbage(1 << 16, '\0');
        QRandomGenerator random(2024);
        for (char& byte : garbage)
            byte = char(random.bounded(256));
        garbage += QByteArray("\r\n\xff\xfe\0\r\rLanguage=XX\n\nLanguage=DE\r\n", 33);
        const QString style = IsEngineVariant() ? " " : "LD";

        QTest::newRow("missing data folder") << "nothing" << QByteArray() << "EN|0|1|1|" + style;
        QTest::newRow("folder in place of the file")
            << "folder" << QByteArray() << "EN|0|1|1|" + style;
        QTest::newRow("empty file") << "file" << QByteArray() << "EN|0|1|1|" + style;
        QTest::newRow("comments and unknown lines survive")
            << "file" << QByteArray("# mine\r\n[Other]\r\nColour=blue\r\nLanguage=NL\r\n")
            << "NL|0|1|1|" + style;
        QTest::newRow("binary garbage, then a key") << "file" << garbage << "DE|0|1|1|" + style;
        QTest::newRow("three megabyte line is passed over")
            << "file"
            << "Language=PL" + QByteArray(3 << 20, 'x') + "\r\nLanguage=FR\r\n"
            << "FR|0|1|1|" + style;
        QTest::newRow("long value line is read")
            << "file"
            << "Log=" + QByteArray(100000, ' ') + "false\r\nLanguage=ES"
            << "ES|0|1|0|" + style;
    }

    void existingFileIsReadNeverRewritten() {
        QFETCH(QString, place);
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        const QString folder = NewFolder();
        const QString file = folder + "/Settings.ini";
        if (place == "file") QVERIFY(WriteFile(file, content));
        if (place == "folder") QVERIFY(QDir().mkdir(file));
        LoadSettings(place == "nothing" ? folder + "/missing" : folder);
        QCOMPARE(Read(), read);
        if (place == "file") QCOMPARE(ReadAll(file, kNoFile), content);
        QCOMPARE(QFileInfo(file).isDir(), place == "folder");
        QVERIFY(!QFileInfo::exists(folder + "/missing"));
    }

    // Keys are matched whole, from the line's start and case-sensitively; values are read as
    // little as they need. $S: the variant's default style.
    void keysAreReadStrictly() {
        const char* rows[][2] = {
            {"Language=DEUTSCH\r\nDiagnosticsWindow=tRuE\nCloseDiagnosticsWindow= false  \r\n"
             "Log= False\r\nFileNameStyle=euROPE",
             "DE|1|0|0|EU"},
            {"Language=de\r\nLanguage=IT\r\nLanguage=D\r\nlanguage=NL\r\nLanguage= FR\r\n"
             "  Language=ES\r\n   #Language=PL\r\n[Language=DE]\r\nLog=0\r\nLOG=false\r\n"
             "Log=\tfalse\r\nDiagnosticsWindow=TRUEX\r\nCloseDiagnosticsWindow=true\r\n"
             "DiagnosticsWindow=false\r\nFileNameStyle=F\r\nFileNameStyle=DE\r\n"
             "FileNameStyle= EU\r\n",
             "EN|0|1|1|$S"},
            {"Language=DE\r\n[Options]\r\nLanguage=FR\r\nLanguage=fr\r\nLog=false\r\n"
             "Log=TRUE\r\nLog=maybe\r\nFileNameStyle=LD\r\nFileNameStyle=es\r\nFileNameStyle=x",
             "FR|0|1|1|ES"}};
        for (const auto& [content, expected] : rows) {
            LoadFrom(content);
            const QString wanted = QString(expected).replace("$S", IsEngineVariant() ? " " : "LD");
            QVERIFY2(Read() == wanted, qPrintable(Shown(content) + " gives " + Read()));
        }
    }

    // The engine reads its timing numbers leniently, with the key in any case; the front end
    // keeps its defaults.
    void timingNumbersAreTheEngines() {
        LoadFrom("rxTimeout=2000\r\ninterBytePause=6.4\r\nLog=false");
        QCOMPARE(QStringLiteral("%1|%2").arg(RXTIMEOUT).arg(InterBytePause),
                 QString(IsEngineVariant() ? "2000|6" : "1160|5"));
        LoadFrom("RXTIMEOUT =5\r\n RXTIMEOUT=7\r\nRXTIMEOUT=\r\n");
        QCOMPARE(RXTIMEOUT, 1160);

        const std::pair<const char*, qint32> numbers[] = {{"abc", 0},
                                                          {"1500.5", 1500},
                                                          {"1501.5", 1502},
                                                          {"   2500 ms", 2500},
                                                          {"-12x34", -12},
                                                          {"+.75", 1},
                                                          {".5", 0},
                                                          {"42.", 42},
                                                          {"25E-1x", 2},
                                                          {"3e", 3},
                                                          {"1 2", 1},
                                                          {"\u0663", 0},
                                                          {"-x", 0},
                                                          {"1e-99999", 0},
                                                          {"99999999999", INT_MAX},
                                                          {"1e99999", INT_MAX},
                                                          {"-1e300", INT_MIN}};
        for (const auto& [text, number] : numbers)
            QVERIFY2(RoundedNumber(QString::fromUtf8(text)) == number, text);
    }

    // $T: a fresh folder holding the regular file $T/f; $VU, $CARD: the variant's defaults,
    // $VU/ with the separator.
    void dataPathsAreMadeOrKept() {
        const char* rows[][2] = {
            {"VUDataPath=$T/Downloads/VU\r\n", "$T/Downloads/VU/|$CARD"},
            {"VUDataPath=$T/\r\n", "$T/|$CARD"},
            {"VUDataPath=   $T/my vu   \r\nCardDataPath=\r\n", "$T/my vu/|$CARD"},
            {"VUDataPath=$T/f/VU\r\nCardDataPath=$T/c\r\n", "$VU/|$T/c/"},
            {"VUDataPath=    \r\nCardDataPath=$T/f\r\n", "$VU/|$T/f/"},
            {"VUDataPath=$T/a\r\nVUDataPath=$T/f/x\r\n", "$T/a/|$CARD"}};
        LoadSettings(NewFolder());
        const QString vu = VUDataPath, card = CardDataPath;
        for (const auto& [content, expected] : rows) {
            const QString root = NewFolder();
            QVERIFY(WriteFile(root + "/f", "x"));
            LoadFrom(QString(content).replace("$T", root).toUtf8());
            const QString wanted = QString(expected)
                                       .replace("$T", root)
                                       .replace("$VU/", vu.endsWith('/') ? vu : vu + '/')
                                       .replace("$VU", vu)
                                       .replace("$CARD", card);
            QVERIFY2(VUDataPath + '|' + CardDataPath == wanted,
                     qPrintable(Shown(content) + " gives " + VUDataPath + '|' + CardDataPath));
            QVERIFY(!VUDataPath.startsWith(root) || QFileInfo(VUDataPath).isDir());
        }
    }

    void makeFolderPath_data() {
        QTest::addColumn<QString>("path");        // $T: a fresh current folder holding the file f
        QTest::addColumn<QString>("folder");      // made, when the walk succeeds
        QTest::addColumn<QString>("failedLevel"); // named in the reason

        const QString longName(300, 'n');
        QTest::newRow("new levels") << "$T/a/b/c"
                                    << "$T/a/b/c"
                                    << "";
        QTest::newRow("doubled and ending separators") << "$T/a//b/"
                                                       << "$T/a/b"
                                                       << "";
        QTest::newRow("relative path") << "rel/a"
                                       << "$T/rel/a"
                                       << "";
        QTest::newRow("root") << "/"
                              << "/"
                              << "";
        QTest::newRow("empty path") << ""
                                    << "$T"
                                    << "";
        QTest::newRow("path is a regular file") << "$T/f"
                                                << "$T"
                                                << "";
        QTest::newRow("level below a regular file") << "$T/f/sub/x"
                                                    << ""
                                                    << "$T/f/sub";
        QTest::newRow("name too long stops the walk") << "$T/a/" + longName + "/b"
                                                      << "$T/a"
                                                      << "$T/a/" + longName;
    }

    void makeFolderPath() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, failedLevel);
        const QString root = NewFolder();
        QVERIFY(WriteFile(root + "/f", "x"));
        path.replace("$T", root);
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root));
        QString error;
        const bool made = MakeFolderPath(path, &error);
        const bool again = MakeFolderPath(path); // a second walk finds the same
        QDir::setCurrent(previous);

        QCOMPARE(made, failedLevel.isEmpty());
        QCOMPARE(again, made);
        QVERIFY(folder.isEmpty() || QFileInfo(folder.replace("$T", root)).isDir());
        QVERIFY(QFileInfo(root + "/f").isFile());
        if (made)
            QVERIFY2(error.isEmpty(), qPrintable(error));
        else
            QVERIFY2(
                error.startsWith("Can't create folder " + failedLevel.replace("$T", root) + ": ") &&
                    !QFileInfo::exists(path),
                qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
