/*
 * The GUI's one gateway to the disk service zvsecurity-dbus: six blocking
 * calls over the generated proxy, each answering the service's status.
 *
 * A failure of the bus itself (no connection, service absent, access
 * refused, no answer, an answer of the wrong form) never reads as success:
 * it comes back as one of the negative CMD_ERR_BUS_* statuses of
 * command_status.h, with the output array left as the caller passed it.
 */
#ifndef GUI_DBUS_INTERFACE_H
#define GUI_DBUS_INTERFACE_H

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusError>
#include <QObject>
#include <QString>

#include <atomic>

class ComVaroZvsecurityDbusInterface;

/* How long a format call may take: partitioning and two file systems on a
 * real disk run for minutes, far beyond the bus's default of 25 seconds. */
#define DBUS_FORMAT_TIMEOUT_MS (10 * 60 * 1000)

class DbusInterface : public QObject
{
    Q_OBJECT

public:
    /* The process-wide instance, on the system bus; created on first use. */
    static DbusInterface *GetInstance();

    explicit DbusInterface(QObject *parent = nullptr);
    /* An instance on another connection than the system bus. */
    explicit DbusInterface(const QDBusConnection &bus, QObject *parent = nullptr);
    ~DbusInterface() override;

    /**
     * The data methods getidentify, read, write and send_cmd (the last under
     * the client name sendcmd).
     * @param devname block-device path
     * @param inbuf the 600-byte command record
     * @param indata the data area sent (empty for getidentify)
     * @param outdata receives the answer's data on a normal answer
     * @return the service's status, or a CMD_ERR_BUS_* status
     */
    int getidentify(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);
    int read(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);
    int write(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);
    int sendcmd(QString devname, QByteArray inbuf, QByteArray indata, QByteArray &outdata);

    /* The vendor reset; the service's status or a CMD_ERR_BUS_* status. */
    int reset(QString devname);
    /* Partitioning and formatting, waited for up to DBUS_FORMAT_TIMEOUT_MS. */
    int format(QString devname);

    /* Whether the service has refused a call of this program
     * (CMD_ERR_BUS_ACCESS_DENIED: the bus policy, or polkit's answer). */
    bool refused() const { return refused_.load(); }

private:
    /* Notes a refusal; returns v_status. */
    int noted(int v_status);

    std::atomic<bool> refused_{false};
    ComVaroZvsecurityDbusInterface *proxy_;
    /* The same interface with the long time-out of format. */
    ComVaroZvsecurityDbusInterface *format_proxy_;
};

/* The CMD_ERR_BUS_* status of a failed call (never 0). */
int bus_failure_status(const QDBusError &error);

#endif /* GUI_DBUS_INTERFACE_H */
