#pragma once

#include "SimData.h"
#include "SimFaults.h"
#include "SimFrames.h"

#include <QStringList>

namespace sim {

// Something the unit does after a request: write bytes, or hang up, at a time counted from
// the request's arrival.
struct Output {
    double atMs = 0;
    QByteArray bytes;
    bool hangUp = false;
    QString label;                 // for the log: "noise", "piece 1/3", ...
    bool untilNextRequest = false; // atMs counts from the first byte of the next request
    bool unasked = false;          // beside the answers the tester waits for (a duplicate)
};

int baudOfCode(int code); // 1..5 to 9600..115200; 0 otherwise

// The vehicle unit's protocol side: one request in, what to send out. No I/O and no clock,
// so every rule can be tried without a line.
class VuSession {
public:
    VuSession(VuData data, QList<Fault> faults, int delayMs = 0);

    QList<Output> handle(const Request& request);
    // The last byte of an output left the unit at atMs. After one the tester did not wait
    // for (unasked, or held past a request) the pause before the next request is not judged.
    void outputSent(const Output& output, double atMs);
    // Log lines (notes and "VIOLATION ..." lines) gathered since the last call.
    QStringList takeNotes();

    // Blocks whose answer went out whole since the last call, as a tester stores them.
    QList<QByteArray> takeServed();

    bool stopped() const { return stopped_; } // Stop Communication answered
    bool sessionSeen() const { return sessionSeen_; }
    int expectedBaud() const { return expectedBaud_; }
    // A unit that hears nothing for P3 max after its last answer drops the session and
    // listens at 9600 baud again.
    static constexpr double kP3MaxMs = 5000;
    // Nor does it listen again sooner than P3 min after its answer.
    static constexpr double kP3MinMs = 10;

private:
    enum class Phase { Idle, Communicating, Diagnostic, Upload };
    struct Answer {
        QByteArray message; // empty: no answer
        int trep = -1;
        int part = 1;
        bool completes = false; // the last message of a Transfer Data answer
    };

    void checkLine(const Request& r);
    void dropIdleSession(double nowMs);
    Answer answer(const Request& r);
    Answer linkControl(const QByteArray& params);
    Answer transferData(const QByteArray& params);
    Answer acknowledge(const QByteArray& params);
    Answer refuseOutOfSequence(quint8 sid);
    QList<Output> applyFaults(int sid, const Answer& a);
    void note(const QString& text) { notes_.append(text); }

    VuData data_;
    QList<Fault> faults_;
    int delayMs_ = 0;
    Phase phase_ = Phase::Idle;
    int verifiedBaud_ = 0;
    int expectedBaud_ = 9600;
    QList<QByteArray> parts_; // the answer being sent in sub-messages
    int partsTrep_ = -1;
    QByteArray lastData_; // the last Transfer Data message sent
    QByteArray block_;    // the block being answered
    QList<QByteArray> served_;
    bool stopped_ = false;
    double lastActivityMs_ = -1;
    double answerEndMs_ = -1;     // the end of the last answer the tester waited for; -1: none
    bool lateAnswerSent_ = false; // the last output answered an earlier copy, late
    bool sessionSeen_ = false;
    QStringList notes_;
};

} // namespace sim
