// The presented area as the bridge and the controllers reach it: sector
// reads and writes through the caller's own file descriptor (so data stays
// coherent with the block layer), with the disk's bad sectors failing as a
// damaged medium would.
#pragma once

#include <cstdint>
#include <vector>

#include "disk_media.h"
#include "disk_state.h"

namespace zvsim {

class FdMedia : public DiskMedia {
public:
    FdMedia(int fd, const DiskDir &d, std::vector<uint64_t> bad_sectors)
        : fd_(fd), dir_(d), bad_(std::move(bad_sectors)) {}

    // False with errno EIO when the range holds a bad sector.
    bool read(uint64_t lba, uint32_t count, uint8_t *out) override;
    bool write(uint64_t lba, uint32_t count, const uint8_t *in) override;
    void wipe_private(DiskState &s) override;

private:
    bool touches_bad_sector(uint64_t lba, uint32_t count) const;
    template <class F>
    bool with_rw_fd(F f);

    int fd_;
    DiskDir dir_;
    std::vector<uint64_t> bad_;
};

}  // namespace zvsim
