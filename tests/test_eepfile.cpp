// The EEPROM file format: byte-exact writing, reading back, and rejection of damaged files.

#include "files/eepfile.h"

#include <QtEndian>
#include <gtest/gtest.h>

using namespace x45;

namespace {

// Builds file bytes field by field, independently of the writer under test.
struct Bytes {
    QByteArray b;
    template <typename T> Bytes& put(T v) {
        char raw[sizeof(T)];
        qToLittleEndian<T>(v, raw);
        b.append(raw, sizeof(T));
        return *this;
    }
    Bytes& i32(qint32 v) { return put(v); }
    Bytes& u16(quint16 v) { return put(v); }
    Bytes& raw(const QByteArray& data) {
        b.append(data);
        return *this;
    }
    // The two counts at the start.
    Bytes& counts(qint32 low, qint32 high) { return i32(low).i32(high); }
    Bytes& entry(qint32 id, const QByteArray& data, qint32 ver) {
        return i32(id).i32(static_cast<qint32>(data.size())).i32(ver).raw(data);
    }
};

EEPBlock blk(qint16 id, const QByteArray& data, quint8 ver) {
    return EEPBlock{id, data, ver};
}

const QString Name = QStringLiteral("dump.eep");

void expectAccepted(const char* what, const Bytes& bytes, const BlockList& blocks, quint16 hwid) {
    SCOPED_TRACE(what);
    EepContents c;
    c.blocks = {blk(1, "stale", 0)}; // a successful read replaces what was held
    ASSERT_TRUE(parseEep(bytes.b, Name, c));
    EXPECT_EQ(c.blocks, blocks);
    EXPECT_EQ(c.hwid, hwid);
}

} // namespace

TEST(EepWrite, CountsSplitAt5000AndHwidAlwaysWritten) {
    const BlockList list = {blk(5001, "\x01\x02", 3), blk(5000, "", 0), blk(-2, "\xFF", 255),
                            blk(20, "abc", 1)};
    const QByteArray expected = Bytes()
                                    .counts(3, 1) // 5000, -2, 20 and 5001
                                    .entry(5001, "\x01\x02", 3)
                                    .entry(5000, "", 0)
                                    .entry(-2, "\xFF", 255)
                                    .entry(20, "abc", 1)
                                    .u16(0)
                                    .b;
    EXPECT_EQ(serializeEep(list, 0), expected);
    EXPECT_EQ(serializeEep(list, 0x8001), expected.chopped(2) + QByteArray("\x01\x80", 2));
}

TEST(EepRead, RoundTripKeepsOrderContentsAndHwid) {
    BlockList list;
    for (int i = 0; i < 50; ++i) {
        QByteArray data(i * 3, '\0');
        for (int k = 0; k < data.size(); ++k)
            data[k] = static_cast<char>((i * 31 + k) & 0xFF);
        list.append(blk(static_cast<qint16>(i % 2 ? 5000 + i : -i * 600), data, i));
    }
    EepContents back;
    ASSERT_TRUE(parseEep(serializeEep(list, 0xBEEF), Name, back));
    EXPECT_EQ(back.blocks, list);
    EXPECT_EQ(back.hwid, 0xBEEF);
}

TEST(EepRead, AcceptedLayoutsYieldTheirBlocksAndHardwareId) {
    const Bytes one = Bytes().counts(1, 0).entry(7, "xy", 1);
    const BlockList seven = {blk(7, "xy", 1)};
    expectAccepted("no id trailer", one, seven, 0);
    expectAccepted("one stray byte is no id", Bytes(one).raw("\x05"), seven, 0);
    expectAccepted("id trailer", Bytes(one).u16(0x8001), seven, 0x8001);
    expectAccepted("bytes after the id", Bytes(one).u16(0x1234).raw("tail"), seven, 0x1234);
    // A writer that split the counts differently still yields every block.
    expectAccepted("counts split otherwise",
                   Bytes().counts(0, 2).entry(1, "a", 0).entry(9000, "b", 0).u16(0),
                   {blk(1, "a", 0), blk(9000, "b", 0)}, 0);
    expectAccepted(
        "repeated number replaces in place",
        Bytes().counts(3, 0).entry(20, "old", 1).entry(10, "ten", 1).entry(20, "new!", 2).u16(0),
        {blk(20, "new!", 2), blk(10, "ten", 1)}, 0);
    expectAccepted("empty list", Bytes().counts(0, 0).u16(0x42), {}, 0x42);
    expectAccepted(
        "boundary numbers and versions",
        Bytes().counts(2, 1).entry(-32768, "", 0).entry(32767, "", 255).entry(0, "z", 128),
        {blk(-32768, "", 0), blk(32767, "", 255), blk(0, "z", 128)}, 0);
}

TEST(EepRead, DamagedFilesAreRejectedWithTheirFaultAndOutputUntouched) {
    const struct {
        const char* what;
        QByteArray bytes;
        const char* mention;
    } cases[] = {
        {"empty", QByteArray(), "empty"},
        {"short header", QByteArray("\x01\x00\x00", 3), "header"},
        {"negative count", Bytes().counts(-1, 0).b, "negative"},
        {"counts beyond a list", Bytes().counts(30000, 2768).b, "32768"},
        {"counts overflowing 32 bits", Bytes().counts(0x7FFFFFFF, 0x7FFFFFFF).b, "blocks"},
        {"count beyond the file", Bytes().counts(1000, 0).entry(1, "a", 0).b, "too short"},
        {"ends inside entry header",
         Bytes().counts(2, 0).entry(1, "abcdefghijklmn", 0).i32(2).i32(0).b, "entry 2 of 2"},
        {"ends inside data",
         Bytes().counts(1, 0).i32(5).i32(20).i32(0).raw("abc").raw("12345678901").b, "only"},
        {"block number above 16 bits", Bytes().counts(1, 0).entry(32768, "", 0).b, "32768"},
        {"block number below 16 bits", Bytes().counts(1, 0).entry(-32769, "", 0).b, "-32769"},
        {"version above 255", Bytes().counts(1, 0).entry(5, "", 256).b, "256"},
        {"negative version", Bytes().counts(1, 0).entry(5, "", -1).b, "version"},
        {"negative length", Bytes().counts(1, 0).i32(5).i32(-4).i32(0).u16(0).b, "negative length"},
        {"huge length", Bytes().counts(1, 0).i32(5).i32(0x7FFFFFF0).i32(0).raw("abcd").b,
         "2147483632"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.what);
        EepContents c;
        c.blocks = {blk(77, "keep", 9)};
        c.hwid = 0x4444;
        const Status s = parseEep(bad.bytes, Name, c);
        ASSERT_FALSE(s);
        EXPECT_TRUE(s.message().contains(Name)) << s.message().toStdString();
        EXPECT_TRUE(s.message().contains(QLatin1String(bad.mention))) << s.message().toStdString();
        EXPECT_EQ(c.blocks, BlockList({blk(77, "keep", 9)}));
        EXPECT_EQ(c.hwid, 0x4444);
    }
}
