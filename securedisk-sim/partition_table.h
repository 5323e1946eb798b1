// Partition tables of a data area, read in user space (MBR with extended
// partitions, and GPT) and registered with the kernel through BLKPG, the way
// `partx -a` does. A presented area gets its partitions this way even on
// kernels built without partition-table parsers, where the loop driver's
// own scan finds nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvsim {

struct PartitionExtent {
    int number;           // 1-4 primary / GPT entry + 1, 5... logical
    uint64_t start_lba;   // in 512-byte sectors
    uint64_t sectors;
};

// Reads the partition table of a block device or image ({} when none).
std::vector<PartitionExtent> read_partition_table(int fd, uint64_t device_sectors);

// Gives the kernel the partitions of `loopdev`'s table that it does not
// know yet (a kernel that scanned them itself already has them).
void register_partitions(const std::string &loopdev);

// Tells the kernel to forget every partition of `loopdev` not in use.
void drop_partitions(const std::string &loopdev);

}  // namespace zvsim
