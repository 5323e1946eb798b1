/*
 * The four data methods of the disk service (getidentify, read, write,
 * send_cmd): every check on what arrived over the bus, then one operation
 * of the SCSI-ATA transport on a freshly opened device.
 */
#ifndef SERVICE_DISK_REQUEST_H
#define SERVICE_DISK_REQUEST_H

#include <QByteArray>

#include "disk_access.h"

enum data_method {
    METHOD_GETIDENTIFY,
    METHOD_READ,
    METHOD_WRITE,
    METHOD_SEND_CMD,
};

/* Largest data area the service allocates or accepts for one command. */
#define SERVICE_MAX_BUFFER_LEN (1024u * 1024u)
/* Longest time limit a caller may ask for, in seconds: the service serves
 * one call at a time, so one command must not hold it for long. */
#define SERVICE_MAX_TIMEOUT_S 600u

/* Runs one data method. v_devname is the UTF-8 device path as received.
 * Returns 0 or a non-zero status (protocol_type.h); outdata is set only on
 * success, and only by getidentify, read and send_cmd. */
PROTOCOL_STATUS run_data_method(const disk_access *v_access, data_method v_method, const QByteArray &v_devname,
                                const QByteArray &v_inbuf, const QByteArray &v_indata, QByteArray &v_outdata);

/* The device-name check shared by every method: no NUL inside, then the
 * access table's own check. */
PROTOCOL_STATUS check_device_name(const disk_access *v_access, const QByteArray &v_devname);

#endif /* SERVICE_DISK_REQUEST_H */
