// The SCSI-ATA transport against the simulated secure disk, through the
// real open/ioctl/close: what reaches the device, and what the caller gets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common.h"
#include "device_helpers.h"

namespace {

using ptltest::Bytes;
using ptltest::cdbs_seen;
using ptltest::zeroed_record;

class ScsiAtaTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    PPROTOCOL_FUNC_S ops = get_protocol_func(SELECT_SCSI_ATA_TYPE);

    // Issues one operation on a freshly opened handle, as the disk service does.
    PROTOCOL_STATUS issue(PTL_OPERATION op, PROTOCOL_CMD_S &cmd) { return ptltest::issue_on(disk.dev(), op, cmd); }

    PROTOCOL_CMD_S rw_record(uint8_t data_to, uint64_t lba, uint32_t sectors, Bytes &buffer,
                             ATA_COMMAND_BIT_LEN width = ATA_COMMAND_28_BIT)
    {
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.rw.lba = lba;
        cmd.u.rw.sectors = sectors;
        cmd.u.rw.ata_len = width;
        cmd.data_to = data_to;
        cmd.buffer = buffer.data();
        cmd.buffer_len = static_cast<uint32_t>(buffer.size());
        cmd.timeout = 10;
        return cmd;
    }

    Bytes last_cdb() const
    {
        std::vector<Bytes> seen = cdbs_seen(disk);
        return seen.empty() ? Bytes() : seen.back();
    }
};

TEST_F(ScsiAtaTest, IdentifyReturnsTheSecureDiskPage)
{
    Bytes page(512, 0xEE);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    cmd.data_to = DATA_TO_DEV; // ignored: identify always reads
    ASSERT_EQ(issue(ops->identify, cmd), 0);

    EXPECT_EQ(page[262], 0x44);
    EXPECT_EQ(page[263], 0x53);
    std::string serial(page.begin() + 20, page.begin() + 40);
    swap2bit(reinterpret_cast<uint8_t *>(&serial[0]), 20);
    EXPECT_EQ(serial.substr(0, disk.show().at("serial").size()), disk.show().at("serial"));
    EXPECT_EQ(get_capcity(SELECT_SCSI_ATA_TYPE, page.data()), std::stoull(disk.show().at("presented_sectors")));

    EXPECT_EQ(last_cdb(), (Bytes{0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}));
}

TEST_F(ScsiAtaTest, IdentifyRefusesBeforeAnyIo)
{
    size_t before = cdbs_seen(disk).size();
    Bytes page(511);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 511;
    EXPECT_EQ(issue(ops->identify, cmd), PTL_ERR_BUFFER_TOO_SMALL);

    PROTOCOL_CMD_S no_handle = zeroed_record();
    Bytes big(512);
    no_handle.buffer = big.data();
    no_handle.buffer_len = 512;
    EXPECT_EQ(ops->identify(&no_handle), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(cdbs_seen(disk).size(), before);
}

TEST_F(ScsiAtaTest, IdentifyCountFollowsBufferLength)
{
    Bytes page(1024);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 1024;
    cmd.timeout = 10;
    issue(ops->identify, cmd);
    Bytes cdb = last_cdb();
    ASSERT_EQ(cdb.size(), 16u);
    EXPECT_EQ(cdb[6], 2);
}

TEST_F(ScsiAtaTest, ReadChecksTheBufferBeforeAnyIo)
{
    size_t before = cdbs_seen(disk).size();
    Bytes small(4095);
    PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, 0, 8, small);
    EXPECT_EQ(issue(ops->read, cmd), PTL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    Bytes enough(4096);
    cmd = rw_record(DATA_FROM_DEV, 0, 8, enough);
    EXPECT_EQ(issue(ops->read, cmd), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x85, 10 << 1, 0x0E, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x40, 0xC8, 0}));

    PROTOCOL_CMD_S no_handle = rw_record(DATA_FROM_DEV, 0, 8, enough);
    EXPECT_EQ(ops->read(&no_handle), PTL_ERR_NO_HANDLE);
}

TEST_F(ScsiAtaTest, DirectionFollowsDataToNotTheOperation)
{
    Bytes pattern(1024);
    for (size_t i = 0; i < pattern.size(); i++)
        pattern[i] = static_cast<uint8_t>(i * 7 + 3);
    PROTOCOL_CMD_S write_via_read = rw_record(DATA_TO_DEV, 100, 2, pattern);
    ASSERT_EQ(issue(ops->read, write_via_read), 0);
    EXPECT_EQ(last_cdb()[14], 0xCA); // WRITE DMA

    Bytes back(1024, 0);
    PROTOCOL_CMD_S read_via_write = rw_record(DATA_FROM_DEV, 100, 2, back);
    ASSERT_EQ(issue(ops->write, read_via_write), 0);
    EXPECT_EQ(last_cdb()[14], 0xC8); // READ DMA
    EXPECT_EQ(back, pattern);
}

TEST_F(ScsiAtaTest, FortyEightBitRoundTrip)
{
    uint64_t sectors = std::stoull(disk.show().at("presented_sectors"));
    Bytes pattern(512 * 3);
    for (size_t i = 0; i < pattern.size(); i++)
        pattern[i] = static_cast<uint8_t>(i ^ 0x5A);
    PROTOCOL_CMD_S w = rw_record(DATA_TO_DEV, sectors - 3, 3, pattern, ATA_COMMAND_48_BIT);
    ASSERT_EQ(issue(ops->write, w), 0);
    Bytes cdb = last_cdb();
    EXPECT_EQ(cdb[1], (UDMA_DATA_OUT << 1) | 1);
    EXPECT_EQ(cdb[14], 0x35);

    Bytes back(pattern.size());
    PROTOCOL_CMD_S r = rw_record(DATA_FROM_DEV, sectors - 3, 3, back, ATA_COMMAND_48_BIT);
    ASSERT_EQ(issue(ops->read, r), 0);
    EXPECT_EQ(last_cdb()[14], 0x25);
    EXPECT_EQ(back, pattern);
}

TEST_F(ScsiAtaTest, TwentyEightBitCountOf256IsSentAsZero)
{
    Bytes buffer(256 * 512);
    PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, 0, 256, buffer);
    // The bridge reads a zero count field as no transfer at all and refuses
    // the 128 KiB data phase; what matters here is the block that reached it.
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->read, cmd)), PTL_ERR_READ_WRITE);
    EXPECT_EQ(last_cdb(), (Bytes{0x85, 10 << 1, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0xC8, 0}));
}

TEST_F(ScsiAtaTest, RequestsTheBlockCannotCarryAreRefused)
{
    struct Case {
        const char *what;
        ATA_COMMAND_BIT_LEN width;
        uint64_t lba;
        uint32_t sectors;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"28-bit LBA beyond 24 bits", ATA_COMMAND_28_BIT, 0x1000000, 1, PTL_ERR_LBA_RANGE},
        {"48-bit LBA beyond 48 bits", ATA_COMMAND_48_BIT, 0x1000000000000ull, 1, PTL_ERR_LBA_RANGE},
        {"28-bit count beyond 256", ATA_COMMAND_28_BIT, 0, 257, PTL_ERR_COUNT_RANGE},
        {"48-bit count beyond 65536", ATA_COMMAND_48_BIT, 0, 65537, PTL_ERR_COUNT_RANGE},
        {"no sectors", ATA_COMMAND_28_BIT, 0, 0, PTL_ERR_COUNT_RANGE},
    };
    size_t before = cdbs_seen(disk).size();
    for (const Case &c : cases) {
        Bytes buffer(static_cast<size_t>(c.sectors) * 512);
        PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, c.lba, c.sectors, buffer, c.width);
        EXPECT_EQ(issue(ops->read, cmd), c.status) << c.what;
    }
    EXPECT_EQ(cdbs_seen(disk).size(), before);
}

TEST_F(ScsiAtaTest, FailedReadIsKindFiveWhileSendCmdKeepsTheSgStatus)
{
    uint64_t sectors = std::stoull(disk.show().at("presented_sectors"));
    Bytes buffer(512);
    PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, sectors, 1, buffer); // one past the end
    PROTOCOL_STATUS status = issue(ops->read, cmd);
    EXPECT_NE(status, 0);
    EXPECT_EQ(PTL_STATUS_KIND(status), PTL_ERR_READ_WRITE);

    PROTOCOL_CMD_S pt = zeroed_record();
    pt.u.send_cmd.type = SEND_CMD_PROTOCOL;
    pt.u.send_cmd.sc.scsi_ata.protocol = UDMA_DATA_IN;
    pt.u.send_cmd.sc.scsi_ata.ata_command = 0xC8;
    pt.u.send_cmd.sc.scsi_ata.lba = sectors;
    pt.u.send_cmd.sc.scsi_ata.sectors = 1;
    pt.data_to = DATA_FROM_DEV;
    pt.buffer = buffer.data();
    pt.buffer_len = 512;
    pt.timeout = 10;
    EXPECT_EQ(issue(ops->send_cmd, pt), PTL_STATUS(0x02, PTL_ERR_SG_STATUS)); // CHECK CONDITION: 532
    SCSI_SENSE sense = {};
    ASSERT_EQ(get_scsi_sense(pt.ext, &sense), 0) << "the sense data stays in the record";
    EXPECT_NE(sense.sense_key, 0);
}

TEST_F(ScsiAtaTest, SmartDefaultsToTheSignatureAndTheTableProtocol)
{
    Bytes data(512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.ata_smart.feature = 0xD0; // READ DATA
    cmd.u.ata_smart.count = 1;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = data.data();
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    ASSERT_EQ(issue(ops->smart, cmd), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0x40, 0xB0, 0}));
    int sum = 0;
    for (uint8_t b : data)
        sum += b;
    EXPECT_EQ(sum % 256, 0) << "SMART data carries its checksum";

    size_t before = cdbs_seen(disk).size();
    PROTOCOL_CMD_S unknown = cmd;
    unknown.u.ata_smart.feature = 0; // 0xB0 alone is not in the table
    EXPECT_EQ(issue(ops->smart, unknown), PTL_ERR_ATA_NOT_IN_TABLE);
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    PROTOCOL_CMD_S no_handle = cmd;
    no_handle.handle = 0;
    EXPECT_EQ(ops->smart(&no_handle), PTL_ERR_NO_HANDLE);
}

TEST_F(ScsiAtaTest, SendCmdWithOwnBlockSendsExactlyItsLength)
{
    Bytes page(512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.send_cmd.type = SEND_CMD_CDB;
    // ATA PASS-THROUGH (12): PIO data-in, IDENTIFY DEVICE; the bytes past 12 must not be sent.
    uint8_t pt12[16] = {0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0x40, 0xEC, 0, 0, 0x77, 0x77, 0x77, 0x77};
    memcpy(cmd.u.send_cmd.sc.cc.cdb, pt12, sizeof(pt12));
    cmd.u.send_cmd.sc.cc.scsi_cdb_len = SCSI_CDB_12_BYTE;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = page.data();
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    ASSERT_EQ(issue(ops->send_cmd, cmd), 0);
    EXPECT_EQ(last_cdb(), Bytes(pt12, pt12 + 12));
    EXPECT_EQ(page[262], 0x44);

    size_t before = cdbs_seen(disk).size();
    cmd.u.send_cmd.sc.cc.scsi_cdb_len = static_cast<SCSI_CDB_BYTE_LEN>(33);
    EXPECT_EQ(issue(ops->send_cmd, cmd), PTL_ERR_CDB_TOO_LONG);
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    cmd.u.send_cmd.sc.cc.scsi_cdb_len = SCSI_CDB_12_BYTE;
    cmd.handle = -1;
    EXPECT_EQ(ops->send_cmd(&cmd), PTL_ERR_NO_HANDLE);
}

TEST_F(ScsiAtaTest, SendCmdProtocolBlockAsTheCatalogueBuildsIt)
{
    // t_length, features and device stay zero, as the GUI's catalogue leaves them.
    struct Case {
        const char *what;
        uint8_t data_to;
        ATA_PROTOCOL_TYPE protocol;
        uint8_t command;
        uint16_t feature;
        uint64_t lba;
        uint32_t sectors;
        uint8_t byte2;
    } cases[] = {
        {"identify, from the device", DATA_FROM_DEV, PIO_DATA_IN, 0xEC, 0, 0, 1, 0x0E},
        {"set password, to the device", DATA_TO_DEV, PIO_DATA_OUT, 0xFA, 0, 0x5A5653, 1, 0x06},
        {"SMART enable, no data", DATA_NONE, NON_DATA, 0xB0, 0xD8, 0xC24F00, 0, 0x04},
    };
    for (const Case &c : cases) {
        Bytes data(512, 0);
        memcpy(data.data(), "Secret123", 9);
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
        SCSI_ATA_PROTOCOL &p = cmd.u.send_cmd.sc.scsi_ata;
        p.protocol = c.protocol;
        p.ata_command = c.command;
        p.features = c.feature;
        p.lba = c.lba;
        p.sectors = c.sectors;
        cmd.data_to = c.data_to;
        cmd.buffer = c.data_to == DATA_NONE ? nullptr : data.data();
        cmd.buffer_len = c.data_to == DATA_NONE ? 0 : 512;
        cmd.timeout = 10;
        EXPECT_EQ(issue(ops->send_cmd, cmd), 0) << c.what;
        Bytes cdb = last_cdb();
        ASSERT_EQ(cdb.size(), 16u) << c.what;
        EXPECT_EQ(cdb[2], c.byte2) << c.what;
        EXPECT_EQ(cdb[13], 0x40) << c.what;
        EXPECT_EQ(cdb[14], c.command) << c.what;
    }
    EXPECT_EQ(disk.show().at("password_set"), "1");
}

TEST_F(ScsiAtaTest, VendorIsNotSupportedAndTouchesNothing)
{
    size_t before = cdbs_seen(disk).size();
    PROTOCOL_CMD_S cmd = zeroed_record();
    memset(cmd.ext, 0xA5, sizeof(cmd.ext));
    EXPECT_EQ(issue(ops->vendor, cmd), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(cmd.ext[0], 0xA5);
    EXPECT_EQ(cdbs_seen(disk).size(), before);
}

TEST_F(ScsiAtaTest, DownloadBlockLayout)
{
    struct Case {
        ATA_FW_DOWNLOAD_MODEL model;
        DOWNLOAD_MODE mode;
        Bytes cdb;
    } cases[] = {
        {DLFW_DOWNLOAD, DOWNLOAD_DMA_MODE,
         {0x85, UDMA_DATA_OUT << 1, 0x06, 0, 14, 0, 0x02, 0, 0x01, 0, 0x34, 0, 0x12, 0x40, 0x93, 0}},
        {DLFW_DOWNLOAD_ONLY_ONE, DOWNLOAD_PIO_MODE,
         {0x85, PIO_DATA_OUT << 1, 0x06, 0, 7, 0, 0x02, 0, 0x01, 0, 0x34, 0, 0x12, 0x40, 0x92, 0}},
        {DLFW_ACTIVATE, DOWNLOAD_PIO_MODE,
         {0x85, NON_DATA << 1, 0x04, 0, 15, 0, 0x02, 0, 0x01, 0, 0x34, 0, 0x12, 0x40, 0x92, 0}},
    };
    for (const Case &c : cases) {
        Bytes image(0x102 * 512);
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.download.lba = 0x1234;
        cmd.u.download.sectors = 0x0102;
        cmd.u.download.model = c.model;
        cmd.u.download.download_mode = c.mode;
        cmd.buffer = c.model == DLFW_ACTIVATE ? nullptr : image.data();
        cmd.buffer_len = c.model == DLFW_ACTIVATE ? 0 : static_cast<uint32_t>(image.size());
        cmd.timeout = 10;
        PROTOCOL_STATUS status = issue(ops->download, cmd);
        // The secure disk takes no firmware: it refuses, and the failure is kind 9.
        EXPECT_EQ(PTL_STATUS_KIND(status), PTL_ERR_DOWNLOAD) << "model " << c.model;
        EXPECT_EQ(last_cdb(), c.cdb) << "model " << c.model;
    }
}

} // namespace
