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
    // The records the program sends, so that the catalogue's check lets
    // each call through to the open.
    std::vector<catalogue_command> catalogue;
    ASSERT_TRUE(catalogue_read_commands(ZV_SECURITY_CMD_XML, catalogue));
    auto record_of = [&](catalogue_category v_category, const char *v_subname) {
        for (const catalogue_command &c : catalogue)
            if (c.category == v_category && c.subname == v_subname)
                return QByteArray(reinterpret_cast<const char *>(&c.record), sizeof(c.record));
        return QByteArray();
    };
    struct Method {
        data_method method;
        catalogue_category category;
        const char *subname;
    } methods[] = {
        {METHOD_GETIDENTIFY, CATEGORY_SENDCMD, "identify"},
        {METHOD_READ, CATEGORY_READ, "readparam"},
        {METHOD_WRITE, CATEGORY_WRITE, "writeparam"},
        {METHOD_SEND_CMD, CATEGORY_SENDCMD, "verifypwd"},
    };
    struct Case {
        const char *what;
        QByteArray name;
    } cases[] = {
        {"a device that does not exist", "/dev/sdqnosuchdisk"},
        {"an empty name", ""},
    };
    for (const Case &c : cases) {
        for (const Method &m : methods) {
            const QByteArray record = record_of(m.category, m.subname);
            ASSERT_FALSE(record.isEmpty()) << "no catalogue entry for method " << m.method;
            g_lines.clear();
            QByteArray out;
            EXPECT_EQ(run_data_method(&g_system_disks, catalogue, m.method, c.name, record,
                                      QByteArray(CATALOGUE_MAX_SECTOR_COUNT * CATALOGUE_SECTOR_SIZE, '\0'), out),
                      260)
                << c.what << ", method " << m.method;
            EXPECT_EQ(count_of("getFd info open disk handle failed"), 1) << c.what << ", method " << m.method;
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
