#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The engine's diagnostic lines: the message area of its window (bounded) and, when
// logging is on, "VNPC.log", opened, appended and closed for every write so that other
// programs can copy it at any time.
// "True" or "False", as the log writes a flag.
inline QString boolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

// A number in upper-case hexadecimal without leading zeros, as the log writes versions and
// times.
inline QString hexText(quint32 value) {
    return QString::number(value, 16).toUpper();
}

class MessageLog {
public:
    static constexpr qsizetype kAreaLimit = 32000;

    void setFilePath(const QString& path) { filePath_ = path; }
    const QString& filePath() const { return filePath_; }
    void setLoggingOn(bool on) { loggingOn_ = on; }
    bool loggingOn() const { return loggingOn_; }

    // Creates the log file empty (truncating an old one); false when that fails.
    bool createEmpty() const;

    // A whole line: the text and CR LF.
    void line(const QString& text);
    // Bytes as "80 F0 EE " without a line end; several dumps share one line.
    void hex(const QByteArray& bytes);
    // Text for the file only (status lines), when logging is on.
    void appendToFile(const QString& text) const;

    const QString& area() const { return area_; }
    // Called after every change of the message area (the window shows it).
    std::function<void(const QString&)> onAreaChanged;

    static QString hexDump(const QByteArray& bytes);

private:
    void appendToArea(const QString& text);

    QString filePath_;
    bool loggingOn_ = true;
    QString area_;
};
