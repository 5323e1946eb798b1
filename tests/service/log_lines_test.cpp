// What the disk service writes to the system log, called in-process: the
// log lines that go with its answers. syslog is replaced by a recorder.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "disk_format.h"
#include "disk_request.h"
#include "disk_reset.h"
#include "protocol_type.h"

namespace {
std::vector<std::string> g_lines;

void record(const char *format, va_list args)
{
    char line[512];
    vsnprintf(line, sizeof(line), format, args);
    g_lines.emplace_back(line);
}

int count_of(const std::string &line)
{
    int n = 0;
    for (const std::string &l : g_lines)
        n += l == line;
    return n;
}
} // namespace

extern "C" void syslog(int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(format, args);
    va_end(args);
}

extern "C" void __syslog_chk(int, int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(format, args);
    va_end(args);
}

namespace {

TEST(ServiceLog, EveryAnswer260HasItsOpenFailureLine)
{
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    QByteArray record(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
    struct Case {
        const char *what;
        QByteArray name;
    } cases[] = {
        {"a device that does not exist", "/dev/sdqnosuchdisk"},
        {"an empty name", ""},
    };
    for (const Case &c : cases) {
        for (data_method method : {METHOD_GETIDENTIFY, METHOD_READ, METHOD_WRITE, METHOD_SEND_CMD}) {
            g_lines.clear();
            QByteArray out;
            EXPECT_EQ(run_data_method(&g_system_disks, method, c.name, record, QByteArray(512, '\0'), out), 260)
                << c.what << ", method " << method;
            EXPECT_EQ(count_of("getFd info open disk handle failed"), 1) << c.what << ", method " << method;
        }
        g_lines.clear();
        EXPECT_EQ(reset_disk(&g_system_disks, c.name), 260) << c.what;
        EXPECT_EQ(count_of("reset open disk handle failed"), 1) << c.what;
    }

    // A refused name is not 260 and has no such line.
    g_lines.clear();
    EXPECT_EQ(reset_disk(&g_system_disks, "/dev/null"), PTL_ERR_BAD_DEVICE_NAME);
    EXPECT_EQ(count_of("reset open disk handle failed"), 0);
}

} // namespace
