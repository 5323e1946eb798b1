/*
 * The disk protocol library's entry points: the registry of transports
 * indexed by protocol selector, opening and closing device handles, and the
 * helpers built on the identify operation.
 *
 * A caller issues a command by looking up the table with get_protocol_func,
 * opening the device, filling a zeroed record (handle, parameters, data_to,
 * buffer, buffer_len, timeout), calling one operation with it, and closing
 * the handle.
 *
 * The SMART-attribute, vendor-command and trim functions are in vendor.h.
 */
#ifndef PROTOCOL_INTERFACE_H
#define PROTOCOL_INTERFACE_H

#include "identify_struct.h"
#include "protocol_interface_version.h"
#include "protocol_type.h"

/* Opens the device read-write: shared when v_share is 1, exclusively
 * (O_EXCL) otherwise. Returns the descriptor, or -1 with errno set. */
int open_disk_handle(const char *v_disk_name, int v_share);
void close_disk_handle(int v_handle);

/* Stores the table at the index of its own ptl, replacing an earlier one. */
void register_protocol(PPROTOCOL_FUNC_S v_protocol_func);

/* Registers the transports on the first call of the process, then returns
 * the table for the selector, or null if it has none. Not thread-safe on
 * the first call. */
PPROTOCOL_FUNC_S get_protocol_func(SELECT_PROTOCOL_TYPE ptl);

/* The operation of a transport that does not support it: returns 3. */
PROTOCOL_STATUS ptl_not_supported(const PPROTOCOL_CMD_S v_cmd);

/* Reads the identify data of the named device and copies a slice of it.
 * Returns 0; 3 without a table; 4 when the device cannot be opened; 53
 * when the slice lies beyond the identify buffer; else the status of the
 * transport's identify operation (data and copy_len then untouched). */
PROTOCOL_STATUS ptl_get_identify(PIDENTIFY_PARAMETER arg);

/* Number of logical sectors from the identify data (ATA page, or the
 * NVMe controller page for the NVMe selectors); 0 when it gives none. */
uint64_t get_capcity(SELECT_PROTOCOL_TYPE ptl, const uint8_t *id);

/* Not supported on this platform: returns 3. */
PROTOCOL_STATUS ptl_get_disk_info(PDISK_INFO_PARAMETER arg);

#endif /* PROTOCOL_INTERFACE_H */
