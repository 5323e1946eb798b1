// Bus presence of a simulated disk: arrival, departure, the absence after
// the vendor reset and power cycles (see enumeration.h).
#include "enumeration.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "backing_store.h"
#include "partition_table.h"
#include "sim_util.h"

namespace zvsim {

namespace {
constexpr unsigned kLoopMajor = 7;
constexpr size_t kMaxDevNameLen = 24;

std::string kernel_name(const std::string &dev) {
    size_t slash = dev.rfind('/');
    return dev.substr(slash + 1);
}

// A node left at `path` by an earlier presentation of ours (a loop device's
// number) may go; anything else at that name belongs to someone else.
void clear_stale_node(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISBLK(st.st_mode) && major(st.st_rdev) == kLoopMajor) {
        remove_block_node(path);
        return;
    }
    throw SimError(path + " exists and is not a node of this disk", EEXIST);
}

void remove_nodes(DiskState &s) {
    for (auto it = s.nodes.rbegin(); it != s.nodes.rend(); ++it) remove_block_node(*it);
    s.nodes.clear();
}

void make_nodes(DiskState &s) {
    dev_t devnum = 0;
    if (!sysfs_devnum(kernel_name(s.loop), &devnum))
        throw SimError("cannot read the device number of " + s.loop, EIO);
    clear_stale_node(s.dev);
    make_block_node(s.dev, devnum);
    s.nodes.push_back(s.dev);
    for (const auto &p : loop_partitions(s.loop)) {
        std::string node = partition_node(s.dev, s.kind, p.number);
        clear_stale_node(node);
        make_block_node(node, p.devnum);
        s.nodes.push_back(node);
    }
}

// Attaches the presented area and makes its nodes; on failure leaves
// nothing behind.
void present_area(const DiskDir &d, DiskState &s) {
    if (s.mode != BackingMode::Loop) return;
    std::string image = d.image(s.presented_area());
    s.loop = attach_loop(image);
    try {
        register_partitions(s.loop);
        make_nodes(s);
    } catch (...) {
        remove_nodes(s);
        detach_loop(s.loop, image);
        s.loop.clear();
        throw;
    }
}

bool backing_intact(const DiskDir &d, const DiskState &s) {
    if (s.mode != BackingMode::Loop) return true;
    if (s.loop.empty() || loop_backing_file(s.loop) != d.image(s.presented_area())) return false;
    dev_t devnum = 0;
    struct stat st;
    return sysfs_devnum(kernel_name(s.loop), &devnum) && ::lstat(s.dev.c_str(), &st) == 0 &&
           S_ISBLK(st.st_mode) && st.st_rdev == devnum;
}
}  // namespace

bool valid_dev_name(const std::string &dev, DiskKind kind) {
    if (!starts_with(dev, "/dev/")) return false;
    std::string name = dev.substr(5);
    if (name.empty() || name.size() > kMaxDevNameLen) return false;
    if (kind == DiskKind::Nvme) {
        if (!starts_with(name, "nvme")) return false;
        size_t n = name.find('n', 4);
        return n != std::string::npos && all_digits(name.substr(4, n - 4)) &&
               all_digits(name.substr(n + 1));
    }
    if (name[0] < 'a' || name[0] > 'z') return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    char last = name.back();
    return !(last >= '0' && last <= '9');   // NAME1, NAME2 ... are its partitions
}

std::string partition_node(const std::string &dev, DiskKind kind, int number) {
    return dev + (kind == DiskKind::Nvme ? "p" : "") + std::to_string(number);
}

bool names_disk_or_partition(const std::string &path, const std::string &dev, DiskKind kind,
                             bool *whole) {
    if (dev.empty() || !starts_with(path, dev)) return false;
    std::string rest = path.substr(dev.size());
    if (rest.empty()) {
        *whole = true;
        return true;
    }
    if (kind == DiskKind::Nvme) {
        if (rest[0] != 'p') return false;
        rest = rest.substr(1);
    }
    if (!all_digits(rest)) return false;
    *whole = false;
    return true;
}

// The name after `dev` that nothing in /dev holds: the last letter counts
// on (with a carry), as the kernel's sd driver hands out sda, sdb, ...
std::string next_free_name(const std::string &dev) {
    std::string name = dev;
    for (int attempt = 0; attempt < 26 * 26; ++attempt) {
        size_t i = name.size() - 1;
        while (name[i] == 'z' && name[i - 1] >= 'a' && name[i - 1] <= 'z') name[i--] = 'a';
        if (name[i] == 'z') return dev;
        ++name[i];
        struct stat st;
        if (::lstat(name.c_str(), &st) != 0 && errno == ENOENT) return name;
    }
    return dev;
}

void arrive(const DiskDir &d, DiskState &s, bool take_next_dev, bool name_given) {
    // The previous presentation's loop device outlives its detach while a
    // descriptor holds it: the kernel keeps a held disk's name until the last
    // close, so the disk comes back under the next free name.
    const bool old_held =
        s.mode == BackingMode::Loop && !s.dev.empty() && !s.present &&
        !loops_backed_by(d.image(s.presented_area())).empty();
    if (take_next_dev && !s.next_dev.empty()) {
        struct stat st;
        if (::lstat(s.next_dev.c_str(), &st) != 0 && errno == ENOENT) {
            s.dev = s.next_dev;
            name_given = true;
        }
        s.next_dev.clear();
    }
    if (old_held && !name_given) s.dev = next_free_name(s.dev);
    s.unlocked = s.password_set && s.verified;
    present_area(d, s);
    s.present = true;
    s.boot = boot_id();
    ++s.generation;
}

void depart(const DiskDir &d, DiskState &s) {
    remove_nodes(s);
    if (s.mode == BackingMode::Loop && !s.loop.empty())
        detach_loop(s.loop, d.image(s.presented_area()));
    s.loop.clear();
    s.present = false;
    s.absent_since_ms = monotonic_ms();
    ++s.generation;
}

void leave_bus_for_reset(const DiskDir &d, DiskState &s) {
    depart(d, s);
}

bool arrival_due(const DiskState &s, int64_t now_ms) {
    if (s.present) return false;
    if (now_ms < s.absent_since_ms) return true;   // the clock started over
    return now_ms - s.absent_since_ms >= s.reenum_ms;
}

bool catch_up(const DiskDir &d, DiskState &s, bool quick) {
    if (!quick && s.boot != boot_id()) {
        // The machine restarted: loops and nodes of the old boot are gone,
        // and for the disk it was a power cycle.
        s.loop.clear();
        s.nodes.clear();
        s.verified = false;
        s.present = false;
        ++s.power_cycles;
        arrive(d, s, false);
        return true;
    }
    if (arrival_due(s, monotonic_ms())) {
        arrive(d, s, true);
        return true;
    }
    if (!quick && s.present && !backing_intact(d, s)) {
        remove_nodes(s);
        if (!s.loop.empty()) detach_loop(s.loop, d.image(s.presented_area()));
        s.loop.clear();
        present_area(d, s);
        return true;
    }
    return false;
}

void power_cycle(const DiskDir &d, DiskState &s, const std::string &new_dev) {
    if (s.present) depart(d, s);
    s.verified = false;
    ++s.power_cycles;
    if (!new_dev.empty()) s.dev = new_dev;
    arrive(d, s, false, !new_dev.empty());
}

void wipe_private_area(const DiskDir &d, DiskState &s) {
    wipe_image(d.image(Area::Private), s.private_sectors * kSectorSize);
    s.verified = false;
}

}  // namespace zvsim
