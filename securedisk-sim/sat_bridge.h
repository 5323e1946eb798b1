// The USB bridge in front of the controller: it answers the SCSI commands a
// USB disk answers (INQUIRY, READ CAPACITY, READ/WRITE ...), translates ATA
// PASS-THROUGH (12) and (16) to controller commands by the SCSI/ATA
// Translation rules, reports results as status and sense data, and accepts
// the vendor reset block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk_media.h"
#include "disk_state.h"

namespace zvsim {

// The host side of one command's data phase (one contiguous buffer).
struct HostData {
    enum class Dir { None, ToDevice, FromDevice };
    Dir dir = Dir::None;
    uint8_t *buf = nullptr;
    uint32_t len = 0;
};

struct BridgeResult {
    uint8_t status = 0;             // SCSI status byte
    std::vector<uint8_t> sense;     // sense data when CHECK CONDITION
    uint32_t transferred = 0;       // bytes moved in the data phase
    bool leave_bus = false;         // the vendor reset was accepted
    std::string summary;            // outcome for the command record
};

// How the command block reached the bridge: whole, as a USB host sends it,
// or with the length the kernel's target layer takes from the operation
// code's group (a 16-byte vendor block then arrives cut to its first 10).
enum class CdbDelivery { Whole, GroupLength };

// Runs one CDB (up to 32 bytes) against the disk.
BridgeResult bridge_execute(DiskState &s, DiskMedia &media, const uint8_t *cdb, size_t cdb_len,
                            HostData &host, CdbDelivery delivery = CdbDelivery::Whole);

// Fixed-format CHECK CONDITION for a command the logical unit cannot take
// (the disk is off the bus, or the front end cannot move its data).
BridgeResult bridge_refusal(uint8_t key, scsi::Asc asc);

// Fixed-format sense data (response code 0x70).
std::vector<uint8_t> fixed_sense(uint8_t key, uint8_t asc, uint8_t ascq);

}  // namespace zvsim
