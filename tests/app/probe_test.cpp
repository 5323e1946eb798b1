// The disk-service probe against the real service on a private system bus:
// absent, present, gone again, and as a user whom polkit lets through or
// refuses.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <unistd.h>

#include "service_fixture.h"
#include "command_status.h"
#include "service_probe.h"

namespace {

svctest::PrivateSystemBus *bus = nullptr;

std::string probe_as_nobody(const std::vector<std::string> &args = {})
{
    std::vector<std::string> argv = svctest::as_nobody();
    argv.insert(argv.begin(), "setpriv");
    argv.push_back(ZV_PROBE_CLI);
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    svctest::run_program(argv, {{"DBUS_SYSTEM_BUS_ADDRESS", bus->address()}, {"ASAN_OPTIONS", "detect_leaks=0"}},
                         &out);
    return out;
}

TEST(ServiceProbe, AbsentPresentAndGoneAgain)
{
    QString reason;
    EXPECT_FALSE(disk_service_reachable(&reason));
    EXPECT_TRUE(reason.contains("org.freedesktop.DBus.Error.ServiceUnknown")) << reason.toStdString();
    {
        svctest::ServiceProcess service(*bus);
        reason.clear();
        EXPECT_TRUE(disk_service_reachable(&reason)) << reason.toStdString();
        EXPECT_TRUE(reason.isEmpty());
    }
    EXPECT_FALSE(disk_service_reachable(&reason));
}

// Any user reaches the service; a call polkit refuses makes the probe say
// no, so that the program shows its "not allowed" message instead of a
// verdict about the disk.
TEST(ServiceProbe, AUserPolkitRefusesIsToldSo)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing user needs root";
    svctest::MockAuthority authority(*bus);
    svctest::ServiceProcess service(*bus);
    EXPECT_EQ(probe_as_nobody(), "reachable\n");

    const std::string refused = probe_as_nobody({"--reset", "/dev/sdqnosuchdisk"});
    EXPECT_EQ(refused, "reset: " + std::to_string(CMD_ERR_BUS_ACCESS_DENIED) +
                           "\nunreachable: the disk service refused a call of this user\n");

    authority.allow({svctest::kUnlockAction});
    EXPECT_EQ(probe_as_nobody({"--reset", "/dev/sdqnosuchdisk"}), "reset: 260\nreachable\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // The probe uses the system bus of the process, so the private bus must
    // be in place before its first use.
    bus = new svctest::PrivateSystemBus();
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
    const int result = RUN_ALL_TESTS();
    delete bus;
    return result;
}
