// SG_IO and the SCSI generic ioctls of a simulated disk's fd (see
// sg_io_emulation.h). The data phase goes to the caller's own fd with
// pread/pwrite, so what a command writes is what the block layer reads.
#include "sg_io_emulation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <time.h>
#include <unistd.h>

#include "backing_store.h"
#include "controller_datasheet.h"
#include "disk_media.h"
#include "enumeration.h"
#include "fd_media.h"
#include "host_command.h"
#include "nvme_emulation.h"
#include "sim_util.h"

namespace zvsim {

namespace {
constexpr int kSgVersionNum = 30527;        // what the block layer reports
constexpr int kUserHz = 100;
constexpr int kDefaultSgTimeoutTicks = 60 * kUserHz;
constexpr size_t kMaxCdbLen = 32;
constexpr size_t kMinCdbLen = 6;
constexpr uint8_t kDriverSense = 0x08;
constexpr unsigned kHostNumber = 6;

const char *direction_name(int dir) {
    switch (dir) {
    case SG_DXFER_NONE: return "none";
    case SG_DXFER_TO_DEV: return "out";
    case SG_DXFER_FROM_DEV: return "in";
    case SG_DXFER_TO_FROM_DEV: return "bidi";
    default: return "unknown";
    }
}

// The kernel's checks of an SG_IO header, in the kernel's order.
int check_header(const sg_io_hdr &h) {
    if (h.interface_id != 'S') return EINVAL;
    if (h.dxfer_len > scsi::kMaxTransferBytes) return EIO;
    if (h.dxfer_len) {
        switch (h.dxfer_direction) {
        case SG_DXFER_TO_DEV:
        case SG_DXFER_TO_FROM_DEV:
        case SG_DXFER_FROM_DEV:
            break;
        default:
            return EINVAL;
        }
    }
    if (h.cmd_len > kMaxCdbLen) return EINVAL;
    if (h.cmd_len < kMinCdbLen) return EMSGSIZE;
    if (!h.cmdp) return EFAULT;
    if (h.dxfer_len && !h.dxferp) return EFAULT;
    return 0;
}

// The user's data buffer: one block, or a scatter list of iovec_count pieces.
struct UserData {
    const sg_io_hdr &h;
    template <class F>
    void each(F f) const {
        if (!h.iovec_count) {
            f(static_cast<uint8_t *>(h.dxferp), size_t{h.dxfer_len});
            return;
        }
        const sg_iovec_t *iov = static_cast<const sg_iovec_t *>(h.dxferp);
        size_t left = h.dxfer_len;
        for (unsigned i = 0; i < h.iovec_count && left; ++i) {
            size_t n = std::min(left, iov[i].iov_len);
            f(static_cast<uint8_t *>(iov[i].iov_base), n);
            left -= n;
        }
    }
    uint32_t total() const {
        size_t sum = 0;
        each([&sum](uint8_t *, size_t n) { sum += n; });
        return static_cast<uint32_t>(sum);
    }
};

// One request through the kernel's header checks, the data phase and the
// bridge (run by `bridge`, which returns 0 or an errno); fills the answer
// fields of the header.
int sg_io_through(sg_io_hdr *h, const std::function<int(HostData &, BridgeResult &)> &bridge) {
    if (!h) return EFAULT;
    if (int err = check_header(*h)) return err;
    const int64_t start = monotonic_ms();

    UserData user{*h};
    const uint32_t len = h->dxfer_len ? user.total() : 0;
    std::vector<uint8_t> buf(len);
    HostData host;
    host.len = len;
    host.buf = buf.data();
    if (len == 0) host.dir = HostData::Dir::None;
    else if (h->dxfer_direction == SG_DXFER_TO_DEV) host.dir = HostData::Dir::ToDevice;
    else host.dir = HostData::Dir::FromDevice;
    if (host.dir == HostData::Dir::ToDevice) {
        size_t off = 0;
        user.each([&](uint8_t *p, size_t n) {
            std::memcpy(buf.data() + off, p, n);
            off += n;
        });
    }

    BridgeResult r;
    if (int err = bridge(host, r)) return err;

    if (host.dir == HostData::Dir::FromDevice && r.transferred) {
        size_t off = 0;
        user.each([&](uint8_t *p, size_t n) {
            if (off >= r.transferred) return;
            size_t m = std::min(n, size_t{r.transferred} - off);
            std::memcpy(p, buf.data() + off, m);
            off += m;
        });
    }
    h->status = r.status;
    h->masked_status = static_cast<unsigned char>((r.status >> 1) & 0x7F);
    h->msg_status = 0;
    h->host_status = 0;
    h->driver_status = r.status == scsi::kStatusCheckCondition ? kDriverSense : 0;
    h->info = 0;
    if (h->masked_status || h->host_status || h->driver_status) h->info |= SG_INFO_CHECK;
    h->resid = static_cast<int>(h->dxfer_len - r.transferred);
    h->sb_len_wr = 0;
    if (!r.sense.empty() && h->sbp) {
        size_t n = std::min<size_t>(h->mx_sb_len, r.sense.size());
        std::memcpy(h->sbp, r.sense.data(), n);
        h->sb_len_wr = static_cast<unsigned char>(n);
    }
    h->duration = static_cast<unsigned>(monotonic_ms() - start);
    return 0;
}

int sg_io(int fd, const FdBinding &b, sg_io_hdr *h) {
    int reset_ms = 0;
    auto run = [&](HostData &host, BridgeResult &r) {
        DiskDir d(b.dir);
        DirLock lock(d);
        DiskState s = load_state(d);
        // The descriptor was opened in this generation after a full check of
        // the backing device; a command only has to see a due arrival.
        bool changed = catch_up(d, s, true);
        if (!s.present || s.generation != b.generation) {
            if (changed) save_state(d, s);
            return ENODEV;
        }
        FdMedia media(fd, d, s.bad_sectors);
        r = run_host_command(d, s, media, h->cmdp, h->cmd_len, direction_name(h->dxfer_direction),
                             h->dxfer_len, host);
        if (r.leave_bus && s.reset_ms > 0) reset_ms = s.reset_ms;   // leaves once it answers
        save_state(d, s);
        return 0;
    };
    return sg_io_through(h, [&](HostData &host, BridgeResult &r) {
        if (int e = run(host, r)) return e;
        if (reset_ms > 0) {
            // A slow reset: the command is in flight (other commands and the
            // bench still reach the disk), then the bridge answers and leaves.
            struct timespec ts = {reset_ms / 1000, (reset_ms % 1000) * 1000000L};
            while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
            }
            DiskDir d(b.dir);
            DirLock lock(d);
            DiskState s = load_state(d);
            catch_up(d, s, true);
            if (s.present && s.generation == b.generation) leave_bus_for_reset(d, s);
            save_state(d, s);
        }
        return 0;
    });
}

int put_int(void *arg, int v) {
    if (!arg) return EFAULT;
    std::memcpy(arg, &v, sizeof v);
    return 0;
}

int get_int(const void *arg, int *v) {
    if (!arg) return EFAULT;
    std::memcpy(v, arg, sizeof *v);
    return 0;
}

uint64_t presented_bytes(const FdBinding &b) {
    DiskState s;
    if (!try_load_state(DiskDir(b.dir), &s)) return 0;
    return s.presented_sectors() * kSectorSize;
}
}  // namespace

int sg_io_in_memory(sg_io_hdr *h, DiskState &s, DiskMedia &media, BridgeResult *result) {
    return sg_io_through(h, [&](HostData &host, BridgeResult &r) {
        r = bridge_execute(s, media, h->cmdp, h->cmd_len, host);
        ++s.commands;
        if (result) *result = r;
        return 0;
    });
}

bool is_emulated_ioctl(const FdBinding &b, unsigned long request) {
    if (is_nvme_request(request)) return true;   // the secure disk refuses them itself
    switch (request) {
    case SG_IO:
    case SG_GET_VERSION_NUM:
    case SG_EMULATED_HOST:
    case SG_GET_TIMEOUT:
    case SG_SET_TIMEOUT:
    case SG_GET_RESERVED_SIZE:
    case SG_SET_RESERVED_SIZE:
    case SCSI_IOCTL_GET_IDLUN:
    case SCSI_IOCTL_GET_BUS_NUMBER:
        return true;
    case BLKGETSIZE64:
    case BLKGETSIZE:
    case BLKSSZGET:
        // An image file has no block-device ioctls of its own.
        return b.mode == BackingMode::Image;
    default:
        return false;
    }
}

int emulate_ioctl(int fd, FdBinding &b, unsigned long request, void *arg) {
    if (is_nvme_request(request) && b.kind != DiskKind::Nvme) {
        errno = ENOTTY;   // a SCSI disk has no NVMe requests
        return -1;
    }
    if (b.kind == DiskKind::Nvme) {
        if (is_nvme_request(request)) return emulate_nvme_ioctl(fd, b, request, arg);
        if (request != BLKGETSIZE64 && request != BLKGETSIZE && request != BLKSSZGET) {
            errno = ENOTTY;   // an NVMe namespace is no SCSI device
            return -1;
        }
    }
    int err = 0;
    int ret = 0;
    try {
        switch (request) {
        case SG_IO:
            err = sg_io(fd, b, static_cast<sg_io_hdr *>(arg));
            break;
        case SG_GET_VERSION_NUM:
            err = put_int(arg, kSgVersionNum);
            break;
        case SG_EMULATED_HOST:
            err = put_int(arg, 1);
            break;
        case SG_GET_TIMEOUT:
            ret = b.sg_timeout_ticks ? b.sg_timeout_ticks : kDefaultSgTimeoutTicks;
            break;
        case SG_SET_TIMEOUT:
            err = get_int(arg, &b.sg_timeout_ticks);
            break;
        case SG_GET_RESERVED_SIZE:
            err = put_int(arg, b.reserved_size ? b.reserved_size
                                               : static_cast<int>(scsi::kMaxTransferBytes));
            break;
        case SG_SET_RESERVED_SIZE: {
            int size = 0;
            err = get_int(arg, &size);
            if (!err && size < 0) err = EINVAL;
            if (!err)
                b.reserved_size = std::min<int>(size, static_cast<int>(scsi::kMaxTransferBytes));
            break;
        }
        case SCSI_IOCTL_GET_IDLUN: {
            if (!arg) {
                err = EFAULT;
                break;
            }
            int v[2] = {static_cast<int>(kHostNumber << 24), static_cast<int>(kHostNumber)};
            std::memcpy(arg, v, sizeof v);
            break;
        }
        case SCSI_IOCTL_GET_BUS_NUMBER:
            err = put_int(arg, static_cast<int>(kHostNumber));
            break;
        case BLKGETSIZE64: {
            if (!arg) {
                err = EFAULT;
                break;
            }
            uint64_t bytes = presented_bytes(b);
            std::memcpy(arg, &bytes, sizeof bytes);
            break;
        }
        case BLKGETSIZE: {
            if (!arg) {
                err = EFAULT;
                break;
            }
            unsigned long sectors = presented_bytes(b) / kSectorSize;
            std::memcpy(arg, &sectors, sizeof sectors);
            break;
        }
        case BLKSSZGET:
            err = put_int(arg, static_cast<int>(kSectorSize));
            break;
        default:
            err = ENOTTY;
            break;
        }
    } catch (const SimError &e) {
        err = e.errno_value ? e.errno_value : EIO;
    } catch (...) {
        err = EIO;
    }
    if (err) {
        errno = err;
        return -1;
    }
    return ret;
}

}  // namespace zvsim
