#include "StatusFile.h"

#include "MessageBox.h"
#include "MessageLog.h"

#include <QFile>
#include <cstdio>

namespace {
// Progress total when nobody has set one yet (a card download takes about this many steps).
constexpr qint32 kDefaultBlocksExpected = 28;

// Written to a temporary file and renamed into place, so the front end's poll never meets a
// half-written or empty status. No fsync: the line is news for a running poll, not a record.
bool writeWhole(const QString& path, const QByteArray& content) {
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        return false;
    file.close();
    return std::rename(QFile::encodeName(temporary).constData(),
                       QFile::encodeName(path).constData()) == 0;
}
} // namespace

void StatusFile::writeStatus(const QString& status) {
    QString line = status;
    if (line.isEmpty()) {
        if (blocksExpected == 0) blocksExpected = kDefaultBlocksExpected;
        line = QString::asprintf("%04d/%04d", int(blocksReceived), int(blocksExpected));
    } else {
        log_.appendToFile(line + QStringLiteral("\r\n"));
    }
    caption_ = line;
    if (onStatusChanged) onStatusChanged(line);

    if (!writeWhole(filePath_, (line + QStringLiteral("\r\n")).toUtf8()))
        showMessageBox(QStringLiteral("Disk not available to write status"));
}
