// The disk-service probe against the real service on a private system bus:
// absent, present, gone again, and as users the bus policy lets through or
// refuses.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <unistd.h>

#include "service_fixture.h"
#include "service_probe.h"

namespace {

svctest::PrivateSystemBus *bus = nullptr;

std::string probe_as(const std::string &groups_option)
{
    std::string out;
    svctest::run_program({"setpriv", "--reuid=65534", "--regid=65534", groups_option, ZV_PROBE_CLI},
                         {{"DBUS_SYSTEM_BUS_ADDRESS", bus->address()}}, &out);
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

TEST(ServiceProbe, OnlyUsersThePolicyLetsThroughReachIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing user needs root";
    svctest::ServiceProcess service(*bus);
    EXPECT_EQ(probe_as("--groups=plugdev"), "reachable\n");
    const std::string refused = probe_as("--clear-groups");
    EXPECT_EQ(refused.rfind("unreachable: org.freedesktop.DBus.Error.AccessDenied", 0), 0u) << refused;
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
