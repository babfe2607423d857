#pragma once
// A record of the link: every frame both ways with the time since the trace started, its bytes in
// hex and what the tool made of it. The link feeds it; the command line hands each line to a file
// as it is made, the window keeps the last lines in memory and saves them on request.
//
// A line: milliseconds since the start, the direction ("->" to the phone, "<-" from it, "--" a
// remark of the tool), what it was (the request's name, or the verdict on the reply), the bytes.
//      1203  ->  BlockInfoQuery 5000      14 04 10 15 88 13 8E
//      1209  <-  accepted                 14 06 12 15 03 00 02 00
// A line that repeats the one before it exactly (the scan byte while the phone is off) is
// counted instead of written again.

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>

namespace x45 {

// What the tool made of bytes from the phone.
enum class TraceNote {
    Accepted,        // the reply asked for
    NoSuchBlock,     // the phone's well-formed "no such block" marker
    Interim,         // "still working": waited again without resending
    TooManyInterims, // one interim reply too many: the attempt failed
    BadHeader,       // the header check byte is not Cmd XOR Length
    BadTrailer,      // the last byte is not the XOR of the bytes before it
    ExtraBytes,      // a whole frame with bytes behind it
    WrongCommand,    // Cmd is not the request's
    WrongSub,        // SubCmd is not the request's
    WrongLength,     // a good frame too short for its fields, or with more or fewer data than asked
    Refused,         // a session reply whose fixed bytes or fields are wrong
    TimedOut,        // nothing came in time (or the reply came while the time ran out)
    Cut,             // part of a reply, then nothing more
    Stale,           // dropped: belongs to an earlier request, or nobody asked for it
    TooSoon,         // complete sooner than the request and the reply take on the wire: it was
                     // on its way before the request, so it is an earlier request's reply
    Resynchronised,  // the sync query's own reply: the link is back in step
    PortLost,        // the port went away while the reply was awaited
};

class LinkTrace {
public:
    // Milliseconds on a monotonic clock; tests give their own.
    using Clock = std::function<qint64()>;
    // Lines kept in memory: the last ones up to this many bytes of text. 8 MiB holds about ten
    // "Load all" runs of the demo phone (5,582 numbers, 219 blocks: 750 KB each); older lines
    // are dropped and a line at the top of text() says how many.
    static constexpr qsizetype DefaultKeepBytes = qsizetype(8) * 1024 * 1024;

    // keepBytes 0: nothing is kept (every line goes to the sink only).
    explicit LinkTrace(qsizetype keepBytes = DefaultKeepBytes, Clock clock = {});

    // Receives every line as it is made, with its line end.
    void setSink(std::function<void(const QByteArray& line)> sink) { sink_ = std::move(sink); }
    // Starts afresh: no lines, time 0 from now, the heading line (also to the sink).
    void restart();
    // Drops every line kept; nothing is recorded into text() until restart().
    void clear();

    // A frame or raw bytes written to the phone; the name is worked out from the bytes when
    // `what` is empty. sync: a query that only brings the link back into step.
    void sent(const QByteArray& bytes, bool sync = false, const QString& what = {});
    void received(const QByteArray& bytes, TraceNote note);
    void remark(const QString& text);
    // Writes out a pending count of repeated lines (to the sink).
    void flush();

    // The heading, a line about dropped lines if any, and every line kept.
    [[nodiscard]] QByteArray text() const;
    [[nodiscard]] bool isEmpty() const { return lines_.empty() && repeats_ == 0; }
    [[nodiscard]] bool started() const { return started_; }
    [[nodiscard]] qsizetype droppedLines() const { return dropped_; }

    [[nodiscard]] static QString noteText(TraceNote note);
    // "BlockInfoQuery 5000", "PingQuery", ...; "frame" for bytes it does not know.
    [[nodiscard]] static QString requestName(const QByteArray& frame);

private:
    void add(const char* dir, const QString& what, const QByteArray& bytes);
    void put(const QByteArray& line);
    [[nodiscard]] QByteArray repeatLine() const;

    Clock clock_;
    qsizetype keepBytes_;
    std::function<void(const QByteArray&)> sink_;
    QByteArray heading_;
    std::deque<QByteArray> lines_;
    qsizetype keptBytes_ = 0;
    qsizetype dropped_ = 0;
    qint64 start_ = 0;
    bool started_ = false;
    QByteArray lastKey_; // direction, what and bytes of the last line written
    int repeats_ = 0;    // times it came again since
    qint64 lastRepeatMs_ = 0;
};

} // namespace x45
