// A private system bus with the project's policy, the disk service on it,
// and a client connection: what the service's tests and the GUI's tests
// run against. Nothing here touches the machine's own buses.
#ifndef SERVICE_FIXTURE_H
#define SERVICE_FIXTURE_H

#include <QByteArray>
#include <QDBusConnection>
#include <QString>

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace svctest {

// Runs a program outside the simulator (without the test's LD_PRELOAD) and
// returns its exit status (-1 when a signal ended it); env entries are
// added to (or replace) the environment.
int run_program(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
                std::string *output = nullptr);

class PrivateSystemBus {
public:
    PrivateSystemBus();
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus &) = delete;
    PrivateSystemBus &operator=(const PrivateSystemBus &) = delete;

    const std::string &address() const { return address_; }
    // A new client connection of this process (root).
    QDBusConnection connect() const;

private:
    std::string dir_;
    std::string address_;
    pid_t pid_ = -1;
};

class ServiceProcess {
public:
    // Starts zvsecurity-dbus on the bus; extra_path goes in front of PATH
    // (stand-in tools). Waits until it owns its name.
    explicit ServiceProcess(const PrivateSystemBus &bus, const std::string &extra_path = "",
                            const std::map<std::string, std::string> &env = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    pid_t pid() const { return pid_; }
    int open_descriptors() const;

private:
    pid_t pid_ = -1;
};

// One call of a data method: returns the status, or a value below -1000
// when the bus gave no integer answer.
int call_data(const QDBusConnection &conn, const QString &method, const QString &dev, const QByteArray &inbuf,
              const QByteArray &indata, QByteArray *outdata = nullptr, QString *error = nullptr);
int call_simple(const QDBusConnection &conn, const QString &method, const QString &dev, QString *error = nullptr,
                int timeout_ms = -1);

const char *service_program();
std::vector<std::string> environment_without_preload();

const int kNoAnswer = -100000;

} // namespace svctest

#endif
