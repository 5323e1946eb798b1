// The ioctl side of a simulated disk's file descriptor (an NVMe kind's
// requests are answered in nvme_emulation.h): SG_IO checked by
// the same rules the kernel's block layer applies, then run through the
// bridge under the disk's lock and written to its command record; and the
// small SCSI generic ioctls (version, timeout, reserved size, id/lun) that
// tools ask a SCSI disk before they send commands.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

#include "disk_media.h"
#include "disk_state.h"
#include "sat_bridge.h"

struct sg_io_hdr;

namespace zvsim {

// What the preload remembers of one open file descriptor of a simulated disk.
struct FdBinding {
    std::string dir;          // canonical state directory
    uint64_t generation = 0;  // bus generation at open time
    BackingMode mode = BackingMode::Loop;
    DiskKind kind = DiskKind::Secure;
    dev_t rdev = 0;           // loop mode: device number opened
    dev_t st_dev = 0;         // image mode: the image file's identity
    ino_t st_ino = 0;
    int sg_timeout_ticks = 0; // SG_SET_TIMEOUT value (clock ticks)
    int reserved_size = 0;    // SG_SET_RESERVED_SIZE value
};

// True when this request is one the simulator answers for a bound fd.
bool is_emulated_ioctl(const FdBinding &b, unsigned long request);

// Answers an emulated ioctl. Returns the ioctl's return value, or -1 with
// errno set, exactly as the system call would.
int emulate_ioctl(int fd, FdBinding &b, unsigned long request, void *arg);

// One SG_IO request against a disk held in memory (no state directory, no
// command record, no presence): the kernel's header checks, the bridge and
// the answer fields of the header, as for a descriptor. Returns 0 or the
// errno the ioctl would fail with; `result` (may be null) gets the bridge's
// outcome. For programs that link the simulator in, such as fuzz targets.
int sg_io_in_memory(sg_io_hdr *h, DiskState &s, DiskMedia &media, BridgeResult *result = nullptr);

}  // namespace zvsim
