// The disk behind the Linux kernel's SCSI stack: a TCMU ("user") backstore of
// the kernel's target layer, exported through the tcm_loop fabric, so that
// the kernel probes a real SCSI disk (/dev/sdX, /dev/sgN) and every command
// the kernel or a program sends it arrives in the backstore's command ring.
// The ring is answered by the same bridge and controller the preload uses.
// The vendor reset takes the logical unit off the fabric and puts it back
// after the re-enumeration time, so the kernel probes the disk anew.
#pragma once

#include <string>

namespace zvsim {

struct ServeOptions {
    std::string dir;    // the disk's state directory
    std::string name;   // backstore name; empty: "zv" + the serial, lower case
    std::string configfs = "/sys/kernel/config/target";
    // Rewritten with "generation=N" each time the kernel has probed the disk
    // (N: the state's generation then), so that callers can wait for it.
    std::string ready_file;
};

// Serves until SIGTERM or SIGINT, then takes the disk off the fabric and
// removes every configfs object it made. Returns the exit status.
int serve_disk(const ServeOptions &opts);

}  // namespace zvsim
