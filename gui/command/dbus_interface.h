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

/* A data call waits for its record's time limit (the kernel's default for
 * SG_IO, 60 s, when the record has none) plus a margin for the service's
 * own signature check and the bus; reset, whose command has no limit of
 * its own, waits beyond the kernel's default. */
#define SG_IO_DEFAULT_TIMEOUT_S 60u
#define DBUS_MAX_COMMAND_TIMEOUT_S 600u
#define DBUS_TIMEOUT_MARGIN_MS (20 * 1000)
#define DBUS_RESET_TIMEOUT_MS (SG_IO_DEFAULT_TIMEOUT_S * 1000 + 10 * 1000 + DBUS_TIMEOUT_MARGIN_MS)

/* How long a data call with this command record waits for its answer. */
int data_call_timeout_ms(const QByteArray &inbuf);

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

    /* The vendor reset, waited for up to DBUS_RESET_TIMEOUT_MS; the
     * service's status or a CMD_ERR_BUS_* status. */
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

    QDBusPendingCall call(const QString &method, const QList<QVariant> &args, int timeout_ms);

    ComVaroZvsecurityDbusInterface *proxy_;
};

/* The CMD_ERR_BUS_* status of a failed call (never 0). */
int bus_failure_status(const QDBusError &error);

#endif /* GUI_DBUS_INTERFACE_H */
