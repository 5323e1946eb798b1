// Shared pieces of the GUI layer's tests (see gui_test_support.h).
#include "gui_test_support.h"

#include <QCoreApplication>
#include <QDBusContext>
#include <QDBusMessage>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace guitest {

namespace {
svctest::PrivateSystemBus *g_bus = nullptr;
} // namespace

svctest::PrivateSystemBus &program_bus()
{
    if (g_bus == nullptr)
        throw std::logic_error("the program's bus starts in run_tests");
    return *g_bus;
}

int run_tests(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<svctest::PrivateSystemBus> bus(new svctest::PrivateSystemBus);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
    g_bus = bus.get();
    capture_messages();
    int result = RUN_ALL_TESTS();
    g_bus = nullptr;
    return result;
}

// ---------------------------------------------------------------- messages
namespace {
std::mutex g_log_mutex;
std::vector<LogLine> g_log;

void keep_message(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.push_back({type, text.toStdString()});
}
} // namespace

void capture_messages()
{
    qInstallMessageHandler(keep_message);
}

void clear_messages()
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.clear();
}

std::vector<LogLine> messages()
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_log;
}

int count_message(QtMsgType type, const std::string &text)
{
    int n = 0;
    for (const LogLine &line : messages())
        if (line.type == type && line.text == text)
            n++;
    return n;
}

// --------------------------------------------------------------- stand-ins
ToolDir::ToolDir()
{
    char tmpl[] = "/tmp/zv-guitools.XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755);
    const char *path = getenv("PATH");
    old_path_ = path != nullptr ? path : "/usr/sbin:/usr/bin:/sbin:/bin";
    setenv("PATH", (dir_ + ":" + old_path_).c_str(), 1);
}

ToolDir::~ToolDir()
{
    setenv("PATH", old_path_.c_str(), 1);
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) {
    }
}

void ToolDir::add_script(const std::string &name, const std::string &body) const
{
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

std::string printing_script(const std::string &text)
{
    // printf with the text as its argument prints it byte for byte.
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return "printf '%s' " + quoted + "'\n";
}

// -------------------------------------------------------------- catalogue
std::string program_dir()
{
    return QCoreApplication::applicationDirPath().toStdString();
}

std::string catalogue_path()
{
    return program_dir() + "/SecurityCmd.xml";
}

void write_catalogue(const std::string &text)
{
    std::ofstream(catalogue_path(), std::ios::binary | std::ios::trunc) << text;
}

void remove_catalogue()
{
    unlink(catalogue_path().c_str());
}

std::string shipped_catalogue()
{
    std::ifstream in(ZV_SHIPPED_CATALOGUE, std::ios::binary);
    if (!in)
        throw std::runtime_error("no shipped catalogue at " ZV_SHIPPED_CATALOGUE);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

QByteArray identify_page(bool signature, uint64_t sectors, const std::string &serial, uint8_t tries_left,
                         uint8_t password_set)
{
    QByteArray page(512, '\0');
    for (int i = 0; i < 20; i++)
        page[20 + i] = i < static_cast<int>(serial.size()) ? serial[static_cast<size_t>(i)] : ' ';
    for (int i = 0; i < 8; i++)
        page[200 + i] = static_cast<char>((sectors >> (8 * i)) & 0xFF);
    if (signature) {
        page[262] = 0x44;
        page[263] = 0x53;
    }
    page[442] = static_cast<char>(tries_left);
    page[443] = static_cast<char>(password_set);
    return page;
}

// ------------------------------------------------------- stand-in service
class FakeServiceObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.varo.zvsecurity.dbus")

public:
    void set_answers(const QString &method, const std::vector<Answer> &answers)
    {
        QMutexLocker lock(&mutex_);
        answers_[method] = std::deque<Answer>(answers.begin(), answers.end());
    }
    void set_device_answer(const QString &dev, const Answer &a)
    {
        QMutexLocker lock(&mutex_);
        device_answers_[dev] = a;
    }
    std::vector<Call> calls() const
    {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

public slots:
    int getidentify(const QString &devname, const QByteArray &inbuf, const QByteArray &indata, QByteArray &outdata)
    {
        return serve("getidentify", devname, inbuf, indata, &outdata);
    }
    int read(const QString &devname, const QByteArray &inbuf, const QByteArray &indata, QByteArray &outdata)
    {
        return serve("read", devname, inbuf, indata, &outdata);
    }
    int write(const QString &devname, const QByteArray &inbuf, const QByteArray &indata, QByteArray &outdata)
    {
        return serve("write", devname, inbuf, indata, &outdata);
    }
    int send_cmd(const QString &devname, const QByteArray &inbuf, const QByteArray &indata, QByteArray &outdata)
    {
        return serve("send_cmd", devname, inbuf, indata, &outdata);
    }
    int reset(const QString &devname) { return serve("reset", devname, {}, {}, nullptr); }
    int format(const QString &devname) { return serve("format", devname, {}, {}, nullptr); }

private:
    Answer next_answer(const QString &method, const QString &dev)
    {
        QMutexLocker lock(&mutex_);
        calls_.push_back({method, dev, QByteArray(), QByteArray()});
        if (method == "getidentify" && device_answers_.count(dev) != 0)
            return device_answers_[dev];
        std::deque<Answer> &queue = answers_[method];
        if (queue.empty())
            return Answer();
        Answer a = queue.front();
        if (queue.size() > 1)
            queue.pop_front();
        return a;
    }

    int serve(const QString &method, const QString &dev, const QByteArray &inbuf, const QByteArray &indata,
              QByteArray *outdata)
    {
        Answer a = next_answer(method, dev);
        {
            QMutexLocker lock(&mutex_);
            calls_.back().inbuf = inbuf;
            calls_.back().indata = indata;
        }
        const bool data_method = outdata != nullptr;
        switch (a.kind) {
        case Answer::Normal:
            if (data_method)
                *outdata = a.data;
            return a.status;
        case Answer::StatusOnly:
            setDelayedReply(true);
            connection().send(message().createReply(QVariant(a.status)));
            return 0;
        case Answer::WrongSignature:
            setDelayedReply(true);
            connection().send(message().createReply(QVariant(QString("not a status"))));
            return 0;
        case Answer::Error:
            sendErrorReply(a.error_name, "the stand-in service refuses");
            return 0;
        case Answer::Late: {
            setDelayedReply(true);
            QDBusConnection conn = connection();
            QDBusMessage call = message();
            QTimer::singleShot(a.delay_ms, this, [conn, call, a, data_method]() mutable {
                QList<QVariant> args{QVariant(a.status)};
                if (data_method)
                    args << QVariant(a.data);
                conn.send(call.createReply(args));
            });
            return 0;
        }
        }
        return 0;
    }

    mutable QMutex mutex_;
    std::map<QString, std::deque<Answer>> answers_;
    std::map<QString, Answer> device_answers_;
    std::vector<Call> calls_;
};

FakeService::FakeService(const svctest::PrivateSystemBus &bus) : object_(new FakeServiceObject)
{
    static int counter = 0;
    connection_name_ = QString("zv-fake-service-%1").arg(counter++);
    QDBusConnection conn =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), connection_name_);
    object_->moveToThread(&thread_);
    thread_.start();
    if (!conn.registerObject("/", object_, QDBusConnection::ExportAllSlots))
        throw std::runtime_error("stand-in service: cannot register /");
    // A service process that just ended may still own the name until the
    // bus has noticed its connection closing.
    for (int i = 0; !conn.registerService("com.varo.zvsecurity.dbus"); i++) {
        if (i == 200) {
            conn.unregisterObject("/");
            QDBusConnection::disconnectFromBus(connection_name_);
            thread_.quit();
            thread_.wait();
            delete object_;
            throw std::runtime_error("stand-in service: cannot own the name");
        }
        usleep(25 * 1000);
    }
}

FakeService::~FakeService()
{
    QDBusConnection conn(connection_name_);
    conn.unregisterService("com.varo.zvsecurity.dbus"); // returns once the bus released it
    conn.unregisterObject("/");
    QDBusConnection::disconnectFromBus(connection_name_);
    thread_.quit();
    thread_.wait();
    delete object_;
}

void FakeService::answer(const QString &method, const Answer &a)
{
    object_->set_answers(method, {a});
}

void FakeService::answer_in_turn(const QString &method, const std::vector<Answer> &answers)
{
    object_->set_answers(method, answers);
}

void FakeService::answer_device(const QString &dev, const Answer &a)
{
    object_->set_device_answer(dev, a);
}

std::vector<Call> FakeService::calls() const
{
    return object_->calls();
}

std::vector<Call> FakeService::calls_of(const QString &method) const
{
    std::vector<Call> out;
    for (const Call &c : calls())
        if (c.method == method)
            out.push_back(c);
    return out;
}

} // namespace guitest

#include "gui_test_support.moc"
