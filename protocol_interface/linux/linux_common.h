/*
 * The one place where the library talks to the Linux SG_IO interface: every
 * SCSI command block of the SCSI-ATA and SCSI transports is issued by
 * sg_scsi_cdb, which turns the completion into a PROTOCOL_STATUS.
 */
#ifndef LINUX_COMMON_H
#define LINUX_COMMON_H

#include <scsi/sg.h>

#include "../protocol_type.h"

#define SG_SENSE_LEN 64
#define SG_MAX_CDB_LEN 255 /* sg_io_hdr.cmd_len is one byte */

/* Fills the SG_IO header for one command; clears the first 64 bytes of the
 * sense area. v_direction is a DATA_TO value. Returns 0. */
int init_sg(struct sg_io_hdr *v_hdr, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
            void *v_buffer, uint32_t v_buffer_len, uint32_t v_timeout_s, uint8_t *v_sense);

/* Issues one command block through SG_IO on v_handle. Returns 0 on success;
 * 4 for handle -1; 54 for a block longer than SG_IO carries;
 * (errno * 256) + 11 when the ioctl fails; (field * 256) + 20..24 for the
 * first non-zero completion field; (category * 256) + 44 when sg3_utils
 * classifies the completion as an error. */
PROTOCOL_STATUS sg_scsi_cdb(int v_handle, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                            void *v_buffer, uint32_t v_buffer_len, uint32_t v_timeout_s, uint8_t *v_sense);

/* As sg_scsi_cdb, for a command that must move v_expected bytes: a read
 * that completed but moved fewer (the residue says so) is 61. */
PROTOCOL_STATUS sg_scsi_transfer(int v_handle, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                                 void *v_buffer, uint32_t v_buffer_len, uint32_t v_expected, uint32_t v_timeout_s,
                                 uint8_t *v_sense);

/* 61 when a completed data-in command moved fewer than v_expected bytes
 * (dxfer_len less the residue); 0 otherwise and for any other direction. */
PROTOCOL_STATUS check_transfer(const struct sg_io_hdr *v_hdr, uint32_t v_expected);

/* (value * 256) + 20, 21, 22, 23 or 24 for the first non-zero of status,
 * masked_status, msg_status, host_status, driver_status; else 0. */
PROTOCOL_STATUS check_sg_status(const struct sg_io_hdr *v_hdr);

/* Debug print of a command: v_before non-zero prints the header, the block
 * and outgoing data; zero prints incoming data and the sense area. */
void print_sg_cmd(const struct sg_io_hdr *v_hdr, int v_before);

#endif /* LINUX_COMMON_H */
