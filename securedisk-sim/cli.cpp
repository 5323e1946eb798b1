// The securedisk-sim tool: makes a simulated secure disk in a state
// directory, shows and changes its state, plugs it out and in, lists it the
// way lsblk lists disks, prints its SMART table and command record, and
// removes it with everything it made (loop devices, nodes, the directory).
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "backing_store.h"
#include "controller_datasheet.h"
#include "disk_state.h"
#include "byte_order.h"
#include "enumeration.h"
#include "nvme_controller.h"
#include "sim_util.h"
#include "smart_data.h"
#include "tcmu_server.h"

namespace zvsim {
namespace {

constexpr int kExitUsage = 2;
constexpr const char *kRealLsblk = "/usr/bin/lsblk";
constexpr int kDetachWaitMs = 3000;
constexpr size_t kMaxSerialLen = ata::id::kSerialLen;

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

const char kHelp[] =
    "usage: securedisk-sim COMMAND [ARGS]\n"
    "\n"
    "A simulated ZV Secure Disk. Programs run with\n"
    "  LD_PRELOAD=<build>/lib/libsecuredisk-sim.so SECUREDISK_SIM=DIR[:DIR...]\n"
    "see each DIR's disk at its /dev name and talk to it with SG_IO.\n"
    "\n"
    "commands:\n"
    "  create DIR [--kind secure|nvme] [--dev /dev/NAME] [--serial S] [--tries N]\n"
    "         [--public-size SIZE] [--private-size SIZE] [--reenum-ms MS]\n"
    "         [--next-dev /dev/NAME2] [--backing loop|image] [--nsid N]\n"
    "      make a disk (SIZE: bytes or K/M/G; defaults: the secure disk at a free\n"
    "      /dev/sdqXXX (NVMe: /dev/nvmeNNNn1), a random serial, 5 tries, 16M\n"
    "      public, 512M private, 1000 ms, namespace id 1)\n"
    "  show DIR                 state as key=value lines\n"
    "  set DIR KEY=VALUE...     next_dev, reenum_ms, tries_left, tries_max,\n"
    "                           password (empty: none), prompt, temperature,\n"
    "                           power_on_hours, bad_sectors (LBA,LBA...),\n"
    "                           smart_supported (0|1), lpa (NVMe),\n"
    "                           reset_ms (the vendor reset's answer time),\n"
    "                           reset_refused (0|1)\n"
    "  replug DIR [--dev /dev/NEW]   power cycle (locked again)\n"
    "  smart DIR                SMART attributes as id=raw lines (decimal; NVMe:\n"
    "                           the health log's counters as name=value lines)\n"
    "  log DIR                  the command record\n"
    "  lsblk [DIR...] [LSBLK OPTIONS]   lsblk plus the simulated disks\n"
    "  remove DIR               detach, remove its nodes, delete DIR\n"
    "  serve DIR [--name NAME] [--ready FILE]\n"
    "      (root, in a kernel with target_core_user and tcm_loop) put a disk made\n"
    "      with --backing image behind the kernel's SCSI stack until SIGTERM\n"
    "  help\n";

// ------------------------------------------------------------ helpers
std::string canonical_dir(const std::string &dir) {
    char buf[PATH_MAX];
    if (!::realpath(dir.c_str(), buf)) throw_errno(dir);
    return buf;
}

bool path_exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool is_disk_dir(const std::string &dir) {
    DiskState s;
    return try_load_state(DiskDir(dir), &s);
}

std::string random_letters(size_t n, const char *alphabet) {
    size_t len = std::strlen(alphabet);
    std::string out;
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    unsigned char buf[64] = {};
    if (fd >= 0) {
        if (::read(fd, buf, sizeof buf) < 0) std::memset(buf, 0, sizeof buf);
        ::close(fd);
    }
    unsigned seed = static_cast<unsigned>(::getpid()) ^ static_cast<unsigned>(monotonic_ms());
    for (size_t i = 0; i < n; ++i) {
        unsigned v = buf[i % sizeof buf] ^ (seed >> (i % 16));
        out.push_back(alphabet[v % len]);
    }
    return out;
}

// Names the disks of SECUREDISK_SIM hold or will take.
std::set<std::string> names_in_use() {
    std::set<std::string> names;
    for (const auto &dir : sim_dirs_from_env()) {
        DiskState s;
        if (!try_load_state(DiskDir(dir), &s)) continue;
        names.insert(s.dev);
        if (!s.next_dev.empty()) names.insert(s.next_dev);
    }
    return names;
}

void check_free_name(const std::string &dev, const char *what, DiskKind kind) {
    if (!valid_dev_name(dev, kind))
        throw UsageError(std::string(what) + " " + dev +
                         (kind == DiskKind::Nvme
                              ? " is not an NVMe namespace name /dev/nvme<N>n<M>"
                              : " is not a whole-disk name /dev/[a-z][a-z0-9]* (not ending in a digit)"));
    if (path_exists(dev)) throw SimError(dev + " already exists and is not this disk's", EEXIST);
    if (names_in_use().count(dev)) throw SimError(dev + " is taken by another simulated disk", EEXIST);
}

std::string pick_dev_name(DiskKind kind) {
    for (int i = 0; i < 100; ++i) {
        std::string dev = kind == DiskKind::Nvme
                              ? "/dev/nvme" + random_letters(3, "0123456789") + "n1"
                              : "/dev/sdq" + random_letters(3, "abcdefghijklmnopqrstuvwxyz");
        if (!path_exists(dev) && !names_in_use().count(dev)) return dev;
    }
    throw SimError("no free /dev name found", EEXIST);
}

bool valid_serial(const std::string &s) {
    if (s.empty() || s.size() > kMaxSerialLen) return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.'))
            return false;
    return true;
}

std::string prompt_text(const DiskState &s) {
    std::string out;
    for (uint8_t c : s.prompt) {
        if (c == 0) break;
        if (c == '\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
        else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out;
}

// Runs f on the disk's state under its lock, with pending events applied,
// and saves the result.
template <class F>
void with_disk(const std::string &dir, F f) {
    DiskDir d(canonical_dir(dir));
    DirLock lock(d);
    DiskState s = load_state(d);
    catch_up(d, s);
    f(d, s);
    save_state(d, s);
}

long long int_option(const std::string &name, const std::string &value, long long min,
                     long long max) {
    long long v = 0;
    if (!parse_int(value, min, max, &v))
        throw UsageError(name + " must be a number from " + std::to_string(min) + " to " +
                         std::to_string(max));
    return v;
}

uint64_t size_option(const std::string &name, const std::string &value) {
    uint64_t bytes = 0;
    if (!parse_size(value, &bytes)) throw UsageError(name + ": bad size " + value);
    if (bytes % kSectorSize) throw UsageError(name + " must be a multiple of 512 bytes");
    return bytes;
}

void check_area_sizes(uint64_t public_bytes, uint64_t private_bytes) {
    if (public_bytes < kMinAreaBytes) throw UsageError("the public area must be at least 1M");
    if (public_bytes / kSectorSize > kPublicMaxSectors)
        throw UsageError("the public area must not exceed 0x80000 sectors (256M)");
    if (private_bytes / kSectorSize <= kPublicMaxSectors)
        throw UsageError("the private area must exceed 0x80000 sectors (256M)");
    if (private_bytes > kMaxPrivateBytes) throw UsageError("the private area must not exceed 2T");
}

// ------------------------------------------------------------ create
int cmd_create(const std::vector<std::string> &args) {
    if (args.empty() || starts_with(args[0], "-")) throw UsageError("create needs a DIR");
    const std::string dir_arg = args[0];
    std::string dev, next_dev, serial;
    int tries = ata::kDefaultTries;
    uint64_t public_bytes = kDefaultPublicBytes, private_bytes = kDefaultPrivateBytes;
    int reenum = kDefaultReenumMs;
    std::string backing;
    DiskKind kind = DiskKind::Secure;
    uint32_t nsid = nvme::kDefaultNsid;
    bool nsid_given = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &opt = args[i];
        if (i + 1 >= args.size()) throw UsageError(opt + " needs a value");
        const std::string &val = args[++i];
        if (opt == "--dev") dev = val;
        else if (opt == "--serial") serial = val;
        else if (opt == "--tries") tries = static_cast<int>(int_option(opt, val, ata::kMinTries, ata::kMaxTries));
        else if (opt == "--public-size") public_bytes = size_option(opt, val);
        else if (opt == "--private-size") private_bytes = size_option(opt, val);
        else if (opt == "--reenum-ms") reenum = static_cast<int>(int_option(opt, val, 0, kMaxReenumMs));
        else if (opt == "--next-dev") next_dev = val;
        else if (opt == "--backing") backing = val;
        else if (opt == "--kind") {
            if (val == "secure") kind = DiskKind::Secure;
            else if (val == "nvme") kind = DiskKind::Nvme;
            else throw UsageError("--kind is secure or nvme");
        } else if (opt == "--nsid") {
            nsid = static_cast<uint32_t>(int_option(opt, val, 1, nvme::kMaxNsid));
            nsid_given = true;
        } else throw UsageError("unknown option " + opt);
    }
    if (nsid_given && kind != DiskKind::Nvme) throw UsageError("--nsid needs --kind nvme");
    check_area_sizes(public_bytes, private_bytes);
    if (serial.empty()) serial = "ZV" + random_letters(12, "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ");
    if (!valid_serial(serial))
        throw UsageError("the serial must be 1 to 20 characters of A-Z a-z 0-9 - _ .");
    if (dev.empty()) dev = pick_dev_name(kind);
    else check_free_name(dev, "--dev", kind);
    if (!next_dev.empty()) {
        check_free_name(next_dev, "--next-dev", kind);
        if (next_dev == dev) throw UsageError("--next-dev must differ from --dev");
    }
    BackingMode mode = running_as_root() ? BackingMode::Loop : BackingMode::Image;
    if (backing == "loop") {
        if (!running_as_root()) throw SimError("loop backing needs root and /dev/loop-control", EPERM);
        mode = BackingMode::Loop;
    } else if (backing == "image") {
        mode = BackingMode::Image;
    } else if (!backing.empty()) {
        throw UsageError("--backing is loop or image");
    }

    bool made_dir = false;
    struct stat st;
    if (::stat(dir_arg.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw SimError(dir_arg + " is not a directory", ENOTDIR);
        if (path_exists(dir_arg + "/state")) throw SimError(dir_arg + " already holds a disk", EEXIST);
    } else {
        if (::mkdir(dir_arg.c_str(), 0755) != 0) throw_errno("cannot make " + dir_arg);
        made_dir = true;
    }
    DiskDir d(canonical_dir(dir_arg));
    try {
        DirLock lock(d);
        DiskState s;
        s.kind = kind;
        s.nsid = nsid;
        s.dev = dev;
        s.next_dev = next_dev;
        s.serial = serial;
        s.mode = mode;
        s.public_sectors = public_bytes / kSectorSize;
        s.private_sectors = private_bytes / kSectorSize;
        s.tries_max = tries;
        s.tries_left = tries;
        s.reenum_ms = reenum;
        create_sparse_image(d.image(Area::Public), public_bytes);
        create_sparse_image(d.image(Area::Private), private_bytes);
        arrive(d, s, false);
        try {
            save_state(d, s);
        } catch (...) {
            depart(d, s);
            throw;
        }
        std::printf("%s\n", s.dev.c_str());
    } catch (...) {
        for (const char *f : {"/state", "/state.new", "/lock", "/commands.log", "/public.img",
                              "/private.img", "/firmware.img", "/vendor.bin"})
            ::unlink((d.dir + f).c_str());
        if (made_dir) ::rmdir(d.dir.c_str());
        throw;
    }
    return 0;
}

std::string bad_sector_list(const DiskState &s) {
    std::string out;
    for (uint64_t lba : s.bad_sectors) out += (out.empty() ? "" : ",") + std::to_string(lba);
    return out;
}

// ------------------------------------------------------------ show
int cmd_show(const std::vector<std::string> &args) {
    if (args.size() != 1) throw UsageError("show needs exactly one DIR");
    with_disk(args[0], [](const DiskDir &d, DiskState &s) {
        std::string backing = "none";
        if (s.present)
            backing = s.mode == BackingMode::Loop ? s.loop : d.image(s.presented_area());
        std::map<std::string, std::string> kv = {
            {"dir", d.dir},
            {"dev", s.dev},
            {"next_dev", s.next_dev},
            {"serial", s.serial},
            {"password_set", std::to_string(s.password_set)},
            {"tries_left", std::to_string(s.tries_left)},
            {"tries_max", std::to_string(s.tries_max)},
            {"locked", std::to_string(s.locked())},
            {"unlocked", std::to_string(s.unlocked)},
            {"verified", std::to_string(s.verified)},
            {"present", std::to_string(s.present)},
            {"area", s.presented_area() == Area::Private ? "private" : "public"},
            {"prompt", prompt_text(s)},
            {"public_sectors", std::to_string(s.public_sectors)},
            {"private_sectors", std::to_string(s.private_sectors)},
            {"presented_sectors", std::to_string(s.presented_sectors())},
            {"backing", backing},
            {"backing_mode", s.mode == BackingMode::Loop ? "loop" : "image"},
            {"reenum_ms", std::to_string(s.reenum_ms)},
            {"reset_ms", std::to_string(s.reset_ms)},
            {"reset_refused", std::to_string(s.reset_refused)},
            {"generation", std::to_string(s.generation)},
            {"commands", std::to_string(s.commands)},
            {"smart_enabled", std::to_string(s.smart_enabled)},
            {"smart_supported", std::to_string(s.smart_supported)},
            {"kind", s.kind == DiskKind::Nvme ? "nvme" : "secure"},
            {"nsid", std::to_string(s.nsid)},
            {"lpa", std::to_string(s.lpa)},
            {"bad_sectors", bad_sector_list(s)},
        };
        for (const auto &e : kv) std::printf("%s=%s\n", e.first.c_str(), e.second.c_str());
    });
    return 0;
}

// ------------------------------------------------------------ set
int cmd_set(const std::vector<std::string> &args) {
    if (args.size() < 2) throw UsageError("set needs a DIR and KEY=VALUE pairs");
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 1; i < args.size(); ++i) {
        size_t eq = args[i].find('=');
        if (eq == std::string::npos) throw UsageError("not KEY=VALUE: " + args[i]);
        pairs.emplace_back(args[i].substr(0, eq), args[i].substr(eq + 1));
    }
    with_disk(args[0], [&pairs](const DiskDir &d, DiskState &s) {
        DiskState n = s;   // all or nothing
        bool wipe = false;
        for (const auto &kv : pairs) {
            const std::string &k = kv.first, &v = kv.second;
            if (k == "next_dev") {
                if (!v.empty() && v != n.dev) check_free_name(v, "next_dev", n.kind);
                n.next_dev = v == n.dev ? "" : v;
            } else if (k == "reenum_ms") {
                n.reenum_ms = static_cast<int>(int_option(k, v, 0, kMaxReenumMs));
            } else if (k == "reset_ms") {
                if (n.kind == DiskKind::Nvme) throw UsageError("an NVMe disk has no vendor reset");
                n.reset_ms = static_cast<int>(int_option(k, v, 0, kMaxResetMs));
            } else if (k == "reset_refused") {
                if (n.kind == DiskKind::Nvme) throw UsageError("an NVMe disk has no vendor reset");
                if (v != "0" && v != "1") throw UsageError("reset_refused is 0 or 1");
                n.reset_refused = v == "1";
            } else if (k == "tries_max") {
                n.tries_max = static_cast<int>(int_option(k, v, ata::kMinTries, ata::kMaxTries));
                n.tries_left = std::min(n.tries_left, n.tries_max);
            } else if (k == "tries_left") {
                n.tries_left = static_cast<int>(int_option(k, v, 0, n.tries_max));
            } else if (k == "password") {
                if (n.kind == DiskKind::Nvme) throw UsageError("an NVMe disk has no password");
                if (v.size() > ata::kPasswordMaxLen) throw UsageError("a password has 1 to 32 bytes");
                n.password.assign(v.begin(), v.end());
                n.password_set = !v.empty();
                n.tries_left = n.tries_max;
                n.verified = false;
                wipe = !v.empty();   // as SET PASSWORD does
            } else if (k == "prompt") {
                if (v.size() > kSectorSize) throw UsageError("a prompt has at most 512 bytes");
                n.prompt.fill(0);
                std::copy(v.begin(), v.end(), n.prompt.begin());
            } else if (k == "temperature") {
                n.temperature = static_cast<int>(int_option(k, v, 0, 255));
            } else if (k == "power_on_hours") {
                n.power_on_hours = static_cast<uint64_t>(int_option(k, v, 0, (1LL << 48) - 1));
            } else if (k == "bad_sectors") {
                n.bad_sectors.clear();
                if (!v.empty()) {
                    for (const auto &lba : split(v, ',')) {
                        uint64_t x = 0;
                        if (!parse_uint(lba, &x)) throw UsageError("bad_sectors is a list of LBAs: " + v);
                        n.bad_sectors.push_back(x);
                    }
                }
            } else if (k == "smart_supported") {
                if (v != "0" && v != "1") throw UsageError("smart_supported is 0 or 1");
                n.smart_supported = v == "1";
            } else if (k == "lpa") {
                if (n.kind != DiskKind::Nvme) throw UsageError("lpa belongs to an NVMe disk");
                n.lpa = static_cast<uint8_t>(int_option(k, v, 0, 255));
            } else {
                throw UsageError("unknown key " + k);
            }
        }
        if (wipe) wipe_private_area(d, n);
        s = n;
    });
    return 0;
}

// ------------------------------------------------------------ replug
int cmd_replug(const std::vector<std::string> &args) {
    if (args.empty()) throw UsageError("replug needs a DIR");
    std::string new_dev;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--dev" && i + 1 < args.size()) new_dev = args[++i];
        else throw UsageError("unknown argument " + args[i]);
    }
    with_disk(args[0], [&new_dev](const DiskDir &d, DiskState &s) {
        if (!new_dev.empty() && new_dev != s.dev) check_free_name(new_dev, "--dev", s.kind);
        power_cycle(d, s, new_dev);
    });
    return 0;
}

// ------------------------------------------------------------ smart / log
int cmd_smart(const std::vector<std::string> &args) {
    if (args.size() != 1) throw UsageError("smart needs exactly one DIR");
    with_disk(args[0], [](const DiskDir &, DiskState &s) {
        if (s.kind == DiskKind::Nvme) {
            std::vector<uint8_t> log = build_nvme_health_log(s);
            namespace sm = nvme::smart;
            const std::pair<const char *, size_t> counters[] = {
                {"data_units_read", sm::kUnitsRead},       {"data_units_written", sm::kUnitsWritten},
                {"host_read_commands", sm::kReadCommands}, {"host_write_commands", sm::kWriteCommands},
                {"power_cycles", sm::kPowerCycles},        {"power_on_hours", sm::kPowerOnHours},
            };
            std::printf("composite_temperature=%u\n", static_cast<unsigned>(get_le16(&log[sm::kTemperature])));
            for (const auto &c : counters)
                std::printf("%s=%" PRIu64 "\n", c.first, get_le64(&log[c.second]));
            return;
        }
        for (const auto &a : smart_attributes(s))
            std::printf("%u=%" PRIu64 "\n", static_cast<unsigned>(a.id), a.raw);
    });
    return 0;
}

int cmd_log(const std::vector<std::string> &args) {
    if (args.size() != 1) throw UsageError("log needs exactly one DIR");
    DiskDir d(canonical_dir(args[0]));
    DirLock lock(d);
    load_state(d);
    std::string text;
    if (read_file(d.log(), &text)) std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

// ------------------------------------------------------------ remove
int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    return ::remove(path);
}

int cmd_remove(const std::vector<std::string> &args) {
    if (args.size() != 1) throw UsageError("remove needs exactly one DIR");
    DiskDir d(canonical_dir(args[0]));
    {
        DirLock lock(d);
        DiskState s = load_state(d);
        if (s.present) depart(d, s);
        std::vector<std::string> images = {d.image(Area::Public), d.image(Area::Private)};
        for (const auto &image : images)
            for (const auto &loop : loops_backed_by(image)) detach_loop(loop, image);
        // A loop still held open by some process goes at its last close.
        int64_t deadline = monotonic_ms() + kDetachWaitMs;
        bool busy = true;
        while (busy) {
            busy = false;
            for (const auto &image : images) busy = busy || !loops_backed_by(image).empty();
            if (!busy || monotonic_ms() > deadline) break;
            timespec ts{0, 10 * 1000000L};
            ::nanosleep(&ts, nullptr);
        }
        if (busy)
            std::fprintf(stderr, "securedisk-sim: a loop device of %s is still open; it goes at its last close\n",
                         d.dir.c_str());
        if (::nftw(d.dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS) != 0)
            throw_errno("cannot delete " + d.dir);
    }
    return 0;
}

// ------------------------------------------------------------ lsblk
struct LsblkRow {
    std::string name, majmin, rm, size, ro, type, mount;
};

// lsblk's own one-letter human sizes ("16M", "1.5G").
std::string human_size(uint64_t bytes) {
    static const char letters[] = "BKMGTPE";
    int exp = 0;
    while (exp < 60 && (bytes >> (exp + 10)) >= 1) exp += 10;
    uint64_t dec = bytes >> exp;
    uint64_t frac = exp ? bytes & ((1ull << exp) - 1) : 0;
    if (frac) {
        frac = (frac / (1ull << (exp - 10)) + 50) / 100;
        if (frac >= 10) {
            ++dec;
            frac = 0;
        }
    }
    std::string out = std::to_string(dec);
    if (frac) out += "." + std::to_string(frac);
    out.push_back(letters[exp / 10]);
    return out;
}

std::string majmin_of(const std::string &path) {
    struct stat st;
    unsigned maj = 0, min = 0;
    if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        maj = major(st.st_rdev);
        min = minor(st.st_rdev);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%3u:%-3u", maj, min);
    return buf;
}

uint64_t block_bytes(const std::string &path) {
    std::string name = path.substr(path.rfind('/') + 1);
    std::string text;
    // /sys/class/block/<name>/size counts 512-byte sectors.
    if (!read_file("/sys/class/block/" + name + "/size", &text)) return 0;
    uint64_t sectors = 0;
    return parse_uint(trim(text), &sectors) ? sectors * 512 : 0;
}

std::vector<LsblkRow> sim_rows(const std::vector<std::string> &dirs, bool nodeps) {
    std::vector<LsblkRow> rows;
    std::set<std::string> seen;
    for (const auto &dir : dirs) {
        char canon[PATH_MAX];
        if (!::realpath(dir.c_str(), canon) || !seen.insert(canon).second) continue;
        DiskState s;
        try {
            with_disk(canon, [&s](const DiskDir &, DiskState &st) { s = st; });
        } catch (const SimError &e) {
            // Another user may read the disk but not bring its pending
            // events into effect: it sees the disk as it is.
            if (e.errno_value != EACCES || !look_at_state(DiskDir(canon), &s)) continue;
        }
        if (!s.present) continue;
        std::string name = s.dev.substr(5);
        rows.push_back({name, majmin_of(s.dev), "1", human_size(s.presented_sectors() * kSectorSize),
                        "0", "disk", ""});
        if (nodeps || s.mode != BackingMode::Loop) continue;
        std::vector<std::string> parts;
        for (const auto &node : s.nodes)
            if (node != s.dev) parts.push_back(node);
        for (size_t i = 0; i < parts.size(); ++i) {
            std::string number = parts[i].substr(s.dev.size());
            if (s.kind == DiskKind::Nvme) number = number.substr(1);   // NAMEpN
            std::string loop_part = s.loop + "p" + number;
            rows.push_back({(i + 1 == parts.size() ? "\u2514\u2500" : "\u251c\u2500") +
                                parts[i].substr(5),
                            majmin_of(parts[i]), "1", human_size(block_bytes(loop_part)), "0",
                            "part", ""});
        }
    }
    return rows;
}

// Display width of a UTF-8 string (the tree glyphs are one column each).
size_t columns(const std::string &s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

struct Column {
    const char *title;
    bool right;
    size_t start, end;   // header positions
};

std::string layout(const std::vector<Column> &cols, const LsblkRow &r) {
    const std::string cells[] = {r.name, r.majmin, r.rm, r.size, r.ro, r.type, r.mount};
    std::string line;
    size_t width = 0;
    for (size_t i = 0; i < cols.size(); ++i) {
        const std::string &text = cells[i];
        size_t pos = cols[i].right ? (cols[i].end >= columns(text) ? cols[i].end - columns(text) : 0)
                                   : cols[i].start;
        size_t min_pos = i ? width + 1 : 0;
        if (pos < min_pos) pos = min_pos;
        line.append(pos - width, ' ');
        line += text;
        width = pos + columns(text);
    }
    return line;
}

std::vector<Column> columns_from_header(const std::string &header, const std::vector<LsblkRow> &rows) {
    std::vector<Column> cols = {{"NAME", false, 0, 0},   {"MAJ:MIN", false, 0, 0},
                                {"RM", true, 0, 0},      {"SIZE", true, 0, 0},
                                {"RO", true, 0, 0},      {"TYPE", false, 0, 0},
                                {"MOUNTPOINTS", false, 0, 0}};
    bool found = !header.empty();
    size_t from = 0;
    for (auto &c : cols) {
        size_t pos = header.find(c.title, from);
        if (pos == std::string::npos) {
            found = false;
            break;
        }
        c.start = pos;
        c.end = pos + std::strlen(c.title);
        from = c.end;
    }
    if (found) return cols;
    // No usable header: widths from our own rows, one space apart.
    size_t at = 0;
    const std::string LsblkRow::*fields[] = {&LsblkRow::name, &LsblkRow::majmin, &LsblkRow::rm,
                                             &LsblkRow::size, &LsblkRow::ro,     &LsblkRow::type,
                                             &LsblkRow::mount};
    for (size_t i = 0; i < cols.size(); ++i) {
        size_t w = std::strlen(cols[i].title);
        for (const auto &r : rows) w = std::max(w, columns(r.*fields[i]));
        cols[i].start = at;
        cols[i].end = at + w;
        at += w + 1;
    }
    return cols;
}

int cmd_lsblk(const std::vector<std::string> &args) {
    std::vector<std::string> dirs = sim_dirs_from_env();
    std::vector<std::string> passed;
    bool nodeps = false, noheadings = false;
    for (const auto &a : args) {
        if (!starts_with(a, "-") && is_disk_dir(a)) {
            dirs.push_back(a);
            continue;
        }
        if (a == "-d" || a == "--nodeps") nodeps = true;
        if (a == "-n" || a == "--noheadings") noheadings = true;
        passed.push_back(a);
    }

    // The machine's own block devices, as lsblk prints them.
    std::string real_out;
    int status = -1;
    {
        std::string cmd = kRealLsblk;
        for (const auto &a : passed) {
            cmd += " '";
            for (char c : a) {
                if (c == '\'') cmd += "'\\''";
                else cmd.push_back(c);
            }
            cmd += "'";
        }
        cmd += " 2>/dev/null";
        if (FILE *p = ::popen(cmd.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) real_out.append(buf, n);
            status = ::pclose(p);
        }
    }
    std::vector<LsblkRow> rows = sim_rows(dirs, nodeps);
    std::string header;
    if (!noheadings && starts_with(real_out, "NAME"))
        header = real_out.substr(0, real_out.find('\n'));
    std::vector<Column> cols = columns_from_header(header, rows);

    std::string out = real_out;
    if (out.empty() && !noheadings) {
        std::string line;
        for (size_t i = 0; i < cols.size(); ++i) {
            size_t len = std::strlen(cols[i].title);
            size_t pos = cols[i].right ? cols[i].end - len : cols[i].start;
            if (i && pos < line.size() + 1) pos = line.size() + 1;
            line.append(pos - line.size(), ' ');
            line += cols[i].title;
        }
        out = line + "\n";
    }
    for (const auto &r : rows) out += layout(cols, r) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (rows.empty() && status != 0 && real_out.empty()) return 1;
    return 0;
}

// ------------------------------------------------------------ serve
int cmd_serve(const std::vector<std::string> &args) {
    if (args.empty() || starts_with(args[0], "-")) throw UsageError("serve needs a DIR");
    ServeOptions o;
    o.dir = args[0];
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string &opt = args[i];
        if (i + 1 >= args.size()) throw UsageError(opt + " needs a value");
        const std::string &val = args[++i];
        if (opt == "--name") o.name = val;
        else if (opt == "--ready") o.ready_file = val;
        else throw UsageError("unknown option " + opt);
    }
    if (!o.name.empty() && !valid_serial(o.name)) throw UsageError("--name: 1 to 20 of A-Z a-z 0-9 - _ .");
    return serve_disk(o);
}

// ------------------------------------------------------------ main
int run(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(kHelp, stderr);
        return kExitUsage;
    }
    std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (cmd == "create") return cmd_create(args);
    if (cmd == "show") return cmd_show(args);
    if (cmd == "set") return cmd_set(args);
    if (cmd == "replug") return cmd_replug(args);
    if (cmd == "smart") return cmd_smart(args);
    if (cmd == "log") return cmd_log(args);
    if (cmd == "remove") return cmd_remove(args);
    if (cmd == "lsblk") return cmd_lsblk(args);
    if (cmd == "serve") return cmd_serve(args);
    throw UsageError("unknown command " + cmd + " (see securedisk-sim help)");
}

}  // namespace
}  // namespace zvsim

int main(int argc, char **argv) {
    // The tool manages disks and must see the system as it is, never the
    // simulated view its own preload library would give it.
    using Bypass = void (*)(int);
    if (auto bypass = reinterpret_cast<Bypass>(::dlsym(RTLD_DEFAULT, "securedisk_sim_preload_bypass")))
        bypass(1);
    try {
        return zvsim::run(argc, argv);
    } catch (const zvsim::UsageError &e) {
        std::fprintf(stderr, "securedisk-sim: %s\n", e.what());
        return zvsim::kExitUsage;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "securedisk-sim: %s\n", e.what());
        return 1;
    }
}
