// The state store of one simulated disk: key=value text in DIR/state,
// replaced atomically, guarded by flock on DIR/lock (see disk_state.h).
#include "disk_state.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <unistd.h>

#include "sim_util.h"

namespace zvsim {

namespace {
constexpr int kFormat = 1;

std::string join(const std::vector<std::string> &v) {
    std::string out;
    for (const auto &s : v) {
        if (!out.empty()) out += ',';
        out += s;
    }
    return out;
}

bool get_u64(const std::map<std::string, std::string> &kv, const char *key, uint64_t *v) {
    auto it = kv.find(key);
    if (it == kv.end()) return true;   // keep the default
    return parse_uint(it->second, v);
}

bool get_int(const std::map<std::string, std::string> &kv, const char *key, int *v) {
    auto it = kv.find(key);
    if (it == kv.end()) return true;
    long long x = 0;
    if (!parse_int(it->second, -2147483647LL, 2147483647LL, &x)) return false;
    *v = static_cast<int>(x);
    return true;
}

bool get_i64(const std::map<std::string, std::string> &kv, const char *key, int64_t *v) {
    auto it = kv.find(key);
    if (it == kv.end()) return true;
    long long x = 0;
    if (!parse_int(it->second, -9223372036854775807LL, 9223372036854775807LL, &x)) return false;
    *v = x;
    return true;
}

bool get_bool(const std::map<std::string, std::string> &kv, const char *key, bool *v) {
    auto it = kv.find(key);
    if (it == kv.end()) return true;
    if (it->second != "0" && it->second != "1") return false;
    *v = it->second == "1";
    return true;
}

template <size_t N>
bool get_bytes(const std::map<std::string, std::string> &kv, const char *key,
               std::array<uint8_t, N> *v) {
    auto it = kv.find(key);
    if (it == kv.end()) return true;
    std::vector<uint8_t> bytes;
    if (!from_hex(it->second, &bytes) || bytes.size() != N) return false;
    std::copy(bytes.begin(), bytes.end(), v->begin());
    return true;
}
}  // namespace

std::string serialize_state(const DiskState &s) {
    std::string o;
    auto line = [&o](const char *k, const std::string &v) {
        o += k;
        o += '=';
        o += v;
        o += '\n';
    };
    auto num = [&line](const char *k, long long v) { line(k, std::to_string(v)); };
    auto unum = [&line](const char *k, uint64_t v) { line(k, std::to_string(v)); };
    num("format", kFormat);
    line("kind", s.kind == DiskKind::Nvme ? "nvme" : "secure");
    line("dev", s.dev);
    line("next_dev", s.next_dev);
    line("serial", s.serial);
    line("backing_mode", s.mode == BackingMode::Loop ? "loop" : "image");
    unum("public_sectors", s.public_sectors);
    unum("private_sectors", s.private_sectors);
    num("tries_max", s.tries_max);
    num("tries_left", s.tries_left);
    num("password_set", s.password_set);
    line("password", to_hex(s.password));
    num("verified", s.verified);
    num("unlocked", s.unlocked);
    num("present", s.present);
    num("absent_since_ms", s.absent_since_ms);
    num("reenum_ms", s.reenum_ms);
    num("reset_ms", s.reset_ms);
    num("reset_refused", s.reset_refused);
    unum("generation", s.generation);
    line("boot", s.boot);
    line("loop", s.loop);
    line("nodes", join(s.nodes));
    line("prompt", to_hex(s.prompt.data(), s.prompt.size()));
    num("smart_supported", s.smart_supported);
    num("smart_enabled", s.smart_enabled);
    unum("power_on_hours", s.power_on_hours);
    unum("power_cycles", s.power_cycles);
    num("temperature", s.temperature);
    unum("lbas_written", s.lbas_written);
    unum("lbas_read", s.lbas_read);
    std::vector<std::string> bad;
    for (uint64_t lba : s.bad_sectors) bad.push_back(std::to_string(lba));
    line("bad_sectors", join(bad));
    unum("nsid", s.nsid);
    num("lpa", s.lpa);
    unum("read_commands", s.read_commands);
    unum("write_commands", s.write_commands);
    line("last_ata", to_hex(s.last_ata.data(), s.last_ata.size()));
    unum("commands", s.commands);
    return o;
}

bool parse_state(const std::string &text, DiskState *out) {
    std::map<std::string, std::string> kv;
    for (const auto &raw : split(text, '\n')) {
        if (raw.empty()) continue;
        size_t eq = raw.find('=');
        if (eq == std::string::npos) return false;
        kv[raw.substr(0, eq)] = raw.substr(eq + 1);
    }
    if (kv["format"] != std::to_string(kFormat)) return false;
    DiskState s;
    const std::string &kind = kv["kind"];
    if (kind.empty() || kind == "secure") s.kind = DiskKind::Secure;
    else if (kind == "nvme") s.kind = DiskKind::Nvme;
    else return false;
    s.dev = kv["dev"];
    s.next_dev = kv["next_dev"];
    s.serial = kv["serial"];
    const std::string &mode = kv["backing_mode"];
    if (mode == "loop") s.mode = BackingMode::Loop;
    else if (mode == "image") s.mode = BackingMode::Image;
    else return false;
    s.boot = kv["boot"];
    s.loop = kv["loop"];
    if (!kv["nodes"].empty()) s.nodes = split(kv["nodes"], ',');
    if (!from_hex(kv["password"], &s.password)) return false;
    if (!kv["bad_sectors"].empty()) {
        for (const auto &lba : split(kv["bad_sectors"], ',')) {
            uint64_t v = 0;
            if (!parse_uint(lba, &v)) return false;
            s.bad_sectors.push_back(v);
        }
    }
    uint64_t nsid = s.nsid;
    int lpa = s.lpa;
    bool ok = get_u64(kv, "public_sectors", &s.public_sectors) &&
              get_u64(kv, "private_sectors", &s.private_sectors) &&
              get_int(kv, "tries_max", &s.tries_max) &&
              get_int(kv, "tries_left", &s.tries_left) &&
              get_bool(kv, "password_set", &s.password_set) &&
              get_bool(kv, "verified", &s.verified) &&
              get_bool(kv, "unlocked", &s.unlocked) &&
              get_bool(kv, "present", &s.present) &&
              get_i64(kv, "absent_since_ms", &s.absent_since_ms) &&
              get_int(kv, "reenum_ms", &s.reenum_ms) &&
              get_int(kv, "reset_ms", &s.reset_ms) &&
              get_bool(kv, "reset_refused", &s.reset_refused) &&
              get_u64(kv, "generation", &s.generation) &&
              get_bytes(kv, "prompt", &s.prompt) &&
              get_bool(kv, "smart_supported", &s.smart_supported) &&
              get_bool(kv, "smart_enabled", &s.smart_enabled) &&
              get_u64(kv, "power_on_hours", &s.power_on_hours) &&
              get_u64(kv, "power_cycles", &s.power_cycles) &&
              get_int(kv, "temperature", &s.temperature) &&
              get_u64(kv, "lbas_written", &s.lbas_written) &&
              get_u64(kv, "lbas_read", &s.lbas_read) &&
              get_u64(kv, "nsid", &nsid) && get_int(kv, "lpa", &lpa) &&
              get_u64(kv, "read_commands", &s.read_commands) &&
              get_u64(kv, "write_commands", &s.write_commands) &&
              get_bytes(kv, "last_ata", &s.last_ata) &&
              get_u64(kv, "commands", &s.commands);
    if (!ok || nsid == 0 || nsid > nvme::kMaxNsid || lpa < 0 || lpa > 255) return false;
    s.nsid = static_cast<uint32_t>(nsid);
    s.lpa = static_cast<uint8_t>(lpa);
    *out = std::move(s);
    return true;
}

DirLock::DirLock(const DiskDir &d) {
    fd_ = ::open(d.lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw_errno("cannot open " + d.lock());
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int err = errno;
        ::close(fd_);
        errno = err;
        throw_errno("cannot lock " + d.lock());
    }
}

DirLock::~DirLock() {
    if (fd_ >= 0) ::close(fd_);   // closing releases the flock
}

bool try_load_state(const DiskDir &d, DiskState *s) {
    std::string text;
    if (!read_file(d.state(), &text)) return false;
    return parse_state(text, s);
}

bool look_at_state(const DiskDir &d, DiskState *s) {
    int fd = ::open(d.lock().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    while ((rc = ::flock(fd, LOCK_SH)) != 0 && errno == EINTR) {
    }
    const bool ok = rc == 0 && try_load_state(d, s);
    ::close(fd);   // closing releases the flock
    return ok;
}

DiskState load_state(const DiskDir &d) {
    std::string text;
    if (!read_file(d.state(), &text)) throw_errno(d.dir + " is not a simulated disk");
    DiskState s;
    if (!parse_state(text, &s)) throw SimError(d.state() + " is damaged", EIO);
    return s;
}

void save_state(const DiskDir &d, const DiskState &s) {
    write_file_atomic(d.state(), serialize_state(s));
}

void append_command_record(const DiskDir &d, const std::string &line) {
    int fd = ::open(d.log().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw_errno("cannot open " + d.log());
    std::string text = line + "\n";
    ssize_t n = ::write(fd, text.data(), text.size());
    int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        errno = n < 0 ? err : EIO;
        throw_errno("cannot write " + d.log());
    }
}

std::vector<std::string> sim_dirs_from_env() {
    std::vector<std::string> dirs;
    const char *env = std::getenv("SECUREDISK_SIM");
    if (!env || !*env) return dirs;
    for (auto &part : split(env, ':'))
        if (!part.empty()) dirs.push_back(part);
    return dirs;
}

}  // namespace zvsim
