// The service's format: its steps and their order with stand-in tools on
// PATH, what each outcome returns, and a real run with parted, mkfs.exfat
// and mkfs.ntfs on the loop-backed simulated disk.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
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

class FormatStepsTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    std::string log = disk.dir() + "/standin.log";

    int format_with(const std::map<std::string, std::string> &extra)
    {
        std::map<std::string, std::string> env = extra;
        env["STANDIN_LOG"] = log;
        env["STANDIN_SIM_DIR"] = disk.dir();
        svctest::ServiceProcess service(bus, ZV_STANDIN_TOOLS, env);
        return call_simple(conn, "format", QString::fromStdString(dev));
    }
};

TEST_F(FormatStepsTest, StepsAndCommandLinesInOrder)
{
    EXPECT_EQ(format_with({{"STANDIN_NTFS_OUTPUT", "Cluster size has been automatically set to 4096 bytes.\n"}}), 0);
    EXPECT_EQ(lines_of(log), (std::vector<std::string>{
                                 "mkfs.exfat " + dev + " resets=0",
                                 "parted -s " + dev + " mklabel msdos mkpart primary ntfs 2M 100% resets=0",
                                 "umount " + dev + " resets=1",
                                 "mkfs.ntfs -f -L \xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98 " + dev + "1 resets=1",
                             }));
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

TEST_F(FormatStepsTest, FailingResetStopsBeforeUmount)
{
    ASSERT_EQ(disk.tool("set " + disk.dir() + " reenum_ms=4000"), 0);
    int status = format_with({{"STANDIN_PARTED_UNPLUGS", dev}});
    EXPECT_EQ(status, 260) << "the disk is off the bus when the reset is due";
    std::vector<std::string> steps = lines_of(log);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].rfind("mkfs.exfat ", 0), 0u);
    EXPECT_EQ(steps[1].rfind("parted ", 0), 0u);
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

TEST(FormatForReal, PartitionOneHoldsNtfsLabelledSecureDisk)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "real partitioning needs the loop-backed disk of a root run";
    simtest::SimDisk disk;
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    svctest::ServiceProcess service(bus);
    QString dev = QString::fromStdString(disk.dev());

    // Unlock as the GUI does: set a password, verify it, reset.
    ASSERT_EQ(call_data(conn, "send_cmd", dev, svctest::password_record(0xFA), svctest::sector_with("Passw0rd1")), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", dev, svctest::password_record(0xFB), svctest::sector_with("Passw0rd1")), 0);
    ASSERT_EQ(call_simple(conn, "reset", dev), 0);
    ASSERT_TRUE(svctest::wait_present(disk));
    ASSERT_EQ(disk.show().at("locked"), "0");

    ASSERT_EQ(call_simple(conn, "format", dev), 0);

    std::string label, type;
    EXPECT_EQ(svctest::run_program({"blkid", "-o", "value", "-s", "TYPE", disk.dev() + "1"}, {}, &type), 0);
    EXPECT_EQ(svctest::run_program({"blkid", "-o", "value", "-s", "LABEL", disk.dev() + "1"}, {}, &label), 0);
    EXPECT_EQ(type, "ntfs\n");
    EXPECT_EQ(label, "\xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98\n");
}

} // namespace
