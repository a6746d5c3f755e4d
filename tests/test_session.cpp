// The download session against a scripted link and a small vehicle unit: requests, answers,
// retries, skips, restarts and failures, and the files the session saves.

#include "Conversions.h"
#include "DownloadFiles.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "NationCodes.h"
#include "NewFile.h"
#include "ScriptedLink.h"
#include "Session.h"
#include "StatusFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <climits>
#include <numeric>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr quint32 kDay = 86400, k20240101 = 1704067200, kLatest = k20240101 + 27 * kDay;

QByteArray be32(quint32 value) {
    return spacedHex(QByteArray::number(value, 16).rightJustified(8, '0'));
}

// A first-generation overview's data: VIN, nation, registration from position 391 of the
// block, the times from 423.
QByteArray overviewBlock(quint32 oldest, quint32 latest) {
    return (QByteArray(388, '\0') + "WDB9634031L123456\x11\x01" + "AB-123-CD    " +
            be32(latest + 3600) + be32(oldest) + be32(latest + 7200))
        .leftJustified(500, '\0');
}

// A second-generation overview's data: two empty certificate arrays, VIN, the given
// registration record, current time, downloadable period.
QByteArray gen2Overview(const QByteArray& registration) {
    const auto array = [](char type, const QByteArray& record) {
        return type + be32(record.size()).mid(2) + spacedHex("0001") + record;
    };
    return spacedHex("0B000000000C00000000") + array(0x0A, "WDB9634031L123456") +
           array(0x0E, registration) + array(0x12, be32(kLatest)) +
           array(0x13, be32(k20240101) + be32(kLatest));
}

// The unit's data of each TREP, behind 0x76 and the TREP.
// clang-format off
const QMap<quint8, QByteArray> kBlocks{
    {0x01, overviewBlock(k20240101, kLatest)}, {0x02, QByteArray(40, '\x22')},
    {0x03, QByteArray(60, '\x33')}, {0x04, QByteArray(251 * 19 + 100, '\x44')}, // twenty parts
    // First-generation technical data: the maker code at index 95 (position 98 of the block).
    {0x05, QByteArray(95, '\x11') + '\x32' + QByteArray(104, '\x11')},
    {0x06, QByteArray(251 * 12 + 10, '\x66')},
    {0x17, QByteArray(251 * 4, '\x17')}, {0x19, QByteArray(251 * 16, '\x19')},
    {0x24, QByteArray(251 * 19 + 100, '\x24')}, {0x31, gen2Overview("\x0D\x01GEN2-REG-0013")},
    {0x32, QByteArray(40, '\x32')}, {0x35, QByteArray(200, '\x35')}};
// clang-format on

// A request's service and data, without header and checksum; 0x81 for Start Communication.
QByteArray serviceOf(const QByteArray& request) {
    return request.startsWith('\x81') ? "\x81" : request.mid(4, request.size() - 5);
}

// What the unit says `times` times (-1: always) to requests whose service starts with the
// given hex, instead of its own answer: nothing for an empty answer. `duringWait` arrives
// during the session's next wait, `before` as a piece of its own just before the answer,
// `whileWriting` while the session writes its next request.
struct Scripted {
    const char* service;
    QByteArray answer;
    int times = 1;
    QByteArray duringWait = {}, before = {}, whileWriting = {};
    int lateMs = 0; // how long after the request the answer comes
};

// An answer out of the ordinary and where it leads: the TREPs then asked for and the files
// saved (the TREPs of their blocks; nullptr and -1: not looked at), the progress, what is
// seen in the log or among the statuses ("|" between several), the boxes, the final status, how
// often the last request went out, whether the cable is pulled at the request (1) or at the box
// (2), (where the TREPs are looked at) the speeds the port was opened at, and whether the unit
// answers at once, before the session looks at the port again.
struct Case {
    QByteArray command;
    QList<Scripted> script = {};
    QByteArray treps = {}, files = {};
    int progress = -1;
    QString seen = {};
    QStringList boxes = {};
    const char* status = "Complete";
    int sends = 1, cablePulled = 0;
    QList<int> opens = {1, 4};
    bool quick = false;
    // Where set: how often the first text seen is logged, the days asked for back from the
    // latest, the byte (counted from 1) at which the port goes away, a pattern of the file's
    // name, the service of every request.
    int seenTimes = 0, days = 0, loseAtByte = 0;
    QString name = {};
    QByteArray services = {};
    // Where set: the progress after each sub-message that moved it ("sub-message:blocks"), then
    // the total; the last pauses before requests; the port's failure to open.
    const char* steps = nullptr;
    QList<qint64> pauses = {};
    std::optional<SerialLink::Error> openFailure = {};
};

QByteArray everyByte(int repeats) {
    QByteArray data(256, '\0');
    std::iota(data.begin(), data.end(), '\0');
    return data.repeated(repeats);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestSession : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<MessageLog> log_;
    std::unique_ptr<StatusFile> status_;
    std::unique_ptr<DownloadFiles> files_;
    std::unique_ptr<ScriptedLink> link_;
    std::unique_ptr<Session> session_;
    QStringList boxes_, statuses_, steps_;
    bool ended_ = false;
    struct Unit {
        QMap<quint8, QByteArray> blocks = kBlocks;
        QList<Scripted> script;
        std::function<void(const QByteArray& service)> onRequest;
        QList<QByteArray> dayRequests, parts;
    } unit_;

    Session& session() { return *session_; }
    QString area() const { return log_->area(); }

    // The kind, then the TREP sequence: "L\x05\x02".
    void start(const QByteArray& command, qint32 days = 0) {
        DownloadSettings::downloadType = command[0];
        Session::Plan plan{{}, days, {}};
        std::copy(command.begin() + 1, command.end(), plan.treps.begin());
        plan.treps[command.size() - 1] = kTrepEnd;
        session().start(plan);
    }

    // Answers requests until the session stops asking; then lets the receive time-out pass,
    // up to `timeouts` times, answering what follows.
    void run(int timeouts = 3) {
        for (int steps = 0; steps < 10000; ++steps) {
            if (link_->deliverReceived()) continue;
            const QByteArray request = link_->takeRequest();
            if (!request.isEmpty()) {
                reply(serviceOf(request));
                continue;
            }
            if (timeouts-- <= 0 || !session().receiveTimer().isActive()) return;
            link_->clockMs += session().receiveTimer().interval(); // the wait passes
            session().onReceiveTimeout();
        }
    }

    void reply(const QByteArray& service) {
        for (const QByteArray& piece : answer(service))
            if (!piece.isEmpty()) link_->receive(piece); // nothing comes as nothing
    }
    QList<QByteArray> answer(const QByteArray& service) {
        if (unit_.onRequest) unit_.onRequest(service);
        for (Scripted& scripted : unit_.script) {
            if (scripted.times == 0 || !service.toHex().startsWith(scripted.service)) continue;
            --scripted.times;
            if (!scripted.duringWait.isEmpty()) link_->arriveDuringWait = scripted.duringWait;
            link_->arriveWhileWriting = scripted.whileWriting;
            link_->clockMs += scripted.lateMs;
            return {scripted.before, scripted.answer};
        }
        const char sid = service[0];
        for (const QByteArray& fixed : QByteArray("81C1EA8F 105081 3575FF 3777 82C2").split(' '))
            if (spacedHex(fixed)[0] == sid)
                return {responseFrame(spacedHex(fixed).mid(1))}; // never changes
        if (sid == '\x87') // Transition Baud Rate is not answered
            return service[1] == 1 ? QList{responseFrame(spacedHex("C701"))} : QList<QByteArray>{};
        if (sid == '\x83')
            return {unit_.parts.value(quint8(service[2]) * 256 + quint8(service[3]) - 1)};
        if (service[1] == 0) return {negative(0x36, 0x12)}; // no download interface version
        if (service.size() == 6) unit_.dayRequests << service.mid(2);
        // A long answer comes in parts of 251 bytes, with the length byte 255; the last,
        // shorter one ends it.
        const QByteArray day = service.mid(2, 4), echo = "\x76" + service.mid(1, 1);
        const QByteArray data =
            (day.isEmpty() || service[1] == 2 ? day : spacedHex("0600040001") + day) +
            unit_.blocks.value(quint8(service[1]));
        if (data.size() <= 253) return {responseFrame(echo + data)};
        unit_.parts.clear();
        for (int n = 1; n <= data.size() / 251 + 1; ++n)
            unit_.parts << responseFrame(echo + be32(n).mid(2) + data.mid(n * 251 - 251, 251));
        return {unit_.parts[0]};
    }

    // The TREP of every Transfer Data request, in order, in hex; or every request's service.
    QByteArray treps(bool services = false) const {
        QByteArray list;
        for (const QByteArray& request : link_->requests)
            if (services || serviceOf(request).startsWith('\x36'))
                list += serviceOf(request).mid(!services, 1);
        return list.toHex(' ');
    }
    // For each request after something was received, the time from the last piece received
    // before it.
    QList<qint64> pauses() const {
        QList<qint64> pauses;
        for (const qint64 sent : link_->sentAtMs) {
            const auto after = std::ranges::upper_bound(link_->receivedAtMs, sent);
            if (after != link_->receivedAtMs.cbegin()) pauses << sent - *(after - 1);
        }
        return pauses;
    }
    QStringList savedFiles() const { return QDir(dir_->path()).entryList({"*.DDD", "*.ddd"}); }
    // The saved files, in name order, as the TREPs of their blocks ("01 02|06"): each block
    // 0x76, TREP and data, but the card's, which is kept bare; activities of a day once.
    QByteArray filesAsBlocks() const {
        QByteArrayList files;
        for (const QString& name : savedFiles()) {
            QByteArray file = readWhole(dir_->filePath(name)), treps;
            QByteArrayList days;
            while (!file.isEmpty()) {
                const char trep = file.startsWith('\x76') ? file[1] : '\x06';
                // The day an activities answer starts with: alone in the first generation, in
                // an array of one record in the second.
                const int dayBytes = trep == 0x02 ? 4 : trep == 0x22 || trep == 0x32 ? 9 : 0;
                const QByteArray day = file.mid(2, dayBytes);
                if (!day.isEmpty() && days.contains(day)) return "a day twice in " + name.toUtf8();
                days << day;
                const QByteArray block = (trep == 6 ? "" : file.left(2)) + day + unit_.blocks[trep];
                if (!file.startsWith(block)) return "unknown bytes in " + name.toUtf8();
                file.remove(0, block.size());
                treps += trep;
            }
            files << treps.toHex(' ');
        }
        return files.join('|');
    }

    QString path(const QString& relative) const { return dir_->filePath(relative); }
    // Every file in a folder, hidden ones too: a temporary file left behind counts.
    QStringList files(const QString& folder) const {
        return QDir(path(folder)).entryList(QDir::Files | QDir::Hidden);
    }
    QByteArray status() const { return readWhole(path("status.txt")); }
    // The first and the last day asked for.
    QByteArray daysAsked() const { return unit_.dayRequests.first() + unit_.dayRequests.last(); }
private slots:
    void initTestCase() {
        setDateLimits();
        fillNationAlpha();
    }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        DownloadSettings::rxTimeout = 1160;
        DownloadSettings::interMessagePause = 10;
        DownloadSettings::closeDiagnosticsWindow = true;
        DownloadSettings::fileNameStyle = "EU";
        DownloadSettings::vuDataPath = DownloadSettings::cardDataPath = dir_->path() + "/";
        // The folders of the saving tests.
        qputenv("XDG_DATA_HOME", path("xdg").toUtf8());
        for (const char* folder : {"vu", "card", "xdg/Fenwright/Vantrel PC"})
            QVERIFY(QDir().mkpath(path(folder)));
        setMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
        log_ = std::make_unique<MessageLog>();
        status_ = std::make_unique<StatusFile>(*log_);
        files_ = std::make_unique<DownloadFiles>(*log_);
        log_->setFilePath(path("VNPC.log"));
        status_->setFilePath(path("status.txt"));
        status_->onStatusChanged = [this](const QString& text) {
            statuses_ << text;
            // A progress step: the sub-message it came after (1: a TREP's first or only one).
            const QByteArray last = serviceOf(link_->requests.value(link_->requests.size() - 1));
            const int part = last.startsWith('\x83') ? quint8(last[3]) : 1;
            if (text[0].isDigit()) steps_ << QString("%1:%2").arg(part).arg(text.left(4).toInt());
        };
        link_ = std::make_unique<ScriptedLink>();
        session_ = std::make_unique<Session>(*log_, *status_, *link_);
        session().endProgram = [this] { ended_ = true; };
        unit_ = Unit();
        boxes_ = statuses_ = steps_ = {};
        ended_ = false;
    }

    // The whole road of an all-VU download: speed change, every TREP, the end, the file. The
    // file is on disk before Transfer Exit goes out (a kill in the closing exchange keeps
    // it); "Complete" waits for the end. The unit is left the setting's pause from the end of
    // every answer to the next request, acknowledgements too.
    void allVuDownload() {
        DownloadSettings::interMessagePause = 250;
        QByteArray atExit;
        unit_.onRequest = [&](const QByteArray& service) {
            if (service[0] == '\x37') atExit = filesAsBlocks() + '|' + statuses_.last().toUtf8();
        };
        start("A\x05\x01\x02\x03\x04\x05");
        QCOMPARE(link_->requests, QList<QByteArray>{spacedHex("81EEF081E0")});
        QVERIFY(session().receiveTimer().isActive() && session().receiveTimer().interval() == 1160);
        run();
        // Transition Baud Rate drained at 9600, then the port again at 57600.
        QVERIFY(link_->openedAt == QList<int>({1, 4}) && link_->drains == 1);
        // 28 days from the oldest day on; the technical data read first is not asked again.
        QCOMPARE(treps(), "00 05 01 " + QByteArray("02 ").repeated(28) + "03 04");
        QCOMPARE(daysAsked(), be32(k20240101) + be32(kLatest));
        QVERIFY(area().contains("65 B5 A7 10  - 2024-01-28 01:00:00\r\n")); // the unit's time
        QCOMPARE(statuses_.mid(statuses_.size() - 2), (QStringList{"0077/0077", "Complete"}));
        QCOMPARE(filesAsBlocks(), "01 " + QByteArray("02 ").repeated(28) + "03 04 05");
        // The name without its date and time.
        QCOMPARE(savedFiles().value(0).remove(2, 13), "M__AB-123-CD    _WDB9634031L123456.DDD");
        QVERIFY(boxes_.isEmpty() && ended_ && !link_->isOpen());
        QCOMPARE(area().count("VU Path/File Name - "), 1); // saved once, before Transfer Exit
        QCOMPARE(atExit, filesAsBlocks() + "|0077/0077");
        QCOMPARE(std::ranges::min(pauses()), 250);
    }

    void unusualAnswers_data() {
        QTest::addColumn<Case>("c");
        const QByteArray stale = responseFrame(spacedHex("76040003") + QByteArray(251, 'x')),
                         late = responseFrame("\x76\x03" + kBlocks[3]),
                         lastPart = responseFrame(spacedHex("76040014") + kBlocks[4].mid(19 * 251)),
                         firstDay = responseFrame("\x76\x02" + be32(k20240101) + kBlocks[2]),
                         part4 = responseFrame(spacedHex("76040001") + kBlocks[4].left(251)),
                         refused = negative(0x36, 0x12), notThere = negative(0x36, 0xFA);
        const QByteArray days = "01 " + QByteArray("02 ").repeated(27) + "02";
        const QString ignored = "Answer to another request - ignored",
                      lateSeen = "Late answer to an earlier request - ignored",
                      twice = "Two different answers to one request";
        const char *threeFour = "L\x05\x03\x04",
                   *failedTwice = "Failed - two answers to one request";
        const QList<Scripted> staleRefusal{{"3603", notThere}, {"3604", part4, 1, {}, notThere}};
        const auto row = [](const char* name, const Case& c) { QTest::newRow(name) << c; };
        using Open = SerialLink::OpenFailure;
        // clang-format off
        // Not acknowledged again at once: the unit would send one copy more.
        row("stale sub-message dropped", {"L\x05\x04", {{"83760004", stale}}, "00 05 04", "04", 47,
            ignored + "|Rx Timeout - "});
        // The answer is read once more from its start, without a copy of its first parts.
        row("conditions not correct mid-answer", {"A\x05\x01\x04",
            {{"83760005", negative(0x36, 0x22)}}, "00 05 01 04 04", "01 04", 48, "Integrity"});
        row("slower speed when refused", {"A\x05\x01", {{"87010104", negative(0x87, 0x12)}},
            "00 05 01", "01", 2, "", {}, "Complete", 1, 0, {1, 3}});
        // After a pending answer and silence, the resends wait the receive time-out again.
        row("resent after a pending answer", {.command = "L\x05\x03",
            .script = {{"3603", negative(0x36, 0x78)}, {"3603", {}}},
            .pauses = {5800, 6990, 10, 10}});
        // A TREP refused half-way is skipped without its first parts; the skip is a progress step.
        row("data not available skips the TREP", {"L\x05\x04\x03", {{"83760005", notThere}},
            "00 05 04 03", "03", 3, "Data not available|0002/0028"});
        // The first copy goes unanswered; its refusal comes after the resend, and the answer
        // to the resend during the second's wait: it is not taken for the third copy's.
        row("late refusal after a resend", {threeFour, {{"3603", {}}, {"3603", refused, 1, late}},
            "00 05 03 03 03 04", "03 04", 48, lateSeen});
        // An answer counts only for the request it answers; any other is dropped and the
        // session waits on, its time-out running: the late answer to a first copy between the
        // resend and the resend's own answer, two answers in one read, a duplicated last
        // sub-message, the answer for the day before.
        row("late answer between a resend and its own", {threeFour,
            {{"3603", {}}, {"3603", late, 1, {}, late}}, "00 05 03 03 04", "03 04", 48, ignored});
        row("two answers in one read", {threeFour, {{"3603", late + late}}, "00 05 03 04", "03 04",
            48, lateSeen});
        row("duplicated last sub-message", {"L\x05\x04\x03",
            {{"83760014", lastPart, 1, {}, lastPart}}, "00 05 04 03", "04 03", 48, ignored});
        row("answer for the day before", {"A\x05\x01\x02",
            {{"3602", {}}, {"3602", firstDay, 1, {}, firstDay}}, nullptr, days, 30, ignored});
        // A stale copy of an earlier answer taken for the next request moves the session on;
        // the unit's own answer to that request, coming after it (in the same read, or while the
        // next request is written), gives it away: the download has failed, even with its file
        // saved before the closing exchange.
        row("stale refusal taken for the next TREP", {"A\x05\x01\x03\x04", staleRefusal,
            "00 05 01 03 04", "01", -1, twice, {}, failedTwice});
        row("stale refusal and own answer in one read", {"A\x05\x01\x03\x04\x02",
            {{"3603", notThere}, {"3604", notThere + part4}}, "00 05 01 03 04 02", "", -1, twice,
            {}, failedTwice});
        row("own answer while the next request is written", {"A\x05\x01\x03\x04\x02",
            {{"3603", notThere}, {"3604", notThere, 1, {}, {}, part4}}, "00 05 01 03 04 02", "",
            -1, twice, {}, failedTwice});
        // Answers of another TREP to every copy: none counts, none resets the count of
        // time-outs, and nothing is saved.
        row("only answers of another TREP", {"L\x05\x03", {{"3603", responseFrame("\x76\x05\xAA"),
            -1}}, "00 05 03 03 03", "", -1, ignored, {}, "Failed - Receive timeout", 3});
        // Whatever comes in before a request's last byte is out is not its answer, and the
        // answer to a resend is there at once: it is taken.
        row("refusal again while the resend is written", {threeFour,
            {{"3603", refused, 1, {}, {}, refused}}, "00 05 03 03 04", "03 04", 48, lateSeen});
        row("quick answer to a resend", {threeFour, {{"3603", {}}}, "00 05 03 03 04", "03 04", 48,
            "Rx Timeout - ", {}, "Complete", 1, 0, {1, 4}, true});
        // A frame begun before the wait after a refusal, finished during it or never: nothing
        // of it is left to swallow the resend's answer.
        for (const int rest : {10, 0})
            row(rest ? "frame finished during the wait" : "frame cut short before it", {threeFour,
                {{"3603", refused + late.left(10), 1, rest ? late.mid(10) : QByteArray()}},
                "00 05 03 03 04", "03 04", 48, rest ? lateSeen : ""});
        // Technical data refused at first and read after the overview tells the kind.
        row("technical data refused, read last", {.command = "L\x05\x01\x05",
            .script = {{"3605", notThere}}, .treps = "00 05 01 05", .name = "^M_"});
        // Another overview or a card starts a new file.
        row("VU data, then a card", {"A\x05\x01\x06", {}, "00 05 01 06", "01|06", 29, ""});
        // Overviews cut short, or none at all: the session reads what is there and goes on.
        // Without a usable period one day is asked for, not every day since 1970.
        row("empty overview", {"A\x05\x01\x02", {{"3601", responseFrame("\x76\x01")},
            {"3605", responseFrame("\x76\x05")}}, "00 05 01 02", nullptr, -1, "Downloadable period "
            "not known|Overview incomplete - 2 bytes|Technical data too short"});
        row("empty second-generation overview", {"A\x05\x01\x02", {{"3600", responseFrame(
            spacedHex("76000202"))}, {"3631", responseFrame("\x76\x31")}}, "00 35 31 32", nullptr,
            -1, "Registration number missing from the overview|Overview incomplete - 2 bytes"});
        // Activities asked for before any overview are for day zero and go to a file of their
        // own; the progress total is not counted again once data came in.
        row("activities before the overview", {"L\x05\x02\x01", {}, "00 05 02 01", "01|02", 3,
            "36 02 00 00 00 00 |0003/0028"});
        // A response cut off half-way must not swallow the answer to the repeated request.
        row("half a response, then silence", {"A\x05\x01", {{"81", spacedHex("80F0EE03C1")}},
            "00 05 01", "01", 2, "80 F0 EE 03 C1 Rx Timeout - "});
        // A refusal of this maker's own card TREP, to its request or a sub-message: the card
        // is asked for with TREP 6, and nothing of the refused answer is kept.
        row("maker's card TREP refused", {"C\x05\x06", {{"3617", negative(0x36, 0x10)}},
            "00 05 17 06", "06", 28, "General reject"});
        row("maker's card sub-message refused", {"C\x05\x06",
            {{"83760003", negative(0x83, 0xFA)}}, "00 05 17 06", "06", 28, "Data not available"});
        // A unit that gave its version 2 numbering counts its card as a card; one that came
        // to version 1 numbering through refusals counts it as the TREP before.
        row("card through a version 2 unit", {"C\x05\x06",
            {{"3600", responseFrame(spacedHex("76000202"))}}, "00 35 06", "06", 28, "0002/0028"});
        row("card through a version 1 unit", {"C\x05\x06", {{"3605", refused, 3}},
            "00 05 05 05 25 06", "06", 2, "version 1 TREPs"});

        // How a session ends when the unit answers one request wrongly, refuses it, keeps quiet
        // or goes away: a failure before everything was read, or, once it was, a saved download
        // whose log says what went wrong at the end. Answers that only make the same request go
        // out again are taken ten times, not forever; silence three times. The row is named
        // after the request's service and the last box, or else what the log says.
        const auto ending = [](const char* service, const QByteArray& answer, const char* status,
            int sends, const QStringList& boxes = {}, const QString& seen = "", int pulled = 0) {
            QTest::addRow("%s %s", service, qPrintable(boxes.isEmpty() ? seen : boxes.last()))
                << Case{"A\x05\x01", {{service, answer, -1}}, nullptr, qstrcmp(status, "Complete")
                ? "" : "01", -1, seen, boxes, status, sends, pulled};
        };
        ending("35", spacedHex("80F0EE0275FF00"), "Failed", 1,
            {"lResult - 4096", "Request Upload - invalid response"}); // a wrong checksum
        ending("35", negative(0x35, 0x50), "Failed", 1, {"Request Upload gone wrong"});
        ending("10", negative(0x10, 0x22), "Failed", 1, {"Can't start diagnostic session"});
        ending("8701", responseFrame("\x99"), "Failed", 1,
            {"lResult - 8191", "Set Baud Rate - invalid response"});
        ending("3605", withChecksum(spacedHex("80EEF0027605")), "Failed", 1, // a request's header
            {"lResult - 4097", "Receive TREP data - invalid response"});
        ending("81", negative(0x81, 0x10), "Failed", 11, {"No answer to Start Communication"});
        ending("8701", negative(0x87, 0x31), "Failed", 11, {"Can't set baud rate"});
        ending("81", {}, "Failed - Receive timeout", 3, {}, "Rx Timeout - "); // no unit
        // Exit refused, the cable pulled at the box.
        ending("37", negative(0x37, 0x10), "Complete", 1, {"Exit refused!"}, "Exit refused!", 2);
        ending("82", responseFrame("\x77"), "Complete", 3, {}, ignored + "|No answer to Stop");
        ending("37", {}, "Complete", 3, {}, "No answer to Transfer Exit");
        ending("82", {}, "Complete", 3, {}, "No answer to Stop Communication");
        ending("82", {}, "Complete", 1, {}, "Port lost - ", 1);
        ending("82", negative(0x82, 0x10), "Complete", 1, {"Can't stop communication"},
            "Can't stop communication");

        // The port does not open, or goes away while the first request is written: the failure is
        // the last status, and nothing is sent.
        for (const auto& [open, box] :
             {std::pair{Open::NotAvailable, "Selected Com port not available"},
              {Open::InUse, "Selected Com port in use"}, {Open::Other, "Broken pipe (7)"}})
            QTest::addRow("port not opened: %s", box) << Case{.command = "A\x05\x01",
                .boxes = {QString("Error: ") + box}, .status = "Failed - Broken pipe", .sends = 0,
                .openFailure = SerialLink::Error{open, 7, "Broken pipe"}};
        row("port lost in the first request", {.command = "A\x05\x01",
            .status = "Failed - Input/output error", .sends = 0, .loseAtByte = 3});

        // Two resends a second after each (late) refusal, then the same TREP in second-generation
        // numbering at once, which gets its own two resends before it is skipped. The refused
        // download interface version costs no wait.
        row("sub-function refused, then second-generation numbering", {.command = "L\x05\x01\x03",
            .script = {{"3601", refused, 3, {}, {}, {}, 600},
                       {"3621", refused, 3, {}, {}, {}, 600}},
            .treps = "00 05 01 01 01 21 21 21 23", .seen = "Sub-function not supported",
            .seenTimes = 1, .pauses = {1000, 1000, 10, 1000, 1000, 10, 10, 10}});

        // The kind of a download, in its file name, comes from the first TREP that tells. The
        // progress bar steps every 8 sub-messages of detailed speed, every 4 of a card, every 16
        // of 0x19 and never within other TREPs; a TREP read whole has counted 46, 27, 160 or 1.
        const std::tuple<const char*, const char*, const char*> kinds[] = {
            {"L\x05\x01\x02", "^M_", nullptr}, {"L\x05\x01\x11", "^S_", nullptr},
            {"L\x05\x01\x15", "^S_", nullptr}, {"L\x05\x01\x16", "^U_", nullptr},
            {"L\x05\x01\x04", "^M_", "1:1 2:2 8:3 16:4 20:48/48"},
            {"L\x05\x01\x19", "^W_", "1:1 2:2 16:3 17:162/162"},
            {"L\x05\x01\x24", "^U_", "1:1 2:2 20:3/3"},
            // A card behind VU data starts a file of its own, named from its kind.
            {"L\x05\x01\x03\x06\x02", "^C_", "1:1 2:2 1:3 4:4 8:5 12:6 13:30 1:31/31"},
            {"C\x05\x01\x03\x06\x02", "^C_", "1:1 2:2 1:3 4:4 5:30 1:31/28"}}; // this maker: 0x17
        for (const auto& [command, kind, steps] : kinds)
            QTest::addRow("kind and progress %s", QByteArray(command).toHex().constData())
                << Case{.command = command, .name = kind, .steps = steps};

        // Six conditions-not-correct answers: restart, skip, restart, skip, restart, then the
        // session ends in order (or with Transfer Exit refused), saves and reports "Aborted":
        // the list was not finished, so the save writes no final status of its own. The start
        // and three restarts, the speed change once only.
        const QByteArray integrity = negative(0x36, 0x22),
                         restarts = "81 10 87 87 35 36 36 36 83 36 81 10 35 36 36 81 10 35 36 36 "
                                    "81 10 35 36 37";
        for (const bool refuseExit : {false, true})
            QTest::addRow(refuseExit ? "integrity errors, exit refused" : "integrity errors")
                << Case{.command = "A\x05\x01\x03\x03\x04", .script = {{"3603", integrity, 4},
                        {"3604", integrity, 2}, {"37", negative(0x37, 0x10), refuseExit}},
                        .treps = "00 05 01 03 03 03 03 04 04", .files = "01",
                        .seen = "Data Integrity Error - 2024-01-01\r\n",
                        .boxes = refuseExit ? QStringList{"Exit refused!"} : QStringList{},
                        .status = "Aborted", .seenTimes = 6,
                        .services = restarts + (refuseExit ? "" : " 82")};

        // The download interface version, asked once after Request Upload: version 2 or higher
        // brings the version 2 TREPs, any other answer or none leaves the numbering as it was.
        // Either way the question costs no pause, skip, restart or progress step: the same
        // days, seven back from the latest, that day included, and 57 steps expected, one for
        // each day, 46 for detailed speed. The technical data read first is saved last; the
        // interface version is not data.
        const QByteArray v2 = "35 31" + QByteArray(" 32").repeated(8) + " 24",
                         gen1 = "05 01" + QByteArray(" 02").repeated(8) + " 04";
        const char* none = "not given - first-generation TREPs";
        const std::tuple<QByteArray, QByteArray, const char*> versions[] = {
            {negative(0x36, 0x78) + responseFrame(spacedHex("76000202")), v2,
                "2.2 - version 2 TREPs"}, // after a pending answer
            {responseFrame(spacedHex("76000201")), gen1, "2.1 - first-generation TREPs"},
            {spacedHex("80F0EE0476000202FF"), gen1, none}, // a wrong checksum
            {QByteArray(), gen1, none}};
        for (const auto& [answer, asked, mode] : versions)
            QTest::addRow("interface version %s", answer.toHex().constData()) << Case{
                .command = "L\x05\x01\x02\x04\x05",
                .script = {{"3600", answer, answer.isEmpty() ? 3 : 1}},
                .treps = (answer.isEmpty() ? "00 00 00 " : "00 ") + asked,
                .files = asked.mid(3) + ' ' + asked.left(2), .progress = 56,
                .seen = "VU download interface version " + QString(mode) + "\r\n|0056/0057",
                .boxes = answer.endsWith('\xFF') ? QStringList{"lResult - 4096"} : QStringList{},
                .days = 7, .name = asked == v2 ? "_GEN2-REG-0013_" : "_AB-123-CD "};
        // clang-format on
    }
    void unusualAnswers() {
        QFETCH(Case, c);
        if (c.command[0] == 'C') unit_.blocks[5][95] = '\xA1'; // this maker reads cards with 0x17
        unit_.script = c.script;
        if (c.cablePulled == 1)
            unit_.onRequest = [this, pulledAt = c.script[0].service](const QByteArray& service) {
                if (service.toHex().startsWith(pulledAt)) link_->lose("Input/output error");
            };
        if (c.cablePulled == 2)
            setMessageBoxHandler([this](const QString& text, const QString&) {
                boxes_ << text;
                if (link_->isOpen()) link_->lose("Serial port disconnected");
            });
        if (c.quick)
            link_->answerAtOnce = [this](auto& sent) { return answer(serviceOf(sent)).join(); };
        link_->openFailure = c.openFailure;
        link_->loseAtByte = c.loseAtByte;
        start(c.command, c.days);
        run();
        if (!c.treps.isNull()) QCOMPARE(treps(), c.treps);
        if (!c.treps.isNull()) QCOMPARE(link_->openedAt, c.opens);
        if (!c.files.isNull()) QCOMPARE(filesAsBlocks(), c.files);
        if (c.progress >= 0) QCOMPARE(status_->blocksReceived, c.progress);
        for (const QString& seen : c.seen.split('|'))
            QVERIFY2(area().contains(seen) || statuses_.contains(seen), qPrintable(seen));
        if (c.seenTimes) QCOMPARE(area().count(c.seen.section('|', 0, 0)), c.seenTimes);
        if (c.days) QCOMPARE(daysAsked(), be32(kLatest - c.days * kDay) + be32(kLatest));
        QVERIFY2(savedFiles().value(0).contains(QRegularExpression(c.name)),
                 qPrintable(savedFiles().value(0)));
        if (!c.services.isNull()) QCOMPARE(treps(true), c.services);
        if (c.steps)
            QCOMPARE(steps_.join(' ') + '/' + QString::number(status_->blocksExpected), c.steps);
        QCOMPARE(boxes_, c.boxes);
        QCOMPARE(statuses_.last(), QString(c.status));
        QCOMPARE(link_->requests.count(link_->requests.value(link_->requests.size() - 1)), c.sends);
        QVERIFY(session().state() == Session::State::Idle && !link_->isOpen() && ended_);
        // Whatever the answer, the pause before the next request (a resend, a restart) holds.
        const QList<qint64> ms = pauses();
        QCOMPARE(ms.isEmpty() ? -1 : std::ranges::min(ms), link_->receivedAtMs.isEmpty() ? -1 : 10);
        if (!c.pauses.isEmpty()) QCOMPARE(ms.mid(ms.size() - c.pauses.size()), c.pauses);
    }

    // Days in sub-messages, each day's data its own. A copy of one day's last part that comes
    // just before the next day's own is taken for it (number and TREP fit, and the part holds
    // no day); the day's own part, coming after, gives the copy away, and the download fails
    // rather than keep the wrong day. Without the copy the same unit gives the whole file.
    void staleLastPartOfTheDayBefore() {
        for (const bool stale : {false, true}) {
            init();
            QByteArray lastPart;
            unit_.onRequest = [&](const QByteArray& service) {
                if (service.size() == 6) unit_.blocks[2] = QByteArray(300, service[4]);
                if (service != spacedHex("83760002")) return;
                if (stale && !lastPart.isEmpty())
                    unit_.script = {{"83760002", unit_.parts[1], 1, {}, lastPart}};
                lastPart = unit_.parts[1];
            };
            start("A\x05\x01\x02");
            run();
            QCOMPARE(unit_.dayRequests.size(), stale ? 3 : 28);
            QCOMPARE(statuses_.last(), stale ? "Failed - two answers to one request" : "Complete");
            QCOMPARE(area().contains("Two different answers to one request"), stale);
            QCOMPARE(savedFiles().size(), stale ? 0 : 1);
        }
    }

    // A unit that keeps its answer pending is given a minute in all for each request, however
    // often it says so and whether or not it falls silent in between (then every copy of the
    // request counts): enough for a unit that reads a whole card before its first answer.
    // Then the session ends as when no answer comes. Meanwhile the session sends nothing and
    // waits longer: five receive time-outs, at least 5.5 s, for the first answer of a card 32 s.
    void responsePendingHasAnEnd() {
        // The command, the requests kept pending (hex), the pending answers before each real
        // one (-1: for ever), their interval, whether the unit gives one a copy and then falls
        // silent, the receive time-out and the wait while pending, the final status.
        const QString failed = "Failed - Receive timeout";
        const std::tuple<const char*, const char*, int, int, bool, int, int, QString> rows[] = {
            // clang-format off
            {"C\x05\x06", "3606", -1, 1000, false, 1160, 32000, failed},          // never answered
            {"C\x05\x06", "3606", 59, 1000, false, 1160, 32000, "Complete"},      // after 59 s
            {"C\x05\x17", "3617", 1, 1000, false, 1160, 32000, "Complete"},       // a maker's card
            {"L\x05\x03\x04", "360", 45, 1000, false, 500000000, INT_MAX, "Complete"}, // each 45 s
            {"L\x05\x03", "3603", -1, 5800, true, 1000, 5500, failed},            // copies resent
            {"L\x05\x02", "3602", 1, 1000, false, 1101, 5505, "Complete"}};
        // clang-format on
        for (const auto& [command, service, pendings, everyMs, silentBetween, rxTimeout, waitMs,
                          status] : rows) {
            init();
            DownloadSettings::rxTimeout = rxTimeout;
            start(command);
            int owed = 0, waitedFirst = -1; // pending answers still to come before the real one
            QByteArray pendingFor;          // the request kept pending
            qint64 firstPendingMs = -1;
            for (int n = 0; n < 1000 && session().state() != Session::State::Idle; ++n) {
                const QByteArray request = serviceOf(link_->takeRequest());
                if (request.toHex().startsWith(service) && (owed == 0 || silentBetween)) {
                    owed = pendings < 0 ? INT_MAX : pendings;
                    pendingFor = request;
                    if (firstPendingMs < 0) firstPendingMs = link_->clockMs;
                }
                if (owed > 0 && (!request.isEmpty() || !silentBetween)) {
                    if (request.isEmpty()) link_->clockMs += everyMs;
                    --owed;
                    link_->receive(negative(0x36, 0x78));
                    if (waitedFirst < 0 && link_->takeRequest().isEmpty())
                        waitedFirst = session().receiveTimer().interval();
                } else if (!request.isEmpty()) {
                    reply(request);
                } else if (!pendingFor.isEmpty() && owed == 0) {
                    link_->clockMs += everyMs;
                    reply(std::exchange(pendingFor, {}));
                } else if (session().receiveTimer().isActive()) {
                    link_->clockMs += session().receiveTimer().interval();
                    session().onReceiveTimeout();
                }
            }
            QCOMPARE(waitedFirst, waitMs);
            QCOMPARE(statuses_.last(), status);
            if (status == "Complete") continue;
            const qint64 waitedMs = link_->clockMs - firstPendingMs;
            QVERIFY2(waitedMs >= 60000 && waitedMs <= 60000 + everyMs,
                     qPrintable(QStringLiteral("ended after %1 ms").arg(waitedMs)));
            QVERIFY(area().contains("Response pending too long") && ended_ && !link_->isOpen() &&
                    !session().receiveTimer().isActive());
        }
    }

    // A VU file, then a card's. The name: the overview's with its prefix, or the card's;
    // "saved.ddd" without one. A name taken by a file or a folder goes to the next free number,
    // and nothing existing is touched; a file without data is not written, but where it would
    // have gone is logged. A folder that is missing is made; where it cannot be (a file is in
    // its way), the file goes to the data folder, or, when that is blocked too, nowhere. A
    // download without data, or with a file that went nowhere, has failed, even with the card's
    // saved after it.
    void saves() {
        const QByteArray vu = QByteArray::fromHex("7601") + everyByte(3), card = "card data";
        const QString n = "20261205_0907_AB123CD      _WDB9066351S123456", m = "vu/M_" + n,
                      error = "no. " + QString::number(ENOTDIR) + " - " + std::strerror(ENOTDIR),
                      blocked = "@/blocked/vu/M_N.DDD|File error " + error +
                                "|VU Path/File Name - \"@/blocked/vu/M_N.DDD\"|File save error - " +
                                error + "|VU Path/File Name - @/";
        // The VU folder ("blocked", "blocked/": the data folder too), the name style, the VU
        // file's name, what is in the folder already ("/": a folder), the VU file's data, the
        // card's data, where the VU file is logged, where it is (nothing: nowhere), the final
        // status.
        // clang-format off
        const std::tuple<QString, QString, QString, QStringList, QByteArray, QByteArray, QString,
                         QString, QString> rows[] = {
            {"vu/", "EU", n + ".DDD", {"M_" + n + ".DDD", "M_" + n + "_1.DDD/", "M_" + n +
             "_2.DDD"}, vu, {}, "@/" + m + "_3.DDD|File saved", m + "_3.DDD", "Complete"},
            {"vu/", "EU", "", {}, vu, {}, "@/vu/saved.ddd|File saved", "vu/saved.ddd", "Complete"},
            {"vu/", " ", "saved.ddd", {"saved.ddd", "saved_1.ddd"}, vu, {},
             "@/vu/saved_2.ddd|File saved", "vu/saved_2.ddd", "Complete"},
            {"vu/", "EU", n + ".DDD", {"saved.ddd"}, {}, {}, "@/vu/saved_1.ddd", "", "Failed"},
            {"vu/", "EU", n + ".DDD", {}, {}, card, "@/vu/saved.ddd", "", "Complete"},
            {"vu/new/deeper/", "EU", "N.DDD", {}, "data", {}, "@/vu/new/deeper/M_N.DDD|File saved",
             "vu/new/deeper/M_N.DDD", "Complete"},
            {"blocked", "EU", "N.DDD", {}, "data", card, blocked +
             "xdg/Fenwright/Vantrel PC/M_N.DDD|File saved", "xdg/Fenwright/Vantrel PC/M_N.DDD",
             "Complete"},
            {"blocked/", "EU", "N.DDD", {}, "data", card, blocked + "blocked/Fenwright/Vantrel PC/"
             "M_N.DDD|File save error - " + error + "|File not saved - the downloaded data is lost",
             "", "Failed - file not saved"}};
        // clang-format on
        for (const auto& [folder, style, name, old, data, toCard, logged, savedAt, status] : rows) {
            init();
            DownloadSettings::cardDataPath = path("card/");
            // A file where the VU folder (and perhaps the data folder) should be.
            const bool blocked = folder.startsWith("blocked");
            DownloadSettings::vuDataPath = path(blocked ? "blocked/vu/" : folder);
            if (blocked) QVERIFY(writeFile(path("blocked"), "old"));
            if (folder == "blocked/") qputenv("XDG_DATA_HOME", path("blocked").toUtf8());
            for (const QString& file : old)
                QVERIFY(file.endsWith('/') ? QDir().mkpath(path("vu/" + file))
                                           : writeFile(path("vu/" + file), "old"));
            DownloadSettings::fileNameStyle = style;
            files_->save(false, name, "M", data);
            files_->save(true, n, "M", toCard); // named from its data
            QString log = "VU Path/File Name - " + logged +
                          "|Card Path/File Name - @/card/saved.ddd|" +
                          (toCard.isEmpty() ? "" : "File saved|");
            QCOMPARE(log_->area(), log.replace('@', dir_->path()).replace('|', "\r\n"));
            QCOMPARE(readWhole(path(savedAt), kNoFile), savedAt.isEmpty() ? kNoFile : data);
            QCOMPARE(readWhole(path("card/saved.ddd"), kNoFile),
                     toCard.isEmpty() ? kNoFile : toCard);
            QCOMPARE(files(folder).size() + files("card").size(),
                     old.filter(QRegularExpression("[^/]$")).size() + savedAt.startsWith(folder) +
                         !toCard.isEmpty());
            for (const QString& file : old)
                if (!file.endsWith('/')) QCOMPARE(readWhole(path("vu/" + file)), QByteArray("old"));
            QCOMPARE(files_->finalStatus(), status);
        }
    }

    // Each way of naming the written file, as the first one tried (a file system without
    // hard links starts at the rename; one that cannot rename without replacing, at the
    // exclusive create): a free name gets the data, a taken one (a file, a dangling link, a
    // folder) is left as it was; nothing else stays in the folder.
    void namingWays() {
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        for (const auto naming : {Naming::HardLink, Naming::RenameNoReplace, Naming::CreateInPlace})
            for (const QString taken : {"", "file", "link", "folder"}) {
                init();
                const QString name = path("vu/M_N.DDD");
                if (taken == "file") QVERIFY(writeFile(name, "old"));
                if (taken == "link") QVERIFY(QFile::link(path("vu/gone"), name));
                if (taken == "folder") QVERIFY(QDir().mkpath(name));
                QCOMPARE(writeNewFile(name, everyByte(3), naming), taken.isEmpty() ? 0 : EEXIST);
                QCOMPARE(QFileInfo(name).isDir(), taken == "folder");
                const QByteArray old = taken == "file" ? "old" : kNoFile;
                QCOMPARE(readWhole(name, kNoFile), taken.isEmpty() ? everyByte(3) : old);
                // The dangling link's target is not made either.
                QCOMPARE(QDir(path("vu")).entryList(all), QStringList{"M_N.DDD"});
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
                ::setrlimit(RLIMIT_CORE, &noCore), ::setrlimit(RLIMIT_FSIZE, &fileSize);
                ::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
                ::_exit(writeNewFile(path("vu/M_N.DDD"), everyByte(64)));
            }
            int result = 0;
            QCOMPARE(::waitpid(child, &result, 0), child);
            QVERIFY(killed ? WIFSIGNALED(result) && WTERMSIG(result) == SIGXFSZ
                           : WIFEXITED(result) && WEXITSTATUS(result) == EFBIG);
            QCOMPARE(killed ? QDir(path("vu")).entryList(QDir::Files) : files("vu"), QStringList());
            if (killed) QDir(path("vu")).removeRecursively(); // what the crash left
            QVERIFY(QDir().mkpath(path("vu")));
        }
    }

    // Text lines end in CR LF, dumps are upper-case hex with a space after each byte; the
    // file follows the area, is made again when deleted, and stays empty with logging off.
    // The area keeps the newest 32000 characters, the file everything.
    void logAndStatusFiles() {
        log_->line("");
        log_->hex(QByteArray("\x00\x0a\xff", 3));
        log_->hex("\x80");
        log_->line(" - tail");
        log_->hex(QByteArray());
        QCOMPARE(log_->area(), QString("\r\n00 0A FF 80  - tail\r\n"));
        QVERIFY(QFile::remove(path("VNPC.log")));
        log_->line(QString(31998, 'a'));
        QCOMPARE(readWhole(path("VNPC.log")), QByteArray(31998, 'a') + "\r\n");
        QCOMPARE(log_->area(), QString(31998, 'a') + "\r\n"); // 23 characters dropped
        log_->line(QString(40000, 'b'));
        QCOMPARE(log_->area(), QString(31998, 'b') + "\r\n");
        QCOMPARE(readWhole(path("VNPC.log")).size(), 32000 + 40002);
        QVERIFY(log_->createEmpty());
        log_->setLoggingOn(false);
        log_->line("line");
        status_->writeStatus("Failed");
        QCOMPARE(readWhole(path("VNPC.log"), kNoFile), QByteArray());
        QCOMPARE(status(), QByteArray("Failed\r\n"));
        // An empty status text is the progress line (the total 28 until one is set); any
        // other text is written as it is and logged. Status texts never reach the area.
        init();
        status_->blocksReceived = 12345;
        status_->writeStatus(QString());
        QCOMPARE(status() + status_->caption().toUtf8(), "12345/0028\r\n12345/0028");
        status_->writeStatus("Failed - Receive timeout");
        QCOMPARE(status() + readWhole(path("VNPC.log")),
                 QByteArray("Failed - Receive timeout\r\n").repeated(2));
        QVERIFY(log_->area().isEmpty() && boxes_.isEmpty());
        status_->setFilePath(path("missing-folder/VNPCstatus.txt"));
        status_->writeStatus("Failed");
        QCOMPARE(boxes_, QStringList{"Disk not available to write status"});
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
