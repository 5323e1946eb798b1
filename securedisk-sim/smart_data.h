// The controller's SMART attribute table: the attributes it keeps (from the
// disk's state: power cycles, temperature, LBAs written and read through its
// commands ...) and the 512-byte READ DATA page they are reported in.
#pragma once

#include <cstdint>
#include <vector>

#include "disk_state.h"
#include "identify_page.h"

namespace zvsim {

struct SmartAttribute {
    uint8_t id;
    uint16_t flags;
    uint8_t value;
    uint8_t worst;
    uint64_t raw;   // 48 bits
};

std::vector<SmartAttribute> smart_attributes(const DiskState &s);
Sector build_smart_data_page(const DiskState &s);

}  // namespace zvsim
