#pragma once

#include <QString>

namespace sim {

// The unit's end of the line: the master of a pseudo-terminal whose slave the engine opens
// through <dev root>/ttyUSB<N>.
class Pty {
public:
    ~Pty();
    // Opens the master (non-blocking), makes the line raw at 9600 baud and closes the slave
    // again, so that no process but the engine ever holds the tty.
    bool open(QString* error);
    // Links <devRoot>/ttyUSB<port> to the slave (an old link is replaced).
    bool link(const QString& devRoot, int port, QString* error);
    void close();

    int fd() const { return master_; }
    QString slavePath() const { return slave_; }
    // The speed the tester has set on its side, read through the master (0: unknown).
    int testerBaud() const;
    // True while no process holds the slave open (the master then reports a hang-up).
    bool peerAbsent() const;

private:
    int master_ = -1;
    QString slave_;
    QString link_;
};

} // namespace sim
