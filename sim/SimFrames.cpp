#include "SimFrames.h"

namespace sim {

quint8 checksum(const QByteArray& bytes) {
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<quint8>(c);
    return static_cast<quint8>(sum & 0xFF);
}

QByteArray responseFrame(const QByteArray& dataField) {
    QByteArray message;
    message.append(char(0x80));
    message.append(char(kTester));
    message.append(char(kVehicleUnit));
    message.append(char(dataField.size() & 0xFF));
    message.append(dataField);
    message.append(char(checksum(message)));
    return message;
}

QByteArray negativeResponse(quint8 requestSid, quint8 code) {
    return responseFrame(QByteArray{"\x7F", 1} + char(requestSid) + char(code));
}

QList<QByteArray> transferDataMessages(quint8 trep, const QByteArray& data) {
    const QByteArray head = QByteArray{"\x76", 1} + char(trep);
    if (data.size() + head.size() < kMaxDataField) return {responseFrame(head + data)};
    QList<QByteArray> parts;
    qsizetype offset = 0;
    int number = 1;
    while (true) {
        const QByteArray chunk = data.mid(offset, kSubMessageData);
        QByteArray field = head;
        field.append(char((number >> 8) & 0xFF)).append(char(number & 0xFF)).append(chunk);
        parts.append(responseFrame(field));
        offset += chunk.size();
        if (chunk.size() < kSubMessageData) break;
        ++number;
    }
    return parts;
}

QString spacedHex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

quint8 Request::sid() const {
    if (bytes.isEmpty()) return 0;
    const int at = static_cast<quint8>(bytes[0]) == 0x81 ? 3 : 4;
    return at < bytes.size() ? static_cast<quint8>(bytes[at]) : 0;
}

QByteArray Request::params() const {
    if (bytes.size() < 6 || static_cast<quint8>(bytes[0]) != 0x80) return {};
    return bytes.mid(5, bytes.size() - 6);
}

bool Request::checksumOk() const {
    return !bytes.isEmpty() && checksum(bytes.left(bytes.size() - 1)) == quint8(bytes.back());
}

bool Request::addressOk() const {
    return bytes.size() >= 3 && quint8(bytes[1]) == kVehicleUnit && quint8(bytes[2]) == kTester;
}

int RequestReader::expectedLength() const {
    const QByteArray& b = current_.bytes;
    if (b.isEmpty()) return 0;
    if (quint8(b[0]) == 0x81) return 5; // 81 EE F0 81 CS
    return b.size() >= 4 ? quint8(b[3]) + 5 : 0;
}

void RequestReader::feed(char byte, double atMs, int baud, bool timed) {
    if (!current_.bytes.isEmpty() && atMs - lastByteMs_ > kResyncPauseMs) {
        dropped_ += current_.bytes.size();
        current_ = {};
    }
    if (current_.bytes.isEmpty()) {
        if (quint8(byte) != 0x80 && quint8(byte) != 0x81) {
            ++dropped_;
            return;
        }
        current_.firstByteMs = atMs;
        current_.baud = baud;
    } else if (timed && lastTimed_) {
        const double gap = atMs - lastByteMs_;
        if (current_.minGapMs < 0 || gap < current_.minGapMs) current_.minGapMs = gap;
        if (gap > current_.maxGapMs) current_.maxGapMs = gap;
    }
    lastByteMs_ = atMs;
    lastTimed_ = timed;
    current_.bytes.append(byte);
    if (current_.bytes.size() == expectedLength()) {
        done_.append(current_);
        current_ = {};
    }
}

QList<Request> RequestReader::takeRequests() {
    QList<Request> out;
    out.swap(done_);
    return out;
}

} // namespace sim
