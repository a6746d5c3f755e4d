// Settings file and folder procedures. Built once per program variant: the same rows run
// against the engine's and the front end's module, with their own expectations.
#include "DownloadSettings.h"
#include "Folders.h"
#include "Numbers.h"
#include "TestFiles.h"

#include <QtTest>

#include <climits>

using namespace DownloadSettings;

// What a file set, in one line: language, the two window flags, log, naming style, data paths.
static QString settingsRead() {
    const QString flags =
        QString::asprintf("%d|%d|%d", diagnosticsWindow, closeDiagnosticsWindow, logging);
    return QStringList{language, flags, fileNameStyle, vuDataPath, cardDataPath}.join('|');
}

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    int m_cases = 0;
    // The documents folder has a space and an umlaut: paths are written and read as UTF-8.
    const QString m_documents = m_root.filePath("home/Eigene Dateien \u00e4");
    QString m_vu, m_card; // the variant's default data paths

    QString newFolder() {
        const QString path = m_root.filePath(QStringLiteral("case%1").arg(++m_cases));
        return QDir().mkpath(path) ? path : QString();
    }

    // Loads the settings of a fresh data folder that holds this file.
    QString loadFrom(const QByteArray& content) {
        const QString folder = newFolder();
        if (!writeFile(folder + "/Settings.ini", content)) qFatal("cannot write Settings.ini");
        loadSettings(folder);
        return folder;
    }

    // The variant's defaults in place of $S (naming style), $VU and $CARD ($VU/, $CARD/: with
    // the separator that a data path read from a file always ends with).
    QString wanted(QString text) const {
        return text.replace("$S", isEngineVariant() ? " " : "LD")
            .replace("$VU/", m_vu.endsWith('/') ? m_vu : m_vu + '/')
            .replace("$VU", m_vu)
            .replace("$CARD/", m_card.endsWith('/') ? m_card : m_card + '/')
            .replace("$CARD", m_card);
    }

private slots:
    void initTestCase() {
        qputenv("HOME", QFile::encodeName(m_root.filePath("home")));
        // The separator at the end must not reach the paths made from it.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath("data/")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.filePath("config")));
        QStandardPaths::setTestModeEnabled(false);
        // Each program's own module, by the test program's name.
        QCOMPARE(isEngineVariant(), QCoreApplication::applicationName().endsWith("engine"));
        QVERIFY(QDir().mkpath(m_documents) && QDir().mkpath(m_root.filePath("config")));
        QVERIFY(writeFile(m_root.filePath("config/user-dirs.dirs"),
                          "XDG_DOCUMENTS_DIR=\"$HOME/Eigene Dateien \xc3\xa4\"\n"));
        m_vu = m_documents + (isEngineVariant() ? "/VantrelPC/Data/VU/" : "/Vantrel PC/Data/VU");
        m_card =
            m_documents + (isEngineVariant() ? "/VantrelPC/Data/Card/" : "/Vantrel PC/Data/Card");
    }

    void missingFileIsWrittenWithVariantDefaults() {
        QCOMPARE(dataFolderPath(), m_root.filePath("data/Fenwright/Vantrel PC"));

        const QString folder = newFolder();
        loadSettings(folder);
        QCOMPARE(settingsFile, folder + "/Settings.ini");
        QCOMPARE(settingsRead(), wanted("EN|0|1|1|$S|$VU|$CARD"));
        // Defaults are only named, not made: the folders appear when a download is saved.
        QVERIFY(QDir(m_documents).isEmpty());
        const bool engine = isEngineVariant();
        const QByteArray written = readWhole(settingsFile, kNoFile);
        QCOMPARE(written,
                 QString("#==============%1 Settings ==============#\r\n\r\n"
                         "[InstallSettings]\r\nLanguage=EN\r\nVUDataPath=%2\r\n"
                         "CardDataPath=%3\r\n\r\n[Options]\r\n%4")
                     .arg(engine ? " " : "", m_vu, m_card, engine ? "" : "FileNameStyle=LD\r\n")
                     .toUtf8());

        // Read back, it names the same settings, and the data folders are made. The headless
        // command's naming style lasts one engine run, and the front end never takes it.
        qputenv("VANTREL_FILE_NAME_STYLE", "es");
        loadSettings(folder);
        qunsetenv("VANTREL_FILE_NAME_STYLE");
        QCOMPARE(readWhole(settingsFile, kNoFile), written);
        QCOMPARE(settingsRead(),
                 wanted(engine ? "EN|0|1|1|ES|$VU/|$CARD/" : "EN|0|1|1|$S|$VU/|$CARD/"));
        QVERIFY(QFileInfo(vuDataPath).isDir() && QFileInfo(cardDataPath).isDir());
    }

    // A broken file never stops the start, nor is it rewritten: what can be read is read.
    void existingFileIsReadNeverRewritten() {
        QByteArray garbage(1 << 16, '\0');
        QRandomGenerator(2024).fillRange(reinterpret_cast<quint32*>(garbage.data()), 1 << 14);
        garbage += QByteArray("\r\n\xff\xfe\0\r\rLanguage=XX\n\nLanguage=DE\r\n", 33);
        // clang-format off
        const std::pair<QByteArray, const char*> rows[] = {
            {"", "EN|0|1|1"}, {garbage, "DE|0|1|1"},
            {"# mine\r\n[Other]\r\nColour=blue\r\nLanguage=NL\r\n", "NL|0|1|1"},
            // A line of 1 MiB is read, a longer one passed over whole: nothing of its end is a line.
            {"Language=PL" + QByteArray((1 << 20) - 11, 'x') + "\r\nLanguage=FR" + QByteArray((1 << 20) - 9, 'x') + "Language=NL\r\nLog=false", "PL|0|1|0"},
            {"Log=" + QByteArray(100000, ' ') + "false\r\nLanguage=ES", "ES|0|1|0"}};
        // clang-format on
        for (const auto& [content, read] : rows) // loaded first, then the overview
            QVERIFY2(readWhole(loadFrom(content) + "/Settings.ini", kNoFile) == content &&
                         settingsRead() == wanted(read + QString("|$S|$VU|$CARD")),
                     content.left(40).constData());
        // Neither a missing data folder nor a folder in place of the file is made or replaced.
        const QString folder = newFolder();
        QVERIFY(QDir().mkdir(folder + "/Settings.ini"));
        loadSettings(folder + "/missing");
        loadSettings(folder);
        QVERIFY(settingsRead() == wanted("EN|0|1|1|$S|$VU|$CARD") &&
                !QFileInfo::exists(folder + "/missing") &&
                QFileInfo(folder + "/Settings.ini").isDir());
    }

    // Keys are matched whole, from the line's start and case-sensitively; values are read as
    // little as they need. A data path that names nothing is made; one that still names
    // nothing keeps the earlier path. A path in double quotes loses them, as a pair only; a
    // relative one is taken from the current folder. $T: a fresh folder holding the regular
    // file $T/f, and the current folder.
    void keysAndDataPaths() {
        // clang-format off
        const char* rows[][2] = {
            {"Language=DEUTSCH\r\nDiagnosticsWindow=tRuE\nCloseDiagnosticsWindow= false  \r\n"
             "Log= False\r\nFileNameStyle=euROPE", "DE|1|0|0|EU|$VU|$CARD"},
            {"Language=de\r\nLanguage=IT\r\nLanguage=D\r\nlanguage=NL\r\nLanguage= FR\r\n"
             "  Language=ES\r\n   #Language=PL\r\n[Language=DE]\r\nLog=0\r\nLOG=false\r\n"
             "Log=\tfalse\r\nDiagnosticsWindow=TRUEX\r\nCloseDiagnosticsWindow=true\r\n"
             "DiagnosticsWindow=false\r\nFileNameStyle=F\r\nFileNameStyle=DE\r\n"
             "FileNameStyle= EU\r\n  VUDataPath=$T\r\nCardDataPath=\r\n", "EN|0|1|1|$S|$VU|$CARD"},
            {"Language=DE\r\n[Options]\r\nLanguage=FR\r\nLanguage=fr\r\nLog=false\r\n"
             "Log=TRUE\r\nLog=maybe\r\nFileNameStyle=LD\r\nFileNameStyle=es\r\nFileNameStyle=x",
             "FR|0|1|1|ES|$VU|$CARD"},
            {"VUDataPath=$T/Downloads/VU\r\nCardDataPath=$T/\r\n", "EN|0|1|1|$S|$T/Downloads/VU/|$T/"},
            {"VUDataPath=   $T/my vu   \r\nCardDataPath=$T/f/c\r\n", "EN|0|1|1|$S|$T/my vu/|$CARD/"},
            {"VUDataPath=    \r\nCardDataPath=$T/f\r\n", "EN|0|1|1|$S|$VU/|$T/f/"},
            {"VUDataPath=$T/a\r\nVUDataPath=$T/f/x\r\n", "EN|0|1|1|$S|$T/a/|$CARD"},
            {"VUDataPath= \"$T/tacho data/VU\" \r\nCardDataPath=\"$T/c\"d\"\r\n", "EN|0|1|1|$S|$T/tacho data/VU/|$T/c\"d/"},
            {"VUDataPath=$T/one\"\r\nCardDataPath=\"\"\r\n", "EN|0|1|1|$S|$T/one\"/|$CARD/"},
            {"VUDataPath=rel vu\r\nCardDataPath=\"./c/\"\r\n", "EN|0|1|1|$S|$T/rel vu/|$T/c/"}};
        // clang-format on
        for (const auto& [content, expected] : rows) {
            const QString root = newFolder();
            QVERIFY(writeFile(root + "/f", "x") && QDir::setCurrent(root));
            loadFrom(QString(content).replace("$T", root).toUtf8());
            QVERIFY2(settingsRead() == wanted(expected).replace("$T", root),
                     qPrintable(content + QString("\ngives ") + settingsRead()));
        }
    }

    // The engine reads its timing numbers leniently, with the key in any case, none carried
    // over from an earlier load. The pause before a request is held to what the unit allows:
    // from 10 ms, which it needs to listen again, to 5 s, after which it has dropped the
    // session. The front end keeps the defaults.
    void timingNumbersAreTheEngines() {
        // clang-format off
        const std::pair<const char*, const char*> rows[] = {
            {"rxTimeout=2000\r\ninterBytePause=6.4\r\nLog=false", "2000|6|10"},
            {"RXTIMEOUT =5\r\n RXTIMEOUT=7\r\nRXTIMEOUT=\r\n", "1160|5|10"},
            {"InterMessagePause=25\r\n", "1160|5|25"}, {"intermessagepause=  12.5 ms\r\n", "1160|5|12"},
            {"InterMessagePause=5000", "1160|5|5000"}, {"InterMessagePause=9", "1160|5|10"},
            {"InterMessagePause=5001", "1160|5|5000"}, {"InterMessagePause=30\r\nInterMessagePause=2", "1160|5|10"},
            {"InterMessagePause=\r\nInterBytePause=40", "1160|40|10"}};
        // clang-format on
        for (const auto& [content, numbers] : rows) {
            loadFrom("RxTimeout=700\r\nInterBytePause=70\r\nInterMessagePause=700\r\n");
            loadFrom(content);
            QVERIFY2(QString::asprintf("%d|%d|%d", rxTimeout, interBytePause, interMessagePause) ==
                         (isEngineVariant() ? numbers : "1160|5|10"),
                     content);
        }
        // clang-format off
        const std::pair<const char*, qint32> numbers[] = {
            {"abc", 0}, {"1500.5", 1500}, {"1501.5", 1502}, {"   2500 ms", 2500}, {"-12x34", -12},
            {"+.75", 1}, {"42.", 42}, {"25E-1x", 2}, {"3e", 3}, {"\u0663", 0},
            {"99999999999", INT_MAX}, {"1e99999", INT_MAX}, {"-1e300", INT_MIN}};
        // clang-format on
        for (const auto& [text, number] : numbers)
            QVERIFY2(roundedNumber(QString::fromUtf8(text)) == number, text);
    }

    // Every level of a path is made in turn, from the current folder for a relative path; a
    // level that cannot be made ends the walk and is named. A regular file counts as made.
    void makeFolderPath() {
        const QString root = newFolder(), tooLong = root + "/a/" + QString(300, 'n');
        QVERIFY(writeFile(root + "/f", "x") && QDir::setCurrent(root));
        QVERIFY(::makeFolderPath("rel//a/") && QFileInfo(root + "/rel/a").isDir());
        QVERIFY(::makeFolderPath(root + "/f") && QFileInfo(root + "/f").isFile());
        QString error;
        QVERIFY(!::makeFolderPath(root + "/f/sub/x", &error));
        QCOMPARE(error.section(':', 0, 0), "Can't create folder " + root + "/f/sub");
        QVERIFY(!::makeFolderPath(tooLong + "/b", &error) && QFileInfo(root + "/a").isDir());
        QCOMPARE(error.section(':', 0, 0), "Can't create folder " + tooLong);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
