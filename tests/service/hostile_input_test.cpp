// Everything a caller can send the root service that the contract does not
// need is refused with its status, and neither the disk nor its data are
// touched. The bus lets any user call; only root owns the name.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <unistd.h>

#include "protocol_type.h"
#include "service_fixture.h"
#include "service_records.h"
#include "sim_disk.h"

namespace {

using namespace svctest;

// Commands other than IDENTIFY DEVICE that the disk has seen.
size_t non_identify_commands(const simtest::SimDisk &disk)
{
    size_t n = 0;
    for (const std::string &line : disk.commands())
        if (line.find("cdb=85080e0000000100000000000000ec00 ") == std::string::npos)
            n++;
    return n;
}

class HostileInputTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    QString qdev = QString::fromStdString(dev);
    PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
};

TEST_F(HostileInputTest, RefusedWithTheirStatusAndNothingChanges)
{
    ServiceProcess service(bus);
    ASSERT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), sector_with("keep me")), 0);
    const size_t commands_before = non_identify_commands(disk);

    PROTOCOL_CMD_S big = zeroed();
    big.u.rw.lba = 0;
    big.u.rw.sectors = 1;
    big.data_to = DATA_TO_DEV;
    big.buffer_len = 1024 * 1024 + 512;
    big.timeout = 10;

    PROTOCOL_CMD_S slow = zeroed();
    slow.buffer_len = 512;
    slow.timeout = 601;

    PROTOCOL_CMD_S long_cdb = zeroed();
    long_cdb.u.send_cmd.type = SEND_CMD_CDB;
    long_cdb.u.send_cmd.sc.cc.cdb[0] = 0x2A; // WRITE (10)
    long_cdb.u.send_cmd.sc.cc.scsi_cdb_len = static_cast<SCSI_CDB_BYTE_LEN>(33);
    long_cdb.data_to = DATA_TO_DEV;
    long_cdb.buffer_len = 512;

    struct Case {
        const char *what;
        const char *method;
        QString name;
        QByteArray inbuf;
        QByteArray indata;
        int expected;
    } cases[] = {
        {"shell syntax", "write", "/dev/sdq;reboot", prompt_record(DATA_TO_DEV), QByteArray(512, 'x'),
         PTL_ERR_BAD_DEVICE_NAME},
        {"command substitution", "send_cmd", "/dev/$(reboot)", password_record(0xFA), sector_with("x1234567"),
         PTL_ERR_BAD_DEVICE_NAME},
        {"path traversal", "write", "/dev/../dev/" + qdev.mid(5), prompt_record(DATA_TO_DEV), QByteArray(512, 'x'),
         PTL_ERR_BAD_DEVICE_NAME},
        {"relative path", "read", qdev.mid(1), prompt_record(DATA_FROM_DEV), QByteArray(), PTL_ERR_BAD_DEVICE_NAME},
        {"upper case", "read", qdev.toUpper(), prompt_record(DATA_FROM_DEV), QByteArray(), PTL_ERR_BAD_DEVICE_NAME},
        {"not a block device", "getidentify", "/dev/null", identify_record(), QByteArray(), PTL_ERR_BAD_DEVICE_NAME},
        {"regular file", "getidentify", "/tmp/zvsecurity-not-a-disk", identify_record(), QByteArray(),
         PTL_ERR_BAD_DEVICE_NAME},
        {"too long", "getidentify", "/dev/sdqaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", identify_record(), QByteArray(),
         PTL_ERR_BAD_DEVICE_NAME},
        {"record of 599 bytes", "write", qdev, prompt_record(DATA_TO_DEV).left(599), QByteArray(512, 'x'),
         PTL_ERR_BAD_RECORD},
        {"no record", "read", qdev, QByteArray(), QByteArray(), PTL_ERR_BAD_RECORD},
        {"time limit past the cap", "getidentify", qdev, record_bytes(slow), QByteArray(), PTL_ERR_BAD_RECORD},
        {"write longer than indata", "write", qdev, prompt_record(DATA_TO_DEV), QByteArray(511, 'x'),
         PTL_ERR_BAD_DATA_LENGTH},
        {"send_cmd longer than indata", "send_cmd", qdev, password_record(0xFA), QByteArray(100, 'x'),
         PTL_ERR_BAD_DATA_LENGTH},
        {"buffer past the cap", "read", qdev, record_bytes(big), QByteArray(), PTL_ERR_BAD_DATA_LENGTH},
        {"command block past 32 bytes", "send_cmd", qdev, record_bytes(long_cdb), QByteArray(512, 'x'),
         PTL_ERR_NOT_IN_CATALOGUE},
    };
    std::ofstream("/tmp/zvsecurity-not-a-disk") << "data";
    for (const Case &c : cases) {
        QByteArray out("untouched");
        EXPECT_EQ(call_data(conn, c.method, c.name, c.inbuf, c.indata, &out), c.expected) << c.what;
        EXPECT_TRUE(out.isEmpty()) << c.what;
    }
    std::remove("/tmp/zvsecurity-not-a-disk");

    EXPECT_EQ(non_identify_commands(disk), commands_before) << "nothing but IDENTIFY reached the disk";
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state.at("prompt"), "keep me");
    EXPECT_EQ(state.at("password_set"), "0");
}

// A disk without the secure-disk signature: a plain loop device with a
// partition. Only getidentify may reach it, and its bytes stay as they were.
TEST_F(HostileInputTest, OnlyTheSecureDiskIsServed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs a loop device of a root run";
    std::string image = disk.dir() + "/plain.img";
    ASSERT_EQ(run_program({"truncate", "-s", "8M", image}), 0);
    std::string loop;
    ASSERT_EQ(run_program({"losetup", "-f", "--show", image}, {}, &loop), 0);
    loop.erase(loop.find_last_not_of('\n') + 1);
    struct Detach {
        std::string dev;
        ~Detach() { run_program({"losetup", "-d", dev}); }
    } detach{loop};
    // parted registers the partition with the kernel itself (loopNp1).
    ASSERT_EQ(run_program({"parted", "-s", loop, "mklabel", "msdos", "mkpart", "primary", "1M", "100%"}), 0);
    std::string sum_before, sum_after;
    run_program({"sha256sum", image}, {}, &sum_before);

    {
        ServiceProcess service(bus);
        QString plain = QString::fromStdString(loop);
        QByteArray out;
        EXPECT_NE(call_data(conn, "getidentify", plain, identify_record(), QByteArray(), &out), 0)
            << "getidentify is open to any whole disk; a loop device has no ATA identify";
        EXPECT_EQ(call_data(conn, "write", plain, prompt_record(DATA_TO_DEV), QByteArray(512, 'x')),
                  PTL_ERR_NOT_SECURE_DISK);
        EXPECT_EQ(call_data(conn, "read", plain, prompt_record(DATA_FROM_DEV), QByteArray()), PTL_ERR_NOT_SECURE_DISK);
        EXPECT_EQ(call_data(conn, "send_cmd", plain, password_record(0xFA), sector_with("x")),
                  PTL_ERR_NOT_SECURE_DISK);
        EXPECT_EQ(call_simple(conn, "reset", plain), PTL_ERR_NOT_SECURE_DISK);
        EXPECT_EQ(call_simple(conn, "format", plain), PTL_ERR_NOT_SECURE_DISK);
        EXPECT_EQ(call_simple(conn, "format", plain + "p1"), PTL_ERR_BAD_DEVICE_NAME) << "a partition";
    }
    run_program({"sync"});
    run_program({"sha256sum", image}, {}, &sum_after);
    EXPECT_EQ(sum_after, sum_before);
}

TEST_F(HostileInputTest, AnyUserReachesTheServiceOnlyRootOwnsIt)
{
    ServiceProcess service(bus);
    // No polkit authority on this bus: the service, not the bus, refuses.
    GdbusAnswer nobody = gdbus_call(bus, "reset", {"/dev/sdqnosuchdisk"}, as_nobody());
    EXPECT_NE(nobody.exit_status, 0);
    EXPECT_NE(nobody.text.find("org.freedesktop.DBus.Error.AccessDenied"), std::string::npos) << nobody.text;
    EXPECT_NE(nobody.text.find("Not authorized to com.varo.zvsecurity.unlock"), std::string::npos) << nobody.text;
    GdbusAnswer root = gdbus_call(bus, "reset", {"/dev/sdqnosuchdisk"}, {"--reuid=0", "--regid=0", "--clear-groups"});
    EXPECT_EQ(root.exit_status, 0);
    EXPECT_EQ(root.text, "(260,)\n");

    std::vector<std::string> own = {"setpriv", "--reuid=65534", "--regid=65534", "--groups=plugdev",
                                    service_program()};
    EXPECT_EQ(run_program(own, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()},
                                {"ASAN_OPTIONS", "detect_leaks=0"}}),
              1)
        << "only root may own the service's name";
}

} // namespace
