/*
 * polkit through polkit-qt: the subject is the sender's bus name, so that
 * polkit itself finds the process, its user and its session.
 */
#include "caller_check.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <PolkitQt1/Authority>
#include <PolkitQt1/Subject>

#include <syslog.h>

#include <string>

/* Longest part of a device name that goes into the log. */
#define LOGGED_NAME_MAX 48

bus_caller caller_of(const QDBusConnection &v_bus, const QDBusMessage &v_message)
{
    bus_caller caller;
    caller.name = v_message.service();
    caller.known = false;
    caller.uid = 0;
    caller.pid = 0;
    QDBusConnectionInterface *daemon = v_bus.interface();
    if (daemon == nullptr || caller.name.isEmpty())
        return caller;
    QDBusReply<uint> uid = daemon->serviceUid(caller.name);
    QDBusReply<uint> pid = daemon->servicePid(caller.name);
    if (!uid.isValid() || !pid.isValid())
        return caller;
    caller.known = true;
    caller.uid = uid.value();
    caller.pid = pid.value();
    return caller;
}

bool caller_may(const bus_caller &v_caller, service_action v_action, const char *v_method)
{
    if (!v_caller.known) {
        syslog(LOG_WARNING, "%s refused: the bus does not know the caller", v_method);
        return false;
    }
    if (v_caller.uid == 0)
        return true;

    PolkitQt1::Authority *authority = PolkitQt1::Authority::instance();
    if (authority->hasError())
        authority->clearError(); /* a failure of an earlier call must not decide this one */
    PolkitQt1::Authority::Result result = authority->checkAuthorizationSync(
        QString::fromLatin1(service_action_id(v_action)), PolkitQt1::SystemBusNameSubject(v_caller.name),
        PolkitQt1::Authority::AllowUserInteraction);
    if (authority->hasError()) {
        syslog(LOG_ERR, "%s by uid %u pid %u refused: polkit authority unreachable: %s", v_method, v_caller.uid,
               v_caller.pid, authority->errorDetails().toUtf8().constData());
        authority->clearError();
        return false;
    }
    if (result != PolkitQt1::Authority::Yes) {
        syslog(LOG_WARNING, "%s by uid %u pid %u refused: not authorized for %s", v_method, v_caller.uid,
               v_caller.pid, service_action_id(v_action));
        return false;
    }
    return true;
}

/* The device name as it may be logged: printable ASCII, shortened. */
static std::string loggable(const QByteArray &v_name)
{
    std::string out;
    for (int i = 0; i < v_name.size() && i < LOGGED_NAME_MAX; i++) {
        const char c = v_name.at(i);
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    if (v_name.size() > LOGGED_NAME_MAX)
        out += "...";
    return out;
}

void log_disk_call(const bus_caller &v_caller, const char *v_method, const char *v_command,
                   const QByteArray &v_devname, int v_result)
{
    syslog(LOG_NOTICE, "%s %s on '%s' by uid %u pid %u: result %d", v_method, v_command,
           loggable(v_devname).c_str(), v_caller.uid, v_caller.pid, v_result);
}
