#pragma once

// The engine's write trace (VANTREL_WIRE_TRACE) read back, for tests and benchmarks: one line
// per byte handed to the port, "START END HEX", the write call's start and end in nanoseconds
// of CLOCK_MONOTONIC and the byte.

#include <QByteArray>
#include <QList>
#include <utility>

struct TracedWrite {
    qint64 startNs = 0;
    qint64 endNs = 0;
    char byte = 0;
};

// The traced bytes cut into requests by their length (format 0x81: none, the request is five
// bytes; 0x80: the fourth byte); an unfinished last request is left out.
inline QList<QList<TracedWrite>> tracedRequests(const QByteArray& trace) {
    QList<QList<TracedWrite>> requests;
    QList<TracedWrite> current;
    for (const QByteArray& line : trace.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3) continue;
        current << TracedWrite{fields[0].toLongLong(), fields[1].toLongLong(),
                               char(fields[2].toInt(nullptr, 16))};
        const qsizetype length = quint8(current[0].byte) == 0x81 ? 5
                                 : current.size() > 3            ? quint8(current[3].byte) + 5
                                                                 : 0;
        if (current.size() == length) requests << std::exchange(current, {});
    }
    return requests;
}
