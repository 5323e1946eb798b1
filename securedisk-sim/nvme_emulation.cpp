// The Linux NVMe requests of an NVMe kind disk (see nvme_emulation.h).
#include "nvme_emulation.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <linux/nvme_ioctl.h>
#include <string>
#include <vector>

#include "controller_datasheet.h"
#include "enumeration.h"
#include "fd_media.h"
#include "nvme_controller.h"
#include "sim_util.h"

namespace zvsim {

namespace {

std::string hex(uint64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*" PRIx64, width, v);
    return buf;
}

std::string record_line(uint64_t seq, const NvmeCommand &c, uint32_t len, uint32_t timeout_ms,
                        const NvmeResult &r) {
    std::string line = "seq=" + std::to_string(seq) + (c.admin ? " nvme=admin" : " nvme=io") +
                       " opcode=" + hex(c.opcode, 2) + " nsid=" + hex(c.nsid, 8);
    if (c.admin) {
        line += " cdw10=" + hex(c.cdw10, 8) + " cdw11=" + hex(c.cdw11, 8) + " cdw12=" + hex(c.cdw12, 8) +
                " cdw13=" + hex(c.cdw13, 8) + " cdw14=" + hex(c.cdw14, 8) + " cdw15=" + hex(c.cdw15, 8);
    } else {
        line += " slba=" + hex(c.slba, 16) + " nblocks=" + hex(c.nblocks, 4);
    }
    line += " len=" + std::to_string(len) + " timeout_ms=" + std::to_string(timeout_ms);
    if (r.status == nvme::kSuccess) line += " result=GOOD";
    else line += " result=ERROR status=" + hex(r.status, 4);
    return line;
}

// Runs one command against the disk the descriptor was opened on. `user`
// and `len` are the host's data buffer (null and 0 when it gave none).
// Returns the NVMe status, or -errno.
int run(int fd, const FdBinding &b, NvmeCommand c, uint8_t *user, uint32_t len, uint32_t timeout_ms,
        uint32_t *dw0) {
    const NvmeTransfer t = nvme_transfer(c.opcode);
    const bool to_controller = t == NvmeTransfer::ToController || t == NvmeTransfer::Both;
    const bool from_controller = t == NvmeTransfer::FromController || t == NvmeTransfer::Both;
    std::vector<uint8_t> buf(len);
    if (len && to_controller) std::memcpy(buf.data(), user, len);

    NvmeResult r;
    {
        DiskDir d(b.dir);
        DirLock lock(d);
        DiskState s = load_state(d);
        // The descriptor was opened in this generation after a full check of
        // the backing device; a command only has to see a due arrival.
        bool changed = catch_up(d, s, true);
        if (!s.present || s.generation != b.generation) {
            if (changed) save_state(d, s);
            return -ENODEV;
        }
        if (!c.admin) c.nsid = s.nsid;   // the driver fills in its namespace
        FdMedia media(fd, d, s.bad_sectors);
        r = nvme_execute(s, d, media, c, buf.data(), len);
        ++s.commands;
        append_command_record(d, record_line(s.commands, c, len, timeout_ms, r));
        save_state(d, s);
    }
    if (from_controller && r.transferred) std::memcpy(user, buf.data(), r.transferred);
    *dw0 = r.dw0;
    return r.status;
}

int admin_command(int fd, const FdBinding &b, void *arg) {
    if (!arg) return -EFAULT;
    nvme_passthru_cmd cmd;
    std::memcpy(&cmd, arg, sizeof cmd);
    if (cmd.flags) return -EINVAL;
    if (cmd.metadata && cmd.metadata_len) return -EINVAL;   // no metadata on this namespace
    if (cmd.data_len > nvme::kMaxTransferBytes) return -EINVAL;
    NvmeCommand c;
    c.admin = true;
    c.opcode = cmd.opcode;
    c.nsid = cmd.nsid;
    c.cdw10 = cmd.cdw10;
    c.cdw11 = cmd.cdw11;
    c.cdw12 = cmd.cdw12;
    c.cdw13 = cmd.cdw13;
    c.cdw14 = cmd.cdw14;
    c.cdw15 = cmd.cdw15;
    // The driver maps a buffer only when it has both an address and a length.
    uint8_t *user = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(cmd.addr));
    uint32_t len = user ? cmd.data_len : 0;
    uint32_t dw0 = 0;
    int status = run(fd, b, c, len ? user : nullptr, len, cmd.timeout_ms, &dw0);
    if (status >= 0) std::memcpy(static_cast<uint8_t *>(arg) + offsetof(nvme_passthru_cmd, result), &dw0,
                                 sizeof dw0);
    return status;
}

int submit_io(int fd, const FdBinding &b, void *arg) {
    if (!arg) return -EFAULT;
    nvme_user_io io;
    std::memcpy(&io, arg, sizeof io);
    if (io.flags) return -EINVAL;
    if (io.opcode != nvme::kCmdWrite && io.opcode != nvme::kCmdRead && io.opcode != nvme::kCmdCompare)
        return -EINVAL;
    const uint64_t length = (uint64_t{io.nblocks} + 1) * nvme::kBlockSize;
    if (length > nvme::kMaxTransferBytes) return -EINVAL;
    NvmeCommand c;
    c.admin = false;
    c.opcode = io.opcode;
    c.slba = io.slba;
    c.nblocks = io.nblocks;
    uint8_t *user = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(io.addr));
    uint32_t len = user ? static_cast<uint32_t>(length) : 0;
    uint32_t dw0 = 0;
    return run(fd, b, c, len ? user : nullptr, len, 0, &dw0);
}

int namespace_id(const FdBinding &b) {
    DiskState s;
    if (!try_load_state(DiskDir(b.dir), &s)) return -ENODEV;
    if (!s.present || s.generation != b.generation) return -ENODEV;
    return static_cast<int>(s.nsid);
}
}  // namespace

bool is_nvme_request(unsigned long request) {
    return request == NVME_IOCTL_ADMIN_CMD || request == NVME_IOCTL_SUBMIT_IO || request == NVME_IOCTL_ID;
}

int emulate_nvme_ioctl(int fd, const FdBinding &b, unsigned long request, void *arg) {
    int ret;
    try {
        switch (request) {
        case NVME_IOCTL_ADMIN_CMD:
            ret = admin_command(fd, b, arg);
            break;
        case NVME_IOCTL_SUBMIT_IO:
            ret = submit_io(fd, b, arg);
            break;
        case NVME_IOCTL_ID:
            ret = namespace_id(b);
            break;
        default:
            ret = -ENOTTY;
            break;
        }
    } catch (const SimError &e) {
        ret = -(e.errno_value ? e.errno_value : EIO);
    } catch (...) {
        ret = -EIO;
    }
    if (ret < 0) {
        errno = -ret;
        return -1;
    }
    return ret;
}

}  // namespace zvsim
