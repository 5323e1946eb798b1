/*
 * The disk service probe: a call of this program that the service refused
 * (polkit said no), or else an introspection call, which the bus policy
 * allows to every user, so that a refused user is told so as well.
 */
#include "service_probe.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include "dbus_interface.h"

#define ZV_DBUS_SERVICE "com.varo.zvsecurity.dbus"
#define ZV_DBUS_PATH "/"

bool disk_service_reachable(QString *v_reason)
{
    if (DbusInterface::GetInstance()->refused()) {
        if (v_reason != nullptr)
            *v_reason = QStringLiteral("the disk service refused a call of this user");
        return false;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        if (v_reason != nullptr)
            *v_reason = bus.lastError().message();
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral(ZV_DBUS_SERVICE), QStringLiteral(ZV_DBUS_PATH),
                                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                       QStringLiteral("Introspect"));
    QDBusMessage reply = bus.call(call, QDBus::Block);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (v_reason != nullptr)
        *v_reason = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    return false;
}
