#include "transfer.h"

namespace x45 {

PhoneTransfer::PhoneTransfer(Link& link, Interaction& ui, std::function<void()> refreshSpace)
    : core_(link, ui, std::move(refreshSpace)) {}

RunResult PhoneTransfer::loadCustom(BlockList& blocks) {
    core_.startRun(QStringLiteral("Reading..."));
    reader_.begin();
    return x45::loadCustom(core_, reader_, blocks, core_.ui.askBlockList());
}

RunResult PhoneTransfer::loadCustom(BlockList& blocks, const QString& typedList) {
    core_.startRun(QStringLiteral("Reading..."));
    reader_.begin();
    return x45::loadCustom(core_, reader_, blocks, typedList);
}

} // namespace x45
