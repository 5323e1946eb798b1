/*
 * The disk service's reset method: the secure disk's vendor reset, after
 * which the disk leaves the bus and comes back (unlocked, after a
 * successful verification).
 */
#ifndef SERVICE_DISK_RESET_H
#define SERVICE_DISK_RESET_H

#include <QByteArray>

#include "disk_access.h"

/* Returns 0 when the disk took the reset (answered GOOD or left the bus),
 * (SCSI status * 256) + 63 when it refused the block, -1 when the ioctl
 * failed, 260 when the device could not be opened, and the refusals of the
 * name and secure-disk checks (55, 58). */
int reset_disk(const disk_access *v_access, const QByteArray &v_devname);

#endif /* SERVICE_DISK_RESET_H */
