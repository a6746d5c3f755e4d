#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The vehicle unit's side of the download link: its own framing, written apart from the
// engine's so that each side can catch the other's faults.
namespace sim {

constexpr quint8 kTester = 0xF0;
constexpr quint8 kVehicleUnit = 0xEE;
constexpr int kMaxDataField = 255;
// Data bytes of one sub-message: the data field less SID, TREP and the 2-byte counter.
constexpr int kSubMessageData = kMaxDataField - 4;

quint8 checksum(const QByteArray& bytes);

// 80 F0 EE, the length of the data field, the data field (SID first) and the checksum.
QByteArray responseFrame(const QByteArray& dataField);
QByteArray negativeResponse(quint8 requestSid, quint8 code);

// Positive Transfer Data answers for one TREP. Up to 252 data bytes go in one message
// without a counter (its length byte stays below 255, so the tester can tell it from a
// sub-message); longer data goes in sub-messages numbered from 1, each 76, TREP, counter,
// up to 251 bytes. When the last one is full, an empty one follows to mark the end.
QList<QByteArray> transferDataMessages(quint8 trep, const QByteArray& data);

QString spacedHex(const QByteArray& bytes);

// A request as received: complete, from its format byte to its checksum.
struct Request {
    QByteArray bytes;
    double firstByteMs = 0; // arrival of the first byte, ms since start
    double minGapMs = -1;   // shortest and longest pause between its bytes (-1: one piece)
    double maxGapMs = -1;
    int baud = 0; // the line speed the tester had set when it arrived (0: unknown)

    quint8 sid() const;
    // The data field after the SID (empty when too short).
    QByteArray params() const;
    bool checksumOk() const;
    bool addressOk() const;
};

// Cuts the received byte stream into requests by their length (format 0x81: length one in
// the format byte; 0x80: the length byte). Bytes that cannot start a request are dropped;
// a request whose bytes stop for longer than the resync pause is dropped too.
class RequestReader {
public:
    static constexpr double kResyncPauseMs = 500;

    // `timed` false: the byte may have waited unseen (the line had just opened), so the
    // pauses on either side of it are not measured.
    void feed(char byte, double atMs, int baud, bool timed = true);
    QList<Request> takeRequests();
    int droppedBytes() const { return dropped_; }

private:
    int expectedLength() const;

    Request current_;
    double lastByteMs_ = 0;
    bool lastTimed_ = true;
    QList<Request> done_;
    int dropped_ = 0;
};

} // namespace sim
