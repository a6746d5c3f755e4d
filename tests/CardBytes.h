#pragma once

// Driver-card bytes as tests build them.

#include <QByteArray>

// Two bytes, most significant first.
inline QByteArray Word(int value) {
    return QByteArray(1, char(value >> 8)) + char(value & 0xFF);
}

// A card file as a chain holds it: identifier, appendix, length, data.
inline QByteArray CardFile(int id, int appendix, const QByteArray& data) {
    return Word(id) + char(appendix) + Word(int(data.size())) + data;
}
