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
#include <memory>
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

// A card chain: an ICC file, then the identification file (UK, card DB12345678901234,
// SMITH, JOHN).
QByteArray Card() {
    const QByteArray id = "\x15"
                          "DB12345678901234" +
                          QByteArray(36, ' ') + QByteArray(12, '\x10') + "\x01" +
                          QByteArray("SMITH").leftJustified(35) + "\x01" +
                          QByteArray("JOHN").leftJustified(35) + QByteArray(6, '\0');
    return CardFile(0x0002, 0, QByteArray(25, '\x11')) + CardFile(0x0520, 0, id);
}

// One save: the session as the TREP walk leaves it, the style, what is in the folders
// already (a trailing "/" makes a folder), and where the file goes, below the test folder.
struct Save {
    qint32 previousTrep;
    QString style, name, kind;
    QByteArray data;
    QStringList existing;
    QString expected;
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
    // Hidden files too: a temporary file left behind counts.
    QStringList filesIn(const QString& folder) const {
        return QDir(path(folder)).entryList(QDir::Files | QDir::Hidden);
    }
    void touch(const QString& relative) { QVERIFY(WriteFile(path(relative), "old")); }
    // A file where the folder should be, and perhaps where the data folder should be too.
    void blockFolders(const QString& folder, bool dataFolderToo = true) {
        touch("blocked");
        if (dataFolderToo) qputenv("XDG_DATA_HOME", path("blocked").toUtf8());
        DownloadSettings::VUDataPath = path(folder);
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
        DownloadSettings::VUDataPath = path("vu") + '/';
        DownloadSettings::CardDataPath = path("card") + '/';
        DownloadSettings::FileNameStyle = "EU";
    }

    // The name: the overview's, with its prefix, or the card's; "saved.ddd" without one.
    // A name taken by a file or a folder goes to the next free number; nothing existing is
    // touched, and a download without data writes nothing but logs where it would have gone.
    void saves_data() {
        QTest::addColumn<Save>("save");
        const QByteArray vu = QByteArray::fromHex("7601") + EveryByte(3);
        const QString n = "20261205_0907_AB123CD      _WDB9066351S123456";
        const QString m = "vu/M_" + n;
        const QString d = "########_####"; // the time of the save
        // clang-format off
        QTest::newRow("EU prefix") << Save{1, "EU", n + ".DDD", "M", vu, {}, m + ".DDD"};
        QTest::newRow("taken by files and a folder") << Save{1, "EU", n + ".DDD", "M", vu,
            {m + ".DDD", m + "_1.DDD/", m + "_2.DDD"}, m + "_3.DDD"};
        QTest::newRow("ES V_") << Save{1, "ES", "X_F.TGD", "M", vu, {}, "vu/V_X_F.TGD"};
        QTest::newRow("other kind") << Save{1, "FR", "F__X.V1B", "S", vu, {}, "vu/S_F__X.V1B"};
        QTest::newRow("no overview") << Save{3, "EU", "", "M", vu, {}, "vu/saved.ddd"};
        QTest::newRow("saved.ddd taken") << Save{1, " ", "saved.ddd", "M", vu,
            {"vu/saved.ddd", "vu/saved_1.ddd"}, "vu/saved_2.ddd"};
        QTest::newRow("large") << Save{1, "EU", n + ".DDD", "U", EveryByte(8192), {},
            "vu/U_" + n + ".DDD"};
        QTest::newRow("no data") << Save{4, "EU", n + ".DDD", "M", {}, {"vu/saved.ddd"},
            "vu/saved_1.ddd"};
        QTest::newRow("card ES") << Save{6, "ES", "M_" + n, "M", Card(), {},
            "card/C_DB12345678901234_UK_" + d + ".TGD"};
        QTest::newRow("card 23 EU") << Save{23, "EU", n, "M", Card(), {},
            "card/C_" + d + "_J_" + QString("SMITH").leftJustified(35) + "_DB12345678901234.DDD"};
        QTest::newRow("card other style") << Save{6, "  ", n, "M", Card(), {"card/saved.ddd"},
            "card/saved_1.ddd"};
        QTest::newRow("card without identification") << Save{6, "LD", n, "", CardFile(2, 0, "abc"),
            {}, "card/saved.ddd"};
        // clang-format on
    }
    void saves() {
        QFETCH(Save, save);
        for (const QString& entry : save.existing) {
            if (entry.endsWith('/'))
                QVERIFY(QDir().mkpath(path(entry)));
            else
                touch(entry);
        }
        const qsizetype before = filesIn("vu").size() + filesIn("card").size();
        DownloadSettings::FileNameStyle = save.style;
        this->save(save.previousTrep, save.name, save.kind, save.data);

        const bool card = save.previousTrep == 6 || save.previousTrep == 23;
        const QStringList logged = log_->area().split("\r\n", Qt::SkipEmptyParts);
        const QString pattern = QRegularExpression::escape(dir_->path() + "/" + save.expected)
                                    .replace("\\#", "\\d"); // a digit
        const QRegularExpressionMatch match =
            QRegularExpression(QString(card ? "^Card" : "^VU") + " Path/File Name - (" + pattern +
                               ")$")
                .match(logged.value(0));
        QVERIFY2(match.hasMatch(), qPrintable(logged.join('\n')));
        QCOMPARE(logged.mid(1), save.data.isEmpty() ? QStringList() : QStringList{"File saved"});
        QCOMPARE(ReadAll(match.captured(1)), save.data);
        QCOMPARE(filesIn("vu").size() + filesIn("card").size(), before + !save.data.isEmpty());
        for (const QString& entry : save.existing)
            if (!entry.endsWith('/')) QCOMPARE(ReadAll(path(entry)), QByteArray("old"));
    }

    // Two files of one session (VU, then the card) and the final status, written with the
    // last: a file with data that went nowhere fails the download.
    void finalStatus() {
        const struct {
            bool vu, card, vuLost;
            const char* status;
        } rows[] = {{true, true, false, "Complete"},
                    {true, false, false, "Complete"},
                    {false, true, false, "Complete"},
                    {false, false, false, "Failed"},
                    {true, true, true, "Failed - file not saved"}};
        for (const auto& row : rows) {
            init();
            if (row.vuLost) blockFolders("blocked/vu/");
            save(1, "N.DDD", "M", row.vu ? QByteArray::fromHex("760500") : QByteArray(), 6);
            QVERIFY(!QFile::exists(path("VNPCstatus.txt")));
            save(6, "M_N.DDD", "", row.card ? Card() : QByteArray());
            QCOMPARE(ReadAll(path("VNPCstatus.txt")), row.status + QByteArray("\r\n"));
            QCOMPARE(filesIn("vu").size() + filesIn("card").size(),
                     int(row.vu && !row.vuLost) + int(row.card));
        }
    }

    // Where a file goes when its folder is missing or cannot be made (a file is in its way),
    // and what is logged on the way ("@" stands for the test folder).
    void folderFallbacks_data() {
        QTest::addColumn<QString>("folder"); // the setting, below the test folder
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<QString>("status");
        const QString error = "no. " + QString::number(ENOTDIR) + " - " + std::strerror(ENOTDIR);
        const QString blocked = "VU Path/File Name - @/blocked/vu/M_N.DDD";
        const QString again = "VU Path/File Name - \"@/blocked/vu/M_N.DDD\"";
        QTest::newRow("default folder made")
            << "vu/new/deeper/"
            << QStringList{"VU Path/File Name - @/vu/new/deeper/M_N.DDD", "File saved"}
            << "Complete";
        QTest::newRow("data folder takes it")
            << "blocked/vu/"
            << QStringList{blocked,
                           "File error " + error,
                           again,
                           "File save error - " + error,
                           "VU Path/File Name - @/xdg/Fenwright/Vantrel PC/M_N.DDD",
                           "File saved"}
            << "Complete";
        QTest::newRow("no folder takes it")
            << "blocked/vu/ and data folder"
            << QStringList{blocked,
                           "File error " + error,
                           again,
                           "File save error - " + error,
                           "VU Path/File Name - @/blocked/Fenwright/Vantrel PC/M_N.DDD",
                           "File save error - " + error,
                           "File not saved - the downloaded data is lost"}
            << "Failed - file not saved";
    }
    void folderFallbacks() {
        QFETCH(QString, folder);
        QFETCH(QStringList, logged);
        QFETCH(QString, status);
        if (folder.startsWith("blocked"))
            blockFolders(folder.section(' ', 0, 0), folder.endsWith("data folder"));
        else
            DownloadSettings::VUDataPath = path(folder);
        save(1, "N.DDD", "M", "data");
        QCOMPARE(log_->area().split("\r\n", Qt::SkipEmptyParts),
                 logged.replaceInStrings("@", dir_->path()));
        // Saved where the line before "File saved" says.
        if (logged.last() == "File saved")
            QCOMPARE(ReadAll(logged.value(logged.size() - 2).section(" - ", 1)),
                     QByteArray("data"));
        QCOMPARE(ReadAll(path("VNPCstatus.txt")), (status + "\r\n").toUtf8());
    }

    // A file too large for the process's limit stops the write half-way: the engine is
    // killed there (the default of SIGXFSZ, as a crash or a power cut would stop it), or the
    // write fails. Either way nothing is left under the download's name, and after a failure
    // nothing at all.
    void interruptedWriteLeavesNoDownload_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("engine killed half-way") << true;
        QTest::newRow("write fails half-way") << false;
    }
    void interruptedWriteLeavesNoDownload() {
        QFETCH(bool, killed);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const rlimit noCore{0, 0};
            const rlimit fileSize{4096, 4096};
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
        QCOMPARE(killed ? QDir(path("vu")).entryList(QDir::Files) : filesIn("vu"), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "test_save_file.moc"
