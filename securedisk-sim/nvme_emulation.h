// The ioctl side of an NVMe kind disk's file descriptor: the Linux NVMe
// pass-through requests (NVME_IOCTL_ADMIN_CMD, NVME_IOCTL_SUBMIT_IO,
// NVME_IOCTL_ID) checked by the rules the kernel's NVMe driver applies, then
// run by the controller under the disk's lock and written to its command
// record.
#pragma once

#include "sg_io_emulation.h"

namespace zvsim {

bool is_nvme_request(unsigned long request);

// Answers one NVMe request. Returns what the system call returns: 0, a
// positive NVMe status, the namespace id (NVME_IOCTL_ID), or -1 with errno.
int emulate_nvme_ioctl(int fd, const FdBinding &b, unsigned long request, void *arg);

}  // namespace zvsim
