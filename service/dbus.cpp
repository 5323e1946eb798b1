/*
 * The exported slots: each checks the call (arguments, catalogue, polkit),
 * hands it to its handler and puts the calls that change or unlock a disk
 * on record in the system log.
 */
#include "dbus.h"

#include <QDBusError>

#include <syslog.h>

#include <vector>

#include "caller_check.h"
#include "disk_format.h"
#include "disk_reset.h"

dbus::dbus(QObject *parent) : QObject(parent) {}

bool dbus::authorize(service_action v_action, const char *v_method, bus_caller &v_caller)
{
    if (!calledFromDBus())
        return false;
    v_caller = caller_of(connection(), message());
    if (caller_may(v_caller, v_action, v_method))
        return true;
    sendErrorReply(QDBusError::AccessDenied,
                   QStringLiteral("Not authorized to %1").arg(QString::fromLatin1(service_action_id(v_action))));
    return false;
}

int dbus::data_call(data_method v_method, const char *v_name, const QString &v_devname, const QByteArray &v_inbuf,
                    const QByteArray &v_indata, QByteArray &v_outdata)
{
    std::vector<catalogue_command> catalogue;
    const std::string path = installed_catalogue_path();
    if (!catalogue_read_commands(path.c_str(), catalogue)) {
        syslog(LOG_ERR, "%s refused: the command catalogue %s cannot be read", v_name, path.c_str());
        return PTL_ERR_NO_CATALOGUE;
    }
    const QByteArray devname = v_devname.toUtf8();
    data_request request;
    int status = check_data_method(&g_system_disks, catalogue, v_method, devname, v_inbuf, v_indata, request);
    if (status != PTL_SUCCESS)
        return status;
    bus_caller caller;
    if (!authorize(request.action, v_name, caller))
        return PTL_ERR_NOT_AUTHORIZED;
    status = execute_data_method(&g_system_disks, devname, request, v_indata, v_outdata);
    if (request.action != ACTION_READ_STATE)
        log_disk_call(caller, v_name, request.subname.c_str(), devname, status);
    return status;
}

int dbus::getidentify(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return data_call(METHOD_GETIDENTIFY, "getidentify", devname, inbuf, indata, outdata);
}

int dbus::read(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return data_call(METHOD_READ, "read", devname, inbuf, indata, outdata);
}

int dbus::write(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return data_call(METHOD_WRITE, "write", devname, inbuf, indata, outdata);
}

int dbus::send_cmd(const QString &devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return data_call(METHOD_SEND_CMD, "send_cmd", devname, inbuf, indata, outdata);
}

int dbus::device_call(service_action v_action, const char *v_name, const QString &v_devname,
                      int (*v_handler)(const disk_access *, const QByteArray &))
{
    bus_caller caller;
    if (!authorize(v_action, v_name, caller))
        return PTL_ERR_NOT_AUTHORIZED;
    const QByteArray name = v_devname.toUtf8();
    const int status = v_handler(&g_system_disks, name);
    log_disk_call(caller, v_name, v_name, name, status);
    return status;
}

int dbus::reset(const QString &devname)
{
    return device_call(ACTION_UNLOCK, "reset", devname, reset_disk);
}

int dbus::format(const QString &devname)
{
    return device_call(ACTION_CHANGE, "format", devname, format_disk);
}
