// The capacity a caller computes from identify data, for the shapes of
// identify page that real drives report.
#include <gtest/gtest.h>

#include <cstring>

#include "protocol_interface.h"

namespace {

struct Page {
    uint8_t bytes[512] = {};
    void word(int index, uint16_t value)
    {
        bytes[index * 2] = static_cast<uint8_t>(value);
        bytes[index * 2 + 1] = static_cast<uint8_t>(value >> 8);
    }
    void dword(int index, uint32_t value)
    {
        word(index, static_cast<uint16_t>(value));
        word(index + 1, static_cast<uint16_t>(value >> 16));
    }
    void qword(int index, uint64_t value)
    {
        dword(index, static_cast<uint32_t>(value));
        dword(index + 2, static_cast<uint32_t>(value >> 32));
    }
};

TEST(Capacity, AtaIdentifyShapes)
{
    struct Case {
        const char *what;
        uint16_t w49, w83, w106, w117, w118;
        uint32_t lba28;
        uint64_t lba48;
        uint64_t expected;
    } cases[] = {
        {"no LBA capability", 0x0000, 0x4400, 0, 0, 0, 1000, 2000, 0},
        {"28-bit only drive", 0x0200, 0x4000, 0, 0, 0, 1000, 2000, 1000},
        {"48-bit larger", 0x0200, 0x4400, 0, 0, 0, 0x0FFFFFFF, 0x20000000, 0x20000000},
        {"48-bit smaller, 512-byte sectors", 0x0200, 0x4400, 0, 0, 0, 5000, 4000, 5000},
        {"48-bit smaller, 4096-byte sectors", 0x0200, 0x4400, 0x5000, 2048, 0, 5000, 4000, 4000},
        {"word 83 not valid", 0x0200, 0xC400, 0, 0, 0, 1000, 2000, 1000},
        {"word 106 not valid", 0x0200, 0x4400, 0x9000, 2048, 0, 5000, 4000, 5000},
        {"nothing reported", 0x0200, 0x4400, 0, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        Page p;
        p.word(49, c.w49);
        p.word(83, c.w83);
        p.word(106, c.w106);
        p.word(117, c.w117);
        p.word(118, c.w118);
        p.dword(60, c.lba28);
        p.qword(100, c.lba48);
        EXPECT_EQ(get_capcity(SELECT_SCSI_ATA_TYPE, p.bytes), c.expected) << c.what;
    }
}

TEST(Capacity, NvmeReadsByte120)
{
    uint8_t page[4096] = {};
    page[120] = 0x78;
    page[121] = 0x56;
    page[122] = 0x34;
    page[123] = 0x12;
    page[124] = 0xFF; // beyond the 32-bit field
    EXPECT_EQ(get_capcity(SELECT_NVME_TYPE, page), 0x12345678u);
    EXPECT_EQ(get_capcity(SELECT_JMS583_NVME_TYPE, page), 0x12345678u);
}

} // namespace
