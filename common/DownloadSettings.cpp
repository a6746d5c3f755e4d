#include "DownloadSettings.h"

#include "Folders.h"
#include "Numbers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#if defined(VANTREL_SETTINGS_ENGINE) == defined(VANTREL_SETTINGS_FRONT)
#error                                                                                             \
    "Build the settings module with exactly one of VANTREL_SETTINGS_ENGINE, VANTREL_SETTINGS_FRONT"
#endif

namespace DownloadSettings {

namespace {

#ifdef VANTREL_SETTINGS_ENGINE
constexpr bool kEngine = true;
const char* const kFirstLine = "#==============  Settings ==============#";
#else
constexpr bool kEngine = false;
const char* const kFirstLine = "#============== Settings ==============#";
#endif

// Only spaces count: a tab in a value is part of the value.
QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && text.at(first) == QLatin1Char(' '))
        ++first;
    while (end > first && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(first, end - first);
}

// The value after a key, or a null string when the line is not that key's line.
QString valueOf(const QString& line, QLatin1StringView key) {
    if (line.size() <= key.size() || !line.startsWith(key)) return QString();
    return line.mid(key.size());
}

void readFlag(const QString& line, QLatin1StringView key, bool& setting) {
    const QString value = trimSpaces(valueOf(line, key)).toUpper();
    if (value == QLatin1String("TRUE"))
        setting = true;
    else if (value == QLatin1String("FALSE"))
        setting = false;
}

void readLanguage(const QString& line) {
    static const QStringList codes = {"EN", "DE", "FR", "ES", "NL", "PL"};
    const QString code = valueOf(line, QLatin1StringView("Language=")).left(2);
    if (codes.contains(code)) language = code;
}

void readFileNameStyle(const QString& line) {
    static const QStringList styles = {"EU", "ES", "FR", "LD"};
    const QString style = valueOf(line, QLatin1StringView("FileNameStyle=")).left(2).toUpper();
    if (styles.contains(style)) fileNameStyle = style;
}

// A path that names nothing is created; a path that still names nothing afterwards leaves
// the earlier setting in place. Either way the setting ends with the separator.
void readDataPath(const QString& line, QLatin1StringView key, QString& setting) {
    const QString value = valueOf(line, key);
    if (value.isNull()) return;
    const QString path = pathValue(value);
    if (!path.isEmpty()) {
        if (!QFileInfo::exists(path)) makeFolderPath(path);
        if (QFileInfo::exists(path)) setting = path;
    }
    if (!setting.endsWith(QLatin1Char('/'))) setting += QLatin1Char('/');
}

// The engine's numbers: the key in any case, the value read leniently.
void readNumber(const QString& line, QLatin1StringView key, qint32& setting) {
    if (line.size() > key.size() && line.left(key.size()).toUpper() == key)
        setting = roundedNumber(line.mid(key.size()));
}

void readSettingsLine(const QString& line) {
    const QString trimmed = trimSpaces(line);
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('[')) ||
        trimmed.startsWith(QLatin1Char('#')))
        return;
    readLanguage(line);
    readDataPath(line, QLatin1StringView("VUDataPath="), vuDataPath);
    readDataPath(line, QLatin1StringView("CardDataPath="), cardDataPath);
    readFlag(line, QLatin1StringView("DiagnosticsWindow="), diagnosticsWindow);
    readFlag(line, QLatin1StringView("CloseDiagnosticsWindow="), closeDiagnosticsWindow);
    readFileNameStyle(line);
    readFlag(line, QLatin1StringView("Log="), logging);
    if (kEngine) {
        readNumber(line, QLatin1StringView("RXTIMEOUT="), rxTimeout);
        readNumber(line, QLatin1StringView("INTERBYTEPAUSE="), interBytePause);
        readNumber(line, QLatin1StringView("INTERMESSAGEPAUSE="), interMessagePause);
        interMessagePause = qBound(kMinInterMessagePause, interMessagePause, kMaxInterMessagePause);
    }
}

// No setting needs more than this; longer lines are passed over unread, so that a broken
// file cannot make the program hold it all in memory.
constexpr qint64 kLongestLine = 1 << 20;

void skipRestOfLine(QFile& file) {
    while (!file.atEnd() && !file.readLine(kLongestLine).endsWith('\n')) {
    }
}

void setDefaults() {
    const QString documents = getSpecialFolder(CSIDL_PERSONAL);
    language = QStringLiteral("EN");
    if (kEngine) {
        vuDataPath = documents + QStringLiteral("/VantrelPC/Data/VU/");
        cardDataPath = documents + QStringLiteral("/VantrelPC/Data/Card/");
        fileNameStyle = QStringLiteral(" ");
    } else {
        vuDataPath = documents + QLatin1Char('/') + QStringLiteral("Vantrel PC/Data/VU");
        cardDataPath = documents + QLatin1Char('/') + QStringLiteral("Vantrel PC/Data/Card");
        fileNameStyle = QStringLiteral("LD");
    }
    diagnosticsWindow = false;
    closeDiagnosticsWindow = true;
    logging = true;
    rxTimeout = kDefaultRxTimeout;
    interBytePause = kDefaultInterBytePause;
    interMessagePause = kMinInterMessagePause;
}

} // namespace

QString pathValue(const QString& text) {
    QString path = trimSpaces(text);
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    if (path.isEmpty() || QDir::isAbsolutePath(path)) return path;
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + path);
}

bool isEngineVariant() {
    return kEngine;
}

void loadSettings(const QString& dataFolder) {
    settingsFile = dataFolder + QStringLiteral("/Settings.ini");
    setDefaults();
    if (QFileInfo(settingsFile).isFile())
        readSettingsFile();
    else
        writeDefaultSettings();
    // The headless command's --style: a naming style for one engine run, never written.
    if (kEngine)
        readFileNameStyle(QStringLiteral("FileNameStyle=") +
                          qEnvironmentVariable("VANTREL_FILE_NAME_STYLE"));
}

void readSettingsFile() {
    QFile file(settingsFile);
    if (!file.open(QIODevice::ReadOnly)) return;
    while (!file.atEnd()) {
        // Room for the longest line, its CR LF and the terminator readLine() counts in.
        QByteArray line = file.readLine(kLongestLine + 3);
        if (!line.endsWith('\n') && !file.atEnd()) {
            skipRestOfLine(file);
            continue;
        }
        if (line.endsWith('\n')) line.chop(1);
        if (line.endsWith('\r')) line.chop(1);
        readSettingsLine(QString::fromUtf8(line));
    }
}

void writeDefaultSettings() {
    QStringList lines = {QString::fromLatin1(kFirstLine),
                         QString(),
                         QStringLiteral("[InstallSettings]"),
                         QStringLiteral("Language=") + language,
                         QStringLiteral("VUDataPath=") + vuDataPath,
                         QStringLiteral("CardDataPath=") + cardDataPath,
                         QString(),
                         QStringLiteral("[Options]")};
    if (!kEngine) lines << QStringLiteral("FileNameStyle=") + fileNameStyle;
    // NewOnly: a file another program wrote in the meantime is never replaced.
    QFile file(settingsFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return;
    file.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
}

} // namespace DownloadSettings
