// Callers on record: every call that changes or unlocks the disk leaves one
// line in the system log with the caller's uid and pid, the device and the
// result; a refusal leaves one too; reading the state leaves none; no line
// ever holds a password or a prompt.
//
// The lines are caught on /dev/log, which this test binds for its duration
// when the machine has no logger of its own there.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "protocol_type.h"
#include "service_fixture.h"
#include "service_records.h"
#include "sim_disk.h"

namespace {

using namespace svctest;

const char kLogSocket[] = "/dev/log";

class SyslogCatcher {
public:
    SyslogCatcher()
    {
        struct stat st;
        if (lstat(kLogSocket, &st) == 0)
            return; // the machine's logger owns it
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        strncpy(addr.sun_path, kLogSocket, sizeof(addr.sun_path) - 1);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
            if (fd_ >= 0)
                close(fd_);
            fd_ = -1;
            return;
        }
        chmod(kLogSocket, 0666);
    }
    ~SyslogCatcher()
    {
        if (fd_ >= 0) {
            close(fd_);
            unlink(kLogSocket);
        }
    }
    bool active() const { return fd_ >= 0; }

    // The lines of process pid received so far (waiting up to wait_ms for more).
    std::vector<std::string> lines_of(pid_t pid, int wait_ms = 300)
    {
        const std::string tag = "com.varo.zvsecurity[" + std::to_string(pid) + "]: ";
        pollfd p = {fd_, POLLIN, 0};
        while (poll(&p, 1, wait_ms) > 0) {
            char buf[2048];
            ssize_t n = recv(fd_, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            std::string line(buf, static_cast<size_t>(n));
            size_t at = line.find(tag);
            if (at != std::string::npos)
                lines_.push_back(line.substr(at + tag.size()));
        }
        return lines_;
    }

private:
    int fd_ = -1;
    std::vector<std::string> lines_;
};

bool has_line(const std::vector<std::string> &lines, const std::string &text)
{
    for (const std::string &l : lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

TEST(CallerLog, ChangesAndUnlocksAreOnRecordWithoutSecrets)
{
    SyslogCatcher log;
    if (!log.active())
        GTEST_SKIP() << "/dev/log belongs to the machine's logger";
    simtest::SimDisk disk;
    const QString qdev = QString::fromStdString(disk.dev());
    PrivateSystemBus bus;
    MockAuthority authority(bus);
    ServiceProcess service(bus);
    QDBusConnection conn = bus.connect();
    const std::string me = "uid 0 pid " + std::to_string(getpid());
    const std::string on = "on '" + disk.dev() + "' by ";

    ASSERT_EQ(call_data(conn, "getidentify", qdev, identify_record(), QByteArray()), 0);
    ASSERT_EQ(call_data(conn, "write", qdev, prompt_record(DATA_TO_DEV), sector_with("秘密的提示")), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFA), sector_with("Geheim-Wört1")), 0);
    ASSERT_EQ(call_data(conn, "send_cmd", qdev, password_record(0xFB), sector_with("wrong-Wört1")),
              PTL_STATUS(0x02, PTL_ERR_SG_STATUS));
    ASSERT_EQ(call_data(conn, "read", qdev, prompt_record(DATA_FROM_DEV), QByteArray()), 0);

    // Another user: refused, then allowed.
    const std::string args_dev = disk.dev();
    const std::vector<std::string> setpwd = {args_dev, gvariant_bytes(password_record(0xFA)),
                                             gvariant_bytes(sector_with("Andere-Wört2"))};
    EXPECT_NE(gdbus_call(bus, "send_cmd", setpwd, as_nobody()).exit_status, 0);
    authority.allow({kChangeAction});
    EXPECT_EQ(gdbus_call(bus, "send_cmd", setpwd, as_nobody()).status, 0);

    const std::vector<std::string> lines = log.lines_of(service.pid());
    std::string all;
    for (const std::string &l : lines)
        all += l + "\n";
    EXPECT_TRUE(has_line(lines, "write writeparam " + on + me + ": result 0")) << all;
    EXPECT_TRUE(has_line(lines, "send_cmd setpwd " + on + me + ": result 0")) << all;
    EXPECT_TRUE(has_line(lines, "send_cmd verifypwd " + on + me + ": result " +
                                    std::to_string(PTL_STATUS(0x02, PTL_ERR_SG_STATUS))))
        << all;
    EXPECT_TRUE(has_line(lines, "send_cmd by uid 65534 pid ")) << all;
    EXPECT_TRUE(has_line(lines, "refused: not authorized for com.varo.zvsecurity.change")) << all;
    EXPECT_TRUE(has_line(lines, "send_cmd setpwd " + on + "uid 65534 pid ")) << all;
    EXPECT_FALSE(has_line(lines, "getidentify")) << "reading the state is not on record\n" << all;
    EXPECT_FALSE(has_line(lines, "read ")) << all;
    for (const char *secret : {"秘密", "Geheim", "wrong-W", "Andere", "Wört"})
        EXPECT_EQ(all.find(secret), std::string::npos) << secret << " reached the log";
}

} // namespace
