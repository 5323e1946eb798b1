// The TCMU front end (see tcmu_server.h).
//
// The ring's layout is the kernel's (linux/target_core_user.h): a mailbox
// with the command ring's offset, size, head (the kernel's) and tail (ours);
// each entry holds the command block's offset and iovecs whose bases are
// offsets into the same mapping (the data area). We answer in ring order,
// move the tail and write to the uio descriptor to wake the kernel.
//
// Configfs changes (adding or removing the logical unit) wait for the
// commands the kernel has in flight, so they run on a second thread while
// this one keeps answering the ring.
#include "tcmu_server.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "controller_datasheet.h"
#include "disk_state.h"
#include "enumeration.h"
#include "fd_media.h"
#include "host_command.h"
#include "sim_util.h"
#include "tcmu_ring.h"

namespace zvsim {

namespace {

constexpr const char *kSubtype = "zvsim";
constexpr int kPollMs = 100;
constexpr int kArrivalPollMs = 20;
constexpr size_t kMaxCdbLen = 32;
constexpr unsigned kHwMaxSectors = scsi::kMaxTransferSectors;   // 1 MiB, as the bridge

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop.store(true); }

void install_signals() {
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no SA_RESTART: poll() returns at once
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

void write_text(const std::string &path, const std::string &text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw_errno("cannot open " + path);
    ssize_t n = ::write(fd, text.data(), text.size());
    int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        errno = n < 0 ? err : EIO;
        throw_errno("cannot write '" + text + "' to " + path);
    }
}

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void make_dir(const std::string &path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) throw_errno("cannot make " + path);
}

// 15 hex digits of an FNV-1a hash: the rest of an NAA 5 name.
std::string naa_name(const std::string &seed) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : seed) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "naa.5%015llx",
                  static_cast<unsigned long long>(h & 0xFFFFFFFFFFFFFFFull));
    return buf;
}

// The objects this disk owns under the target layer's configfs.
class Fabric {
public:
    Fabric(const std::string &cfg, const std::string &name)
        : cfg_(cfg), name_(name),
          hba_(cfg + "/core/user_1"),
          dev_(hba_ + "/" + name),
          naa_(cfg + "/loopback/" + naa_name("target/" + name)),
          tpg_(naa_ + "/tpgt_1"),
          lun_(tpg_ + "/lun/lun_0"),
          link_(lun_ + "/" + kSubtype) {}

    void create_backstore(uint64_t bytes) {
        made_hba_ = !exists(hba_);
        make_dir(hba_);
        if (exists(dev_)) throw SimError(dev_ + " exists: another disk of that name is served", EEXIST);
        make_dir(dev_);
        made_dev_ = true;
        write_text(dev_ + "/control", std::string("dev_config=") + kSubtype + "/" + name_);
        write_text(dev_ + "/control", "dev_size=" + std::to_string(bytes));
        write_text(dev_ + "/control", "hw_max_sectors=" + std::to_string(kHwMaxSectors));
        write_text(dev_ + "/enable", "1");
    }

    void create_port() {
        make_dir(cfg_ + "/loopback");
        make_dir(naa_);
        made_naa_ = true;
        make_dir(tpg_);
        write_text(tpg_ + "/nexus", naa_name("initiator/" + name_));
    }

    // The kernel probes the disk before this returns.
    void add_lun() {
        make_dir(lun_);
        if (::symlink(dev_.c_str(), link_.c_str()) != 0) throw_errno("cannot link " + link_);
    }

    // The kernel removes the disk before this returns.
    void remove_lun() {
        if (::unlink(link_.c_str()) != 0 && errno != ENOENT)
            std::fprintf(stderr, "securedisk-sim: cannot unlink %s: %s\n", link_.c_str(),
                         std::strerror(errno));
        if (::rmdir(lun_.c_str()) != 0 && errno != ENOENT)
            std::fprintf(stderr, "securedisk-sim: cannot remove %s: %s\n", lun_.c_str(),
                         std::strerror(errno));
    }

    // After the ring is closed: the port and the backstore go.
    void remove_all() {
        remove_lun();
        if (made_naa_) {
            ::rmdir(tpg_.c_str());
            ::rmdir(naa_.c_str());
        }
        if (made_dev_ && ::rmdir(dev_.c_str()) != 0)
            std::fprintf(stderr, "securedisk-sim: cannot remove %s: %s\n", dev_.c_str(),
                         std::strerror(errno));
        if (made_hba_) ::rmdir(hba_.c_str());   // fails while others use it
    }

    // /dev/uioN of the backstore, found by the name the kernel gives it.
    std::string find_uio() const {
        const std::string suffix = "/" + name_ + "/" + kSubtype + "/" + name_;
        DIR *dir = ::opendir("/sys/class/uio");
        if (!dir) throw_errno("cannot list /sys/class/uio");
        std::string found;
        while (dirent *e = ::readdir(dir)) {
            if (e->d_name[0] == '.') continue;
            std::string name;
            if (!read_file(std::string("/sys/class/uio/") + e->d_name + "/name", &name)) continue;
            name = trim(name);
            if (starts_with(name, "tcm-user/") && name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                found = e->d_name;
                break;
            }
        }
        ::closedir(dir);
        if (found.empty()) throw SimError("no uio device for backstore " + name_, ENOENT);
        return found;
    }

private:
    std::string cfg_, name_, hba_, dev_, naa_, tpg_, lun_, link_;
    bool made_hba_ = false, made_dev_ = false, made_naa_ = false;
};

// The length the kernel's target layer gives a command block: by the
// operation code's group, as the SCSI layer counts it.
size_t group_length(const uint8_t *cdb) {
    switch (cdb[0] >> 5) {
    case 0: return scsi::kCdb6;
    case 1:
    case 2: return scsi::kCdb10;
    case 3: return std::min<size_t>(size_t{cdb[7]} + 8, kMaxCdbLen);   // variable length
    case 4: return scsi::kCdb16;
    case 5: return scsi::kCdb12;
    default: return scsi::kCdb10;   // vendor groups 6 and 7
    }
}

// The ring carries no direction: the command block says which way its data
// go, as the initiator declared it.
HostData::Dir data_direction(const uint8_t *cdb, uint32_t len) {
    if (len == 0) return HostData::Dir::None;
    switch (cdb[0]) {
    case scsi::kWrite10:
    case scsi::kWrite16:
        return HostData::Dir::ToDevice;
    case scsi::kAtaPassThrough12:
    case scsi::kAtaPassThrough16:
        return (cdb[2] & scsi::kPtTDirBit) ? HostData::Dir::FromDevice : HostData::Dir::ToDevice;
    default:
        return HostData::Dir::FromDevice;
    }
}

const char *direction_name(HostData::Dir d) {
    switch (d) {
    case HostData::Dir::ToDevice: return "out";
    case HostData::Dir::FromDevice: return "in";
    default: return "none";
    }
}

class Server {
public:
    Server(const ServeOptions &opts, const DiskDir &d, uint64_t generation)
        : opts_(opts), d_(d), known_generation_(generation) {}
    ~Server() {
        if (map_ && map_ != MAP_FAILED) ::munmap(map_, map_len_);
        if (uio_ >= 0) ::close(uio_);
        if (media_fd_ >= 0) ::close(media_fd_);
    }

    int run(const std::string &name, uint64_t bytes) {
        Fabric fabric(opts_.configfs, name);
        try {
            fabric.create_backstore(bytes);
            open_ring(fabric.find_uio());
            fabric.create_port();
        } catch (...) {
            fabric.remove_all();
            throw;
        }
        install_signals();
        fabric_job([this, &fabric] { add_and_announce(fabric); });
        while (!g_stop.load()) {
            serve_once();
            if (reset_pending_ && !job_running()) {
                reset_pending_ = false;
                fabric_job([this, &fabric] { reenumerate(fabric); });
            } else if (!job_running()) {
                follow_power_cycle(fabric);
            }
        }
        // Off the fabric first (the ring still answers what is in flight).
        while (job_running()) serve_once();
        fabric_job([&fabric] { fabric.remove_lun(); });
        while (job_running()) serve_once();
        ::munmap(map_, map_len_);
        map_ = nullptr;
        ::close(uio_);
        uio_ = -1;
        fabric.remove_all();
        return failed_.load() ? 1 : 0;
    }

private:
    // Puts the unit on the fabric (the kernel probes it before this returns)
    // and tells whoever waits which presentation is now on it.
    void add_and_announce(Fabric &fabric) {
        fabric.add_lun();
        if (opts_.ready_file.empty()) return;
        DiskState s;
        if (try_load_state(d_, &s))
            write_file_atomic(opts_.ready_file, "generation=" + std::to_string(s.generation) + "\n");
    }

    void open_ring(const std::string &uio) {
        std::string size_text;
        if (!read_file("/sys/class/uio/" + uio + "/maps/map0/size", &size_text))
            throw SimError("cannot read the ring size of " + uio, EIO);
        map_len_ = std::strtoull(trim(size_text).c_str(), nullptr, 0);
        uio_ = ::open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
        if (uio_ < 0) throw_errno("cannot open /dev/" + uio);
        map_ = static_cast<uint8_t *>(
            ::mmap(nullptr, map_len_, PROT_READ | PROT_WRITE, MAP_SHARED, uio_, 0));
        if (map_ == MAP_FAILED) throw_errno("cannot map the ring of /dev/" + uio);
        zv_tcmu_mailbox_info mb{};
        if (!zv_tcmu_mailbox(map_, &mb))
            throw SimError("unknown TCMU mailbox version " + std::to_string(mb.version), EPROTO);
        read_len_ = mb.read_len != 0;
        ring_size_ = mb.ring_size;
    }

    // Runs one configfs change on its own thread.
    template <class F>
    void fabric_job(F f) {
        if (job_.joinable()) job_.join();
        job_done_.store(false);
        job_ = std::thread([this, f] {
            try {
                f();
            } catch (const std::exception &e) {
                std::fprintf(stderr, "securedisk-sim: %s\n", e.what());
                failed_.store(true);
                g_stop.store(true);
            }
            job_done_.store(true);
        });
    }

    bool job_running() {
        if (!job_.joinable()) return false;
        if (!job_done_.load()) return true;
        job_.join();
        return false;
    }

    // Waits for the kernel (at most one poll period) and answers the ring.
    void serve_once() {
        pollfd p{uio_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) > 0 && (p.revents & POLLIN)) {
            uint32_t events = 0;
            if (::read(uio_, &events, sizeof events) < 0 && errno != EINTR && errno != EAGAIN)
                throw_errno("cannot read the uio device");
        }
        answer_ring();
    }

    void answer_ring() {
        const uint32_t head = zv_tcmu_head(map_);
        uint32_t tail = zv_tcmu_tail(map_);
        if (head == tail) return;
        while (tail != head) {
            zv_tcmu_entry e{};
            zv_tcmu_read_entry(map_, tail, &e);
            if (e.kind == ZV_TCMU_CMD) answer(tail, e);
            else if (e.kind == ZV_TCMU_OTHER) zv_tcmu_mark_unknown(map_, tail);
            tail = (tail + e.length) % ring_size_;
        }
        zv_tcmu_set_tail(map_, tail);
        uint32_t one = 1;
        if (::write(uio_, &one, sizeof one) < 0 && errno != EINTR)
            throw_errno("cannot wake the kernel through the uio device");
    }

    // The presented area's image, opened anew for each presentation.
    int media_for(const DiskState &s) {
        if (media_fd_ >= 0 && media_generation_ == s.generation) return media_fd_;
        if (media_fd_ >= 0) ::close(media_fd_);
        media_fd_ = ::open(d_.image(s.presented_area()).c_str(), O_RDWR | O_CLOEXEC);
        if (media_fd_ < 0) throw_errno("cannot open " + d_.image(s.presented_area()));
        media_generation_ = s.generation;
        return media_fd_;
    }

    void answer(uint32_t pos, const zv_tcmu_entry &e) {
        // The request and the response share the entry: read it all first.
        uint8_t cdb[kMaxCdbLen] = {};
        const uint8_t *raw_cdb = map_ + e.cdb_off;
        const size_t cdb_len = group_length(raw_cdb);
        std::memcpy(cdb, raw_cdb, cdb_len);
        std::vector<iovec> iov(e.iov_cnt);
        std::memcpy(iov.data(), map_ + e.iov_off, e.iov_cnt * sizeof(iovec));
        uint64_t total = 0;
        bool fits = true;
        for (const iovec &v : iov) {
            uint64_t off = reinterpret_cast<uintptr_t>(v.iov_base);
            if (off > map_len_ || v.iov_len > map_len_ - off) fits = false;
            total += v.iov_len;
        }
        if (total > UINT32_MAX) fits = false;

        HostData host;
        host.len = static_cast<uint32_t>(total);
        host.dir = data_direction(cdb, host.len);
        std::vector<uint8_t> buf(fits ? total : 0);
        host.buf = buf.data();
        auto each = [&](auto f) {
            size_t off = 0;
            for (const iovec &v : iov) {
                f(map_ + reinterpret_cast<uintptr_t>(v.iov_base), off, v.iov_len);
                off += v.iov_len;
            }
        };
        if (fits && host.dir == HostData::Dir::ToDevice)
            each([&](uint8_t *p, size_t off, size_t n) { std::memcpy(buf.data() + off, p, n); });

        BridgeResult r;
        try {
            DirLock lock(d_);
            DiskState s = load_state(d_);
            if (!fits) {
                r = bridge_refusal(scsi::kKeyIllegalRequest, scsi::kAscInvalidFieldInCdb);
            } else if (!s.present) {
                // Off the bus: the logical unit is on its way out of the fabric.
                r = bridge_refusal(scsi::kKeyIllegalRequest, scsi::kAscLunNotSupported);
            } else {
                FdMedia media(media_for(s), d_, s.bad_sectors);
                r = run_host_command(d_, s, media, cdb, cdb_len, direction_name(host.dir),
                                     host.len, host, CdbDelivery::GroupLength);
                // The ring answers at once; a slow reset is the preload's.
                if (r.leave_bus && s.present) leave_bus_for_reset(d_, s);
                save_state(d_, s);
                known_generation_.store(s.generation);
                if (r.leave_bus) reset_pending_ = true;
            }
        } catch (const std::exception &ex) {
            std::fprintf(stderr, "securedisk-sim: %s\n", ex.what());
            r = bridge_refusal(scsi::kKeyMediumError, scsi::kAscUnrecoveredReadError);
        }

        if (host.dir == HostData::Dir::FromDevice && r.transferred)
            each([&](uint8_t *p, size_t off, size_t n) {
                if (off >= r.transferred) return;
                std::memcpy(p, buf.data() + off, std::min<size_t>(n, r.transferred - off));
            });
        // With the read length set the kernel keeps the data of a command
        // that ends in CHECK CONDITION (an ATA result with CK_COND).
        zv_tcmu_answer(map_, pos, r.status, r.sense.data(), r.sense.size(),
                       read_len_ && host.dir == HostData::Dir::FromDevice, r.transferred);
    }

    // The vendor reset was answered: the unit leaves the fabric, and once the
    // re-enumeration time (read while waiting, so `set reenum_ms` counts) has
    // passed, the disk arrives and the kernel probes it anew.
    void reenumerate(Fabric &fabric) {
        fabric.remove_lun();
        for (;;) {
            if (g_stop.load()) return;
            {
                DirLock lock(d_);
                DiskState s = load_state(d_);
                if (s.present || catch_up(d_, s, true)) {
                    save_state(d_, s);
                    known_generation_.store(s.generation);
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kArrivalPollMs));
        }
        add_and_announce(fabric);
    }

    // A power cycle made with the tool (`replug`) while served: the kernel
    // sees the disk leave and arrive again.
    void follow_power_cycle(Fabric &fabric) {
        DiskState s;
        if (!try_load_state(d_, &s) || !s.present || s.generation == known_generation_.load())
            return;
        known_generation_.store(s.generation);
        fabric_job([this, &fabric] {
            fabric.remove_lun();
            add_and_announce(fabric);
        });
    }

    ServeOptions opts_;
    DiskDir d_;
    int uio_ = -1;
    uint8_t *map_ = nullptr;
    size_t map_len_ = 0;
    bool read_len_ = false;
    uint32_t ring_size_ = 1;
    int media_fd_ = -1;
    uint64_t media_generation_ = 0;
    bool reset_pending_ = false;
    std::atomic<uint64_t> known_generation_{0};
    std::thread job_;
    std::atomic<bool> job_done_{true};
    std::atomic<bool> failed_{false};
};

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
}  // namespace

int serve_disk(const ServeOptions &opts) {
    char real[PATH_MAX];
    if (!::realpath(opts.dir.c_str(), real)) throw_errno("cannot find " + opts.dir);
    DiskDir d(real);
    uint64_t bytes = 0;
    std::string name = opts.name;
    uint64_t generation = 0;
    {
        DirLock lock(d);
        DiskState s = load_state(d);
        if (s.kind != DiskKind::Secure) throw SimError("only the secure disk is served on a ring", EINVAL);
        if (s.mode != BackingMode::Image)
            throw SimError("a served disk is made with --backing image (the kernel makes its nodes)", EINVAL);
        // Plugged in: a new boot is a power cycle; a pending return happens now.
        catch_up(d, s, false);
        if (!s.present) arrive(d, s, false);
        save_state(d, s);
        bytes = std::max(s.public_sectors, s.private_sectors) * kSectorSize;
        if (name.empty()) name = "zv" + lower(s.serial);
        generation = s.generation;
    }
    Server server(opts, d, generation);
    return server.run(name, bytes);
}

}  // namespace zvsim
