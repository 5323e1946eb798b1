// The disk service through real D-Bus calls on a private system bus, with
// the simulated secure disk behind it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QFile>
#include <QXmlStreamReader>

#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "protocol_type.h"
#include "service_fixture.h"
#include "service_records.h"
#include "sim_disk.h"

namespace {

using svctest::call_data;
using svctest::call_simple;

using svctest::identify_record;
using svctest::password_record;
using svctest::prompt_record;
using svctest::record_bytes;
using svctest::sector_with;
using svctest::zeroed;

class ServiceTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    svctest::PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();
    QString qdev = QString::fromStdString(dev);
};

TEST_F(ServiceTest, IntrospectionIsTheInterfaceFile)
{
    svctest::ServiceProcess service(bus);
    auto methods_of = [](const QString &xml) {
        QStringList methods;
        QXmlStreamReader r(xml);
        bool ours = false;
        while (!r.atEnd()) {
            r.readNext();
            if (r.isStartElement() && r.name() == QLatin1String("interface"))
                ours = r.attributes().value("name") == QLatin1String("com.varo.zvsecurity.dbus");
            if (ours && r.isStartElement() && r.name() == QLatin1String("method"))
                methods << r.attributes().value("name").toString() + ":";
            if (ours && r.isStartElement() && r.name() == QLatin1String("arg"))
                methods.last() += QString(" %1/%2/%3")
                                      .arg(r.attributes().value("name").toString(),
                                           r.attributes().value("type").toString(),
                                           r.attributes().value("direction").toString());
        }
        methods.sort();
        return methods;
    };
    QDBusMessage msg = QDBusMessage::createMethodCall("com.varo.zvsecurity.dbus", "/",
                                                      "org.freedesktop.DBus.Introspectable", "Introspect");
    QDBusMessage reply = conn.call(msg);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    QFile file(ZV_DBUS_INTERFACE_XML);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList expected = methods_of(QString::fromUtf8(file.readAll()));
    EXPECT_EQ(expected.size(), 6);
    EXPECT_EQ(methods_of(reply.arguments().at(0).toString()), expected);
}

TEST_F(ServiceTest, GetidentifyAnswersTheWholePage)
{
    svctest::ServiceProcess service(bus);
    QByteArray out;
    ASSERT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray(), &out), 0);
    ASSERT_EQ(out.size(), 512);
    EXPECT_EQ(static_cast<uint8_t>(out[262]), 0x44);
    EXPECT_EQ(static_cast<uint8_t>(out[263]), 0x53);

    out.clear();
    EXPECT_EQ(call_data(conn, "getidentify", qdev, identify_record(0), QByteArray(), &out), PTL_ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(ServiceTest, MissingDeviceIs260AndLeavesNoDescriptorOpen)
{
    svctest::ServiceProcess service(bus);
    int before = service.open_descriptors();
    for (const char *method : {"getidentify", "read", "write", "send_cmd"}) {
        QByteArray out("untouched");
        EXPECT_EQ(call_data(conn, method, "/dev/sdqnosuchdisk", identify_record(), QByteArray(512, 0), &out), 260)
            << method;
        EXPECT_TRUE(out.isEmpty()) << method;
    }
    EXPECT_EQ(call_simple(conn, "reset", "/dev/sdqnosuchdisk"), 260);
    EXPECT_EQ(call_simple(conn, "getidentify", ""), svctest::kNoAnswer) << "wrong signature is a bus error";
    QByteArray out;
    EXPECT_EQ(call_data(conn, "getidentify", "", identify_record(), QByteArray(), &out), 260) << "empty name";
    EXPECT_EQ(service.open_descriptors(), before);
}

TEST_F(ServiceTest, ReadWriteAndSendCmdData)
{
    svctest::ServiceProcess service(bus);
    QByteArray out("x");
    EXPECT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), sector_with("my hint"), &out), 0);
    EXPECT_TRUE(out.isEmpty()) << "write never returns data";

    EXPECT_EQ(call_data(conn, "read", qdev, prompt_record(DATA_FROM_DEV), QByteArray(), &out), 0);
    EXPECT_EQ(out, sector_with("my hint"));
    EXPECT_EQ(disk.show().at("prompt"), "my hint");

    // A data area longer than the catalogue's entry is refused before the disk is opened.
    out = "untouched";
    EXPECT_EQ(call_data(conn, "read", qdev, prompt_record(DATA_FROM_DEV, 1024), QByteArray(), &out),
              PTL_ERR_PAST_CATALOGUE);
    EXPECT_TRUE(out.isEmpty());

    // send_cmd that reads: the device's bytes replace what was sent.
    PROTOCOL_CMD_S id = zeroed();
    id.u.send_cmd.type = SEND_CMD_PROTOCOL;
    id.u.send_cmd.sc.scsi_ata.protocol = PIO_DATA_IN;
    id.u.send_cmd.sc.scsi_ata.sectors = 1;
    id.u.send_cmd.sc.scsi_ata.ata_command = 0xEC;
    id.data_to = DATA_FROM_DEV;
    id.buffer_len = 512;
    id.timeout = 10;
    EXPECT_EQ(call_data(conn, "send_cmd", qdev, record_bytes(id), QByteArray(512, '\x77'), &out), 0);
    ASSERT_EQ(out.size(), 512);
    EXPECT_EQ(static_cast<uint8_t>(out[262]), 0x44);

    // send_cmd that only sends: the sent bytes come back.
    EXPECT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFA), sector_with("Passw0rd1"), &out), 0);
    EXPECT_EQ(out, sector_with("Passw0rd1"));
    EXPECT_EQ(disk.show().at("password_set"), "1");
}

TEST_F(ServiceTest, ClientHandleAndBufferHaveNoEffect)
{
    svctest::ServiceProcess service(bus);
    PROTOCOL_CMD_S cmd = zeroed();
    cmd.handle = 0; // stdin of the service: must be replaced
    cmd.buffer = reinterpret_cast<uint8_t *>(0xDEADBEEF);
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    QByteArray out;
    EXPECT_EQ(call_data(conn, "getidentify", qdev, record_bytes(cmd), QByteArray(), &out), 0);
    EXPECT_EQ(out.size(), 512);
    cmd.handle = -1;
    EXPECT_EQ(call_data(conn, "getidentify", qdev, record_bytes(cmd), QByteArray(), &out), 0);
}

TEST_F(ServiceTest, WrongPasswordThroughTheServiceCostsATry)
{
    svctest::ServiceProcess service(bus);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFA), sector_with("Passw0rd1"), nullptr), 0);
    int tries = std::stoi(disk.show().at("tries_left"));
    EXPECT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFB), sector_with("wrong1234"), nullptr),
              PTL_STATUS(0x02, PTL_ERR_SG_STATUS));
    EXPECT_EQ(std::stoi(disk.show().at("tries_left")), tries - 1);
    EXPECT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFB), sector_with("Passw0rd1"), nullptr), 0);
    EXPECT_EQ(std::stoi(disk.show().at("tries_left")), tries);
}

TEST_F(ServiceTest, ResetAfterVerificationUnlocksTheDisk)
{
    svctest::ServiceProcess service(bus);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFA), sector_with("Passw0rd1"), nullptr), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFB), sector_with("Passw0rd1"), nullptr), 0);
    EXPECT_EQ(call_simple(conn, "reset", qdev), 0);
    // Gone for the re-enumeration time, then back unlocked.
    QByteArray out;
    EXPECT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray(), &out), 260);
    ASSERT_TRUE(svctest::wait_present(disk));
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state.at("locked"), "0");
    ASSERT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray(), &out), 0);
    EXPECT_GT(std::stoull(state.at("presented_sectors")), 0x80000u);
}

TEST_F(ServiceTest, ResetRefusedByTheDiskIsAFailure)
{
    svctest::ServiceProcess service(bus);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFA), sector_with("Passw0rd1"), nullptr), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFB), sector_with("Passw0rd1"), nullptr), 0);
    disk.set("reset_refused=1");
    // CHECK CONDITION: the disk did not reset, and says so.
    EXPECT_EQ(call_simple(conn, "reset", qdev), PTL_STATUS(0x02, PTL_ERR_RESET_REFUSED));
    EXPECT_EQ(disk.show().at("present"), "1");
    EXPECT_EQ(disk.show().at("locked"), "1") << "still presenting its public area";

    disk.set("reset_refused=0");
    EXPECT_EQ(call_simple(conn, "reset", qdev), 0) << "the disk left the bus: reset";
    ASSERT_TRUE(svctest::wait_present(disk));
    EXPECT_EQ(disk.show().at("locked"), "0");
}

// The installed unit keeps the service in the host's mount namespace, where
// the desktop mounts the disk, and limits it to SCSI disks.
TEST(ServiceUnit, HostMountNamespaceAndOnlySerialDisks)
{
    std::ifstream in(ZV_SERVICE_UNIT);
    ASSERT_TRUE(in.good()) << ZV_SERVICE_UNIT;
    std::map<std::string, std::vector<std::string>> settings;
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
            continue;
        settings[line.substr(0, eq)].push_back(line.substr(eq + 1));
    }
    for (const char *directive :
         {"PrivateTmp", "PrivateDevices", "ProtectSystem", "ProtectHome", "ProtectKernelTunables",
          "ProtectKernelModules", "ProtectKernelLogs", "ProtectControlGroups", "ProtectProc", "ProcSubset",
          "ReadOnlyPaths", "ReadWritePaths", "InaccessiblePaths", "ExecPaths", "NoExecPaths", "TemporaryFileSystem",
          "BindPaths", "BindReadOnlyPaths", "RootDirectory", "RootImage", "MountFlags", "MountAPIVFS",
          "RuntimeDirectory", "StateDirectory", "CacheDirectory", "LogsDirectory", "ConfigurationDirectory",
          "LogNamespace", "PrivateIPC"})
        EXPECT_EQ(settings.count(directive), 0u) << directive << " would give the service a mount namespace";
    // PrivateNetwork= alone brings a mount namespace on later systemd.
    EXPECT_EQ(settings["PrivateMounts"], std::vector<std::string>{"no"});
    EXPECT_EQ(settings["DevicePolicy"], std::vector<std::string>{"closed"});
    EXPECT_EQ(settings["DeviceAllow"], std::vector<std::string>{"block-sd rw"});
    // The rest of the hardening stays.
    for (const char *kept : {"NoNewPrivileges", "PrivateNetwork", "RestrictNamespaces", "CapabilityBoundingSet",
                             "MemoryDenyWriteExecute", "SystemCallFilter"})
        EXPECT_EQ(settings.count(kept), 1u) << kept;
}

TEST_F(ServiceTest, SecondServiceEndsWithStatusOne)
{
    svctest::ServiceProcess service(bus);
    std::map<std::string, std::string> env = {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}};
    const char *asan = getenv("ASAN_OPTIONS");
    if (asan != nullptr)
        env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
    EXPECT_EQ(svctest::run_program({svctest::service_program()}, env), 1);
    EXPECT_EQ(call_simple(conn, "reset", "/dev/sdqnosuchdisk"), 260) << "the first one still serves";
}

TEST_F(ServiceTest, NoBusMeansStatusOne)
{
    std::map<std::string, std::string> env = {{"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus"}};
    const char *asan = getenv("ASAN_OPTIONS");
    if (asan != nullptr)
        env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
    EXPECT_EQ(svctest::run_program({svctest::service_program()}, env), 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
