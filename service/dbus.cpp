/*
 * The exported slots: each hands the call, as received, to its handler.
 */
#include "dbus.h"

#include "disk_format.h"
#include "disk_request.h"
#include "disk_reset.h"

dbus::dbus(QObject *parent) : QObject(parent) {}

int dbus::getidentify(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return run_data_method(&g_system_disks, METHOD_GETIDENTIFY, devname.toUtf8(), inbuf, indata, outdata);
}

int dbus::read(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return run_data_method(&g_system_disks, METHOD_READ, devname.toUtf8(), inbuf, indata, outdata);
}

int dbus::write(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return run_data_method(&g_system_disks, METHOD_WRITE, devname.toUtf8(), inbuf, indata, outdata);
}

int dbus::send_cmd(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return run_data_method(&g_system_disks, METHOD_SEND_CMD, devname.toUtf8(), inbuf, indata, outdata);
}

int dbus::reset(const QString &devname)
{
    return reset_disk(&g_system_disks, devname.toUtf8());
}

int dbus::format(const QString &devname)
{
    return format_disk(&g_system_disks, devname.toUtf8());
}
