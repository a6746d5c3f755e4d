#pragma once

#include <QByteArray>
#include <QList>

// Messages between the engine (tester, 0xF0) and the vehicle unit (0xEE), framed as in
// ISO 14230: format byte, target, source, length, service id, data, checksum. The length
// byte counts the service id and data; a response is therefore length + 5 bytes long.

constexpr char kFormatByte = '\x80';
constexpr char kVuAddress = '\xEE';
constexpr char kTesterAddress = '\xF0';
// Every response begins with these: format, target (the engine), source (the unit).
inline const QByteArray kResponseHeader("\x80\xF0\xEE", 3);

// Sum of all bytes, modulo 256.
quint8 checksum(const QByteArray& bytes);
QByteArray withChecksum(const QByteArray& bytes);

// Requests, without their checksum (it is sent last, after the pause of the last byte).
QByteArray startCommunication();
QByteArray startDiagnosticSession();
// code: 1 = 9600, 2 = 19200, 3 = 38400, 4 = 57600, 5 = 115200 baud.
QByteArray verifyBaudRate(quint8 code);
QByteArray transitionBaudRate();
QByteArray requestUpload();
// The first five bytes of the two Transfer Data forms; the TREP byte follows.
inline const QByteArray transferPrefixDated("\x80\xEE\xF0\x06\x36", 5);
inline const QByteArray transferPrefix("\x80\xEE\xF0\x02\x36", 5);
QByteArray transferData(const QByteArray& prefix, quint8 trep);
inline QByteArray transferData(quint8 trep) {
    return transferData(transferPrefix, trep);
}
// The activities form: the day to send, as its second count.
QByteArray transferDataDated(quint8 trep, qint32 daySeconds);
QByteArray transferExit();
QByteArray stopCommunication();
QByteArray acknowledgeSubMessage(quint16 counter);

// What messageIdOf makes of a response. Ids up to LastProtocolAnswer are answers of the
// protocol; every higher id is a message the engine cannot use.
namespace MessageId {
enum : qint32 {
    StartCommunication = 1,
    StartDiagnosticSession = 2,
    LinkControl = 3,
    RequestUpload = 5,
    TransferData = 6,
    TransferExit = 7,
    StopCommunication = 8,
    Sid85 = 9,
    GeneralReject = 10,
    ServiceNotSupported = 11,
    SubFunctionNotSupported = 12,
    IncorrectMessageLength = 13,
    ConditionsNotCorrect = 14,
    RequestOutOfRange = 15,
    UploadNotAccepted = 16,
    ResponsePending = 17,
    DataNotAvailable = 18,
    LastProtocolAnswer = 18,
    ChecksumWrong = 4096,
    HeaderWrong = 4097,
    OtherResponseCode = 8190,
    OtherSid = 8191,
};
}

inline bool isProtocolAnswer(qint32 id) {
    return id <= MessageId::LastProtocolAnswer;
}

// Classifies one complete response. Fields are read only where the message holds them in
// front of its checksum: too short for a header gives HeaderWrong, for a service id OtherSid,
// and a negative response without its response code OtherResponseCode.
qint32 messageIdOf(const QByteArray& message);

// Whether a response (checksum and header already found right) answers a request, given
// without its checksum: a positive answer of the request's service, or a negative one naming
// it (a refused sub-message may name Transfer Data). A Transfer Data answer also carries the
// TREP asked for, the sub-message number 1 when it comes in sub-messages, and for activities
// the day asked for (the day, not the time of day). An acknowledgement asks for the
// sub-message its number names, of the answer to the TREP being read.
bool answersRequest(const QByteArray& response, const QByteArray& request, quint8 trepBeingRead);

// Assembles received pieces into whole responses by their length byte. Bytes in front of a
// start byte 0x80 are noise and dropped one by one. Owns no port and no timer: the caller
// feeds it what the port delivered and handles the responses it returns.
class FrameAssembler {
public:
    // Complete responses found in the piece, in order. Bytes after the last one stay in
    // rxBuffer and are continued by the next piece.
    QList<QByteArray> feed(const QByteArray& piece);
    // Drops a response that stopped half-way.
    void clear() { rxBuffer_.clear(); }

    const QByteArray& rxBuffer() const { return rxBuffer_; }
    qint32 expectedLength() const { return expectedLength_; }

private:
    QByteArray rxBuffer_;
    qint32 expectedLength_ = 0;
};
