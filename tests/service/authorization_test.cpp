// Who may do what: polkit decides per call for every caller but root (a mock
// authority on the test's bus stands in for polkitd), and every caller, root
// included, gets only the commands of the installed catalogue. A refused
// call touches nothing: the disk's state and its command record stay as
// they were.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <cstring>
#include <fstream>
#include <map>

#include "protocol_type.h"
#include "service_fixture.h"
#include "service_records.h"
#include "sim_disk.h"

namespace {

using namespace svctest;

class AuthorizationTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    QString qdev = QString::fromStdString(dev);
    PrivateSystemBus bus;
    QDBusConnection conn = bus.connect();

    // What a refused call must leave as it was.
    struct Snapshot {
        std::vector<std::string> commands;
        std::string prompt, password_set, tries_left, locked;
        bool operator==(const Snapshot &o) const
        {
            return commands == o.commands && prompt == o.prompt && password_set == o.password_set &&
                   tries_left == o.tries_left && locked == o.locked;
        }
    };
    Snapshot snapshot() const
    {
        std::map<std::string, std::string> s = disk.show();
        return {disk.commands(), s.at("prompt"), s.at("password_set"), s.at("tries_left"), s.at("locked")};
    }
};

bool access_denied(const GdbusAnswer &a)
{
    return a.exit_status != 0 && a.text.find("org.freedesktop.DBus.Error.AccessDenied") != std::string::npos;
}

// One call of each kind the program makes, with the action it needs.
struct Call {
    const char *what;
    const char *method;
    std::vector<std::string> args;
    const char *action;
};

std::vector<Call> program_calls(const std::string &dev)
{
    return {
        {"identify", "getidentify", {dev, gvariant_bytes(identify_record()), "@ay []"}, kReadStateAction},
        {"read the prompt", "read", {dev, gvariant_bytes(prompt_record(DATA_FROM_DEV)), "@ay []"}, kReadStateAction},
        {"write the prompt", "write",
         {dev, gvariant_bytes(prompt_record(DATA_TO_DEV)), gvariant_bytes(sector_with("我的提示"))}, kChangeAction},
        {"set the password", "send_cmd",
         {dev, gvariant_bytes(password_record(0xFA)), gvariant_bytes(sector_with("Pässwörd1"))}, kChangeAction},
        {"verify the password", "send_cmd",
         {dev, gvariant_bytes(password_record(0xFB)), gvariant_bytes(sector_with("Pässwörd1"))}, kUnlockAction},
        // reset and format on a disk that is not there: served means the
        // handler answered (260), not the authorization.
        {"reset", "reset", {"/dev/sdqnosuchdisk"}, kUnlockAction},
        {"format", "format", {"/dev/sdqnosuchdisk"}, kChangeAction},
    };
}

TEST_F(AuthorizationTest, PolkitDecidesEachCallOfAnotherUser)
{
    MockAuthority authority(bus);
    ServiceProcess service(bus);
    const std::vector<std::string> all = {kReadStateAction, kUnlockAction, kChangeAction};
    for (const Call &c : program_calls(dev)) {
        // Every action but the one the call needs: refused, nothing touched.
        std::vector<std::string> others;
        for (const std::string &a : all)
            if (a != c.action)
                others.push_back(a);
        authority.allow(others);
        const Snapshot before = snapshot();
        GdbusAnswer refused = gdbus_call(bus, c.method, c.args, as_nobody());
        EXPECT_TRUE(access_denied(refused)) << c.what << ": " << refused.text;
        EXPECT_NE(refused.text.find(std::string("Not authorized to ") + c.action), std::string::npos) << c.what;
        EXPECT_TRUE(snapshot() == before) << c.what << ": a refused call reached the disk";

        // Just that action: served.
        authority.allow({c.action});
        GdbusAnswer served = gdbus_call(bus, c.method, c.args, as_nobody());
        EXPECT_EQ(served.exit_status, 0) << c.what << ": " << served.text;
        EXPECT_EQ(served.status, std::string(c.method) == "reset" || std::string(c.method) == "format" ? 260 : 0)
            << c.what << ": " << served.text;
    }
    QByteArray prompt;
    EXPECT_EQ(call_data(conn, "read", qdev, prompt_record(DATA_FROM_DEV), QByteArray(), &prompt), 0);
    EXPECT_EQ(prompt, sector_with("我的提示"));
    EXPECT_EQ(disk.show().at("password_set"), "1");
}

TEST_F(AuthorizationTest, NoAuthorityMeansNoForOthersAndRootNeedsNone)
{
    ServiceProcess service(bus); // nobody owns org.freedesktop.PolicyKit1 on this bus
    const Snapshot before = snapshot();
    for (const Call &c : program_calls(dev)) {
        GdbusAnswer refused = gdbus_call(bus, c.method, c.args, as_nobody());
        EXPECT_TRUE(access_denied(refused)) << c.what << ": " << refused.text;
    }
    EXPECT_TRUE(snapshot() == before) << "a refused call reached the disk";

    // Root is served without asking anyone.
    for (const Call &c : program_calls(dev)) {
        GdbusAnswer served = gdbus_call(bus, c.method, c.args, {"--reuid=0", "--regid=0", "--clear-groups"});
        EXPECT_EQ(served.exit_status, 0) << c.what << ": " << served.text;
    }
    EXPECT_EQ(disk.show().at("password_set"), "1");
}

TEST_F(AuthorizationTest, AnAuthorityThatSaysNoToEverythingRefusesEverything)
{
    MockAuthority authority(bus);
    ServiceProcess service(bus);
    const Snapshot before = snapshot();
    for (const Call &c : program_calls(dev))
        EXPECT_TRUE(access_denied(gdbus_call(bus, c.method, c.args, as_nobody()))) << c.what;
    EXPECT_TRUE(snapshot() == before);
    authority.allow_everything();
    GdbusAnswer id = gdbus_call(bus, "getidentify", program_calls(dev)[0].args, as_nobody());
    EXPECT_EQ(id.status, 0) << id.text;
    EXPECT_EQ(id.data.size(), 512u);
}

// Records a caller could send that the program never does: each refused with
// its status, for root as for anyone, before the disk is opened.
TEST_F(AuthorizationTest, OnlyTheCataloguesCommands)
{
    ServiceProcess service(bus);
    ASSERT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), sector_with("keep me")), 0);

    auto with = [](QByteArray record, void (*change)(PROTOCOL_CMD_S &)) {
        PROTOCOL_CMD_S cmd;
        memcpy(&cmd, record.constData(), sizeof(cmd));
        change(cmd);
        return record_bytes(cmd);
    };
    PROTOCOL_CMD_S raw = zeroed();
    raw.u.send_cmd.type = SEND_CMD_CDB;
    const uint8_t write10[] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}; // WRITE (10) of sector 0
    memcpy(raw.u.send_cmd.sc.cc.cdb, write10, sizeof(write10));
    raw.u.send_cmd.sc.cc.scsi_cdb_len = SCSI_CDB_16_BYTE;
    raw.data_to = DATA_TO_DEV;
    raw.buffer_len = 512;
    raw.timeout = 10;

    struct Case {
        const char *what;
        const char *method;
        QByteArray inbuf;
        QByteArray indata;
        int expected;
    } cases[] = {
        {"raw command block", "send_cmd", record_bytes(raw), QByteArray(512, 'x'), PTL_ERR_NOT_IN_CATALOGUE},
        {"DOWNLOAD MICROCODE", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.ata_command = 0x92; }),
         QByteArray(512, 'x'), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD at another LBA", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.lba = 0; }),
         sector_with("x1234567"), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD as a 48-bit command", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.bit = ATA_COMMAND_48_BIT; }),
         sector_with("x1234567"), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD with a device register", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.device = 0x4F; }),
         sector_with("x1234567"), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD with a feature", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.features = 1; }),
         sector_with("x1234567"), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD with two sectors", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.u.send_cmd.sc.scsi_ata.sectors = 2; }),
         QByteArray(1024, 'x'), PTL_ERR_NOT_IN_CATALOGUE},
        {"SET PASSWORD with longer data", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.buffer_len = 1024; }), QByteArray(1024, 'x'),
         PTL_ERR_PAST_CATALOGUE},
        {"SET PASSWORD with a longer time limit", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.timeout = 11; }), sector_with("x1234567"),
         PTL_ERR_PAST_CATALOGUE},
        {"SET PASSWORD reading from the device", "send_cmd",
         with(password_record(0xFA), [](PROTOCOL_CMD_S &c) { c.data_to = DATA_FROM_DEV; }), QByteArray(512, 0),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"read of a data sector", "read",
         with(prompt_record(DATA_FROM_DEV), [](PROTOCOL_CMD_S &c) { c.u.rw.lba = 0; c.u.rw.feature = 0; }),
         QByteArray(), PTL_ERR_NOT_IN_CATALOGUE},
        {"read of another vendor sector", "read",
         with(prompt_record(DATA_FROM_DEV), [](PROTOCOL_CMD_S &c) { c.u.rw.lba = 0x11; }), QByteArray(),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"write of a data sector", "write",
         with(prompt_record(DATA_TO_DEV), [](PROTOCOL_CMD_S &c) { c.u.rw.lba = 2048; c.u.rw.feature = 0; }),
         QByteArray(512, 'x'), PTL_ERR_NOT_IN_CATALOGUE},
        {"read of two sectors", "read",
         with(prompt_record(DATA_FROM_DEV, 1024), [](PROTOCOL_CMD_S &c) { c.u.rw.sectors = 2; }), QByteArray(),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"read longer than the entry", "read", prompt_record(DATA_FROM_DEV, 1024), QByteArray(),
         PTL_ERR_PAST_CATALOGUE},
        {"read method with a write record", "read", prompt_record(DATA_TO_DEV), QByteArray(),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"write method with a read record", "write", prompt_record(DATA_FROM_DEV), QByteArray(512, 'x'),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"write method with the password command", "write", password_record(0xFA), sector_with("x1234567"),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"send_cmd with the prompt's write", "send_cmd", prompt_record(DATA_TO_DEV), QByteArray(512, 'x'),
         PTL_ERR_NOT_IN_CATALOGUE},
        {"identify of two sectors", "getidentify", identify_record(1024), QByteArray(), PTL_ERR_PAST_CATALOGUE},
        {"identify with a longer time limit", "getidentify",
         with(identify_record(), [](PROTOCOL_CMD_S &c) { c.timeout = 600; }), QByteArray(), PTL_ERR_PAST_CATALOGUE},
    };
    const Snapshot before = snapshot();
    for (const Case &c : cases) {
        QByteArray out("untouched");
        EXPECT_EQ(call_data(conn, c.method, qdev, c.inbuf, c.indata, &out), c.expected) << c.what;
        EXPECT_TRUE(out.isEmpty()) << c.what;
        EXPECT_TRUE(snapshot() == before) << c.what << ": the disk saw a command";
    }
    EXPECT_EQ(disk.show().at("prompt"), "keep me");
}

// The catalogue is the one installed beside the service (../lib/zvsecurity
// from its executable): a copy of the service without it executes no data
// method at all, and one with another catalogue executes that one's.
TEST_F(AuthorizationTest, TheCatalogueBesideTheServiceDecides)
{
    const std::string root = disk.dir() + "/install";
    ASSERT_EQ(run_program({"mkdir", "-p", root + "/bin", root + "/lib/zvsecurity"}), 0);
    ASSERT_EQ(run_program({"cp", service_program(), root + "/bin/"}), 0);
    const std::string program = root + "/bin/zvsecurity-dbus";
    const Snapshot before = snapshot();
    {
        ServiceProcess service(bus, "", {}, program);
        QByteArray out("untouched");
        EXPECT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray(), &out), PTL_ERR_NO_CATALOGUE);
        EXPECT_TRUE(out.isEmpty());
        EXPECT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), QByteArray(512, 'x')),
                  PTL_ERR_NO_CATALOGUE);
    }
    EXPECT_TRUE(snapshot() == before);

    // An administrator's catalogue with the prompt's read only.
    std::ofstream(root + "/lib/zvsecurity/SecurityCmd.xml")
        << "<SecurityCmd><command name=\"read\" subname=\"readparam\">"
           "<data sectorCount=\"1\" timeout=\"10\" isRead=\"1\"/><arg feature=\"0x5A\" lba=\"0x10\" sectors=\"1\"/>"
           "</command></SecurityCmd>";
    ServiceProcess service(bus, "", {}, program);
    EXPECT_EQ(call_data(conn, "read", qdev, prompt_record(DATA_FROM_DEV), QByteArray()), 0);
    EXPECT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), QByteArray(512, 'x')),
              PTL_ERR_NOT_IN_CATALOGUE);
    EXPECT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray()), PTL_ERR_NOT_IN_CATALOGUE)
        << "no IDENTIFY entry";
}

// getidentify sends IDENTIFY DEVICE whatever command the record names.
TEST_F(AuthorizationTest, GetidentifySendsOnlyIdentify)
{
    ServiceProcess service(bus);
    const size_t before = disk.commands().size();
    QByteArray out;
    ASSERT_EQ(call_data(conn, "getidentify", qdev, password_record(0xFA), QByteArray(512, 'x'), &out), 0);
    EXPECT_EQ(out.size(), 512);
    std::vector<std::string> commands = disk.commands();
    ASSERT_EQ(commands.size(), before + 1);
    EXPECT_EQ(simtest::record_field(commands.back(), "cdb"), "85080e0000000100000000000000ec00");
    EXPECT_EQ(disk.show().at("password_set"), "0");
}

} // namespace

namespace {

// The actions as administrators find them: the service's three ids, each
// with English and Chinese texts, and the defaults that let the user at the
// machine use the disk and make anyone else ask an administrator (or, for
// reading, refuse).
TEST(PolicyFile, ThreeActionsWithTheirDefaults)
{
    QFile file(ZV_POLKIT_POLICY);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    struct Action {
        std::map<std::string, std::string> defaults;
        int messages = 0;
        int chinese = 0;
    };
    std::map<std::string, Action> actions;
    std::string current, element;
    QXmlStreamReader r(&file);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement()) {
            element = r.name().toString().toStdString();
            if (element == "action")
                current = r.attributes().value("id").toString().toStdString();
            if (element == "message" || element == "description") {
                actions[current].messages++;
                if (r.attributes().value("xml:lang") == QLatin1String("zh_CN"))
                    actions[current].chinese++;
            }
        } else if (r.isCharacters() && !r.isWhitespace() && element.rfind("allow_", 0) == 0) {
            actions[current].defaults[element] = r.text().toString().toStdString();
        }
    }
    ASSERT_FALSE(r.hasError()) << r.errorString().toStdString();
    ASSERT_EQ(actions.size(), 3u);
    const std::map<std::string, std::map<std::string, std::string>> expected = {
        {svctest::kReadStateAction, {{"allow_any", "no"}, {"allow_inactive", "no"}, {"allow_active", "yes"}}},
        {svctest::kUnlockAction,
         {{"allow_any", "auth_admin"}, {"allow_inactive", "auth_admin"}, {"allow_active", "yes"}}},
        {svctest::kChangeAction,
         {{"allow_any", "auth_admin"}, {"allow_inactive", "auth_admin"}, {"allow_active", "yes"}}},
    };
    for (const auto &e : expected) {
        ASSERT_EQ(actions.count(e.first), 1u) << e.first;
        EXPECT_EQ(actions[e.first].defaults, e.second) << e.first;
        EXPECT_EQ(actions[e.first].messages, 4) << e.first;
        EXPECT_EQ(actions[e.first].chinese, 2) << e.first;
    }
}

} // namespace
