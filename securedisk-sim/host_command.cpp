// One SCSI command from the host (see host_command.h).
#include "host_command.h"

#include <string>

#include "enumeration.h"
#include "sim_util.h"

namespace zvsim {

BridgeResult run_host_command(const DiskDir &d, DiskState &s, DiskMedia &media,
                              const uint8_t *cdb, size_t cdb_len, const char *direction,
                              uint32_t host_len, HostData &host, CdbDelivery delivery) {
    BridgeResult r = bridge_execute(s, media, cdb, cdb_len, host, delivery);
    ++s.commands;
    append_command_record(d, "seq=" + std::to_string(s.commands) + " cdb=" + to_hex(cdb, cdb_len) +
                                 " dir=" + direction + " len=" + std::to_string(host_len) + " " +
                                 r.summary);
    // A slow reset (reset_ms) leaves once the way in has held the command
    // for that long.
    if (r.leave_bus && s.reset_ms == 0) leave_bus_for_reset(d, s);
    return r;
}

}  // namespace zvsim
