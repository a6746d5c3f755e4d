#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace sim {

// One fault the simulated unit shows on demand, written on the command line as
//   KIND[:NAME=VALUE[,NAME=VALUE]...]
// Selectors (any kind): on=SERVICE (startcomm, diag, verify, transition, upload, data, ack,
// exit, stop, or a request SID in hex), trep=HEX (Transfer Data for that TREP and the
// acknowledgements within its answer), part=N (sub-message N of an answer; 1 is the first or
// only message), after=N (let N matching requests pass first), times=N (apply N times; 0,
// the default, is every time). Hex values take an optional 0x; counts and times are decimal.
struct Fault {
    enum class Kind {
        Silent,    // no answer
        Noise,     // bytes=HEX before the answer (default 00 FF 55)
        Split,     // pieces=N (3) with pause=MS (30) between them
        Checksum,  // the answer's checksum byte is wrong
        Pending,   // count=N (1) response-pending answers, every=MS (1000), then the answer
        Reject,    // code=HEX: negative response with that code instead of the answer
        MaxBaud,   // code=K: Verify Baud Rate above code K refused with reply=HEX (12)
        HangUp,    // the unit closes its end of the line instead of answering
        Duplicate, // the answer is sent again delay=MS (200) later
        Delay,     // ms=N before the answer
        Late,      // the answer held until the next request begins, then ms=N (20) later
        SubNumber, // the sub-message carries number value=N (default: one less than right)
        LateData,  // Transfer Exit answered with a copy of the last Transfer Data answer
    };

    Kind kind = Kind::Silent;
    int sid = -1;  // -1: any
    int trep = -1; // -1: any
    int part = -1; // -1: any
    int after = 0;
    int times = 0;
    int code = -1;
    int reply = 0x12;
    QByteArray bytes = QByteArray::fromHex("00FF55");
    int count = 1;
    int pieces = 3;
    int pauseMs = 30;
    int everyMs = 1000;
    int delayMs = 200;
    int value = -1;

    // Whether this fault acts on a request now; counts matching requests as it goes.
    // requestSid is 0x187 for Transition Baud Rate (link control, stage 2).
    bool take(int requestSid, int requestTrep, int answerPart);

    static std::optional<Fault> parse(const QString& spec, QString* error);

private:
    int seen_ = 0;
    int applied_ = 0;
};

// The grammar as shown by --help.
QString faultHelp();

// TEXT as a number from 0 to max in base 10 or 16 (hex with an optional 0x); nothing when it
// is not one.
std::optional<int> parseNumber(const QString& text, int base, int max);

} // namespace sim
