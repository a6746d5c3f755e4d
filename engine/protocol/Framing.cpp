#include "Framing.h"

#include "Conversions.h"

#include <initializer_list>
#include <optional>

namespace {

// Header of a request with a length byte; Start Communication alone carries its length in
// the format byte.
QByteArray requestFrame(std::initializer_list<quint8> body) {
    QByteArray bytes;
    bytes.append(kFormatByte).append(kVuAddress).append(kTesterAddress);
    bytes.append(static_cast<char>(body.size()));
    for (quint8 b : body)
        bytes.append(static_cast<char>(b));
    return bytes;
}

quint8 byteAt(const QByteArray& bytes, qsizetype i) {
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

template <size_t N> qint32 idOf(const ByteId (&table)[N], quint8 byte, qint32 otherwise) {
    for (const ByteId& entry : table)
        if (entry.byte == byte) return entry.id;
    return otherwise;
}

} // namespace

quint8 checksum(const QByteArray& bytes) {
    quint8 sum = 0;
    for (char b : bytes)
        sum += static_cast<quint8>(b);
    return sum;
}

QByteArray withChecksum(const QByteArray& bytes) {
    return bytes + static_cast<char>(checksum(bytes));
}

QByteArray startCommunication() {
    return QByteArray("\x81\xEE\xF0\x81", 4);
}
QByteArray startDiagnosticSession() {
    return requestFrame({0x10, 0x81});
}
QByteArray verifyBaudRate(quint8 code) {
    return requestFrame({0x87, 0x01, 0x01, code});
}
QByteArray transitionBaudRate() {
    return requestFrame({0x87, 0x02, 0x03});
}
QByteArray requestUpload() {
    return requestFrame({0x35, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF});
}

QByteArray transferData(const QByteArray& prefix, quint8 trep) {
    return prefix + static_cast<char>(trep);
}

QByteArray transferDataDated(quint8 trep, qint32 daySeconds) {
    return transferData(transferPrefixDated, trep) + secondsToBytes(daySeconds);
}

QByteArray transferExit() {
    return requestFrame({0x37});
}
QByteArray stopCommunication() {
    return requestFrame({0x82});
}
QByteArray acknowledgeSubMessage(quint16 counter) {
    return requestFrame(
        {0x83, 0x76, static_cast<quint8>(counter >> 8), static_cast<quint8>(counter)});
}

qint32 messageIdOf(const QByteArray& message) {
    // Byte i (from 0) is a field only when it lies in front of the checksum.
    const auto holds = [&](qsizetype i) { return message.size() > i + 1; };
    if (message.isEmpty() || checksum(message.chopped(1)) != byteAt(message, message.size() - 1))
        return MessageId::ChecksumWrong;
    if (!holds(2) || !message.startsWith(kResponseHeader)) return MessageId::HeaderWrong;
    if (!holds(4)) return MessageId::OtherSid;
    const quint8 sid = byteAt(message, 4);
    if (sid != 0x7F) return idOf(kPositiveSids, sid, MessageId::OtherSid);
    if (!holds(6)) return MessageId::OtherResponseCode;
    return idOf(kResponseCodes, byteAt(message, 6), MessageId::OtherResponseCode);
}

namespace {

constexpr quint8 kNegativeSid = 0x7F;
constexpr quint8 kTransferDataSid = 0x36;
constexpr quint8 kAcknowledgeSid = 0x83;
constexpr quint8 kFirstGenActivities = 0x02;
constexpr int kSubMessageLength = 255;
constexpr qint64 kDaySeconds = 86400;

// Fields of a message in front of its checksum, or nothing where it does not hold them.
std::optional<quint8> fieldByte(const QByteArray& message, qsizetype at) {
    if (at < 0 || at + 1 >= message.size()) return std::nullopt;
    return byteAt(message, at);
}
std::optional<quint64> fieldNumber(const QByteArray& message, qsizetype at, int size) {
    quint64 value = 0;
    for (int i = 0; i < size; ++i) {
        const std::optional<quint8> byte = fieldByte(message, at + i);
        if (!byte) return std::nullopt;
        value = value << 8 | *byte;
    }
    return value;
}

// The day an activities answer holds, its data starting at dataAt: a first-generation block
// starts with it, a later one with an array of one 4-byte record that holds it (its record
// type is not looked at: units differ in it).
std::optional<quint64> activitiesDay(const QByteArray& response, qsizetype dataAt, quint8 trep) {
    if (trep == kFirstGenActivities) return fieldNumber(response, dataAt, 4);
    if (fieldNumber(response, dataAt + 1, 4) != 0x00040001u) return std::nullopt;
    return fieldNumber(response, dataAt + 5, 4);
}

// request: as sent, with its checksum.
bool answersTransferData(const QByteArray& response, const QByteArray& request) {
    const std::optional<quint8> trep = fieldByte(request, 5);
    if (!trep || fieldByte(response, 5) != trep) return false;
    qsizetype dataAt = 6;
    if (fieldByte(response, 3) == kSubMessageLength) {
        if (fieldNumber(response, 6, 2) != 1u) return false;
        dataAt = 8;
    }
    const std::optional<quint64> asked = fieldNumber(request, 6, 4);
    if (!asked) return true; // not an activities request
    const std::optional<quint64> day = activitiesDay(response, dataAt, *trep);
    return day && *day / kDaySeconds == *asked / kDaySeconds;
}

} // namespace

bool answersRequest(const QByteArray& response, const QByteArray& request, quint8 trepBeingRead) {
    const QByteArray sent = withChecksum(request);
    const std::optional<quint8> sid = fieldByte(sent, sent.startsWith(char(0x81)) ? 3 : 4);
    const std::optional<quint8> answer = fieldByte(response, 4);
    if (!sid || !answer) return false;
    // A refusal of a sub-message may name the Transfer Data service it belongs to.
    if (*answer == kNegativeSid)
        return fieldByte(response, 5) == sid ||
               (*sid == kAcknowledgeSid && fieldByte(response, 5) == kTransferDataSid);
    if (*sid == kAcknowledgeSid)
        return *answer == kTransferDataSid + 0x40 && fieldByte(response, 5) == trepBeingRead &&
               fieldNumber(response, 6, 2) == fieldNumber(sent, 6, 2);
    if (*answer != quint8(*sid + 0x40)) return false;
    return *sid != kTransferDataSid || answersTransferData(response, sent);
}

QList<QByteArray> FrameAssembler::feed(const QByteArray& piece) {
    QList<QByteArray> frames;
    for (char b : piece) {
        if (rxBuffer_.isEmpty() && b != kFormatByte) continue; // noise before a start byte
        rxBuffer_.append(b);
        if (rxBuffer_.size() > 3) expectedLength_ = byteAt(rxBuffer_, 3) + 5;
        if (rxBuffer_.size() == expectedLength_) {
            frames.append(rxBuffer_);
            rxBuffer_.clear();
        }
    }
    return frames;
}
