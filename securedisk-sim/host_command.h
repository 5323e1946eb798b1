// One SCSI command from the host, as every way into the disk runs it (the
// preload's SG_IO and the kernel's TCMU ring alike): through the bridge
// against the disk's loaded state, one line in the command record, and the
// departure from the bus when the vendor reset was accepted (at once, or,
// for a disk set to reset slowly, by the caller after reset_ms). The caller holds
// the DirLock and saves the state afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk_media.h"
#include "disk_state.h"
#include "sat_bridge.h"

namespace zvsim {

BridgeResult run_host_command(const DiskDir &d, DiskState &s, DiskMedia &media,
                              const uint8_t *cdb, size_t cdb_len, const char *direction,
                              uint32_t host_len, HostData &host,
                              CdbDelivery delivery = CdbDelivery::Whole);

}  // namespace zvsim
