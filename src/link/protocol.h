#pragma once
// The one table of command bytes, fixed frames and exchange timings of the service-mode protocol.

#include "base/areas.h"
#include "base/bytes.h"
#include "portsettings.h"

#include <QByteArray>
#include <QtGlobal>
#include <chrono>

namespace x45::proto {

using namespace std::chrono_literals;

// Boot handshake (raw bytes, before any frame).
constexpr quint8 ScanByte = 0x55;
constexpr quint8 ScanAnswer = 0xA0;
constexpr quint8 BootLength = 0x68; // 104, sent before the image
constexpr quint8 BootCheck = 0xFE;  // XOR of the image, sent as a fixed byte
constexpr quint8 BootAck = 0xA5;
constexpr std::chrono::milliseconds ScanPause = 100ms;

// Session messages: complete frames, no trailer.
inline const QByteArray PingQuery = QByteArray::fromHex("02010314");
inline const QByteArray BaudQuery = QByteArray::fromHex("010A0BC0313135323030"
                                                        "0DD22B");
inline const QByteArray BaudReplyTail = QByteArray::fromHex("CC313135323030"
                                                            "0DD22B");
inline const QByteArray ChipsetQuery = QByteArray::fromHex("05010421");
inline const QByteArray ModelQuery = QByteArray::fromHex("0E010F07");
inline const QByteArray SWQuery = QByteArray::fromHex("0E010F03");
inline const QByteArray LangGroupQuery = QByteArray::fromHex("0E010F09");
inline const QByteArray IMEIQuery = QByteArray::fromHex("0E010F0A");
inline const QByteArray ExitQuery = QByteArray::fromHex("0E010F04");
constexpr quint8 PingCmd = 0x02, PingSub = 0x14, PingEnd = 0xAA;
constexpr quint8 BaudCmd = 0x01;
constexpr quint8 ChipsetCmd = 0x05, ChipsetSub = 0x21;
constexpr quint8 InfoCmd = 0x0E;
constexpr quint8 ModelSub = 0x07, SWSub = 0x03, LangGroupSub = 0x09, IMEISub = 0x0A, ExitSub = 0x04;

// Block protocol: Cmd 0x14, SubCmd first, trailer last; bit 0x10 selects EEfull.
constexpr quint8 BlockCmd = 0x14;
constexpr quint8 EEfullBit = 0x10;
enum SubCmd : quint8 {
    WBlockInfoQuery = 0x01,
    WBlockDataQuery = 0x02,
    WBlockOKQuery = 0x03,
    BlockDataQuery = 0x04,
    BlockInfoQuery = 0x05,
    MaxBlockQuery = 0x06,
    BlockDeleteQuery = 0x07,
    EEPSpaceQuery = 0x08,
    EraseEEPQuery = 0x09,
    CollectEEFULLGarbageQuery = 0x1B, // EEfull only
};
constexpr quint8 NoSuchBlock = 0x32; // "2": the phone holds no such block
constexpr quint8 Interim = 0x50;     // "P": a write request is still being carried out

[[nodiscard]] constexpr quint8 areaSub(SubCmd sub, bool eefull) {
    return static_cast<quint8>(eefull ? (sub | EEfullBit) : sub);
}
[[nodiscard]] constexpr quint8 blockSub(SubCmd sub, qint32 blockId) {
    return areaSub(sub, isEEfullBlock(blockId));
}

constexpr int ReadChunk = 30;  // bytes asked for per BlockDataQuery
constexpr int WriteChunk = 20; // bytes sent per WBlockDataQuery
constexpr int Attempts = 5;    // tries of one request before the user is asked

// Reply time-outs and hold counts.
constexpr std::chrono::milliseconds PingTimeout = 1000ms;
constexpr int PingHold = 5;
constexpr std::chrono::milliseconds BaudTimeout = 1000ms;
constexpr std::chrono::milliseconds InfoTimeout = 500ms;
constexpr std::chrono::milliseconds SpaceTimeout = 500ms;
constexpr std::chrono::milliseconds ReadTimeout = 1000ms;
constexpr std::chrono::milliseconds WriteTimeout = 5000ms;
constexpr int WriteHold = 5;
constexpr std::chrono::milliseconds DeleteTimeout = 3000ms;
// After the last reply of a read run: bytes arriving within this time were not asked for, so the
// link was out of step and the last block is read again.
constexpr std::chrono::milliseconds SettleTime = 100ms;

// Port settings before and after the speed switch.
inline constexpr PortSettings SettingsAtStart{57600};
inline constexpr PortSettings SettingsFast{115200};

// Frames: Cmd, Length, Cmd ^ Length, then Length bytes (a block reply's: SubCmd, data, trailer).
// Where the frame that starts a reply ends.
[[nodiscard]] inline qsizetype frameEnd(const ByteStr& frame) {
    return qsizetype(byteAt(frame, 1)) + 3;
}
// The frame's last byte is the XOR of the bytes before it.
[[nodiscard]] inline bool trailerRight(const ByteStr& frame) {
    const qsizetype end = frameEnd(frame);
    return frame.size() >= end && byteAt(frame, end - 1) == xorSum(frame, end - 1);
}
// The data of a block reply: the bytes between its SubCmd and its trailer.
[[nodiscard]] inline ByteStr replyData(const ByteStr& frame) {
    return frame.mid(4, frameEnd(frame) - 5);
}

} // namespace x45::proto
