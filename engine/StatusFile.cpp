#include "StatusFile.h"

#include "MessageBox.h"
#include "MessageLog.h"

#include <QSaveFile>

namespace {
// Progress total when nobody has set one yet (a card download takes about this many steps).
constexpr qint32 kDefaultBlocksExpected = 28;
} // namespace

void StatusFile::WriteStatus(const QString& status) {
    QString line = status;
    if (line.isEmpty()) {
        if (BlocksExpected == 0) BlocksExpected = kDefaultBlocksExpected;
        line = QString::asprintf("%04d/%04d", int(BlocksReceived), int(BlocksExpected));
    } else {
        log_.appendToFile(line + QStringLiteral("\r\n"));
    }
    caption_ = line;
    if (onStatusChanged) onStatusChanged(line);

    // Written to a temporary file and renamed into place, so the front end's poll never
    // meets a half-written or empty status.
    QSaveFile file(filePath_);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write((line + QStringLiteral("\r\n")).toUtf8()) >= 0 && file.commit();
    if (!written) ShowMessageBox(QStringLiteral("Disk not available to write status"));
}
