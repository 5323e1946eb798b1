/*
 * The SCSI-ATA transport: ATA commands wrapped in ATA PASS-THROUGH (16)
 * blocks for a disk behind a SCSI/ATA Translation bridge (a USB bridge).
 */
#ifndef LINUX_SCSI_ATA_H
#define LINUX_SCSI_ATA_H

#include "../protocol_type.h"

/* Registers the scsi_ata operation table under SELECT_SCSI_ATA_TYPE. */
void register_scsi_ata(void);

#endif /* LINUX_SCSI_ATA_H */
