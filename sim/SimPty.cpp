#include "SimPty.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
}

} // namespace

Pty::~Pty() {
    close();
}

bool Pty::open(QString* error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = systemError("pseudo-terminal");
        return false;
    }
    slave_ = QString::fromLocal8Bit(ptsname(master_));
    // Raw, or the line discipline echoes and translates bytes. IGNPAR stays cleared: the
    // tester's even parity must not make the driver drop bytes.
    const int slave = ::open(slave_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        *error = systemError("open pty slave");
        return false;
    }
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    t.c_iflag &= ~tcflag_t(IGNPAR);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    const bool ok = tcsetattr(slave, TCSANOW, &t) == 0;
    if (!ok) *error = systemError("set pty raw");
    ::close(slave);
    return ok;
}

bool Pty::link(const QString& devRoot, int port, QString* error) {
    if (!QDir().mkpath(devRoot)) {
        *error = QStringLiteral("cannot create %1").arg(devRoot);
        return false;
    }
    link_ = QDir(devRoot).filePath(QStringLiteral("ttyUSB%1").arg(port));
    QFile::remove(link_);
    if (!QFile::link(slave_, link_)) {
        *error = QStringLiteral("cannot link %1 to %2").arg(link_, slave_);
        return false;
    }
    return true;
}

void Pty::close() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
    if (!link_.isEmpty()) QFile::remove(link_);
    link_.clear();
}

int Pty::testerBaud() const {
    termios t{};
    if (master_ < 0 || tcgetattr(master_, &t) != 0) return 0;
    switch (cfgetospeed(&t)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

bool Pty::peerAbsent() const {
    pollfd p{master_, POLLIN, 0};
    return master_ < 0 || (poll(&p, 1, 0) > 0 && (p.revents & POLLHUP));
}

} // namespace sim
