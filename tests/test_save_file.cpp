#include "MessageLog.h"
#include "NewFile.h"
#include "Session.h"
#include "StatusFile.h"

#include "CardBytes.h"
#include "ScriptedLink.h"
#include "TestFiles.h"

#include <DownloadSettings.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray EveryByte(int repeats) {
    QByteArray data;
    for (int b = 0; b < 256; ++b)
        data += char(b);
    return data.repeated(repeats);
}

// A card chain: an ICC file, then the identification file (UK, DB12345678901234, SMITH, J).
const QByteArray kCard =
    CardFile(0x0002, 0, QByteArray(25, '\x11')) +
    CardFile(0x0520, 0,
             "\x15" + QByteArray("DB12345678901234").leftJustified(52) + QByteArray(12, '\x10') +
                 "\x01" + QByteArray("SMITH").leftJustified(35) + "\x01" +
                 QByteArray("JOHN").leftJustified(41, '\0'));

// One save: the session as the TREP walk leaves it, the style, what is in the VU folder
// already (a trailing "/" makes a folder), and the log, "#" standing for any digit.
struct Save {
    qint32 previousTrep;
    QString style, name, kind;
    QByteArray data;
    QStringList existing;
    QString log;
};

} // namespace

Q_DECLARE_METATYPE(Save)

class TestSaveFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<MessageLog> log_;
    std::unique_ptr<StatusFile> status_;
    std::unique_ptr<ScriptedLink> link_; // never opened: saving does not touch the link
    std::unique_ptr<Session> session_;

    QString path(const QString& relative) const { return dir_->filePath(relative); }
    // Every file below the test folder, hidden ones too: a temporary file left behind counts.
    QStringList files(const QString& folder) const {
        return QDir(path(folder)).entryList(QDir::Files | QDir::Hidden);
    }
    QByteArray status() const { return ReadAll(path("VNPCstatus.txt")); }
    // A file where the VU folder (and perhaps the data folder) should be.
    void block(bool dataFolderToo) {
        QVERIFY(WriteFile(path("blocked"), "old"));
        if (dataFolderToo) qputenv("XDG_DATA_HOME", path("blocked").toUtf8());
        DownloadSettings::VUDataPath = path("blocked/vu/");
    }

    // Fills the session as the TREP walk leaves it before a save, and saves.
    void save(qint32 previousTrep, const QString& name, const QString& kind, const QByteArray& data,
              qint32 currentTrep = 255) {
        session_->PreviousTrep = previousTrep;
        session_->CurrentTrep = currentTrep;
        session_->VuFileName = name;
        session_->DataKind = kind;
        session_->DownloadData = data;
        session_->SaveFile();
        QVERIFY(session_->DownloadData.isEmpty() && session_->DataKind.isEmpty());
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", path("xdg").toUtf8());
        for (const char* folder : {"vu", "card", "xdg/Fenwright/Vantrel PC"})
            QVERIFY(QDir().mkpath(path(folder)));
        log_ = std::make_unique<MessageLog>();
        status_ = std::make_unique<StatusFile>(*log_);
        status_->setFilePath(path("VNPCstatus.txt"));
        link_ = std::make_unique<ScriptedLink>();
        session_ = std::make_unique<Session>(*log_, *status_, *link_);
        DownloadSettings::VUDataPath = path("vu/");
        DownloadSettings::CardDataPath = path("card/");
        DownloadSettings::FileNameStyle = "EU";
    }

    // The name: the overview's with its prefix, or the card's; "saved.ddd" without one. A
    // name taken by a file or a folder goes to the next free number, and nothing existing is
    // touched; a download without data writes nothing but logs where it would have gone.
    void saves_data() {
        QTest::addColumn<Save>("save");
        const QByteArray vu = QByteArray::fromHex("7601") + EveryByte(3);
        const QString n = "20261205_0907_AB123CD      _WDB9066351S123456", m = "VU M_" + n;
        const QString card = "Card C_########_####_J_" + QString("SMITH").leftJustified(35);
        // clang-format off
        QTest::newRow("EU prefix") << Save{1, "EU", n + ".DDD", "M", vu, {}, m + ".DDD"};
        QTest::newRow("taken by files and a folder") << Save{1, "EU", n + ".DDD", "M", vu,
            {"M_" + n + ".DDD", "M_" + n + "_1.DDD/", "M_" + n + "_2.DDD"}, m + "_3.DDD"};
        QTest::newRow("ES V_") << Save{1, "ES", "X_F.TGD", "M", vu, {}, "VU V_X_F.TGD"};
        QTest::newRow("no overview") << Save{3, "EU", "", "M", vu, {}, "VU saved.ddd"};
        QTest::newRow("saved.ddd taken") << Save{1, " ", "saved.ddd", "M", vu,
            {"saved.ddd", "saved_1.ddd"}, "VU saved_2.ddd"};
        QTest::newRow("large") << Save{1, "EU", n + ".DDD", "U", EveryByte(8192), {},
            "VU U_" + n + ".DDD"};
        QTest::newRow("no data") << Save{4, "EU", n + ".DDD", "M", {}, {"saved.ddd"},
            "VU saved_1.ddd"};
        QTest::newRow("card 23 EU") << Save{23, "EU", n, "M", kCard, {}, card + "_DB12345678901234.DDD"};
        QTest::newRow("card ES") << Save{6, "ES", n, "M", kCard, {}, "Card C_DB12345678901234_UK_########_####.TGD"};
        QTest::newRow("card other style") << Save{6, "  ", n, "M", kCard, {}, "Card saved.ddd"};
        QTest::newRow("card without identification") << Save{6, "LD", n, "", CardFile(2, 0, "abc"),
            {}, "Card saved.ddd"};
        // clang-format on
    }
    void saves() {
        QFETCH(Save, save);
        for (const QString& name : save.existing)
            QVERIFY(name.endsWith('/') ? QDir().mkpath(path("vu/" + name))
                                       : WriteFile(path("vu/" + name), "old"));
        DownloadSettings::FileNameStyle = save.style;
        this->save(save.previousTrep, save.name, save.kind, save.data);
        const bool card = save.log.startsWith("Card");
        const QString saved =
            path(card ? "card/" : "vu/") + save.log.mid(save.log.indexOf(' ') + 1);
        const QRegularExpression expected(QRegularExpression::anchoredPattern(
            QRegularExpression::escape((card ? "Card" : "VU") + QString(" Path/File Name - ") +
                                       saved + (save.data.isEmpty() ? "" : "\r\nFile saved") +
                                       "\r\n")
                .replace("\\#", "\\d")));
        QVERIFY2(expected.match(log_->area()).hasMatch(), qPrintable(log_->area()));
        const QString written = log_->area().section(" - ", 1).section("\r\n", 0, 0);
        QCOMPARE(ReadAll(written), save.data);
        QCOMPARE(files("vu").size() + files("card").size(),
                 save.existing.filter(QRegularExpression("[^/]$")).size() + !save.data.isEmpty());
        for (const QString& name : save.existing)
            if (!name.endsWith('/')) QCOMPARE(ReadAll(path("vu/" + name)), QByteArray("old"));
        QCOMPARE(status(), save.data.isEmpty() ? "Failed\r\n" : "Complete\r\n");
    }

    // Two files of one session (VU, then the card) and the final status, written with the
    // last: a file with data that went nowhere fails the download.
    void finalStatus() {
        const struct {
            bool vu, card, vuLost;
            const char* status;
        } rows[] = {{true, true, false, "Complete\r\n"},
                    {true, false, false, "Complete\r\n"},
                    {false, true, false, "Complete\r\n"},
                    {false, false, false, "Failed\r\n"},
                    {true, true, true, "Failed - file not saved\r\n"}};
        for (const auto& row : rows) {
            init();
            if (row.vuLost) block(true);
            save(1, "N.DDD", "M", row.vu ? QByteArray::fromHex("760500") : QByteArray(), 6);
            QCOMPARE(status(), QByteArray()); // not the last file yet
            save(6, "M_N.DDD", "", row.card ? kCard : QByteArray());
            QCOMPARE(status(), row.status);
            QCOMPARE(files("vu").size() + files("card").size(),
                     int(row.vu && !row.vuLost) + int(row.card));
        }
    }

    // Where a file goes when its folder is missing or cannot be made (a file is in its way),
    // and what is logged on the way.
    void folderFallbacks() {
        const QString error = "no. " + QString::number(ENOTDIR) + " - " + std::strerror(ENOTDIR);
        const QString blocked = "VU Path/File Name - @/blocked/vu/M_N.DDD|File error " + error +
                                "|VU Path/File Name - \"@/blocked/vu/M_N.DDD\"|File save error - " +
                                error + "|VU Path/File Name - @/";
        const struct {
            int blocked; // 1: the VU folder, 2: the data folder too
            QString log;
            const char *savedAt, *status;
        } rows[] = {{0, "VU Path/File Name - @/vu/new/deeper/M_N.DDD|File saved", "vu/new/deeper/",
                     "Complete"},
                    {1, "xdg/Fenwright/Vantrel PC/M_N.DDD|File saved", "xdg/Fenwright/Vantrel PC/",
                     "Complete"},
                    {2,
                     "blocked/Fenwright/Vantrel PC/M_N.DDD|File save error - " + error +
                         "|File not saved - the downloaded data is lost",
                     nullptr, "Failed - file not saved"}};
        for (const auto& row : rows) {
            init();
            if (row.blocked)
                block(row.blocked == 2);
            else
                DownloadSettings::VUDataPath = path("vu/new/deeper/");
            save(1, "N.DDD", "M", "data");
            const QString log = (row.blocked ? blocked : QString()) + row.log;
            QCOMPARE(log_->area().split("\r\n", Qt::SkipEmptyParts).join('|'),
                     QString(log).replace('@', dir_->path()));
            if (row.savedAt) QCOMPARE(ReadAll(path(row.savedAt + QString("M_N.DDD"))), "data");
            QCOMPARE(status(), row.status + QByteArray("\r\n"));
        }
    }

    // A file too large for the process's limit stops the write half-way: the engine is
    // killed there (the default of SIGXFSZ, as a crash or a power cut would stop it), or the
    // write fails. Either way nothing is left under the download's name, and after a failure
    // nothing at all.
    void interruptedWriteLeavesNoDownload() {
        for (const bool killed : {true, false}) {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                const rlimit noCore{0, 0}, fileSize{4096, 4096};
                ::setrlimit(RLIMIT_CORE, &noCore);
                ::setrlimit(RLIMIT_FSIZE, &fileSize);
                ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
                ::_exit(WriteNewFile(path("vu/M_N.DDD"), EveryByte(64)));
            }
            int result = 0;
            QCOMPARE(::waitpid(child, &result, 0), child);
            if (killed)
                QVERIFY(WIFSIGNALED(result) && WTERMSIG(result) == SIGXFSZ);
            else
                QCOMPARE(WEXITSTATUS(result), EFBIG);
            QCOMPARE(killed ? QDir(path("vu")).entryList(QDir::Files) : files("vu"), QStringList());
            if (killed) QDir(path("vu")).removeRecursively(); // what the crash left
            QVERIFY(QDir().mkpath(path("vu")));
        }
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "test_save_file.moc"
