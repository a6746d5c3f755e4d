#include "Framing.h"

#include "Conversions.h"

#include <initializer_list>
#include <optional>

namespace {

// Header of a request with a length byte; Start Communication alone carries its length in
// the format byte.
QByteArray Request(std::initializer_list<quint8> body) {
    QByteArray bytes;
    bytes.append(kFormatByte).append(kVuAddress).append(kTesterAddress);
    bytes.append(static_cast<char>(body.size()));
    for (quint8 b : body)
        bytes.append(static_cast<char>(b));
    return bytes;
}

quint8 ByteAt(const QByteArray& bytes, qsizetype i) {
    return static_cast<quint8>(bytes.at(i));
}

struct ByteId {
    quint8 byte;
    qint32 id;
};

constexpr ByteId kPositiveSids[] = {
    {0xC1, MessageId::StartCommunication}, {0x50, MessageId::StartDiagnosticSession},
    {0xC7, MessageId::LinkControl},        {0x75, MessageId::RequestUpload},
    {0x76, MessageId::TransferData},       {0x77, MessageId::TransferExit},
    {0xC2, MessageId::StopCommunication},  {0x85, MessageId::Sid85}};

// Response codes of a negative response (SID 0x7F).
constexpr ByteId kResponseCodes[] = {
    {0x10, MessageId::GeneralReject},           {0x11, MessageId::ServiceNotSupported},
    {0x12, MessageId::SubFunctionNotSupported}, {0x13, MessageId::IncorrectMessageLength},
    {0x22, MessageId::ConditionsNotCorrect},    {0x31, MessageId::RequestOutOfRange},
    {0x50, MessageId::UploadNotAccepted},       {0x78, MessageId::ResponsePending},
    {0xFA, MessageId::DataNotAvailable}};

template <size_t N> qint32 IdOf(const ByteId (&table)[N], quint8 byte, qint32 otherwise) {
    for (const ByteId& entry : table)
        if (entry.byte == byte) return entry.id;
    return otherwise;
}

} // namespace

quint8 Checksum(const QByteArray& bytes) {
    quint8 sum = 0;
    for (char b : bytes)
        sum += static_cast<quint8>(b);
    return sum;
}

QByteArray WithChecksum(const QByteArray& bytes) {
    return bytes + static_cast<char>(Checksum(bytes));
}

QByteArray StartCommunication() {
    return QByteArray("\x81\xEE\xF0\x81", 4);
}
QByteArray StartDiagnosticSession() {
    return Request({0x10, 0x81});
}
QByteArray VerifyBaudRate(quint8 code) {
    return Request({0x87, 0x01, 0x01, code});
}
QByteArray TransitionBaudRate() {
    return Request({0x87, 0x02, 0x03});
}
QByteArray RequestUpload() {
    return Request({0x35, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
}

QByteArray TransferData(const QByteArray& prefix, quint8 trep) {
    return prefix + static_cast<char>(trep);
}

QByteArray TransferDataDated(quint8 trep, qint32 daySeconds) {
    return TransferData(TransferPrefixDated, trep) + SecondsToBytes(daySeconds);
}

QByteArray TransferExit() {
    return Request({0x37});
}
QByteArray StopCommunication() {
    return Request({0x82});
}
QByteArray AcknowledgeSubMessage(quint16 counter) {
    return Request({0x83, 0x76, static_cast<quint8>(counter >> 8), static_cast<quint8>(counter)});
}

qint32 lCheckMessage(const QByteArray& sMessage) {
    // Byte i (from 0) is a field only when it lies in front of the checksum.
    const auto holds = [&](qsizetype i) { return sMessage.size() > i + 1; };
    if (sMessage.isEmpty() ||
        Checksum(sMessage.chopped(1)) != ByteAt(sMessage, sMessage.size() - 1))
        return MessageId::ChecksumWrong;
    if (!holds(2) || !sMessage.startsWith(kResponseHeader)) return MessageId::HeaderWrong;
    if (!holds(4)) return MessageId::OtherSid;
    const quint8 sid = ByteAt(sMessage, 4);
    if (sid != 0x7F) return IdOf(kPositiveSids, sid, MessageId::OtherSid);
    if (!holds(6)) return MessageId::OtherResponseCode;
    return IdOf(kResponseCodes, ByteAt(sMessage, 6), MessageId::OtherResponseCode);
}

namespace {

constexpr quint8 kNegativeSid = 0x7F;
constexpr quint8 kTransferDataSid = 0x36;
constexpr quint8 kAcknowledgeSid = 0x83;
constexpr quint8 kFirstGenActivities = 0x02;
constexpr int kSubMessageLength = 255;
constexpr qint64 kDaySeconds = 86400;

// Fields of a message in front of its checksum, or nothing where it does not hold them.
std::optional<quint8> FieldByte(const QByteArray& message, qsizetype at) {
    if (at < 0 || at + 1 >= message.size()) return std::nullopt;
    return ByteAt(message, at);
}
std::optional<quint64> FieldNumber(const QByteArray& message, qsizetype at, int size) {
    quint64 value = 0;
    for (int i = 0; i < size; ++i) {
        const std::optional<quint8> byte = FieldByte(message, at + i);
        if (!byte) return std::nullopt;
        value = value << 8 | *byte;
    }
    return value;
}

// The day an activities answer holds, its data starting at dataAt: a first-generation block
// starts with it, a later one with an array of one 4-byte record that holds it (its record
// type is not looked at: units differ in it).
std::optional<quint64> ActivitiesDay(const QByteArray& response, qsizetype dataAt, quint8 trep) {
    if (trep == kFirstGenActivities) return FieldNumber(response, dataAt, 4);
    if (FieldNumber(response, dataAt + 1, 4) != 0x00040001u) return std::nullopt;
    return FieldNumber(response, dataAt + 5, 4);
}

// request: as sent, with its checksum.
bool AnswersTransferData(const QByteArray& response, const QByteArray& request) {
    const std::optional<quint8> trep = FieldByte(request, 5);
    if (!trep || FieldByte(response, 5) != trep) return false;
    qsizetype dataAt = 6;
    if (FieldByte(response, 3) == kSubMessageLength) {
        if (FieldNumber(response, 6, 2) != 1u) return false;
        dataAt = 8;
    }
    const std::optional<quint64> asked = FieldNumber(request, 6, 4);
    if (!asked) return true; // not an activities request
    const std::optional<quint64> day = ActivitiesDay(response, dataAt, *trep);
    return day && *day / kDaySeconds == *asked / kDaySeconds;
}

} // namespace

bool AnswersRequest(const QByteArray& response, const QByteArray& request, quint8 trepBeingRead) {
    const QByteArray sent = WithChecksum(request);
    const std::optional<quint8> sid = FieldByte(sent, sent.startsWith(char(0x81)) ? 3 : 4);
    const std::optional<quint8> answer = FieldByte(response, 4);
    if (!sid || !answer) return false;
    // A refusal of a sub-message may name the Transfer Data service it belongs to.
    if (*answer == kNegativeSid)
        return FieldByte(response, 5) == sid ||
               (*sid == kAcknowledgeSid && FieldByte(response, 5) == kTransferDataSid);
    if (*sid == kAcknowledgeSid)
        return *answer == kTransferDataSid + 0x40 && FieldByte(response, 5) == trepBeingRead &&
               FieldNumber(response, 6, 2) == FieldNumber(sent, 6, 2);
    if (*answer != quint8(*sid + 0x40)) return false;
    return *sid != kTransferDataSid || AnswersTransferData(response, sent);
}

QList<QByteArray> FrameAssembler::feed(const QByteArray& piece) {
    QList<QByteArray> frames;
    for (char b : piece) {
        if (rxBuffer_.isEmpty() && b != kFormatByte) continue; // noise before a start byte
        rxBuffer_.append(b);
        if (rxBuffer_.size() > 3) expectedLength_ = ByteAt(rxBuffer_, 3) + 5;
        if (rxBuffer_.size() == expectedLength_) {
            frames.append(rxBuffer_);
            rxBuffer_.clear();
        }
    }
    return frames;
}
