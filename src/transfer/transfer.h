#pragma once
// Moving blocks between the phone's EEPROM and the Phone's list: read all, read chosen, write all,
// write selected, delete. One implementation for the window, the command line and the tests; every
// question and every report goes through Interaction.
//
// The operations are blocking calls on the thread that owns the link; the caller gives them a
// list of its own and takes the result back. Each clears its stop request when it starts and
// tests it between blocks (reads between exchanges); the person's "Stop" only sets it, from any
// thread.

#include "blocks/eepblock.h"
#include "deleter.h"
#include "link/session.h"
#include "precheck.h"
#include "reader.h"
#include "writer.h"

namespace x45 {

class PhoneTransfer {
public:
    // refreshSpace queries and shows the free space of both areas; an empty function skips the
    // refreshes.
    PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace = {});
    explicit PhoneTransfer(Session& session)
        : PhoneTransfer(session.link(), session.ui(), [&session] { session.refreshSpace(); }) {}

    // "Load all": empties blocks, then reads every number of both areas in ascending order. A run
    // that does not complete leaves blocks empty.
    RunResult loadAll(BlockList& blocks) { return x45::loadAll(core_, reader_, blocks); }
    // "Load custom...": asks the person for the numbers (or takes the typed list given, the
    // command line's --blocks) and merges the blocks read into blocks (a block already there is
    // replaced in place after the person agrees).
    RunResult loadCustom(BlockList& blocks);
    RunResult loadCustom(BlockList& blocks, const QString& typedList);
    // "Save all": garbage collection of EEfull, erase of EElite, then every block in list order.
    // Before anything is sent every block is checked (precheck.h), and with a hardware-id rule,
    // blocks of another or no known hardware id are written only when the person says Yes;
    // otherwise the run ends Cancelled, nothing sent.
    RunResult saveAll(const BlockList& blocks,
                      const std::optional<HWidRule>& hwidRule = std::nullopt) {
        return writer_.saveAll(blocks, hwidRule);
    }
    // "Save selected": writes row i only when selected(i) is true at the moment the run reaches
    // it. The rows selected when the run starts are checked as "Save all" checks its blocks; a
    // row selected later is written only when it passes the checks without a question. toWrite,
    // when the caller knows it, is the number of rows to be written, for the pace.
    RunResult saveSelected(const BlockList& blocks, const std::function<bool(int row)>& selected,
                           int toWrite = -1,
                           const std::optional<HWidRule>& hwidRule = std::nullopt) {
        return writer_.saveSelected(blocks, selected, toWrite, hwidRule);
    }
    // "Delete directly" (deleter.h).
    RunResult
    deleteDirectly(const BlockList& blocks, const QVector<int>& selectedRows,
                   const std::function<void(const QVector<qint16>& deletedIds)>& removeDeleted) {
        return x45::deleteDirectly(core_, blocks, selectedRows, removeDeleted);
    }

    // The single steps, for the tests and the command line.
    BlockRead readBlock(qint32 n) { return reader_.readBlock(n); }
    [[nodiscard]] std::optional<qint32> maxBlockQuery(bool eefull) {
        return reader_.maxBlockQuery(eefull);
    }
    Outcome writeBlock(const EEPBlock& block) { return writer_.writeBlock(block); }
    Outcome eraseArea(bool eefull) { return writer_.eraseArea(eefull); }
    Outcome collectGarbage() { return writer_.collectGarbage(); }
    [[nodiscard]] bool deleteBlock(qint32 n) { return x45::deleteBlock(core_, n); }

    // Every block read twice and kept when two reads agree; every written block read back.
    void setVerify(bool on) { core_.verify = on; }
    [[nodiscard]] bool verify() const { return core_.verify; }
    // The running operation's stop request; set by the person's "Stop" and by the operation
    // itself on Abort or Cancel.
    [[nodiscard]] StopRequest& stopRequest() { return core_.stop; }
    // True once the port went away in this object's lifetime; the person has been told.
    [[nodiscard]] bool portLost() const { return core_.link.portLost(); }

private:
    TransferCore core_;
    BlockReader reader_{core_};
    BlockWriter writer_{core_, reader_};
};

} // namespace x45
