// The scripted model. Worker threads of the pages call it, so its state is
// guarded.
#include "fake_disk.h"

#include <QCoreApplication>

#include <mutex>

#include "service_probe.h"

namespace fakedisk {
namespace {

std::mutex state_mutex;
Script current;
std::vector<std::string> recorded;
bool watchdog_flag = true;

void record(const std::string &call)
{
    recorded.push_back(call);
}

int next(std::deque<int> &results)
{
    if (results.empty())
        return 0;
    int r = results.front();
    results.pop_front();
    return r;
}

} // namespace

void reset(const Script &script)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    current = script;
    recorded.clear();
    watchdog_flag = true;
}

void update(void (*change)(Script &))
{
    std::lock_guard<std::mutex> lock(state_mutex);
    change(current);
}

Script script()
{
    std::lock_guard<std::mutex> lock(state_mutex);
    return current;
}

std::vector<std::string> calls()
{
    std::lock_guard<std::mutex> lock(state_mutex);
    return recorded;
}

int count(const std::string &prefix)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    int n = 0;
    for (const std::string &c : recorded)
        if (c.rfind(prefix, 0) == 0)
            n++;
    return n;
}

bool watchdog_on()
{
    std::lock_guard<std::mutex> lock(state_mutex);
    return watchdog_flag;
}

} // namespace fakedisk

using fakedisk::current;
using fakedisk::next;
using fakedisk::record;
using fakedisk::state_mutex;
using fakedisk::watchdog_flag;

ZVSecurityDisk *ZVSecurityDisk::GetInstance()
{
    static ZVSecurityDisk *handle = new ZVSecurityDisk();
    return handle;
}

ZVSecurityDisk::ZVSecurityDisk(QThread *parent) : QThread(parent), drive(0), watchdog(true)
{
    disk_name[0] = '\0';
}

ZVSecurityDisk::~ZVSecurityDisk() = default;

int ZVSecurityDisk::init()
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("init");
    return current.init_result;
}

int ZVSecurityDisk::get_password_status(PasswordStatus *v_status)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("status");
    if (current.status_result == 0 || current.status_result == ZV_DISK_ERR_NOT_SECURITY_DISK)
        *v_status = current.status;
    return current.status_result;
}

int ZVSecurityDisk::set_password(QString v_password)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("set_password:" + v_password.toStdString());
    return current.set_password_result;
}

int ZVSecurityDisk::verify_password(QString v_password)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("verify:" + v_password.toStdString());
    return next(current.verify_results);
}

int ZVSecurityDisk::set_password_prompt(QString v_prompt)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("set_prompt:" + v_prompt.toStdString());
    return current.set_prompt_result;
}

int ZVSecurityDisk::get_password_prompt(QString &v_prompt)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("get_prompt");
    if (current.get_prompt_result == 0)
        v_prompt = current.prompt;
    return current.get_prompt_result;
}

int ZVSecurityDisk::format_disk()
{
    int ms = 0;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        record("format");
        ms = current.format_ms;
        result = current.format_result;
    }
    QThread::msleep(static_cast<unsigned long>(ms));
    return result;
}

int ZVSecurityDisk::scan_disk_by_sn()
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("scan");
    return next(current.scan_results);
}

void ZVSecurityDisk::set_watchdog(bool v_on)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record(v_on ? "watchdog:1" : "watchdog:0");
    watchdog = v_on;
    watchdog_flag = v_on;
}

void ZVSecurityDisk::set_drive(char v_drive)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record(std::string("drive:") + v_drive);
    drive = v_drive;
}

char *ZVSecurityDisk::get_disk_name()
{
    return disk_name;
}

void ZVSecurityDisk::exit()
{
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        record("exit");
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void ZVSecurityDisk::run()
{
}

bool disk_service_reachable(QString *v_reason)
{
    std::lock_guard<std::mutex> lock(state_mutex);
    record("probe");
    if (!current.service_reachable && v_reason != nullptr)
        *v_reason = QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown: scripted");
    return current.service_reachable;
}
