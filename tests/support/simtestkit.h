#pragma once
// Shorthands for driving the simulated phone's engine directly in tests.

#include "simphone.h"

#include "base/bytes.h"
#include <link/link.h>
#include <link/protocol.h>

#include <QByteArray>
#include <gtest/gtest.h>

namespace x45::test {
// Hex text ("14 04 10 15") to bytes; the one definition is beside the transfer rig's helpers.
[[nodiscard]] QByteArray hex(const char* text);
} // namespace x45::test

namespace x45sim::test {

using x45::test::hex;

// Everything the phone put on the line, run together.
inline QByteArray joined(const Emissions& e) {
    QByteArray out;
    for (const Emission& x : e)
        out += x.bytes;
    return out;
}

// 0x68, the image, 0xFE: the boot as the tool sends it.
inline QByteArray bootBytes() {
    return QByteArray(1, char(x45::proto::BootLength)) + serviceBootImage() +
           QByteArray(1, char(x45::proto::BootCheck));
}

// Scan, boot and speed switch: leaves the phone in service mode at 115200.
inline void openSession(SimPhone& phone) {
    ASSERT_EQ(joined(phone.receive(hex("55"), 57600)), hex("A0"));
    ASSERT_EQ(joined(phone.receive(bootBytes(), 57600)), hex("A5"));
    ASSERT_EQ(joined(phone.receive(x45::proto::BaudQuery, 57600)).right(10),
              x45::proto::BaudReplyTail);
    ASSERT_EQ(phone.speed(), 115200);
}

// One request at 115200; the reply run together.
inline QByteArray ask(SimPhone& phone, const QByteArray& frame) {
    return joined(phone.receive(frame, 115200));
}

inline QByteArray block(quint8 sub, const QByteArray& args) {
    return x45::Link::blockFrame(sub, args);
}

inline QByteArray idArgs(int id) {
    return x45::wordToStr(quint16(id));
}

} // namespace x45sim::test
