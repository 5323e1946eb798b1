/*
 * Whether the disk service zvsecurity-dbus answers this program on the
 * system bus. The command layer reports a bus failure as a failed command
 * like any other, so the workers ask here before they turn a failure into
 * a verdict about the disk.
 */
#ifndef GUI_SERVICE_PROBE_H
#define GUI_SERVICE_PROBE_H

#include <QString>

/**
 * No when the service has refused a call of this program (polkit said no);
 * otherwise introspects the service's object (which also starts a
 * bus-activated service), blocking for one round trip.
 * @param v_reason receives the bus's error text when the answer is no
 * @return true when the service answered
 */
bool disk_service_reachable(QString *v_reason = nullptr);

#endif /* GUI_SERVICE_PROBE_H */
