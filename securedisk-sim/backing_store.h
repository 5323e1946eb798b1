// The data areas' backing: sparse image files, the real loop devices they
// are attached to (with partition scanning, as `losetup -P` does), and the
// block-device nodes under /dev that give the simulated disk its name.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zvsim {

struct BlockPartition {
    int number;        // 1, 2, ...
    dev_t devnum;      // major:minor of loopNpK
};

// Creates (or replaces) a sparse image of the given size.
void create_sparse_image(const std::string &path, uint64_t bytes);

// Attaches the image to a free loop device with partition scanning.
// Returns "/dev/loopN".
std::string attach_loop(const std::string &image);
// Detaches `loopdev` if (and only if) it is backed by `image`. A loop device
// that someone still holds open is detached at its last close.
void detach_loop(const std::string &loopdev, const std::string &image);
// Loop devices currently backed by `image`.
std::vector<std::string> loops_backed_by(const std::string &image);
// The backing file the kernel reports for /dev/loopN ("" if unbound).
std::string loop_backing_file(const std::string &loopdev);

// major:minor of a whole block device under /sys/block (by kernel name).
bool sysfs_devnum(const std::string &kernel_name, dev_t *devnum);
std::vector<BlockPartition> loop_partitions(const std::string &loopdev);

// Makes a block-device node; refuses to replace anything that exists.
void make_block_node(const std::string &path, dev_t devnum);
// Removes a node if it is a block device (never a file of someone else).
void remove_block_node(const std::string &path);

// Writes dirty pages back and drops the page cache of a block device.
void flush_block_device(const std::string &path);
// Replaces the whole content of the image by zeros: when no loop device
// holds it the image is recreated sparse, otherwise its blocks are punched
// out and the caches of every loop device (and its partitions) over it are
// dropped so that no stale data can be read back.
void wipe_image(const std::string &path, uint64_t bytes);

bool running_as_root();

}  // namespace zvsim
