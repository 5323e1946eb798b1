// The secure disk's ATA controller (see ata_controller.h and the command
// set of DATASHEET.md).
#include "ata_controller.h"

#include <algorithm>
#include <cstring>

#include "controller_datasheet.h"
#include "identify_page.h"
#include "smart_data.h"

namespace zvsim {

namespace {
constexpr uint32_t bit(uint8_t protocol) { return 1u << protocol; }
constexpr uint32_t kPioIn = bit(ata::kProtoPioIn);
constexpr uint32_t kPioOut = bit(ata::kProtoPioOut);
constexpr uint32_t kNonData = bit(ata::kProtoNonData);
constexpr uint32_t kDmaIn = bit(ata::kProtoDma) | bit(ata::kProtoUdmaIn);
constexpr uint32_t kDmaOut = bit(ata::kProtoDma) | bit(ata::kProtoUdmaOut);
constexpr uint8_t kErrorUncorrectable = 0x40;

uint8_t lo(uint16_t reg) { return static_cast<uint8_t>(reg & 0xFF); }

bool is_ext(uint8_t command) {
    return command == ata::kReadDmaExt || command == ata::kWriteDmaExt;
}

// Sector count of a DMA or PIO command: 0 stands for 256 (28-bit) or
// 65536 (48-bit) sectors.
uint32_t sectors_of(const AtaTaskfile &tf) {
    if (is_ext(tf.command)) return tf.count ? tf.count : 65536u;
    return lo(tf.count) ? lo(tf.count) : 256u;
}

bool vendor_space(const AtaTaskfile &tf) {
    return is_ext(tf.command) ? tf.feature == ata::kVendorFeature
                              : lo(tf.feature) == ata::kVendorFeature;
}

uint64_t dma_lba(const AtaTaskfile &tf) {
    return is_ext(tf.command) ? tf.lba48() : tf.lba28();
}

AtaResult good(const AtaTaskfile &tf) {
    AtaResult r;
    r.status = ata::kStatusGood;
    r.regs = tf;
    return r;
}

AtaResult abort_command(const AtaTaskfile &tf, uint8_t error = ata::kErrorAbort) {
    AtaResult r;
    r.status = ata::kStatusAborted;
    r.error = error;
    r.regs = tf;
    return r;
}

bool password_registers_ok(const AtaTaskfile &tf) {
    return lo(tf.feature) == ata::kPasswordFeature &&
           lo(tf.count) == ata::kPasswordSectorCount && lo(tf.lba_low) == ata::kPasswordLbaLow &&
           lo(tf.lba_mid) == ata::kPasswordLbaMid && lo(tf.lba_high) == ata::kPasswordLbaHigh &&
           (tf.device & 0x0F) == 0;
}

// The password in a data sector: bytes up to the first zero, at most 32.
std::vector<uint8_t> password_of(const uint8_t *data) {
    size_t len = 0;
    while (len < ata::kPasswordMaxLen && data[len] != 0) ++len;
    return std::vector<uint8_t>(data, data + len);
}

// Compares without stopping at the first difference.
bool same_password(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size()) return false;
    uint8_t diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

AtaResult set_password(DiskState &s, DiskMedia &media, const AtaTaskfile &tf, const uint8_t *data) {
    if (!password_registers_ok(tf)) return abort_command(tf);
    std::vector<uint8_t> pw = password_of(data);
    if (pw.empty()) return abort_command(tf);
    s.password = std::move(pw);
    s.password_set = true;
    s.tries_left = s.tries_max;
    media.wipe_private(s);   // also forgets any verification
    return good(tf);
}

AtaResult verify_password(DiskState &s, DiskMedia &media, const AtaTaskfile &tf,
                          const uint8_t *data) {
    if (!password_registers_ok(tf)) return abort_command(tf);
    if (!s.password_set || s.tries_left <= 0) return abort_command(tf);
    std::vector<uint8_t> pw = password_of(data);
    if (pw.empty()) return abort_command(tf);   // malformed, not a guess
    if (!same_password(pw, s.password)) {
        --s.tries_left;
        if (s.tries_left == 0) media.wipe_private(s);
        return abort_command(tf);
    }
    s.tries_left = s.tries_max;
    s.verified = true;
    return good(tf);
}

AtaResult smart(DiskState &s, const AtaTaskfile &tf, uint8_t *data) {
    if (!s.smart_supported) return abort_command(tf);
    if (lo(tf.lba_mid) != ata::kSmartLbaMid || lo(tf.lba_high) != ata::kSmartLbaHigh)
        return abort_command(tf);
    switch (lo(tf.feature)) {
    case ata::kSmartEnableOperations:
        s.smart_enabled = true;
        return good(tf);
    case ata::kSmartDisableOperations:
        s.smart_enabled = false;
        return good(tf);
    case ata::kSmartReadData: {
        if (!s.smart_enabled) return abort_command(tf);
        Sector page = build_smart_data_page(s);
        std::memcpy(data, page.data(), page.size());
        return good(tf);
    }
    case ata::kSmartReturnStatus: {
        if (!s.smart_enabled) return abort_command(tf);
        AtaResult r = good(tf);
        r.regs.lba_mid = ata::kSmartLbaMid;   // no threshold exceeded
        r.regs.lba_high = ata::kSmartLbaHigh;
        return r;
    }
    default:
        return abort_command(tf);
    }
}

AtaResult dma(DiskState &s, DiskMedia &media, const AtaTaskfile &tf, uint8_t *data, bool in) {
    const uint64_t lba = dma_lba(tf);
    const uint32_t count = sectors_of(tf);
    if (vendor_space(tf)) {
        if (lba != ata::kPromptSectorLba || count != 1) return abort_command(tf);
        if (in) std::memcpy(data, s.prompt.data(), kSectorSize);
        else std::memcpy(s.prompt.data(), data, kSectorSize);
        return good(tf);
    }
    const uint64_t sectors = s.presented_sectors();
    if (lba > sectors || count > sectors - lba) return abort_command(tf);
    if (in) {
        if (!media.read(lba, count, data)) return abort_command(tf, kErrorUncorrectable);
        s.lbas_read += count;
    } else {
        if (!media.write(lba, count, data)) return abort_command(tf);
        s.lbas_written += count;
    }
    return good(tf);
}
}  // namespace

uint64_t AtaTaskfile::lba48() const {
    return static_cast<uint64_t>(lo(lba_low)) | static_cast<uint64_t>(lo(lba_mid)) << 8 |
           static_cast<uint64_t>(lo(lba_high)) << 16 | static_cast<uint64_t>(lba_low >> 8) << 24 |
           static_cast<uint64_t>(lba_mid >> 8) << 32 | static_cast<uint64_t>(lba_high >> 8) << 40;
}

uint32_t AtaTaskfile::lba28() const {
    return static_cast<uint32_t>(lo(lba_low)) | static_cast<uint32_t>(lo(lba_mid)) << 8 |
           static_cast<uint32_t>(lo(lba_high)) << 16 | static_cast<uint32_t>(device & 0x0F) << 24;
}

AtaDataShape ata_data_shape(const AtaTaskfile &tf) {
    AtaDataShape shape;
    shape.known = true;
    switch (tf.command) {
    case ata::kIdentifyDevice:
        shape.phase = DataPhase::In;
        shape.bytes = kSectorSize;
        shape.protocols = kPioIn;
        return shape;
    case ata::kSmart:
        switch (lo(tf.feature)) {
        case ata::kSmartReadData:
            shape.phase = DataPhase::In;
            shape.bytes = kSectorSize;
            shape.protocols = kPioIn;
            return shape;
        case ata::kSmartEnableOperations:
        case ata::kSmartDisableOperations:
        case ata::kSmartReturnStatus:
            shape.protocols = kNonData;
            return shape;
        default:
            break;
        }
        break;
    case ata::kReadDma:
    case ata::kReadDmaExt:
        shape.phase = DataPhase::In;
        shape.bytes = sectors_of(tf) * kSectorSize;
        shape.protocols = kDmaIn;
        return shape;
    case ata::kWriteDma:
    case ata::kWriteDmaExt:
        shape.phase = DataPhase::Out;
        shape.bytes = sectors_of(tf) * kSectorSize;
        shape.protocols = kDmaOut;
        return shape;
    case ata::kSetPassword:
    case ata::kVerifyPassword:
        shape.phase = DataPhase::Out;
        shape.bytes = sectors_of(tf) * kSectorSize;
        shape.protocols = kPioOut;
        return shape;
    default:
        break;
    }
    return AtaDataShape{};
}

AtaResult ata_execute(DiskState &s, DiskMedia &media, const AtaTaskfile &tf, uint8_t *data) {
    switch (tf.command) {
    case ata::kIdentifyDevice: {
        Sector page = build_identify_page(s);
        std::memcpy(data, page.data(), page.size());
        return good(tf);
    }
    case ata::kSmart:
        return smart(s, tf, data);
    case ata::kReadDma:
    case ata::kReadDmaExt:
        return dma(s, media, tf, data, true);
    case ata::kWriteDma:
    case ata::kWriteDmaExt:
        return dma(s, media, tf, data, false);
    case ata::kSetPassword:
        return set_password(s, media, tf, data);
    case ata::kVerifyPassword:
        return verify_password(s, media, tf, data);
    default:
        return abort_command(tf);
    }
}

}  // namespace zvsim
