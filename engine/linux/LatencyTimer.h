#pragma once

#include <QString>
#include <optional>

class MessageLog;

// An FTDI adapter holds received bytes for up to its latency timer (16 ms by default)
// before passing them on. While a session runs the timer is lowered to 1 ms (through the
// sysfs file where we may write it, else through the port's low-latency flag), and the old
// value is put back when the engine ends. The port must not be open at either moment.
class LatencyTimer {
public:
    ~LatencyTimer() { restore(nullptr); }

    void lower(int comPortNumber, MessageLog& log);
    void restore(MessageLog* log);

    // <sysfs root>/bus/usb-serial/devices/ttyUSB<N>/latency_timer
    static QString latencyFilePath(int comPortNumber);

private:
    QString path_; // the sysfs file, read back to see what took effect
    QString node_; // the tty whose low-latency flag was set, when the file could not be written
    std::optional<int> saved_;
};
