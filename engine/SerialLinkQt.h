#pragma once

#include "SerialLink.h"

#include <QSerialPort>

// The cable's port through QSerialPort: <VANTREL_DEV_ROOT or /dev>/ttyUSB<N>.
class SerialLinkQt : public SerialLink {
public:
    explicit SerialLinkQt(int comPortNumber);

    std::optional<Error> open(int baudCode) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }
    void writeByte(char byte) override;
    void drain() override;
    void pause(std::chrono::milliseconds duration) override;
    std::optional<bool> dataTerminalReady() const override;
    std::optional<bool> requestToSend() const override;

    static QString PortPath(int comPortNumber);

private:
    void handleError(QSerialPort::SerialPortError error);

    mutable QSerialPort port_;
    std::chrono::steady_clock::time_point lastWrite_;
};
