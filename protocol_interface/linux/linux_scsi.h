/*
 * The SCSI transport, for devices addressed as plain SCSI block devices.
 */
#ifndef LINUX_SCSI_H
#define LINUX_SCSI_H

#include "../protocol_type.h"

/* Registers the scsi operation table under SELECT_SCSI_TYPE. */
void register_scsi(void);

#endif /* LINUX_SCSI_H */
