/*
 * The four data methods of the disk service (getidentify, read, write,
 * send_cmd): every check on what arrived over the bus, the match against
 * the installed command catalogue, then one operation of the SCSI-ATA
 * transport on a freshly opened device.
 */
#ifndef SERVICE_DISK_REQUEST_H
#define SERVICE_DISK_REQUEST_H

#include <QByteArray>

#include <string>
#include <vector>

#include "catalogue_entry.h"
#include "disk_access.h"
#include "service_action.h"

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

/* A data method that passed every check: the service's copy of the record,
 * the catalogue entry it is, and what it does to the disk. */
struct data_request {
    data_method method;
    PROTOCOL_CMD_S cmd;
    std::string subname;
    service_action action;
};

/**
 * Checks a data method's arguments without touching any device: the device
 * name, the record's size and caps, and that the record is a command of the
 * catalogue for this method with no more data and time than its entry.
 * getidentify is matched against the catalogue's IDENTIFY DEVICE entry by
 * length and time limit (the transport always sends IDENTIFY DEVICE).
 * @return 0 with v_request filled, or the refusal (55 to 57, 70, 71)
 */
PROTOCOL_STATUS check_data_method(const disk_access *v_access, const std::vector<catalogue_command> &v_catalogue,
                                  data_method v_method, const QByteArray &v_devname, const QByteArray &v_inbuf,
                                  const QByteArray &v_indata, data_request &v_request);

/* Runs a checked request: opens the device, checks it is the secure disk
 * (but for getidentify), runs the operation and closes the device. Returns
 * 0 or a non-zero status (protocol_type.h); outdata is set only on success,
 * and only by getidentify, read and send_cmd. */
PROTOCOL_STATUS execute_data_method(const disk_access *v_access, const QByteArray &v_devname,
                                    data_request &v_request, const QByteArray &v_indata, QByteArray &v_outdata);

/* Both steps, for a caller that is allowed everything. */
PROTOCOL_STATUS run_data_method(const disk_access *v_access, const std::vector<catalogue_command> &v_catalogue,
                                data_method v_method, const QByteArray &v_devname, const QByteArray &v_inbuf,
                                const QByteArray &v_indata, QByteArray &v_outdata);

/* The device-name check shared by every method: no NUL inside, then the
 * access table's own check. */
PROTOCOL_STATUS check_device_name(const disk_access *v_access, const QByteArray &v_devname);

/* The installed catalogue: <directory of the running executable>/../lib/
 * zvsecurity/SecurityCmd.xml, never a path a caller could name. */
std::string installed_catalogue_path();

#endif /* SERVICE_DISK_REQUEST_H */
