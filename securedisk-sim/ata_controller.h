// The secure disk's ATA controller: the command set of DATASHEET.md
// (IDENTIFY, SMART, DMA reads and writes of the data area and of the vendor
// sector space, SET and VERIFY PASSWORD) executed against the disk's state.
// It knows nothing of SCSI; the bridge hands it a loaded taskfile.
#pragma once

#include <cstdint>

#include "disk_media.h"
#include "disk_state.h"

namespace zvsim {

// Register pairs as the host loads them: bits 15..8 the "previous" byte
// (48-bit commands), bits 7..0 the "current" byte.
struct AtaTaskfile {
    uint16_t feature = 0;
    uint16_t count = 0;
    uint16_t lba_low = 0;
    uint16_t lba_mid = 0;
    uint16_t lba_high = 0;
    uint8_t device = 0;
    uint8_t command = 0;

    uint64_t lba48() const;
    uint32_t lba28() const;   // current bytes plus device bits 3..0
};

// What a command returns: status and error registers plus the output
// taskfile (the input echoed, except where the command reports values).
struct AtaResult {
    uint8_t status = 0;
    uint8_t error = 0;
    AtaTaskfile regs;
    bool aborted() const { return (status & ata::kStatusErr) != 0; }
};

enum class DataPhase { None, In, Out };

// The data phase a command has, so the bridge can hold the host to it.
struct AtaDataShape {
    bool known = false;          // false: the controller aborts the command
    DataPhase phase = DataPhase::None;
    uint32_t bytes = 0;
    uint32_t protocols = 0;      // bit N set: pass-through protocol N fits
};

AtaDataShape ata_data_shape(const AtaTaskfile &tf);

// Runs one command. `data` holds shape.bytes bytes: filled for data-in,
// consumed for data-out.
AtaResult ata_execute(DiskState &s, DiskMedia &media, const AtaTaskfile &tf, uint8_t *data);

}  // namespace zvsim
