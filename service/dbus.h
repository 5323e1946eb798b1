/*
 * The object the disk service exports at "/" on the system bus. Its public
 * slots are the interface com.varo.zvsecurity.dbus
 * (com.varo.zvsecurity.dbus.xml); it keeps no state between calls.
 *
 * Every call is checked before any device is touched: a data method's
 * record must be a command of the installed catalogue, and polkit must let
 * the sender do what the call does (com.varo.zvsecurity.policy). A caller
 * polkit refuses gets org.freedesktop.DBus.Error.AccessDenied.
 */
#ifndef SERVICE_DBUS_H
#define SERVICE_DBUS_H

#include <QByteArray>
#include <QDBusContext>
#include <QObject>
#include <QString>

#include "caller_check.h"
#include "disk_request.h"
#include "service_action.h"

class dbus : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.varo.zvsecurity.dbus")

public:
    explicit dbus(QObject *parent = nullptr);

public slots:
    /**
     * Reads the IDENTIFY DEVICE data of any whole disk.
     * @param devname block-device path, e.g. /dev/sdb
     * @param inbuf the 600-byte command record; its buffer_len is the length read
     * @param indata unused
     * @param outdata receives buffer_len bytes on success
     * @return 0, or a status of the protocol library or the service
     */
    int getidentify(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);

    /**
     * Runs the record's read-or-write command (direction from data_to) on the
     * secure disk with a zeroed data area of buffer_len bytes.
     * @return 0 with outdata holding buffer_len bytes, or a non-zero status
     */
    int read(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);

    /**
     * Runs the record's read-or-write command on the secure disk with indata
     * as the data area. outdata stays empty.
     * @return 0, or a non-zero status
     */
    int write(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);

    /**
     * Runs the record's pass-through command on the secure disk with indata
     * as the data area in both directions.
     * @return 0 with outdata holding the first buffer_len bytes of the data
     *         area as the device left it, or a non-zero status
     */
    int send_cmd(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);

    /**
     * Sends the vendor reset to the secure disk.
     * @return 0 when SG_IO accepted it, -1 when the ioctl failed, 260 when
     *         the device could not be opened, or a refusal of the checks
     */
    int reset(const QString &devname);

    /**
     * Partitions the secure disk and makes an NTFS file system labelled
     * 安全盘 on its first partition. Takes at least seven seconds.
     * @return 0 on success, or a non-zero status
     */
    int format(const QString &devname);

private:
    int data_call(data_method v_method, const char *v_name, const QString &v_devname, const QByteArray &v_inbuf,
                  const QByteArray &v_indata, QByteArray &v_outdata);
    /* reset and format: polkit, the handler, the record in the log. */
    int device_call(service_action v_action, const char *v_name, const QString &v_devname,
                    int (*v_handler)(const disk_access *, const QByteArray &));
    /* polkit's answer for the sender of the current message; on a refusal
     * the error reply is already sent. */
    bool authorize(service_action v_action, const char *v_method, bus_caller &v_caller);
};

#endif /* SERVICE_DBUS_H */
