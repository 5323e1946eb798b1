// Helpers shared by the library's device tests.
#include "device_helpers.h"

#include <cctype>
#include <cstring>

namespace ptltest {

PROTOCOL_CMD_S zeroed_record()
{
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    return cmd;
}

// A line of the disk's command record holds "cdb=" and the block in hex.
static Bytes cdb_of(const std::string &line)
{
    Bytes cdb;
    size_t at = line.find("cdb=");
    if (at == std::string::npos)
        return cdb;
    for (size_t i = at + 4; i + 1 < line.size() && isxdigit(line[i]) && isxdigit(line[i + 1]); i += 2)
        cdb.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
    return cdb;
}

std::vector<Bytes> cdbs_seen(const simtest::SimDisk &disk)
{
    std::vector<Bytes> result;
    for (const std::string &line : disk.commands())
        result.push_back(cdb_of(line));
    return result;
}

} // namespace ptltest
