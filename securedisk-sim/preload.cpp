// The preload interposer (libsecuredisk-sim.so): with LD_PRELOAD it sits in
// front of the C library's open/close/ioctl/stat of an unmodified program.
// Paths of the disks listed in SECUREDISK_SIM open the disk's real node (or
// its image without root), their fds are remembered, and SG_IO on them is
// answered by the simulated bridge and controller. Everything else passes
// straight to the C library.
#undef _FORTIFY_SOURCE

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "disk_state.h"
#include "enumeration.h"
#include "sg_io_emulation.h"
#include "sim_util.h"

#define ZV_EXPORT extern "C" __attribute__((visibility("default")))

// Fortified entry points the C library exports but declares only when
// _FORTIFY_SOURCE is on.
extern "C" {
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
}

namespace zvsim {
namespace {

// ------------------------------------------------------------ guards
// Depth > 0: this thread is inside the simulator, whose own calls go to
// the C library unexamined.
__attribute__((tls_model("initial-exec"))) thread_local int t_depth = 0;
// Set by the securedisk-sim tool, which manages disks and must see the
// system as it is.
std::atomic<bool> g_bypass{false};

struct Inside {
    Inside() { ++t_depth; }
    ~Inside() { --t_depth; }
    Inside(const Inside &) = delete;
    Inside &operator=(const Inside &) = delete;
};

bool pass_through() { return t_depth > 0 || g_bypass.load(std::memory_order_relaxed); }

// ------------------------------------------------------------ C library
template <class Fn>
Fn next_symbol(const char *name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

#define ZV_REAL(name, type)                                            \
    static type real = next_symbol<type>(#name);                       \
    if (!real) {                                                       \
        errno = ENOSYS;                                                \
        return -1;                                                     \
    }

using OpenFn = int (*)(const char *, int, ...);
using OpenatFn = int (*)(int, const char *, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);
using StatFn = int (*)(const char *, struct stat *);
using Stat64Fn = int (*)(const char *, struct stat64 *);
using FstatatFn = int (*)(int, const char *, struct stat *, int);
using Fstatat64Fn = int (*)(int, const char *, struct stat64 *, int);
using StatxFn = int (*)(int, const char *, int, unsigned, struct statx *);
using AccessFn = int (*)(const char *, int);
using FaccessatFn = int (*)(int, const char *, int, int);
using OpendirFn = DIR *(*)(const char *);
using DupFn = int (*)(int);
using Dup2Fn = int (*)(int, int);
using Dup3Fn = int (*)(int, int, int);

int real_openat(int dirfd, const char *path, int flags, mode_t mode) {
    ZV_REAL(openat, OpenatFn);
    return real(dirfd, path, flags, mode);
}

// ------------------------------------------------------------ fd table
std::mutex g_table_mutex;
std::atomic<size_t> g_table_size{0};

std::unordered_map<int, FdBinding> &table() {
    static auto *t = new std::unordered_map<int, FdBinding>();   // lives to exit
    return *t;
}

void table_put(int fd, const FdBinding &b) {
    std::lock_guard<std::mutex> g(g_table_mutex);
    table()[fd] = b;
    g_table_size = table().size();
}

void table_forget(int fd) {
    if (g_table_size.load() == 0) return;
    std::lock_guard<std::mutex> g(g_table_mutex);
    table().erase(fd);
    g_table_size = table().size();
}

bool table_get(int fd, FdBinding *b) {
    if (g_table_size.load() == 0) return false;
    std::lock_guard<std::mutex> g(g_table_mutex);
    auto it = table().find(fd);
    if (it == table().end()) return false;
    *b = it->second;
    return true;
}

void table_copy(int from, int to) {
    FdBinding b;
    if (table_get(from, &b)) table_put(to, b);
    else table_forget(to);
}

void at_fork_prepare() { g_table_mutex.lock(); }
void at_fork_release() { g_table_mutex.unlock(); }

__attribute__((constructor)) void install_fork_handlers() {
    ::pthread_atfork(at_fork_prepare, at_fork_release, at_fork_release);
}

// ------------------------------------------------------------ path lookup
struct Match {
    std::string dir;    // canonical state directory
    std::string path;   // normalised path asked for
    bool whole = true;  // the disk itself (else one of its partitions)
};

std::string normalise(const std::string &p) {
    std::string out;
    for (const auto &part : split(p, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

bool absolute_path(int dirfd, const char *path, std::string *out) {
    if (path[0] == '/') {
        *out = normalise(path);
        return true;
    }
    char base[PATH_MAX];
    if (dirfd == AT_FDCWD) {
        if (!::getcwd(base, sizeof base)) return false;
    } else {
        std::string link = "/proc/self/fd/" + std::to_string(dirfd);
        ssize_t n = ::readlink(link.c_str(), base, sizeof base - 1);
        if (n <= 0) return false;
        base[n] = '\0';
    }
    *out = normalise(std::string(base) + "/" + path);
    return true;
}

// Is `path` a simulated disk (or a partition of one) of SECUREDISK_SIM?
bool find_disk(int dirfd, const char *path, Match *m) {
    if (!path || !*path) return false;
    const char *env = std::getenv("SECUREDISK_SIM");
    if (!env || !*env) return false;
    if (path[0] == '/' && std::strncmp(path, "/dev/", 5) != 0) return false;
    std::string abs;
    if (!absolute_path(dirfd, path, &abs) || !starts_with(abs, "/dev/")) return false;
    for (const auto &dir : sim_dirs_from_env()) {
        char canon[PATH_MAX];
        if (!::realpath(dir.c_str(), canon)) continue;
        DiskState s;
        if (!try_load_state(DiskDir(canon), &s)) continue;
        bool whole = true;
        if (names_disk_or_partition(abs, s.dev, s.kind, &whole) ||
            names_disk_or_partition(abs, s.next_dev, s.kind, &whole)) {
            m->dir = canon;
            m->path = abs;
            m->whole = whole;
            return true;
        }
    }
    return false;
}

int fail(int err) {
    errno = err;
    return -1;
}

int error_of(const SimError &e) { return e.errno_value ? e.errno_value : EIO; }

// ------------------------------------------------------------ open
int sim_open(int dirfd, const char *path, int flags, mode_t mode) {
    if (pass_through()) return real_openat(dirfd, path, flags, mode);
    Inside inside;
    Match m;
    if (!find_disk(dirfd, path, &m)) return real_openat(dirfd, path, flags, mode);
    try {
        DiskDir d(m.dir);
        DirLock lock(d);
        DiskState s = load_state(d);
        if (catch_up(d, s)) save_state(d, s);
        if (!m.whole) return real_openat(dirfd, path, flags, mode);
        // Absent, or a name the disk does not have right now: no such node.
        if (!s.present || m.path != s.dev) return fail(ENOENT);
        FdBinding b;
        b.dir = m.dir;
        b.generation = s.generation;
        b.mode = s.mode;
        b.kind = s.kind;
        int fd;
        if (s.mode == BackingMode::Loop) {
            fd = real_openat(AT_FDCWD, s.dev.c_str(), flags, mode);
        } else {
            int img_flags = flags & ~(O_CREAT | O_EXCL | O_TRUNC | O_DIRECTORY | O_TMPFILE);
            fd = real_openat(AT_FDCWD, d.image(s.presented_area()).c_str(), img_flags, 0);
        }
        if (fd < 0) return -1;
        struct stat st;
        if (::fstat(fd, &st) == 0) {
            b.rdev = st.st_rdev;
            b.st_dev = st.st_dev;
            b.st_ino = st.st_ino;
        }
        table_put(fd, b);
        return fd;
    } catch (const SimError &e) {
        return fail(error_of(e));
    } catch (...) {
        return fail(EIO);
    }
}

// ------------------------------------------------------------ stat family
// A due return to the bus is brought into effect before the path is looked
// at. Returns the path to look at instead (the image, without root).
const char *before_lookup(int dirfd, const char *path, std::string *redirect) {
    if (pass_through()) return path;
    Inside inside;
    Match m;
    if (!find_disk(dirfd, path, &m)) return path;
    try {
        DiskDir d(m.dir);
        DiskState s;
        if (!try_load_state(d, &s)) return path;
        if (arrival_due(s, monotonic_ms())) {
            DirLock lock(d);
            s = load_state(d);
            if (catch_up(d, s, true)) save_state(d, s);
        }
        if (s.mode == BackingMode::Image && m.whole && s.present && m.path == s.dev) {
            *redirect = d.image(s.presented_area());
            return redirect->c_str();
        }
    } catch (...) {
        // Looking up goes on with the path as it is.
    }
    return path;
}

// Listing /dev looks at every disk: due returns to the bus are brought into
// effect first, so that the list holds the nodes a real kernel would show.
void before_listing_dev(const char *path) {
    if (pass_through() || !path) return;
    std::string abs;
    if (!absolute_path(AT_FDCWD, path, &abs) || abs != "/dev") return;
    const char *env = std::getenv("SECUREDISK_SIM");
    if (!env || !*env) return;
    Inside inside;
    for (const auto &dir : sim_dirs_from_env()) {
        try {
            DiskDir d(dir);
            DiskState s;
            if (!try_load_state(d, &s) || !arrival_due(s, monotonic_ms())) continue;
            DirLock lock(d);
            s = load_state(d);
            if (catch_up(d, s, true)) save_state(d, s);
        } catch (...) {
            // The listing goes on without this disk.
        }
    }
}

// An fd of the table still refers to what was opened (the C library may
// have closed and reused the number behind our back).
bool binding_current(int fd, const FdBinding &b) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    if (b.mode == BackingMode::Loop) return S_ISBLK(st.st_mode) && st.st_rdev == b.rdev;
    return st.st_dev == b.st_dev && st.st_ino == b.st_ino;
}

}  // namespace
}  // namespace zvsim

using namespace zvsim;

// ------------------------------------------------------------ exports
ZV_EXPORT void securedisk_sim_preload_bypass(int on) { g_bypass = on != 0; }

namespace {
mode_t mode_arg(int flags, va_list ap) {
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) return static_cast<mode_t>(va_arg(ap, int));
    return 0;
}
}  // namespace

ZV_EXPORT int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return sim_open(AT_FDCWD, path, flags, mode);
}

ZV_EXPORT int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return sim_open(AT_FDCWD, path, flags | O_LARGEFILE, mode);
}

ZV_EXPORT int openat(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return sim_open(dirfd, path, flags, mode);
}

ZV_EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return sim_open(dirfd, path, flags | O_LARGEFILE, mode);
}

ZV_EXPORT int __open_2(const char *path, int flags) { return sim_open(AT_FDCWD, path, flags, 0); }
ZV_EXPORT int __open64_2(const char *path, int flags) {
    return sim_open(AT_FDCWD, path, flags | O_LARGEFILE, 0);
}
ZV_EXPORT int __openat_2(int dirfd, const char *path, int flags) {
    return sim_open(dirfd, path, flags, 0);
}
ZV_EXPORT int __openat64_2(int dirfd, const char *path, int flags) {
    return sim_open(dirfd, path, flags | O_LARGEFILE, 0);
}

ZV_EXPORT int close(int fd) {
    table_forget(fd);
    ZV_REAL(close, CloseFn);
    return real(fd);
}

ZV_EXPORT int dup(int fd) noexcept {
    ZV_REAL(dup, DupFn);
    int nfd = real(fd);
    if (nfd >= 0) table_copy(fd, nfd);
    return nfd;
}

ZV_EXPORT int dup2(int fd, int nfd) noexcept {
    ZV_REAL(dup2, Dup2Fn);
    int r = real(fd, nfd);
    if (r >= 0 && fd != nfd) table_copy(fd, r);
    return r;
}

ZV_EXPORT int dup3(int fd, int nfd, int flags) noexcept {
    ZV_REAL(dup3, Dup3Fn);
    int r = real(fd, nfd, flags);
    if (r >= 0) table_copy(fd, r);
    return r;
}

ZV_EXPORT int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    ZV_REAL(ioctl, IoctlFn);
    if (pass_through()) return real(fd, request, arg);
    FdBinding b;
    if (!table_get(fd, &b)) return real(fd, request, arg);
    Inside inside;
    if (!binding_current(fd, b)) {
        table_forget(fd);
        return real(fd, request, arg);
    }
    if (!is_emulated_ioctl(b, request)) return real(fd, request, arg);
    int ret = emulate_ioctl(fd, b, request, arg);
    int err = errno;
    table_put(fd, b);   // keeps SG_SET_TIMEOUT and friends
    errno = err;
    return ret;
}

ZV_EXPORT DIR *opendir(const char *path) {
    static OpendirFn real = next_symbol<OpendirFn>("opendir");
    if (!real) {
        errno = ENOSYS;
        return nullptr;
    }
    before_listing_dev(path);
    return real(path);
}

ZV_EXPORT int stat(const char *path, struct stat *buf) noexcept {
    ZV_REAL(stat, StatFn);
    std::string redirect;
    return real(before_lookup(AT_FDCWD, path, &redirect), buf);
}

ZV_EXPORT int stat64(const char *path, struct stat64 *buf) noexcept {
    ZV_REAL(stat64, Stat64Fn);
    std::string redirect;
    return real(before_lookup(AT_FDCWD, path, &redirect), buf);
}

ZV_EXPORT int lstat(const char *path, struct stat *buf) noexcept {
    ZV_REAL(lstat, StatFn);
    std::string redirect;
    return real(before_lookup(AT_FDCWD, path, &redirect), buf);
}

ZV_EXPORT int lstat64(const char *path, struct stat64 *buf) noexcept {
    ZV_REAL(lstat64, Stat64Fn);
    std::string redirect;
    return real(before_lookup(AT_FDCWD, path, &redirect), buf);
}

ZV_EXPORT int fstatat(int dirfd, const char *path, struct stat *buf, int flags) noexcept {
    ZV_REAL(fstatat, FstatatFn);
    std::string redirect;
    const char *p = before_lookup(dirfd, path, &redirect);
    return real(p == path ? dirfd : AT_FDCWD, p, buf, flags);
}

ZV_EXPORT int fstatat64(int dirfd, const char *path, struct stat64 *buf, int flags) noexcept {
    ZV_REAL(fstatat64, Fstatat64Fn);
    std::string redirect;
    const char *p = before_lookup(dirfd, path, &redirect);
    return real(p == path ? dirfd : AT_FDCWD, p, buf, flags);
}

ZV_EXPORT int statx(int dirfd, const char *path, int flags, unsigned mask,
                    struct statx *buf) noexcept {
    ZV_REAL(statx, StatxFn);
    std::string redirect;
    const char *p = before_lookup(dirfd, path, &redirect);
    return real(p == path ? dirfd : AT_FDCWD, p, flags, mask, buf);
}

ZV_EXPORT int access(const char *path, int how) noexcept {
    ZV_REAL(access, AccessFn);
    std::string redirect;
    return real(before_lookup(AT_FDCWD, path, &redirect), how);
}

ZV_EXPORT int faccessat(int dirfd, const char *path, int how, int flags) noexcept {
    ZV_REAL(faccessat, FaccessatFn);
    std::string redirect;
    const char *p = before_lookup(dirfd, path, &redirect);
    return real(p == path ? dirfd : AT_FDCWD, p, how, flags);
}
