#pragma once
// The link layer: the receive state machine that assembles reply frames, and the exchange (send a
// frame, wait for its reply with a time-out) on which every query is built.

#include "bytes.h"
#include "serialport.h"

#include <QObject>
#include <QTimer>
#include <chrono>

namespace x45 {

enum ReplyState : quint8 { Receiving = 0, Complete = 1, HeaderBad = 2 };

// The reply being received: written only by the receive handler, reset by ResetReply.
struct ReplyRecord {
    quint8 Cmd = 0;    // byte 0
    quint8 SubCmd = 0; // byte 3, the first payload byte
    qint16 Length = 0; // byte 1, payload length
    ByteStr Buffer;    // every byte received since the reset, header included
    quint8 State = Receiving;
};

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(SerialPort& port, QObject* parent = nullptr);

    [[nodiscard]] SerialPort& port() const { return port_; }

    ReplyRecord Reply;
    bool TimedOut = false;
    // 1 while an exchange waits for its reply; received bytes are taken only then.
    int ReadState = 0;

    void ResetReply();
    // Receive event: takes every waiting byte into Reply while an exchange waits.
    void Com_OnComm();
    // One received byte through the frame-assembly table.
    void feedByte(quint8 byte);

    // Writes a request frame.
    void SendFrame(const ByteStr& frame);
    // Waits for a reply. The time-out ends the wait only while fewer than holdCount bytes have
    // arrived; after that, a reply that stalls for timeout without a further byte also ends it.
    void WaitReply(std::chrono::milliseconds timeout, int holdCount);
    // Lets events run for the given time (the boot handshake's pauses); sets TimedOut at the end.
    void Pause(std::chrono::milliseconds duration);

    // The port went away during the session (cable pulled); every further wait ends at once.
    [[nodiscard]] bool portLost() const { return !lostReason_.isEmpty(); }
    [[nodiscard]] QString lostReason() const { return lostReason_; }
    void clearLost() { lostReason_.clear(); }

    // Block-protocol reply acceptance: header check passed, Cmd 0x14, SubCmd as sent, and the last
    // byte of Buffer equal to the XOR of the first Length + 2 bytes.
    [[nodiscard]] bool blockReplyAccepted(quint8 subCmd) const;

    // Cmd, Length, Cmd ^ Length, payload.
    [[nodiscard]] static ByteStr frame(quint8 cmd, const ByteStr& payload);
    // Block-protocol request: Cmd 0x14, SubCmd, arguments, trailer (XOR of all bytes before it).
    [[nodiscard]] static ByteStr blockFrame(quint8 subCmd, const ByteStr& args);

signals:
    // Every frame written, for logging and tests.
    void frameSent(const QByteArray& frame);

private:
    void yieldOnce();

    SerialPort& port_;
    QTimer timer_;
    QTimer idle_;
    bool idleExpired_ = false;
    QString lostReason_;
};

} // namespace x45
