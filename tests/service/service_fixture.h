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
// with_stderr: the output holds standard error as well.
int run_program(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
                std::string *output = nullptr, bool with_stderr = false);

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
    // program: another copy of the service (empty: the built one).
    explicit ServiceProcess(const PrivateSystemBus &bus, const std::string &extra_path = "",
                            const std::map<std::string, std::string> &env = {}, const std::string &program = "");
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    pid_t pid() const { return pid_; }
    int open_descriptors() const;

private:
    pid_t pid_ = -1;
};

// polkit's authority on the bus as a mock (Debian's python3-dbusmock, its polkitd
// template): it refuses every action but those allowed.
class MockAuthority {
public:
    explicit MockAuthority(const PrivateSystemBus &bus);
    ~MockAuthority();
    MockAuthority(const MockAuthority &) = delete;
    MockAuthority &operator=(const MockAuthority &) = delete;

    // The actions it says yes to from now on (polkit action ids).
    void allow(const std::vector<std::string> &actions);
    void allow_everything();
    // The action ids it was asked about so far, in the order asked.
    std::vector<std::string> asked_actions() const;

private:
    const PrivateSystemBus &bus_;
    pid_t pid_ = -1;
};

// The polkit actions of the disk service.
extern const char kReadStateAction[];
extern const char kUnlockAction[];
extern const char kChangeAction[];

// A caller other than this process: gdbus, run as a user of setpriv's
// arguments (none: as root).
struct GdbusAnswer {
    int exit_status = -1;
    int status = -99999; // no answer parsed
    std::vector<uint8_t> data;
    std::string text;    // gdbus's output, error messages included
};
GdbusAnswer gdbus_call(const PrivateSystemBus &bus, const std::string &method, const std::vector<std::string> &args,
                       const std::vector<std::string> &as_user = {});
// A byte array as a gdbus argument: "@ay [0x1, 0x2]".
std::string gvariant_bytes(const std::vector<uint8_t> &bytes);
std::string gvariant_bytes(const QByteArray &bytes);
// setpriv's arguments for the unprivileged user nobody, without groups.
std::vector<std::string> as_nobody();

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
