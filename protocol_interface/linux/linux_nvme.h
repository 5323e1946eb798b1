/*
 * The NVMe transport, through the Linux NVMe pass-through requests
 * (NVME_IOCTL_ADMIN_CMD, NVME_IOCTL_SUBMIT_IO, NVME_IOCTL_ID) rather than
 * SG_IO, and the printers that show its requests while debugging.
 */
#ifndef LINUX_NVME_H
#define LINUX_NVME_H

#include <sys/ioctl.h>
#include <linux/nvme_ioctl.h>

#include "../protocol_type.h"

/* Registers the nvme operation table under SELECT_NVME_TYPE. */
void register_nvme(void);

/* A pass-through of the record's own request, not offered by this
 * transport: returns 3. */
PROTOCOL_STATUS nvme_ioctl(const PPROTOCOL_CMD_S v_cmd);

/* Debug print of a request on standard output: every field on a line of
 * its own under a begin (v_is_begin non-zero) or end banner, then a hex
 * dump of its data area when it has one. */
void print_nvme_io_cmd(const struct nvme_user_io *v_io, int v_is_begin);
void print_nvme_passthru_cmd(const struct nvme_passthru_cmd *v_cmd, int v_is_begin);

#endif /* LINUX_NVME_H */
