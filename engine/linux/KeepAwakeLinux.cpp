// Linux: a systemd-logind inhibitor (sleep, idle) on the system bus and the desktop's
// screen-saver inhibit on the session bus.
#include "KeepAwake.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QString>
#include <optional>

namespace {
constexpr int kCallTimeoutMs = 2000;
const QString kWho = QStringLiteral("VantrelPC");
const QString kWhy = QStringLiteral("Downloading tachograph data");

// logind keeps its lock while we hold this descriptor; closing it releases the lock.
std::optional<QDBusUnixFileDescriptor>& logindLock() {
    static std::optional<QDBusUnixFileDescriptor> lock;
    return lock;
}

std::optional<uint>& screenSaverCookie() {
    static std::optional<uint> cookie;
    return cookie;
}

std::optional<QVariant> callMethod(const QDBusConnection& bus, QDBusMessage message) {
    if (!bus.isConnected()) return std::nullopt;
    const QDBusMessage reply = bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst();
}

void holdLogind() {
    if (logindLock()) return;
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    message << QStringLiteral("sleep:idle") << kWho << kWhy << QStringLiteral("block");
    if (const auto result = callMethod(QDBusConnection::systemBus(), message)) {
        const auto fd = qvariant_cast<QDBusUnixFileDescriptor>(*result);
        if (fd.isValid()) logindLock() = fd;
    }
}

void holdScreenSaver() {
    if (screenSaverCookie()) return;
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                                  QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                  QStringLiteral("org.freedesktop.ScreenSaver"),
                                                  QStringLiteral("Inhibit"));
    message << kWho << kWhy;
    if (const auto result = callMethod(QDBusConnection::sessionBus(), message))
        screenSaverCookie() = result->toUInt();
}
} // namespace

void KeepAwake::hold() {
    holdLogind();
    holdScreenSaver();
}

void KeepAwake::release() {
    logindLock().reset();
    if (screenSaverCookie()) {
        auto message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.ScreenSaver"),
            QStringLiteral("/org/freedesktop/ScreenSaver"),
            QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
        message << *screenSaverCookie();
        callMethod(QDBusConnection::sessionBus(), message);
        screenSaverCookie().reset();
    }
}
