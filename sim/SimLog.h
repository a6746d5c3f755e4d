#pragma once

// The simulator's traffic log read back, for tests and benchmarks. One line per event, as
// VuSimMain writes it: milliseconds since start, kind, then
//   RX: the line speed, the request in hex and " [gaps MIN-MAX ms]" when it came in pieces;
//   TX: the answer in hex and " (LABEL)" for noise, pieces, pending and duplicate answers;
//   NOTE and VIOLATION: free text.

#include <QByteArray>
#include <QList>

namespace sim {

struct SimLine {
    double ms = 0;
    QByteArray kind;  // RX, TX, NOTE, VIOLATION
    int baud = 0;     // RX only
    QByteArray bytes; // RX and TX
    QByteArray label; // TX: noise, piece N, pending, duplicate
    QByteArray text;  // NOTE and VIOLATION
};

// "  2222.106 RX 9600 81 EE F0 81 E0 [gaps ...]", "  2222.306 TX 80 F0 ... (noise)".
inline QList<SimLine> parseSimLog(const QByteArray& log) {
    QList<SimLine> lines;
    for (const QByteArray& raw : log.split('\n')) {
        const QByteArray text = raw.trimmed();
        const qsizetype space = text.indexOf(' ');
        if (space < 0) continue;
        SimLine line;
        bool ok = false;
        line.ms = text.left(space).toDouble(&ok);
        if (!ok) continue;
        QByteArray rest = text.mid(space + 1);
        const qsizetype kindEnd = rest.indexOf(' ');
        line.kind = rest.left(kindEnd);
        rest = kindEnd < 0 ? QByteArray() : rest.mid(kindEnd + 1);
        if (line.kind == "RX") {
            const qsizetype baudEnd = rest.indexOf(' ');
            line.baud = rest.left(baudEnd).toInt();
            rest = rest.mid(baudEnd + 1);
            const qsizetype gaps = rest.indexOf(" [");
            line.bytes = QByteArray::fromHex(gaps < 0 ? rest : rest.left(gaps));
        } else if (line.kind == "TX") {
            const qsizetype label = rest.indexOf(" (");
            line.bytes = QByteArray::fromHex(label < 0 ? rest : rest.left(label));
            if (label >= 0) line.label = rest.mid(label + 2).chopped(1);
        } else {
            line.text = rest;
        }
        lines << line;
    }
    return lines;
}

} // namespace sim
