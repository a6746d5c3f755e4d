// The log archive on real files: what our zip class writes is read back with Python's
// zipfile and unzip, not only with our own reader.
#include "LogArchive.h"
#include "ZipArchive.h"

#include "TestFiles.h"

#include <QDir>
#include <QFile>
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

// Every entry as Python's zipfile sees it: name, method, flag bits and its bytes (hex).
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

// The names unzip lists.
QStringList UnzipNames(const QString& archive) {
    const QByteArray out = Run("unzip", {"-Z1", archive});
    return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts);
}

QByteArray LogText(int run) {
    QByteArray text = "\"A E {600,3000}\"\r\nVantrelPC Version 0.4.9\r\n";
    for (int line = 0; line < 200; ++line)
        text += "run " + QByteArray::number(run) + " line " + QByteArray::number(line) + "\r\n";
    return text;
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

    void packAddsByFileName() {
        QVERIFY(WriteFile(log_, LogText(1)));
        QVERIFY(ZipArchive().Pack(log_, archive_, 9));
        const QJsonArray entries = PythonEntries(archive_);
        QCOMPARE(entries.size(), 1);
        const QJsonObject entry = entries.at(0).toObject();
        QCOMPARE(entry["name"].toString(), QStringLiteral("VNPC.log"));
        QCOMPARE(entry["method"].toInt(), 8);    // deflated
        QCOMPARE(entry["flags"].toInt() & 6, 2); // deflated at the highest level
        QCOMPARE(QByteArray::fromHex(entry["data"].toString().toLatin1()), LogText(1));
        QVERIFY(QFileInfo(archive_).size() < LogText(1).size() / 2);

        // A second pack of the same name replaces the first entry; others stay.
        QVERIFY(WriteFile(folder_ + "/other.txt", "other\r\n"));
        QVERIFY(ZipArchive().Pack(folder_ + "/other.txt", archive_));
        QVERIFY(WriteFile(log_, LogText(2)));
        QVERIFY(ZipArchive().Pack(log_, archive_, 9));
        QCOMPARE(UnzipNames(archive_), (QStringList{"VNPC.log", "other.txt"}));
        const QJsonArray again = PythonEntries(archive_);
        QCOMPARE(QByteArray::fromHex(again.at(0).toObject()["data"].toString().toLatin1()),
                 LogText(2));

        const std::optional<QList<ZipEntry>> contents = ZipArchive().Contents(archive_);
        QVERIFY(contents);
        QCOMPARE(contents->size(), 2);
        QCOMPARE(contents->at(0).Name(), QStringLiteral("VNPC.log"));
        QCOMPARE(contents->at(1).Name(), QStringLiteral("other.txt"));
    }

    void packFailures_data() {
        QTest::addColumn<bool>("logThere");
        QTest::addColumn<QByteArray>("archiveBytes"); // null: no archive
        QTest::addColumn<QString>("readOnly");        // "archive" or "folder"
        QTest::newRow("no log, no archive") << false << QByteArray() << "";
        QTest::newRow("no log, archive kept") << false << QByteArray("keep") << "";
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
        const auto readable = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
        if (readOnly == "archive") QVERIFY(QFile::setPermissions(archive_, QFileDevice::ReadOwner));
        if (readOnly == "folder") QVERIFY(QFile::setPermissions(folder_, readable));
        QVERIFY(!ZipArchive().Pack(log_, archive_, 9));
        ArchiveLog(folder_, "VNPC.log"); // ends quietly
        QFile::setPermissions(folder_, readable | QFileDevice::WriteOwner);
        QCOMPARE(QFile::exists(log_), logThere);
        if (logThere) QCOMPARE(ReadAll(log_), LogText(1));
        QCOMPARE(QFile::exists(archive_), !archiveBytes.isNull());
        QCOMPARE(ReadAll(archive_), archiveBytes.isNull() ? QByteArray() : archiveBytes);
        // No file left behind either (libzip writes through a temporary file).
        QStringList expected;
        if (QFile::exists(folder_ + "/older.log")) expected << "older.log";
        if (logThere) expected << "VNPC.log";
        if (!archiveBytes.isNull()) expected << "VNPC_Log.zip";
        QStringList found = QDir(folder_).entryList(QDir::Files);
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }

    void firstCloseCreatesTheArchive() {
        QVERIFY(WriteFile(log_, LogText(1)));
        ArchiveLog(folder_, "VNPC.log");
        QCOMPARE(LogArchivePath, archive_);
        QVERIFY(!QFile::exists(log_));
        QCOMPARE(UnzipNames(archive_), QStringList{"VNPC.log"});
        QCOMPARE(QByteArray::fromHex(
                     PythonEntries(archive_).at(0).toObject()["data"].toString().toLatin1()),
                 LogText(1));
        QCOMPARE(ListArchiveEntries(), (QStringList{"", "VNPC.log"}));

        // The next close with no engine run since: nothing to pack, nothing changes.
        const QByteArray before = ReadAll(archive_);
        ArchiveLog(folder_, "VNPC.log");
        QCOMPARE(ReadAll(archive_), before);
    }

    void entryNamesCompareExactly() {
        // An archive made elsewhere, with a name that differs only in case.
        QVERIFY(Run("python3", {"-c",
                                "import sys, zipfile\n"
                                "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                "    z.writestr('vnpc.log', 'x')\n"
                                "    z.writestr('logs/VNPC.log', 'y')\n",
                                archive_})
                    .isEmpty());
        LogArchivePath = archive_;
        QCOMPARE(ListArchiveEntries(), (QStringList{"", "vnpc.log", "logs/VNPC.log"}));
        QVERIFY(!ArchiveContains("VNPC.log"));
        QVERIFY(ArchiveContains("vnpc.log"));
        QVERIFY(!ArchiveContains(""));

        QVERIFY(WriteFile(log_, LogText(3)));
        ArchiveLog(folder_, "VNPC.log");
        QVERIFY(!QFile::exists(log_));
        QCOMPARE(UnzipNames(archive_), (QStringList{"vnpc.log", "logs/VNPC.log", "VNPC.log"}));

        LogArchivePath = folder_ + "/missing.zip";
        QCOMPARE(ListArchiveEntries(), QStringList{""});
        QVERIFY(!ArchiveContains("VNPC.log"));
    }
};

QTEST_MAIN(TestLogArchive)
#include "test_log_archive.moc"
