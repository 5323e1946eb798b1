// DbusInterface against a stand-in service on the private bus: what each
// kind of bus failure gives back, and that none of them reads as success.
#include <gtest/gtest.h>

#include <QDBusMessage>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "command_status.h"
#include "dbus_interface.h"
#include "protocol_type.h"
#include "gui_test_support.h"

namespace {

using guitest::Answer;
using guitest::FakeService;

const QByteArray kKept("kept by the caller");

// The six operations, each run once; data operations start from kKept.
struct Operation {
    const char *name;     // on the bus
    bool data;
    std::function<int(DbusInterface *, QByteArray &)> call;
};

const Operation kOperations[] = {
    {"getidentify", true,
     [](DbusInterface *d, QByteArray &out) { return d->getidentify("/dev/sdq1", "rec", "", out); }},
    {"read", true, [](DbusInterface *d, QByteArray &out) { return d->read("/dev/sdq1", "rec", "in", out); }},
    {"write", true, [](DbusInterface *d, QByteArray &out) { return d->write("/dev/sdq1", "rec", "in", out); }},
    {"send_cmd", true,
     [](DbusInterface *d, QByteArray &out) { return d->sendcmd("/dev/sdq1", "rec", "in", out); }},
    {"reset", false, [](DbusInterface *d, QByteArray &) { return d->reset("/dev/sdq1"); }},
    {"format", false, [](DbusInterface *d, QByteArray &) { return d->format("/dev/sdq1"); }},
};

// ------------------------------------------------------- status table
struct ErrorCase {
    const char *error_name;
    int status;
};

const ErrorCase kErrors[] = {
    {"org.freedesktop.DBus.Error.ServiceUnknown", CMD_ERR_BUS_NO_SERVICE},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", CMD_ERR_BUS_NO_SERVICE},
    {"org.freedesktop.DBus.Error.AccessDenied", CMD_ERR_BUS_ACCESS_DENIED},
    {"org.freedesktop.DBus.Error.NoReply", CMD_ERR_BUS_NO_REPLY},
    {"org.freedesktop.DBus.Error.Timeout", CMD_ERR_BUS_NO_REPLY},
    {"org.freedesktop.DBus.Error.TimedOut", CMD_ERR_BUS_NO_REPLY},
    {"org.freedesktop.DBus.Error.InvalidSignature", CMD_ERR_BUS_BAD_REPLY},
    {"org.freedesktop.DBus.Error.Disconnected", CMD_ERR_BUS_NOT_CONNECTED},
    {"org.freedesktop.DBus.Error.NoServer", CMD_ERR_BUS_NOT_CONNECTED},
    {"org.freedesktop.DBus.Error.UnknownMethod", CMD_ERR_BUS_ERROR_REPLY},
    {"org.freedesktop.DBus.Error.Failed", CMD_ERR_BUS_ERROR_REPLY},
    {"com.example.AnythingElse", CMD_ERR_BUS_ERROR_REPLY},
};

class BusFailureStatus : public testing::TestWithParam<ErrorCase> {};

TEST_P(BusFailureStatus, EachErrorHasItsOwnNonZeroStatus)
{
    QDBusError error(QDBusMessage::createError(GetParam().error_name, "text"));
    EXPECT_EQ(bus_failure_status(error), GetParam().status);
    EXPECT_LT(bus_failure_status(error), -1) << "never success, never the service's -1";
}

INSTANTIATE_TEST_SUITE_P(Dbus, BusFailureStatus, testing::ValuesIn(kErrors));

// --------------------------------------------------- time limits
TEST(BusTimeout, EachDataCallWaitsForItsRecordsTimeLimitAndAMargin)
{
    auto record_with = [](uint32_t seconds) {
        protocol_cmd_s cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.timeout = seconds;
        return QByteArray(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
    };
    struct Case {
        const char *what;
        QByteArray inbuf;
        int expected_ms;
    } cases[] = {
        {"the catalogue's 10 s", record_with(10), 10000 + DBUS_TIMEOUT_MARGIN_MS},
        {"a long command, 300 s", record_with(300), 300000 + DBUS_TIMEOUT_MARGIN_MS},
        {"no limit: the kernel's 60 s", record_with(0), 60000 + DBUS_TIMEOUT_MARGIN_MS},
        {"beyond what the service takes", record_with(100000), 600000 + DBUS_TIMEOUT_MARGIN_MS},
        {"a short record", QByteArray(10, '\0'), 60000 + DBUS_TIMEOUT_MARGIN_MS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(data_call_timeout_ms(c.inbuf), c.expected_ms) << c.what;
    EXPECT_GT(DBUS_TIMEOUT_MARGIN_MS, 0);
    // The reset block has no limit of its own: the kernel waits 60 s for it.
    EXPECT_GT(DBUS_RESET_TIMEOUT_MS, 60 * 1000);
    EXPECT_GT(DBUS_FORMAT_TIMEOUT_MS, DBUS_RESET_TIMEOUT_MS);
}

// --------------------------------------------------- against the bus
class DbusInterfaceTest : public testing::Test {
protected:
    // Every operation against whatever serves the bus now; returns the
    // statuses and checks what happened to the caller's array.
    void expect_all(DbusInterface *client, const std::function<int(const Operation &)> &expected_status,
                    bool data_kept)
    {
        for (const Operation &op : kOperations) {
            SCOPED_TRACE(op.name);
            QByteArray out = kKept;
            EXPECT_EQ(op.call(client, out), expected_status(op));
            if (data_kept) {
                EXPECT_EQ(out, kKept) << "the caller's array is left as it was";
            }
        }
    }
};

TEST_F(DbusInterfaceTest, ServiceAbsentIsNoServiceNeverSuccess)
{
    expect_all(DbusInterface::GetInstance(), [](const Operation &) { return CMD_ERR_BUS_NO_SERVICE; }, true);
}

TEST_F(DbusInterfaceTest, NoBusConnectionIsNotConnected)
{
    const QString name = "zv-dead-bus";
    {
        DbusInterface client(QDBusConnection::connectToBus("unix:path=/nonexistent/zv-test-bus", name));
        expect_all(&client, [](const Operation &) { return CMD_ERR_BUS_NOT_CONNECTED; }, true);
    }
    QDBusConnection::disconnectFromBus(name);
}

TEST_F(DbusInterfaceTest, ErrorAnswerIsAnErrorReply)
{
    FakeService service(guitest::program_bus());
    Answer error;
    error.kind = Answer::Error;
    for (const Operation &op : kOperations)
        service.answer(op.name, error);
    expect_all(DbusInterface::GetInstance(), [](const Operation &) { return CMD_ERR_BUS_ERROR_REPLY; }, true);
}

TEST_F(DbusInterfaceTest, AnswerOfTheWrongFormIsABadReply)
{
    FakeService service(guitest::program_bus());
    Answer wrong;
    wrong.kind = Answer::WrongSignature;
    for (const Operation &op : kOperations)
        service.answer(op.name, wrong);
    expect_all(DbusInterface::GetInstance(), [](const Operation &) { return CMD_ERR_BUS_BAD_REPLY; }, true);
}

TEST_F(DbusInterfaceTest, StatusWithoutItsDataIsABadReply)
{
    // A data method that answers 0 but no data must not pass for a success
    // with empty data; reset and format answer a status alone.
    FakeService service(guitest::program_bus());
    Answer status_only;
    status_only.kind = Answer::StatusOnly;
    status_only.status = 0;
    for (const Operation &op : kOperations)
        service.answer(op.name, status_only);
    expect_all(DbusInterface::GetInstance(),
               [](const Operation &op) { return op.data ? CMD_ERR_BUS_BAD_REPLY : 0; }, true);
}

TEST_F(DbusInterfaceTest, ServiceStatusAndDataPassThrough)
{
    FakeService service(guitest::program_bus());
    Answer a;
    a.status = 260;
    a.data = "answer";
    for (const Operation &op : kOperations)
        service.answer(op.name, a);
    for (const Operation &op : kOperations) {
        SCOPED_TRACE(op.name);
        QByteArray out = kKept;
        EXPECT_EQ(op.call(DbusInterface::GetInstance(), out), 260);
        EXPECT_EQ(out, op.data ? QByteArray("answer") : kKept);
    }
}

TEST_F(DbusInterfaceTest, EachOperationReachesItsMethodWithItsArguments)
{
    FakeService service(guitest::program_bus());
    for (const Operation &op : kOperations) {
        QByteArray out;
        op.call(DbusInterface::GetInstance(), out);
    }
    std::vector<guitest::Call> calls = service.calls();
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < calls.size(); i++) {
        SCOPED_TRACE(kOperations[i].name);
        EXPECT_EQ(calls[i].method, kOperations[i].name);
        EXPECT_EQ(calls[i].dev, "/dev/sdq1");
        if (kOperations[i].data) {
            EXPECT_EQ(calls[i].inbuf, "rec");
        }
    }
    EXPECT_EQ(calls[0].indata, "");
    EXPECT_EQ(calls[3].indata, "in");
}

TEST_F(DbusInterfaceTest, FormatWaitsLongerThanTheBusDefault)
{
    // The bus library gives up on a call after 25 s; formatting a real disk
    // takes longer, and its answer must still arrive.
    FakeService service(guitest::program_bus());
    Answer late;
    late.kind = Answer::Late;
    late.status = 42;
    late.delay_ms = 27000;
    service.answer("format", late);
    EXPECT_EQ(DbusInterface::GetInstance()->format("/dev/sdq1"), 42);
}

// ------------------------------------------------------- bus policy
// The probe, as another user, against the bus policy. The probe
// runs from a copy that any user may execute, with the catalogue beside it.
class ProbeCopy {
public:
    ProbeCopy()
    {
        char tmpl[] = "/tmp/zv-probe.XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        chmod(dir_.c_str(), 0755);
        copy(ZV_BUS_PROBE, dir_ + "/probe", 0755);
        copy(ZV_SHIPPED_CATALOGUE, dir_ + "/SecurityCmd.xml", 0644);
    }
    ~ProbeCopy()
    {
        unlink((dir_ + "/probe").c_str());
        unlink((dir_ + "/SecurityCmd.xml").c_str());
        rmdir(dir_.c_str());
    }
    std::string program() const { return dir_ + "/probe"; }

private:
    static void copy(const std::string &from, const std::string &to, mode_t mode)
    {
        std::ifstream in(from, std::ios::binary);
        std::ofstream(to, std::ios::binary) << in.rdbuf();
        chmod(to.c_str(), mode);
    }
    std::string dir_;
};

std::string probe_as(const ProbeCopy &probe, const std::string &groups_option)
{
    std::string output;
    int status = svctest::run_program(
        {"setpriv", "--reuid=65534", "--regid=65534", groups_option, probe.program(), "/dev/sdq1"},
        {{"DBUS_SYSTEM_BUS_ADDRESS", guitest::program_bus().address()}, {"ASAN_OPTIONS", "detect_leaks=0"}},
        &output);
    EXPECT_EQ(status, 0) << output;
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

// The bus lets any user call the service (polkit decides per call inside
// it); a user outside every group gets the service's own answer.
TEST_F(DbusInterfaceTest, AnyUserReachesTheService)
{
    FakeService service(guitest::program_bus());
    Answer a;
    a.status = 77;
    a.data = QByteArray(512, '\0');
    service.answer("getidentify", a);
    ProbeCopy probe;
    EXPECT_EQ(probe_as(probe, "--clear-groups"), "77");
    EXPECT_EQ(probe_as(probe, "--groups=plugdev"), "77");
}

} // namespace
