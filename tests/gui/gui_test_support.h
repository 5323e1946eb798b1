// What the GUI layer's tests share: the Qt messages the code under test
// logs, a directory of stand-in tools in front of PATH, the catalogue beside
// the test program, and a stand-in disk service on the private bus whose
// answers a test chooses.
#ifndef GUI_TEST_SUPPORT_H
#define GUI_TEST_SUPPORT_H

#include <QByteArray>
#include <QDBusConnection>
#include <QString>
#include <QThread>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "service_fixture.h"

namespace guitest {

// The private system bus of the whole test program: DBUS_SYSTEM_BUS_ADDRESS
// points at it before Qt's system bus is first used (Qt keeps that
// connection for the life of the process).
svctest::PrivateSystemBus &program_bus();

// The main of a test program: the application object, the private bus, the
// message capture, then every test.
int run_tests(int argc, char **argv);

// ---------------------------------------------------------------- messages
struct LogLine {
    QtMsgType type;
    std::string text;
};

// Installs a handler that keeps every Qt message of the process.
void capture_messages();
void clear_messages();
std::vector<LogLine> messages();
// How many kept messages of that type are exactly this text.
int count_message(QtMsgType type, const std::string &text);

// --------------------------------------------------------------- stand-ins
// A fresh directory put in front of PATH for the object's lifetime.
class ToolDir {
public:
    ToolDir();
    ~ToolDir();
    ToolDir(const ToolDir &) = delete;
    ToolDir &operator=(const ToolDir &) = delete;

    // An executable shell script of that name.
    void add_script(const std::string &name, const std::string &body) const;
    const std::string &path() const { return dir_; }

private:
    std::string dir_;
    std::string old_path_;
};

// A script body that prints text exactly.
std::string printing_script(const std::string &text);

// -------------------------------------------------------------- catalogue
std::string program_dir();
std::string catalogue_path(); // SecurityCmd.xml beside the test program
void write_catalogue(const std::string &text);
void remove_catalogue();
std::string shipped_catalogue(); // the text of the catalogue the GUI ships

// ------------------------------------------------------- stand-in service
// How one method of the stand-in service answers.
struct Answer {
    enum Kind {
        Normal,         // status (and data, for the data methods)
        StatusOnly,     // the status without a data array
        WrongSignature, // a string instead of the status
        Error,          // an error answer named error_name
        Late,           // Normal, after delay_ms
    };
    Kind kind = Normal;
    int status = 0;
    QByteArray data;
    QString error_name = "org.freedesktop.DBus.Error.Failed";
    int delay_ms = 0;
};

struct Call {
    QString method;
    QString dev;
    QByteArray inbuf;
    QByteArray indata;
};

class FakeServiceObject;

// Owns com.varo.zvsecurity.dbus on the bus and serves "/" from a thread of
// its own (the callers under test block their thread).
class FakeService {
public:
    explicit FakeService(const svctest::PrivateSystemBus &bus);
    ~FakeService();
    FakeService(const FakeService &) = delete;
    FakeService &operator=(const FakeService &) = delete;

    // Every call of the method gets this answer.
    void answer(const QString &method, const Answer &a);
    // The calls of the method get these answers in turn, then the last one.
    void answer_in_turn(const QString &method, const std::vector<Answer> &answers);
    // getidentify on this device gets this answer (before the method's own).
    void answer_device(const QString &dev, const Answer &a);
    std::vector<Call> calls() const;
    std::vector<Call> calls_of(const QString &method) const;

private:
    QThread thread_;
    FakeServiceObject *object_;
    QString connection_name_;
};

// An identify page: the secure-disk signature (or not), sector count,
// serial number, tries left and password-set bytes.
QByteArray identify_page(bool signature, uint64_t sectors = 0x8000, const std::string &serial = "FAKE0001",
                         uint8_t tries_left = 5, uint8_t password_set = 0);

} // namespace guitest

#endif
