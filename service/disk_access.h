/*
 * How the disk service reaches a disk: the checks on a device name that
 * arrives over the bus, opening and closing it, the transport it uses and
 * the secure-disk test. The request handlers take these as a table so that
 * the fuzz target can put a fake device behind them.
 */
#ifndef SERVICE_DISK_ACCESS_H
#define SERVICE_DISK_ACCESS_H

#include "protocol_type.h"

struct disk_access {
    /* 0 for a plain whole-disk block-device path under /dev; 260 when no
     * such path exists (or the name is empty); 55 for anything else. */
    PROTOCOL_STATUS (*check_device)(const char *v_path);
    /* A descriptor opened read-write and shared, or -1. */
    int (*open)(const char *v_path);
    void (*close)(int v_handle);
    /* The operation table of the SCSI-ATA transport. */
    PPROTOCOL_FUNC_S (*transport)(void);
    /* Sends the vendor reset command block: 0 when the disk took it (it
     * answered GOOD, or left the bus: a host or driver status, or ENODEV);
     * (SCSI status * 256) + 63 when it refused the block; -1 when the ioctl
     * failed otherwise. */
    int (*send_reset)(int v_handle);
};

/* The real disks of the machine. */
extern const disk_access g_system_disks;

/* Longest device path accepted: it must fit the GUI's 32-byte disk name. */
#define DEVICE_PATH_MAX 31

/* 0 when the open disk answers IDENTIFY DEVICE with the secure-disk
 * signature; 58 when it does not carry it or does not answer. */
PROTOCOL_STATUS check_secure_disk(const disk_access *v_access, int v_handle);

/* As check_secure_disk, keeping the 512-byte identify page in v_page. */
#define IDENTIFY_PAGE_SIZE 512
PROTOCOL_STATUS read_secure_identify(const disk_access *v_access, int v_handle, uint8_t *v_page);

/* The character rule alone: "/dev/" and then a lower-case letter followed
 * by lower-case letters and digits, at most DEVICE_PATH_MAX in all. */
bool is_plain_device_path(const char *v_path);

#endif /* SERVICE_DISK_ACCESS_H */
