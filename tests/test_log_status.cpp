#include "MessageBox.h"
#include "MessageLog.h"
#include "StatusFile.h"

#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLogStatus : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString logPath_;
    QString statusPath_;
    QStringList boxes_;
    std::unique_ptr<MessageLog> log_;

private slots:
    void init() {
        logPath_ = dir_.filePath("VNPC.log");
        statusPath_ = dir_.filePath("VNPCstatus.txt");
        QFile::remove(logPath_);
        QFile::remove(statusPath_);
        boxes_.clear();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
        log_ = std::make_unique<MessageLog>();
        log_->setFilePath(logPath_);
    }

    // Text lines end in CR LF, dumps are upper-case hex with a space after each byte; the
    // file follows the area, is made again when deleted, and stays empty with logging off.
    void linesAndDumps() {
        log_->sShowText("");
        log_->ShowHex(QByteArray("\x00\x0a\xff", 3));
        log_->ShowHex(QByteArray("\x80", 1));
        log_->sShowText(" - tail");
        log_->ShowHex(QByteArray());
        QCOMPARE(log_->area(), QString("\r\n00 0A FF 80  - tail\r\n"));
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray("\r\n00 0A FF 80  - tail\r\n"));
        QVERIFY(QFile::remove(logPath_));
        log_->sShowText("after");
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray("after\r\n"));
        QVERIFY(log_->createEmpty());
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray());
        log_->setLoggingOn(false);
        log_->sShowText("line");
        StatusFile status(*log_);
        status.setFilePath(statusPath_);
        status.WriteStatus("Failed");
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray());
        QCOMPARE(ReadAll(statusPath_, kNoFile), QByteArray("Failed\r\n"));
        QVERIFY(log_->area().endsWith("after\r\nline\r\n"));
    }

    void areaKeepsTheNewest32000Characters() {
        log_->sShowText(QString(31998, 'a')); // 32000 with CR LF
        QCOMPARE(log_->area().size(), 32000);
        log_->sShowText(QString()); // two more characters
        QVERIFY(log_->area().startsWith(QString(31996, 'a') + "\r\n\r\n"));
        const QString huge = QString(40000, 'b') + 'z';
        log_->sShowText(huge);
        QCOMPARE(log_->area().size(), 32000);
        QVERIFY(log_->area().endsWith("bz\r\n"));
        QVERIFY(ReadAll(logPath_, kNoFile).contains((huge + "\r\n").toUtf8()));
    }

    // An empty text is the progress line (the total 28 until one is set); any other text
    // is written as it is and logged. Status texts never reach the message area.
    void statusLines_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("received");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("line");
        QTest::newRow("default total") << "" << 3 << 0 << "0003/0028";
        QTest::newRow("own total") << "" << 12 << 77 << "0012/0077";
        QTest::newRow("five digits") << "" << 12345 << 28 << "12345/0028";
        QTest::newRow("literal") << "Failed - Receive timeout" << 1 << 5
                                 << "Failed - Receive timeout";
    }
    void statusLines() {
        QFETCH(QString, text);
        QFETCH(int, received);
        QFETCH(int, expected);
        QFETCH(QString, line);
        QVERIFY(log_->createEmpty());
        StatusFile status(*log_);
        status.setFilePath(statusPath_);
        status.BlocksReceived = received;
        status.BlocksExpected = expected;
        status.WriteStatus(text);
        QCOMPARE(ReadAll(statusPath_, kNoFile), (line + "\r\n").toUtf8());
        QCOMPARE(status.BlocksExpected, expected ? expected : 28);
        QCOMPARE(status.caption(), line);
        QCOMPARE(ReadAll(logPath_, kNoFile),
                 text.isEmpty() ? QByteArray() : (line + "\r\n").toUtf8());
        QVERIFY(log_->area().isEmpty());
        QVERIFY(boxes_.isEmpty());
        QVERIFY(!QFile::exists(statusPath_ + ".new"));
    }

    void unwritableStatusShowsABox() {
        StatusFile status(*log_);
        status.setFilePath(dir_.filePath("missing-folder/VNPCstatus.txt"));
        status.WriteStatus("Failed");
        QCOMPARE(boxes_, QStringList{"Disk not available to write status"});
        QCOMPARE(status.caption(), QString("Failed"));
    }
};

QTEST_GUILESS_MAIN(TestLogStatus)
#include "test_log_status.moc"
