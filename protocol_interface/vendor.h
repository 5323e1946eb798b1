/*
 * The library's vendor, SMART-attribute and trim entry points, built on the
 * operation tables of the transports: the SMART attributes of a named disk
 * as a list, the two vendor command protocols (five sector commands at
 * fixed LBAs on the ATA side, three vendor admin commands on NVMe), a single
 * vendor log transfer, the vendor log command 0xFD, the NVMe system
 * information command 0xC2, and trim.
 *
 * The functions that take a descriptor use one the caller opened (with
 * open_disk_handle) and leave it open; those that take a path open it shared
 * and close it before they return.
 */
#ifndef PROTOCOL_VENDOR_H
#define PROTOCOL_VENDOR_H

#include "protocol_type.h"

/* LBAs of the ATA-side sequence's five steps; the first two words, read as
 * big-endian character pairs, spell "QM7T". */
#define ZV_VENDOR_CMD_STEPS 5
extern const uint32_t G_ZV_VENDOR_CMD[ZV_VENDOR_CMD_STEPS];

/* The protocol core's NVMe signature: four bytes "h47P" in memory (the NVMe
 * transport stamps its own, the same bytes in the opposite order). */
extern const uint32_t g_nvme_vender_signitrue;

/* Reads the raw SMART data of the named disk into buffer (SMART ENABLE
 * OPERATIONS, then READ DATA on the ATA-side transports; the SMART / Health
 * log on NVMe). Returns 0; 3 without a table; 4 when the disk cannot be
 * opened; else the status of the transport's smart operation. */
PROTOCOL_STATUS ptl_get_smart_d0_buffer(const char *disk, SELECT_PROTOCOL_TYPE ptl, uint8_t *buffer,
                                        uint32_t buffer_len);

/* The SMART attributes of the named disk. On 0 *smart receives the list
 * (null when every entry is empty), to be freed with free_smart_d0_list;
 * on failure *smart is untouched. Returns the status of
 * ptl_get_smart_d0_buffer, or 60 when the list could not be allocated. */
PROTOCOL_STATUS ptl_get_smart_d0(const char *disk, SELECT_PROTOCOL_TYPE ptl, PSMART_D0_LIST *smart);

/* The non-empty 12-byte entries of the first 362 bytes of SMART data (from
 * byte 2 for ATA data, byte 0 for NVMe), in order. Returns the head of a
 * new list, or null when there are none, the length is negative, or an
 * allocation failed (nothing is then left allocated). */
PSMART_D0_LIST parse_smart_d0(const uint8_t *v_smart_d0, int32_t v_smart_d0_len, SELECT_PROTOCOL_TYPE ptl);

/* Frees every node of the list. */
void free_smart_d0_list(PSMART_D0_LIST list);

/* The vendor sequence for the request's transport: the NVMe three-command
 * sequence for SELECT_NVME_TYPE, the ATA-side five-command one otherwise. */
PROTOCOL_STATUS zv_vendor(int v_handle, PZV_VENDOR_CMD v_cmd);

/* Three key reads, the argument write and the data phase as sector commands
 * at the LBAs of G_ZV_VENDOR_CMD. Returns 0; 3 without a table; 49 when a
 * key read failed, 50 the argument write, 51 the data read, 52 the data
 * write. */
PROTOCOL_STATUS zv_ata_vendor_five_cmd(int v_handle, PZV_VENDOR_CMD v_cmd);

/* Vendor admin commands 0xF9 (arguments), 0xFC, then 0xFA (read) or 0xF9
 * (write), the subcommand in CDW12. Returns 0; 3 without the NVMe table;
 * else the first failing command's status. */
PROTOCOL_STATUS zv_nvme_vendor_three_cmd(int v_handle, PZV_VENDOR_CMD v_cmd);

/* Not supported: returns 3. */
PROTOCOL_STATUS zv_nvme_vendor_smart(int v_handle, uint8_t *v_buffer, uint32_t v_buffer_len);

/* One READ LOG EXT / WRITE LOG EXT through the SCSI-ATA transport, whatever
 * the request's ptl said (it is set to SELECT_SCSI_ATA_TYPE). Returns the
 * status of its send_cmd operation, or 3 without the table. */
PROTOCOL_STATUS zv_vendor_one_cmd(PZV_VENDOR_ONE_CMD v_cmd);

/* The vendor log command 0xFD through the SCSI-ATA transport (the request's
 * ptl is set to SELECT_SCSI_ATA_TYPE). Returns the status of its send_cmd
 * operation, or 3 without the table. */
PROTOCOL_STATUS send_fd_read_log(P_FD_CMD_ARG v_arg);

/* The NVMe vendor system-information command 0xC2 into *v_info. Returns
 * the status of the NVMe vendor operation, or 3 without the table. */
PROTOCOL_STATUS nvme_0xC2(int v_handle, PNVME_SYS_INFO v_info);

/* Trim is supported on no transport: returns 4 when the disk cannot be
 * opened, else 3 (on NVMe after printing the range). */
PROTOCOL_STATUS ptl_trim(const char *disk, SELECT_PROTOCOL_TYPE ptl, uint64_t lba, uint64_t count);

/* Not supported: returns 3. */
PROTOCOL_STATUS nvme_win_trim(int v_handle, uint64_t lba, uint64_t count);

#endif /* PROTOCOL_VENDOR_H */
