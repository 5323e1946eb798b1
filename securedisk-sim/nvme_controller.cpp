// The NVMe kind's controller (see nvme_controller.h and chapter 5 of
// DATASHEET.md).
#include "nvme_controller.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "byte_order.h"
#include "controller_datasheet.h"
#include "identify_page.h"
#include "sim_util.h"

namespace zvsim {

namespace {
using Page = std::vector<uint8_t>;

NvmeResult success(uint32_t transferred = 0) {
    NvmeResult r;
    r.transferred = transferred;
    return r;
}

NvmeResult failure(uint16_t status) {
    NvmeResult r;
    r.status = static_cast<uint16_t>(status | nvme::kDnr);
    return r;
}

void put_ascii(uint8_t *dst, size_t len, const std::string &text) {
    for (size_t i = 0; i < len; ++i) dst[i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

// 128-bit counters of the health log: the low 64 bits carry the value.
void put_le128(uint8_t *p, uint64_t v) { put_le64(p, v); }

// Hands the host as much of the page as its buffer takes.
NvmeResult hand_over(const Page &page, uint8_t *data, uint32_t len) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(len, page.size()));
    if (n) std::memcpy(data, page.data(), n);
    return success(n);
}

Page identify_controller(const DiskState &s) {
    namespace id = nvme::id;
    Page p(nvme::kIdentifyLen, 0);
    put_le16(&p[id::kVid], id::kVendorId);
    put_le16(&p[id::kSsvid], id::kVendorId);
    put_ascii(&p[id::kSerial], id::kSerialLen, s.serial);
    put_ascii(&p[id::kModel], id::kModelLen, id::kModelText);
    put_ascii(&p[id::kFirmware], id::kFirmwareLen, id::kFirmwareText);
    p[id::kMdts] = id::kMdtsValue;
    put_le16(&p[id::kCntlid], id::kControllerId);
    put_le32(&p[id::kVersion], id::kVersionValue);
    put_le32(&p[id::kVendorCapacity],
             static_cast<uint32_t>(std::min<uint64_t>(s.presented_sectors(), 0xFFFFFFFFull)));
    put_le16(&p[id::kOacs], id::kOacsFirmware);
    p[id::kFrmw] = id::kFrmwOneSlot;
    p[id::kLpa] = s.lpa;
    p[id::kSqes] = id::kSqesValue;
    p[id::kCqes] = id::kCqesValue;
    put_le32(&p[id::kNn], s.nsid);
    return p;
}

Page identify_namespace(const DiskState &s) {
    namespace id = nvme::id;
    Page p(nvme::kIdentifyLen, 0);
    put_le64(&p[id::kNsze], s.presented_sectors());
    put_le64(&p[id::kNcap], s.presented_sectors());
    put_le64(&p[id::kNuse], s.presented_sectors());
    p[id::kNlbaf] = 0;   // one format
    p[id::kFlbas] = 0;   // format 0 in use
    p[id::kLbaf0 + 2] = id::kLbads512;
    return p;
}

NvmeResult identify(const DiskState &s, const NvmeCommand &c, uint8_t *data, uint32_t len) {
    switch (c.cdw10 & 0xFF) {
    case nvme::kCnsNamespace:
        if (c.nsid != s.nsid) return failure(nvme::kInvalidNamespace);
        return hand_over(identify_namespace(s), data, len);
    case nvme::kCnsController:
        return hand_over(identify_controller(s), data, len);
    case nvme::kCnsActiveNamespaces: {
        if (c.nsid >= nvme::kNsidAll - 1) return failure(nvme::kInvalidNamespace);
        Page list(nvme::kIdentifyLen, 0);
        if (s.nsid > c.nsid) put_le32(&list[0], s.nsid);
        return hand_over(list, data, len);
    }
    default:
        return failure(nvme::kInvalidField);
    }
}

NvmeResult get_log_page(const DiskState &s, const NvmeCommand &c, uint8_t *data, uint32_t len) {
    const uint8_t lid = c.cdw10 & 0xFF;
    const uint64_t numd = (c.cdw10 >> 16) | (static_cast<uint64_t>(c.cdw11 & 0xFFFF) << 16);
    const uint64_t bytes = (numd + 1) * 4;
    if (c.cdw12 != 0 || c.cdw13 != 0) return failure(nvme::kInvalidField);   // no log offsets
    Page log(nvme::kLogLen, 0);
    switch (lid) {
    case nvme::kLogError:
        break;   // no error has been logged
    case nvme::kLogSmart:
        if (c.nsid != 0 && c.nsid != nvme::kNsidAll) {
            if (!(s.lpa & nvme::kLpaSmartPerNamespace)) return failure(nvme::kInvalidField);
            if (c.nsid != s.nsid) return failure(nvme::kInvalidNamespace);
        }
        log = build_nvme_health_log(s);
        break;
    case nvme::kLogFirmwareSlot:
        log[nvme::kFirmwareSlotAfi] = nvme::kFirmwareSlotActive;
        put_ascii(&log[nvme::kFirmwareSlot1], nvme::id::kFirmwareLen, nvme::id::kFirmwareText);
        break;
    default:
        return failure(nvme::kInvalidLogPage);
    }
    // Dwords asked for beyond the log read as zeros.
    log.resize(static_cast<size_t>(std::min<uint64_t>(bytes, nvme::kMaxTransferBytes)), 0);
    return hand_over(log, data, len);
}

void write_file_at(const std::string &path, uint64_t offset, const uint8_t *data, size_t len,
                   bool truncate) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    if (fd < 0) throw_errno("cannot open " + path);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::pwrite(fd, data + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            ::close(fd);
            errno = err;
            throw_errno("cannot write " + path);
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

NvmeResult firmware_download(const DiskDir &d, const NvmeCommand &c, const uint8_t *data, uint32_t len) {
    const uint64_t bytes = (static_cast<uint64_t>(c.cdw10) + 1) * 4;
    const uint64_t offset = static_cast<uint64_t>(c.cdw11) * 4;
    if (bytes != len || offset + bytes > nvme::kFirmwareMaxBytes) return failure(nvme::kInvalidField);
    write_file_at(d.firmware(), offset, data, len, false);
    return success();
}

Page sys_info() {
    Page p(nvme::kSysInfoLen, 0);
    put_le32(&p[nvme::kSysInfoSignature], nvme::kVendorSignature);
    put_le32(&p[nvme::kSysInfoRomVersion], nvme::kRomVersion);
    put_le32(&p[nvme::kSysInfoFeature], 0);
    put_le32(&p[nvme::kSysInfoStatus], 0);
    p[nvme::kSysInfoFwType] = nvme::kFwTypeValue;
    return p;
}

// The mailbox commands move cdw10 dwords (a count, not zero-based).
bool mailbox_length_ok(const NvmeCommand &c, uint32_t len) {
    const uint64_t bytes = static_cast<uint64_t>(c.cdw10) * 4;
    return bytes != 0 && bytes == len && bytes <= nvme::kMailboxMaxBytes;
}

NvmeResult vendor(const DiskDir &d, const NvmeCommand &c, uint8_t *data, uint32_t len) {
    if (c.cdw14 != nvme::kVendorSignature) return failure(nvme::kInvalidField);
    switch (c.opcode) {
    case nvme::kAdminSysInfo:
        if (c.cdw10 != nvme::kSysInfoNumd || len != nvme::kSysInfoLen) return failure(nvme::kInvalidField);
        return hand_over(sys_info(), data, len);
    case nvme::kAdminVendorWrite:
        if (!mailbox_length_ok(c, len)) return failure(nvme::kInvalidField);
        write_file_at(d.mailbox(), 0, data, len, true);
        return success();
    case nvme::kAdminVendorExecute:
        if (len != 0) return failure(nvme::kInvalidField);
        return success();
    case nvme::kAdminVendorRead: {
        if (!mailbox_length_ok(c, len)) return failure(nvme::kInvalidField);
        std::string text;
        Page box(len, 0);
        if (read_file(d.mailbox(), &text))
            std::copy_n(text.begin(), std::min<size_t>(text.size(), len), box.begin());
        return hand_over(box, data, len);
    }
    default:
        return failure(nvme::kInvalidOpcode);
    }
}

NvmeResult io(DiskState &s, DiskMedia &media, const NvmeCommand &c, uint8_t *data, uint32_t len) {
    if (c.opcode != nvme::kCmdRead && c.opcode != nvme::kCmdWrite) return failure(nvme::kInvalidOpcode);
    if (c.nsid != s.nsid) return failure(nvme::kInvalidNamespace);
    const uint64_t sectors = s.presented_sectors();
    const uint32_t count = uint32_t{c.nblocks} + 1;
    if (c.slba > sectors || count > sectors - c.slba) return failure(nvme::kLbaOutOfRange);
    const uint32_t bytes = count * nvme::kBlockSize;
    if (len < bytes) return failure(nvme::kDataTransferError);
    if (c.opcode == nvme::kCmdRead) {
        if (!media.read(c.slba, count, data)) return failure(nvme::kUnrecoveredReadError);
        s.lbas_read += count;
        ++s.read_commands;
        return success(bytes);
    }
    if (!media.write(c.slba, count, data)) return failure(nvme::kWriteFault);
    s.lbas_written += count;
    ++s.write_commands;
    return success();
}
}  // namespace

NvmeTransfer nvme_transfer(uint8_t opcode) {
    switch (opcode & 0x03) {
    case 0x01: return NvmeTransfer::ToController;
    case 0x02: return NvmeTransfer::FromController;
    case 0x03: return NvmeTransfer::Both;
    default: return NvmeTransfer::None;
    }
}

std::vector<uint8_t> build_nvme_health_log(const DiskState &s) {
    namespace sm = nvme::smart;
    Page p(nvme::kLogLen, 0);
    put_le16(&p[sm::kTemperature], static_cast<uint16_t>(std::clamp(s.temperature, 0, 255) + sm::kKelvin));
    p[sm::kAvailableSpare] = sm::kSpare;
    p[sm::kSpareThreshold] = sm::kThreshold;
    p[sm::kPercentUsed] = 0;
    put_le128(&p[sm::kUnitsRead], (s.lbas_read + sm::kUnitBlocks - 1) / sm::kUnitBlocks);
    put_le128(&p[sm::kUnitsWritten], (s.lbas_written + sm::kUnitBlocks - 1) / sm::kUnitBlocks);
    put_le128(&p[sm::kReadCommands], s.read_commands);
    put_le128(&p[sm::kWriteCommands], s.write_commands);
    put_le128(&p[sm::kPowerCycles], s.power_cycles);
    put_le128(&p[sm::kPowerOnHours], s.power_on_hours);
    return p;
}

NvmeResult nvme_execute(DiskState &s, const DiskDir &d, DiskMedia &media, const NvmeCommand &c,
                        uint8_t *data, uint32_t len) {
    if (!c.admin) return io(s, media, c, data, len);
    switch (c.opcode) {
    case nvme::kAdminIdentify:
        return identify(s, c, data, len);
    case nvme::kAdminGetLogPage:
        return get_log_page(s, c, data, len);
    case nvme::kAdminFirmwareDownload:
        return firmware_download(d, c, data, len);
    case nvme::kAdminSysInfo:
    case nvme::kAdminVendorWrite:
    case nvme::kAdminVendorRead:
    case nvme::kAdminVendorExecute:
        return vendor(d, c, data, len);
    default:
        return failure(nvme::kInvalidOpcode);
    }
}

}  // namespace zvsim
