#include "MessageLog.h"
#include "NewFile.h"
#include "Session.h"
#include "StatusFile.h"

#include "CardBytes.h"
#include "ScriptedLink.h"
#include "TestFiles.h"

#include <DownloadSettings.h>

#include <QDir>
#include <QFile>
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
    for (int r = 0; r < repeats; ++r)
        for (int b = 0; b < 256; ++b)
            data += char(b);
    return data;
}

// A card chain: an ICC file, then the identification file (UK, card DB12345678901234,
// SMITH, JOHN).
QByteArray Card() {
    QByteArray id(1, '\x15');
    id += "DB12345678901234" + QByteArray(36, ' ') + QByteArray(12, '\x10');
    id += "\x01" + QByteArray("SMITH").leftJustified(35) + "\x01" +
          QByteArray("JOHN").leftJustified(35) + QByteArray(6, '\0');
    return CardFile(0x0002, 0, QByteArray(25, '\x11')) + CardFile(0x0520, 0, id);
}

QString Exact(const QString& text) {
    return QRegularExpression::escape(text);
}

QString ErrorText(int error) {
    return QString::number(error) + " - " + QString::fromLocal8Bit(std::strerror(error));
}

void Touch(const QString& path, const QByteArray& content = "old") {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestSaveFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<MessageLog> log_;
    std::unique_ptr<StatusFile> status_;
    std::unique_ptr<ScriptedLink> link_; // never opened: SaveFile does not touch the link
    std::unique_ptr<Session> session_;

    QString path(const QString& relative) const { return dir_->filePath(relative); }
    QStringList lines() const { return log_->area().split("\r\n", Qt::SkipEmptyParts); }
    QString dataFolder() const { return path("xdg/Fenwright/Vantrel PC"); }

    // Hidden files too: a temporary file left behind counts.
    QStringList filesIn(const QString& folder) const {
        return QDir(path(folder)).entryList(QDir::Files | QDir::Hidden);
    }

    // A file where the folders should be: neither the VU folder nor the data folder can be made.
    void blockVuAndDataFolders() {
        Touch(path("blocked"));
        qputenv("XDG_DATA_HOME", path("blocked").toUtf8());
        DownloadSettings::VUDataPath = path("blocked/vu/");
    }

    // Fills the session as the TREP data step leaves it before a save.
    void prepare(qint32 previousTrep, const QString& name, const QString& kind,
                 const QByteArray& data, qint32 currentTrep = 255) {
        session_->PreviousTrep = previousTrep;
        session_->CurrentTrep = currentTrep;
        session_->VuFileName = name;
        session_->DataKind = kind;
        session_->DownloadData = data;
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        qputenv("XDG_DATA_HOME", path("xdg").toUtf8());
        QVERIFY(QDir().mkpath(dataFolder()));
        QVERIFY(QDir().mkpath(path("vu")));
        QVERIFY(QDir().mkpath(path("card")));
        log_ = std::make_unique<MessageLog>();
        log_->setFilePath(path("VNPC.log"));
        status_ = std::make_unique<StatusFile>(*log_);
        status_->setFilePath(path("VNPCstatus.txt"));
        link_ = std::make_unique<ScriptedLink>();
        session_ = std::make_unique<Session>(*log_, *status_, *link_);
        DownloadSettings::VUDataPath = path("vu") + '/';
        DownloadSettings::CardDataPath = path("card") + '/';
        DownloadSettings::FileNameStyle = "EU";
    }

    void cleanup() {
        session_.reset();
        link_.reset();
        status_.reset();
        log_.reset();
        dir_.reset();
    }

    void saves_data() {
        QTest::addColumn<qint32>("previousTrep");
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("vuFileName");
        QTest::addColumn<QString>("dataKind");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("existing"); // a trailing "/" makes a folder
        QTest::addColumn<QString>("expected");     // pattern of the path below the test folder
        const QByteArray vu = QByteArray::fromHex("7601") + EveryByte(3);
        const QByteArray none;
        const QString N = "20261205_0907_AB123CD      _WDB9066351S123456.DDD";
        const QString card = "card/C_DB12345678901234_UK_\\d{8}_\\d{4}\\.TGD";
        QTest::newRow("EU prefix")
            << 1 << "EU" << N << "M" << vu << QStringList() << Exact("vu/M_" + N);
        QTest::newRow("name and first candidate taken")
            << 1 << "EU" << N << "M" << vu
            << QStringList{"vu/M_" + N, "vu/M_" + N.chopped(4) + "_1.DDD"}
            << Exact("vu/M_" + N.chopped(4) + "_2.DDD");
        QTest::newRow("folder holding the name")
            << 1 << "EU" << N << "M" << vu << QStringList{"vu/M_" + N + "/"}
            << Exact("vu/M_" + N.chopped(4) + "_1.DDD");
        QTest::newRow("folder in the sequence")
            << 1 << "EU" << N << "M" << vu
            << QStringList{"vu/M_" + N, "vu/M_" + N.chopped(4) + "_1.DDD/"}
            << Exact("vu/M_" + N.chopped(4) + "_2.DDD");
        QTest::newRow("FR no prefix") << 1 << "FR"
                                      << "F__X.V1B"
                                      << "M" << vu << QStringList() << Exact("vu/F__X.V1B");
        QTest::newRow("ES V_") << 1 << "ES"
                               << "X_F.TGD"
                               << "M" << vu << QStringList() << Exact("vu/V_X_F.TGD");
        QTest::newRow("other kind") << 1 << "FR"
                                    << "F__X.V1B"
                                    << "S" << vu << QStringList() << Exact("vu/S_F__X.V1B");
        QTest::newRow("no overview") << 3 << "EU"
                                     << ""
                                     << "M" << vu << QStringList() << Exact("vu/saved.ddd");
        QTest::newRow("saved.ddd taken")
            << 1 << " "
            << "saved.ddd"
            << "M" << vu << QStringList{"vu/saved.ddd", "vu/saved_1.ddd"}
            << Exact("vu/saved_2.ddd");
        QTest::newRow("large") << 1 << "EU" << N << "U" << EveryByte(8192) << QStringList()
                               << Exact("vu/U_" + N);
        QTest::newRow("VU no data")
            << 4 << "EU" << N << "M" << none << QStringList() << Exact("vu/saved.ddd");
        QTest::newRow("VU no data, saved.ddd taken")
            << 4 << "EU" << N << "M" << none << QStringList{"vu/saved.ddd"}
            << Exact("vu/saved_1.ddd");
        QTest::newRow("VU no data, folder saved.ddd")
            << 4 << "EU" << N << "M" << none << QStringList{"vu/saved.ddd/"}
            << Exact("vu/saved.ddd");
        QTest::newRow("card ES") << 6 << "ES"
                                 << "M_" + N << "M" << Card() << QStringList() << card;
        QTest::newRow("card 23 EU") << 23 << "EU" << N << "M" << Card() << QStringList()
                                    << "card/C_\\d{8}_\\d{4}_J_SMITH {30}_DB12345678901234\\.DDD";
        QTest::newRow("card other style")
            << 6 << "  " << N << "M" << Card() << QStringList{"card/saved.ddd"}
            << Exact("card/saved_1.ddd");
        QTest::newRow("card without identification")
            << 6 << "LD" << N << "" << CardFile(2, 0, "abc") << QStringList()
            << Exact("card/saved.ddd");
        QTest::newRow("card no data")
            << 6 << "ES" << N << "" << none << QStringList() << Exact("card/saved.ddd");
    }

    void saves() {
        QFETCH(qint32, previousTrep);
        QFETCH(QString, style);
        QFETCH(QString, vuFileName);
        QFETCH(QString, dataKind);
        QFETCH(QByteArray, data);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        for (const QString& entry : existing) {
            if (entry.endsWith('/'))
                QVERIFY(QDir().mkpath(path(entry)));
            else
                Touch(path(entry));
        }
        const QStringList before = filesIn("vu") + filesIn("card");
        DownloadSettings::FileNameStyle = style;
        prepare(previousTrep, vuFileName, dataKind, data);

        session_->SaveFile();

        const bool card = previousTrep == 6 || previousTrep == 23;
        const QRegularExpression pathLine(
            "^" + Exact(card ? "Card Path/File Name - " : "VU Path/File Name - ") + "(" +
            Exact(dir_->path() + "/") + expected + ")$");
        const QStringList logged = lines();
        QVERIFY(!logged.isEmpty());
        const QRegularExpressionMatch match = pathLine.match(logged[0]);
        QVERIFY2(match.hasMatch(), qPrintable(logged[0]));
        const QString saved = match.captured(1);
        // The session keeps the name as chosen; only the path carries the number.
        const QString name = session_->VuFileName;
        const QRegularExpression numbered("^" + Exact(name.chopped(4)) + "(_\\d+)?" +
                                          Exact(name.right(4)) + "$");
        QVERIFY2(numbered.match(QFileInfo(saved).fileName()).hasMatch(), qPrintable(name));
        if (data.isEmpty()) {
            QCOMPARE(logged.size(), 1);
            QCOMPARE(filesIn("vu") + filesIn("card"), before);
        } else {
            QCOMPARE(logged, (QStringList{logged[0], "File saved"}));
            QCOMPARE(ReadAll(saved), data);
            QCOMPARE((filesIn("vu") + filesIn("card")).size(), before.size() + 1);
        }
        for (const QString& entry : existing)
            if (!entry.endsWith('/')) QCOMPARE(ReadAll(path(entry)), QByteArray("old"));
        QVERIFY(session_->DownloadData.isEmpty());
        QVERIFY(session_->DataKind.isEmpty());
    }

    // Two files of one session (VU, then the card) and the final status: a file with data
    // that went nowhere fails the download.
    void finalStatus_data() {
        QTest::addColumn<bool>("vuData");
        QTest::addColumn<bool>("cardData");
        QTest::addColumn<bool>("vuLost");
        QTest::addColumn<QString>("status");
        QTest::newRow("both") << true << true << false << "Complete";
        QTest::newRow("VU only") << true << false << false << "Complete";
        QTest::newRow("card only") << false << true << false << "Complete";
        QTest::newRow("none") << false << false << false << "Failed";
        QTest::newRow("VU lost, card saved") << true << true << true << "Failed - file not saved";
    }

    void finalStatus() {
        QFETCH(bool, vuData);
        QFETCH(bool, cardData);
        QFETCH(bool, vuLost);
        QFETCH(QString, status);
        if (vuLost) blockVuAndDataFolders();
        const QByteArray vu = vuData ? QByteArray::fromHex("760500") : QByteArray();
        prepare(1, "N.DDD", "M", vu, 6);
        session_->SaveFile();
        QVERIFY(!QFile::exists(path("VNPCstatus.txt")));
        prepare(6, "M_N.DDD", "", cardData ? Card() : QByteArray(), 255);
        session_->SaveFile();
        QCOMPARE(ReadAll(path("VNPCstatus.txt")), (status + "\r\n").toUtf8());
        QCOMPARE(filesIn("vu").size() + filesIn("card").size(),
                 int(vuData && !vuLost) + int(cardData));
        QCOMPARE(session_->VuDataPresent, vuData);
        QCOMPARE(session_->CardDataPresent, cardData);
    }

    // Where a file goes when its folder is missing or cannot be made (a file is in its way),
    // and what is logged on the way.
    void folderFallbacks_data() {
        QTest::addColumn<qint32>("previousTrep");
        QTest::addColumn<QString>("folder"); // the setting, below the test folder
        QTest::addColumn<bool>("dataFolderBlocked");
        QTest::addColumn<QStringList>("logged"); // "@" stands for the test folder
        QTest::addColumn<QString>("savedAt");    // empty: saved nowhere
        QTest::addColumn<QString>("status");
        const QString notDir = "no. " + ErrorText(ENOTDIR);
        QTest::newRow("default folder made")
            << 1 << "vu/new/deeper/" << false
            << QStringList{"VU Path/File Name - @/vu/new/deeper/M_N.DDD", "File saved"}
            << "vu/new/deeper/M_N.DDD"
            << "Complete";
        QTest::newRow("data folder takes it")
            << 6 << "blocked/card/" << false
            << QStringList{"Card Path/File Name - @/blocked/card/saved.ddd",
                           "File error " + notDir,
                           "Card Path/File Name - \"@/blocked/card/saved.ddd\"",
                           "File save error - " + notDir,
                           "Card Path/File Name - @/xdg/Fenwright/Vantrel PC/saved.ddd",
                           "File saved"}
            << "xdg/Fenwright/Vantrel PC/saved.ddd"
            << "Complete";
        QTest::newRow("no folder takes it")
            << 1 << "blocked/vu/" << true
            << QStringList{"VU Path/File Name - @/blocked/vu/M_N.DDD",
                           "File error " + notDir,
                           "VU Path/File Name - \"@/blocked/vu/M_N.DDD\"",
                           "File save error - " + notDir,
                           "VU Path/File Name - @/blocked/Fenwright/Vantrel PC/M_N.DDD",
                           "File save error - " + notDir,
                           "File not saved - the downloaded data is lost"}
            << ""
            << "Failed - file not saved";
    }
    void folderFallbacks() {
        QFETCH(qint32, previousTrep);
        QFETCH(QString, folder);
        QFETCH(bool, dataFolderBlocked);
        QFETCH(QStringList, logged);
        QFETCH(QString, savedAt);
        QFETCH(QString, status);
        Touch(path("blocked"));
        if (dataFolderBlocked) qputenv("XDG_DATA_HOME", path("blocked").toUtf8());
        (previousTrep == 6 ? DownloadSettings::CardDataPath : DownloadSettings::VUDataPath) =
            path(folder);
        prepare(previousTrep, "N.DDD", "M", "data");
        session_->SaveFile();
        QCOMPARE(lines(), logged.replaceInStrings("@", dir_->path()));
        if (!savedAt.isEmpty()) QCOMPARE(ReadAll(path(savedAt)), QByteArray("data"));
        QCOMPARE(ReadAll(path("VNPCstatus.txt")), (status + "\r\n").toUtf8());
        QVERIFY(session_->DownloadData.isEmpty());
        QVERIFY(session_->DataKind.isEmpty());
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
        const QString file = path("vu/M_N.DDD");
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const rlimit noCore{0, 0};
            const rlimit fileSize{4096, 4096};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
            ::_exit(WriteNewFile(file, EveryByte(64)));
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
