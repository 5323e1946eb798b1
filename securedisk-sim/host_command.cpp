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
    if (r.leave_bus) leave_bus_for_reset(d, s);
    return r;
}

}  // namespace zvsim
