// The single SG_IO path of the library: header set-up, refusals before the
// ioctl, and how a completion becomes a status.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "common.h"
#include "device_helpers.h"
#include "linux/linux_common.h"

namespace {

using ptltest::Bytes;
using ptltest::DiskHandle;

TEST(InitSg, HeaderFields)
{
    struct Case {
        uint32_t direction;
        int expected;
    } cases[] = {
        {DATA_FROM_DEV, SG_DXFER_FROM_DEV}, {DATA_TO_DEV, SG_DXFER_TO_DEV},   {DATA_NONE, SG_DXFER_NONE},
        {DATA_TO_FROM_DEV, SG_DXFER_NONE},  {DATA_UNKOWN, SG_DXFER_NONE},
    };
    for (const Case &c : cases) {
        uint8_t cdb[16] = {0x85};
        uint8_t sense[512];
        memset(sense, 0xEE, sizeof(sense));
        uint8_t data[512];
        sg_io_hdr hdr;
        memset(&hdr, 0x5A, sizeof(hdr));
        EXPECT_EQ(init_sg(&hdr, cdb, 16, c.direction, data, 512, 10, sense), 0);
        EXPECT_EQ(hdr.interface_id, 'S');
        EXPECT_EQ(hdr.dxfer_direction, c.expected) << c.direction;
        EXPECT_EQ(hdr.timeout, 10000u) << "seconds reach the kernel as milliseconds";
        EXPECT_EQ(hdr.cmd_len, 16);
        EXPECT_EQ(hdr.cmdp, cdb);
        EXPECT_EQ(hdr.dxferp, data);
        EXPECT_EQ(hdr.dxfer_len, 512u);
        EXPECT_EQ(hdr.sbp, sense);
        EXPECT_EQ(hdr.mx_sb_len, 64);
        EXPECT_EQ(hdr.flags, 0u);
        EXPECT_EQ(hdr.pack_id, 0);
        EXPECT_EQ(hdr.usr_ptr, nullptr);
        EXPECT_EQ(hdr.iovec_count, 0);
        EXPECT_EQ(Bytes(sense, sense + 64), Bytes(64, 0)) << "the first 64 sense bytes are cleared";
        EXPECT_EQ(sense[64], 0xEE) << "the rest of the sense area is the caller's";
    }
}

TEST(CheckSgStatus, FirstNonZeroFieldWins)
{
    struct Case {
        uint8_t status, masked, msg;
        uint16_t host, driver;
        PROTOCOL_STATUS expected;
    } cases[] = {
        {0, 0, 0, 0, 0, 0},
        {0x02, 0x01, 0, 0, 0x08, 532},
        {0, 0x01, 0, 0, 0, 256 + 21},
        {0, 0, 0x04, 0x07, 0, 4 * 256 + 22},
        {0, 0, 0, 0x07, 0x08, 7 * 256 + 23},
        {0, 0, 0, 0, 0x08, 8 * 256 + 24},
    };
    for (const Case &c : cases) {
        sg_io_hdr hdr = {};
        hdr.status = c.status;
        hdr.masked_status = c.masked;
        hdr.msg_status = c.msg;
        hdr.host_status = c.host;
        hdr.driver_status = c.driver;
        EXPECT_EQ(check_sg_status(&hdr), c.expected);
    }
}

TEST(SgScsiCdb, RefusalsBeforeTheIoctl)
{
    uint8_t cdb[16] = {0x00}; // TEST UNIT READY
    uint8_t sense[64];
    errno = 12345;
    EXPECT_EQ(sg_scsi_cdb(-1, cdb, 6, DATA_NONE, nullptr, 0, 10, sense), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(errno, 12345) << "no system call was made";

    int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(sg_scsi_cdb(fd, cdb, 6, DATA_NONE, nullptr, 0, 10, sense), PTL_STATUS(EBADF, PTL_ERR_IOCTL));

    std::vector<uint8_t> long_cdb(256, 0);
    EXPECT_EQ(sg_scsi_cdb(0, long_cdb.data(), 256, DATA_NONE, nullptr, 0, 10, sense), PTL_ERR_CDB_TOO_LONG);
}

TEST(SgScsiCdb, DeviceAnswers)
{
    simtest::SimDisk disk;
    DiskHandle handle(disk.dev());
    ASSERT_GE(handle.fd(), 0);
    uint8_t sense[64];

    uint8_t tur[6] = {0x00};
    EXPECT_EQ(sg_scsi_cdb(handle.fd(), tur, 6, DATA_NONE, nullptr, 0, 10, sense), 0);

    uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    uint8_t data[36] = {};
    ASSERT_EQ(sg_scsi_cdb(handle.fd(), inquiry, 6, DATA_FROM_DEV, data, sizeof(data), 10, sense), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(data + 8), 2), "ZV");

    // An operation code the bridge does not know: CHECK CONDITION, sense kept.
    uint8_t unknown[10] = {0xC7};
    memset(sense, 0, sizeof(sense));
    EXPECT_EQ(sg_scsi_cdb(handle.fd(), unknown, 10, DATA_NONE, nullptr, 0, 10, sense), 532);
    SCSI_SENSE decoded = {};
    ASSERT_EQ(get_scsi_sense(sense, &decoded), 0);
    EXPECT_EQ(decoded.sense_key, 0x05); // ILLEGAL REQUEST
    EXPECT_EQ(decoded.additional_sense, 0x20); // INVALID COMMAND OPERATION CODE
}

} // namespace
