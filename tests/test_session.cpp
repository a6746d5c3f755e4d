// The download session against a scripted link: requests, answers, retries, skips,
// restarts and failures, and the TREP data collected on the way.

#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "NationCodes.h"
#include "ScriptedLink.h"
#include "Session.h"
#include "StatusFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <functional>
#include <limits>

namespace {
constexpr quint32 kDay = 86400;
const quint32 k20240101 = 1704067200;

QByteArray Be32(quint32 value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

// Data of a first-generation technical data TREP: the maker code at position 98 of the
// block, that is index 95 of the data behind 0x76 and the TREP.
QByteArray TechnicalData(quint8 maker) {
    QByteArray data(200, '\x11');
    data[95] = char(maker);
    return data;
}

QByteArray Overview(quint32 oldest, quint32 latest, quint8 nation = 0x11) {
    QByteArray data(500, '\0');
    const auto put = [&data](qsizetype position, const QByteArray& field) {
        data.replace(position - 3, field.size(), field);
    };
    put(391, "WDB9634031L123456");
    put(408, QByteArray(1, char(nation)));
    put(409, QByteArray(1, '\x01'));
    put(410, "AB-123-CD    ");
    put(423, Be32(latest + 3600));
    put(427, Be32(oldest));
    put(431, Be32(latest + 7200));
    return data;
}

// A second-generation overview's data: two empty certificate arrays, VIN, the given
// registration record, current time, downloadable period.
QByteArray Gen2Overview(const QByteArray& registration, quint32 oldest, quint32 latest) {
    const auto array = [](char type, const QByteArray& record) {
        const int size = int(record.size());
        return QByteArray(1, type) + char(size >> 8) + char(size) + QByteArray("\0\1", 2) + record;
    };
    return QByteArray::fromHex("0B000000000C00000000") + array(0x0A, "WDB9634031L123456") +
           array(0x0E, registration) + array(0x12, Be32(latest)) +
           array(0x13, Be32(oldest) + Be32(latest));
}

const QByteArray InterfaceVersionRequest = QByteArray::fromHex("80EEF002360096");

// The vehicle unit's side of the protocol, answering by the regulation unless a test
// scripts something else for a request.
class MiniVu {
public:
    QMap<quint8, QByteArray> blocks; // data of each TREP, behind 0x76 and the TREP
    // Returns the frames to send for a request; an empty optional means "answer normally".
    std::function<std::optional<QList<QByteArray>>(const QByteArray& request)> script;
    QList<QByteArray> dayRequests;

    QList<QByteArray> answer(const QByteArray& request) {
        if (script) {
            if (auto scripted = script(request)) return *scripted;
        }
        if (request.startsWith('\x81')) return {Response("\xC1\xEA\x8F")};
        const quint8 sid = quint8(request.at(4));
        switch (sid) {
        case 0x10:
            return {Response("\x50\x81")};
        case 0x87:
            return request.at(5) == 1 ? QList{Response("\xC7\x01")} : QList<QByteArray>{};
        case 0x35:
            return {Response("\x75\xFF")};
        case 0x36:
            return transfer(request);
        case 0x83:
            return nextPart(request);
        case 0x37:
            return {Response("\x77")};
        case 0x82:
            return {Response("\xC2")};
        }
        return {};
    }

private:
    QList<QByteArray> transfer(const QByteArray& request) {
        trep_ = quint8(request.at(5));
        if (trep_ == 0x00) return {Negative(0x36, 0x12)}; // no download interface version
        if (request.at(3) == 6) dayRequests << request.mid(6, 4);
        remaining_ = blocks.value(trep_);
        part_ = 0;
        if (remaining_.size() <= 253)
            return {Response(QByteArray("\x76") + char(trep_) + remaining_)};
        return {part()};
    }
    QList<QByteArray> nextPart(const QByteArray& request) {
        const int counter = quint8(request.at(6)) * 256 + quint8(request.at(7));
        if (counter != part_ + 1) return {};
        return {part()};
    }
    // Parts of 251 bytes carry the length byte 255; the last, shorter one ends the answer.
    QByteArray part() {
        ++part_;
        const QByteArray chunk = remaining_.left(251);
        remaining_.remove(0, chunk.size());
        return Response(QByteArray("\x76") + char(trep_) + char(part_ >> 8) + char(part_) + chunk);
    }

    quint8 trep_ = 0;
    QByteArray remaining_;
    int part_ = 0;
};
} // namespace

class TestSession : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<MessageLog> log_;
    std::unique_ptr<StatusFile> status_;
    std::unique_ptr<ScriptedLink> link_;
    std::unique_ptr<Session> session_;
    MiniVu vu_;
    QStringList boxes_;
    QStringList statuses_;
    bool ended_ = false;

    Session& session() { return *session_; }

    void start(const QByteArray& sequence, QChar kind = 'A') {
        DownloadSettings::DownloadType = kind;
        for (int i = 0; i < sequence.size(); ++i)
            session().trepSequence[i] = quint8(sequence[i]);
        session().trepSequence[sequence.size()] = 255;
        session().StartSession();
    }

    // Answers requests until the session stops asking or the step limit is reached.
    void run(int steps = 10000) {
        while (steps-- > 0) {
            link_->deliverReceived();
            const QByteArray request = link_->takeRequest();
            if (request.isEmpty()) return;
            for (const QByteArray& frame : vu_.answer(request))
                link_->receive(frame);
        }
    }

    QByteArray sids() const {
        QByteArray list;
        for (const QByteArray& request : link_->requests)
            list += request.startsWith('\x81') ? '\x81' : request.at(4);
        return list;
    }

    // The TREP of every Transfer Data request, in order.
    QByteArray treps() const {
        QByteArray list;
        for (const QByteArray& request : link_->requests)
            if (!request.startsWith('\x81') && request.at(4) == '\x36') list += request.at(5);
        return list;
    }

    QStringList savedFiles() const {
        return QDir(dir_.path()).entryList({"*.DDD", "*.ddd"}, QDir::Files);
    }
    // The bytes of the one file saved; kNoFile unless exactly one was.
    QByteArray onlySavedFile() const {
        const QStringList files = savedFiles();
        return files.size() == 1 ? ReadAll(dir_.filePath(files.first())) : kNoFile;
    }

    QString lastRequestHex() const {
        return QString::fromLatin1(link_->requests.last().toHex(' '));
    }

private slots:
    void initTestCase() {
        SetDateLimits();
        FillNationAlpha();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
    }

    void init() {
        DownloadSettings::RXTIMEOUT = 1160;
        DownloadSettings::CloseDiagnosticsWindow = true;
        DownloadSettings::FileNameStyle = "EU";
        DownloadSettings::VUDataPath = dir_.path() + "/";
        DownloadSettings::CardDataPath = dir_.path() + "/";
        for (const QString& name : QDir(dir_.path()).entryList(QDir::Files))
            QFile::remove(dir_.filePath(name));
        log_ = std::make_unique<MessageLog>();
        status_ = std::make_unique<StatusFile>(*log_);
        status_->setFilePath(dir_.filePath("status.txt"));
        status_->onStatusChanged = [this](const QString& text) { statuses_ << text; };
        link_ = std::make_unique<ScriptedLink>();
        session_ = std::make_unique<Session>(*log_, *status_, *link_);
        session().endProgram = [this] { ended_ = true; };
        vu_ = MiniVu();
        vu_.blocks[5] = TechnicalData(0x32);
        vu_.blocks[1] = Overview(k20240101, k20240101 + 27 * kDay);
        vu_.blocks[2] = QByteArray(40, '\x22');
        vu_.blocks[3] = QByteArray(60, '\x33');
        vu_.blocks[4] = QByteArray(251 * 19 + 100, '\x44'); // twenty parts
        vu_.blocks[6] = QByteArray(600, '\x66');
        boxes_.clear();
        statuses_.clear();
        ended_ = false;
    }

    void startSendsStartCommunicationAt9600() {
        start("\x05\x01");
        QCOMPARE(link_->openedAt, QList<int>{1});
        QCOMPARE(link_->requests, QList<QByteArray>{QByteArray("\x81\xEE\xF0\x81\xE0")});
        QCOMPARE(session().timerRx.interval(), 1160);
        QVERIFY(session().timerRx.isActive());
        QCOMPARE(statuses_, QStringList{"Downloading"});
        QVERIFY(log_->area().contains("81 EE F0 81 E0 \r\n"));
    }

    // The whole road of an all-VU download: speed change, every TREP, the end, the file.
    void allVuDownload() {
        start("\x05\x01\x02\x03\x04\x05");
        run();
        QCOMPARE(session().SessionState, 0);
        QVERIFY(ended_);
        QVERIFY(boxes_.isEmpty());
        // Transition Baud Rate at 9600, then Request Upload at 57600.
        const qsizetype transition =
            link_->requests.indexOf(QByteArray("\x80\xEE\xF0\x03\x87\x02\x03\xED"));
        QVERIFY(transition > 0);
        QCOMPARE(link_->speeds[transition], 1);
        QCOMPARE(link_->requests[transition + 1].at(4), '\x35');
        QCOMPARE(link_->speeds[transition + 1], 4);
        QCOMPARE(link_->drains, 1);
        // 28 days from the oldest day on, then events and detailed speed; TREP 5 not again.
        QCOMPARE(vu_.dayRequests.size(), 28);
        QCOMPARE(vu_.dayRequests.first(), Be32(k20240101));
        QCOMPARE(vu_.dayRequests.last(), Be32(k20240101 + 27 * kDay));
        QVERIFY(log_->area().contains("TREP5 read previously"));
        QVERIFY(log_->area().contains("VU Manufacturer - Intellic"));
        QVERIFY(log_->area().contains("Oldest date - 2024-01-01 65920080"));
        QCOMPARE(status_->BlocksExpected, 77);
        QCOMPARE(status_->BlocksReceived, 77);
        QCOMPARE(statuses_.last(), QString("Complete"));
        QVERIFY(statuses_.contains("0012/0077"));

        // The file: the blocks in the order of the session, each 0x76, TREP, data.
        const QByteArray saved = onlySavedFile();
        QByteArray expected = "\x76\x01" + vu_.blocks[1];
        for (int day = 0; day < 28; ++day)
            expected += "\x76\x02" + vu_.blocks[2];
        expected +=
            "\x76\x03" + vu_.blocks[3] + "\x76\x04" + vu_.blocks[4] + "\x76\x05" + vu_.blocks[5];
        QCOMPARE(saved.size(), expected.size());
        QVERIFY(saved == expected);
        QVERIFY(savedFiles().first().startsWith("M_"));
        QVERIFY(savedFiles().first().endsWith("_AB-123-CD    _WDB9634031L123456.DDD"));
    }

    void outOfOrderSubMessageIsAcknowledgedAgain() {
        start("\x05\x04", 'L');
        bool once = true;
        vu_.script = [&once](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (once && request.at(4) == '\x83' && request.at(7) == 4) {
                once = false;
                QByteArray stale = "\x76\x04\x00\x03" + QByteArray(251, '\x55');
                return QList{Response(stale)};
            }
            return std::nullopt;
        };
        run();
        int acksOf4 = 0;
        for (const QByteArray& request : link_->requests)
            acksOf4 += request.at(4) == '\x83' && request.at(7) == 4;
        QCOMPARE(acksOf4, 2);
        QCOMPARE(statuses_.last(), QString("Complete"));
        QVERIFY(!savedFiles().isEmpty());
    }

    // Conditions not correct in the middle of a long answer: the session starts again and
    // the answer is read once more from its start, without a copy of its first parts.
    void restartMidAnswerKeepsTheFileWhole() {
        bool once = true;
        vu_.script = [&once](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (once && request.at(4) == '\x83' && request.at(7) == 5) {
                once = false;
                return QList{Negative(0x36, 0x22)};
            }
            return std::nullopt;
        };
        start("\x05\x01\x04");
        run();
        QCOMPARE(sids().count('\x81'), 2);
        QVERIFY(onlySavedFile() == "\x76\x01" + vu_.blocks[1] + "\x76\x04" + vu_.blocks[4]);
    }

    void slowerSpeedWhenRefused() {
        vu_.script = [](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) == '\x87' && request.at(5) == 1 && request.at(7) > 3)
                return QList{Negative(0x87, 0x12)};
            return std::nullopt;
        };
        start("\x05\x01");
        run();
        QCOMPARE(link_->openedAt, (QList<int>{1, 3}));
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    void responsePendingTimeouts_data() {
        QTest::addColumn<QByteArray>("sequence");
        QTest::addColumn<int>("rxTimeout");
        QTest::addColumn<int>("expected");
        QTest::newRow("first card answer") << QByteArray("\x05\x06") << 1160 << 32000;
        QTest::newRow("activities") << QByteArray("\x05\x02") << 1160 << 5800;
        QTest::newRow("short time-out") << QByteArray("\x05\x02") << 1000 << 5500;
        QTest::newRow("five times too large for a timer")
            << QByteArray("\x05\x02") << 500000000 << std::numeric_limits<int>::max();
    }
    void responsePendingTimeouts() {
        QFETCH(QByteArray, sequence);
        QFETCH(int, rxTimeout);
        QFETCH(int, expected);
        DownloadSettings::RXTIMEOUT = rxTimeout;
        const quint8 trep = quint8(sequence.at(1));
        vu_.script = [trep](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) == '\x36' && quint8(request.at(5)) == trep)
                return QList{Negative(0x36, 0x78)};
            return std::nullopt;
        };
        start(sequence, sequence.at(1) == 6 ? 'C' : 'L');
        run();
        QCOMPARE(quint8(link_->requests.last().at(5)), trep); // nothing sent after it
        QCOMPARE(session().timerRx.interval(), expected);
        QVERIFY(session().timerRx.isActive());
    }

    // Two resends a second after each (late) refusal, then the same TREP in second-generation
    // numbering at once, which gets its own two resends before it is skipped.
    void subFunctionRefusalsSwitchToSecondGeneration() {
        QList<qint64> refusedAt;
        vu_.script = [this,
                      &refusedAt](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) == '\x36' && (request.at(5) == 1 || request.at(5) == 0x21)) {
                link_->clockMs += 600;
                refusedAt << link_->clockMs;
                return QList{Negative(0x36, 0x12)};
            }
            return std::nullopt;
        };
        start("\x05\x01\x03", 'L');
        run();
        QList<qint64> gaps;
        for (const qint64 refused : refusedAt) {
            const auto next = std::find_if(link_->sentAtMs.begin(), link_->sentAtMs.end(),
                                           [refused](qint64 sent) { return sent >= refused; });
            gaps << (next == link_->sentAtMs.end() ? -1 : *next - refused);
        }
        QCOMPARE(gaps, (QList<qint64>{1000, 1000, 0, 1000, 1000, 0}));
        // The refused download interface version costs no wait.
        QCOMPARE(treps().toHex(' '), QByteArray("00 05 01 01 01 21 21 21 23"));
        QCOMPARE(session().Numbering, TrepNumbering::Gen2V1);
        QCOMPARE(log_->area().count("Sub-function not supported"), 1);
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    void dataNotAvailableSkipsTheTrep() {
        vu_.script = [](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) == '\x36' && request.at(5) == 3) return QList{Negative(0x36, 0xFA)};
            return std::nullopt;
        };
        start("\x05\x03\x04", 'L');
        run();
        QVERIFY(log_->area().contains("Data not available"));
        QCOMPARE(treps().toHex(' '), QByteArray("00 05 03 04"));
        QCOMPARE(status_->BlocksReceived, 1 + 1 + 46);
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    // A refusal of TREP 0x17, to its request or to one of its sub-messages: the card is
    // asked for with TREP 6, and nothing of the refused answer reaches the card file.
    void cardThroughVdoUnitFallsBackToTrep6_data() {
        QTest::addColumn<QByteArray>("refused"); // the start of the refused request
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("logged");
        QTest::newRow("request") << QByteArray("\x80\xEE\xF0\x02\x36\x17") << Negative(0x36, 0x10)
                                 << "General reject";
        QTest::newRow("third sub-message") << QByteArray("\x80\xEE\xF0\x04\x83\x76\x00\x03", 8)
                                           << Negative(0x83, 0xFA) << "Data not available";
    }
    void cardThroughVdoUnitFallsBackToTrep6() {
        QFETCH(QByteArray, refused);
        QFETCH(QByteArray, answer);
        QFETCH(QString, logged);
        vu_.blocks[5] = TechnicalData(0xA1);
        vu_.blocks[0x17] = QByteArray(251 * 4, '\x17');
        bool once = true; // the card's own third sub-message is answered
        vu_.script = [&once, refused,
                      answer](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (!once || !request.startsWith(refused)) return std::nullopt;
            once = false;
            return QList{answer};
        };
        start("\x05\x06", 'C');
        run();
        QCOMPARE(treps().toHex(' '), QByteArray("00 05 17 06"));
        QVERIFY(log_->area().contains(logged));
        QCOMPARE(statuses_.last(), QString("Complete"));
        QVERIFY(onlySavedFile() == vu_.blocks[6]);
    }

    // The first copy of a request goes unanswered; its refusal comes after the resend, and
    // the answer to the resend during the second's wait: that answer is not taken for the
    // third copy's, so every block is in its place.
    void lateRefusalAfterResend() {
        int copies = 0;
        vu_.script = [&copies,
                      this](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) != '\x36' || request.at(5) != 3) return std::nullopt;
            if (++copies == 1) return QList<QByteArray>{};
            if (copies == 2) {
                link_->arriveDuringWait = Response("\x76\x03" + vu_.blocks[3]);
                return QList{Negative(0x36, 0x12)};
            }
            return std::nullopt;
        };
        start("\x05\x03\x04", 'L');
        run();
        session().timerRx_Timer();
        run();
        QCOMPARE(treps().toHex(' '), QByteArray("00 05 03 03 03 04"));
        QVERIFY(onlySavedFile() == "\x76\x03" + vu_.blocks[3] + "\x76\x04" + vu_.blocks[4]);
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    // A card read through a unit that gave its version 2 numbering fills the bar as a card
    // read through a first-generation unit does.
    void cardProgressByNumbering_data() {
        QTest::addColumn<QByteArray>("versionAnswer");
        QTest::newRow("first generation") << Negative(0x36, 0x12);
        QTest::newRow("version 2") << Response(QByteArray::fromHex("76000202"));
    }
    void cardProgressByNumbering() {
        QFETCH(QByteArray, versionAnswer);
        vu_.blocks[6] = QByteArray(251 * 12 + 10, '\x66');
        vu_.script =
            [versionAnswer](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request == InterfaceVersionRequest) return QList{versionAnswer};
            return std::nullopt;
        };
        start("\x05\x06", 'C');
        run();
        QCOMPARE(statuses_.last(), QString("Complete"));
        QCOMPARE(status_->BlocksReceived, 28);
    }

    // The cable pulled while the box about the closing exchange is open: the download was
    // saved and stays "Complete".
    void cablePulledDuringClosingBox_data() {
        QTest::addColumn<quint8>("sid");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("exit refused") << quint8(0x37) << Negative(0x37, 0x10);
        QTest::newRow("second exit answer") << quint8(0x82) << Response("\x77");
    }
    void cablePulledDuringClosingBox() {
        QFETCH(quint8, sid);
        QFETCH(QByteArray, answer);
        SetMessageBoxHandler([this](const QString& text, const QString&) {
            boxes_ << text;
            if (link_->isOpen()) link_->lose("Serial port disconnected");
        });
        vu_.script = [sid, answer](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (!request.startsWith('\x81') && quint8(request.at(4)) == sid) return QList{answer};
            return std::nullopt;
        };
        start("\x05\x01");
        run();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
        QCOMPARE(boxes_.size(), 1);
        QCOMPARE(savedFiles().size(), 1);
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    // Six conditions-not-correct answers: restart, skip, restart, skip, restart, then
    // the session ends in order (or with Transfer Exit refused), saves and reports "Aborted".
    void integrityErrors_data() {
        QTest::addColumn<bool>("refuseExit");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("closed in order") << false << QByteArray("\x37\x82");
        QTest::newRow("exit refused") << true << QByteArray("\x36\x37");
    }
    void integrityErrors() {
        QFETCH(bool, refuseExit);
        QFETCH(QByteArray, ending);
        int errors = 0;
        vu_.script = [&errors,
                      refuseExit](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (refuseExit && request.at(4) == '\x37') return QList{Negative(0x37, 0x10)};
            if (request.at(4) == '\x36' && (request.at(5) == 3 || request.at(5) == 4) &&
                errors < 6) {
                ++errors;
                return QList{Negative(0x36, 0x22)};
            }
            return std::nullopt;
        };
        start("\x05\x01\x03\x03\x04");
        run();
        QCOMPARE(errors, 6);
        const QByteArray order = sids();
        QCOMPARE(order.count('\x81'), 4); // the start and three restarts
        QCOMPARE(order.count('\x87'), 2); // the speed change happens once only
        QCOMPARE(treps().count('\0'), 1); // and the download interface version is asked once
        QVERIFY(order.endsWith(ending));
        QVERIFY(session().IntegrityLimitReached);
        // The list was not finished, so the save writes no final status of its own.
        QCOMPARE(statuses_.last(), QString("Aborted"));
        QCOMPARE(savedFiles().size(), 1);
        QCOMPARE(log_->area().count("Data Integrity Error - 2024-01-01\r\n"), 6);
        QVERIFY(log_->area().contains("Download time - "));
    }

    // How a session ends when the unit answers one request wrongly, refuses it, keeps quiet
    // or goes away: a failure before everything was read, or, once it was, a saved download
    // whose log says what went wrong at the end. Answers that only make the same request go
    // out again are taken ten times, not forever; silence three times.
    void endings_data() {
        QTest::addColumn<quint8>("sid");
        QTest::addColumn<QByteArray>("answer"); // none: silence
        QTest::addColumn<bool>("portLost");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("sends"); // of the last request
        QTest::addColumn<QString>("logged");
        const QStringList none;
        QTest::newRow("wrong checksum to Request Upload")
            << quint8(0x35) << QByteArray("\x80\xF0\xEE\x02\x75\xFF\x00", 7) << false
            << QStringList{"lResult - 4096", "Request Upload - invalid response"} << "Failed" << 1
            << "";
        QTest::newRow("upload not accepted")
            << quint8(0x35) << Negative(0x35, 0x50) << false
            << QStringList{"Request Upload gone wrong"} << "Failed" << 1 << "";
        QTest::newRow("diagnostic session refused")
            << quint8(0x10) << Negative(0x10, 0x22) << false
            << QStringList{"Can't start diagnostic session"} << "Failed" << 1 << "";
        QTest::newRow("baud rate unknown answer")
            << quint8(0x87) << Response("\x99") << false
            << QStringList{"lResult - 8191", "Set Baud Rate - invalid response"} << "Failed" << 1
            << "";
        QTest::newRow("data answered with the wrong header")
            << quint8(0x36) << WithChecksum(QByteArray("\x80\xEE\xF0\x02\x76\x05")) << false
            << QStringList{"lResult - 4097", "Receive TREP data - invalid response"} << "Failed"
            << 1 << "";
        QTest::newRow("Start Communication refused")
            << quint8(0x81) << Negative(0x81, 0x10) << false
            << QStringList{"No answer to Start Communication"} << "Failed" << 11 << "";
        QTest::newRow("9600 baud refused")
            << quint8(0x87) << Negative(0x87, 0x31) << false << QStringList{"Can't set baud rate"}
            << "Failed" << 11 << "";
        QTest::newRow("no unit") << quint8(0x81) << QByteArray() << false << none
                                 << "Failed - Receive timeout" << 3 << "Rx Timeout - ";
        QTest::newRow("exit refused")
            << quint8(0x37) << Negative(0x37, 0x10) << false << QStringList{"Exit refused!"}
            << "Complete" << 1 << "Exit refused!";
        QTest::newRow("second exit answer while stopping")
            << quint8(0x82) << Response("\x77") << false << QStringList{"Can't stop communication"}
            << "Complete" << 1 << "Can't stop communication";
        QTest::newRow("exit never answered") << quint8(0x37) << QByteArray() << false << none
                                             << "Complete" << 3 << "No answer to Transfer Exit";
        QTest::newRow("stop never answered")
            << quint8(0x82) << QByteArray() << false << none << "Complete" << 3
            << "No answer to Stop Communication";
        QTest::newRow("port lost while stopping")
            << quint8(0x82) << QByteArray() << true << none << "Complete" << 1 << "Port lost - ";
    }
    void endings() {
        QFETCH(quint8, sid);
        QFETCH(QByteArray, answer);
        QFETCH(bool, portLost);
        QFETCH(QStringList, boxes);
        QFETCH(QString, status);
        QFETCH(int, sends);
        QFETCH(QString, logged);
        vu_.script = [this, sid, answer,
                      portLost](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            const quint8 service = request.startsWith('\x81') ? 0x81 : quint8(request.at(4));
            if (service != sid || (sid == 0x87 && request.at(5) != 1) ||
                request == InterfaceVersionRequest)
                return std::nullopt;
            if (portLost) link_->lose("Input/output error");
            return answer.isEmpty() ? QList<QByteArray>{} : QList{answer};
        };
        start("\x05\x01");
        run();
        for (int timeouts = 0; timeouts < 3 && session().timerRx.isActive(); ++timeouts)
            session().timerRx_Timer();
        QCOMPARE(boxes_, boxes);
        QCOMPARE(statuses_.last(), status);
        QCOMPARE(savedFiles().size(), int(status == "Complete"));
        QCOMPARE(link_->requests.count(link_->requests.last()), sends);
        QVERIFY2(log_->area().contains(logged), qPrintable(log_->area().right(300)));
        QCOMPARE(session().SessionState, 0);
        QVERIFY(!link_->isOpen());
        QVERIFY(ended_);
    }

    // A response cut off half-way must not swallow the answer to the repeated request.
    void halfResponseIsDroppedOnRetry() {
        start("\x05\x01");
        link_->takeRequest();
        link_->receive(QByteArray("\x80\xF0\xEE\x03\xC1", 5));
        session().timerRx_Timer();
        run();
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    void noiseAndSplitPieces() {
        start("\x05");
        link_->takeRequest();
        const QByteArray answer = QByteArray("\x00\x13", 2) + Response("\xC1\xEA\x8F");
        link_->receive(answer.left(3));
        link_->receive(answer.mid(3, 4));
        QCOMPARE(session().SessionState, 1);
        link_->receive(answer.mid(7));
        QCOMPARE(session().SessionState, 2);
        QVERIFY2(log_->area().contains("00 13 80 F0 EE 03 C1 EA 8F 9B \r\n"),
                 qPrintable(log_->area()));
    }

    void openFailures_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("box");
        QTest::newRow("missing") << int(SerialLink::OpenFailure::NotAvailable)
                                 << "Error: Selected Com port not available";
        QTest::newRow("in use") << int(SerialLink::OpenFailure::InUse)
                                << "Error: Selected Com port in use";
        QTest::newRow("other") << int(SerialLink::OpenFailure::Other) << "Error: Broken pipe (7)";
    }
    void openFailures() {
        QFETCH(int, kind);
        QFETCH(QString, box);
        link_->openFailure = SerialLink::Error{SerialLink::OpenFailure(kind), 7, "Broken pipe"};
        start("\x05");
        QCOMPARE(boxes_, QStringList{box});
        QCOMPARE(statuses_, QStringList{"Failed - Broken pipe"});
        QVERIFY(link_->requests.isEmpty());
        QVERIFY(!session().timerRx.isActive());
    }

    // Lost while waiting for an answer, or while the first request is written: either way
    // the failure is the last status.
    void lostLinkEndsAsFailure_data() {
        QTest::addColumn<int>("loseAtByte");
        QTest::newRow("waiting") << 0;
        QTest::newRow("first request") << 3;
    }
    void lostLinkEndsAsFailure() {
        QFETCH(int, loseAtByte);
        link_->loseAtByte = loseAtByte;
        start("\x05\x01");
        if (link_->isOpen()) link_->lose("Input/output error");
        QCOMPARE(statuses_.last(), QString("Failed - Input/output error"));
        QVERIFY(ended_);
        QVERIFY(!session().timerRx.isActive());
        QVERIFY(log_->area().contains("Input/output error"));
    }

    void latestVuWithoutOverviewAsksForDayZero() {
        start("\x05\x02", 'L');
        run();
        QCOMPARE(vu_.dayRequests, QList<QByteArray>{QByteArray(4, '\0')});
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    void secondGenerationRegistration_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QByteArray>("vrn");
        QTest::newRow("nation, code page, number")
            << QByteArray("\x0D\x01GEN2-REG-0013") << QByteArray("GEN2-REG-0013");
        QTest::newRow("number alone") << QByteArray("GEN2-REG-0013") << QByteArray();
    }
    void secondGenerationRegistration() {
        QFETCH(QByteArray, record);
        QFETCH(QByteArray, vrn);
        vu_.blocks[0x21] = Gen2Overview(record, k20240101, k20240101 + 27 * kDay);
        vu_.script = [](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request.at(4) == '\x36' && request.at(5) == 1) return QList{Negative(0x36, 0x12)};
            return std::nullopt;
        };
        start("\x05\x01", 'L');
        run();
        QCOMPARE(session().Numbering, TrepNumbering::Gen2V1);
        QCOMPARE(session().Vrn, vrn);
        QCOMPARE(log_->area().contains("Registration number missing from the overview"),
                 vrn.isEmpty());
        QVERIFY(!log_->area().contains("Overview incomplete"));
        QCOMPARE(statuses_.last(), QString("Complete"));
    }

    // The regulation's TREP of each kind of data in the first generation, version 1 and
    // version 2 numbering, and back; the makers' own TREPs move only in version 1.
    void trepNumbering_data() {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QByteArray>("treps");
        QTest::newRow("overview") << 0x01 << QByteArray("01 21 31");
        QTest::newRow("activities") << 0x02 << QByteArray("02 22 32");
        QTest::newRow("events and faults") << 0x03 << QByteArray("03 23 33");
        QTest::newRow("detailed speed") << 0x04 << QByteArray("04 24 24");
        QTest::newRow("technical data") << 0x05 << QByteArray("05 25 35");
        QTest::newRow("card") << 0x06 << QByteArray("06 06 06");
        QTest::newRow("maker's card") << 0x17 << QByteArray("17 17 17");
        QTest::newRow("end") << 0xFF << QByteArray("ff ff ff");
        QTest::newRow("maker's data 017") << 0x11 << QByteArray("11 31 11");
        QTest::newRow("168 h of speed 025") << 0x19 << QByteArray("19 39 19");
    }
    void trepNumbering() {
        QFETCH(int, entry);
        QFETCH(QByteArray, treps);
        const QByteArray bytes = QByteArray::fromHex(treps);
        for (const auto numbering :
             {TrepNumbering::Gen1, TrepNumbering::Gen2V1, TrepNumbering::Gen2V2}) {
            const int trep = quint8(bytes[int(numbering)]);
            QCOMPARE(TrepFor(entry, numbering), trep);
            QCOMPARE(EntryOf(trep, numbering), entry);
        }
    }

    // The download interface version, asked once after Request Upload: version 2 or higher
    // brings the version 2 TREPs, any other answer or none leaves the numbering as it was.
    // Either way the question costs no pause, skip, restart or progress step.
    void interfaceVersion_data() {
        QTest::addColumn<QList<QByteArray>>("answer"); // to TRTP 00; none: silence
        QTest::addColumn<QByteArray>("expected");      // the TREPs asked for, in order
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("boxes");
        const auto version = [](const char* hex) {
            return QList{Response(QByteArray::fromHex(QByteArray("7600") + hex))};
        };
        const QByteArray v2("00 35 31 32 32 32 32 32 32 32 32 24");
        const QByteArray gen1("00 05 01 02 02 02 02 02 02 02 02 04");
        const QString v2Mode("VU download interface version 2.2 - version 2 TREPs");
        const QString notGiven("VU download interface version not given - first-generation TREPs");
        QTest::newRow("2.2") << version("0202") << v2 << v2Mode << QStringList{};
        QTest::newRow("2.3") << version("0203") << v2
                             << "VU download interface version 2.3 - version 2 TREPs"
                             << QStringList{};
        QTest::newRow("pending, then 2.2")
            << (QList{Negative(0x36, 0x78)} + version("0202")) << v2 << v2Mode << QStringList{};
        QTest::newRow("2.1") << version("0201") << gen1
                             << "VU download interface version 2.1 - first-generation TREPs"
                             << QStringList{};
        QTest::newRow("no version") << version("02") << gen1 << notGiven << QStringList{};
        QTest::newRow("sub-function not supported")
            << QList{Negative(0x36, 0x12)} << gen1 << notGiven << QStringList{};
        QTest::newRow("conditions not correct")
            << QList{Negative(0x36, 0x22)} << gen1 << notGiven << QStringList{};
        QTest::newRow("wrong checksum") << QList{QByteArray::fromHex("80F0EE0476000202FF")} << gen1
                                        << notGiven << QStringList{"lResult - 4096"};
        QTest::newRow("silence") << QList<QByteArray>{} << "00 00 " + gen1 << notGiven
                                 << QStringList{};
    }
    void interfaceVersion() {
        QFETCH(QList<QByteArray>, answer);
        QFETCH(QByteArray, expected);
        QFETCH(QString, mode);
        QFETCH(QStringList, boxes);
        const quint32 latest = k20240101 + 27 * kDay;
        vu_.blocks[0x35] = QByteArray(200, '\x35');
        vu_.blocks[0x31] = Gen2Overview("\x0D\x01GEN2-REG-0013", k20240101, latest);
        vu_.blocks[0x32] = QByteArray(40, '\x32');
        vu_.blocks[0x24] = QByteArray(251 * 19 + 100, '\x24'); // twenty parts
        vu_.script = [answer](const QByteArray& request) -> std::optional<QList<QByteArray>> {
            if (request == InterfaceVersionRequest) return answer;
            return std::nullopt;
        };
        session().SessionDays = 7;
        start("\x05\x01\x02\x04\x05", 'L');
        run();
        if (answer.isEmpty()) {
            for (int timeout = 0; timeout < 3; ++timeout) {
                session().timerRx_Timer();
                run();
            }
        }
        QCOMPARE(treps().toHex(' '), expected);
        QVERIFY2(log_->area().contains(mode + "\r\n"), qPrintable(log_->area()));
        QCOMPARE(boxes_, boxes);
        QCOMPARE(sids().count('\x81'), 1);
        QCOMPARE(link_->pauses.count(1000), 0);
        QVERIFY(!log_->area().contains("Data Integrity Error"));
        QVERIFY(!log_->area().contains("not supported"));
        // The same days, acknowledgements and progress in either numbering: seven days back
        // from the latest, that day included; twenty parts of detailed speed, a step after
        // the 8th and the 16th.
        QCOMPARE(vu_.dayRequests.size(), 8);
        QCOMPARE(vu_.dayRequests.first(), Be32(latest - 7 * kDay));
        QCOMPARE(vu_.dayRequests.last(), Be32(latest));
        QVERIFY(log_->area().contains("Download from 2024-01-21 65AC5E80"));
        QByteArray acks;
        for (const QByteArray& request : link_->requests)
            if (request.at(4) == '\x83') acks += request.mid(5, 3);
        QByteArray speedAcks;
        for (char part = 2; part <= 20; ++part)
            speedAcks += QByteArray("\x76\0", 2) + part;
        QVERIFY(acks.endsWith(speedAcks));
        QVERIFY(statuses_.contains("0011/0057"));
        QVERIFY(statuses_.contains("0012/0057"));
        QCOMPARE(status_->BlocksReceived, 56);
        QCOMPARE(statuses_.last(), QString("Complete"));
        // The blocks as asked for, the technical data read first last; the interface version
        // is not data.
        QByteArray asked = QByteArray::fromHex(expected);
        while (asked.startsWith('\0'))
            asked.remove(0, 1);
        QByteArray file;
        for (const char trep : asked.mid(1) + asked.left(1))
            file += "\x76" + QByteArray(1, trep) + vu_.blocks[quint8(trep)];
        const QStringList files = QDir(dir_.path()).entryList({"M_*.DDD"});
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().contains(asked.contains('\x31') ? "_GEN2-REG-0013_" : "_AB-123-CD "));
        QFile saved(dir_.filePath(files.first()));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == file);
    }

    // Overviews cut short at any length: the session reads what is there and goes on.
    void shortOverviewsDoNotCrash() {
        for (const int size : {0, 1, 100, 388, 400, 420, 430}) {
            init();
            vu_.blocks[1] = Overview(k20240101, k20240101).left(size);
            start("\x05\x01\x02");
            run();
            QCOMPARE(statuses_.last(), QString("Complete"));
            // Without a usable period one day is asked for, not every day since 1970.
            QCOMPARE(vu_.dayRequests.size(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
