#pragma once

#include "serialport.h"

class QSerialPort;

namespace x45 {

// SerialPort over QSerialPort.
class QtSerialPort final : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortName(const QString& name) override;
    [[nodiscard]] QString portName() const override;
    void setSettings(const QString& settings) override;
    [[nodiscard]] qint32 baudRate() const override { return baud_; }
    bool open(QString* error) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override;
    void discard() override;
    [[nodiscard]] qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxBytes) override;
    void write(const QByteArray& bytes) override;

private:
    QSerialPort* port_;
    QString name_;
    qint32 baud_ = 57600;
};

} // namespace x45
