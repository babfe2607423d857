// The block lists: sort, delete from list, selection, putting and merging blocks, the rows'
// texts, copying between the lists with the overwrite question, comparing them, the hex dump, the
// description table, and the lenient and strict reading of typed numbers and block lists.

#include "blockids.h"
#include "blocks/blocklist.h"
#include "blocks/bytediff.h"
#include "blocks/compare.h"
#include "blocks/copy.h"
#include "blocks/descriptions.h"
#include "blocks/hexdump.h"
#include "blocks/number.h"
#include "blocks/rowtext.h"
#include "formats_support.h"
#include "scripted.h"
#include "tempfolder.h"
#include "transfer/parseblocklist.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

using namespace x45;
using namespace x45::test;
using Ids = QVector<qint16>;

namespace {

// Distinct block numbers in a shuffled order, each block carrying its number in its data so that
// a sort that loses or mixes up records is caught.
BlockList shuffledList(int n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<int> numbers(65536);
    std::iota(numbers.begin(), numbers.end(), LowestBlockNumber);
    std::shuffle(numbers.begin(), numbers.end(), gen);
    BlockList list;
    for (int i = 0; i < n; ++i) {
        const auto id = static_cast<qint16>(numbers[i]);
        list.append(blk(id, QByteArray::number(id), static_cast<quint8>(id & 0xFF)));
    }
    return list;
}

} // namespace

TEST(SortBlocks, ShuffledSortedReversedRepeatedAndSubranges) {
    // Up to a full list of distinct numbers, which must also end quickly.
    for (const int n : {0, 1, 2, 3, 7, 100, 5000, int(MaxBlocks)}) {
        for (unsigned seed = 1; seed <= (n == MaxBlocks ? 1u : 3u); ++seed) {
            BlockList list = shuffledList(n, seed);
            sortBlocks(list);
            ASSERT_EQ(list.size(), n);
            for (int i = 0; i < n; ++i) {
                ASSERT_TRUE(i == 0 || list[i - 1].BlockId < list[i].BlockId) << n << " " << i;
                ASSERT_EQ(list[i].Data, QByteArray::number(list[i].BlockId));
                ASSERT_EQ(list[i].BlockVer, static_cast<quint8>(list[i].BlockId & 0xFF));
            }
        }
    }
    BlockList asc;
    for (int id = LowestBlockNumber; id <= HighestBlockNumber; id += 97)
        asc.append(blk(static_cast<qint16>(id)));
    // Sorted, reversed, and repeats (not a state a list should reach, but the sort must not hang
    // or lose blocks).
    for (BlockList list : {asc, BlockList(asc.rbegin(), asc.rend()),
                           BlockList{blk(5), blk(1), blk(5), blk(5), blk(3), blk(1), blk(5)}}) {
        Ids expected = ids(list);
        std::sort(expected.begin(), expected.end());
        sortBlocks(list);
        EXPECT_EQ(ids(list), expected);
    }
    BlockList list = {blk(9), blk(4), blk(3), blk(2), blk(0)};
    sortBlocks(list, 1, 3);
    EXPECT_EQ(ids(list), (Ids{9, 2, 3, 4, 0}));
}

TEST(BlockList, RemoveRowsSelectionPutMergeAndPositions) {
    BlockList list = {blk(1, "a"), blk(2, "b"), blk(3, "c"), blk(4, "d"), blk(5, "e")};
    EXPECT_EQ(removeRows(list, {3, 1}), 2);
    EXPECT_EQ(list, BlockList({blk(1, "a"), blk(3, "c"), blk(5, "e")}));
    EXPECT_EQ(removeRows(list, {-1, 3, 99}), 0);
    EXPECT_EQ(removeRows(list, {2, 2, 0, 0}), 2);
    EXPECT_EQ(ids(list), Ids{3});

    // Two or more distinct rows in the list are the selection, else everything.
    const QVector<int> all = {0, 1, 2, 3};
    for (const QVector<int>& rows : {QVector<int>{}, {2}, {2, 2}, {2, 7}})
        EXPECT_EQ(selectedOrAll(4, rows), all);
    EXPECT_EQ(selectedOrAll(4, {3, 1}), (QVector<int>{1, 3}));
    EXPECT_TRUE(selectedOrAll(0, {0, 1}).isEmpty());

    // A number already there is replaced in place, all fields; others are appended.
    BlockList into = {blk(20, "a20", 1), blk(7, "a7", 1)};
    EXPECT_EQ(mergeBlocks(into, {blk(30, "b30", 2), blk(20, "b20", 2), blk(-5, "b-5", 2)}), 4);
    EXPECT_EQ(into, BlockList({blk(20, "b20", 2), blk(7, "a7", 1), blk(30, "b30", 2),
                               blk(-5, "b-5", 2)}));
    EXPECT_EQ(mergeBlocks(into, {blk(99, "x"), blk(99, "y")}), 5); // the later contents win
    EXPECT_EQ(into.last(), blk(99, "y"));
    const auto put = putBlock(into, blk(7, "new", 9));
    ASSERT_TRUE(put);
    EXPECT_EQ(put->row, 1);
    EXPECT_FALSE(put->appended);
    EXPECT_EQ(into[1], blk(7, "new", 9));

    // A full list takes no new number but still a replacement; a merge counts what it left out.
    BlockList full = shuffledList(int(MaxBlocks), 4);
    // The same shuffle one number longer: its last number is in none of `full`.
    const EEPBlock fresh = blk(ids(shuffledList(int(MaxBlocks) + 1, 4)).last());
    EXPECT_TRUE(putBlock(full, blk(full[5].BlockId, "x")));
    EXPECT_TRUE(putBlock(full, fresh).is(ErrorKind::Refused));
    EXPECT_EQ(mergeBlocks(full, {fresh, blk(full[9].BlockId, "y")}), MaxBlocks + 1);
    EXPECT_EQ(full.size(), MaxBlocks);
    EXPECT_EQ(full[9].Data, "y");

    BlockPositions pos(BlockList{blk(4), blk(LowestBlockNumber), blk(HighestBlockNumber), blk(4)});
    pos.noteAppended(5, 4);
    pos.noteAppended(4, 9); // the first position is kept
    for (const auto& [id, at] : {std::pair{4, 0}, {LowestBlockNumber, 1}, {HighestBlockNumber, 2},
                                 {5, 4}, {6, -1}})
        EXPECT_EQ(pos.find(qint16(id)), at) << id;
}

TEST(RowText, CellsAsTheViewsShowThem) {
    EXPECT_EQ(rowTexts(blk(5077, "abc", 2), "Lock code"),
              QStringList({" 5077", "EEfull", "2", "3", "Lock code"}));
    EXPECT_EQ(rowTexts(blk(4999, {}, 255), "  indented"),
              QStringList({" 4999", "EElite", "255", "0", "  indented"}));
    EXPECT_EQ(rowCellText(blk(5000), TypeColumnText, {}) + idText(-12) + idText(0) +
                  rowCellText(blk(1), 9, "x"),
              "EEfull-12 0");
}

namespace {

// Each copied row as "source>target", with "+" for an appended one.
std::string shown(const CopyResult& r) {
    QStringList out;
    for (const CopiedRow& row : r.rows)
        out << QStringLiteral("%1>%2%3").arg(row.sourceRow).arg(row.targetRow).arg(row.appended ? "+" : "");
    return out.join(' ').toStdString();
}

CopyResult copy(const BlockList& source, const QSet<int>& selected, BlockList& target,
                Interaction& ui, CopyDirection direction = CopyDirection::PhoneToUser) {
    return copyBlocks(
        source, [selected](int r) { return selected.contains(r); }, target, ui, direction);
}

} // namespace

TEST(CopyBlocks, AnswersPerBlockAndForAllCancelAndSelections) {
    // Source rows 0..4: 10 (new), 20 (exists), 30 (exists), 40 (new), 50 (exists).
    const BlockList source = {blk(10, "s10"), blk(20, "s20"), blk(30, "s30"), blk(40, "s40"),
                              blk(50, "s50")};
    const BlockList before = {blk(50, "t50"), blk(20, "t20"), blk(30, "t30")};
    const QSet<int> all = {0, 1, 2, 3, 4};
    using A = RewriteAnswer;
    const struct {
        std::deque<RewriteAnswer> answers;
        QSet<int> selected;
        int questions;
        bool cancelled;
        const char* rows;
        const char* after; // the blocks' data: "s" copied, "t" kept
    } cases[] = {
        {{A::Yes, A::No, A::Yes}, all, 3, false, "0>3+ 1>1 3>4+ 4>0", "s50 s20 t30 s10 s40"},
        {{A::YesAll}, all, 1, false, "0>3+ 1>1 2>2 3>4+ 4>0", "s50 s20 s30 s10 s40"},
        {{A::NoAll}, all, 1, false, "0>3+ 3>4+", "t50 t20 t30 s10 s40"},
        {{A::Yes, A::Cancel}, all, 2, true, "0>3+ 1>1", "t50 s20 t30 s10"},
        {{A(0), A(17)}, {1, 2}, 2, false, "", "t50 t20 t30"}, // unknown answers never overwrite
        {{}, {}, 0, false, "", "t50 t20 t30"},
        {{}, {3}, 0, false, "3>3+", "t50 t20 t30 s40"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        BlockList target = before;
        ScriptedInteraction ui;
        ui.rewriteAnswers = c.answers;
        ui.defaultRewriteAnswer = A::No;
        const CopyResult r = copy(source, c.selected, target, ui);
        EXPECT_EQ(ui.rewriteQuestions.size(), c.questions);
        EXPECT_EQ(r.cancelled, c.cancelled);
        EXPECT_EQ(shown(r), c.rows);
        QByteArrayList data;
        for (const EEPBlock& b : target) {
            EXPECT_EQ(b.Data.mid(1).toInt(), b.BlockId);
            data << b.Data;
        }
        EXPECT_EQ(data.join(' '), c.after);
    }
}

TEST(CopyBlocks, QuestionNamesTheTargetSameNumberTwiceAndFullTarget) {
    ScriptedInteraction ui;
    ui.rewriteAnswers = {RewriteAnswer::Yes};
    BlockList target;
    const CopyResult twice = copy({blk(7, "first"), blk(7, "second")}, {0, 1}, target, ui,
                                  CopyDirection::UserToPhone);
    ASSERT_EQ(ui.rewriteQuestions.size(), 1); // naming the block and the list it lands in
    EXPECT_TRUE(ui.rewriteQuestions[0].contains("block 7 in Phone's"));
    EXPECT_EQ(target, BlockList({blk(7, "second")}));
    EXPECT_EQ(shown(twice), "0>0+ 1>0");
    EXPECT_TRUE(rewriteQuestion(7, CopyDirection::PhoneToUser).contains("block 7 in User's"));

    target.clear();
    for (int i = 0; i < MaxBlocks; ++i)
        target.append(blk(static_cast<qint16>(i - 16384)));
    ui.rewriteAnswers = {RewriteAnswer::Yes};
    const CopyResult r = copy({blk(32000, "new"), blk(0, "replaces")}, {0, 1}, target, ui);
    EXPECT_EQ(target.size(), MaxBlocks);
    EXPECT_EQ(r.notCopiedFull, 1);
    EXPECT_EQ(target[16384], blk(0, "replaces"));
}

TEST(CompareBlocks, MissingAndDifferentInListOrderOverTheSelectedRows) {
    const auto d = [](qint16 id, const QByteArray& data = "d", quint8 ver = 1) {
        return blk(id, data, ver);
    };
    EXPECT_TRUE(compareBlocks({d(1), d(5077, "xyz", 3), d(-4)}, {}, {d(-4), d(1), d(5077, "xyz", 3)}, {})
                    .identical());
    EXPECT_TRUE(compareBlocks({}, {}, {}, {}).identical());
    // Version, length or byte differences; 4 and 5 (empty) are equal.
    const BlockList user = {d(1, "abc", 1), d(2, "abc", 1), d(3, "abc", 1), d(4, "abc", 1),
                            d(5, "", 0),    d(30),          d(5077),        d(LowestBlockNumber)};
    const BlockList phone = {d(1, "abc", 2), d(2, "abcd", 1), d(3, "abd", 1), d(4, "abc", 1),
                             d(99),          d(5, "", 0),     d(-1),          d(HighestBlockNumber)};
    const CompareResult r = compareBlocks(user, {}, phone, {});
    EXPECT_EQ(r.different, (QList<int>{1, 2, 3}));
    EXPECT_EQ(r.phoneMissing, (QList<int>{30, 5077, LowestBlockNumber}));
    EXPECT_EQ(r.userMissing, (QList<int>{99, -1, HighestBlockNumber}));
    EXPECT_FALSE(r.identical());

    // One selected row compares the whole list; two compare only those, on either side.
    const BlockList list = {d(1), d(2), d(3)};
    EXPECT_TRUE(compareBlocks(list, {1}, list, {}).identical());
    const CompareResult some = compareBlocks(list, {0, 2}, list, {});
    EXPECT_TRUE(some.phoneMissing.isEmpty() && some.different.isEmpty());
    EXPECT_EQ(some.userMissing, (QList<int>{2}));
    const CompareResult both = compareBlocks(list, {0, 2}, list, {0, 1});
    EXPECT_EQ(both.phoneMissing + both.userMissing, (QList<int>{3, 2}));
}

namespace {

QByteArray counting(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i & 0xFF);
    return bytes;
}

} // namespace

TEST(HexDump, RowsTextsRangesAndByteDiffs) {
    using namespace hexdump;
    const struct {
        qsizetype size, row;
        qsizetype rows;
        int length;
    } rows[] = {{0, 0, 0, 0}, {1, 0, 1, 1}, {16, 0, 1, 16}, {17, 1, 2, 1}, {17, 2, 2, 0},
                {65535, 4094, 4096, 16}, {65535, 4095, 4096, 15}};
    for (const auto& r : rows) {
        EXPECT_EQ(rowCount(r.size), r.rows) << r.size;
        EXPECT_EQ(rowLength(r.size, r.row), r.length) << r.size << " " << r.row;
    }
    EXPECT_EQ(offsetText(rowOffset(4095)), "0000FFF0");

    const QByteArray bytes = QByteArray("AB z~", 5) + QByteArray::fromHex("007F80FF") + "0123456789";
    EXPECT_EQ(rowAsciiText(bytes, 0), "AB z~....0123456");
    EXPECT_EQ(rowHexText(bytes, 1), "37 38 39");
    EXPECT_EQ(rowHexText(bytes, 2), "");
    // The printed dump: a short last row is padded so that its ASCII stands under the others'.
    EXPECT_EQ(dumpLine(bytes, 0),
              "00000000  41 42 20 7A 7E 00 7F 80 FF 30 31 32 33 34 35 36  AB z~....0123456");
    EXPECT_EQ(dumpLine(bytes, 1), "00000010  37 38 39" + QString(39, ' ') + "  789");

    // Clipped to the bytes; the breaks count from the range's own start.
    const QByteArray forty = counting(40);
    EXPECT_EQ(rangeHexText(forty, 38, 10), "26 27");
    EXPECT_EQ(rangeHexText(forty, -2, 3), "00");
    EXPECT_EQ(rangeHexText(forty, 40, 1), "");
    EXPECT_EQ(rangeHexText(forty, 0, 0), "");
    EXPECT_EQ(rangeHexText({}, 0, 5), "");
    EXPECT_EQ(rangeHexText(forty, 4, 18), "04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13\n14 15");

    EXPECT_TRUE(byteDiff(counting(300), counting(300)).isEmpty());
    EXPECT_EQ(byteDiff("abcdefgh", "aXYdeZgQ"), (QVector<ByteRange>{{1, 2}, {5, 1}, {7, 1}}));
    // Length differences either way; a run right before the tail stays a range of its own.
    EXPECT_EQ(byteDiff("abcdefgh", "ABCDEFGH"), (QVector<ByteRange>{{0, 8}}));
    EXPECT_EQ(byteDiff("abc", "abcd"), (QVector<ByteRange>{{3, 1}}));
    EXPECT_EQ(byteDiff({}, "xy"), (QVector<ByteRange>{{0, 2}}));
    const QVector<ByteRange> r = byteDiff("abcdef", "abX");
    EXPECT_EQ(r, (QVector<ByteRange>{{2, 1}, {3, 3}}));
    EXPECT_FALSE(isTail(r[0], 6, 3));
    EXPECT_TRUE(isTail(r[1], 6, 3));
    EXPECT_EQ(byteCount(r), 4);
    // Bytes that only differ in their sign bit still differ.
    EXPECT_EQ(byteDiff(QByteArray::fromHex("00807F"), QByteArray::fromHex("000080")),
              (QVector<ByteRange>{{1, 2}}));
}

TEST(Descriptions, FirstMatchWinsWithoutTheHardwareCheckWhichNeedsAnEqualId) {
    Descriptions d;
    d.parse("1\nold\n0\n");
    EXPECT_EQ(d.parse("5077\r\nfor one\r\n1\r\n5077\r\nfor two\r\n2\r\n20\r\nany\r\n0\r\n"
                      "1\nneg\n-1\n2\nhex\n&HFFFF\n3\nhigh\n32769\n"),
              0);
    ASSERT_EQ(d.size(), 6); // parsing again replaced the table
    const struct {
        qint16 block;
        quint16 hwid;
        bool check;
        const char* text;
    } lookups[] = {{5077, 2, false, "for one"}, {5078, 1, false, ""},  {5077, 2, true, "for two"},
                   {5077, 1, true, "for one"},  {5077, 3, true, ""},   {5077, 0, true, ""},
                   {20, 0, true, "any"},        {20, 7, true, ""},     {1, 0xFFFF, true, "neg"},
                   {2, 0xFFFF, true, "hex"},    {3, 0x8001, true, "high"}}; // signed or unsigned
    for (const auto& l : lookups)
        EXPECT_EQ(d.describe(l.block, l.hwid, l.check), l.text) << l.block << " " << l.hwid;
}

TEST(Descriptions, LinesAsTheyAreRecordsSkippedAndTheTextsEncoding) {
    Descriptions d;
    // LF endings, leading blanks kept in the text, blank lines count as record lines, numbers
    // read leniently (blanks inside, rounding halves to even, no number reads 0).
    d.parse("  50 77 \n   Indented text \n\n\nblank-number record\nnothing\n2.5\nrounded\n&H10\n");
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d.entries()[0].blockId, 5077);
    EXPECT_EQ(d.entries()[0].text, "   Indented text ");
    EXPECT_EQ(d.entries()[1].blockId, 0);
    EXPECT_EQ(d.entries()[1].text, "blank-number record");
    EXPECT_EQ(d.entries()[2].blockId, 2);
    EXPECT_EQ(d.entries()[2].hwid, 16);

    EXPECT_EQ(d.parse("40000\ntoo big\n0\n7\nbad hwid\n70000\n8\nkept\n0\n9\ncut short\n"), 3);
    ASSERT_EQ(d.size(), 1);
    EXPECT_EQ(d.describe(8, 0, false), "kept");
    EXPECT_EQ(d.warnings().size(), 3);
    EXPECT_TRUE(d.warnings().last().contains("incomplete"));

    for (const auto& [bytes, text] :
         {std::pair{QByteArray("1\r\nSpr\xC3\xA4\r\n0\r\n"), QString::fromUtf8("Spr\xC3\xA4")},
          {QByteArray("1\r\nSpr\xE4\r\n0\r\n"), QString::fromLatin1("Spr\xE4")}, // not UTF-8
          {QByteArray("\xEF\xBB\xBF" "1\r\nwith BOM\r\n0\r\n"), QStringLiteral("with BOM")}}) {
        d.parse(bytes);
        EXPECT_EQ(d.describe(1, 0, false), text);
    }
}

TEST(DescriptionsFile, MissingEmptyUnreadableAndFoundInTheCurrentFolderFirst) {
    x45::test::TempFolder dir;
    Descriptions d;
    d.parse("1\nold\n0\n");
    EXPECT_TRUE(d.loadFile(dir.path("none.dsc")));
    EXPECT_TRUE(d.isEmpty());
    EXPECT_TRUE(d.loadFile(dir.write("good.dsc", "5077\r\nLock\r\n0\r\n")));
    EXPECT_EQ(d.describe(5077, 0, false), "Lock");
    EXPECT_TRUE(d.loadFile(dir.write("empty.dsc", {})));
    EXPECT_TRUE(d.isEmpty());
    EXPECT_TRUE(QFile::exists(dir.path("empty.dsc"))); // a user's file is never deleted at start
    // A folder of that name cannot be read: a message, and the table stays empty.
    const Status s = d.loadFile(dir.dir.path());
    EXPECT_TRUE(s.message().contains(QDir::toNativeSeparators(dir.dir.path())));
    EXPECT_TRUE(d.isEmpty());

    // A file of the size limit is read (sparse: no disk needed); one byte more is refused.
    for (const qint64 size : {qint64(16) << 20, (qint64(16) << 20) + 1}) {
        QFile big(dir.path("big.dsc"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(size));
        big.close();
        EXPECT_EQ(d.loadFile(big.fileName()).isOk(), size == qint64(16) << 20) << size;
    }
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.dir.path()));
    // Empty: counts as absent, the search goes on elsewhere.
    dir.write(Descriptions::FileName, {});
    EXPECT_NE(QFileInfo(Descriptions::locate()).absolutePath(), QDir(dir.dir.path()).absolutePath());
    const QString here = dir.write(Descriptions::FileName, "1\nx\n0\n");
    EXPECT_EQ(QFileInfo(Descriptions::locate()).canonicalFilePath(),
              QFileInfo(here).canonicalFilePath());
    QDir::setCurrent(before);
}

TEST(ReadNumber, TypedAndStoredTexts) {
    const struct {
        const char* text;
        double value;
        bool exponent = false;
    } cases[] = {
        {"  5077  ", 5077}, {"50 77", 5077}, {"\t-12", -12},     {"+7", 7},
        {"- 3", -3},        {"1.5", 1.5},    {".25", 0.25},      {"7.", 7},
        {"12abc", 12},      {"3-4", 3},      {"1.2.3", 1.2},     {"", 0},
        {"abc", 0},         {"-", 0},        {".", 0},           {"+-5", 0},
        {"00042", 42},      {"1,5", 1},      {"1E3", 1},         {"-32768", -32768},
        {"&H10", 16},       {"&h1f", 31},    {"&HFFFF", 65535},  {"&H 1 0", 16},
        {"&H", 0},          {"&Hxyz", 0},    {"&HFG", 15},       {"&O17", 15},
        {"&o777", 511},     {"&O8", 0},      {"&O78", 7},        {"&X12", 0},
        {"&", 0},           {"-&H10", 0},    {"&H8001", 0x8001}, {"&H7FFFFFFF", 2147483647.0},
        {"&H1:", 1}, // the digits end at the first character that is none
        // An exponent only where allowed, and only with its digits.
        {"2.5e+2", 250, true}, {"5e-1", 0.5, true}, {"1D2", 100, true}, {"7E+", 7, true},
        {"E5", 0, true}, {"1e-999999", 0, true},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(readNumber(QString::fromLatin1(c.text), {c.exponent}), c.value) << c.text;
    // Runaway digit strings stay finite or fail; none wraps into a block number.
    const QString huge = QStringLiteral("9").repeated(100000);
    EXPECT_FALSE(toInt16(readNumber(huge)));
    EXPECT_FALSE(toInt16(readNumber("-" + huge)));
    EXPECT_FALSE(toHWid(readNumber(QStringLiteral("&H") + QStringLiteral("F").repeated(5000))));
    EXPECT_FALSE(toInt16(readNumber(QStringLiteral("1e999999"), {true})));
    EXPECT_DOUBLE_EQ(readNumber("0." + QStringLiteral("0").repeated(5000) + "1"), 0);
}

// Halves go to the even neighbour; what does not fit is refused, never wrapped.
TEST(ReadNumber, RoundingIntoRanges) {
    const struct {
        double value;
        std::optional<qint16> result;
    } int16s[] = {
        {0.5, 0},     {1.5, 2},    {2.5, 2},           {-2.5, -2},     {-3.5, -4},
        {2.4999, 2},  {2.5001, 3}, {32767.4, 32767},   {32767.5, {}},  {-32768.5, -32768},
        {-32769, {}}, {65535, {}}, {std::nan(""), {}}, {INFINITY, {}},
    };
    for (const auto& c : int16s)
        EXPECT_EQ(toInt16(c.value), c.result) << c.value;
    EXPECT_EQ(toUInt8(254.5), quint8(254));
    EXPECT_EQ(toUInt8(-0.4), quint8(0));
    EXPECT_FALSE(toUInt8(255.5));
    EXPECT_FALSE(toUInt8(-1));
    EXPECT_FALSE(roundedInRange(100.6, 0, 100));
    // Hardware ids: any 16-bit pattern, written signed or unsigned.
    for (const auto& [value, id] : {std::pair{65535.0, 0xFFFF}, {-1.0, 0xFFFF}, {-32767.0, 0x8001},
                                    {32769.0, 0x8001}, {-32768.0, 0x8000}})
        EXPECT_EQ(toHWid(value), quint16(id)) << value;
    EXPECT_FALSE(toHWid(65536));
    EXPECT_FALSE(toHWid(-32769));
}

TEST(parseBlockList, TypedTextsAndTheNumbersBeyondSixteenBitsThatAreRefused) {
    const struct {
        const char* text;
        QVector<qint32> numbers;
    } table[] = {
        {"1, 2;3", {1, 2, 3}},     {"5000--5002", {5000, 5001, 5002}},
        {"9-7", {}},               {"-3", {0, 1, 2, 3}},
        {"5-", {}},                {"1-5-9", {1, 2, 3, 4, 5}},
        {"1 - 5", {1, 0, 5}},      {"abc", {0}},
        {"&H1388", {5000}},        {",;,", {0}},
        {"", {0}},                 {"  12  ,,  ; 14 ", {12, 14}},
        {"1e3", {1000}},           {"2.5 3.5 -0.4", {2, 4, 0}},
        {"4-6,5", {4, 5, 6, 5}},   {"32766-32767", {32766, 32767}},
        {"1\t2", {12}},            {"\t7-\t8", {7, 8}}, // tabs are ignored inside a number
        {"32767.4", {32767}},
    };
    for (const auto& row : table) {
        const Result<QVector<qint32>> parsed = parseBlockList(QString::fromLatin1(row.text));
        ASSERT_TRUE(parsed) << row.text << ": " << parsed.message().toStdString();
        EXPECT_EQ(parsed.value(), row.numbers) << row.text;
    }
    // "-32768" is the range 0..32768; 32767.5 rounds to the even 32768.
    for (const char* text : {"-32768", "65537", "1e9", "1e999", "0-99999999", "99999999-1",
                             "&H10000", "32767.5", "1 32768"}) {
        const Result<QVector<qint32>> refused = parseBlockList(QString::fromLatin1(text));
        ASSERT_TRUE(refused.is(ErrorKind::BadInput)) << text;
        EXPECT_TRUE(refused.message().contains(QString::fromLatin1(text).section(' ', -1))) << text;
    }
    // 0..32767 eight times is exactly the most allowed; a long list of numbers stays quick.
    const QString all = QStringLiteral("-32767 ").repeated(8);
    EXPECT_EQ(parseBlockList(all)->size(), MaxListedBlocks);
    EXPECT_TRUE(parseBlockList(all + "1-2").message().contains(QString::number(MaxListedBlocks)));
    EXPECT_EQ(parseBlockList(QStringLiteral("7 ").repeated(100000))->size(), 100000);
}

TEST(parseBlockListStrict, OnlyNumbersAndAscendingRangesAreTaken) {
    const auto parsed = parseBlockListStrict(" 1, 2;7-9 5000--5002 &H1388 &o17 3 3 ");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed.value(), (QVector<qint32>{1, 2, 7, 8, 9, 5000, 5001, 5002, 5000, 15, 3, 3}));
    // What the lenient grammar turns into block 0 or another block is refused, naming the token.
    for (const char* bad : {"abc", "-", "0x10", "1.5", "1e1", "9-7", "1-5-9", "-3", "5-", "+4",
                            "32768", "1 - 5", "1\t2", "2 x7", ",,;"}) {
        const Result<QVector<qint32>> s = parseBlockListStrict(QString::fromLatin1(bad));
        ASSERT_TRUE(s.is(ErrorKind::BadInput)) << bad;
        EXPECT_TRUE(s.message().contains("nothing was sent")) << s.message().toStdString();
    }
    EXPECT_TRUE(parseBlockListStrict("2 x7").message().startsWith("\"x7\""));
    EXPECT_TRUE(parseBlockListStrict(",,;").message().contains("names no block"));
    // The confirmation names all, or the first few and the count.
    EXPECT_EQ(blockNamesText({1, 5012}), "1, 5012");
    EXPECT_EQ(blockNamesText({100, 101, 102, 103, 104}, 3), "100, 101, 102, ... (5 blocks)");
}
