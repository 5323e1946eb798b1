/*
 * Who called the disk service, and whether polkit lets them do what the
 * call does. The caller's uid and pid come from the bus daemon, never from
 * the message's contents.
 */
#ifndef SERVICE_CALLER_CHECK_H
#define SERVICE_CALLER_CHECK_H

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include "service_action.h"

struct bus_caller {
    QString name;      /* unique bus name of the sender */
    bool known;        /* the bus daemon told uid and pid */
    unsigned uid;
    unsigned pid;
};

bus_caller caller_of(const QDBusConnection &v_bus, const QDBusMessage &v_message);

/**
 * Asks polkit whether the caller may do the action, allowing an
 * authentication agent to ask the user. Root needs no check; a caller the
 * bus daemon does not know, a refusal and an authority that cannot be
 * reached all mean no (the last two are logged).
 */
bool caller_may(const bus_caller &v_caller, service_action v_action, const char *v_method);

/* One system-log line for a call that changes or unlocks a disk: method,
 * catalogue entry, device, caller's uid and pid, result. Never any data. */
void log_disk_call(const bus_caller &v_caller, const char *v_method, const char *v_command,
                   const QByteArray &v_devname, int v_result);

#endif /* SERVICE_CALLER_CHECK_H */
