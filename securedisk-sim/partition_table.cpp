// Partition tables read in user space and registered with BLKPG (see
// partition_table.h).
#include "partition_table.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/blkpg.h>
#include <linux/fs.h>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>

#include "backing_store.h"
#include "byte_order.h"
#include "controller_datasheet.h"

namespace zvsim {

namespace {
constexpr size_t kMbrTableOffset = 446;
constexpr size_t kMbrEntryLen = 16;
constexpr size_t kMbrEntries = 4;
constexpr size_t kMbrSignatureOffset = 510;
constexpr uint8_t kMbrTypeGptProtective = 0xEE;
constexpr int kMaxLogical = 64;
constexpr const char kGptSignature[] = "EFI PART";
constexpr uint32_t kGptMaxEntries = 256;
constexpr int kMaxPartitionNumber = 256;

bool read_sector(int fd, uint64_t lba, uint8_t *buf) {
    size_t done = 0;
    while (done < kSectorSize) {
        ssize_t n = ::pread(fd, buf + done, kSectorSize - done,
                            static_cast<off_t>(lba * kSectorSize + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool is_extended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool fits(uint64_t start, uint64_t sectors, uint64_t device_sectors) {
    return sectors > 0 && start < device_sectors && sectors <= device_sectors - start;
}

std::vector<PartitionExtent> read_gpt(int fd, uint64_t device_sectors) {
    std::vector<PartitionExtent> parts;
    uint8_t hdr[kSectorSize];
    if (!read_sector(fd, 1, hdr) || std::memcmp(hdr, kGptSignature, 8) != 0) return parts;
    const uint64_t entries_lba = get_le64(hdr + 72);
    const uint32_t count = std::min(get_le32(hdr + 80), kGptMaxEntries);
    const uint32_t entry_len = get_le32(hdr + 84);
    if (entry_len < 128 || entry_len > kSectorSize || kSectorSize % entry_len) return parts;
    const uint32_t per_sector = kSectorSize / entry_len;
    uint8_t sec[kSectorSize];
    for (uint32_t i = 0; i < count; ++i) {
        if (i % per_sector == 0 && !read_sector(fd, entries_lba + i / per_sector, sec)) break;
        const uint8_t *e = sec + (i % per_sector) * entry_len;
        static const uint8_t unused[16] = {};
        if (std::memcmp(e, unused, 16) == 0) continue;
        uint64_t first = get_le64(e + 32), last = get_le64(e + 40);
        if (last < first || !fits(first, last - first + 1, device_sectors)) continue;
        parts.push_back({static_cast<int>(i + 1), first, last - first + 1});
    }
    return parts;
}
}  // namespace

std::vector<PartitionExtent> read_partition_table(int fd, uint64_t device_sectors) {
    std::vector<PartitionExtent> parts;
    uint8_t mbr[kSectorSize];
    if (!read_sector(fd, 0, mbr) || mbr[kMbrSignatureOffset] != 0x55 ||
        mbr[kMbrSignatureOffset + 1] != 0xAA)
        return parts;
    for (size_t i = 0; i < kMbrEntries; ++i)
        if (mbr[kMbrTableOffset + i * kMbrEntryLen + 4] == kMbrTypeGptProtective)
            return read_gpt(fd, device_sectors);

    int next_logical = 5;
    for (size_t i = 0; i < kMbrEntries; ++i) {
        const uint8_t *e = mbr + kMbrTableOffset + i * kMbrEntryLen;
        const uint8_t type = e[4];
        const uint64_t start = get_le32(e + 8), sectors = get_le32(e + 12);
        if (type == 0 || !fits(start, sectors, device_sectors)) continue;
        if (!is_extended(type)) {
            parts.push_back({static_cast<int>(i + 1), start, sectors});
            continue;
        }
        // The chain of extended boot records, each relative to the first.
        uint64_t ebr = start;
        std::set<uint64_t> seen;
        for (int n = 0; n < kMaxLogical && seen.insert(ebr).second; ++n) {
            uint8_t sec[kSectorSize];
            if (!read_sector(fd, ebr, sec) || sec[kMbrSignatureOffset] != 0x55 ||
                sec[kMbrSignatureOffset + 1] != 0xAA)
                break;
            const uint8_t *l = sec + kMbrTableOffset;
            const uint64_t lstart = ebr + get_le32(l + 8), lsize = get_le32(l + 12);
            if (l[4] != 0 && fits(lstart, lsize, device_sectors))
                parts.push_back({next_logical++, lstart, lsize});
            const uint8_t *link = l + kMbrEntryLen;
            if (!is_extended(link[4])) break;
            ebr = start + get_le32(link + 8);
        }
    }
    return parts;
}

void register_partitions(const std::string &loopdev) {
    int fd = ::open(loopdev.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) {
        std::set<int> known;
        for (const auto &p : loop_partitions(loopdev)) known.insert(p.number);
        for (const auto &p : read_partition_table(fd, bytes / kSectorSize)) {
            if (known.count(p.number) || p.number > kMaxPartitionNumber) continue;
            blkpg_partition part;
            std::memset(&part, 0, sizeof part);
            part.start = static_cast<long long>(p.start_lba * kSectorSize);
            part.length = static_cast<long long>(p.sectors * kSectorSize);
            part.pno = p.number;
            blkpg_ioctl_arg arg;
            std::memset(&arg, 0, sizeof arg);
            arg.op = BLKPG_ADD_PARTITION;
            arg.datalen = sizeof part;
            arg.data = &part;
            ::ioctl(fd, BLKPG, &arg);   // an overlapping entry is refused; skip it
        }
    }
    ::close(fd);
}

void drop_partitions(const std::string &loopdev) {
    int fd = ::open(loopdev.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    for (const auto &p : loop_partitions(loopdev)) {
        blkpg_partition part;
        std::memset(&part, 0, sizeof part);
        part.pno = p.number;
        blkpg_ioctl_arg arg;
        std::memset(&arg, 0, sizeof arg);
        arg.op = BLKPG_DEL_PARTITION;
        arg.datalen = sizeof part;
        arg.data = &part;
        ::ioctl(fd, BLKPG, &arg);   // refused while the partition is open
    }
    ::close(fd);
}

}  // namespace zvsim
