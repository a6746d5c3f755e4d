// The whole receive path of a session in the middle of its TREP data: a session put into
// state 6 or 9 with counters taken from the input, then fed pieces of bytes (raw, or
// completed into responses with a right length byte and checksum, so that the fuzzer gets
// past the checksum easily: negative responses, the answers of other states, Transfer Data
// with sub-message counters). Whatever the unit sends, the engine must not crash.

#include "CommandLine.h"
#include "Conversions.h"
#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "NationCodes.h"
#include "Session.h"
#include "StatusFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>

namespace {

// A port that takes every byte and never answers: the input is the only answer.
class NullLink : public SerialLink {
public:
    std::optional<Error> open(int) override {
        open_ = true;
        return std::nullopt;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void writeByte(char) override {}
    void drain() override {}
    void pause(std::chrono::milliseconds) override {}
    std::optional<bool> dataTerminalReady() const override { return std::nullopt; }
    std::optional<bool> requestToSend() const override { return std::nullopt; }

private:
    bool open_ = true;
};

constexpr int kMaxPieces = 48;
const QString kStyles[] = {"EU", "FR", "ES", "LD", "none"};
const char kKinds[] = {'A', 'L', 'C', 'Z'};

QTemporaryDir* folder = nullptr;

QString Path(const QString& name) {
    return folder->filePath(name);
}

void Check(bool condition) {
    if (!condition) std::abort();
}

void ChooseSettings(FuzzedDataProvider& input) {
    DownloadSettings::FileNameStyle = input.PickValueInArray(kStyles);
    DownloadSettings::DownloadType = QChar(input.PickValueInArray(kKinds));
    DownloadSettings::CloseDiagnosticsWindow = input.ConsumeBool();
    DownloadSettings::RXTIMEOUT = input.ConsumeIntegralInRange(0, 3000);
}

void ChooseSession(FuzzedDataProvider& input, Session& session) {
    session.trepSequence.fill(kTrepEnd);
    const int listed = input.ConsumeIntegralInRange(0, kTrepSequenceSize - 1);
    for (int i = 0; i < listed; ++i)
        session.trepSequence[i] = input.ConsumeIntegral<quint8>();
    session.SessionDays = input.ConsumeIntegralInRange(0, 400);
    session.SessionState = input.ConsumeBool() ? 6 : 9;
    session.SubMessageCounter = input.ConsumeIntegralInRange(1, 0x10000);
    session.TrepIndex = input.ConsumeIntegralInRange<qint16>(0, kTrepSequenceSize - 1);
    session.Numbering = TrepNumbering(input.ConsumeIntegralInRange(0, 2));
    session.CurrentTrep = input.ConsumeIntegral<quint8>();
    session.BaseTrep = EntryOf(session.CurrentTrep, session.Numbering);
    session.ActivityDay = input.ConsumeIntegral<qint32>();
    session.OldestDate = input.ConsumeIntegral<qint32>();
    session.LatestDate = input.ConsumeIntegral<qint32>();
    session.VuMakerCode = input.ConsumeBool() ? 0xA1 : input.ConsumeIntegral<quint8>();
    session.IntegrityErrors = input.ConsumeIntegralInRange<qint16>(0, 6);
    session.SubFunctionRetries = input.ConsumeIntegralInRange<qint16>(0, 2);
    session.Trep5Data = QByteArray(input.ConsumeIntegralInRange(0, 300), '\x55');
    session.SessionStart = QDateTime::currentDateTime();
}

// A response of the unit around the body: header, length byte, checksum.
QByteArray AsResponse(QByteArray body) {
    body.truncate(255);
    QByteArray message("\x80\xF0\xEE", 3);
    message += char(body.size());
    message += body;
    return WithChecksum(message);
}

QByteArray Bytes(FuzzedDataProvider& input, size_t count) {
    const std::string bytes = input.ConsumeBytesAsString(count);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// Transfer Data: 0x76, the TREP, then (in sub-messages) the counter and the data. A body of
// 255 bytes is a sub-message that more parts follow.
QByteArray TransferDataBody(FuzzedDataProvider& input) {
    const int size = input.ConsumeBool() ? 255 : input.ConsumeIntegralInRange(2, 254);
    QByteArray body = QByteArray("\x76") + char(input.ConsumeIntegral<quint8>());
    body += Bytes(input, size_t(size - 2));
    if (body.size() < size)
        body += QByteArray(size - body.size(), char(input.ConsumeIntegral<quint8>()));
    return body;
}

QByteArray NegativeBody(FuzzedDataProvider& input) {
    static const quint8 kCodes[] = {0x10, 0x11, 0x12, 0x13, 0x22, 0x31, 0x50, 0x78, 0xFA, 0x00};
    static const quint8 kSids[] = {0x36, 0x83, 0x37, 0x82, 0x81, 0x10, 0x87, 0x35};
    QByteArray body("\x7F");
    body += char(input.PickValueInArray(kSids));
    body += char(input.PickValueInArray(kCodes));
    return body;
}

// The positive answers of the other states, for sessions that restart or end.
QByteArray OtherAnswerBody(FuzzedDataProvider& input) {
    static const char* const kAnswers[] = {"\x77",     "\xC2",         "\xC1\xEA\x8F", "\x50\x81",
                                           "\xC7\x01", "\x75\x00\xFF", "\x85"};
    return QByteArray(input.PickValueInArray(kAnswers));
}

// One piece as the port delivers it. Most are whole responses, so that the fuzzer spends its
// time in the state machine rather than on checksums.
QByteArray NextPiece(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
        return Bytes(input, input.ConsumeIntegralInRange<size_t>(0, 300));
    case 1:
        return AsResponse(Bytes(input, input.ConsumeIntegralInRange<size_t>(0, 255)));
    case 2:
        return AsResponse(NegativeBody(input));
    case 3:
        return AsResponse(OtherAnswerBody(input));
    default:
        return AsResponse(TransferDataBody(input));
    }
}

void RemoveSavedFiles() {
    for (const QString& name : {"vu", "card", "data"})
        QDir(Path(name)).removeRecursively();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QTemporaryDir temporary(QStringLiteral("/dev/shm/vantrel-fuzz-XXXXXX"));
    folder = &temporary;
    // Nothing the session saves may reach the user's own folders.
    qputenv("HOME", Path("home").toUtf8());
    qputenv("XDG_DATA_HOME", Path("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", Path("config").toUtf8());
    static QCoreApplication application(*argc, *argv);
    SetDateLimits();
    FillNationAlpha();
    SetMessageBoxHandler([](const QString&, const QString&) {});
    DownloadSettings::VUDataPath = Path("vu") + '/';
    DownloadSettings::CardDataPath = Path("card") + '/';
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ChooseSettings(input);
    MessageLog log; // no file: the message area only
    StatusFile status(log);
    status.setFilePath(Path("VNPCstatus.txt"));
    NullLink link;
    auto session = std::make_unique<Session>(log, status, link);
    ChooseSession(input, *session);

    for (int piece = 0; piece < kMaxPieces && input.remaining_bytes() > 0; ++piece) {
        session->Comm1_OnComm(NextPiece(input));
        Check(session->SessionState >= 0 &&
              session->SessionState <= Session::kInterfaceVersionState);
        Check(session->TrepIndex >= 0);
    }
    session.reset();
    RemoveSavedFiles();
    return 0;
}
