// The log archive on real files: what the front end writes is read back with unzip, not
// only with our own reader.
#include "LogArchive.h"
#include "ZipArchive.h"

#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {
QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return "failed: " + process.readAllStandardError();
    return process.readAllStandardOutput();
}

// The archive as unzip sees it after checking it: each entry's method ("defX": deflated at
// the highest level) and name.
QStringList listing(const QString& archive) {
    if (!runTool("unzip", {"-tq", archive}).startsWith("No errors")) return {"(damaged)"};
    QStringList entries;
    for (const QString& line : QString::fromUtf8(runTool("unzip", {"-Z", archive})).split('\n')) {
        const QStringList field = line.simplified().split(' ');
        if (field.size() >= 9 && field[0].startsWith('-'))
            entries << field[5] + ' ' + field.mid(8).join(' ');
    }
    return entries;
}

QByteArray logText(int run) {
    return ("\"A E {600,3000}\"\r\nrun " + QByteArray::number(run) + "\r\n").repeated(200);
}
} // namespace

class TestLogArchive : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder_, log_, archive_;

private slots:
    void init() {
        folder_ = dir_.filePath(QString::number(QRandomGenerator::global()->generate()));
        QVERIFY(QDir().mkpath(folder_));
        log_ = folder_ + "/VNPC.log";
        archive_ = folder_ + "/VNPC_Log.zip";
    }

    // Each close packs the log by its file name, replacing an earlier copy and keeping the
    // other entries, and deletes it.
    void closesMoveTheLogIntoTheArchive() {
        QStringList entries{"defX VNPC.log"};
        for (const int run : {1, 2}) {
            QVERIFY(writeFile(log_, logText(run)));
            archiveLog(folder_, "VNPC.log");
            QVERIFY(!QFile::exists(log_));
            QCOMPARE(listing(archive_), entries);
            QCOMPARE(runTool("unzip", {"-p", archive_, "VNPC.log"}), logText(run));
            QVERIFY(QFileInfo(archive_).size() < logText(run).size() / 2);
            QVERIFY(writeFile(folder_ + "/other.txt", "other\r\n") &&
                    ZipArchive().pack(folder_ + "/other.txt", archive_));
            entries << "defX other.txt";
        }
    }

    // Nothing to pack or an archive it must not write: the log, the archive and the folder
    // stay as they were, and the close ends quietly.
    void packFailures_data() {
        QTest::addColumn<bool>("logThere");
        QTest::addColumn<QByteArray>("archiveBytes"); // null: no archive; "keep": a real one
        QTest::addColumn<QString>("barrier"); // read-only "archive" or "folder", or a "full" disk
        QTest::newRow("no log") << false << QByteArray("keep") << "";
        QTest::newRow("archive is empty") << true << QByteArray("") << "";
        // Damaged: it starts as a zip does, and ends there.
        QTest::newRow("archive cut short") << true << QByteArray("PK\x03\x04\x14\x00", 6) << "";
        // Also for root, who may write it all the same: its attribute says to leave it.
        QTest::newRow("archive read-only") << true << QByteArray("keep") << "archive";
        QTest::newRow("folder read-only") << true << QByteArray() << "folder";
        // No room for the new archive, whoever writes it.
        QTest::newRow("disk full") << true << QByteArray("keep") << "full";
    }
    void packFailures() {
        QFETCH(bool, logThere);
        QFETCH(QByteArray, archiveBytes);
        QFETCH(QString, barrier);
        if (barrier == "folder" && geteuid() == 0) QSKIP("root writes into read-only folders");
        if (logThere) QVERIFY(writeFile(log_, logText(1)));
        if (archiveBytes == "keep") {
            QVERIFY(writeFile(folder_ + "/older.log", "older\r\n") &&
                    ZipArchive().pack(folder_ + "/older.log", archive_));
            archiveBytes = readWhole(archive_);
        } else if (!archiveBytes.isNull()) {
            QVERIFY(writeFile(archive_, archiveBytes));
        }
        const QStringList before = QDir(folder_).entryList(QDir::Files);
        const auto readable = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
        if (barrier == "archive") QVERIFY(QFile::setPermissions(archive_, QFileDevice::ReadOwner));
        if (barrier == "folder") QVERIFY(QFile::setPermissions(folder_, readable));
        // Past the limit a write fails, as on a full disk, instead of ending the program.
        rlimit room{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &room) == 0 && ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR);
        const auto restore = qScopeGuard([room] { ::setrlimit(RLIMIT_FSIZE, &room); });
        const rlimit limit{barrier == "full" ? 0 : room.rlim_cur, room.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0 && !ZipArchive().pack(log_, archive_));
        archiveLog(folder_, "VNPC.log");
        QFile::setPermissions(folder_, readable | QFileDevice::WriteOwner);
        if (logThere) QCOMPARE(readWhole(log_), logText(1));
        QCOMPARE(readWhole(archive_, kNoFile), archiveBytes.isNull() ? kNoFile : archiveBytes);
        // No temporary file left behind either.
        QCOMPARE(QDir(folder_).entryList(QDir::Files), before);
    }
};

QTEST_MAIN(TestLogArchive)
#include "test_log_archive.moc"
