// The state store of one simulated disk: everything the controller
// remembers (password, tries, prompt sector, SMART counters) and everything
// the bench needs to present it (device name, loop device, nodes), kept as
// key=value text in its state directory so that every process sees the same
// disk. All read-modify-write happens under DirLock (flock on DIR/lock).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "controller_datasheet.h"

namespace zvsim {

enum class BackingMode { Loop, Image };
enum class Area { Public, Private };
// What the host sees: the secure disk behind its USB bridge (a SCSI disk
// answering SG_IO), or an NVMe namespace answering the NVMe pass-through
// requests (its data in the public image; it has no password).
enum class DiskKind { Secure, Nvme };

struct DiskState {
    // Identity and presentation.
    DiskKind kind = DiskKind::Secure;
    std::string dev;        // current /dev path
    std::string next_dev;   // name to take at the next re-enumeration (one shot)
    std::string serial;
    BackingMode mode = BackingMode::Loop;
    uint64_t public_sectors = 0;
    uint64_t private_sectors = 0;

    // Controller security state.
    int tries_max = ata::kDefaultTries;
    int tries_left = ata::kDefaultTries;
    bool password_set = false;
    std::vector<uint8_t> password;
    bool verified = false;   // a VERIFY PASSWORD succeeded since power-up
    bool unlocked = false;   // the private area is the presented one

    // Bus presence.
    bool present = false;
    int64_t absent_since_ms = 0;   // CLOCK_MONOTONIC when it left the bus
    int reenum_ms = kDefaultReenumMs;
    int reset_ms = 0;              // how long the bridge takes to answer the vendor reset
    bool reset_refused = false;    // the bridge answers the vendor reset with CHECK CONDITION
    uint64_t generation = 0;       // bumped at every departure and arrival
    std::string boot;              // boot id the times and loops belong to

    // What the bench made for the current presentation.
    std::string loop;                 // /dev/loopN backing the presented area
    std::vector<std::string> nodes;   // device nodes made under /dev

    // Vendor sector space.
    std::array<uint8_t, kSectorSize> prompt{};

    // SMART.
    bool smart_supported = true;   // false: a controller without the feature set
    bool smart_enabled = true;
    uint64_t power_on_hours = 0;
    uint64_t power_cycles = 1;
    int temperature = ata::smart::kDefaultTemperature;
    uint64_t lbas_written = 0;
    uint64_t lbas_read = 0;

    // Medium defects: sectors of the presented area whose reads and writes
    // fail (both kinds).
    std::vector<uint64_t> bad_sectors;

    // NVMe namespace and controller.
    uint32_t nsid = nvme::kDefaultNsid;
    uint8_t lpa = nvme::kDefaultLpa;   // Identify Controller log page attributes
    uint64_t read_commands = 0;        // host Read commands completed
    uint64_t write_commands = 0;       // host Write commands completed

    // Output registers of the last ATA command (for protocol 15).
    std::array<uint8_t, scsi::kAtaReturnDescriptorLen> last_ata{};
    uint64_t commands = 0;   // number of commands recorded

    Area presented_area() const { return unlocked ? Area::Private : Area::Public; }
    uint64_t presented_sectors() const {
        return unlocked ? private_sectors : public_sectors;
    }
    bool locked() const { return password_set && !unlocked; }
};

// Files of a state directory.
struct DiskDir {
    explicit DiskDir(std::string path) : dir(std::move(path)) {}
    std::string dir;
    std::string state() const { return dir + "/state"; }
    std::string lock() const { return dir + "/lock"; }
    std::string log() const { return dir + "/commands.log"; }
    std::string image(Area a) const {
        return dir + (a == Area::Public ? "/public.img" : "/private.img");
    }
    std::string firmware() const { return dir + "/firmware.img"; }   // NVMe image download
    std::string mailbox() const { return dir + "/vendor.bin"; }      // NVMe vendor mailbox
};

// Exclusive flock on DIR/lock for the lifetime of the object.
class DirLock {
public:
    explicit DirLock(const DiskDir &d);
    ~DirLock();
    DirLock(const DirLock &) = delete;
    DirLock &operator=(const DirLock &) = delete;

private:
    int fd_ = -1;
};

std::string serialize_state(const DiskState &s);
bool parse_state(const std::string &text, DiskState *s);

// Loads DIR/state; throws SimError when it is missing or unreadable.
DiskState load_state(const DiskDir &d);
// Loads without throwing (for the preload's quick path lookups).
bool try_load_state(const DiskDir &d, DiskState *s);
// Loads under a shared lock taken through a read-only descriptor, for a
// caller that may read DIR but not change it (another user listing the
// disks): the state as it is, pending events not applied. False when it
// cannot be read.
bool look_at_state(const DiskDir &d, DiskState *s);
void save_state(const DiskDir &d, const DiskState &s);

// Appends one line to DIR/commands.log (caller holds the lock).
void append_command_record(const DiskDir &d, const std::string &line);

// The directories listed in SECUREDISK_SIM (read anew on every call).
std::vector<std::string> sim_dirs_from_env();

}  // namespace zvsim
