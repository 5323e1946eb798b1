// SimDisk: the test fixture for one simulated secure disk. It makes the disk
// with the securedisk-sim tool in a fresh temporary directory, lists that
// directory in SECUREDISK_SIM of this process (so this process and its
// children see the disk through the preload library), and on destruction
// removes the disk with everything it made.
//
// With SECUREDISK_SIM_SERVE=1 (inside a kernel-test guest) the disk is put
// behind the kernel's SCSI stack instead (`securedisk-sim serve`): dev() is
// the /dev/sdX the kernel gave it, found by its serial, and the command
// record leaves out what the sd driver sends on its own.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace simtest {

struct SimDiskOptions {
    std::string dev;            // "/dev/NAME"; empty = a unique unused /dev/sdqXXX
                                // (/dev/nvmeNNNn1 for the NVMe kind)
    std::string serial;         // empty = the tool's default (random)
    int tries = 0;              // 0 = the tool's default
    std::string public_size;    // "" = default, else e.g. "16M"
    std::string private_size;   // "" = default
    int reenum_ms = -1;         // -1 = default
    std::string next_dev;       // "" = none
    std::string backing;        // "" = the tool's choice, "loop" or "image"
    std::string kind;           // "" = the secure disk, or "nvme"
    int nsid = 0;               // NVMe namespace id; 0 = the tool's default
};

class SimDisk {
public:
    // Throws std::runtime_error when the tool refuses to make the disk.
    explicit SimDisk(SimDiskOptions opts = {});
    ~SimDisk();
    SimDisk(const SimDisk &) = delete;
    SimDisk &operator=(const SimDisk &) = delete;

    const std::string &dir() const;
    std::string dev() const;                              // current /dev path
    std::map<std::string, std::string> show() const;      // parsed `show`
    int tool(const std::string &args) const;              // `securedisk-sim <args>`
    std::string tool_output(const std::string &args, int *status = nullptr) const;
    std::vector<std::string> commands() const;            // the command record

    // `securedisk-sim set DIR <assignments>`; throws when refused.
    void set(const std::string &assignments) const;
    // Waits (polling `show`, at most timeout_ms) until the disk is back on
    // the bus; returns whether it is.
    bool wait_present(int timeout_ms = 10000) const;

    // True when the disk is served to the kernel (SECUREDISK_SIM_SERVE=1).
    static bool on_kernel();

private:
    void serve();
    std::string served_file() const;
    bool served() const;
    std::string kernel_dev() const;

    std::string dir_;
    pid_t server_ = -1;
};

std::string cli();   // path of securedisk-sim (env SECUREDISK_SIM_CLI)

// Runs a shell command line of other programs (sg3-utils, parted, ...) with
// the environment of this process, except that a sanitizer runtime inherited
// through LD_PRELOAD does not report the child's own leaks or string-function
// misuse. Returns its standard output; *status gets the exit status (128 +
// signal when killed).
std::string shell(const std::string &cmdline, int *status = nullptr);

// Runs `securedisk-sim <args>` (a shell command line tail, e.g. with
// "2>&1") with every sanitizer check of the build; returns its output.
std::string run_cli(const std::string &args, int *status = nullptr);

// One field ("cdb", "result", ...) of a command record line, "" if absent.
std::string record_field(const std::string &line, const std::string &key);

// Quotes a string for /bin/sh.
std::string shell_quote(const std::string &s);

}  // namespace simtest
