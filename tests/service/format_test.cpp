// The service's format: its steps and their order with stand-in tools on
// PATH, what each outcome returns, and a real run with parted, mkfs.exfat
// and mkfs.ntfs on the loop-backed simulated disk.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "protocol_type.h"
#include "service_fixture.h"
#include "service_records.h"
#include "sim_disk.h"

namespace {

using svctest::call_data;
using svctest::call_simple;

std::vector<std::string> lines_of(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

const int kFormatWaitMs = 180000;

// Unlocks the disk as the GUI does (set a password, verify it, reset)
// through a service of its own on the bus.
void unlock(const simtest::SimDisk &disk, const svctest::PrivateSystemBus &bus, const QDBusConnection &conn)
{
    svctest::ServiceProcess service(bus);
    QString dev = QString::fromStdString(disk.dev());
    ASSERT_EQ(call_data(conn, "send_cmd", dev, svctest::password_record(0xFA), svctest::sector_with("Passw0rd1")), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", dev, svctest::password_record(0xFB), svctest::sector_with("Passw0rd1")), 0);
    ASSERT_EQ(call_simple(conn, "reset", dev), 0);
    ASSERT_TRUE(svctest::wait_present(disk));
    ASSERT_EQ(disk.show().at("locked"), "0");
}

std::string blkid(const std::string &dev, const char *tag)
{
    std::string value;
    svctest::run_program({"blkid", "-o", "value", "-s", tag, dev}, {}, &value);
    return value;
}

// Every byte the disk presents, read through its node.
std::string contents(const std::string &dev)
{
    std::ifstream in(dev, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool mounted(const std::string &point)
{
    for (const std::string &line : lines_of("/proc/self/mountinfo"))
        if (line.find(" " + point + " ") != std::string::npos)
            return true;
    return false;
}

// Partitioning and the file systems are real (parted, mount): the disk's
// loop-backed areas exist in a root run only.
#define NEEDS_ROOT()                                                                                                   \
    if (geteuid() != 0)                                                                                                \
    GTEST_SKIP() << "real partitioning needs the loop-backed disk of a root run"

class FormatStepsTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    std::string log = disk.dir() + "/standin.log";

    void SetUp() override
    {
        NEEDS_ROOT();
        unlock(disk, bus, conn);
    }

    int format_with(const std::map<std::string, std::string> &extra)
    {
        std::remove(log.c_str());
        std::map<std::string, std::string> env = extra;
        env["STANDIN_LOG"] = log;
        env["STANDIN_SIM_DIR"] = disk.dir();
        svctest::ServiceProcess service(bus, ZV_STANDIN_TOOLS, env);
        return call_simple(conn, "format", QString::fromStdString(dev), nullptr, kFormatWaitMs);
    }
};

TEST_F(FormatStepsTest, StepsAndCommandLinesInOrder)
{
    EXPECT_EQ(format_with({{"STANDIN_NTFS_OUTPUT", "Cluster size has been automatically set to 4096 bytes.\n"}}), 0);
    EXPECT_EQ(lines_of(log), (std::vector<std::string>{
                                 "mkfs.exfat " + dev + " resets=1",
                                 "parted -s " + dev + " mklabel msdos mkpart primary ntfs 2M 100% resets=1",
                                 "mkfs.ntfs -f -L \xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98 " + dev + "1 resets=2",
                             }))
        << "one reset while unlocking, one inside format; nothing was mounted, so nothing unmounted";
}

TEST_F(FormatStepsTest, OutcomesOfMkfsNtfs)
{
    const std::string cmdline = "mkfs.ntfs -f -L \xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98 " + dev + "1 2>/dev/null";
    struct Case {
        const char *what;
        const char *output;
        const char *exit_status;
        int expected;
    } cases[] = {
        {"printed nothing", "", "0", static_cast<int>(cmdline.size())},
        {"failed although it printed", "Error opening partition device\n", "1", PTL_STATUS(1, PTL_ERR_FORMAT_TOOL)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(format_with({{"STANDIN_NTFS_OUTPUT", c.output}, {"STANDIN_NTFS_EXIT", c.exit_status}}), c.expected)
            << c.what;
}

TEST_F(FormatStepsTest, FailedToolsStopBeforeTheReset)
{
    struct Case {
        const char *what;
        std::map<std::string, std::string> env;
        int expected;
        size_t steps;
    } cases[] = {
        {"mkfs.exfat failed", {{"STANDIN_EXFAT_EXIT", "1"}}, PTL_STATUS(1, PTL_ERR_FORMAT_TOOL), 1},
        {"parted failed", {{"STANDIN_PARTED_EXIT", "1"}}, PTL_STATUS(1, PTL_ERR_FORMAT_TOOL), 2},
        {"parted said yes but left no partition", {{"STANDIN_PARTED_EXIT", "0"}}, PTL_ERR_FORMAT_TOOL, 2},
    };
    for (const Case &c : cases) {
        std::string before = disk.show().at("generation");
        EXPECT_EQ(format_with(c.env), c.expected) << c.what;
        std::vector<std::string> steps = lines_of(log);
        EXPECT_EQ(steps.size(), c.steps) << c.what;
        for (const std::string &step : steps)
            EXPECT_EQ(step.rfind("mkfs.ntfs", 0), std::string::npos) << c.what;
        EXPECT_EQ(disk.show().at("generation"), before) << c.what << ": no reset was sent";
        if (c.steps == 2) {
            // Wipe what the last case left, so that the next one starts without a partition.
            std::ofstream(dev, std::ios::binary | std::ios::in) << std::string(512, '\0');
        }
    }
}

TEST_F(FormatStepsTest, RefusedResetStopsBeforeMkfsNtfs)
{
    disk.set("reset_refused=1");
    // CHECK CONDITION (status byte 2) from the disk: the reset did not happen.
    EXPECT_EQ(format_with({{"STANDIN_NTFS_OUTPUT", "done\n"}}), PTL_STATUS(2, PTL_ERR_RESET_REFUSED));
    std::vector<std::string> steps = lines_of(log);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].rfind("mkfs.exfat ", 0), 0u);
    EXPECT_EQ(steps[1].rfind("parted ", 0), 0u);
    EXPECT_EQ(disk.show().at("present"), "1");
}

TEST_F(FormatStepsTest, RefusedNamesRunNothing)
{
    EXPECT_EQ(format_with({{"STANDIN_NTFS_OUTPUT", "done\n"}}), 0) << "a baseline run";
    std::remove(log.c_str());
    std::map<std::string, std::string> env = {{"STANDIN_LOG", log}};
    svctest::ServiceProcess service(bus, ZV_STANDIN_TOOLS, env);
    struct Case {
        const char *name;
        int expected;
    } cases[] = {
        {"", 4},
        {"/dev/sdq;touch /tmp/zv-owned", PTL_ERR_BAD_DEVICE_NAME},
        {"/dev/sdq$(reboot)", PTL_ERR_BAD_DEVICE_NAME},
        {"/dev/null", PTL_ERR_BAD_DEVICE_NAME},
        {"/dev/sdqnosuchdisk", 260},
    };
    for (const Case &c : cases)
        EXPECT_EQ(call_simple(conn, "format", c.name), c.expected) << c.name;
    EXPECT_TRUE(lines_of(log).empty()) << "no tool ran";
    EXPECT_NE(access("/tmp/zv-owned", F_OK), 0);
}

TEST(FormatRefusal, ADiskPresentingItsPublicAreaIsLeftAlone)
{
    NEEDS_ROOT();
    simtest::SimDisk disk;
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    std::string log = disk.dir() + "/standin.log";
    std::map<std::string, std::string> env = {{"STANDIN_LOG", log}};
    QString dev = QString::fromStdString(disk.dev());
    std::string before = contents(disk.dev());
    {
        svctest::ServiceProcess service(bus, ZV_STANDIN_TOOLS, env);
        EXPECT_EQ(call_simple(conn, "format", dev), PTL_ERR_DISK_LOCKED) << "no password";
        // Password set, not verified: the locked disk shows its public area.
        ASSERT_EQ(call_data(conn, "send_cmd", dev, svctest::password_record(0xFA), svctest::sector_with("Passw0rd1")),
                  0);
        EXPECT_EQ(call_simple(conn, "format", dev), PTL_ERR_DISK_LOCKED) << "locked";
    }
    EXPECT_TRUE(lines_of(log).empty()) << "no tool ran";
    EXPECT_EQ(contents(disk.dev()) == before, true) << "the public area is unchanged";
}

// An unlocked disk and the service with the real tools, formatted once.
class FormattedDiskTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    QString dev = QString::fromStdString(disk.dev());
    std::unique_ptr<svctest::ServiceProcess> service;

    void SetUp() override
    {
        NEEDS_ROOT();
        unlock(disk, bus, conn);
        service.reset(new svctest::ServiceProcess(bus));
        ASSERT_EQ(call_simple(conn, "format", dev, nullptr, kFormatWaitMs), 0);
    }
};

TEST_F(FormattedDiskTest, PartitionOneHoldsNtfsLabelledSecureDisk)
{
    EXPECT_EQ(blkid(disk.dev() + "1", "TYPE"), "ntfs\n");
    EXPECT_EQ(blkid(disk.dev() + "1", "LABEL"), "\xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98\n");
}

// The desktop mounted the disk's partition: format unmounts it first, or
// refuses while something holds it.
TEST_F(FormattedDiskTest, MountedPartitionIsUnmountedOrTheDiskIsInUse)
{
    std::string partition = disk.dev() + "1";
    std::string point = disk.dir() + "/mnt";
    ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
    ASSERT_EQ(svctest::run_program({"mount", "-t", "ntfs-3g", partition, point}), 0);
    ASSERT_TRUE(mounted(point));

    // Held open: unmounting fails, format refuses before touching the disk.
    std::string generation = disk.show().at("generation");
    {
        std::ofstream held(point + "/note.txt");
        held << "kept open" << std::flush;
        EXPECT_EQ(call_simple(conn, "format", dev, nullptr, kFormatWaitMs), PTL_ERR_DISK_IN_USE);
        EXPECT_TRUE(mounted(point));
        EXPECT_EQ(disk.show().at("generation"), generation) << "no reset";
    }
    std::string note;
    std::getline(std::ifstream(point + "/note.txt"), note);
    EXPECT_EQ(note, "kept open") << "the file system was not rewritten";

    // Nothing holds it: unmounted, then formatted.
    EXPECT_EQ(call_simple(conn, "format", dev, nullptr, kFormatWaitMs), 0);
    EXPECT_FALSE(mounted(point));
    if (mounted(point))
        svctest::run_program({"umount", point});
    EXPECT_EQ(blkid(partition, "TYPE"), "ntfs\n");
    EXPECT_NE(access((point + "/note.txt").c_str(), F_OK), 0);
}

// The disk comes back from the reset inside format under another name, and
// meanwhile a second disk (with a partition of its own) takes the old name:
// the file system lands on the right disk and the other one is untouched.
TEST(FormatForReal, DiskBackUnderAnotherNameWhileAnotherDiskTakesTheOldName)
{
    NEEDS_ROOT();
    simtest::SimDisk other; // first in the simulator's list, so it owns the old name once it takes it
    simtest::SimDiskOptions slow;
    slow.reenum_ms = 3000;
    simtest::SimDisk disk(slow);
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    unlock(disk, bus, conn);

    ASSERT_EQ(svctest::run_program({"parted", "-s", other.dev(), "mklabel", "msdos", "mkpart", "primary", "1M",
                                    "100%"}),
              0);
    const std::string other_before = contents(other.dev());
    const std::string old_name = disk.dev();
    const std::string new_name = old_name + "n";
    disk.set("next_dev=" + new_name);

    svctest::ServiceProcess service(bus);
    int status = svctest::kNoAnswer;
    std::thread formatting(
        [&] { status = call_simple(conn, "format", QString::fromStdString(old_name), nullptr, kFormatWaitMs); });
    bool left = false;
    for (int i = 0; i < 3000 && !left; i++) {
        left = disk.show().at("present") == "0";
        if (!left)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    int replugged = -1;
    if (left)
        simtest::shell("SECUREDISK_SIM=" + simtest::shell_quote(other.dir()) + " " + simtest::cli() + " replug " +
                           simtest::shell_quote(other.dir()) + " --dev " + old_name + " >/dev/null 2>&1",
                       &replugged);
    formatting.join();
    ASSERT_TRUE(left) << "the disk left the bus at the reset";
    ASSERT_EQ(replugged, 0) << "the second disk took the old name";

    EXPECT_EQ(status, 0);
    EXPECT_EQ(disk.dev(), new_name);
    EXPECT_EQ(blkid(new_name + "1", "TYPE"), "ntfs\n");
    EXPECT_EQ(other.dev(), old_name);
    EXPECT_EQ(blkid(old_name + "1", "TYPE"), "") << "the other disk's partition has no file system";
    EXPECT_TRUE(contents(old_name) == other_before) << "the other disk's bytes are unchanged";
}

} // namespace
