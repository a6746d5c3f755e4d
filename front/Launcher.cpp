#include "Launcher.h"

#include "LatestVuSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

QString positionText(qint64 topTwips, qint64 leftTwips) {
    return QStringLiteral(" {%1,%2}").arg(topTwips + 600).arg(leftTwips + 3300);
}

QString daysText(const QString& secondLine) {
    const qint32 days = roundedNumber(secondLine);
    const QString digits = QString::number(days);
    return days < 0 ? digits : QLatin1Char(' ') + digits;
}

QString latestTrepTextFromLines(const QString& firstLine, const QString& secondLine) {
    return QLatin1Char('[') + firstLine + QLatin1Char(']') + daysText(secondLine);
}

QString readSettingsLine(QFile& file) {
    QByteArray line;
    char c = 0;
    // A file without line ends (a broken disk, a hostile file) must not hold the window.
    qint64 scanned = 0;
    while (scanned++ < kLongestScan && file.getChar(&c) && c != '\n') {
        if (c == '\r') {
            if (file.peek(&c, 1) == 1 && c == '\n') file.skip(1);
            break;
        }
        if (line.size() < kLongestLine) line += c;
    }
    return QString::fromUtf8(line);
}

std::optional<QString> readLatestTrepText(const QString& filePath) {
    const std::optional<LatestVuFileLines> lines = readLatestVuFile(filePath);
    if (!lines) return std::nullopt;
    return latestTrepTextFromLines(lines->trepLine, lines->days.value_or(QString()));
}

QString argumentText(int downloadKind, const QString& latestTrepText, const QString& position) {
    switch (downloadKind) {
    case kLatestVU:
        return QStringLiteral("\"L ") + latestTrepText + QStringLiteral(" E") + position +
               QLatin1Char('"');
    case kCard:
        return QStringLiteral("C E") + position;
    default:
        return QStringLiteral("A E") + position;
    }
}

MessageText latestSettingsMissingMessage(const QString& language) {
    if (language == QLatin1String("DE"))
        return {
            QStringLiteral("Einstellungen f\u00FCr \"Latest VU:\"\n"
                           "Klicken Sie mit der rechten Maustaste auf den Button\"Latest VU:\"\n"
                           "und nehmen die gew\u00FCnschten Einstellungen vor"),
            QStringLiteral("VantrelPC")};
    return {QStringLiteral("Please set the 'Latest VU' files to be downloaded.\n\n"
                           "Right-click on the 'Latest VU' button, make your\n"
                           "selection then click 'Save'."),
            QStringLiteral("VantrelPC - Latest VU Settings")};
}

QString findEngine(const QString& folder) {
    // The exact name first, so that a stray second copy in other letters cannot win.
    const QFileInfo exact(QDir(folder).filePath(kEngineName));
    if (exact.isFile() && exact.isExecutable()) return exact.absoluteFilePath();
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Executable | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().compare(kEngineName, Qt::CaseInsensitive) == 0)
            return entry.absoluteFilePath();
    }
    return QString();
}

namespace {
// The fields of /proc/<pid>/stat after the command name, from the state (field 3) on.
QList<QByteArray> statFields(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return {};
    const QByteArray text = stat.readAll();
    const qsizetype nameEnd = text.lastIndexOf(')');
    if (nameEnd < 0) return {};
    return text.mid(nameEnd + 1).simplified().split(' ');
}

// A detached engine is normally reparented to init, which reaps it; if this process is its
// parent after all (a subreaper), reap it here. A zombie left for someone else is gone too.
bool processAlive(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    const QList<QByteArray> fields = statFields(pid);
    return fields.isEmpty() || fields.at(0) != "Z";
}
} // namespace

qint64 processStartTime(qint64 pid) {
    const QList<QByteArray> fields = statFields(pid_t(pid));
    constexpr int startTimeIndex = 22 - 3;
    bool ok = false;
    const qint64 ticks =
        fields.size() > startTimeIndex ? fields.at(startTimeIndex).toLongLong(&ok) : 0;
    return ok ? ticks : -1;
}

qint64 startEngine(const QString& program, const QString& argument, qint64* startTime) {
    qint64 pid = 0;
    if (!QProcess::startDetached(program, {argument}, QString(), &pid)) return 0;
    *startTime = processStartTime(pid);
    // Already gone before it could be looked at: a start time of 0 matches no later process.
    if (*startTime < 0 && QFile::exists(QStringLiteral("/proc/self/stat"))) *startTime = 0;
    return pid;
}

bool engineRunning(qint64 pid, qint64 startTime) {
    if (pid <= 0 || !processAlive(pid_t(pid))) return false;
    return startTime < 0 || processStartTime(pid) == startTime;
}

void closeEngineWindows(qint64 pid, qint64 startTime, std::chrono::milliseconds wait) {
    if (!engineRunning(pid, startTime) || ::kill(pid_t(pid), SIGTERM) != 0) return;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (processAlive(pid_t(pid)) && std::chrono::steady_clock::now() < deadline)
        QThread::msleep(10);
}
