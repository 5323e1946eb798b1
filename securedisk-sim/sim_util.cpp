// Small helpers shared by the simulator's parts (see sim_util.h).
#include "sim_util.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace zvsim {

void throw_errno(const std::string &what) {
    int err = errno;
    throw SimError(what + ": " + std::strerror(err), err);
}

std::string to_hex(const uint8_t *data, size_t len) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool from_hex(const std::string &text, std::vector<uint8_t> *out) {
    if (text.size() % 2 != 0) return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hex_value(text[i]);
        int lo = hex_value(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<uint8_t>((hi << 4) | lo));
    }
    *out = std::move(bytes);
    return true;
}

bool parse_uint(const std::string &text, uint64_t *value) {
    if (text.empty() || !all_digits(text)) return false;
    uint64_t v = 0;
    for (char c : text) {
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    *value = v;
    return true;
}

bool parse_int(const std::string &text, long long min, long long max, long long *value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!parse_uint(negative ? text.substr(1) : text, &magnitude)) return false;
    if (magnitude > static_cast<uint64_t>(LLONG_MAX)) return false;
    long long v = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

bool parse_size(const std::string &text, uint64_t *bytes) {
    if (text.empty()) return false;
    std::string digits = text;
    unsigned shift = 0;
    switch (text.back()) {
    case 'K': case 'k': shift = 10; break;
    case 'M': case 'm': shift = 20; break;
    case 'G': case 'g': shift = 30; break;
    case 'T': case 't': shift = 40; break;
    default: break;
    }
    if (shift) digits.pop_back();
    uint64_t v = 0;
    if (!parse_uint(digits, &v)) return false;
    if (v > (UINT64_MAX >> shift)) return false;
    *bytes = v << shift;
    return true;
}

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string boot_id() {
    // A process never outlives the boot it started in.
    static const std::string id = [] {
        std::string text;
        return read_file("/proc/sys/kernel/random/boot_id", &text) ? trim(text) : std::string();
    }();
    return id;
}

bool read_file(const std::string &path, std::string *out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string data;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    *out = std::move(data);
    return true;
}

void write_file_atomic(const std::string &path, const std::string &data) {
    std::string tmp = path + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw_errno("cannot write " + tmp);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            errno = err;
            throw_errno("cannot write " + tmp);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) throw_errno("cannot write " + tmp);
    if (::rename(tmp.c_str(), path.c_str()) != 0) throw_errno("cannot replace " + path);
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        if (pos == std::string::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool starts_with(const std::string &s, const std::string &prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool all_digits(const std::string &s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace zvsim
