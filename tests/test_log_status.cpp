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
    const QString logPath_ = dir_.filePath("VNPC.log");
    const QString statusPath_ = dir_.filePath("VNPCstatus.txt");
    QStringList boxes_;
    std::unique_ptr<MessageLog> log_;
    std::unique_ptr<StatusFile> status_;

private slots:
    void init() {
        QFile::remove(logPath_);
        QFile::remove(statusPath_);
        boxes_.clear();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
        log_ = std::make_unique<MessageLog>();
        log_->setFilePath(logPath_);
        status_ = std::make_unique<StatusFile>(*log_);
        status_->setFilePath(statusPath_);
    }

    // Text lines end in CR LF, dumps are upper-case hex with a space after each byte; the
    // file follows the area, is made again when deleted, and stays empty with logging off.
    void linesAndDumps() {
        log_->sShowText("");
        log_->ShowHex(QByteArray("\x00\x0a\xff", 3));
        log_->ShowHex("\x80");
        log_->sShowText(" - tail");
        log_->ShowHex(QByteArray());
        QCOMPARE(log_->area(), QString("\r\n00 0A FF 80  - tail\r\n"));
        QCOMPARE(ReadAll(logPath_, kNoFile), log_->area().toUtf8());
        QVERIFY(QFile::remove(logPath_));
        log_->sShowText("after");
        QCOMPARE(ReadAll(logPath_, kNoFile), QByteArray("after\r\n"));
        QVERIFY(log_->createEmpty());
        log_->setLoggingOn(false);
        log_->sShowText("line");
        status_->WriteStatus("Failed");
        QCOMPARE(ReadAll(logPath_, kNoFile) + ReadAll(statusPath_), QByteArray("Failed\r\n"));
        QVERIFY(log_->area().endsWith("after\r\nline\r\n"));
    }

    void areaKeepsTheNewest32000Characters() {
        log_->sShowText(QString(31998, 'a')); // 32000 with CR LF
        log_->sShowText(QString());           // two more characters
        QCOMPARE(log_->area(), QString(31996, 'a') + "\r\n\r\n");
        const QString huge = QString(40000, 'b') + 'z';
        log_->sShowText(huge);
        QCOMPARE(log_->area(), huge.right(31998) + "\r\n");
        QVERIFY(ReadAll(logPath_, kNoFile).endsWith((huge + "\r\n").toUtf8()));
    }

    // An empty text is the progress line (the total 28 until one is set); any other text
    // is written as it is and logged. Status texts never reach the message area.
    void statusLines() {
        const struct {
            const char* text;
            int received, expected;
            const char* line;
        } rows[] = {{"", 3, 0, "0003/0028"},
                    {"", 12, 77, "0012/0077"},
                    {"", 12345, 28, "12345/0028"},
                    {"Failed - Receive timeout", 1, 5, "Failed - Receive timeout"}};
        for (const auto& row : rows) {
            init();
            status_->BlocksReceived = row.received;
            status_->BlocksExpected = row.expected;
            status_->WriteStatus(row.text);
            QCOMPARE(ReadAll(statusPath_, kNoFile), row.line + QByteArray("\r\n"));
            QCOMPARE(status_->BlocksExpected, row.expected ? row.expected : 28);
            QCOMPARE(status_->caption(), QString(row.line));
            QCOMPARE(ReadAll(logPath_), *row.text ? row.line + QByteArray("\r\n") : QByteArray());
            QVERIFY(log_->area().isEmpty() && boxes_.isEmpty());
        }
        status_->setFilePath(dir_.filePath("missing-folder/VNPCstatus.txt"));
        status_->WriteStatus("Failed");
        QCOMPARE(boxes_, QStringList{"Disk not available to write status"});
        QCOMPARE(status_->caption(), QString("Failed"));
    }
};

QTEST_GUILESS_MAIN(TestLogStatus)
#include "test_log_status.moc"
