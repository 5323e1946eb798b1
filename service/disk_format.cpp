/*
 * Formatting the secure disk. The steps and their order: the disk must be
 * the unlocked secure disk (it presents its private area); every mounted
 * file system of the disk is unmounted; mkfs.exfat over the whole disk; a
 * new partition table with one primary partition from 2M to the end, read
 * back before going on; the vendor reset, after which the disk leaves the
 * bus and comes back, possibly under another name, so it is found again by
 * its serial number and signature; its first partition, whatever its name,
 * is unmounted if something mounted it, and gets the NTFS file system. Each
 * tool runs from an argument vector; the command lines below are what is
 * logged and what the result of a silent mkfs.ntfs counts.
 */
#include "disk_format.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "disk_request.h"
#include "disk_reset.h"
#include "tool_runner.h"

#define FORMAT_CMDLINE_MAX 512
#define FORMAT_FAILED 4

/* Identify data: the serial number, the presented sector count. */
#define IDENTIFY_SERIAL_OFFSET  20
#define IDENTIFY_SERIAL_LEN     20
#define IDENTIFY_SECTORS_OFFSET 200
/* A disk presenting at most this many sectors shows its public area. */
#define PUBLIC_AREA_MAX_SECTORS 0x80000ull

/* How long the disk may take to leave the bus after the reset, to come
 * back, and for its partition to appear; how often to look. */
#define DEPARTURE_WAIT_MS 30000
#define RETURN_WAIT_MS    60000
#define PARTITION_WAIT_MS 10000
#define POLL_MS           200

/* The MBR that parted writes: the boot signature and the first entry. */
#define MBR_SIZE            512
#define MBR_ENTRY1_TYPE     450
#define MBR_ENTRY1_SECTORS  458
#define MBR_SIGNATURE       510

/* Formats a command line into the 512-byte buffer; false when it does not fit. */
static bool build_cmdline(char *v_cmdline, const char *v_format, const char *v_a, const char *v_b = NULL)
{
    int n = v_b != NULL ? snprintf(v_cmdline, FORMAT_CMDLINE_MAX, v_format, v_a, v_b)
                        : snprintf(v_cmdline, FORMAT_CMDLINE_MAX, v_format, v_a);
    return n > 0 && n < FORMAT_CMDLINE_MAX;
}

static int finish(int v_result, const char *v_output)
{
    syslog(LOG_INFO, "format ret:%d, buf:%s\n", v_result, v_output);
    return v_result;
}

static void sleep_ms(int v_ms)
{
    struct timespec ts = {v_ms / 1000, (v_ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

struct disk_identity {
    std::string serial;
    uint64_t sectors;
};

static disk_identity identity_of(const uint8_t *v_page)
{
    disk_identity id;
    id.serial.assign(reinterpret_cast<const char *>(v_page + IDENTIFY_SERIAL_OFFSET), IDENTIFY_SERIAL_LEN);
    id.sectors = 0;
    for (int i = 7; i >= 0; i--)
        id.sectors = (id.sectors << 8) | v_page[IDENTIFY_SECTORS_OFFSET + i];
    return id;
}

/* The name check, then the secure-disk signature; the identity on success. */
static int identify_disk(const disk_access *v_access, const QByteArray &v_devname, disk_identity *v_id)
{
    PROTOCOL_STATUS status = check_device_name(v_access, v_devname);
    if (status != PTL_SUCCESS)
        return status;
    int handle = v_access->open(v_devname.constData());
    if (handle == -1)
        return PTL_SERVICE_OPEN_FAILED;
    uint8_t page[IDENTIFY_PAGE_SIZE];
    status = read_secure_identify(v_access, handle, page);
    v_access->close(handle);
    if (status == PTL_SUCCESS)
        *v_id = identity_of(page);
    return status;
}

static bool block_device_number(const char *v_path, dev_t *v_dev)
{
    struct stat st;
    if (stat(v_path, &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    *v_dev = st.st_rdev;
    return true;
}

/* The first line of a sysfs attribute of a block device ("" when absent). */
static std::string sysfs_attribute(dev_t v_dev, const char *v_relative)
{
    char path[128];
    snprintf(path, sizeof(path), "/sys/dev/block/%u:%u/%s", major(v_dev), minor(v_dev), v_relative);
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

static std::string number_text(dev_t v_dev)
{
    return std::to_string(major(v_dev)) + ":" + std::to_string(minor(v_dev));
}

/* Partition v_number of the whole disk v_disk (0: the disk itself). */
static bool is_part_of(dev_t v_dev, dev_t v_disk, int v_number)
{
    if (v_dev == v_disk)
        return v_number == 0;
    std::string number = sysfs_attribute(v_dev, "partition");
    if (number.empty() || sysfs_attribute(v_dev, "../dev") != number_text(v_disk))
        return false;
    return v_number == 0 || number == std::to_string(v_number);
}

/* mountinfo writes a space, tab, newline and backslash as \ooo. */
static std::string unescape_mount_point(const std::string &v_field)
{
    std::string out;
    for (size_t i = 0; i < v_field.size(); i++) {
        if (v_field[i] == '\\' && i + 3 < v_field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; k++) {
                char c = v_field[i + k];
                octal = octal && c >= '0' && c <= '7';
                value = value * 8 + (c - '0');
            }
            if (octal) {
                out += (char)value;
                i += 3;
                continue;
            }
        }
        out += v_field[i];
    }
    return out;
}

/* The mount points, in mount order, of the disk and its partitions. */
static std::vector<std::string> mounts_of(dev_t v_disk)
{
    std::vector<std::string> points;
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point;
        if (!(fields >> id >> parent >> numbers >> root >> point))
            continue;
        unsigned int maj = 0, min = 0;
        if (sscanf(numbers.c_str(), "%u:%u", &maj, &min) != 2 || maj == 0)
            continue;
        if (is_part_of(makedev(maj, min), v_disk, 0))
            points.push_back(unescape_mount_point(point));
    }
    return points;
}

/* Unmounts every file system of the disk, the last mounted first. The
 * service shares the desktop's mount namespace, so these are the user's
 * mounts. Returns 0, or 65 when one stays mounted. */
static int unmount_disk(dev_t v_disk, const char *v_devname)
{
    std::vector<std::string> points = mounts_of(v_disk);
    for (auto it = points.rbegin(); it != points.rend(); ++it) {
        const char *const umount[] = {"umount", it->c_str(), NULL};
        tool_result tool;
        int error = run_tool(umount, &tool);
        if (error != 0 || tool.exit_status != 0)
            syslog(LOG_WARNING, "format umount %s of %s failed\n", it->c_str(), v_devname);
    }
    if (!mounts_of(v_disk).empty()) {
        syslog(LOG_WARNING, "format: %s is in use\n", v_devname);
        return PTL_ERR_DISK_IN_USE;
    }
    return PTL_SUCCESS;
}

/* parted's answer read back from the disk: a valid MBR whose first entry
 * holds a partition. */
static bool has_first_partition(const char *v_devname)
{
    uint8_t mbr[MBR_SIZE];
    int fd = open(v_devname, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = pread(fd, mbr, sizeof(mbr), 0) == (ssize_t)sizeof(mbr);
    close(fd);
    if (!ok || mbr[MBR_SIGNATURE] != 0x55 || mbr[MBR_SIGNATURE + 1] != 0xAA)
        return false;
    uint32_t sectors = (uint32_t)mbr[MBR_ENTRY1_SECTORS] | ((uint32_t)mbr[MBR_ENTRY1_SECTORS + 1] << 8) |
                       ((uint32_t)mbr[MBR_ENTRY1_SECTORS + 2] << 16) | ((uint32_t)mbr[MBR_ENTRY1_SECTORS + 3] << 24);
    return mbr[MBR_ENTRY1_TYPE] != 0 && sectors != 0;
}

/* Waits until a descriptor opened before the reset no longer reaches the
 * disk: then it has left the bus. Bounded; a disk that never leaves is
 * looked for again all the same. */
static void wait_for_departure(const disk_access *v_access, int v_handle)
{
    uint8_t page[IDENTIFY_PAGE_SIZE];
    for (int waited = 0; waited < DEPARTURE_WAIT_MS; waited += POLL_MS) {
        if (read_secure_identify(v_access, v_handle, page) != PTL_SUCCESS)
            return;
        sleep_ms(POLL_MS);
    }
}

/* Looks through the SCSI disks under /dev for the secure disk with this
 * serial number. */
static bool find_by_serial(const disk_access *v_access, const std::string &v_serial, QByteArray *v_found)
{
    DIR *dir = opendir("/dev");
    if (dir == NULL)
        return false;
    bool found = false;
    while (!found) {
        struct dirent *entry = readdir(dir);
        if (entry == NULL)
            break;
        if (strncmp(entry->d_name, "sd", 2) != 0)
            continue;
        QByteArray path("/dev/");
        path.append(entry->d_name);
        disk_identity id;
        if (identify_disk(v_access, path, &id) == PTL_SUCCESS && id.serial == v_serial) {
            *v_found = path;
            found = true;
        }
    }
    closedir(dir);
    return found;
}

/* The disk after its reset, by serial number and signature, whatever its
 * name; 0, or 66 when it did not come back in time. */
static int find_disk_again(const disk_access *v_access, const disk_identity &v_id, QByteArray *v_devname)
{
    for (int waited = 0; waited <= RETURN_WAIT_MS; waited += POLL_MS) {
        if (find_by_serial(v_access, v_id.serial, v_devname))
            return PTL_SUCCESS;
        sleep_ms(POLL_MS);
    }
    return PTL_ERR_DISK_NOT_BACK;
}

/* The first partition's node: "1" after the disk name, "p1" after a name
 * that ends in a digit. It must be partition 1 of that very disk. */
static int find_first_partition(const QByteArray &v_devname, dev_t v_disk, std::string *v_partition)
{
    std::string name = v_devname.constData();
    bool digit = !name.empty() && name.back() >= '0' && name.back() <= '9';
    *v_partition = name + (digit ? "p1" : "1");
    for (int waited = 0; waited <= PARTITION_WAIT_MS; waited += POLL_MS) {
        dev_t part;
        if (block_device_number(v_partition->c_str(), &part) && is_part_of(part, v_disk, 1))
            return PTL_SUCCESS;
        sleep_ms(POLL_MS);
    }
    return PTL_ERR_DISK_NOT_BACK;
}

/* A tool that ran and failed: (exit status * 256) + 59. */
static int tool_failure(const tool_result &v_tool)
{
    return PTL_STATUS(v_tool.exit_status < 0 ? 0xFF : v_tool.exit_status, PTL_ERR_FORMAT_TOOL);
}

int format_disk(const disk_access *v_access, const QByteArray &v_devname)
{
    if (v_devname.isEmpty()) {
        syslog(LOG_WARNING, "format disk failed,devname is empty");
        return finish(FORMAT_FAILED, "");
    }
    disk_identity id;
    int result = identify_disk(v_access, v_devname, &id);
    if (result != PTL_SUCCESS)
        return finish(result, "");
    /* A locked disk (or one without a password) presents its public area,
     * which carries the desktop program: never rewritten. */
    if (id.sectors <= PUBLIC_AREA_MAX_SECTORS) {
        syslog(LOG_WARNING, "format refused: %s presents its public area\n", v_devname.constData());
        return finish(PTL_ERR_DISK_LOCKED, "");
    }

    const char *dev = v_devname.constData();
    dev_t disk;
    if (!block_device_number(dev, &disk))
        return finish(PTL_SERVICE_OPEN_FAILED, "");
    result = unmount_disk(disk, dev);
    if (result != PTL_SUCCESS)
        return finish(result, "");

    char cmdline[FORMAT_CMDLINE_MAX];
    tool_result tool;

    if (!build_cmdline(cmdline, "mkfs.exfat %s 2>/dev/null", dev)) {
        syslog(LOG_WARNING, "generate mkfs.exfat cmd failed\n");
        return finish(FORMAT_FAILED, "");
    }
    const char *const exfat[] = {"mkfs.exfat", dev, NULL};
    int error = run_tool(exfat, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen mkfs.exfat, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }
    if (tool.exit_status != 0)
        return finish(tool_failure(tool), tool.output);

    /* A fresh disk label first: parted cannot add a partition to a disk
     * that has none, and the whole disk now holds the exFAT file system. */
    if (!build_cmdline(cmdline, "parted -s %s mklabel msdos mkpart primary ntfs 2M 100%% 2>/dev/null", dev)) {
        syslog(LOG_WARNING, "generate parted failed: %s\n", dev);
        return finish(FORMAT_FAILED, tool.output);
    }
    const char *const parted[] = {"parted", "-s", dev, "mklabel", "msdos", "mkpart", "primary", "ntfs", "2M",
                                  "100%", NULL};
    error = run_tool(parted, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen parted, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }
    if (tool.exit_status != 0)
        return finish(tool_failure(tool), tool.output);
    if (!has_first_partition(dev)) {
        syslog(LOG_WARNING, "format: no partition on %s after parted\n", dev);
        return finish(PTL_STATUS(0, PTL_ERR_FORMAT_TOOL), tool.output);
    }

    /* A descriptor kept from before the reset tells when the disk has left. */
    int watch = v_access->open(dev);
    int reset = reset_disk(v_access, v_devname);
    if (reset != 0) {
        if (watch != -1)
            v_access->close(watch);
        syslog(LOG_WARNING, "format reset failed: %s, ret:%d\n", dev, reset);
        return finish(reset, tool.output);
    }
    if (watch != -1) {
        wait_for_departure(v_access, watch);
        v_access->close(watch);
    }

    QByteArray again;
    result = find_disk_again(v_access, id, &again);
    if (result != PTL_SUCCESS) {
        syslog(LOG_WARNING, "format: %s did not come back after its reset\n", dev);
        return finish(result, tool.output);
    }
    if (again != v_devname)
        syslog(LOG_INFO, "format: %s came back as %s\n", dev, again.constData());
    disk_identity back;
    if (identify_disk(v_access, again, &back) != PTL_SUCCESS || back.sectors <= PUBLIC_AREA_MAX_SECTORS)
        return finish(PTL_ERR_DISK_LOCKED, tool.output);
    if (!block_device_number(again.constData(), &disk))
        return finish(PTL_ERR_DISK_NOT_BACK, tool.output);
    std::string partition;
    result = find_first_partition(again, disk, &partition);
    if (result != PTL_SUCCESS) {
        syslog(LOG_WARNING, "format: no first partition on %s\n", again.constData());
        return finish(result, tool.output);
    }
    result = unmount_disk(disk, again.constData());
    if (result != PTL_SUCCESS)
        return finish(result, tool.output);

    if (!build_cmdline(cmdline, "mkfs.ntfs -f -L %s %s 2>/dev/null", FORMAT_VOLUME_LABEL, partition.c_str())) {
        syslog(LOG_WARNING, "generate mkfs.ntfs cmd failed: %s\n", dev);
        return finish(FORMAT_FAILED, tool.output);
    }
    const char *const ntfs[] = {"mkfs.ntfs", "-f", "-L", FORMAT_VOLUME_LABEL, partition.c_str(), NULL};
    error = run_tool(ntfs, &tool);
    if (error != 0) {
        syslog(LOG_WARNING, "popen mkfs.ntfs, errno=%d\n", error);
        return finish(FORMAT_FAILED, "");
    }

    if (tool.exit_status != 0)
        result = tool_failure(tool);
    else if (tool.output[0] == '\0')
        result = (int)strlen(cmdline);
    else
        result = PTL_SUCCESS;
    return finish(result, tool.output);
}
