/*
 * The D-Bus client of the disk service. The typed pending replies check the
 * whole signature of each answer, so an answer without its data array is a
 * bad reply and not a silent success.
 */
#include "dbus_interface.h"

#include <QDBusMessage>
#include <QDBusPendingReply>

#include <cstddef>
#include <cstring>

#include "protocol_type.h"

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
      proxy_(new ComVaroZvsecurityDbusInterface(ZV_DBUS_SERVICE, ZV_DBUS_PATH, bus, this))
{
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

int data_call_timeout_ms(const QByteArray &inbuf)
{
    uint32_t seconds = SG_IO_DEFAULT_TIMEOUT_S;
    if (inbuf.size() >= static_cast<int>(sizeof(protocol_cmd_s))) {
        uint32_t limit = 0;
        memcpy(&limit, inbuf.constData() + offsetof(protocol_cmd_s, timeout), sizeof(limit));
        if (limit != 0)
            seconds = limit < DBUS_MAX_COMMAND_TIMEOUT_S ? limit : DBUS_MAX_COMMAND_TIMEOUT_S;
    }
    return static_cast<int>(seconds) * 1000 + DBUS_TIMEOUT_MARGIN_MS;
}

/* One call of the service's method, waited for up to timeout_ms. The shared
 * proxy keeps no per-call time-out, so each call carries its own. */
QDBusPendingCall DbusInterface::call(const QString &method, const QList<QVariant> &args, int timeout_ms)
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(proxy_->service(), proxy_->path(), proxy_->interface(), method);
    message.setArguments(args);
    return proxy_->connection().asyncCall(message, timeout_ms);
}

int DbusInterface::getidentify(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(call("getidentify", {devname, inbuf, indata}, data_call_timeout_ms(inbuf)), outdata));
}

int DbusInterface::read(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(call("read", {devname, inbuf, indata}, data_call_timeout_ms(inbuf)), outdata));
}

int DbusInterface::write(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(call("write", {devname, inbuf, indata}, data_call_timeout_ms(inbuf)), outdata));
}

int DbusInterface::sendcmd(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata)
{
    return noted(finish_data_call(call("send_cmd", {devname, inbuf, indata}, data_call_timeout_ms(inbuf)), outdata));
}

int DbusInterface::reset(QString devname)
{
    return noted(finish_status_call(call("reset", {devname}, DBUS_RESET_TIMEOUT_MS)));
}

int DbusInterface::format(QString devname)
{
    return noted(finish_status_call(call("format", {devname}, DBUS_FORMAT_TIMEOUT_MS)));
}
