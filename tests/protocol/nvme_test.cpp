// The NVMe transport against the simulated NVMe disk, through the real
// open/ioctl/close and the Linux NVMe pass-through requests: the commands
// the controller records, and what a caller gets back.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common.h"
#include "device_helpers.h"
#include "linux/linux_nvme.h"

namespace {

using ptltest::Bytes;
using ptltest::DiskHandle;
using ptltest::NvmeSeen;
using ptltest::nvme_seen;
using ptltest::pattern;
using ptltest::zeroed_record;

constexpr uint32_t kTransportSignature = 0x68343750; // "P74h" in memory

simtest::SimDiskOptions nvme_disk(int nsid = 0)
{
    simtest::SimDiskOptions o;
    o.kind = "nvme";
    o.nsid = nsid;
    return o;
}

class NvmeTest : public testing::Test {
protected:
    simtest::SimDisk disk{nvme_disk()};
    PPROTOCOL_FUNC_S ops = get_protocol_func(SELECT_NVME_TYPE);

    PROTOCOL_STATUS issue(PTL_OPERATION op, PROTOCOL_CMD_S &cmd) { return ptltest::issue_on(disk.dev(), op, cmd); }

    static PROTOCOL_CMD_S rw_record(uint8_t data_to, uint64_t lba, uint32_t sectors, Bytes &buffer)
    {
        PROTOCOL_CMD_S cmd = zeroed_record();
        cmd.u.rw.lba = lba;
        cmd.u.rw.sectors = sectors;
        cmd.data_to = data_to;
        cmd.buffer = buffer.data();
        cmd.buffer_len = static_cast<uint32_t>(buffer.size());
        return cmd;
    }

    NvmeSeen last() const
    {
        std::vector<NvmeSeen> seen = nvme_seen(disk);
        return seen.empty() ? NvmeSeen() : seen.back();
    }

    uint64_t sectors() const { return std::stoull(disk.show().at("presented_sectors")); }
};

TEST_F(NvmeTest, WriteThenReadBackWithZeroBasedBlockCount)
{
    Bytes data = pattern(8 * 512, 4);
    PROTOCOL_CMD_S w = rw_record(DATA_TO_DEV, 100, 8, data);
    ASSERT_EQ(issue(ops->write, w), 0);
    NvmeSeen c = last();
    EXPECT_FALSE(c.admin);
    EXPECT_EQ(c.opcode, 0x01u);
    EXPECT_EQ(c.slba, 100u);
    EXPECT_EQ(c.nblocks, 7u);
    EXPECT_EQ(c.nsid, 1u) << "the driver fills in its namespace";

    Bytes back(8 * 512);
    PROTOCOL_CMD_S r = rw_record(DATA_FROM_DEV, 100, 8, back);
    ASSERT_EQ(issue(ops->read, r), 0);
    EXPECT_EQ(last().opcode, 0x02u);
    EXPECT_EQ(last().nblocks, 7u);
    EXPECT_EQ(back, data);
}

TEST_F(NvmeTest, DataToMustAgreeWithTheOperation)
{
    // A read record must never write its buffer to the disk, nor a write read.
    struct Case {
        bool read;
        uint8_t data_to;
        PROTOCOL_STATUS status;
        uint32_t opcode;
    } cases[] = {
        {true, DATA_FROM_DEV, 0, 0x02},
        {true, DATA_TO_DEV, PTL_ERR_DIRECTION, 0},
        {true, DATA_NONE, PTL_ERR_DIRECTION, 0},
        {true, DATA_TO_FROM_DEV, PTL_ERR_DIRECTION, 0},
        {false, DATA_TO_DEV, 0, 0x01},
        {false, DATA_FROM_DEV, PTL_ERR_DIRECTION, 0},
        {false, DATA_NONE, PTL_ERR_DIRECTION, 0},
    };
    Bytes before(512);
    PROTOCOL_CMD_S r0 = rw_record(DATA_FROM_DEV, 3, 1, before);
    ASSERT_EQ(issue(ops->read, r0), 0);
    for (const Case &c : cases) {
        size_t seen = nvme_seen(disk).size();
        Bytes buffer = pattern(512, 9);
        PROTOCOL_CMD_S cmd = rw_record(c.data_to, 3, 1, buffer);
        EXPECT_EQ(issue(c.read ? ops->read : ops->write, cmd), c.status) << "data_to " << int(c.data_to);
        if (c.status == 0)
            EXPECT_EQ(last().opcode, c.opcode) << "data_to " << int(c.data_to);
        else
            EXPECT_EQ(nvme_seen(disk).size(), seen) << "nothing sent for data_to " << int(c.data_to);
        if (c.read)
            continue;
        Bytes undo = before;
        PROTOCOL_CMD_S restore = rw_record(DATA_TO_DEV, 3, 1, undo);
        ASSERT_EQ(issue(ops->write, restore), 0);
    }
    Bytes after(512);
    PROTOCOL_CMD_S r1 = rw_record(DATA_FROM_DEV, 3, 1, after);
    ASSERT_EQ(issue(ops->read, r1), 0);
    EXPECT_EQ(after, before) << "no refused record reached the medium";
}

TEST_F(NvmeTest, ReadWriteRefusalsSendNothing)
{
    struct Case {
        const char *what;
        uint32_t sectors;
        uint32_t buffer_len;
        bool bad_handle;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"buffer one byte short", 8, 4095, false, PTL_ERR_BUFFER_TOO_SMALL},
        {"handle -1", 8, 4096, true, PTL_ERR_NO_HANDLE},
        {"no block to move", 0, 4096, false, PTL_ERR_COUNT_RANGE},
        {"beyond the 16-bit block count", 65537, 65537u * 512, false, PTL_ERR_COUNT_RANGE},
    };
    for (const Case &c : cases) {
        Bytes buffer(c.buffer_len);
        PROTOCOL_CMD_S cmd = rw_record(DATA_FROM_DEV, 0, c.sectors, buffer);
        if (c.bad_handle) {
            cmd.handle = -1;
            EXPECT_EQ(ops->read(&cmd), c.status) << c.what;
            cmd.data_to = DATA_TO_DEV;
            EXPECT_EQ(ops->write(&cmd), c.status) << c.what;
        } else {
            EXPECT_EQ(issue(ops->read, cmd), c.status) << c.what;
            cmd.data_to = DATA_TO_DEV;
            EXPECT_EQ(issue(ops->write, cmd), c.status) << c.what;
        }
    }
    EXPECT_TRUE(nvme_seen(disk).empty());
}

TEST_F(NvmeTest, ReadWriteReturnTheRequestResultUnchanged)
{
    disk.set("bad_sectors=20");
    struct Case {
        const char *what;
        uint8_t data_to;
        uint64_t lba;
        uint32_t sectors;
        int result;
    } cases[] = {
        {"past the namespace", DATA_FROM_DEV, sectors(), 1, 0x4080},  // DNR | LBA Out of Range
        {"a bad sector read", DATA_FROM_DEV, 19, 2, 0x4281},          // DNR | Unrecovered Read Error
        {"a bad sector written", DATA_TO_DEV, 20, 1, 0x4280},         // DNR | Write Fault
        {"the largest block count", DATA_FROM_DEV, 0, 65536, -1},     // beyond the driver's transfer limit
    };
    for (const Case &c : cases) {
        Bytes buffer(static_cast<size_t>(c.sectors) * 512);
        PROTOCOL_CMD_S cmd = rw_record(c.data_to, c.lba, c.sectors, buffer);
        size_t before = nvme_seen(disk).size();
        errno = 0;
        EXPECT_EQ(issue(c.data_to == DATA_FROM_DEV ? ops->read : ops->write, cmd), c.result) << c.what;
        if (c.result == -1) {
            EXPECT_EQ(errno, EINVAL) << c.what;
            EXPECT_EQ(nvme_seen(disk).size(), before) << c.what << ": refused before the controller";
        } else {
            EXPECT_EQ(last().status, static_cast<uint32_t>(c.result)) << c.what;
            EXPECT_EQ(last().nblocks, c.sectors - 1) << c.what;
        }
    }
}

TEST_F(NvmeTest, IdentifySendsCnsAndNsidFromTheRecord)
{
    Bytes page(4096, 0xEE);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 4095;
    EXPECT_EQ(issue(ops->identify, cmd), PTL_ERR_BUFFER_TOO_SMALL);
    cmd.buffer_len = 4096;
    cmd.handle = -1;
    EXPECT_EQ(ops->identify(&cmd), PTL_ERR_NO_HANDLE);
    EXPECT_TRUE(nvme_seen(disk).empty());

    cmd.u.identify.nvme.cns = 1;
    cmd.u.identify.nvme.nsid = 0;
    ASSERT_EQ(issue(ops->identify, cmd), 0);
    NvmeSeen c = last();
    EXPECT_TRUE(c.admin);
    EXPECT_EQ(c.opcode, 0x06u);
    EXPECT_EQ(c.cdw10, 1u);
    EXPECT_EQ(c.nsid, 0u);
    EXPECT_EQ(c.len, 4096u);
    EXPECT_EQ(c.timeout_ms, 0u) << "the driver's default";
    std::string serial = disk.show().at("serial");
    EXPECT_EQ(std::string(page.begin() + 4, page.begin() + 4 + serial.size()), serial);

    Bytes ns(4096);
    PROTOCOL_CMD_S nscmd = zeroed_record();
    nscmd.buffer = ns.data();
    nscmd.buffer_len = 4096;
    nscmd.u.identify.nvme.cns = 0;
    nscmd.u.identify.nvme.nsid = 1;
    ASSERT_EQ(issue(ops->identify, nscmd), 0);
    EXPECT_EQ(last().nsid, 1u);
    EXPECT_EQ(last().cdw10, 0u);
    EXPECT_EQ(get_le64(ns.data()), sectors()) << "namespace size";
}

TEST_F(NvmeTest, IdentifyCountsADeviceStatusAsSuccess)
{
    Bytes page(4096);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = page.data();
    cmd.buffer_len = 4096;
    cmd.u.identify.nvme.cns = 0x55; // a CNS the controller does not know
    EXPECT_EQ(issue(ops->identify, cmd), 0);
    EXPECT_FALSE(last().good);
    EXPECT_EQ(last().status, 0x4002u);
}

TEST_F(NvmeTest, IdentifyHelperAndCapacity)
{
    Bytes page(4096);
    std::string dev = disk.dev();
    IDENTIFY_PARAMETER arg = {};
    arg.ptl = SELECT_NVME_TYPE;
    arg.name = dev.c_str();
    arg.data = page.data();
    ASSERT_EQ(ptl_get_identify(&arg), 0);
    EXPECT_EQ(arg.copy_len, 4096u);
    EXPECT_EQ(last().cdw10, 1u) << "identify controller";
    EXPECT_EQ(last().nsid, 0u);
    EXPECT_EQ(get_capcity(SELECT_NVME_TYPE, page.data()), sectors());
}

TEST_F(NvmeTest, VendorCommandStampsTheSignatureAndNsidOne)
{
    Bytes data = pattern(512, 5);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.vendor.CDW0 = 0x1F9; // only the low byte is the opcode
    cmd.u.vendor.NSID = 7;     // not used
    cmd.u.vendor.CDW10 = 0;
    cmd.u.vendor.CDW11 = 0x11111111;
    cmd.u.vendor.CDW12 = 0x22;
    cmd.u.vendor.CDW13 = 0x33333333;
    cmd.u.vendor.CDW14 = 0x44444444; // not used
    cmd.u.vendor.CDW15 = 0x55555555;
    cmd.buffer = data.data();
    cmd.buffer_len = 512;
    cmd.timeout = 3;
    cmd.data_to = DATA_TO_DEV;
    ASSERT_EQ(issue(ops->vendor, cmd), 0);
    NvmeSeen c = last();
    EXPECT_EQ(c.opcode, 0xF9u);
    EXPECT_EQ(c.nsid, 1u);
    EXPECT_EQ(c.cdw10, 128u) << "dwords in the buffer";
    EXPECT_EQ(c.cdw11, 0x11111111u);
    EXPECT_EQ(c.cdw12, 0x22u);
    EXPECT_EQ(c.cdw13, 0x33333333u);
    EXPECT_EQ(c.cdw14, kTransportSignature);
    EXPECT_EQ(c.cdw15, 0x55555555u);
    EXPECT_EQ(c.len, 512u);
    EXPECT_EQ(c.timeout_ms, 3000u);

    // A vendor read of the controller's mailbox gives the bytes back.
    Bytes back(512);
    PROTOCOL_CMD_S read = zeroed_record();
    read.u.vendor.CDW0 = 0xFA;
    read.u.vendor.CDW10 = 128;
    read.buffer = back.data();
    read.buffer_len = 512;
    ASSERT_EQ(issue(ops->vendor, read), 0);
    EXPECT_EQ(back, data);
}

TEST_F(NvmeTest, VendorFailureIsKindEleven)
{
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.vendor.CDW0 = 0xF9; // a vendor write without data
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->vendor, cmd)), PTL_ERR_IOCTL);
    EXPECT_EQ(last().status, 0x4002u);

    cmd.u.vendor.CDW0 = 0xE7; // an opcode the controller does not have
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->vendor, cmd)), PTL_ERR_IOCTL);
    EXPECT_EQ(last().status, 0x4001u);
}

TEST_F(NvmeTest, DownloadSendsZeroBasedDwordsAndADwordOffset)
{
    Bytes image = pattern(4096, 6);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.download.lba = 8192;
    cmd.buffer = image.data();
    cmd.buffer_len = 4096;
    ASSERT_EQ(issue(ops->download, cmd), 0);
    NvmeSeen c = last();
    EXPECT_EQ(c.opcode, 0x11u);
    EXPECT_EQ(c.cdw10, 1023u);
    EXPECT_EQ(c.cdw11, 2048u);
    EXPECT_EQ(c.timeout_ms, 0u);

    std::ifstream in(disk.dir() + "/firmware.img", std::ios::binary);
    Bytes stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(stored.size(), 8192u + 4096u);
    EXPECT_EQ(Bytes(stored.begin() + 8192, stored.end()), image);

    cmd.u.download.lba = 1u << 20; // past the image the controller takes
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->download, cmd)), PTL_ERR_DOWNLOAD);
    EXPECT_EQ(last().status, 0x4002u);
}

TEST_F(NvmeTest, SendCmdPassesOnlyGetLogPage)
{
    Bytes log(512, 0xEE);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.u.send_cmd.sc.nvme.command = 0x02;
    cmd.u.send_cmd.sc.nvme.subcommand = 0x02;
    cmd.u.send_cmd.sc.nvme.namesapce_id = 0xFFFFFFFF;
    cmd.buffer = log.data();
    cmd.buffer_len = 512;
    cmd.timeout = 2;
    ASSERT_EQ(issue(ops->send_cmd, cmd), 0);
    NvmeSeen c = last();
    EXPECT_EQ(c.opcode, 0x02u);
    EXPECT_EQ(c.cdw10, 0x007F0002u) << "the same encoding the SMART operation uses";
    EXPECT_EQ(c.cdw11, 0u);
    EXPECT_EQ(c.nsid, 0xFFFFFFFFu);
    EXPECT_EQ(c.timeout_ms, 2000u);
    EXPECT_EQ(get_le16(log.data() + 1), 35 + 273) << "composite temperature in kelvin";

    Bytes big(0x40000 + 4);
    PROTOCOL_CMD_S wide = cmd;
    wide.buffer = big.data();
    wide.buffer_len = static_cast<uint32_t>(big.size());
    ASSERT_EQ(issue(ops->send_cmd, wide), 0);
    EXPECT_EQ(last().cdw10, 0x00000002u) << "NUMD 0x10000: low half 0";
    EXPECT_EQ(last().cdw11, 0x00000001u) << "high half in cdw11";

    PROTOCOL_CMD_S unknown_log = cmd;
    unknown_log.u.send_cmd.sc.nvme.subcommand = 0x7E;
    EXPECT_EQ(PTL_STATUS_KIND(issue(ops->send_cmd, unknown_log)), PTL_ERR_IOCTL);
    EXPECT_EQ(last().status, 0x4109u);

    size_t before = nvme_seen(disk).size();
    PROTOCOL_CMD_S identify = cmd;
    identify.u.send_cmd.sc.nvme.command = 0x06;
    EXPECT_EQ(issue(ops->send_cmd, identify), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(nvme_ioctl(&cmd), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(nvme_seen(disk).size(), before);
}

TEST_F(NvmeTest, SmartRefusalsBeforeAnyCommand)
{
    Bytes log(512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.buffer = log.data();
    cmd.buffer_len = 511;
    EXPECT_EQ(issue(ops->smart, cmd), PTL_ERR_BUFFER_TOO_SMALL);
    cmd.buffer_len = 512;
    cmd.handle = -1;
    EXPECT_EQ(ops->smart(&cmd), PTL_ERR_NO_HANDLE);
    EXPECT_TRUE(nvme_seen(disk).empty());
}

TEST_F(NvmeTest, SmartStopsWhenTheControllerIdentifyFails)
{
    DiskHandle handle(disk.dev());
    ASSERT_GE(handle.fd(), 0);
    ASSERT_EQ(disk.tool("replug " + simtest::shell_quote(disk.dir())), 0);
    // The descriptor opened before the power cycle no longer reaches it.
    Bytes log(512);
    PROTOCOL_CMD_S cmd = zeroed_record();
    cmd.handle = handle.fd();
    cmd.buffer = log.data();
    cmd.buffer_len = 512;
    EXPECT_EQ(ops->smart(&cmd), PTL_STATUS(ENODEV, PTL_ERR_IDENTIFY_SMART));
    EXPECT_TRUE(nvme_seen(disk).empty()) << "no Get Log Page after the failed identify";
}

// The log's NSID: the namespace when the controller keeps SMART per
// namespace (lpa bit 0) and the descriptor is one, else all namespaces.
TEST(NvmeSmartNsid, FollowsTheControllersLogPageAttributes)
{
    struct Case {
        int nsid;
        int lpa;
        uint32_t expected;
    } cases[] = {{1, 1, 1}, {1, 0, 0xFFFFFFFF}, {3, 1, 3}, {3, 0x03, 3}, {3, 0x02, 0xFFFFFFFF}};
    for (const Case &c : cases) {
        simtest::SimDisk disk(nvme_disk(c.nsid));
        disk.set("lpa=" + std::to_string(c.lpa) + " temperature=41");
        Bytes log(512);
        PROTOCOL_CMD_S cmd = zeroed_record();
        DiskHandle handle(disk.dev());
        cmd.handle = handle.fd();
        cmd.buffer = log.data();
        cmd.buffer_len = 512;
        ASSERT_EQ(get_protocol_func(SELECT_NVME_TYPE)->smart(&cmd), 0) << "nsid " << c.nsid << " lpa " << c.lpa;

        std::vector<NvmeSeen> seen = nvme_seen(disk);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].opcode, 0x06u);
        EXPECT_EQ(seen[0].cdw10, 1u);
        EXPECT_EQ(seen[0].nsid, 0u);
        EXPECT_EQ(seen[1].opcode, 0x02u);
        EXPECT_EQ(seen[1].cdw10, 0x007F0002u);
        EXPECT_EQ(seen[1].len, 512u);
        EXPECT_EQ(seen[1].nsid, c.expected) << "nsid " << c.nsid << " lpa " << c.lpa;
        EXPECT_TRUE(seen[1].good);
        EXPECT_EQ(get_le16(log.data() + 1), 41 + 273);
    }
}

TEST(NvmePrinters, ShowEveryFieldAndTheData)
{
    uint8_t data[32];
    for (size_t i = 0; i < sizeof(data); i++)
        data[i] = static_cast<uint8_t>(i);
    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = 0x06;
    cmd.nsid = 0xFFFFFFFF;
    cmd.cdw10 = 0x7F0002;
    cmd.addr = reinterpret_cast<uintptr_t>(data);
    cmd.data_len = sizeof(data);
    testing::internal::CaptureStdout();
    print_nvme_passthru_cmd(&cmd, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("----------------------begin-----------------\n"), std::string::npos);
    EXPECT_NE(out.find("opcode:0x6\n"), std::string::npos);
    EXPECT_NE(out.find("nsid:0xFFFFFFFF\n"), std::string::npos);
    EXPECT_NE(out.find("cdw10:0x7F0002\n"), std::string::npos);
    EXPECT_NE(out.find("data_len:0x20\n"), std::string::npos);
    EXPECT_NE(out.find("0000000000000010:10 11 12"), std::string::npos) << out;

    struct nvme_user_io io;
    memset(&io, 0, sizeof(io));
    io.opcode = 0x02;
    io.nblocks = 7;
    io.slba = 0x64;
    testing::internal::CaptureStdout();
    print_nvme_io_cmd(&io, 0);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("----------------------end-----------------\n"), std::string::npos);
    EXPECT_EQ(out.find("begin"), std::string::npos);
    EXPECT_NE(out.find("nblocks:0x7\n"), std::string::npos);
    EXPECT_NE(out.find("slba:0x64\n"), std::string::npos);
    EXPECT_EQ(out.find("HEX"), std::string::npos) << "no data area, no dump";
}

} // namespace
