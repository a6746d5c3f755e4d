#include "SimSession.h"

#include <utility>

namespace sim {

namespace {

constexpr quint8 kServiceNotSupported = 0x11, kIncorrectLength = 0x13, kConditionsNotCorrect = 0x22,
                 kOutOfRange = 0x31, kPending = 0x78;
// The tester must leave 5 ms to 20 ms between request bytes (P4); a little slack for the
// scheduler on our own side of the line.
constexpr double kP4MinMs = 4.0, kP4MaxMs = 20.0;

QByteArray positive(std::initializer_list<int> bytes) {
    QByteArray field;
    for (int b : bytes)
        field.append(char(b));
    return responseFrame(field);
}

// Stage 2 of the link control is told apart from stage 1 for the fault selectors.
int serviceKey(const Request& r) {
    const QByteArray p = r.params();
    return r.sid() == 0x87 && p.size() >= 1 && quint8(p[0]) == 0x02 ? 0x187 : r.sid();
}

} // namespace

int baudOfCode(int code) {
    static const int bauds[] = {9600, 19200, 38400, 57600, 115200};
    return code >= 1 && code <= 5 ? bauds[code - 1] : 0;
}

VuSession::VuSession(VuData data, QList<Fault> faults, int delayMs)
    : data_(std::move(data)), faults_(std::move(faults)), delayMs_(delayMs) {}

QStringList VuSession::takeNotes() {
    QStringList out;
    out.swap(notes_);
    return out;
}

void VuSession::dropIdleSession(double nowMs) {
    if (phase_ != Phase::Idle && lastActivityMs_ >= 0 && nowMs - lastActivityMs_ > kP3MaxMs) {
        note(QStringLiteral("no request for %1 ms: session dropped, back to 9600 baud")
                 .arg(nowMs - lastActivityMs_, 0, 'f', 0));
        phase_ = Phase::Idle;
        verifiedBaud_ = 0;
        expectedBaud_ = 9600;
        parts_.clear();
    }
}

// A late answer to an earlier copy and the answer to the copy it came in are alike: the
// tester may take either, so neither times its next request.
void VuSession::outputSent(const Output& output, double atMs) {
    const bool secondOfTwo = std::exchange(lateAnswerSent_, output.untilNextRequest);
    answerEndMs_ = output.unasked || output.untilNextRequest || secondOfTwo ? -1 : atMs;
}

void VuSession::checkLine(const Request& r) {
    const double sinceAnswer = r.firstByteMs - answerEndMs_;
    if (answerEndMs_ >= 0 && sinceAnswer >= 0 && sinceAnswer < kP3MinMs)
        note(QStringLiteral("VIOLATION request %1 ms after the answer, below 10 ms")
                 .arg(sinceAnswer, 0, 'f', 2));
    if (r.minGapMs >= 0 && r.minGapMs < kP4MinMs)
        note(QStringLiteral("VIOLATION inter-byte pause %1 ms below 5 ms")
                 .arg(r.minGapMs, 0, 'f', 2));
    if (r.maxGapMs > kP4MaxMs)
        note(QStringLiteral("VIOLATION inter-byte pause %1 ms above 20 ms")
                 .arg(r.maxGapMs, 0, 'f', 2));
    if (r.baud > 0 && r.baud != expectedBaud_ && serviceKey(r) != 0x187)
        note(QStringLiteral("VIOLATION request at %1 baud, unit listens at %2")
                 .arg(r.baud)
                 .arg(expectedBaud_));
}

QList<Output> VuSession::handle(const Request& r) {
    dropIdleSession(r.firstByteMs);
    lastActivityMs_ = r.firstByteMs;
    checkLine(r);
    // A unit ignores a request with a frame error and sends nothing.
    if (!r.checksumOk()) {
        note(QStringLiteral("VIOLATION checksum wrong, request ignored"));
        return {};
    }
    if (!r.addressOk()) {
        note(QStringLiteral("VIOLATION header not 8x EE F0, request ignored"));
        return {};
    }
    const Answer a = answer(r);
    const QList<Output> out = applyFaults(serviceKey(r), a);
    for (const Output& o : out)
        lastActivityMs_ = qMax(lastActivityMs_, r.firstByteMs + o.atMs);
    return out;
}

VuSession::Answer VuSession::refuseOutOfSequence(quint8 sid) {
    note(QStringLiteral("VIOLATION service %1 out of sequence").arg(sid, 2, 16, QLatin1Char('0')));
    return {negativeResponse(sid, kConditionsNotCorrect)};
}

VuSession::Answer VuSession::answer(const Request& r) {
    const quint8 sid = r.sid();
    const QByteArray p = r.params();
    switch (sid) {
    case 0x81: // Start Communication: the key bytes say "header with target, source, length"
        phase_ = Phase::Communicating;
        stopped_ = false;
        sessionSeen_ = true;
        parts_.clear();
        return {positive({0xC1, 0xEA, 0x8F})};
    case 0x10:
        if (phase_ == Phase::Idle) return refuseOutOfSequence(sid);
        if (p != QByteArray(1, char(0x81))) return {negativeResponse(sid, 0x12)};
        phase_ = Phase::Diagnostic;
        return {positive({0x50, 0x81})};
    case 0x87:
        if (phase_ < Phase::Diagnostic) return refuseOutOfSequence(sid);
        return linkControl(p);
    case 0x35:
        if (phase_ < Phase::Diagnostic) return refuseOutOfSequence(sid);
        if (p.size() != 9) return {negativeResponse(sid, kIncorrectLength)};
        phase_ = Phase::Upload;
        return {positive({0x75, 0x00, 0xFF})}; // at most 0x00FF bytes per message
    case 0x36:
        if (phase_ < Phase::Upload) return refuseOutOfSequence(sid);
        return transferData(p);
    case 0x83:
        return acknowledge(p);
    case 0x37:
        if (phase_ < Phase::Upload) return refuseOutOfSequence(sid);
        parts_.clear();
        return {positive({0x77})};
    case 0x82:
        phase_ = Phase::Idle;
        stopped_ = true;
        verifiedBaud_ = 0;
        expectedBaud_ = 9600;
        return {positive({0xC2})};
    default:
        return {negativeResponse(sid, kServiceNotSupported)};
    }
}

VuSession::Answer VuSession::linkControl(const QByteArray& p) {
    if (p.size() == 2 && quint8(p[0]) == 0x02 && quint8(p[1]) == 0x03) {
        // Stage 2 is never answered; the next request comes at the new speed.
        if (verifiedBaud_ == 0)
            note(QStringLiteral("VIOLATION Transition Baud Rate without a verified speed"));
        else
            expectedBaud_ = verifiedBaud_;
        note(QStringLiteral("speed now %1").arg(expectedBaud_));
        return {};
    }
    if (p.size() != 3 || quint8(p[0]) != 0x01 || quint8(p[1]) != 0x01)
        return {negativeResponse(0x87, 0x12)};
    const int code = quint8(p[2]);
    if (baudOfCode(code) == 0) return {negativeResponse(0x87, kOutOfRange)};
    for (Fault& f : faults_)
        if (f.kind == Fault::Kind::MaxBaud && code > f.code && f.take(0x87, -1, 1))
            return {negativeResponse(0x87, quint8(f.reply))};
    verifiedBaud_ = baudOfCode(code);
    return {positive({0xC7, 0x01})};
}

VuSession::Answer VuSession::transferData(const QByteArray& p) {
    if (p.isEmpty()) return {negativeResponse(0x36, kIncorrectLength)};
    const quint8 trtp = quint8(p[0]);
    const QByteArray rest = p.mid(1);
    const bool lengthOk = isActivitiesTrep(trtp) ? rest.size() == 4
                          : isCardTrep(trtp)     ? rest.size() <= 1
                                                 : rest.isEmpty();
    if (!lengthOk) return {negativeResponse(0x36, kIncorrectLength), trtp};
    const VuData::Answer a = data_.answer(trtp, rest);
    if (a.negativeCode != 0) return {negativeResponse(0x36, a.negativeCode), trtp};
    parts_ = transferDataMessages(a.trep, a.data);
    partsTrep_ = trtp;
    lastData_ = parts_.first();
    // What a tester stores: card data bare, every other block with its 0x76 and TREP; the
    // interface version is no data.
    block_ = trtp == 0x00       ? QByteArray()
             : isCardTrep(trtp) ? a.data
                                : QByteArray(1, '\x76') + char(a.trep) + a.data;
    if (parts_.size() > 1)
        note(QStringLiteral("TREP %1: %2 bytes in %3 sub-messages")
                 .arg(trtp, 2, 16, QLatin1Char('0'))
                 .arg(a.data.size())
                 .arg(parts_.size()));
    return {parts_.first(), trtp, 1, parts_.size() == 1};
}

VuSession::Answer VuSession::acknowledge(const QByteArray& p) {
    if (p.size() != 3 || quint8(p[0]) != 0x76) return {negativeResponse(0x83, kIncorrectLength)};
    if (parts_.isEmpty()) {
        note(QStringLiteral("VIOLATION Acknowledge Sub Message with no answer in sub-messages"));
        return {negativeResponse(0x83, kConditionsNotCorrect)};
    }
    const int number = quint8(p[1]) * 256 + quint8(p[2]);
    if (number == 0xFFFF) { // the tester ends the message
        parts_.clear();
        return {};
    }
    if (number == 0) return {negativeResponse(0x83, kOutOfRange), partsTrep_};
    if (number > parts_.size()) { // acknowledging the last part needs no answer
        parts_.clear();
        return {};
    }
    // "number" is both "got number-1, send the next" and "number went wrong, send it again".
    lastData_ = parts_[number - 1];
    return {parts_[number - 1], partsTrep_, number, number == parts_.size()};
}

QList<Output> VuSession::applyFaults(int sid, const Answer& a) {
    QByteArray message = a.message;
    double at = delayMs_;
    QList<Output> pre;
    QList<const Fault*> delivery;
    bool late = false;
    for (Fault& f : faults_) {
        if (f.kind == Fault::Kind::MaxBaud || !f.take(sid, a.trep, a.part)) continue;
        switch (f.kind) {
        case Fault::Kind::HangUp:
            note(QStringLiteral("fault: hang up"));
            return {Output{at, {}, true, QStringLiteral("hang up")}};
        case Fault::Kind::Silent:
            note(QStringLiteral("fault: no answer"));
            return {};
        case Fault::Kind::Reject:
            message = negativeResponse(quint8(sid & 0xFF), quint8(f.code));
            break;
        case Fault::Kind::LateData:
            if (!lastData_.isEmpty()) message = lastData_;
            break;
        case Fault::Kind::Pending:
            for (int i = 0; i < f.count; ++i) {
                pre.append({at, negativeResponse(quint8(sid & 0xFF), kPending), false,
                            QStringLiteral("pending")});
                at += f.everyMs;
            }
            break;
        case Fault::Kind::Delay:
            at += f.delayMs;
            break;
        case Fault::Kind::Late:
            note(QStringLiteral("fault: answer held until the next request"));
            late = true;
            at += f.delayMs;
            break;
        case Fault::Kind::Checksum:
            if (!message.isEmpty()) message.back() = char(quint8(message.back()) + 1);
            break;
        case Fault::Kind::SubNumber:
            if (message.size() > 8 && quint8(message[3]) == 0xFF) {
                const int wrong = f.value >= 0 ? f.value : a.part - 1;
                message[6] = char((wrong >> 8) & 0xFF);
                message[7] = char(wrong & 0xFF);
                message.back() = char(checksum(message.left(message.size() - 1)));
            }
            break;
        default:
            delivery.append(&f);
        }
    }
    QList<Output> out = pre;
    if (message.isEmpty()) return out;
    QList<Output> pieces{{at, message, false, {}}};
    QList<Output> after;
    for (const Fault* f : delivery) {
        if (f->kind == Fault::Kind::Noise) {
            out.append({at, f->bytes, false, QStringLiteral("noise")});
        } else if (f->kind == Fault::Kind::Split) {
            pieces.clear();
            const qsizetype size = (message.size() + f->pieces - 1) / f->pieces;
            for (qsizetype from = 0, i = 0; from < message.size(); from += size, ++i)
                pieces.append({at + i * f->pauseMs, message.mid(from, size), false,
                               QStringLiteral("piece %1").arg(i + 1)});
        } else if (f->kind == Fault::Kind::Duplicate) {
            after.append(
                {at + f->delayMs, message, false, QStringLiteral("duplicate"), false, true});
        }
    }
    if (a.completes && message == a.message && !block_.isEmpty()) served_.append(block_);
    out += pieces + after;
    for (Output& o : out)
        o.untilNextRequest = late;
    return out;
}

QList<QByteArray> VuSession::takeServed() {
    QList<QByteArray> out;
    out.swap(served_);
    return out;
}

} // namespace sim
