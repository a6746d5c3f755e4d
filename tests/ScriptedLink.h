#pragma once

// A serial link for unit tests of the session: it records what the session writes, cut
// into requests by their length byte, and lets the test answer. Time is a count of
// milliseconds that only the link's pauses and waits (and the test) move on.

#include "Framing.h"
#include "SerialLink.h"

#include <QList>
#include <functional>
#include <utility>

class ScriptedLink : public SerialLink {
public:
    std::optional<Error> open(int baudCode) override {
        if (!openFailure) openedAt << baudCode;
        open_ = !openFailure;
        return openFailure;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void writeByte(char byte) override {
        if (!open_) return;
        if (++written_ == loseAtByte) return lose(QStringLiteral("Input/output error"));
        if (pending_.isEmpty()) {
            startedMs_ = clockMs;
            received_ += std::exchange(arriveWhileWriting, {});
        }
        lastWriteMs_ = clockMs;
        pending_ += byte;
        const int expected = pending_.startsWith('\x81') ? 5
                             : pending_.size() > 3       ? quint8(pending_[3]) + 5
                                                         : 0;
        if (pending_.size() == expected) {
            requests << pending_;
            sentAtMs << startedMs_;
            pending_.clear();
            if (answerAtOnce) received_ += answerAtOnce(requests[answered_++]);
        }
    }
    void drain() override { ++drains; }
    void pause(std::chrono::milliseconds duration) override {
        clockMs = std::max(clockMs, lastWriteMs_ + duration.count());
    }
    void pauseAfterReceived(std::chrono::milliseconds duration) override {
        if (!receivedAtMs.isEmpty())
            clockMs = std::max(clockMs, receivedAtMs.last() + duration.count());
    }
    void wait(std::chrono::milliseconds duration) override {
        clockMs += duration.count();
        received_ += std::exchange(arriveDuringWait, {});
    }
    std::chrono::steady_clock::time_point now() const override {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(clockMs));
    }
    QByteArray takeReceived() override {
        if (!received_.isEmpty()) receivedAtMs << clockMs;
        return std::exchange(received_, {});
    }
    std::optional<bool> dataTerminalReady() const override { return std::nullopt; }
    std::optional<bool> requestToSend() const override { return std::nullopt; }

    // The requests not answered yet, oldest first.
    QByteArray takeRequest() {
        return answered_ < requests.size() ? requests[answered_++] : QByteArray();
    }
    void receive(const QByteArray& bytes) {
        receivedAtMs << clockMs;
        onReceived(bytes);
    }
    // What arrived while the session was busy and was not taken reaches it now.
    bool deliverReceived() {
        if (received_.isEmpty()) return false;
        receive(std::exchange(received_, {}));
        return true;
    }
    void lose(const QString& description) {
        open_ = false;
        onLost(description);
    }

    std::optional<Error> openFailure;
    QList<int> openedAt;        // baud code of every open
    QList<QByteArray> requests; // everything sent, in order
    QList<qint64> sentAtMs;     // when the first byte of each request was written
    QList<qint64> receivedAtMs; // when each piece of received bytes came in
    qint64 clockMs = 0;
    int loseAtByte = 0; // the port goes away when this byte (counted from 1) is written
    int drains = 0;
    QByteArray arriveDuringWait; // bytes the unit sends during the session's next wait
    // Bytes the unit sends while the session writes its next request, before its last byte.
    QByteArray arriveWhileWriting;
    // A unit that answers as the last byte of a request leaves, before the session looks
    // again: what it sends then.
    std::function<QByteArray(const QByteArray& request)> answerAtOnce;

private:
    bool open_ = false;
    QByteArray pending_;
    QByteArray received_; // arrived, not yet taken nor delivered
    qsizetype answered_ = 0;
    int written_ = 0;
    qint64 startedMs_ = 0;
    qint64 lastWriteMs_ = 0;
};

inline QByteArray spacedHex(const char* hex) {
    return QByteArray::fromHex(hex);
}

// A response of the vehicle unit with its header and checksum.
inline QByteArray responseFrame(const QByteArray& body) {
    return withChecksum(kResponseHeader + char(body.size()) + body);
}

inline QByteArray negative(quint8 sid, quint8 code) {
    return responseFrame(QByteArray{"\x7F"} + char(sid) + char(code));
}
