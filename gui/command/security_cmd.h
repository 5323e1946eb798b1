/*
 * The command wrappers: one request of the security disk model, one call of
 * the disk service. The four data wrappers build the command record from
 * the catalogue (build_cmd), send it through DbusInterface and copy back
 * what the request asks for; reset and format pass the device name only.
 * They keep no state, log nothing and never retry.
 */
#ifndef GUI_SECURITY_CMD_H
#define GUI_SECURITY_CMD_H

#include <stdint.h>

#include "command_status.h"

#define USER_DATA_SIZE 512

/* One request. The caller zeroes it, then fills it. */
typedef struct _USER_DATA_ {
    const char *dev_name;           /* block-device path; null is sent as an empty name */
    const char *cmd_name;           /* the operation ("identify", "sendcmd", "write", "read"); not read here */
    const char *sub_name;           /* catalogue sub-name; read by identify and send_cmd */
    char in_data[USER_DATA_SIZE];   /* zero-terminated parameter string (password, prompt) */
    uint8_t out_data[USER_DATA_SIZE]; /* identify data, data read, or the data block written */
    uint32_t out_len;               /* the command's buffer_len */
} _USER_DATA_;

/*
 * Every wrapper returns 0 on success; the catalogue's 13 or 14, or one of
 * the refusals -8 to -11 of command_status.h, before anything is sent; a
 * CMD_ERR_BUS_* status when the bus failed; otherwise the service's status.
 */

/* IDENTIFY DEVICE data of dev_name, length and time-out from the entry
 * sub_name under "sendcmd". On 0 the answer is at the start of out_data
 * and out_len is the command's length; otherwise both are untouched. */
int identify(_USER_DATA_ *v_data);

/* The "readparam" entry. On 0 the data read is at the start of out_data;
 * once sent, out_len is the command's length whatever the status. */
int read(_USER_DATA_ *v_data);

/* The "writeparam" entry with in_data placed in its data block. Once sent,
 * out_data holds the block as built and out_len its length, whatever the
 * status. */
int write(_USER_DATA_ *v_data);

/* The entry sub_name under "sendcmd" with in_data placed in its data
 * block. out_data and out_len stay untouched. */
int send_cmd(_USER_DATA_ *v_data);

/* The service's vendor reset of dev_name. */
int reset(_USER_DATA_ *v_data);

/* The service's partitioning and formatting of dev_name. */
int format(_USER_DATA_ *v_data);

#endif /* GUI_SECURITY_CMD_H */
