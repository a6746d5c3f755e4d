#include "SimFaults.h"

#include <QMap>

namespace sim {

namespace {

const QMap<QString, Fault::Kind>& faultKinds() {
    static const QMap<QString, Fault::Kind> kinds{
        {"silent", Fault::Kind::Silent},       {"noise", Fault::Kind::Noise},
        {"split", Fault::Kind::Split},         {"checksum", Fault::Kind::Checksum},
        {"pending", Fault::Kind::Pending},     {"reject", Fault::Kind::Reject},
        {"maxbaud", Fault::Kind::MaxBaud},     {"hangup", Fault::Kind::HangUp},
        {"duplicate", Fault::Kind::Duplicate}, {"delay", Fault::Kind::Delay},
        {"late", Fault::Kind::Late},           {"subnumber", Fault::Kind::SubNumber},
        {"latedata", Fault::Kind::LateData}};
    return kinds;
}

const QMap<QString, int>& serviceNames() {
    static const QMap<QString, int> services{
        {"startcomm", 0x81},   {"diag", 0x10},   {"verify", 0x87},
        {"transition", 0x187}, {"upload", 0x35}, {"data", 0x36},
        {"ack", 0x83},         {"exit", 0x37},   {"stop", 0x82}};
    return services;
}

bool setParameter(Fault& f, const QString& name, const QString& value, QString* error) {
    auto hex = [&](int max) { return parseNumber(value, 16, max); };
    auto dec = [&](int max) { return parseNumber(value, 10, max); };
    std::optional<int> n;
    if (name == "on") {
        n = serviceNames().contains(value) ? std::optional<int>(serviceNames()[value]) : hex(0xFF);
        if (n) f.sid = *n;
    } else if (name == "trep" && (n = hex(0xFF))) {
        f.trep = *n;
    } else if (name == "part" && (n = dec(65535))) {
        f.part = *n;
    } else if (name == "after" && (n = dec(1000000))) {
        f.after = *n;
    } else if (name == "times" && (n = dec(1000000))) {
        f.times = *n;
    } else if (name == "code" && (n = hex(0xFF))) {
        f.code = *n;
    } else if (name == "reply" && (n = hex(0xFF))) {
        f.reply = *n;
    } else if (name == "bytes") {
        f.bytes = QByteArray::fromHex(value.toLatin1());
        n = f.bytes.isEmpty() && !value.isEmpty() ? std::nullopt : std::optional<int>(0);
    } else if (name == "count" && (n = dec(100000))) {
        f.count = *n;
    } else if (name == "pieces" && (n = dec(255))) {
        f.pieces = qMax(1, *n);
    } else if (name == "pause" && (n = dec(600000))) {
        f.pauseMs = *n;
    } else if (name == "every" && (n = dec(600000))) {
        f.everyMs = *n;
    } else if ((name == "delay" || name == "ms") && (n = dec(600000))) {
        f.delayMs = *n;
    } else if (name == "value" && (n = dec(65535))) {
        f.value = *n;
    }
    if (!n) *error = QStringLiteral("bad parameter '%1=%2'").arg(name, value);
    return n.has_value();
}

} // namespace

std::optional<int> parseNumber(const QString& text, int base, int max) {
    QString digits = text.trimmed();
    if (base == 16 && digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const int value = digits.toInt(&ok, base);
    if (!ok || value < 0 || value > max) return std::nullopt;
    return value;
}

bool Fault::take(int requestSid, int requestTrep, int answerPart) {
    if (sid >= 0 && sid != requestSid) return false;
    if (trep >= 0 && trep != requestTrep) return false;
    if (part >= 0 && part != answerPart) return false;
    if (kind == Kind::MaxBaud && requestSid != 0x87) return false;
    if (++seen_ <= after) return false;
    if (times > 0 && applied_ >= times) return false;
    ++applied_;
    return true;
}

std::optional<Fault> Fault::parse(const QString& spec, QString* error) {
    const qsizetype colon = spec.indexOf(QLatin1Char(':'));
    const QString kindName = spec.left(colon).trimmed().toLower();
    if (!faultKinds().contains(kindName)) {
        *error = QStringLiteral("unknown fault '%1'").arg(kindName);
        return std::nullopt;
    }
    Fault f;
    f.kind = faultKinds()[kindName];
    if (f.kind == Kind::Delay) f.delayMs = 0;
    if (f.kind == Kind::Late) f.delayMs = 20;
    if (colon >= 0) {
        for (const QString& item : spec.mid(colon + 1).split(QLatin1Char(','))) {
            const qsizetype eq = item.indexOf(QLatin1Char('='));
            if (eq <= 0) {
                *error = QStringLiteral("'%1' is not NAME=VALUE").arg(item);
                return std::nullopt;
            }
            if (!setParameter(f, item.left(eq).trimmed().toLower(), item.mid(eq + 1).trimmed(),
                              error))
                return std::nullopt;
        }
    }
    if ((f.kind == Kind::Reject || f.kind == Kind::MaxBaud) && f.code < 0) {
        *error = QStringLiteral("'%1' needs code=").arg(kindName);
        return std::nullopt;
    }
    if (f.kind == Kind::SubNumber && f.part < 0) f.part = 2;
    if (f.kind == Kind::LateData && f.sid < 0) f.sid = 0x37;
    return f;
}

QString faultHelp() {
    return QStringLiteral(
        "Faults: --fault KIND[:NAME=VALUE[,NAME=VALUE]...], repeatable.\n"
        "  Selectors: on=SERVICE (startcomm diag verify transition upload data ack exit stop,\n"
        "             or a SID in hex), trep=HEX, part=N (sub-message N; 1 = first or only),\n"
        "             after=N (skip N matches first), times=N (apply N times; 0 = always)\n"
        "  silent                 no answer\n"
        "  noise[:bytes=HEX]      bytes before the answer (default 00FF55)\n"
        "  split[:pieces=N,pause=MS]   answer in N pieces (3), MS apart (30)\n"
        "  checksum               wrong checksum byte\n"
        "  pending[:count=N,every=MS]  N response-pending answers (1), MS apart (1000)\n"
        "  reject:code=HEX        negative response 7F SID code instead of the answer\n"
        "  maxbaud:code=K[,reply=HEX]  refuse Verify Baud Rate above code K (reply 12)\n"
        "  hangup                 close the line instead of answering (simulator ends)\n"
        "  duplicate[:delay=MS]   send the answer again MS later (200)\n"
        "  delay:ms=N             wait N ms before answering\n"
        "  late[:ms=N]            hold the answer until the next request begins, then N ms (20)\n"
        "  subnumber[:value=N]    wrong sub-message number (default part=2, number-1)\n"
        "  latedata               answer Transfer Exit with the last data answer again\n"
        "Hex values take an optional 0x; counts and milliseconds are decimal.\n"
        "Examples: --fault reject:trep=2,code=22,times=3  --fault pending:trep=6,count=20\n"
        "          --fault maxbaud:code=3  --fault silent:on=startcomm  --fault "
        "hangup:trep=4,part=5\n");
}

} // namespace sim
