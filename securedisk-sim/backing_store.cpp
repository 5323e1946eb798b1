// Image files, real loop devices and /dev nodes behind the data areas
// (see backing_store.h). Loop devices are driven with their ioctls directly,
// exactly what `losetup -P -f` does, so no helper process is left behind.
#include "backing_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include "partition_table.h"
#include "sim_util.h"

namespace zvsim {

namespace {
constexpr int kAttachAttempts = 64;

void pause_ms(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::string base_name(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::vector<std::string> loop_kernel_names() {
    std::vector<std::string> names;
    DIR *d = ::opendir("/sys/block");
    if (!d) return names;
    while (dirent *e = ::readdir(d)) {
        std::string n = e->d_name;
        if (starts_with(n, "loop") && all_digits(n.substr(4))) names.push_back(n);
    }
    ::closedir(d);
    return names;
}

void zero_fill(int fd, uint64_t bytes) {
    static const uint8_t zeros[1 << 16] = {};
    uint64_t off = 0;
    while (off < bytes) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof zeros, bytes - off));
        ssize_t w = ::pwrite(fd, zeros, n, static_cast<off_t>(off));
        if (w < 0) {
            if (errno == EINTR) continue;
            throw_errno("cannot clear image");
        }
        off += static_cast<uint64_t>(w);
    }
}
}  // namespace

bool running_as_root() {
    return ::geteuid() == 0 && ::access("/dev/loop-control", R_OK | W_OK) == 0;
}

void create_sparse_image(const std::string &path, uint64_t bytes) {
    ::unlink(path.c_str());
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) throw_errno("cannot create " + path);
    if (::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0) throw_errno("cannot size " + path);
}

std::string attach_loop(const std::string &image) {
    Fd img(::open(image.c_str(), O_RDWR | O_CLOEXEC));
    if (img.get() < 0) throw_errno("cannot open " + image);
    Fd ctl(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (ctl.get() < 0) throw_errno("cannot open /dev/loop-control");
    for (int attempt = 0; attempt < kAttachAttempts; ++attempt) {
        int n = ::ioctl(ctl.get(), LOOP_CTL_GET_FREE);
        if (n < 0) throw_errno("no free loop device");
        std::string path = "/dev/loop" + std::to_string(n);
        Fd loop(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (loop.get() < 0) {
            if (errno == ENOENT) {   // devtmpfs has not made the node yet
                pause_ms(5);
                continue;
            }
            throw_errno("cannot open " + path);
        }
        loop_config cfg;
        std::memset(&cfg, 0, sizeof cfg);
        cfg.fd = static_cast<__u32>(img.get());
        cfg.block_size = 512;
        cfg.info.lo_flags = LO_FLAGS_PARTSCAN;
        std::strncpy(reinterpret_cast<char *>(cfg.info.lo_file_name), image.c_str(),
                     LO_NAME_SIZE - 1);
        if (::ioctl(loop.get(), LOOP_CONFIGURE, &cfg) == 0) return path;
        if (errno != EBUSY) throw_errno("cannot attach " + image + " to " + path);
        pause_ms(1);   // another process took it first
    }
    throw SimError("no free loop device for " + image, EBUSY);
}

std::string loop_backing_file(const std::string &loopdev) {
    std::string text;
    if (!read_file("/sys/block/" + base_name(loopdev) + "/loop/backing_file", &text)) return "";
    return trim(text);
}

void detach_loop(const std::string &loopdev, const std::string &image) {
    if (loopdev.empty() || loop_backing_file(loopdev) != image) return;
    Fd loop(::open(loopdev.c_str(), O_RDONLY | O_CLOEXEC));
    if (loop.get() < 0) {
        if (errno == ENOENT || errno == ENXIO) return;
        throw_errno("cannot open " + loopdev);
    }
    // Drop cached blocks first so nothing of this presentation lingers.
    ::ioctl(loop.get(), BLKFLSBUF, 0);
    if (::ioctl(loop.get(), LOOP_CLR_FD, 0) != 0 && errno != ENXIO)
        throw_errno("cannot detach " + loopdev);
}

std::vector<std::string> loops_backed_by(const std::string &image) {
    std::vector<std::string> loops;
    for (const auto &name : loop_kernel_names()) {
        std::string dev = "/dev/" + name;
        if (loop_backing_file(dev) == image) loops.push_back(dev);
    }
    return loops;
}

bool sysfs_devnum(const std::string &kernel_name, dev_t *devnum) {
    std::string text;
    if (!read_file("/sys/block/" + kernel_name + "/dev", &text)) return false;
    unsigned maj = 0, min = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &maj, &min) != 2) return false;
    *devnum = makedev(maj, min);
    return true;
}

std::vector<BlockPartition> loop_partitions(const std::string &loopdev) {
    std::vector<BlockPartition> parts;
    std::string name = base_name(loopdev);
    std::string dir = "/sys/block/" + name;
    DIR *d = ::opendir(dir.c_str());
    if (!d) return parts;
    std::string prefix = name + "p";
    while (dirent *e = ::readdir(d)) {
        std::string entry = e->d_name;
        if (!starts_with(entry, prefix) || !all_digits(entry.substr(prefix.size()))) continue;
        std::string text;
        unsigned maj = 0, min = 0;
        if (!read_file(dir + "/" + entry + "/dev", &text) ||
            std::sscanf(text.c_str(), "%u:%u", &maj, &min) != 2)
            continue;
        parts.push_back({std::atoi(entry.c_str() + prefix.size()), makedev(maj, min)});
    }
    ::closedir(d);
    std::sort(parts.begin(), parts.end(),
              [](const BlockPartition &a, const BlockPartition &b) { return a.number < b.number; });
    return parts;
}

void make_block_node(const std::string &path, dev_t devnum) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) throw SimError(path + " already exists", EEXIST);
    if (::mknod(path.c_str(), S_IFBLK | 0660, devnum) != 0) throw_errno("cannot make " + path);
}

void remove_block_node(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (!S_ISBLK(st.st_mode)) return;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw_errno("cannot remove " + path);
}

void flush_block_device(const std::string &path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return;
    ::fsync(fd.get());
    ::ioctl(fd.get(), BLKFLSBUF, 0);
}

void wipe_image(const std::string &path, uint64_t bytes) {
    std::vector<std::string> loops = loops_backed_by(path);
    if (loops.empty()) {
        // Emptied in place: a descriptor held on the image (the ring front
        // end's, or a program's in image mode) reads the zeros too.
        Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0) {
            create_sparse_image(path, bytes);
            return;
        }
        if (::ftruncate(fd.get(), 0) != 0 || ::ftruncate(fd.get(), static_cast<off_t>(bytes)) != 0)
            throw_errno("cannot empty " + path);
        return;
    }
    auto flush_all = [&loops]() {
        for (const auto &loop : loops) {
            flush_block_device(loop);
            for (const auto &p : loop_partitions(loop))
                flush_block_device(loop + "p" + std::to_string(p.number));
        }
    };
    flush_all();
    {
        Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
        if (fd.get() < 0) throw_errno("cannot open " + path);
        if (::fallocate(fd.get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0,
                        static_cast<off_t>(bytes)) != 0)
            zero_fill(fd.get(), bytes);
        ::fsync(fd.get());
    }
    flush_all();
    // The partition table went with the data: the kernel forgets the
    // partitions too (those in use stay until the next presentation).
    for (const auto &loop : loops) drop_partitions(loop);
}

}  // namespace zvsim
