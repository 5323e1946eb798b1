// Small helpers shared by the simulator's parts: hex text, sizes, clocks,
// whole-file reads and atomic writes, and errors that carry errno text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zvsim {

// Every failure inside the simulator is one of these; the preload turns it
// into an errno, the tool into a one-line message.
class SimError : public std::runtime_error {
public:
    explicit SimError(const std::string &what, int err = 0)
        : std::runtime_error(what), errno_value(err) {}
    int errno_value;
};

// Throws SimError with ": <strerror(errno)>" appended.
[[noreturn]] void throw_errno(const std::string &what);

std::string to_hex(const uint8_t *data, size_t len);
inline std::string to_hex(const std::vector<uint8_t> &v) { return to_hex(v.data(), v.size()); }
bool from_hex(const std::string &text, std::vector<uint8_t> *out);

// "16M", "512K", "1G", "4096" (bytes). Returns false on junk or overflow.
bool parse_size(const std::string &text, uint64_t *bytes);
bool parse_uint(const std::string &text, uint64_t *value);
bool parse_int(const std::string &text, long long min, long long max, long long *value);

// Milliseconds of CLOCK_MONOTONIC, one clock for every process of a boot.
int64_t monotonic_ms();
// The kernel's id of this boot (monotonic time and loop devices die with it).
std::string boot_id();

bool read_file(const std::string &path, std::string *out);
// Writes via a temporary name and rename(), so readers see old or new.
void write_file_atomic(const std::string &path, const std::string &data);

std::vector<std::string> split(const std::string &s, char sep);
std::string trim(const std::string &s);
bool starts_with(const std::string &s, const std::string &prefix);
bool all_digits(const std::string &s);

}  // namespace zvsim
