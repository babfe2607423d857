// "Delete directly": the confirmation, the requests, Retry/Cancel, and which blocks leave the list.

#include "transferrig.h"

#include <gtest/gtest.h>

using namespace x45;
using namespace x45::test;

namespace {

using Removals = QVector<QVector<qint16>>;

struct DeleteRig : TransferRig {
    DeleteRig() {
        phone.setBlocks(list);
        ui.messageAnswers = {Button::Yes};
    }
    const BlockList list = {{3, "three", 0}, {12, "twelve", 1}, {5012, "x", 2}};
    Removals removals;
    std::function<void(const QVector<qint16>&)> remove = [this](const QVector<qint16>& ids) {
        removals.append(ids);
    };
};

} // namespace

TEST(DeleteDirectly, DeletesSelectedBlocksAndReportsTheirNumbers) {
    DeleteRig rig;
    const RunResult r = rig.transfer.deleteDirectly(rig.list, {2, 1}, rig.remove);
    EXPECT_EQ(r.end, Outcome::Done);
    EXPECT_EQ(r.done, 2);
    EXPECT_EQ(rig.frames(),
              (QList<QByteArray>{hex("14 04 10 07 0C 00 0B"), hex("14 04 10 17 94 13 90")}));
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(boxOf(rig.ui.messages[0]),
              (Box{"Are you sure you want to delete 2 blocks from the phone?\nBlocks: 12, 5012",
                   "Confirm delete from phone", Buttons::YesNo, Icon::None, Button::Yes}));
    EXPECT_EQ(rig.removals, (Removals{{12, 5012}}));
    EXPECT_EQ(rig.refreshes, 1);
    EXPECT_EQ(rig.ui.statuses, (QStringList{"Deleting...", "Ready"}));
    EXPECT_EQ(rig.phone.blocks(), (BlockList{{3, "three", 0}}));
}

TEST(DeleteDirectly, NoAndNothingSelected) {
    {
        DeleteRig rig;
        rig.ui.messageAnswers = {Button::No};
        EXPECT_EQ(rig.transfer.deleteDirectly(rig.list, {0}, rig.remove).end, Outcome::Cancelled);
        EXPECT_TRUE(rig.frames().isEmpty());
        EXPECT_TRUE(rig.removals.isEmpty());
        EXPECT_EQ(rig.refreshes, 0);
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Ready"));
    }
    {
        DeleteRig rig;
        const RunResult r = rig.transfer.deleteDirectly(rig.list, {}, rig.remove);
        EXPECT_EQ(r.end, Outcome::Done);
        EXPECT_EQ(rig.ui.messages[0].text,
                  QStringLiteral("Are you sure you want to delete 0 blocks from the phone?"));
        EXPECT_TRUE(rig.frames().isEmpty());
        EXPECT_EQ(rig.removals, (Removals{{}}));
        EXPECT_EQ(rig.refreshes, 1);
    }
    {
        // Empty list: nothing at all; rows out of range are ignored.
        DeleteRig rig;
        EXPECT_EQ(rig.transfer.deleteDirectly({}, {0}, rig.remove).end, Outcome::Cancelled);
        EXPECT_TRUE(rig.ui.messages.empty());
        EXPECT_EQ(rig.transfer.deleteDirectly(rig.list, {7, -1, 0}, rig.remove).done, 1);
        EXPECT_EQ(rig.frames().size(), 1);
    }
}

TEST(DeleteDirectly, RetryAndCancel) {
    const QString failed = "Error №21 (BlockDeleteQuery) while deleting block № 5012...";
    for (const Button answer : {Button::Retry, Button::Cancel}) {
        const bool retry = answer == Button::Retry;
        SCOPED_TRACE(retry ? "Retry" : "Cancel");
        DeleteRig rig;
        rig.phone.faults().add(blockFault(x45sim::FaultKind::BadTrailer, 0x17, 7));
        rig.ui.messageAnswers = {Button::Yes, answer};
        const RunResult r = rig.transfer.deleteDirectly(rig.list, {1, 2}, rig.remove);
        EXPECT_EQ(r.end, retry ? Outcome::Done : Outcome::Stopped);
        EXPECT_EQ(r.done, retry ? 2 : 1);
        EXPECT_EQ(rig.countSub(0x17), retry ? 8 : 5);
        ASSERT_EQ(rig.ui.messages.size(), retry ? 2u : 3u);
        EXPECT_EQ(boxOf(rig.ui.messages[1]),
                  (Box{failed, {}, Buttons::RetryCancel, Icon::Exclamation, Button::Retry}));
        // After Cancel the person learns what was deleted and which block is in doubt.
        if (!retry) {
            EXPECT_TRUE(rig.ui.messages[2].text.contains("1 of 2") &&
                        rig.ui.messages[2].text.contains("5012"));
        }
        // Cancel: the blocks are gone from the phone (it carried out the request whose reply was
        // garbled), yet the list keeps every row so it can be written back, and the space is not
        // refreshed.
        EXPECT_EQ(rig.removals, (retry ? Removals{{12, 5012}} : Removals{}));
        EXPECT_EQ(rig.refreshes, retry ? 1 : 0);
        EXPECT_EQ(rig.ui.lastStatus(), retry ? QStringLiteral("Ready") : QStringLiteral("Stopped."));
        EXPECT_EQ(rig.phone.blocks(), (BlockList{{3, "three", 0}}));
    }
}

TEST(DeleteDirectly, PulledCableOrStopEndsTheRunWithoutRemovingRows) {
    for (const bool unplug : {true, false}) {
        SCOPED_TRACE(unplug ? "cable pulled" : "Stop");
        DeleteRig rig;
        if (unplug)
            rig.unplugAfter(0x07, -1, QStringLiteral("No such device"));
        else
            rig.stopAfter(0x07, 3); // Ctrl-C, SIGTERM: the block in hand is finished first
        const RunResult r = rig.transfer.deleteDirectly(rig.list, {0, 1, 2}, rig.remove);
        EXPECT_EQ(r.end, unplug ? Outcome::PortLost : Outcome::Stopped);
        EXPECT_EQ(r.done, unplug ? 0 : 1);
        EXPECT_TRUE(rig.removals.isEmpty());
        EXPECT_EQ(rig.refreshes, 0);
        EXPECT_EQ(rig.countSub(0x07), 1);
        // The confirmation, then the lost port (no Retry box) or what the stop left.
        ASSERT_EQ(rig.ui.messages.size(), 2u);
        if (unplug) {
            EXPECT_EQ(rig.ui.messages[1].icon, Icon::Critical);
            EXPECT_TRUE(rig.ui.messages[1].text.contains(rig.port.portName()));
        } else {
            EXPECT_TRUE(rig.ui.messages[1].text.contains("1 of 3"));
            EXPECT_EQ(rig.phone.blocks(), (BlockList{{12, "twelve", 1}, {5012, "x", 2}}));
        }
        EXPECT_EQ(rig.ui.lastStatus(), QStringLiteral("Stopped."));
    }
}
