#include "FileNaming.h"

#include "NationCodes.h"

#include <QtEndian>
#include <optional>

namespace {

bool isUnsafe(uchar c) {
    return c == '/' || c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QByteArray withoutOuterSpaces(QByteArray bytes) {
    while (bytes.startsWith(' '))
        bytes.remove(0, 1);
    while (bytes.endsWith(' '))
        bytes.chop(1);
    return bytes;
}

QString date8(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyyMMdd"));
}
QString date6(const QDateTime& t) {
    return t.toString(QStringLiteral("yyMMdd"));
}
QString time4(const QDateTime& t) {
    return t.toString(QStringLiteral("HHmm"));
}

QString joined(std::initializer_list<QString> parts) {
    QString name;
    for (const QString& part : parts)
        name += part;
    return name;
}

uchar byteAt(const QByteArray& data, qint64 position) {
    return static_cast<uchar>(data.at(position));
}

qint64 wordAt(const QByteArray& data, qint64 position) {
    return qFromBigEndian<quint16>(data.constData() + position);
}

// One record array of a second-generation overview: its 5-byte header (type, record size,
// number of records) at `header`, its records following. Only arrays held in full count.
struct RecordArray {
    qint64 records = 0;
    qint64 size = 0;
    qint64 count = 0;
    qint64 end() const { return records + size * count; }
    // The first `length` bytes of the first record, when a record is that long.
    std::optional<QByteArray> first(const QByteArray& data, qint64 offset, qint64 length) const {
        if (count < 1 || size < offset + length) return std::nullopt;
        return data.mid(records + offset, length);
    }
};

// Where the registration number starts in its record: after the nation and the code page
// (the regulation's 15-byte record), or after the code page alone in a 14-byte record. A
// smaller record cannot hold the number.
qint64 registrationOffset(qint64 recordSize) {
    return recordSize >= 15 ? 2 : 1;
}

std::optional<RecordArray> arrayAt(const QByteArray& data, qint64 header) {
    if (header + 5 > data.size()) return std::nullopt;
    const RecordArray array{header + 5, wordAt(data, header + 1), wordAt(data, header + 3)};
    if (array.end() > data.size()) return std::nullopt;
    return array;
}

// Header of the identification file of a card (EF 0520, data part).
constexpr uchar kIdentification[] = {0x05, 0x20, 0x00};
constexpr qint64 kCardHeader = 5;
// Offsets of the fields from the start of the identification file's header.
constexpr qint64 kNationAt = 5;
constexpr qint64 kCardNumberAt = 6;
constexpr qint64 kSurnameAt = 71;
constexpr qint64 kFirstNamesAt = 107;

bool isIdentificationAt(const QByteArray& card, qint64 i) {
    for (qint64 k = 0; k < 3; ++k)
        if (byteAt(card, i + k) != kIdentification[k]) return false;
    return i + kFirstNamesAt < card.size();
}

} // namespace

QString nameField(const QByteArray& bytes) {
    QByteArray safe = bytes;
    for (char& c : safe)
        if (isUnsafe(static_cast<uchar>(c))) c = '_';
    return QString::fromLatin1(safe);
}

QString nationWithoutSpaces(const QString& nation) {
    return QString(nation).remove(QLatin1Char(' '));
}

QString nationPadded(const QString& nation, int width) {
    return nationWithoutSpaces(nation).leftJustified(width, QLatin1Char('_'), true);
}

QString vuFileNameFor(const QString& style, const QByteArray& vin, const QByteArray& vrn,
                      const QString& vuNation, const QDateTime& localNow) {
    const QString VIN = nameField(vin);
    const QString VRN = nameField(vrn);
    const QString sep = QStringLiteral("_");
    if (style == u"EU")
        return joined({date8(localNow), sep, time4(localNow), sep, VRN, sep, VIN, ".DDD"});
    if (style == u"FR")
        return joined({nationPadded(vuNation, 3), VRN, date6(localNow), time4(localNow), ".V1B"});
    if (style == u"ES")
        return joined({nameField(withoutOuterSpaces(vrn)), sep, nationWithoutSpaces(vuNation), sep,
                       date8(localNow), sep, time4(localNow), ".TGD"});
    if (style == u"LD")
        return joined({nationPadded(vuNation, 3), VRN, sep, VIN, sep, date8(localNow), sep,
                       time4(localNow), ".DDD"});
    return kSavedName;
}

QString vuNamePrefix(const QString& dataKind, const QString& style) {
    if (dataKind == u"M") {
        if (style == u"FR") return QString();
        if (style == u"ES") return QStringLiteral("V_");
    }
    return dataKind + QLatin1Char('_');
}

SecondGenOverview readSecondGenOverview(const QByteArray& overview) {
    SecondGenOverview result;
    // The first array's header follows the two bytes 0x76 and the TREP number; the first two
    // arrays (the certificates) are passed over.
    std::optional<RecordArray> array = arrayAt(overview, 2);
    for (int skipped = 0; skipped < 2 && array; ++skipped)
        array = arrayAt(overview, array->end());
    if (!array) return result;
    const auto vin = array->first(overview, 0, 17);
    if (!vin) return result;
    result.vin = *vin;
    array = arrayAt(overview, array->end());
    if (!array) return result;
    result.vrn = array->first(overview, registrationOffset(array->size), 13).value_or(QByteArray());
    if (const auto nation = array->first(overview, 0, 1); nation && array->size >= 15)
        result.nation = quint8(nation->at(0));
    array = arrayAt(overview, array->end());
    const auto now = array ? array->first(overview, 0, 4) : std::nullopt;
    if (!now) return result;
    result.currentTime = *now;
    array = arrayAt(overview, array->end());
    const auto period = array ? array->first(overview, 0, 8) : std::nullopt;
    if (!period) return result;
    result.oldestTime = period->left(4);
    result.latestTime = period->mid(4);
    result.complete = true;
    return result;
}

CardIdentification scanCardIdentification(const QByteArray& cardData) {
    CardIdentification id;
    for (qint64 i = 0; i + kCardHeader <= cardData.size();
         i += kCardHeader + wordAt(cardData, i + 3)) {
        if (!isIdentificationAt(cardData, i)) continue;
        id.nation = byteAt(cardData, i + kNationAt);
        id.cardNumber = cardData.mid(i + kCardNumberAt, 16);
        id.surname = cardData.mid(i + kSurnameAt, 16);
        id.firstInitial = cardData.mid(i + kFirstNamesAt, 1);
        id.found = true;
    }
    return id;
}

QString cardFileNameFor(const QString& style, const QByteArray& cardData,
                        const QDateTime& localNow) {
    const CardIdentification id = scanCardIdentification(cardData);
    if (!id.found) return QString();
    const QString CN = nameField(id.cardNumber);
    const QString S = nameField(id.surname).leftJustified(35);
    const QString I = nameField(id.firstInitial);
    const QString nation = nationLetters(id.nation);
    const QString sep = QStringLiteral("_");
    if (style == u"EU")
        return joined(
            {"C_", date8(localNow), sep, time4(localNow), sep, I, sep, S, sep, CN, ".DDD"});
    if (style == u"FR")
        return joined({nationPadded(nation, 3), CN, date6(localNow), time4(localNow), ".C1A"});
    if (style == u"ES")
        return joined({"C_", CN, sep, nationWithoutSpaces(nation), sep, date8(localNow), sep,
                       time4(localNow), ".TGD"});
    if (style == u"LD")
        return joined({"C_", S, sep, I, sep, nationPadded(nation, 4), sep, CN, sep, date8(localNow),
                       sep, time4(localNow), ".DDD"});
    return QString();
}

QString candidatePath(const QString& path, int n) {
    if (n == 0) return path;
    const qsizetype stem = qMax<qsizetype>(0, path.size() - 4);
    return path.left(stem) + QLatin1Char('_') + QString::number(n) + path.mid(stem);
}
