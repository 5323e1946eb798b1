// The SCSI transport against the simulated secure disk's USB bridge, through
// the real open/ioctl/close: the blocks that reach the device, what the
// record keeps, and the statuses a caller gets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "common.h"
#include "linux/linux_common.h"
#include "device_helpers.h"

namespace {

using ptltest::Bytes;
using ptltest::cdbs_seen;
using ptltest::pattern;
using ptltest::zeroed_record;

class ScsiTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    PPROTOCOL_FUNC_S ops = get_protocol_func(SELECT_SCSI_TYPE);

    PROTOCOL_STATUS issue(PTL_OPERATION op, PROTOCOL_CMD_S &cmd) { return ptltest::issue_on(disk.dev(), op, cmd); }

    static PROTOCOL_CMD_S rw_record(uint8_t data_to, uint64_t lba, uint32_t sectors, Bytes &buffer,
                                    uint32_t scsi_len)
    {
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.rw.lba = lba;
        cmd.u.rw.sectors = sectors;
        cmd.u.rw.scsi_len = static_cast<SCSI_CDB_BYTE_LEN>(scsi_len);
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

    std::string last_record_field(const std::string &key) const
    {
        std::vector<std::string> lines = disk.commands();
        return lines.empty() ? "" : simtest::record_field(lines.back(), key);
    }
};

TEST_F(ScsiTest, BlockLengthIsSettledInTheRecord)
{
    struct Case {
        uint32_t given;
        uint32_t kept;
        uint8_t opcode;
    } cases[] = {
        {0, 10, 0x28}, {10, 10, 0x28}, {12, 16, 0x88}, {16, 16, 0x88}, {6, 16, 0x88}, {32, 16, 0x88},
    };
    for (const Case &c : cases) {
        Bytes buffer(1024);
        PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, 7, 2, buffer, c.given);
        EXPECT_EQ(issue(ops->read, cmd), 0) << "scsi_len " << c.given;
        EXPECT_EQ(cmd.u.rw.scsi_len, c.kept) << "scsi_len " << c.given;
        Bytes cdb = last_cdb();
        ASSERT_EQ(cdb.size(), c.kept) << "scsi_len " << c.given;
        EXPECT_EQ(cdb[0], c.opcode) << "scsi_len " << c.given;
    }
}

TEST_F(ScsiTest, SixteenByteWriteAndTenByteReadRoundTrip)
{
    Bytes data = pattern(3 * 512, 1);
    PROTOCOL_CMD_S w = rw_record(DATA_TO_DEV, 0x0102, 3, data, 16);
    ASSERT_EQ(issue(ops->write, w), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x8A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 3, 0, 0}));
    EXPECT_EQ(last_record_field("dir"), "out");

    Bytes back(3 * 512);
    PROTOCOL_CMD_S r = rw_record(DATA_FROM_DEV, 0x0102, 3, back, 10);
    ASSERT_EQ(issue(ops->read, r), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x28, 0, 0, 0, 0x01, 0x02, 0, 0, 3, 0}));
    EXPECT_EQ(last_record_field("dir"), "in");
    EXPECT_EQ(back, data);
}

TEST_F(ScsiTest, TenByteFormRefusesWhatItsFieldsCannotCarry)
{
    // A write meant for LBA 2^32+5 must never land on LBA 5.
    Bytes sector = pattern(512, 2);
    PROTOCOL_CMD_S w = rw_record(DATA_TO_DEV, 5, 1, sector, 16);
    ASSERT_EQ(issue(ops->write, w), 0);

    struct Case {
        const char *what;
        uint64_t lba;
        uint32_t sectors;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"LBA above 32 bits", 0x100000005ull, 1, PTL_ERR_LBA_RANGE},
        {"count above 16 bits", 0, 0x10001, PTL_ERR_COUNT_RANGE},
    };
    size_t before = cdbs_seen(disk).size();
    for (const Case &c : cases) {
        Bytes buffer(static_cast<size_t>(c.sectors) * 512);
        PROTOCOL_CMD_S r = rw_record(DATA_FROM_DEV, c.lba, c.sectors, buffer, 10);
        EXPECT_EQ(issue(ops->read, r), c.status) << c.what;
        PROTOCOL_CMD_S wr = rw_record(DATA_TO_DEV, c.lba, c.sectors, buffer, 10);
        EXPECT_EQ(issue(ops->write, wr), c.status) << c.what;
    }
    EXPECT_EQ(cdbs_seen(disk).size(), before) << "nothing reached the disk";

    Bytes back(512);
    PROTOCOL_CMD_S r5 = rw_record(DATA_FROM_DEV, 5, 1, back, 10);
    ASSERT_EQ(issue(ops->read, r5), 0);
    EXPECT_EQ(back, sector) << "LBA 5 unchanged";

    // Without a length of its own the request takes the 16-byte form when it must.
    PROTOCOL_CMD_S wide = rw_record(DATA_FROM_DEV, 0x100000005ull, 1, back, 0);
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->read, wide)), PTL_ERR_READ_WRITE) << "beyond this disk's end";
    EXPECT_EQ(wide.u.rw.scsi_len, 16u);
    EXPECT_EQ(last_cdb()[0], 0x88);
    EXPECT_EQ(last_cdb()[5], 0x01) << "READ (16) keeps all 64 bits";
}

TEST(SgTransfer, AReadThatMovedLessThanAskedIsRefused)
{
    struct Case {
        const char *what;
        int direction;
        uint32_t dxfer_len;
        int resid;
        uint32_t expected;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"everything moved", SG_DXFER_FROM_DEV, 1024, 0, 1024, PTL_SUCCESS},
        {"one sector of two", SG_DXFER_FROM_DEV, 1024, 512, 1024, PTL_ERR_SHORT_TRANSFER},
        {"one byte short", SG_DXFER_FROM_DEV, 512, 1, 512, PTL_ERR_SHORT_TRANSFER},
        {"a larger buffer than the command", SG_DXFER_FROM_DEV, 1024, 512, 512, PTL_SUCCESS},
        {"nothing asked", SG_DXFER_FROM_DEV, 512, 512, 0, PTL_SUCCESS},
        {"a write", SG_DXFER_TO_DEV, 512, 512, 512, PTL_SUCCESS},
    };
    for (const Case &c : cases) {
        struct sg_io_hdr hdr;
        memset(&hdr, 0, sizeof(hdr));
        hdr.dxfer_direction = c.direction;
        hdr.dxfer_len = c.dxfer_len;
        hdr.resid = c.resid;
        EXPECT_EQ(check_transfer(&hdr, c.expected), c.status) << c.what;
    }
}

TEST_F(ScsiTest, RefusalsBeforeAnyIo)
{
    size_t before = cdbs_seen(disk).size();
    Bytes small(4095);
    PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, 0, 8, small, 10);
    EXPECT_EQ(issue(ops->read, cmd), PTL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(issue(ops->write, cmd), PTL_ERR_BUFFER_TOO_SMALL);

    Bytes enough(4096);
    PROTOCOL_CMD_S no_handle = rw_record(DATA_FROM_DEV, 0, 8, enough, 10);
    EXPECT_EQ(ops->read(&no_handle), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(ops->write(&no_handle), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    cmd = rw_record(DATA_FROM_DEV, 0, 8, enough, 10);
    EXPECT_EQ(issue(ops->read, cmd), 0);
    EXPECT_EQ(cdbs_seen(disk).size(), before + 1);
}

TEST_F(ScsiTest, OpcodeFollowsDataToWhileTheTransferFollowsTheOperation)
{
    // A read record that says DATA_TO_DEV sends WRITE (10) but expects data
    // from the device: the bridge refuses the contradiction.
    Bytes buffer(512);
    PROTOCOL_CMD_S cmd = rw_record(DATA_TO_DEV, 0, 1, buffer, 10);
    PROTOCOL_STATUS status = issue(ops->read, cmd);
    EXPECT_EQ(PTL_STATUS_KIND(status), PTL_ERR_READ_WRITE);
    EXPECT_EQ(last_cdb()[0], 0x2A);
    EXPECT_EQ(last_record_field("dir"), "in");
    EXPECT_EQ(last_record_field("result"), "CHECK");
}

TEST_F(ScsiTest, ReadBeyondTheDiskIsKindFive)
{
    uint64_t sectors = std::stoull(disk.show().at("presented_sectors"));
    Bytes buffer(512);
    PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, sectors, 1, buffer, 16);
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->read, cmd)), PTL_ERR_READ_WRITE);
    EXPECT_EQ(last_record_field("result"), "CHECK");
}

TEST_F(ScsiTest, IdentifyLeavesTheCountByteZero)
{
    size_t before = cdbs_seen(disk).size();
    Bytes page(512, 0xEE);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 511;
    cmd.timeout = 10;
    EXPECT_EQ(issue(ops->identify, cmd), PTL_ERR_BUFFER_TOO_SMALL);
    cmd.buffer_len = 512;
    cmd.handle = 0;
    EXPECT_EQ(ops->identify(&cmd), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    // The secure disk's bridge holds IDENTIFY to its one-sector length, so
    // the count of 0 this transport sends is refused with CHECK CONDITION.
    cmd.data_to = DATA_TO_DEV; // ignored: identify always reads
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->identify, cmd)), PTL_ERR_IDENTIFY_SMART);
    EXPECT_EQ(last_cdb(), (Bytes{0x85, 0x08, 0x0E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}));
    EXPECT_EQ(last_record_field("dir"), "in");
    EXPECT_EQ(page, Bytes(512, 0xEE)) << "no data from a refused command";
}

TEST_F(ScsiTest, SendCmdOwnBlockIsSentWithExactlyItsLength)
{
    Bytes inquiry(36, 0);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.send_cmd.type = SEND_CMD_CDB;
    uint8_t block[10] = {0x12, 0, 0, 0, 36, 0, 0x77, 0x77, 0x77, 0x77}; // INQUIRY, junk past byte 6
    memcpy(cmd.u.send_cmd.sc.cc.cdb, block, sizeof(block));
    cmd.u.send_cmd.sc.cc.scsi_cdb_len = SCSI_CDB_6_BYTE;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = inquiry.data();
    cmd.buffer_len = 36;
    cmd.timeout = 10;
    ASSERT_EQ(issue(ops->send_cmd, cmd), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 10), "ZV");
}

TEST_F(ScsiTest, SendCmdProtocolFormBuildsASixteenByteBlock)
{
    Bytes data = pattern(2 * 512, 3);
    PROTOCOL_CMD_S w = rw_record(DATA_TO_DEV, 40, 2, data, 16);
    ASSERT_EQ(issue(ops->write, w), 0);

    Bytes back(2 * 512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
    cmd.u.send_cmd.sc.scsi.len = SCSI_CDB_16_BYTE;
    cmd.u.send_cmd.sc.scsi.command = 0x88;
    cmd.u.send_cmd.sc.scsi.lba = 40;
    cmd.u.send_cmd.sc.scsi.sectors = 2;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = back.data();
    cmd.buffer_len = static_cast<uint32_t>(back.size());
    cmd.timeout = 10;
    ASSERT_EQ(issue(ops->send_cmd, cmd), 0);
    EXPECT_EQ(last_cdb(), (Bytes{0x88, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0}));
    EXPECT_EQ(back, data);
}

TEST_F(ScsiTest, SendCmdRefusalsAndFailures)
{
    struct Case {
        const char *what;
        uint32_t type;
        uint32_t length; // scsi_cdb_len for type 0, sc.scsi.len for type 1
        PROTOCOL_STATUS status;
    } refusals[] = {
        {"protocol form of 10 bytes", SEND_CMD_PROTOCOL, 10, PTL_ERR_SCSI_PROTOCOL_LEN},
        {"protocol form of 12 bytes", SEND_CMD_PROTOCOL, 12, PTL_ERR_SCSI_PROTOCOL_LEN},
        {"own block beyond the 32-byte field", SEND_CMD_CDB, 33, PTL_ERR_CDB_TOO_LONG},
        {"own block far beyond it", SEND_CMD_CDB, 0xFFFFFFFFu, PTL_ERR_CDB_TOO_LONG},
    };
    size_t before = cdbs_seen(disk).size();
    for (const Case &c : refusals) {
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.send_cmd.type = static_cast<SEND_CMD_TYPE>(c.type);
        if (c.type == SEND_CMD_CDB)
            cmd.u.send_cmd.sc.cc.scsi_cdb_len = static_cast<SCSI_CDB_BYTE_LEN>(c.length);
        else
            cmd.u.send_cmd.sc.scsi.len = static_cast<SCSI_CDB_BYTE_LEN>(c.length);
        cmd.data_to = DATA_NONE;
        EXPECT_EQ(issue(ops->send_cmd, cmd), c.status) << c.what;
    }
    EXPECT_EQ(cdbs_seen(disk).size(), before);

    // An operation code the bridge does not know: CHECK CONDITION, kind 6.
    PROTOCOL_CMD_S unknown = zeroed_record();
    unknown.u.send_cmd.type = SEND_CMD_CDB;
    unknown.u.send_cmd.sc.cc.cdb[0] = 0xC7;
    unknown.u.send_cmd.sc.cc.scsi_cdb_len = SCSI_CDB_10_BYTE;
    unknown.data_to = DATA_NONE;
    unknown.timeout = 10;
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->send_cmd, unknown)), PTL_ERR_IDENTIFY_SMART);
    EXPECT_EQ(last_cdb(), (Bytes{0xC7, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    SCSI_SENSE sense = {};
    ASSERT_EQ(get_scsi_sense(unknown.ext, &sense), 0);
    EXPECT_EQ(sense.sense_key, 0x05);
    EXPECT_EQ(sense.additional_sense, 0x20);
}

TEST_F(ScsiTest, SmartVendorAndDownloadAreNotSupported)
{
    size_t before = cdbs_seen(disk).size();
    Bytes buffer(512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.ata_smart.feature = 0xD0;
    cmd.u.ata_smart.count = 1;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = buffer.data();
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    for (PTL_OPERATION op : {ops->smart, ops->vendor, ops->download}) {
        PROTOCOL_CMD_S copy = cmd;
        EXPECT_EQ(issue(op, copy), PTL_ERR_NOT_SUPPORTED);
        copy.handle = 0;
        EXPECT_EQ(op(&copy), PTL_ERR_NOT_SUPPORTED);
    }
    EXPECT_EQ(cdbs_seen(disk).size(), before);
}

} // namespace
