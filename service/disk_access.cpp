/*
 * The disk service's access to the machine's disks. A device name comes
 * from an unprivileged caller, so it must be a plain whole-disk block device
 * before the service opens it, and the disk must prove to be the secure disk
 * before the service sends it anything but IDENTIFY.
 */
#include "disk_access.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "protocol_interface.h"

#define SECURE_DISK_SIGNATURE_OFFSET 262
#define SECURE_DISK_SIGNATURE_LOW    0x44 /* the word 0x5344, little-endian */
#define SECURE_DISK_SIGNATURE_HIGH   0x53
#define IDENTIFY_TIMEOUT_S           10

bool is_plain_device_path(const char *v_path)
{
    static const char prefix[] = "/dev/";
    size_t len = strlen(v_path);
    if (len > DEVICE_PATH_MAX || strncmp(v_path, prefix, sizeof(prefix) - 1) != 0)
        return false;
    const char *name = v_path + sizeof(prefix) - 1;
    if (*name < 'a' || *name > 'z')
        return false;
    for (const char *c = name; *c != '\0'; c++)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9')))
            return false;
    return true;
}

static PROTOCOL_STATUS check_system_device(const char *v_path)
{
    if (v_path[0] == '\0')
        return PTL_SERVICE_OPEN_FAILED; /* nothing to open */
    if (!is_plain_device_path(v_path))
        return PTL_ERR_BAD_DEVICE_NAME;
    struct stat st;
    if (stat(v_path, &st) != 0)
        return errno == ENOENT ? PTL_SERVICE_OPEN_FAILED : PTL_ERR_BAD_DEVICE_NAME;
    if (!S_ISBLK(st.st_mode))
        return PTL_ERR_BAD_DEVICE_NAME;
    /* A partition has a "partition" attribute in sysfs; a whole disk has none. */
    char attr[64];
    snprintf(attr, sizeof(attr), "/sys/dev/block/%u:%u/partition", major(st.st_rdev), minor(st.st_rdev));
    if (access(attr, F_OK) == 0)
        return PTL_ERR_BAD_DEVICE_NAME;
    return PTL_SUCCESS;
}

static int open_shared(const char *v_path)
{
    return open_disk_handle(v_path, 1);
}

static PPROTOCOL_FUNC_S scsi_ata_transport(void)
{
    return get_protocol_func(SELECT_SCSI_ATA_TYPE);
}

/* The secure disk's vendor reset: a 16-byte block without data, sense area
 * or time limit of its own (the kernel's default applies). The disk obeys by
 * leaving the bus, which the host sees as a host or driver status, or as
 * ENODEV; a disk that answers with a SCSI status refused the block. */
#define SG_FLAG_LUN_INHIBIT 2
#define SG_DRIVER_SENSE     0x08 /* driver_status beside a CHECK CONDITION: sense data exist */

static int send_vendor_reset(int v_handle)
{
    uint8_t cdb[16] = {0};
    cdb[0] = 0xEE;
    cdb[1] = 0xB0;
    cdb[6] = 0x62;
    cdb[8] = 0x04;
    cdb[12] = 0xAA;
    cdb[13] = 0x99;

    struct sg_io_hdr hdr;
    memset(&hdr, 0, sizeof(hdr));
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_TO_DEV;
    hdr.cmd_len = sizeof(cdb);
    hdr.cmdp = cdb;
    hdr.flags = SG_FLAG_LUN_INHIBIT;
    if (ioctl(v_handle, SG_IO, &hdr) < 0)
        return errno == ENODEV ? 0 : -1;
    if (hdr.host_status != 0 || (hdr.driver_status & ~SG_DRIVER_SENSE) != 0)
        return 0;
    if (hdr.status != 0)
        return PTL_STATUS(hdr.status, PTL_ERR_RESET_REFUSED);
    return 0;
}

const disk_access g_system_disks = {
    check_system_device,
    open_shared,
    close_disk_handle,
    scsi_ata_transport,
    send_vendor_reset,
};

PROTOCOL_STATUS check_secure_disk(const disk_access *v_access, int v_handle)
{
    uint8_t page[IDENTIFY_PAGE_SIZE];
    return read_secure_identify(v_access, v_handle, page);
}

PROTOCOL_STATUS read_secure_identify(const disk_access *v_access, int v_handle, uint8_t *v_page)
{
    uint8_t *page = v_page;
    PROTOCOL_CMD_S cmd;
    memset(page, 0, IDENTIFY_PAGE_SIZE);
    memset(&cmd, 0, sizeof(cmd));
    cmd.handle = v_handle;
    cmd.data_to = DATA_FROM_DEV;
    cmd.buffer = page;
    cmd.buffer_len = IDENTIFY_PAGE_SIZE;
    cmd.timeout = IDENTIFY_TIMEOUT_S;
    if (v_access->transport()->identify(&cmd) != PTL_SUCCESS)
        return PTL_ERR_NOT_SECURE_DISK;
    if (page[SECURE_DISK_SIGNATURE_OFFSET] != SECURE_DISK_SIGNATURE_LOW ||
        page[SECURE_DISK_SIGNATURE_OFFSET + 1] != SECURE_DISK_SIGNATURE_HIGH)
        return PTL_ERR_NOT_SECURE_DISK;
    return PTL_SUCCESS;
}
