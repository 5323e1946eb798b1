/*
 * The statuses of the GUI's command layer itself. Everything else a command
 * wrapper returns is the disk service's status, passed through unchanged
 * (protocol_type.h holds that table: 0 success, 260 device not openable,
 * 55 to 59 and 70 to 72 the service's refusals, -1 reset ioctl failed).
 *
 * A failure of the bus never reads as success: each kind has a negative
 * value of its own below -1, so that it cannot meet a service status.
 */
#ifndef GUI_COMMAND_STATUS_H
#define GUI_COMMAND_STATUS_H

enum CMD_STATUS_E {
    CMD_SUCCESS = 0,

    /* Catalogue (build_cmd) */
    CMD_ERR_CATALOGUE = 13,        /* SecurityCmd.xml missing or unreadable, entry or node not found */
    CMD_ERR_CATEGORY = 14,         /* category none of "identify", "read", "write", "sendcmd" */

    /* The bus (DbusInterface) */
    CMD_ERR_BUS_NOT_CONNECTED = -2, /* no connection to the system bus */
    CMD_ERR_BUS_NO_SERVICE = -3,    /* nobody owns com.varo.zvsecurity.dbus */
    CMD_ERR_BUS_ACCESS_DENIED = -4, /* the bus policy or polkit refused the call */
    CMD_ERR_BUS_NO_REPLY = -5,      /* no answer within the call's time-out */
    CMD_ERR_BUS_BAD_REPLY = -6,     /* an answer of another form than the interface declares */
    CMD_ERR_BUS_ERROR_REPLY = -7,   /* any other error answer */

    /* Bounds, refused before anything is sent */
    CMD_ERR_SECTOR_COUNT = -8,     /* catalogue sectorCount below 1 or above CATALOGUE_MAX_SECTOR_COUNT (catalogue_entry.h) */
    CMD_ERR_FIELD_RANGE = -9,      /* a field offset plus the parameter length leaves the data block */
    CMD_ERR_DATA_TOO_LONG = -10,   /* data block (or answer) longer than the request's 512-byte out_data */
    CMD_ERR_PARAM_UNTERMINATED = -11, /* in_data holds no terminating zero in its 512 bytes */
};

#endif /* GUI_COMMAND_STATUS_H */
