/*
 * zvsecurity-dbus: the disk service. Owns com.varo.zvsecurity.dbus on the
 * system bus, exports the dbus object at "/" and serves calls one after
 * another on its only thread. Ends with status 1 when it cannot take the
 * name or register the object.
 */
#include <QCoreApplication>
#include <QDBusConnection>

#include <syslog.h>

#include "dbus.h"

#define SERVICE_NAME "com.varo.zvsecurity.dbus"
#define LOG_IDENTITY "com.varo.zvsecurity"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    dbus service;
    QDBusConnection bus = QDBusConnection::systemBus();

    /* The log stays open while serving, so that every line of the methods
     * carries the service's identity. */
    openlog(LOG_IDENTITY, LOG_PID | LOG_CONS, 0);
    syslog(LOG_WARNING, "connection status '%d'", bus.isConnected() ? 1 : 0);

    if (!bus.registerService(SERVICE_NAME) ||
        !bus.registerObject("/", &service,
                            QDBusConnection::ExportAllContents)) {
        QCoreApplication::exit(1);
        return 1;
    }
    int status = app.exec();
    closelog();
    return status;
}
