#include "MessageBox.h"
#include "MessageLog.h"
#include "StatusFile.h"

#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {} // namespace

class TestLogStatus : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString logPath_;
    QString statusPath_;
    QStringList boxes_;

private slots:
    void init() {
        logPath_ = dir_.filePath("VNPC.log");
        statusPath_ = dir_.filePath("VNPCstatus.txt");
        QFile::remove(logPath_);
        QFile::remove(statusPath_);
        boxes_.clear();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
    }

    void linesAndDumps() {
        MessageLog log;
        log.setFilePath(logPath_);
        QVERIFY(log.createEmpty());
        log.sShowText("");
        log.ShowHex(QByteArray("\x00\x0a\xff", 3));
        log.ShowHex(QByteArray("\x80", 1));
        log.sShowText(" - tail");
        log.ShowHex(QByteArray());
        const QString expected = "\r\n00 0A FF 80  - tail\r\n";
        QCOMPARE(log.area(), expected);
        QCOMPARE(ReadAll(logPath_, kNoFile), expected.toUtf8());
    }

    void areaKeepsTheNewest32000Characters() {
        MessageLog log;
        log.setFilePath(logPath_);
        log.sShowText(QString(31998, 'a')); // 32000 with CR LF
        QCOMPARE(log.area().size(), 32000);
        log.ShowHex(QByteArray()); // nothing added
        log.sShowText(QString());  // two more characters
        QCOMPARE(log.area().size(), 32000);
        QVERIFY(log.area().startsWith(QString(31996, 'a') + "\r\n\r\n"));

        const QString huge = QString(40000, 'b') + 'z';
        log.sShowText(huge);
        QCOMPARE(log.area().size(), 32000);
        QVERIFY(log.area().endsWith("bz\r\n"));
        QVERIFY(ReadAll(logPath_, kNoFile).contains((huge + "\r\n").toUtf8()));
    }

    void loggingOffLeavesTheFileEmpty() {
        MessageLog log;
        log.setFilePath(logPath_);
        QVERIFY(log.createEmpty());
        log.setLoggingOn(false);
        log.sShowText("line");
        log.ShowHex("\x01");
        StatusFile status(log);
        status.setFilePath(statusPath_);
        status.WriteStatus("Downloading");
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray());
        QCOMPARE(log.area(), QString("line\r\n01 "));
        QCOMPARE(ReadAll(statusPath_, kNoFile), QByteArray("Downloading\r\n"));
    }

    void deletedLogIsCreatedAgain() {
        MessageLog log;
        log.setFilePath(logPath_);
        log.sShowText("before");
        QVERIFY(QFile::remove(logPath_));
        log.sShowText("after");
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray("after\r\n"));
    }

    void statusLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("expectedAfter");
        QTest::addColumn<bool>("logged");
        QTest::newRow("default total") << "" << 3 << 0 << QByteArray("0003/0028") << 28 << false;
        QTest::newRow("own total") << "" << 12 << 77 << QByteArray("0012/0077") << 77 << false;
        QTest::newRow("five digits")
            << "" << 12345 << 28 << QByteArray("12345/0028") << 28 << false;
        QTest::newRow("literal") << "Complete" << 0 << 0 << QByteArray("Complete") << 0 << true;
        QTest::newRow("failure text") << "Failed - Receive timeout" << 1 << 5
                                      << QByteArray("Failed - Receive timeout") << 5 << true;
    }
    void statusLines() {
        QFETCH(QString, text);
        QFETCH(int, received);
        QFETCH(int, expected);
        QFETCH(QByteArray, line);
        QFETCH(int, expectedAfter);
        QFETCH(bool, logged);
        MessageLog log;
        log.setFilePath(logPath_);
        QVERIFY(log.createEmpty());
        StatusFile status(log);
        status.setFilePath(statusPath_);
        status.WriteStatus("Downloading");
        status.BlocksReceived = received;
        status.BlocksExpected = expected;
        status.WriteStatus(text);
        QCOMPARE(ReadAll(statusPath_, kNoFile), line + "\r\n");
        QCOMPARE(status.BlocksExpected, expectedAfter);
        QCOMPARE(status.caption(), QString::fromUtf8(line));
        const QByteArray logText = ReadAll(logPath_, kNoFile);
        QCOMPARE(logText.contains(line), logged);
        QVERIFY(logText.startsWith("Downloading\r\n"));
        QVERIFY(log.area().isEmpty()); // status texts never reach the message area
        QVERIFY(boxes_.isEmpty());
    }

    void unwritableStatusShowsABox() {
        MessageLog log;
        StatusFile status(log);
        status.setFilePath(dir_.filePath("missing-folder/VNPCstatus.txt"));
        status.WriteStatus("Failed");
        QCOMPARE(boxes_, QStringList{"Disk not available to write status"});
        QCOMPARE(status.caption(), QString("Failed"));
    }
};

QTEST_GUILESS_MAIN(TestLogStatus)
#include "test_log_status.moc"
