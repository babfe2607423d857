#pragma once
// The simulated phone: a transport-agnostic engine that takes the bytes the tool sends (with the
// speed the tool's port runs at) and returns what the phone puts on the line. It is strict: every
// frame is checked against the exact request layouts; anything else is counted as malformed and
// left unanswered, as a real phone would leave it.

#include "emission.h"
#include "faults.h"
#include "simeeprom.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

namespace x45sim {

struct SimConfig {
    quint16 hwid = 0x0451;               // hardware id, any 16-bit pattern
    QByteArray model = "S45";            // NameQuery 0x07
    quint8 sw = 0x45;                    // SWQuery byte (0x45 reads as version 45)
    QByteArray langGroup = "lg07";       // NameQuery 0x09
    QByteArray imei = "350123456789012"; // 15 digits
    qint64 eeliteCapacity = 16 * 1024;   // bytes
    qint64 eefullCapacity = 64 * 1024;   // bytes
    std::optional<qint16> maxEElite;     // MaxBlockQuery answer overrides
    std::optional<qint16> maxEEfull;
    int interim = 0;                          // interim replies before each WBlockInfo/Data reply
    std::chrono::milliseconds interimGap{20}; // between interim replies and the real one
    std::chrono::milliseconds latency{0};     // before every reply
    bool acceptSpeedSwitch = true;            // false: BaudQuery gets no reply, stays at 57600
    int maxReadChunk = 30;                    // largest count a BlockDataQuery may ask for
    int maxWriteChunk = 20;                   // largest chunk a WBlockDataQuery may carry
    std::chrono::milliseconds partialFrameTimeout{
        500}; // a frame left unfinished this long is dropped
};

enum class SimState { AwaitScan, AwaitBoot, Service };

struct TrafficEntry {
    bool fromTool = true; // false: sent by the phone
    QByteArray bytes;     // one request frame, or one reply as built (before line faults)
};

class SimPhone {
public:
    static constexpr qint32 BootSpeed = 57600;
    static constexpr qint32 FastSpeed = 115200;

    explicit SimPhone(SimConfig config = {});

    [[nodiscard]] SimConfig& config() { return config_; }
    [[nodiscard]] const SimConfig& config() const { return config_; }
    [[nodiscard]] FaultPlan& faults() { return faults_; }

    // Feeds bytes that arrived while the tool's port ran at toolBaud; returns what the phone sends
    // back, in order.
    [[nodiscard]] Emissions receive(const QByteArray& bytes, qint32 toolBaud);

    // Blocks held, ascending by number. setBlocks also applies the configured capacities.
    [[nodiscard]] x45::BlockList blocks() const { return eeprom_.blocks(); }
    void setBlocks(const x45::BlockList& blocks);
    [[nodiscard]] SimEeprom& eeprom() { return eeprom_; }
    [[nodiscard]] const SimEeprom& eeprom() const { return eeprom_; }

    [[nodiscard]] SimState state() const { return state_; }
    // The speed the phone listens and answers at.
    [[nodiscard]] qint32 speed() const { return speed_; }
    // Back to the state after power-on: awaiting the scan at 57600 (blocks kept).
    void reset();

    // Every frame the tool sent in service mode (malformed ones included), exact bytes.
    [[nodiscard]] const QList<QByteArray>& requests() const { return requests_; }
    // Every reply built, before line faults were applied.
    [[nodiscard]] const QList<QByteArray>& replies() const { return replies_; }
    // Both directions in order, for logs.
    [[nodiscard]] const QList<TrafficEntry>& traffic() const { return traffic_; }
    [[nodiscard]] int malformedCount() const { return static_cast<int>(malformed_.size()); }
    [[nodiscard]] const QStringList& malformedReasons() const { return malformed_; }
    // Well-formed requests the phone declined (no room, unfinished block).
    [[nodiscard]] const QStringList& refusals() const { return refusals_; }
    [[nodiscard]] int sessionsStarted() const { return sessions_; }
    void clearLogs();
    // Forgets the frames logged so far but keeps the malformed and refusal records (a long run).
    void clearTraffic();

private:
    void feedScan(quint8 byte, qint32 toolBaud, Emissions& out);
    void feedBoot(quint8 byte, qint32 toolBaud, Emissions& out);
    void handleFrame(const QByteArray& frame, qint32 toolBaud, Emissions& out);
    // Returns the reply, or nullopt when the phone stays silent.
    std::optional<QByteArray> sessionReply(const QByteArray& frame);
    std::optional<QByteArray> blockReply(const QByteArray& frame);
    // False (and counted as malformed) when a block request breaks its layout.
    bool wellFormedBlockRequest(const QByteArray& frame);
    // The replies to the requests about a whole area: highest number, space, erase, collection.
    QByteArray areaReply(quint8 sub);
    // The three steps of a block write: its announcement, each chunk of data, and its close.
    QByteArray announceWrite(quint8 sub, int id, const QByteArray& frame);
    std::optional<QByteArray> writeChunk(quint8 sub, int id, const QByteArray& frame);
    std::optional<QByteArray> closeWrite(quint8 sub, int id, const QByteArray& frame);
    QByteArray refuse(quint8 sub, const QString& why);
    void malformed(const QString& reason, const QByteArray& bytes);
    // Puts a reply (after interim replies, latency and faults) on the line; false when a fault
    // swallowed it.
    bool emitReply(int cmd, int sub, const QByteArray& reply, Emissions& out);

    SimConfig config_;
    FaultPlan faults_;
    SimEeprom eeprom_;
    QByteArray bootImage_;

    SimState state_ = SimState::AwaitScan;
    qint32 speed_ = BootSpeed;
    QByteArray pending_; // bytes of an unfinished frame or boot transfer
    QElapsedTimer lastByte_;

    // The last request and its clean reply: an identical request right after it is a resend
    // because the reply was lost, and gets the same answer without being carried out again.
    QByteArray lastRequest_;
    QByteArray lastReply_;

    struct PendingWrite {
        int id = -1;
        int length = 0;
        quint8 version = 0;
        QByteArray data;
    };
    std::optional<PendingWrite> write_;

    QList<QByteArray> requests_;
    QList<QByteArray> replies_;
    QList<TrafficEntry> traffic_;
    QStringList malformed_;
    QStringList refusals_;
    int sessions_ = 0;
};

// The 104-byte service boot image the phone expects, from the resource ":/ServBootBin".
[[nodiscard]] QByteArray serviceBootImage();

} // namespace x45sim
