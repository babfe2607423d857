#pragma once
// The conclusions a read run has drawn, in the order it drew them, and which of them a shift of
// replies could have made wrong.
//
// Replies carry no block number: a reply that comes twice leaves the tool one reply behind (a
// lag), so that every later request takes the reply of the one before it, unseen while the
// replies look alike. Under a lag of s replies a conclusion changes only where the reply taken
// differs in meaning from the request's own, that is next to a change between held and absent:
//  - in a stretch of numbers the phone does not hold every reply is "no such block", so no
//    conclusion there changes, however long the stretch;
//  - a held block whose request takes an older "no such block" is concluded absent; its own
//    announcement then reaches a later request, whose data request cannot accept what follows:
//    the lag shows within s + 1 requests, so those wrong conclusions are among the last drawn;
//  - a held block can take an older block's announcement and data only when the requests
//    before it line up with its own (held blocks in a row), so the last held blocks drawn since
//    the link was last proven in step are in doubt too.
// The lag is measured when it shows: the sync that brings the link back into step drops the
// replies still on their way, one for each request the tool is behind (LinkCounters::strayFrames).

#include <QVector>
#include <QtGlobal>
#include <deque>

namespace x45 {

class ReadHistory {
public:
    // A lag beyond this is taken as this: the line is then more broken than retries can mend, and
    // the numbers in doubt stay bounded.
    static constexpr int MaxLag = 64;

    // A run begins: nothing drawn, the link in step.
    void clear();
    // A conclusion drawn (a first read or a re-read): the block is held or not.
    void add(qint32 n, bool held);
    // The link was proven in step just now: every conclusion drawn so far stands.
    void anchor();
    // The numbers whose conclusion a lag of `lag` replies could have made wrong, ascending, each
    // once: the last 2 lag + 2 conclusions and the last lag + 1 held blocks since the anchor.
    [[nodiscard]] QVector<qint32> inDoubt(int lag) const;
    // Numbers concluded absent in a row since the last held block or anchor.
    [[nodiscard]] int absentRun() const { return absentRun_; }

private:
    std::deque<qint32> recent_; // the last conclusions since the anchor, oldest first
    std::deque<qint32> held_;   // the last held blocks among them
    int absentRun_ = 0;
};

} // namespace x45
