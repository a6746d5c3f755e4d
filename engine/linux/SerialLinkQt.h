#pragma once

#include "SerialLink.h"

#include <QSerialPort>
#include <ctime>

// The cable's port through QSerialPort: <VANTREL_DEV_ROOT or /dev>/ttyUSB<N>.
class SerialLinkQt : public SerialLink {
public:
    explicit SerialLinkQt(int comPortNumber);
    ~SerialLinkQt() override;

    std::optional<Error> open(int baudCode) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    void writeByte(char byte) override;
    void drain() override;
    void pause(std::chrono::milliseconds duration) override;
    void pauseAfterReceived(std::chrono::milliseconds duration) override;
    QByteArray takeReceived() override;
    std::optional<bool> dataTerminalReady() const override;
    std::optional<bool> requestToSend() const override;

    static QString portPath(int comPortNumber);

private:
    void handleError(QSerialPort::SerialPortError error);
    void lose(const QString& description);

    mutable QSerialPort port_;
    timespec lastWrite_{};    // CLOCK_MONOTONIC, when the write call of the last byte ended
    timespec lastReceived_{}; // CLOCK_MONOTONIC, when the last received piece was read
    int traceFd_ = -1;        // VANTREL_WIRE_TRACE: every byte written and when
};
