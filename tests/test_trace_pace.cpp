// The link's trace (one exchange of each outcome, repeats folded, old lines dropped) and the pace
// of a run (rate and time left over a sliding window, block n of N from the transfers).

#include "fakeport.h"
#include "transferrig.h"

#include "link/linktrace.h"
#include "link/protocol.h"
#include "transfer/progressrate.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace x45;
using namespace x45::test;

namespace {

// The link on a scripted port, traced on a clock the test moves.
struct TracedLink {
    FakePort port;
    Link link{port};
    qint64 now = 0;
    LinkTrace trace{1 << 20, [this] { return now; }};
    TracedLink() {
        QString error;
        port.open(&error);
        trace.restart();
        link.setTrace(&trace);
    }
    // Every line after the heading, without the time column.
    QStringList lines() const {
        QStringList out;
        for (const QString& l : QString::fromUtf8(trace.text()).split('\n', Qt::SkipEmptyParts))
            if (!l.startsWith('#')) out << l.mid(11).simplified();
        return out;
    }
};

BlockRequest infoRequest(bool interim = false) {
    BlockRequest req;
    req.sub = proto::BlockInfoQuery;
    req.frame = Link::blockFrame(req.sub, wordToStr(5));
    req.timeout = 60ms;
    req.noSuchBlock = true;
    req.interim = interim;
    req.minLength = 5;
    return req;
}

// "<- verdict 14 05 ..." as lines() shows a received line.
QString in(const char* verdict, const QByteArray& bytes) {
    return QStringLiteral("<- %1 %2").arg(QLatin1String(verdict), QString::fromLatin1(bytes.toHex(' ').toUpper())).trimmed();
}

QByteArray spoiled(QByteArray bytes, int at) {
    bytes[at] = char(bytes[at] ^ 0x40);
    return bytes;
}

} // namespace

TEST(Trace, OneExchangeOfEachOutcome) {
    const QByteArray good = blockReply(0x05, hex("03 00 02"));
    const QString sent = QStringLiteral("-> BlockInfoQuery 5 14 04 10 05 05 00 00");
    struct Case {
        const char* verdict;
        QByteArray reply; // empty: none
    };
    const Case cases[] = {
        {"accepted", good},
        {"no such block", blockReply(proto::NoSuchBlock, {})},
        {"bad header", spoiled(good, 2)},
        {"bad trailer", spoiled(good, 7)},
        {"wrong sub-command", blockReply(0x15, hex("03 00 02"))},
        {"wrong length", blockReply(0x05, hex("03"))},
        {"extra bytes", good + hex("AA")},
        {"cut short", good.left(4)},
        {"time-out", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verdict);
        TracedLink t;
        if (c.reply.isEmpty())
            t.port.silentNext();
        else
            t.port.replyNext(c.reply);
        (void)t.link.requestBlock(infoRequest(), 1);
        EXPECT_EQ(t.lines(), QStringList({sent, in(c.verdict, c.reply)}));
    }

    // Interim replies are waited through; a reply left over from a failed attempt is dropped as
    // stale before the sync query, whose own reply puts the link back in step.
    TracedLink t;
    t.now = 7;
    t.port.replyNext({{blockReply(proto::Interim, {})}, {good, 5}});
    EXPECT_TRUE(t.link.requestBlock(infoRequest(true), 1).isOk());
    t.port.silentNext();
    EXPECT_TRUE(t.link.requestBlock(infoRequest(), 1).is(x45::ErrorKind::NoReply));
    t.port.preload(good); // came after its wait had ended
    t.port.replyNext(blockReply(proto::EEPSpaceQuery, QByteArray(12, '\0')));
    t.port.replyNext(good);
    EXPECT_TRUE(t.link.requestBlock(infoRequest(), 1).isOk());
    t.link.refuseReply();
    EXPECT_EQ(t.lines(),
              QStringList({sent, in("interim", blockReply(proto::Interim, {})),
                           in("accepted", good), sent, in("time-out", {}), in("stale", good),
                           "-> sync EEPSpaceQuery 14 02 16 08 08",
                           in("resynchronised", blockReply(0x08, QByteArray(12, '\0'))), sent,
                           in("accepted", good),
                           "-- the reply above cannot be the one asked for: refused"}));
    EXPECT_TRUE(QString::fromUtf8(t.trace.text()).contains(
        QStringLiteral("\n        7  ->  BlockInfoQuery 5          14 04 10 05 05 00 00\n")))
        << "milliseconds right-aligned, then the direction, the name and the bytes";
    EXPECT_EQ(t.link.counters().bytesSent, t.port.allWritten().size());
    EXPECT_EQ(t.link.counters().bytesReceived, 3 * good.size() + 5 + 17);
}

TEST(Trace, RepeatsFoldAndOldLinesDrop) {
    qint64 now = 0;
    QByteArray sunk;
    LinkTrace trace(200, [&now] { return now; });
    trace.setSink([&sunk](const QByteArray& line) { sunk += line; });
    trace.sent(hex("55"), false, QStringLiteral("scan")); // before restart: not recorded
    EXPECT_TRUE(trace.isEmpty());
    trace.restart();
    for (now = 0; now < 300; now += 100)
        trace.sent(hex("55"), false, QStringLiteral("scan"));
    trace.received(hex("A0"), TraceNote::Accepted);
    const QStringList lines = QString::fromUtf8(trace.text()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1].simplified(), "0 -> scan 55");
    EXPECT_EQ(lines[2].simplified(), "200 .. the line above 2 more times");
    EXPECT_EQ(lines[3].simplified(), "300 <- accepted A0");

    for (int i = 0; i < 10; ++i)
        trace.remark(QStringLiteral("remark %1").arg(i));
    const QString kept = QString::fromUtf8(trace.text());
    EXPECT_TRUE(kept.contains("older lines were dropped")) << kept.toStdString();
    EXPECT_TRUE(kept.contains("remark 9"));
    EXPECT_FALSE(kept.contains("scan"));
    EXPECT_TRUE(sunk.contains("scan") && sunk.contains("remark 0")) << "the sink gets all";
    trace.clear();
    EXPECT_FALSE(trace.started());
    EXPECT_TRUE(trace.text().isEmpty());
}

TEST(Pace, RateAndTimeLeftOverASlidingWindow) {
    qint64 now = 0;
    ProgressRate rate([&now] { return now; });
    rate.begin(100, 5000);
    ProgressDetail d = rate.detail();
    EXPECT_EQ(d.step, 1);
    EXPECT_EQ(d.steps, 100);
    EXPECT_LT(d.bytesPerSecond, 0) << "no rate before a second has gone by";
    EXPECT_LT(d.secondsLeft, 0);

    // 20 blocks of 1000 bytes, 100 ms each: 10 kB/s, 80 blocks left take 8 s.
    for (int done = 1; done <= 20; ++done) {
        now += 100;
        rate.sample(done, 5000 + done * 1000);
    }
    d = rate.detail();
    EXPECT_EQ(d.step, 21);
    EXPECT_DOUBLE_EQ(d.bytesPerSecond, 10000);
    EXPECT_EQ(d.secondsLeft, 8);

    // Slower blocks from here on: once the window holds only them, the figures are theirs.
    for (int done = 21; done <= 40; ++done) {
        now += 500;
        rate.sample(done, 25000 + (done - 20) * 250);
    }
    d = rate.detail();
    EXPECT_DOUBLE_EQ(d.bytesPerSecond, 500);
    EXPECT_EQ(d.secondsLeft, 30); // 60 blocks at 0.5 s

    // One long block: no block finished within the window, so the whole run's pace counts
    // (40 blocks in 12 s), and the rate still moves with the bytes.
    for (int i = 0; i < 12; ++i) {
        now += 1000;
        rate.sample(40, 30000 + i * 2000);
    }
    d = rate.detail();
    EXPECT_EQ(d.step, 41);
    EXPECT_NEAR(d.bytesPerSecond, 2000, 1);
    EXPECT_EQ(d.secondsLeft, 36); // 60 blocks at 24 s / 40

    rate.sample(100, 90000);
    d = rate.detail();
    EXPECT_EQ(d.step, 100);
    EXPECT_EQ(d.secondsLeft, 0);
    rate.end();
    EXPECT_TRUE(rate.detail().empty());
}

TEST(Pace, TransfersCountTheirBlocksAndEndEmpty) {
    TransferRig rig;
    rig.phone.config().maxEElite = 9;
    rig.phone.config().maxEEfull = 5001;
    rig.phone.setBlocks({{1, "one", 1}, {5001, "full", 2}});
    BlockList blocks;
    ASSERT_TRUE(rig.transfer.loadAll(blocks).completed());
    const std::vector<ProgressDetail>& d = rig.ui.details;
    ASSERT_GE(d.size(), 3u);
    EXPECT_EQ(d.front().step, 1);
    EXPECT_EQ(d.front().steps, 12) << "numbers 0..9 and 5000..5001";
    EXPECT_EQ(d[d.size() - 2].step, 12);
    EXPECT_TRUE(d.back().empty()) << "the run's end clears the pace";
    EXPECT_EQ(rig.link.counters().bytesSent, rig.port.allWritten().size());

    // "Save selected" counts the rows it is told will be written, or else every row.
    for (const int toWrite : {1, -1}) {
        rig.ui.details.clear();
        ASSERT_TRUE(
            rig.transfer.saveSelected(blocks, [](int row) { return row == 1; }, toWrite).completed());
        ASSERT_GE(rig.ui.details.size(), 2u);
        EXPECT_EQ(rig.ui.details.front().steps, toWrite < 0 ? 2 : 1);
        EXPECT_EQ(rig.ui.details[rig.ui.details.size() - 2].step, toWrite < 0 ? 2 : 1);
        EXPECT_TRUE(rig.ui.details.back().empty());
    }
}
