// The NVMe kind's controller: the admin commands (Identify, Get Log Page,
// Firmware Image Download and the vendor commands) and the I/O commands
// (Read, Write) of DATASHEET.md chapter 5, executed against the disk's
// state and its one namespace. It knows nothing of ioctls; the emulation of
// the Linux NVMe requests hands it a decoded command and the host's data.
#pragma once

#include <cstdint>
#include <vector>

#include "disk_media.h"
#include "disk_state.h"

namespace zvsim {

struct NvmeCommand {
    bool admin = true;
    uint8_t opcode = 0;
    uint32_t nsid = 0;
    uint32_t cdw10 = 0, cdw11 = 0, cdw12 = 0, cdw13 = 0, cdw14 = 0, cdw15 = 0;
    uint64_t slba = 0;      // I/O commands
    uint16_t nblocks = 0;   // I/O commands, zero-based
};

// The data direction an opcode carries in its two low bits.
enum class NvmeTransfer { None, ToController, FromController, Both };
NvmeTransfer nvme_transfer(uint8_t opcode);

struct NvmeResult {
    uint16_t status = 0;        // SCT << 8 | SC with DNR; 0 on success
    uint32_t dw0 = 0;           // completion dword 0
    uint32_t transferred = 0;   // bytes handed to the host
};

// Runs one command. `data` holds the host's `len` bytes (0 when it gave no
// buffer): read for a transfer to the controller, filled for one from it.
NvmeResult nvme_execute(DiskState &s, const DiskDir &d, DiskMedia &media, const NvmeCommand &c,
                        uint8_t *data, uint32_t len);

// The 512-byte SMART / Health Information log.
std::vector<uint8_t> build_nvme_health_log(const DiskState &s);

}  // namespace zvsim
