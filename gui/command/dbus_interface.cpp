/*
 * The D-Bus client of the disk service. The typed pending replies check the
 * whole signature of each answer, so an answer without its data array is a
 * bad reply and not a silent success.
 */
#include "dbus_interface.h"

#include <QDBusPendingReply>

#include "command_status.h"
#include "zvsecurity_dbus_proxy.h"

#define ZV_DBUS_SERVICE "com.varo.zvsecurity.dbus"
#define ZV_DBUS_PATH "/"

DbusInterface *DbusInterface::GetInstance()
{
    static DbusInterface *handle = new DbusInterface();
    return handle;
}

DbusInterface::DbusInterface(QObject *parent) : DbusInterface(QDBusConnection::systemBus(), parent) {}

DbusInterface::DbusInterface(const QDBusConnection &bus, QObject *parent)
    : QObject(parent),
      proxy_(new ComVaroZvsecurityDbusInterface(ZV_DBUS_SERVICE, ZV_DBUS_PATH, bus, this)),
      format_proxy_(new ComVaroZvsecurityDbusInterface(ZV_DBUS_SERVICE, ZV_DBUS_PATH, bus, this))
{
    format_proxy_->setTimeout(DBUS_FORMAT_TIMEOUT_MS);
}

DbusInterface::~DbusInterface() = default;

int bus_failure_status(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::BadAddress:
    case QDBusError::NoNetwork:
        return CMD_ERR_BUS_NOT_CONNECTED;
    case QDBusError::ServiceUnknown:
        return CMD_ERR_BUS_NO_SERVICE;
    case QDBusError::AccessDenied:
        return CMD_ERR_BUS_ACCESS_DENIED;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return CMD_ERR_BUS_NO_REPLY;
    case QDBusError::InvalidSignature:
        return CMD_ERR_BUS_BAD_REPLY;
    default:
        break;
    }
    /* Names that QDBusError has no type of its own for. */
    if (error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return CMD_ERR_BUS_NO_SERVICE;
    return CMD_ERR_BUS_ERROR_REPLY;
}

/* Waits for a data method's answer: status and data array. */
static int finish_data_call(QDBusPendingReply<int, QByteArray> reply, QByteArray &outdata)
{
    reply.waitForFinished();
    if (reply.isError())
        return bus_failure_status(reply.error());
    outdata = reply.argumentAt<1>();
    return reply.argumentAt<0>();
}

/* Waits for reset's or format's answer: the status alone. */
static int finish_status_call(QDBusPendingReply<int> reply)
{
    reply.waitForFinished();
    if (reply.isError())
        return bus_failure_status(reply.error());
    return reply.value();
}

int DbusInterface::noted(int v_status)
{
    if (v_status == CMD_ERR_BUS_ACCESS_DENIED)
        refused_ = true;
    return v_status;
}

int DbusInterface::getidentify(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(proxy_->getidentify(devname, inbuf, indata), outdata));
}

int DbusInterface::read(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(proxy_->read(devname, inbuf, indata), outdata));
}

int DbusInterface::write(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(proxy_->write(devname, inbuf, indata), outdata));
}

int DbusInterface::sendcmd(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(proxy_->send_cmd(devname, inbuf, indata), outdata));
}

int DbusInterface::reset(QString devname)
{
    return noted(finish_status_call(proxy_->reset(devname)));
}

int DbusInterface::format(QString devname)
{
    return noted(finish_status_call(format_proxy_->format(devname)));
}
