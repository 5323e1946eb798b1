// The controller's SMART attribute table and READ DATA page (see
// smart_data.h; the layout is the SMART table of DATASHEET.md).
#include "smart_data.h"

#include <algorithm>

#include "byte_order.h"

namespace zvsim {

namespace {
constexpr uint64_t kRawMask = (1ull << 48) - 1;
constexpr uint8_t kNominal = 100;
constexpr uint16_t kPrefailFlags = 0x000B;   // prefailure, online, performance
constexpr uint16_t kCriticalFlags = 0x0033;
constexpr uint16_t kCounterFlags = 0x0032;   // online, event count
constexpr uint16_t kTemperatureFlags = 0x0022;
}  // namespace

std::vector<SmartAttribute> smart_attributes(const DiskState &s) {
    namespace sm = ata::smart;
    uint8_t temp = static_cast<uint8_t>(std::clamp(s.temperature, 0, 255));
    return {
        {sm::kReadErrorRate, kPrefailFlags, kNominal, kNominal, 0},
        {sm::kReallocatedSectors, kCriticalFlags, kNominal, kNominal, 0},
        {sm::kPowerOnHours, kCounterFlags, kNominal, kNominal, s.power_on_hours & kRawMask},
        {sm::kPowerCycles, kCounterFlags, kNominal, kNominal, s.power_cycles & kRawMask},
        {sm::kTemperature, kTemperatureFlags, temp, temp, static_cast<uint64_t>(temp)},
        {sm::kLbasWritten, kCounterFlags, kNominal, kNominal, s.lbas_written & kRawMask},
        {sm::kLbasRead, kCounterFlags, kNominal, kNominal, s.lbas_read & kRawMask},
    };
}

Sector build_smart_data_page(const DiskState &s) {
    namespace sm = ata::smart;
    Sector p{};
    put_le16(p.data(), sm::kRevision);
    size_t i = 0;
    for (const auto &a : smart_attributes(s)) {
        if (i == sm::kMaxAttributes) break;
        uint8_t *e = p.data() + sm::kFirstAttributeOffset + i * sm::kAttributeLen;
        e[0] = a.id;
        put_le16(e + 1, a.flags);
        e[3] = a.value;
        e[4] = a.worst;
        put_le48(e + 5, a.raw);
        ++i;
    }
    p[sm::kOfflineStatusOffset] = 0x00;
    p[sm::kSelfTestStatusOffset] = 0x00;
    put_le16(p.data() + sm::kCapabilityOffset, sm::kCapability);
    p[sm::kErrorLoggingOffset] = 0x01;
    unsigned sum = 0;
    for (size_t k = 0; k < sm::kChecksumOffset; ++k) sum += p[k];
    p[sm::kChecksumOffset] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
    return p;
}

}  // namespace zvsim
