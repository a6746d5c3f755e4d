#include "DownloadSummary.h"

#include "FileNaming.h"
#include "NationCodes.h"
#include "OverviewLayout.h"

#include <QDateTime>
#include <QStringList>
#include <QtEndian>

namespace {

// Bytes from the unit as text: Latin-1, control characters shown as "?", outer spaces gone.
// Zero bytes and 0xFF at either end, among the spaces, are a unit's filling: not text.
QString textOf(QByteArray bytes) {
    const auto filling = [](char c) { return c == '\0' || c == '\xFF' || c == ' '; };
    while (!bytes.isEmpty() && filling(bytes.back()))
        bytes.chop(1);
    while (!bytes.isEmpty() && filling(bytes.front()))
        bytes.remove(0, 1);
    QString text = QString::fromLatin1(bytes);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F)) c = u'?';
    return text.trimmed();
}

void setTextField(QJsonObject& fields, const char* key, const QByteArray& bytes) {
    const QString text = textOf(bytes);
    if (!text.isEmpty()) fields.insert(QLatin1String(key), text);
}

// 0 is "no information"; the distinguishing letters otherwise.
void setNation(QJsonObject& fields, std::optional<quint8> nation) {
    if (nation && *nation != 0)
        fields.insert(QStringLiteral("nation"), nationLetters(*nation).trimmed());
}

// A time of four bytes as its day; nothing for a time the unit does not know.
QDate dayOf(const QByteArray& time) {
    if (time.size() != 4 || time == QByteArray(4, '\0') || time == QByteArray(4, '\xFF'))
        return QDate();
    return QDateTime::fromSecsSinceEpoch(qFromBigEndian<quint32>(time.constData()), Qt::UTC).date();
}

void setPeriod(QJsonObject& fields, const QByteArray& oldest, const QByteArray& latest,
               const QDate& firstDay) {
    const QDate from = firstDay.isValid() ? firstDay : dayOf(oldest);
    const QDate to = dayOf(latest);
    if (from.isValid()) fields.insert(QStringLiteral("oldest_day"), from.toString(Qt::ISODate));
    if (to.isValid()) fields.insert(QStringLiteral("latest_day"), to.toString(Qt::ISODate));
}

// count bytes from the 1-based position, or nothing where the file is shorter.
QByteArray bytesAt(const QByteArray& data, qsizetype at, qsizetype count) {
    return at - 1 + count <= data.size() ? data.mid(at - 1, count) : QByteArray();
}

QJsonObject firstGeneration(const QByteArray& file, const QDate& firstDay) {
    QJsonObject fields;
    using namespace Gen1Overview;
    setTextField(fields, "vin", bytesAt(file, kVinAt, kVinSize));
    setTextField(fields, "registration", bytesAt(file, kVrnAt, kVrnSize));
    const QByteArray nation = bytesAt(file, kNationAt, 1);
    setNation(fields, nation.isEmpty() ? std::nullopt : std::optional(quint8(nation[0])));
    fields.insert(QStringLiteral("generation"), 1);
    setPeriod(fields, bytesAt(file, kOldestTimeAt, kTimeSize),
              bytesAt(file, kLatestTimeAt, kTimeSize), firstDay);
    return fields;
}

QJsonObject secondGeneration(const QByteArray& file, int version, const QDate& firstDay) {
    const SecondGenOverview overview = readSecondGenOverview(file);
    QJsonObject fields;
    setTextField(fields, "vin", overview.vin);
    setTextField(fields, "registration", overview.vrn);
    setNation(fields, overview.nation);
    fields.insert(QStringLiteral("generation"), 2);
    fields.insert(QStringLiteral("interface_version"), version);
    setPeriod(fields, overview.oldestTime, overview.latestTime, firstDay);
    return fields;
}

} // namespace

DownloadSummary summaryOf(const QByteArray& file, const QDate& firstDay) {
    if (file.size() < 2) return {};
    if (quint8(file[0]) != 0x76) {
        const CardIdentification card = scanCardIdentification(file);
        if (!card.found) return {};
        QJsonObject fields;
        setTextField(fields, "number", card.cardNumber);
        setNation(fields, card.nation);
        return {QStringLiteral("card"), fields};
    }
    // The overview's TREP says the unit's generation and download interface version.
    switch (quint8(file[1])) {
    case 0x01:
        return {QStringLiteral("vehicle"), firstGeneration(file, firstDay)};
    case 0x21:
        return {QStringLiteral("vehicle"), secondGeneration(file, 1, firstDay)};
    case 0x31:
        return {QStringLiteral("vehicle"), secondGeneration(file, 2, firstDay)};
    default:
        return {};
    }
}

QString DownloadSummary::line() const {
    const auto text = [this](const char* key) {
        return fields.value(QLatin1String(key)).toString();
    };
    QStringList parts;
    if (kind == QLatin1String("card")) {
        QString line = QStringLiteral("card: ") + text("number");
        if (fields.contains(QLatin1String("nation")))
            line += QStringLiteral(" (%1)").arg(text("nation"));
        return line.trimmed();
    }
    if (fields.contains(QLatin1String("vin"))) parts << QStringLiteral("VIN ") + text("vin");
    if (fields.contains(QLatin1String("registration"))) {
        QString registration = QStringLiteral("registration ") + text("registration");
        if (fields.contains(QLatin1String("nation")))
            registration += QStringLiteral(" (%1)").arg(text("nation"));
        parts << registration;
    }
    QString generation = QStringLiteral("generation %1").arg(fields.value("generation").toInt());
    if (fields.contains(QLatin1String("interface_version")))
        generation += QStringLiteral(" version %1").arg(fields.value("interface_version").toInt());
    parts << generation;
    if (fields.contains(QLatin1String("oldest_day")) &&
        fields.contains(QLatin1String("latest_day")))
        parts << QStringLiteral("days %1 to %2").arg(text("oldest_day"), text("latest_day"));
    return QStringLiteral("vehicle: ") + parts.join(QStringLiteral(", "));
}
