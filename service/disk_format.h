/*
 * The disk service's format method: a new partition table with one
 * partition over the secure disk's data area, and an NTFS file system on it.
 */
#ifndef SERVICE_DISK_FORMAT_H
#define SERVICE_DISK_FORMAT_H

#include <QByteArray>

#include "disk_access.h"

/* The volume label of a formatted secure disk ("secure disk"). */
#define FORMAT_VOLUME_LABEL "\xE5\xAE\x89\xE5\x85\xA8\xE7\x9B\x98" /* 安全盘 in UTF-8 */

/* Returns 0 on success. 4: empty name, or a tool that cannot be started;
 * 64 for a disk that presents its public area (locked, or no password
 * verified); 65 when a mounted file system of the disk cannot be unmounted;
 * (exit status * 256) + 59 when mkfs.exfat, parted or mkfs.ntfs failed, 59
 * when parted left no partition; the reset's status when the reset step
 * fails; 66 when the disk (or its first partition) was not found again
 * after the reset; the length of the mkfs.ntfs command line when it printed
 * nothing; the refusals of the name and secure-disk checks. */
int format_disk(const disk_access *v_access, const QByteArray &v_devname);

#endif /* SERVICE_DISK_FORMAT_H */
