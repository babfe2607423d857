#pragma once
// Session start and end: the boot handshake, the readiness check, the speed switch, the
// identification of the phone, and the EEPROM space query.

#include "base/bytes.h"
#include "base/outcome.h"
#include "base/status.h"
#include "base/stoprequest.h"
#include "person/interaction.h"
#include "link.h"

#include <QObject>
#include <QString>

namespace x45 {

// Identity of the phone. Values survive into later sessions until a new reply replaces them.
struct PhoneIdentity {
    quint16 PhoneHWid = 0; // held as the 16-bit pattern
    QString PhoneModel;
    quint16 PhoneSWVer = 0;
    QString PhoneLangGroup;
    QString PhoneIMEI;
};

// Free space of one EEPROM area, in bytes.
struct EEPSpace {
    qint32 FreeInBuffer = 0;
    qint32 FreeAtAll = 0;
    qint32 FreeForDeleted = 0;
};


class Session : public QObject {
    Q_OBJECT
public:
    Session(Link& link, Interaction& ui, QObject* parent = nullptr);

    PhoneIdentity identity;
    EEPSpace EEliteSpace;
    EEPSpace EEfullSpace;
    // The service boot image, loaded from the resource "ServBootBin".
    ByteStr BootImage;

    [[nodiscard]] bool isOpen() const { return open_; }
    [[nodiscard]] Link& link() const { return link_; }
    [[nodiscard]] Interaction& ui() const { return ui_; }
    // The start sequence's stop request.
    [[nodiscard]] StopRequest& stopRequest() { return stop_; }
    // A bound on the scan for a phone (zero: none). A start whose scan finds no phone within it
    // ends as stopped, and scanRanOut() then says so.
    void setScanLimit(std::chrono::milliseconds limit) { scanLimit_ = limit; }
    [[nodiscard]] bool scanRanOut() const { return scanRanOut_; }

    // Runs the start sequence on the named port. Clears the stop request first; the person's
    // "Stop" sets it. Every message is shown through ui before returning. Done: the phone is
    // identified and the session open at 115200 (or 57600 when the switch was refused). Stopped:
    // a stop request, or the readiness check failed five times. Failed: an error was shown. The
    // port is closed unless Done.
    Outcome start(const QString& portName);
    // Sends the end-of-session message and closes the port.
    void end();

    // Done when the phone acknowledged the boot image; Stopped, Failed (no acknowledgement), or
    // PortLost while scanning or booting.
    Outcome sendServiceBoot();
    // One readiness exchange; true when the phone answered that it is ready.
    [[nodiscard]] bool PingQuery();
    // The speed switch request; true when the phone accepted it (the caller then reopens fast).
    [[nodiscard]] bool BaudQuery();
    // Fills identity.PhoneHWid; false when the reply was refused or missing.
    [[nodiscard]] bool ChipsetQuery();
    // One identification query (model 0x07, SW 0x03, language group 0x09, IMEI 0x0A): fills its
    // field from an accepted reply; NoReply when none came in time, Refused for a wrong one.
    Status InfoQuery(quint8 subCmd);

    // Value extraction from a complete reply frame (header included).
    [[nodiscard]] static QString extractName(const ByteStr& frame);
    [[nodiscard]] static quint16 extractSWVer(const ByteStr& frame);
    [[nodiscard]] static QString extractIMEI(const ByteStr& frame);
    // The three counters of an accepted space reply frame.
    [[nodiscard]] static EEPSpace parseSpaceReply(const ByteStr& frame);

    // Queries the free space of both areas; emits spaceChanged().
    void refreshSpace();
    // Up to five attempts; writes space only from an accepted reply of at least 17 bytes.
    bool EEPSpaceQuery(bool eefull, EEPSpace& space);

signals:
    void identified();   // identity holds the values of this start
    void spaceChanged(); // the two space records were refreshed
    void ended();        // the session was ended or the start did not open one

private:
    void stopPath();
    // The chipset and identification queries of the start; a failure says what to show.
    Status identify();
    Outcome fail(const QString& text);
    bool openPort(const PortSettings& settings);

    Link& link_;
    Interaction& ui_;
    bool open_ = false;
    std::chrono::milliseconds scanLimit_{0};
    bool scanRanOut_ = false;
    StopRequest stop_;
    QString openError_;
};

// Device name for the fixed port entries "COM1".."COM4" (index 0..3) on this platform.
[[nodiscard]] QString comPortDevice(int index);
// What to do about a port that would not open, from the system's reason.
[[nodiscard]] QString openFailureAdvice(const QString& reason);

} // namespace x45
