// The log archive on real files: what the front end writes is read back with Python's
// zipfile and unzip, not only with our own reader.
#include "LogArchive.h"
#include "ZipArchive.h"

#include "TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {
QByteArray Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitCode() != 0)
        return "failed: " + process.readAllStandardError();
    return process.readAllStandardOutput();
}

// Every entry as Python's zipfile sees it, after its own check of the archive.
QJsonArray PythonEntries(const QString& archive) {
    const QByteArray out =
        Run("python3", {"-c",
                        "import json, sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1])\n"
                        "assert z.testzip() is None\n"
                        "print(json.dumps([{'name': i.filename, 'method': i.compress_type,\n"
                        "  'flags': i.flag_bits, 'data': z.read(i).hex()} for i in z.infolist()]))",
                        archive});
    return QJsonDocument::fromJson(out).array();
}

QByteArray Data(const QJsonValue& entry) {
    return QByteArray::fromHex(entry.toObject()["data"].toString().toLatin1());
}

QStringList UnzipNames(const QString& archive) {
    return QString::fromUtf8(Run("unzip", {"-Z1", archive})).split('\n', Qt::SkipEmptyParts);
}

QByteArray LogText(int run) {
    return ("\"A E {600,3000}\"\r\nrun " + QByteArray::number(run) + "\r\n").repeated(200);
}
} // namespace

class TestLogArchive : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString folder_;
    QString log_;
    QString archive_;

private slots:
    void init() {
        folder_ = dir_.filePath(QString::number(QRandomGenerator::global()->generate()));
        QVERIFY(QDir().mkpath(folder_));
        log_ = folder_ + "/VNPC.log";
        archive_ = folder_ + "/VNPC_Log.zip";
    }

    // Each close packs the log by its file name, replacing an earlier copy, and deletes it.
    void closesMoveTheLogIntoTheArchive() {
        QVERIFY(WriteFile(log_, LogText(1)));
        ArchiveLog(folder_, "VNPC.log");
        QVERIFY(!QFile::exists(log_));
        const QJsonObject entry = PythonEntries(archive_).at(0).toObject();
        QCOMPARE(entry["method"].toInt(), 8);    // deflated
        QCOMPARE(entry["flags"].toInt() & 6, 2); // at the highest level
        QCOMPARE(Data(entry), LogText(1));
        QVERIFY(QFileInfo(archive_).size() < LogText(1).size() / 2);

        QVERIFY(WriteFile(folder_ + "/other.txt", "other\r\n"));
        QVERIFY(ZipArchive().Pack(folder_ + "/other.txt", archive_));
        QVERIFY(WriteFile(log_, LogText(2)));
        ArchiveLog(folder_, "VNPC.log");
        QVERIFY(!QFile::exists(log_));
        QCOMPARE(UnzipNames(archive_), (QStringList{"VNPC.log", "other.txt"}));
        QCOMPARE(Data(PythonEntries(archive_).at(0)), LogText(2));
    }

    // Nothing to pack or an archive it must not write: the log, the archive and the folder
    // stay as they were, and the close ends quietly.
    void packFailures_data() {
        QTest::addColumn<bool>("logThere");
        QTest::addColumn<QByteArray>("archiveBytes"); // null: no archive; "keep": a real one
        QTest::addColumn<QString>("readOnly");        // "archive" or "folder"
        QTest::newRow("no log") << false << QByteArray("keep") << "";
        QTest::newRow("archive is not a zip") << true << QByteArray("not a zip at all\r\n") << "";
        QTest::newRow("archive is empty") << true << QByteArray("") << "";
        QTest::newRow("archive cut short") << true << QByteArray("PK\x03\x04\x14\x00", 6) << "";
        // Also for root, who may write it all the same: its attribute says to leave it.
        QTest::newRow("archive read-only") << true << QByteArray("keep") << "archive";
        QTest::newRow("folder read-only") << true << QByteArray() << "folder";
    }
    void packFailures() {
        QFETCH(bool, logThere);
        QFETCH(QByteArray, archiveBytes);
        QFETCH(QString, readOnly);
        if (readOnly == "folder" && geteuid() == 0) QSKIP("root writes into read-only folders");
        if (logThere) QVERIFY(WriteFile(log_, LogText(1)));
        if (archiveBytes == "keep") {
            QVERIFY(WriteFile(folder_ + "/older.log", "older\r\n"));
            QVERIFY(ZipArchive().Pack(folder_ + "/older.log", archive_));
            archiveBytes = ReadAll(archive_);
        } else if (!archiveBytes.isNull()) {
            QVERIFY(WriteFile(archive_, archiveBytes));
        }
        const QStringList before = QDir(folder_).entryList(QDir::Files);
        const auto readable = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
        if (readOnly == "archive") QVERIFY(QFile::setPermissions(archive_, QFileDevice::ReadOwner));
        if (readOnly == "folder") QVERIFY(QFile::setPermissions(folder_, readable));
        ArchiveLog(folder_, "VNPC.log");
        QFile::setPermissions(folder_, readable | QFileDevice::WriteOwner);
        if (logThere) QCOMPARE(ReadAll(log_), LogText(1));
        QCOMPARE(ReadAll(archive_, kNoFile), archiveBytes.isNull() ? kNoFile : archiveBytes);
        // No temporary file left behind either.
        QCOMPARE(QDir(folder_).entryList(QDir::Files), before);
    }

    // An archive made elsewhere, with names that differ only in case or folder: the log is
    // added beside them, and deleted only once its own name is listed.
    void entryNamesCompareExactly() {
        QVERIFY(Run("python3", {"-c",
                                "import sys, zipfile\n"
                                "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                "    z.writestr('vnpc.log', 'x')\n"
                                "    z.writestr('logs/VNPC.log', 'y')\n",
                                archive_})
                    .isEmpty());
        QVERIFY(WriteFile(log_, LogText(3)));
        ArchiveLog(folder_, "VNPC.log");
        QVERIFY(!QFile::exists(log_));
        QCOMPARE(UnzipNames(archive_), (QStringList{"vnpc.log", "logs/VNPC.log", "VNPC.log"}));
        QCOMPARE(Data(PythonEntries(archive_).at(2)), LogText(3));
    }
};

QTEST_MAIN(TestLogArchive)
#include "test_log_archive.moc"
