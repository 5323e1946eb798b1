// Small helpers for the library's tests against the simulated disk: an open
// handle that closes itself, a zeroed command record, and the command
// blocks the disk saw.
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

// The command blocks of every command the disk has seen, oldest first.
std::vector<Bytes> cdbs_seen(const simtest::SimDisk &disk);

} // namespace ptltest

#endif
