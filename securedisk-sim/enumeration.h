// Bus presence of a simulated disk: arriving (the presented area attached to
// a loop device, its node and partition nodes made), departing (nodes gone,
// loop detached), the absence after the vendor reset, power cycles, and the
// lazy catch-up that whichever process touches the disk first performs.
// Every function here is called with the DirLock held.
#pragma once

#include <string>

#include "disk_state.h"

namespace zvsim {

// Puts the disk on the bus, presenting the private area when a verification
// succeeded since power-up, else the public one. With take_next_dev the disk
// arrives under next_dev (if that name is free) and next_dev is consumed.
// Otherwise, unless name_given, a disk whose previous node is still held
// open arrives under the next free name, as the kernel names it.
void arrive(const DiskDir &d, DiskState &s, bool take_next_dev, bool name_given = false);

// Takes the disk off the bus: its nodes vanish and its loop is detached.
void depart(const DiskDir &d, DiskState &s);

// The vendor reset was accepted: the disk leaves the bus now and comes back
// once reenum_ms have passed (counted from now, read at the time of return).
void leave_bus_for_reset(const DiskDir &d, DiskState &s);

bool arrival_due(const DiskState &s, int64_t now_ms);

// Brings pending events into effect: a due return to the bus, a reboot of
// the machine (which is a power cycle of the disk), a loop device or node
// that went missing. Returns true when the state changed. With quick=true
// only the due return is looked at (for stat and friends).
bool catch_up(const DiskDir &d, DiskState &s, bool quick = false);

// Unplug and plug again: verification forgotten, locked again if a password
// is set, back at once (under new_dev if given).
void power_cycle(const DiskDir &d, DiskState &s, const std::string &new_dev);

// Erases the private area (see wipe_image) and forgets the verification.
void wipe_private_area(const DiskDir &d, DiskState &s);

// Valid whole-disk name of the kind: for the secure disk /dev/[a-z][a-z0-9]*,
// not ending in a digit; for NVMe /dev/nvme<N>n<M>. Short either way.
bool valid_dev_name(const std::string &dev, DiskKind kind = DiskKind::Secure);

// The node of partition `number` of a disk named `dev`: NAME1 for the secure
// disk, NAMEp1 for NVMe.
std::string partition_node(const std::string &dev, DiskKind kind, int number);

// Is `path` the disk `dev` itself (*whole true) or one of its partitions?
bool names_disk_or_partition(const std::string &path, const std::string &dev, DiskKind kind,
                             bool *whole);

}  // namespace zvsim
