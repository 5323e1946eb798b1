// The transport registry, device handles and the identify helper, as a
// caller of the library sees them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common.h"
#include "device_helpers.h"

namespace {

using ptltest::Bytes;
using ptltest::cdbs_seen;

TEST(Registry, TablesBySelector)
{
    struct Case {
        uint32_t selector;
        bool has_table;
    } cases[] = {
        {SELECT_SCSI_ATA_TYPE, true}, {SELECT_SCSI_TYPE, true},   {SELECT_ATA_TYPE, false},
        {SELECT_NVME_TYPE, true},     {SELECT_JMS583_NVME_TYPE, false},
        {SELECT_PTL_END, false},      {0x7FFFFFFF, false},
    };
    for (const Case &c : cases) {
        PPROTOCOL_FUNC_S table = get_protocol_func(static_cast<SELECT_PROTOCOL_TYPE>(c.selector));
        EXPECT_EQ(table != nullptr, c.has_table) << "selector " << c.selector;
        if (table != nullptr) {
            EXPECT_EQ(table->ptl, c.selector);
        }
    }
}

TEST(Registry, EveryRegisteredTableFillsAllSevenOperations)
{
    for (SELECT_PROTOCOL_TYPE s : {SELECT_SCSI_ATA_TYPE, SELECT_SCSI_TYPE, SELECT_NVME_TYPE}) {
        PPROTOCOL_FUNC_S t = get_protocol_func(s);
        ASSERT_NE(t, nullptr);
        for (PTL_OPERATION op : {t->read, t->write, t->identify, t->smart, t->vendor, t->download, t->send_cmd})
            EXPECT_NE(op, nullptr) << "selector " << s;
    }
}

// Each slot is wired to its own behaviour: with a record whose handle is -1
// every operation answers with the status its checks or its failed request
// give, and only the operations a transport does not have answer 3.
TEST(Registry, EveryOperationHasItsBehaviour)
{
    enum Slot { READ, WRITE, IDENTIFY, SMART, VENDOR, DOWNLOAD, SEND_CMD };
    struct Case {
        SELECT_PROTOCOL_TYPE ptl;
        Slot slot;
        PROTOCOL_STATUS kind;
    } cases[] = {
        {SELECT_SCSI_ATA_TYPE, READ, PTL_ERR_COUNT_RANGE},        {SELECT_SCSI_ATA_TYPE, WRITE, PTL_ERR_COUNT_RANGE},
        {SELECT_SCSI_ATA_TYPE, IDENTIFY, PTL_ERR_BUFFER_TOO_SMALL}, {SELECT_SCSI_ATA_TYPE, SMART, PTL_ERR_ATA_NOT_IN_TABLE},
        {SELECT_SCSI_ATA_TYPE, VENDOR, PTL_ERR_NOT_SUPPORTED},    {SELECT_SCSI_ATA_TYPE, DOWNLOAD, PTL_ERR_DOWNLOAD},
        {SELECT_SCSI_ATA_TYPE, SEND_CMD, PTL_ERR_NO_HANDLE},
        {SELECT_SCSI_TYPE, READ, PTL_ERR_READ_WRITE},             {SELECT_SCSI_TYPE, WRITE, PTL_ERR_READ_WRITE},
        {SELECT_SCSI_TYPE, IDENTIFY, PTL_ERR_BUFFER_TOO_SMALL},   {SELECT_SCSI_TYPE, SMART, PTL_ERR_NOT_SUPPORTED},
        {SELECT_SCSI_TYPE, VENDOR, PTL_ERR_NOT_SUPPORTED},        {SELECT_SCSI_TYPE, DOWNLOAD, PTL_ERR_NOT_SUPPORTED},
        {SELECT_SCSI_TYPE, SEND_CMD, PTL_ERR_IDENTIFY_SMART},
        {SELECT_NVME_TYPE, READ, PTL_ERR_NO_HANDLE},              {SELECT_NVME_TYPE, WRITE, PTL_ERR_NO_HANDLE},
        {SELECT_NVME_TYPE, IDENTIFY, PTL_ERR_BUFFER_TOO_SMALL},   {SELECT_NVME_TYPE, SMART, PTL_ERR_NO_HANDLE},
        {SELECT_NVME_TYPE, VENDOR, PTL_ERR_IOCTL},                {SELECT_NVME_TYPE, DOWNLOAD, PTL_ERR_DOWNLOAD},
        {SELECT_NVME_TYPE, SEND_CMD, PTL_ERR_IOCTL},
    };
    for (const Case &c : cases) {
        PPROTOCOL_FUNC_S t = get_protocol_func(c.ptl);
        ASSERT_NE(t, nullptr);
        PTL_OPERATION ops[] = {t->read, t->write, t->identify, t->smart, t->vendor, t->download, t->send_cmd};
        PROTOCOL_CMD_S cmd = ptltest::zeroed_record();
        cmd.handle = -1;
        if (c.ptl == SELECT_NVME_TYPE && c.slot == SEND_CMD)
            cmd.u.send_cmd.sc.nvme.command = 0x02; // Get Log Page, the one it passes on
        EXPECT_EQ(PTL_STATUS_KIND(ops[c.slot](&cmd)), c.kind) << "selector " << c.ptl << " slot " << c.slot;
    }
}

TEST(Registry, RegisterReplacesAndIgnoresSelectorsOutOfRange)
{
    PPROTOCOL_FUNC_S original = get_protocol_func(SELECT_SCSI_TYPE);
    PROTOCOL_FUNC_S replacement = *original;
    register_protocol(&replacement);
    EXPECT_EQ(get_protocol_func(SELECT_SCSI_TYPE), &replacement);
    register_protocol(original);
    EXPECT_EQ(get_protocol_func(SELECT_SCSI_TYPE), original);

    PROTOCOL_FUNC_S beyond = *original;
    beyond.ptl = SELECT_PTL_END;
    register_protocol(&beyond); // must not write past the registry
    EXPECT_EQ(get_protocol_func(SELECT_PTL_END), nullptr);
}

TEST(Registry, VersionAndDiskInfo)
{
    EXPECT_STREQ(PROTOCOL_INTERFACE_VERSION, "libprotocol_interface version:1.1.0 (2020-08-24 05:36:05 PM)");
    DISK_INFO info = {};
    DISK_INFO_PARAMETER arg = {SELECT_SCSI_ATA_TYPE, "/dev/null", &info};
    EXPECT_EQ(ptl_get_disk_info(&arg), PTL_ERR_NOT_SUPPORTED);
}

class IdentifyHelperTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();

    IDENTIFY_PARAMETER request(uint8_t *data, uint32_t copy_len, uint32_t offset, uint32_t reversal,
                               SELECT_PROTOCOL_TYPE ptl = SELECT_SCSI_ATA_TYPE)
    {
        IDENTIFY_PARAMETER arg = {};
        arg.ptl = ptl;
        arg.name = dev.c_str();
        arg.data = data;
        arg.copy_len = copy_len;
        arg.offset = offset;
        arg.reversal = reversal;
        return arg;
    }
};

TEST_F(IdentifyHelperTest, WholePageWhenCopyLenIsZero)
{
    Bytes data(600, 0xEE);
    IDENTIFY_PARAMETER arg = request(data.data(), 0, 0, 0);
    ASSERT_EQ(ptl_get_identify(&arg), 0);
    EXPECT_EQ(arg.copy_len, 512u);
    EXPECT_EQ(data[262], 0x44);
    EXPECT_EQ(data[263], 0x53);
    EXPECT_EQ(data[512], 0xEE) << "nothing beyond copy_len";
}

TEST_F(IdentifyHelperTest, ReversedModelStringReadsInOrder)
{
    char model[41] = {};
    IDENTIFY_PARAMETER arg = request(reinterpret_cast<uint8_t *>(model), 40, 54, 1);
    ASSERT_EQ(ptl_get_identify(&arg), 0);
    EXPECT_EQ(std::string(model).substr(0, 14), "ZV Secure Disk");
    EXPECT_EQ(std::string(model).find_last_not_of(' '), 13u) << "space-padded to 40";
}

TEST_F(IdentifyHelperTest, OddReversalCompletesThePairButCopiesOnlyCopyLen)
{
    Bytes plain(4, 0);
    IDENTIFY_PARAMETER p = request(plain.data(), 4, 20, 0);
    ASSERT_EQ(ptl_get_identify(&p), 0);

    Bytes swapped(4, 0xEE);
    IDENTIFY_PARAMETER s = request(swapped.data(), 3, 20, 1);
    ASSERT_EQ(ptl_get_identify(&s), 0);
    EXPECT_EQ(s.copy_len, 3u);
    EXPECT_EQ(swapped, (Bytes{plain[1], plain[0], plain[3], 0xEE}));
}

TEST_F(IdentifyHelperTest, FailuresLeaveTheRequestUntouched)
{
    size_t before = cdbs_seen(disk).size();
    struct Case {
        const char *what;
        SELECT_PROTOCOL_TYPE ptl;
        const char *name;
        uint32_t copy_len, offset, reversal;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"no table for SELECT_ATA_TYPE", SELECT_ATA_TYPE, nullptr, 16, 0, 0, PTL_ERR_NOT_SUPPORTED},
        {"no table for SELECT_JMS583_NVME_TYPE", SELECT_JMS583_NVME_TYPE, nullptr, 16, 0, 0, PTL_ERR_NOT_SUPPORTED},
        {"path that does not exist", SELECT_SCSI_ATA_TYPE, "/dev/zv-no-such-disk", 16, 0, 0, PTL_ERR_NO_HANDLE},
        {"slice past the identify buffer", SELECT_SCSI_ATA_TYPE, nullptr, 200, 4000, 0, PTL_ERR_IDENTIFY_RANGE},
        {"reversal rounds past the buffer", SELECT_SCSI_ATA_TYPE, nullptr, 1, 4095, 1, PTL_ERR_IDENTIFY_RANGE},
        {"huge offset cannot wrap", SELECT_SCSI_ATA_TYPE, nullptr, 16, 0xFFFFFFF8u, 0, PTL_ERR_IDENTIFY_RANGE},
    };
    for (const Case &c : cases) {
        Bytes data(16, 0xEE);
        IDENTIFY_PARAMETER arg = request(data.data(), c.copy_len, c.offset, c.reversal, c.ptl);
        if (c.name != nullptr)
            arg.name = c.name;
        EXPECT_EQ(ptl_get_identify(&arg), c.status) << c.what;
        EXPECT_EQ(arg.copy_len, c.copy_len) << c.what;
        EXPECT_EQ(data, Bytes(16, 0xEE)) << c.what;
    }
    EXPECT_EQ(cdbs_seen(disk).size(), before) << "no command reached the disk";
}

TEST_F(IdentifyHelperTest, LeavesNoDescriptorOpen)
{
    auto open_fds = [] {
        int count = 0;
        for (int fd = 0; fd < 1024; fd++)
            if (fcntl(fd, F_GETFD) != -1)
                count++;
        return count;
    };
    int before = open_fds();
    Bytes data(512);
    for (int i = 0; i < 5; i++) {
        IDENTIFY_PARAMETER arg = request(data.data(), 0, 0, 0);
        ASSERT_EQ(ptl_get_identify(&arg), 0);
    }
    EXPECT_EQ(open_fds(), before);
}

TEST_F(IdentifyHelperTest, CapacityOfTheSimulatedDisk)
{
    Bytes page(512);
    IDENTIFY_PARAMETER arg = request(page.data(), 0, 0, 0);
    ASSERT_EQ(ptl_get_identify(&arg), 0);
    uint64_t sectors = get_capcity(SELECT_SCSI_ATA_TYPE, page.data());
    EXPECT_EQ(sectors, std::stoull(disk.show().at("presented_sectors")));
    EXPECT_LE(sectors, 0x80000u) << "a locked disk is in public status";
}

TEST_F(IdentifyHelperTest, ExclusiveOpenFailsWhileAnotherProcessHoldsTheDisk)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "exclusive opens need the loop-backed disk of a root run";
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open_disk_handle(dev.c_str(), 0);
        char c = fd >= 0 ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');

    errno = 0;
    int fd = open_disk_handle(dev.c_str(), 0);
    int saved = errno;
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(saved, EBUSY);
    if (fd >= 0)
        close_disk_handle(fd);
    int shared = open_disk_handle(dev.c_str(), 1);
    EXPECT_GE(shared, 0) << "a shared open still works";
    if (shared >= 0)
        close_disk_handle(shared);

    (void)!write(release[1], "x", 1);
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    for (int p : {ready[0], ready[1], release[0], release[1]})
        close(p);
}

} // namespace
