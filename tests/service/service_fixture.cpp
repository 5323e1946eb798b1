// The private bus, the service process and the client calls of the tests.
#include "service_fixture.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace svctest {

namespace {

const char kServiceName[] = "com.varo.zvsecurity.dbus";

std::vector<std::string> merged_environment(const std::vector<std::string> &base,
                                            const std::map<std::string, std::string> &extra)
{
    std::vector<std::string> env;
    for (const std::string &entry : base) {
        std::string key = entry.substr(0, entry.find('='));
        if (extra.count(key) == 0)
            env.push_back(entry);
    }
    for (const auto &kv : extra)
        env.push_back(kv.first + "=" + kv.second);
    return env;
}

std::vector<std::string> current_environment()
{
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++)
        env.emplace_back(*e);
    return env;
}

pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, int stdout_fd = -1,
            bool with_stderr = false)
{
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // A test program that crashes must not leave its bus or service
        // behind (CTest would wait for them).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        if (stdout_fd >= 0)
            dup2(stdout_fd, STDOUT_FILENO);
        if (stdout_fd >= 0 && with_stderr)
            dup2(stdout_fd, STDERR_FILENO);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int wait_exit(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

// Waits (up to ten seconds) until the process pid owns name on the bus;
// throws when it ends first or never does (pid becomes -1 when it ended).
static void wait_for_name(const PrivateSystemBus &bus, const char *name, pid_t &pid, const std::string &what)
{
    QDBusConnection conn = bus.connect();
    for (int i = 0; i < 400; i++) {
        if (conn.interface()->isServiceRegistered(name))
            return;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            throw std::runtime_error(what + " ended before it owned its name");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    throw std::runtime_error(what + " did not take its name");
}

std::vector<std::string> environment_without_preload()
{
    std::vector<std::string> env;
    for (const std::string &e : current_environment())
        if (e.rfind("LD_PRELOAD=", 0) != 0)
            env.push_back(e);
    return env;
}

const char *service_program()
{
    return ZV_SERVICE_PROGRAM;
}

int run_program(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                std::string *output, bool with_stderr)
{
    int pipefd[2] = {-1, -1};
    if (output != nullptr && pipe(pipefd) != 0)
        return -1;
    pid_t pid = spawn(argv, merged_environment(environment_without_preload(), env), pipefd[1], with_stderr);
    if (output != nullptr) {
        close(pipefd[1]);
        output->clear();
        char buf[4096];
        ssize_t n;
        while ((n = read(pipefd[0], buf, sizeof(buf))) > 0)
            output->append(buf, static_cast<size_t>(n));
        close(pipefd[0]);
    }
    return wait_exit(pid);
}

PrivateSystemBus::PrivateSystemBus()
{
    char tmpl[] = "/tmp/zvsecurity-bus.XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755); // other users' clients must reach the socket
    std::string socket = dir_ + "/system_bus_socket";
    std::string conf = read_file(ZV_TEST_BUS_CONF_IN);
    auto replace = [&conf](const std::string &key, const std::string &value) {
        conf.replace(conf.find(key), key.size(), value);
    };
    replace("@SOCKET@", socket);
    replace("@POLICY@", ZV_DBUS_POLICY);
    std::ofstream(dir_ + "/bus.conf") << conf;
    address_ = "unix:path=" + socket;

    pid_ = spawn({"dbus-daemon", "--nofork", "--config-file=" + dir_ + "/bus.conf"}, environment_without_preload());
    for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    if (access(socket.c_str(), F_OK) != 0)
        throw std::runtime_error("dbus-daemon did not start");
}

PrivateSystemBus::~PrivateSystemBus()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        wait_exit(pid_);
    }
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) {
    }
}

QDBusConnection PrivateSystemBus::connect() const
{
    static std::atomic<int> counter{0};
    QString name = QString("zvtest-%1").arg(counter++);
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
}

ServiceProcess::ServiceProcess(const PrivateSystemBus &bus, const std::string &extra_path,
                               const std::map<std::string, std::string> &env, const std::string &program)
{
    std::map<std::string, std::string> extra = env;
    extra["DBUS_SYSTEM_BUS_ADDRESS"] = bus.address();
    const char *path = getenv("PATH");
    std::string full_path = path != nullptr ? path : "/usr/sbin:/usr/bin:/sbin:/bin";
    if (!extra_path.empty())
        full_path = extra_path + ":" + full_path;
    extra["PATH"] = full_path;
    // Qt and the bus library keep some allocations until exit, and the disk
    // tools the service starts inherit the sanitizer runtime with their own
    // faults: leaks and the string interceptors are left to the fuzz target,
    // which checks the service's request code with everything on.
    const char *asan = getenv("ASAN_OPTIONS");
    if (asan != nullptr)
        extra["ASAN_OPTIONS"] = std::string(asan) +
                                ":detect_leaks=0:replace_str=0:replace_intrin=0:intercept_strchr=0"
                                ":intercept_strlen=0:intercept_strndup=0";
    pid_ = spawn({program.empty() ? service_program() : program}, merged_environment(current_environment(), extra));

    wait_for_name(bus, kServiceName, pid_, "the service");
}

ServiceProcess::~ServiceProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        wait_exit(pid_);
    }
}

int ServiceProcess::open_descriptors() const
{
    std::string dir = "/proc/" + std::to_string(pid_) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return -1;
    int count = 0;
    while (readdir(d) != nullptr)
        count++;
    closedir(d);
    return count - 2;
}

const char kReadStateAction[] = "com.varo.zvsecurity.read-state";
const char kUnlockAction[] = "com.varo.zvsecurity.unlock";
const char kChangeAction[] = "com.varo.zvsecurity.change";

MockAuthority::MockAuthority(const PrivateSystemBus &bus) : bus_(bus)
{
    std::vector<std::string> env = merged_environment(environment_without_preload(),
                                                      {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}});
    pid_ = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "polkitd"}, env);
    wait_for_name(bus, "org.freedesktop.PolicyKit1", pid_, "the mock polkit authority");
}

MockAuthority::~MockAuthority()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        wait_exit(pid_);
    }
}

namespace {

// One method of the mock's control interface.
void control_mock(const PrivateSystemBus &bus, const char *method, const QVariant &argument)
{
    QDBusMessage msg = QDBusMessage::createMethodCall("org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
                                                      "org.freedesktop.DBus.Mock", method);
    msg << argument;
    QDBusMessage reply = bus.connect().call(msg);
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw std::runtime_error(std::string(method) + " failed: " + reply.errorMessage().toStdString());
}

} // namespace

void MockAuthority::allow(const std::vector<std::string> &actions)
{
    QStringList list;
    for (const std::string &a : actions)
        list << QString::fromStdString(a);
    control_mock(bus_, "SetAllowed", list);
}

void MockAuthority::allow_everything()
{
    control_mock(bus_, "AllowUnknown", true);
}

std::vector<std::string> MockAuthority::asked_actions() const
{
    // The mock's record of CheckAuthorization calls, as gdbus prints it:
    // "([(uint64 1733..., [<(...)>, <'com.varo.zvsecurity.unlock'>, ...])],)"
    std::string text;
    if (run_program({"gdbus", "call", "--system", "--dest", "org.freedesktop.PolicyKit1", "--object-path",
                     "/org/freedesktop/PolicyKit1/Authority", "--method", "org.freedesktop.DBus.Mock.GetMethodCalls",
                     "CheckAuthorization"},
                    {{"DBUS_SYSTEM_BUS_ADDRESS", bus_.address()}}, &text, true) != 0)
        throw std::runtime_error("the mock authority's record: " + text);
    std::vector<std::string> actions;
    const std::string start = "<'com.varo.zvsecurity.";
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        const size_t end = text.find('\'', at + 2);
        if (end == std::string::npos)
            break;
        actions.push_back(text.substr(at + 2, end - at - 2));
    }
    return actions;
}

std::string gvariant_bytes(const std::vector<uint8_t> &bytes)
{
    std::ostringstream s;
    s << "@ay [";
    for (size_t i = 0; i < bytes.size(); i++)
        s << (i ? ", " : "") << "0x" << std::hex << static_cast<int>(bytes[i]);
    s << "]";
    return s.str();
}

std::string gvariant_bytes(const QByteArray &bytes)
{
    return gvariant_bytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<std::string> as_nobody()
{
    return {"--reuid=65534", "--regid=65534", "--clear-groups"};
}

GdbusAnswer gdbus_call(const PrivateSystemBus &bus, const std::string &method, const std::vector<std::string> &args,
                       const std::vector<std::string> &as_user)
{
    std::vector<std::string> argv;
    if (!as_user.empty()) {
        argv.push_back("setpriv");
        argv.insert(argv.end(), as_user.begin(), as_user.end());
    }
    for (const char *a : {"gdbus", "call", "--system", "--dest", "com.varo.zvsecurity.dbus", "--object-path", "/",
                          "--method"})
        argv.push_back(a);
    argv.push_back("com.varo.zvsecurity.dbus." + method);
    argv.insert(argv.end(), args.begin(), args.end());
    GdbusAnswer a;
    a.exit_status = run_program(argv, {{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}}, &a.text, true);
    // "(0, [byte 0x44, 0x53])" or "(0, @ay [])" or "(260,)"
    if (a.exit_status == 0 && a.text.size() > 1 && a.text[0] == '(') {
        a.status = std::atoi(a.text.c_str() + 1);
        for (size_t at = a.text.find("0x"); at != std::string::npos; at = a.text.find("0x", at + 2))
            a.data.push_back(static_cast<uint8_t>(std::strtoul(a.text.substr(at + 2, 2).c_str(), nullptr, 16)));
    }
    return a;
}

int call_data(const QDBusConnection &conn, const QString &method, const QString &dev, const QByteArray &inbuf,
              const QByteArray &indata, QByteArray *outdata, QString *error)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kServiceName, "/", kServiceName, method);
    msg << dev << inbuf << indata;
    QDBusMessage reply = conn.call(msg, QDBus::Block, 120000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        if (error != nullptr)
            *error = reply.errorName();
        return kNoAnswer;
    }
    if (outdata != nullptr)
        *outdata = reply.arguments().at(1).toByteArray();
    return reply.arguments().at(0).toInt();
}

int call_simple(const QDBusConnection &conn, const QString &method, const QString &dev, QString *error,
                int timeout_ms)
{
    QDBusMessage msg = QDBusMessage::createMethodCall(kServiceName, "/", kServiceName, method);
    msg << dev;
    QDBusMessage reply = conn.call(msg, QDBus::Block, timeout_ms > 0 ? timeout_ms : 300000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        if (error != nullptr)
            *error = reply.errorName();
        return kNoAnswer;
    }
    return reply.arguments().at(0).toInt();
}

} // namespace svctest
