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
QString TrimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype end = text.size();
    while (first < end && text.at(first) == QLatin1Char(' '))
        ++first;
    while (end > first && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(first, end - first);
}

// The value after a key, or a null string when the line is not that key's line.
QString ValueOf(const QString& line, QLatin1StringView key) {
    if (line.size() <= key.size() || !line.startsWith(key)) return QString();
    return line.mid(key.size());
}

void ReadFlag(const QString& line, QLatin1StringView key, bool& setting) {
    const QString value = TrimSpaces(ValueOf(line, key)).toUpper();
    if (value == QLatin1String("TRUE"))
        setting = true;
    else if (value == QLatin1String("FALSE"))
        setting = false;
}

void ReadLanguage(const QString& line) {
    static const QStringList codes = {"EN", "DE", "FR", "ES", "NL", "PL"};
    const QString code = ValueOf(line, QLatin1StringView("Language=")).left(2);
    if (codes.contains(code)) Language = code;
}

void ReadFileNameStyle(const QString& line) {
    static const QStringList styles = {"EU", "ES", "FR", "LD"};
    const QString style = ValueOf(line, QLatin1StringView("FileNameStyle=")).left(2).toUpper();
    if (styles.contains(style)) FileNameStyle = style;
}

// A path that names nothing is created; a path that still names nothing afterwards leaves
// the earlier setting in place. Either way the setting ends with the separator.
void ReadDataPath(const QString& line, QLatin1StringView key, QString& setting) {
    const QString value = ValueOf(line, key);
    if (value.isNull()) return;
    const QString path = PathValue(value);
    if (!path.isEmpty()) {
        if (!QFileInfo::exists(path)) MakeFolderPath(path);
        if (QFileInfo::exists(path)) setting = path;
    }
    if (!setting.endsWith(QLatin1Char('/'))) setting += QLatin1Char('/');
}

// The engine's numbers: the key in any case, the value read leniently.
void ReadNumber(const QString& line, QLatin1StringView key, qint32& setting) {
    if (line.size() > key.size() && line.left(key.size()).toUpper() == key)
        setting = RoundedNumber(line.mid(key.size()));
}

void ReadLine(const QString& line) {
    const QString trimmed = TrimSpaces(line);
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('[')) ||
        trimmed.startsWith(QLatin1Char('#')))
        return;
    ReadLanguage(line);
    ReadDataPath(line, QLatin1StringView("VUDataPath="), VUDataPath);
    ReadDataPath(line, QLatin1StringView("CardDataPath="), CardDataPath);
    ReadFlag(line, QLatin1StringView("DiagnosticsWindow="), DiagnosticsWindow);
    ReadFlag(line, QLatin1StringView("CloseDiagnosticsWindow="), CloseDiagnosticsWindow);
    ReadFileNameStyle(line);
    ReadFlag(line, QLatin1StringView("Log="), Log);
    if (kEngine) {
        ReadNumber(line, QLatin1StringView("RXTIMEOUT="), RXTIMEOUT);
        ReadNumber(line, QLatin1StringView("INTERBYTEPAUSE="), InterBytePause);
        ReadNumber(line, QLatin1StringView("INTERMESSAGEPAUSE="), InterMessagePause);
        InterMessagePause = qBound(kMinInterMessagePause, InterMessagePause, kMaxInterMessagePause);
    }
}

// No setting needs more than this; longer lines are passed over unread, so that a broken
// file cannot make the program hold it all in memory.
constexpr qint64 kLongestLine = 1 << 20;

void SkipRestOfLine(QFile& file) {
    while (!file.atEnd() && !file.readLine(kLongestLine).endsWith('\n')) {
    }
}

void SetDefaults() {
    const QString documents = GetSpecialFolder(CSIDL_PERSONAL);
    Language = QStringLiteral("EN");
    if (kEngine) {
        VUDataPath = documents + QStringLiteral("/VantrelPC/Data/VU/");
        CardDataPath = documents + QStringLiteral("/VantrelPC/Data/Card/");
        FileNameStyle = QStringLiteral(" ");
    } else {
        VUDataPath = documents + QLatin1Char('/') + QStringLiteral("Vantrel PC/Data/VU");
        CardDataPath = documents + QLatin1Char('/') + QStringLiteral("Vantrel PC/Data/Card");
        FileNameStyle = QStringLiteral("LD");
    }
    DiagnosticsWindow = false;
    CloseDiagnosticsWindow = true;
    Log = true;
    RXTIMEOUT = kDefaultRxTimeout;
    InterBytePause = kDefaultInterBytePause;
    InterMessagePause = kMinInterMessagePause;
}

} // namespace

QString PathValue(const QString& text) {
    QString path = TrimSpaces(text);
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    if (path.isEmpty() || QDir::isAbsolutePath(path)) return path;
    return QDir::cleanPath(QDir::currentPath() + QLatin1Char('/') + path);
}

bool IsEngineVariant() {
    return kEngine;
}

void LoadSettings(const QString& dataFolder) {
    SettingsFile = dataFolder + QStringLiteral("/Settings.ini");
    SetDefaults();
    if (QFileInfo(SettingsFile).isFile())
        ReadSettingsFile();
    else
        WriteDefaultSettings();
    // The headless command's --style: a naming style for one engine run, never written.
    if (kEngine)
        ReadFileNameStyle(QStringLiteral("FileNameStyle=") +
                          qEnvironmentVariable("VANTREL_FILE_NAME_STYLE"));
}

void ReadSettingsFile() {
    QFile file(SettingsFile);
    if (!file.open(QIODevice::ReadOnly)) return;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(kLongestLine + 2);
        if (!line.endsWith('\n') && !file.atEnd()) {
            SkipRestOfLine(file);
            continue;
        }
        if (line.endsWith('\n')) line.chop(1);
        if (line.endsWith('\r')) line.chop(1);
        ReadLine(QString::fromUtf8(line));
    }
}

void WriteDefaultSettings() {
    QStringList lines = {QString::fromLatin1(kFirstLine),
                         QString(),
                         QStringLiteral("[InstallSettings]"),
                         QStringLiteral("Language=") + Language,
                         QStringLiteral("VUDataPath=") + VUDataPath,
                         QStringLiteral("CardDataPath=") + CardDataPath,
                         QString(),
                         QStringLiteral("[Options]")};
    if (!kEngine) lines << QStringLiteral("FileNameStyle=") + FileNameStyle;
    // NewOnly: a file another program wrote in the meantime is never replaced.
    QFile file(SettingsFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return;
    file.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
}

} // namespace DownloadSettings
