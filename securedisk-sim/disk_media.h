// The data-area access the bridge and the controller work through: sector
// reads and writes of the presented area and the erase of the private area.
// The preload implements it over the caller's own file descriptor so data
// stays coherent with the block layer.
#pragma once

#include <cstdint>

#include "disk_state.h"

namespace zvsim {

class DiskMedia {
public:
    virtual ~DiskMedia() = default;
    // `count` sectors at `lba` of the presented area; false on an I/O error.
    virtual bool read(uint64_t lba, uint32_t count, uint8_t *out) = 0;
    virtual bool write(uint64_t lba, uint32_t count, const uint8_t *in) = 0;
    // Erases the private area and forgets the verification.
    virtual void wipe_private(DiskState &s) = 0;
};

}  // namespace zvsim
