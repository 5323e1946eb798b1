// The presented area through the caller's file descriptor (see fd_media.h).
#include "fd_media.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "enumeration.h"
#include "sim_util.h"

namespace zvsim {

namespace {
constexpr size_t kIoAlign = 4096;

// Scratch memory aligned for O_DIRECT descriptors.
class AlignedBuffer {
public:
    explicit AlignedBuffer(size_t bytes)
        : size_((bytes + kIoAlign - 1) / kIoAlign * kIoAlign),
          p_(static_cast<uint8_t *>(std::aligned_alloc(kIoAlign, size_ ? size_ : kIoAlign))) {
        if (!p_) throw SimError("out of memory", ENOMEM);
        std::memset(p_, 0, size_ ? size_ : kIoAlign);
    }
    ~AlignedBuffer() { std::free(p_); }
    AlignedBuffer(const AlignedBuffer &) = delete;
    AlignedBuffer &operator=(const AlignedBuffer &) = delete;
    uint8_t *get() const { return p_; }

private:
    size_t size_;
    uint8_t *p_;
};

bool transfer(int fd, uint8_t *buf, size_t bytes, uint64_t lba, bool write) {
    size_t done = 0;
    off_t base = static_cast<off_t>(lba * kSectorSize);
    while (done < bytes) {
        ssize_t n = write ? ::pwrite(fd, buf + done, bytes - done, base + static_cast<off_t>(done))
                          : ::pread(fd, buf + done, bytes - done, base + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

bool FdMedia::touches_bad_sector(uint64_t lba, uint32_t count) const {
    for (uint64_t bad : bad_)
        if (bad >= lba && bad - lba < count) return true;
    return false;
}

// The caller may have opened the disk read-only: a write then goes through
// a read-write descriptor reopened through /proc.
template <class F>
bool FdMedia::with_rw_fd(F f) {
    std::string self = "/proc/self/fd/" + std::to_string(fd_);
    int fd = ::open(self.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = f(fd);
    int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

bool FdMedia::read(uint64_t lba, uint32_t count, uint8_t *out) {
    if (touches_bad_sector(lba, count)) {
        errno = EIO;
        return false;
    }
    size_t bytes = size_t{count} * kSectorSize;
    AlignedBuffer buf(bytes);
    if (!transfer(fd_, buf.get(), bytes, lba, false)) {
        if (errno != EBADF) return false;
        if (!with_rw_fd([&](int fd) { return transfer(fd, buf.get(), bytes, lba, false); }))
            return false;
    }
    std::memcpy(out, buf.get(), bytes);
    return true;
}

bool FdMedia::write(uint64_t lba, uint32_t count, const uint8_t *in) {
    if (touches_bad_sector(lba, count)) {
        errno = EIO;
        return false;
    }
    size_t bytes = size_t{count} * kSectorSize;
    AlignedBuffer buf(bytes);
    std::memcpy(buf.get(), in, bytes);
    if (transfer(fd_, buf.get(), bytes, lba, true)) return true;
    if (errno != EBADF) return false;
    return with_rw_fd([&](int fd) { return transfer(fd, buf.get(), bytes, lba, true); });
}

void FdMedia::wipe_private(DiskState &s) { wipe_private_area(dir_, s); }

}  // namespace zvsim
