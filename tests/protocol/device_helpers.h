// Small helpers for the library's tests against the simulated disks: an
// open handle that closes itself, a zeroed command record, and the command
// blocks (or NVMe commands) the disk saw.
#ifndef PROTOCOL_DEVICE_HELPERS_H
#define PROTOCOL_DEVICE_HELPERS_H

#include <string>
#include <vector>

#include "protocol_interface.h"
#include "sim_disk.h"

namespace ptltest {

using Bytes = std::vector<uint8_t>;

class DiskHandle {
public:
    explicit DiskHandle(const std::string &dev) : fd_(open_disk_handle(dev.c_str(), 1)) {}
    ~DiskHandle()
    {
        if (fd_ >= 0)
            close_disk_handle(fd_);
    }
    DiskHandle(const DiskHandle &) = delete;
    DiskHandle &operator=(const DiskHandle &) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

PROTOCOL_CMD_S zeroed_record();

// Issues one operation on a freshly opened handle of dev, as the disk
// service does, and closes it again.
PROTOCOL_STATUS issue_on(const std::string &dev, PTL_OPERATION op, PROTOCOL_CMD_S &cmd);

// The command blocks of every command the disk has seen, oldest first.
std::vector<Bytes> cdbs_seen(const simtest::SimDisk &disk);

// One NVMe command as the simulated NVMe disk recorded it.
struct NvmeSeen {
    bool admin = false;
    uint32_t opcode = 0;
    uint32_t nsid = 0;
    uint32_t cdw10 = 0, cdw11 = 0, cdw12 = 0, cdw13 = 0, cdw14 = 0, cdw15 = 0; // admin
    uint64_t slba = 0;                                                         // I/O
    uint32_t nblocks = 0;                                                      // I/O, zero-based
    uint32_t len = 0;
    uint32_t timeout_ms = 0;
    bool good = false;
    uint32_t status = 0; // the NVMe status of a failed command
};

// Every NVMe command the disk has seen, oldest first.
std::vector<NvmeSeen> nvme_seen(const simtest::SimDisk &disk);

// Bytes of a repeatable pattern, different for each seed.
Bytes pattern(size_t len, unsigned seed);

} // namespace ptltest

#endif
