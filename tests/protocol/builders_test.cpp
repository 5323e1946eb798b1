// Command-block builders, the ATA command table and the helpers that need
// no device: their bytes are what the bridge and the disk will see.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common.h"

namespace {

using Block = std::vector<uint8_t>;

Block block16(std::initializer_list<int> bytes)
{
    Block b;
    for (int v : bytes)
        b.push_back(static_cast<uint8_t>(v));
    b.resize(16, 0);
    return b;
}

TEST(AtaPassThrough28, LengthByteFollowsDirectionAndTLength)
{
    struct Case {
        uint32_t direction;
        T_LENGTH t_length;
        uint8_t byte2;
    } cases[] = {
        {DATA_NONE, T_LENGTH_SECTORS, 0x04},
        {DATA_NONE, T_LENGTH_NO_DATA, 0x04},
        {DATA_FROM_DEV, T_LENGTH_NO_DATA, 0x0E},
        {DATA_FROM_DEV, T_LENGTH_SECTORS, 0x0E},
        {DATA_TO_DEV, T_LENGTH_NO_DATA, 0x06},
        {DATA_TO_DEV, T_LENGTH_FEATURE, 0x05},
    };
    for (const Case &c : cases) {
        uint8_t cdb[16];
        memset(cdb, 0xFF, sizeof(cdb));
        init_scsi_ata_28(cdb, 0xEC, PIO_DATA_IN, 0, 1, c.direction, 0, 0, c.t_length);
        EXPECT_EQ(cdb[2], c.byte2) << "direction " << c.direction << " t_length " << c.t_length;
        EXPECT_EQ(cdb[3], 0) << "the 28-bit builder clears the block";
    }
}

TEST(AtaPassThrough28, PlacesRegistersAndDropsHighLbaBits)
{
    uint8_t cdb[16];
    init_scsi_ata_28(cdb, 0xC8, UDMA_DATA_IN, 0x0ABCDEF1, 0x1FF, DATA_FROM_DEV, 0x1234, 0x0A, T_LENGTH_SECTORS);
    EXPECT_EQ(Block(cdb, cdb + 16),
              block16({0x85, 10 << 1, 0x0E, 0, 0x34, 0, 0xFF, 0, 0xF1, 0, 0xDE, 0, 0xBC, 0x4A, 0xC8, 0}));
}

TEST(AtaPassThrough48, PlacesSixteenBitCountAndFortyEightBitLba)
{
    uint8_t cdb[16] = {0};
    init_scsi_ata_48(cdb, 0x25, UDMA_DATA_IN, 0x0000A1B2C3D4E5F6ull, 0x0102, DATA_FROM_DEV, 0xBEEF, 0,
                     T_LENGTH_SECTORS);
    EXPECT_EQ(Block(cdb, cdb + 16), block16({0x85, (10 << 1) | 1, 0x0E, 0xBE, 0xEF, 0x01, 0x02, 0xC3, 0xF6, 0xB2,
                                             0xE5, 0xA1, 0xD4, 0x40, 0x25, 0}));
}

TEST(AtaPassThroughProtocol, WidthSelectsTheBuilder)
{
    SCSI_ATA_PROTOCOL p = {};
    p.lba = 0x5A5653;
    p.protocol = PIO_DATA_OUT;
    p.sectors = 1;
    p.ata_command = 0xFA;

    uint8_t cdb[16];
    memset(cdb, 0xFF, sizeof(cdb));
    p.bit = ATA_COMMAND_28_BIT;
    ASSERT_EQ(init_scsi_ata_protocol(cdb, sizeof(cdb), DATA_TO_DEV, &p), 0);
    EXPECT_EQ(Block(cdb, cdb + 16), block16({0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0x53, 0, 0x56, 0, 0x5A, 0x40, 0xFA}));

    memset(cdb, 0xFF, sizeof(cdb));
    p.bit = ATA_COMMAND_48_BIT;
    ASSERT_EQ(init_scsi_ata_protocol(cdb, sizeof(cdb), DATA_TO_DEV, &p), 0);
    EXPECT_EQ(Block(cdb, cdb + 16), block16({0x85, 0x0B, 0x06, 0, 0, 0, 1, 0, 0x53, 0, 0x56, 0, 0x5A, 0x40, 0xFA}));

    p.bit = static_cast<ATA_COMMAND_BIT_LEN>(2);
    EXPECT_EQ(init_scsi_ata_cdb(cdb, &p, DATA_TO_DEV), PTL_ERR_ATA_WIDTH);
    EXPECT_EQ(init_scsi_ata_protocol(cdb, 12, DATA_TO_DEV, &p), PTL_ERR_BUFFER_TOO_SMALL);
}

TEST(AtaPassThroughTable, SmartReadDataBlock)
{
    uint8_t cdb[16] = {0};
    ASSERT_EQ(init_scsi_ata(cdb, 0xB0, 0xC24F00, 1, 0x40, 0xD0), 0);
    EXPECT_EQ(Block(cdb, cdb + 16), block16({0x85, 0x08, 0x0E, 0x00, 0xD0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x4F, 0x00,
                                             0xC2, 0x40, 0xB0, 0x00}));
}

TEST(AtaPassThroughTable, ProtocolAndWidthComeFromTheTable)
{
    struct Case {
        uint8_t command;
        uint16_t feature;
        uint8_t byte1;
        uint8_t byte2;
    } cases[] = {
        {0xEC, 0x00, PIO_DATA_IN << 1, 0x0E},            // IDENTIFY DEVICE
        {0xB0, 0xD8, NON_DATA << 1, 0x04},               // SMART ENABLE OPERATIONS
        {0xB0, 0xD6, PIO_DATA_OUT << 1, 0x06},           // SMART WRITE LOG
        {0x25, 0x00, (UDMA_DATA_IN << 1) | 1, 0x0E},     // READ DMA EXT
        {0x35, 0x00, (UDMA_DATA_OUT << 1) | 1, 0x06},    // WRITE DMA EXT
        {0x27, 0x00, (PIO_DATA_IN << 1) | 1, 0x0E},      // first of the two 0x27 rows wins
        {0x06, 0x00, (PROTOCOL_DMA << 1) | 1, 0x04},     // DATA SET MANAGEMENT
        {0x08, 0x00, DEVICE_RESET << 1, 0x04},
        {0xF9, 0x06, UDMA_DATA_OUT << 1, 0x06},
        {0x45, 0x00, (NON_DATA << 1) | 1, 0x04},         // last row of the table
    };
    for (const Case &c : cases) {
        uint8_t cdb[16] = {0};
        ASSERT_EQ(init_scsi_ata(cdb, c.command, 0, 1, 0, c.feature), 0) << std::hex << int(c.command);
        EXPECT_EQ(cdb[1], c.byte1) << std::hex << int(c.command) << "/" << c.feature;
        EXPECT_EQ(cdb[2], c.byte2) << std::hex << int(c.command) << "/" << c.feature;
        EXPECT_EQ(cdb[14], c.command);
    }
}

TEST(AtaPassThroughTable, UnknownKeyLeavesTheBlockUntouched)
{
    uint8_t cdb[16];
    memset(cdb, 0xA5, sizeof(cdb));
    EXPECT_EQ(init_scsi_ata(cdb, 0xB0, 0xC24F00, 1, 0x40, 0x00), PTL_ERR_ATA_NOT_IN_TABLE);
    EXPECT_EQ(Block(cdb, cdb + 16), Block(16, 0xA5));

    ATA_COMMAND_ATTR attr = {ATA_COMMAND_48_BIT, FPDMA};
    EXPECT_EQ(get_ata_attr(0xFA, 0, &attr), PTL_ERR_ATA_NOT_IN_TABLE);
    EXPECT_EQ(attr.type, FPDMA);
    EXPECT_EQ(get_ata_attr(0xB0, 0xD1, &attr), 0);
    EXPECT_EQ(attr.bit, ATA_COMMAND_28_BIT);
    EXPECT_EQ(attr.type, PIO_DATA_IN);
}

TEST(AtaRegisterImage, RangeChecksByWidth)
{
    uint8_t reg[16] = {0};
    EXPECT_EQ(init_ata_28_bit(reg, 0xC8, 0x1000000, 1, 0xE0, 0), PTL_ERR_LBA_RANGE);
    EXPECT_EQ(init_ata_28_bit(reg, 0xC8, 0xFFFFFF, 256, 0xE0, 0), PTL_ERR_COUNT_RANGE);
    EXPECT_EQ(init_ata_48_bit(reg, 0x25, 0x1000000000000ull, 1, 0xE0, 0), PTL_ERR_LBA_RANGE);
    EXPECT_EQ(init_ata_48_bit(reg, 0x25, 0, 0x10000, 0xE0, 0), PTL_ERR_COUNT_RANGE);

    ASSERT_EQ(init_ata_28_bit(reg, 0xC8, 0xFFFFFF, 255, 0xE0, 0x12), 0);
    EXPECT_EQ(Block(reg, reg + 7), (Block{0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xE0, 0xC8}));
}

TEST(AtaRegisterImage, FortyEightBitImageRepeatsDeviceAndCommand)
{
    ATA_PROTOCOL p = {};
    p.bit = ATA_COMMAND_48_BIT;
    p.lba = 0xA1B2C3D4E5F6ull;
    p.count = 0x0102;
    p.feature = 0xBEEF;
    p.device = 0x40;
    p.command = 0x25;
    uint8_t reg[16];
    memset(reg, 0xFF, sizeof(reg));
    ASSERT_EQ(init_ata_protocol(reg, sizeof(reg), &p), 0);
    EXPECT_EQ(Block(reg, reg + 16), (Block{0xEF, 0x02, 0xF6, 0xE5, 0xD4, 0x40, 0x25, 0x00, 0xBE, 0x01, 0xC3, 0xB2,
                                           0xA1, 0x40, 0x25, 0x00}));
    EXPECT_EQ(init_ata_protocol(reg, 7, &p), PTL_ERR_BUFFER_TOO_SMALL);
}

TEST(ScsiBlocks, BigEndianFields)
{
    uint8_t cdb16[16] = {0};
    init_scsi_cdb_16(cdb16, 0x88, 0x0102030405060708ull, 0x0A0B0C0D);
    EXPECT_EQ(Block(cdb16, cdb16 + 16), block16({0x88, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0}));

    uint8_t cdb10[10] = {0};
    init_scsi_cdb_10(cdb10, 0x28, 0x0102030405060708ull, 0x0A0B0C0D);
    EXPECT_EQ(Block(cdb10, cdb10 + 10), (Block{0x28, 0, 5, 6, 7, 8, 0, 0x0C, 0x0D, 0}));

    SCSI_PROTOCOL p = {};
    p.len = SCSI_CDB_10_BYTE;
    EXPECT_EQ(init_scsi_cdb(cdb16, &p), PTL_ERR_CDB_LEN);
    EXPECT_EQ(init_scsi_protocol(cdb16, sizeof(cdb16), &p), PTL_ERR_SCSI_PROTOCOL_LEN);
    p.len = SCSI_CDB_16_BYTE;
    p.command = 0x8A;
    p.lba = 7;
    p.sectors = 2;
    EXPECT_EQ(init_scsi_protocol(cdb16, sizeof(cdb16), &p), 0);
    EXPECT_EQ(Block(cdb16, cdb16 + 16), block16({0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 2}));
}

TEST(Sense, FixedAndDescriptorFormats)
{
    uint8_t fixed[18] = {0x70, 0x00, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01};
    SCSI_SENSE s = {};
    ASSERT_EQ(get_scsi_sense(fixed, &s), 0);
    EXPECT_EQ(s.sense_key, 5);
    EXPECT_EQ(s.additional_sense, 0x24);
    EXPECT_EQ(s.additional_sense_qualifier, 0x01);

    uint8_t fixed_valid[18] = {0xF0, 0x00, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
    ASSERT_EQ(get_scsi_sense(fixed_valid, &s), 0);
    EXPECT_EQ(s.sense_key, 3);
    EXPECT_EQ(s.additional_sense, 0x11);

    uint8_t descriptor[8] = {0x72, 0x0B, 0x00, 0x00};
    ASSERT_EQ(get_scsi_sense(descriptor, &s), 0);
    EXPECT_EQ(s.response_code, 0x72);
    EXPECT_EQ(s.sense_key, 0x0B);

    SCSI_SENSE untouched = {1, 2, 3, 4};
    uint8_t none[18] = {0x00};
    EXPECT_EQ(get_scsi_sense(none, &untouched), 1);
    EXPECT_EQ(untouched.sense_key, 2);
}

TEST(Itoa, BasesAndSigns)
{
    struct Case {
        int value;
        int base;
        const char *text;
    } cases[] = {
        {0, 10, "0"},        {255, 16, "ff"},     {-255, 16, "-ff"},       {5, 2, "101"},
        {35, 36, "z"},       {-1, 2, "-1"},       {INT_MAX, 10, "2147483647"},
        {INT_MIN, 10, "-2147483648"},             {7, 1, ""},              {7, 37, ""},
    };
    for (const Case &c : cases) {
        char text[40];
        memset(text, 'x', sizeof(text));
        EXPECT_STREQ(define_itoa(c.value, text, c.base), c.text) << c.value << " base " << c.base;
    }
}

TEST(Swap2bit, SwapsWholeWordsOnly)
{
    uint8_t s[] = {'Z', 'V', ' ', 'S', 'x'};
    swap2bit(s, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(s), 5), "VZS x");
}

TEST(HexDump, RepeatedLinesCollapseAndTheTailIsPrinted)
{
    std::vector<uint8_t> data(16 * 4 + 3, 0);
    data[0] = 0xAB;
    data[64] = 0x01;
    testing::internal::CaptureStdout();
    hex_dump(data.data(), static_cast<uint32_t>(data.size()));
    std::string out = testing::internal::GetCapturedStdout();
    std::string zeros;
    for (int i = 0; i < 16; i++)
        zeros += "00 ";
    EXPECT_EQ(out, "       HEX        0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\n"
                   "0000000000000000:AB " + zeros.substr(3) + "\n"
                   "0000000000000010:" + zeros + "\n"
                   "*\n"
                   "0000000000000040:01 00 00 \n");

    testing::internal::CaptureStdout();
    hex_dump(data.data(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(BinaryDump, BitsThenHexAndRepeatsCollapse)
{
    uint8_t data[] = {0x85, 0x00, 0x00, 0x00, 0x01};
    testing::internal::CaptureStdout();
    binary_dump(data, sizeof(data));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "0005 7 6 5 4 3 2 1 0  HEX\n"
                                                      "0000 1 0 0 0 0 1 0 1  85\n"
                                                      "0001 0 0 0 0 0 0 0 0  00\n"
                                                      "*\n"
                                                      "0004 0 0 0 0 0 0 0 1  01\n");
}

} // namespace
