// The EEPROM file format: byte-exact writing, reading back, and rejection of damaged files.

#include "files/eepfile.h"

#include <QtEndian>
#include <gtest/gtest.h>

using namespace x45;

namespace {

// Builds file bytes field by field, independently of the writer under test.
struct Bytes {
    QByteArray b;
    Bytes& i32(qint32 v) {
        char raw[4];
        qToLittleEndian<qint32>(v, raw);
        b.append(raw, 4);
        return *this;
    }
    Bytes& u16(quint16 v) {
        char raw[2];
        qToLittleEndian<quint16>(v, raw);
        b.append(raw, 2);
        return *this;
    }
    Bytes& raw(const QByteArray& data) {
        b.append(data);
        return *this;
    }
    Bytes& entry(qint32 id, const QByteArray& data, qint32 ver) {
        return i32(id).i32(static_cast<qint32>(data.size())).i32(ver).raw(data);
    }
};

EEPBlock blk(qint16 id, const QByteArray& data, quint8 ver) {
    return EEPBlock{id, data, ver};
}

const QString Name = QStringLiteral("dump.eep");

} // namespace

TEST(EepWrite, CountsSplitAt5000AndHwidAlwaysWritten) {
    const BlockList list = {blk(5001, "\x01\x02", 3), blk(5000, "", 0), blk(-2, "\xFF", 255),
                            blk(20, "abc", 1)};
    const QByteArray expected = Bytes()
                                    .i32(3) // 5000, -2, 20
                                    .i32(1) // 5001
                                    .entry(5001, "\x01\x02", 3)
                                    .entry(5000, "", 0)
                                    .entry(-2, "\xFF", 255)
                                    .entry(20, "abc", 1)
                                    .u16(0)
                                    .b;
    EXPECT_EQ(serializeEep(list, 0), expected);

    const QByteArray withHwid = serializeEep(list, 0x8001);
    EXPECT_EQ(withHwid.size(), expected.size());
    EXPECT_EQ(withHwid.right(2), QByteArray("\x01\x80", 2));
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
    const Bytes one = Bytes().i32(1).i32(0).entry(7, "xy", 1);
    struct Good {
        const char* what;
        QByteArray bytes;
        BlockList blocks;
        quint16 hwid;
    };
    const Good cases[] = {
        {"no id trailer", one.b, {blk(7, "xy", 1)}, 0},
        {"one stray byte is no id", one.b + QByteArray("\x05", 1), {blk(7, "xy", 1)}, 0},
        {"id trailer", Bytes(one).u16(0x8001).b, {blk(7, "xy", 1)}, 0x8001},
        {"bytes after the id", Bytes(one).u16(0x1234).raw("tail").b, {blk(7, "xy", 1)}, 0x1234},
        // A writer that split the counts differently still yields every block.
        {"counts split otherwise",
         Bytes().i32(0).i32(2).entry(1, "a", 0).entry(9000, "b", 0).u16(0).b,
         {blk(1, "a", 0), blk(9000, "b", 0)},
         0},
        {"repeated number replaces in place",
         Bytes()
             .i32(3)
             .i32(0)
             .entry(20, "old", 1)
             .entry(10, "ten", 1)
             .entry(20, "new!", 2)
             .u16(0)
             .b,
         {blk(20, "new!", 2), blk(10, "ten", 1)},
         0},
        {"empty list", Bytes().i32(0).i32(0).u16(0x42).b, {}, 0x42},
        {"boundary numbers and versions",
         Bytes()
             .i32(2)
             .i32(1)
             .entry(-32768, "", 0)
             .entry(32767, QByteArray(1, '\0'), 255)
             .entry(0, "z", 128)
             .b,
         {blk(-32768, "", 0), blk(32767, QByteArray(1, '\0'), 255), blk(0, "z", 128)},
         0},
    };
    for (const Good& good : cases) {
        SCOPED_TRACE(good.what);
        EepContents c;
        c.blocks = {blk(1, "stale", 0)}; // a successful read replaces what was held
        ASSERT_TRUE(parseEep(good.bytes, Name, c));
        EXPECT_EQ(c.blocks, good.blocks);
        EXPECT_EQ(c.hwid, good.hwid);
    }
}

TEST(EepRead, DamagedFilesAreRejectedWithTheirFaultAndOutputUntouched) {
    struct Bad {
        const char* what;
        QByteArray bytes;
        const char* mention;
    };
    const Bad cases[] = {
        {"empty", QByteArray(), "empty"},
        {"short header", QByteArray("\x01\x00\x00", 3), "header"},
        {"negative count", Bytes().i32(-1).i32(0).b, "negative"},
        {"counts beyond a list", Bytes().i32(30000).i32(2768).b, "32768"},
        {"counts overflowing 32 bits", Bytes().i32(0x7FFFFFFF).i32(0x7FFFFFFF).b, "blocks"},
        {"count beyond the file", Bytes().i32(1000).i32(0).entry(1, "a", 0).b, "too short"},
        {"ends inside entry header",
         Bytes().i32(2).i32(0).entry(1, "abcdefghijklmn", 0).i32(2).i32(0).b, "entry 2 of 2"},
        {"ends inside data",
         Bytes().i32(1).i32(0).i32(5).i32(20).i32(0).raw("abc").raw("12345678901").b, "only"},
        {"block number above 16 bits", Bytes().i32(1).i32(0).entry(32768, "", 0).b, "32768"},
        {"block number below 16 bits", Bytes().i32(1).i32(0).entry(-32769, "", 0).b, "-32769"},
        {"version above 255", Bytes().i32(1).i32(0).entry(5, "", 256).b, "256"},
        {"negative version", Bytes().i32(1).i32(0).entry(5, "", -1).b, "version"},
        {"negative length", Bytes().i32(1).i32(0).i32(5).i32(-4).i32(0).u16(0).b,
         "negative length"},
        {"huge length", Bytes().i32(1).i32(0).i32(5).i32(0x7FFFFFF0).i32(0).raw("abcd").b,
         "2147483632"},
    };
    for (const Bad& bad : cases) {
        EepContents c;
        c.blocks = {blk(77, "keep", 9)};
        c.hwid = 0x4444;
        const Status s = parseEep(bad.bytes, Name, c);
        ASSERT_FALSE(s) << bad.what;
        EXPECT_TRUE(s.message().contains(Name)) << bad.what << ": " << s.message().toStdString();
        EXPECT_TRUE(s.message().contains(QLatin1String(bad.mention)))
            << bad.what << ": " << s.message().toStdString();
        EXPECT_EQ(c.blocks, BlockList({blk(77, "keep", 9)})) << bad.what;
        EXPECT_EQ(c.hwid, 0x4444) << bad.what;
    }
}
