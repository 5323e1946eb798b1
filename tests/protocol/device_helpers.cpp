// Helpers shared by the library's device tests.
#include "device_helpers.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace ptltest {

PROTOCOL_CMD_S zeroed_record()
{
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    return cmd;
}

PROTOCOL_STATUS issue_on(const std::string &dev, PTL_OPERATION op, PROTOCOL_CMD_S &cmd)
{
    DiskHandle handle(dev);
    EXPECT_GE(handle.fd(), 0) << strerror(errno);
    cmd.handle = handle.fd();
    return op(&cmd);
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

static uint64_t hex_field(const std::string &line, const std::string &key)
{
    std::string value = simtest::record_field(line, key);
    return value.empty() ? 0 : std::stoull(value, nullptr, 16);
}

std::vector<NvmeSeen> nvme_seen(const simtest::SimDisk &disk)
{
    std::vector<NvmeSeen> result;
    for (const std::string &line : disk.commands()) {
        std::string queue = simtest::record_field(line, "nvme");
        if (queue.empty())
            continue;
        NvmeSeen c;
        c.admin = queue == "admin";
        c.opcode = static_cast<uint32_t>(hex_field(line, "opcode"));
        c.nsid = static_cast<uint32_t>(hex_field(line, "nsid"));
        c.cdw10 = static_cast<uint32_t>(hex_field(line, "cdw10"));
        c.cdw11 = static_cast<uint32_t>(hex_field(line, "cdw11"));
        c.cdw12 = static_cast<uint32_t>(hex_field(line, "cdw12"));
        c.cdw13 = static_cast<uint32_t>(hex_field(line, "cdw13"));
        c.cdw14 = static_cast<uint32_t>(hex_field(line, "cdw14"));
        c.cdw15 = static_cast<uint32_t>(hex_field(line, "cdw15"));
        c.slba = hex_field(line, "slba");
        c.nblocks = static_cast<uint32_t>(hex_field(line, "nblocks"));
        c.len = static_cast<uint32_t>(std::stoul(simtest::record_field(line, "len")));
        c.timeout_ms = static_cast<uint32_t>(std::stoul(simtest::record_field(line, "timeout_ms")));
        c.good = simtest::record_field(line, "result") == "GOOD";
        c.status = static_cast<uint32_t>(hex_field(line, "status"));
        result.push_back(c);
    }
    return result;
}

Bytes pattern(size_t len, unsigned seed)
{
    Bytes bytes(len);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < len; i++) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

} // namespace ptltest
