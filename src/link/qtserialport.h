#pragma once

#include "serialport.h"

class QSerialPort;

namespace x45 {

// SerialPort over QSerialPort, used through its blocking calls: it works on whichever thread it
// lives on, with or without an event loop running there.
class QtSerialPort final : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortName(const QString& name) override;
    [[nodiscard]] QString portName() const override;
    void setSettings(const PortSettings& settings) override;
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;
    void discard() override;
    [[nodiscard]] qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxBytes) override;
    void write(const QByteArray& bytes) override;
    bool waitForReadyRead(std::chrono::milliseconds timeout) override;
    [[nodiscard]] bool keepsWireTime() const override { return true; }

    // USB adapters hold short replies for their latency timer (16 ms on FTDI); on Linux, opening
    // asks the driver for low latency, which such adapters turn into a 1 ms timer.
    enum class LowLatency { Unsupported, Off, On };
    // The state found after the last open; Unsupported while closed or where the system has no
    // such setting.
    [[nodiscard]] LowLatency lowLatency() const { return lowLatency_; }

private:
    void requestLowLatency();
    void restoreLowLatency();
    // Takes the device behind the name for this program (Unix: a lock on the device itself);
    // false, with the reason, when another program holds it.
    bool holdDevice(QString* error);
    void releaseDevice();

    QSerialPort* port_;
    LowLatency lowLatency_ = LowLatency::Unsupported;
    bool lowLatencyChanged_ = false; // this object set the flag and clears it on close
    QString name_;
    qint32 baud_ = 57600;
    int held_ = -1; // the descriptor that holds the device's lock while the port is open
};

} // namespace x45
