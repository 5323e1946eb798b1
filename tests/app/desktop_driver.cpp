// Xvfb, the program's process and xdotool.
#include "desktop_driver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "service_fixture.h"

namespace desktop {

namespace {

const int kPollMs = 100;

std::vector<std::string> environment_with(const std::map<std::string, std::string> &extra)
{
    std::vector<std::string> env;
    for (const std::string &entry : svctest::environment_without_preload()) {
        if (extra.count(entry.substr(0, entry.find('='))) == 0)
            env.push_back(entry);
    }
    for (const auto &kv : extra)
        env.push_back(kv.first + "=" + kv.second);
    return env;
}

// fork and exec with stdin from /dev/null; out_fd (if >= 0) becomes
// standard output; keep_fd stays open in the child.
pid_t start(const std::vector<std::string> &argv, const std::vector<std::string> &env, int out_fd = -1,
            int keep_fd = -1)
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
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        if (out_fd >= 0)
            dup2(out_fd, STDOUT_FILENO);
        for (int fd = 3; fd < 1024; fd++)
            if (fd != keep_fd)
                close(fd);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

bool poll_until(int timeout_ms, const std::function<bool()> &done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return true;
}

} // namespace

void settle(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Xvfb::Xvfb()
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
    pid_ = start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
                 environment_with({}), -1, fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number;
}

Xvfb::~Xvfb()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

Process::Process(const std::string &program, const std::vector<std::string> &args,
                 const std::map<std::string, std::string> &env)
{
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = start(argv, environment_with(env));
}

Process::~Process()
{
    if (running()) {
        kill(pid_, SIGTERM);
        wait(10000);
        if (running()) {
            kill(pid_, SIGKILL);
            wait(10000);
        }
    }
}

bool Process::running()
{
    if (status_ != -2 || pid_ <= 0)
        return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int Process::wait(int timeout_ms)
{
    poll_until(timeout_ms, [this] { return !running(); });
    return status_;
}

Weston::Weston(const std::string &runtime_dir) : runtime_dir_(runtime_dir), socket_("zvsecurity-test-wayland")
{
    process_.reset(new Process("weston",
                               {"--backend=headless-backend.so", "--use-pixman", "--socket=" + socket_,
                                "--width=" + std::to_string(kScreenWidth), "--height=" + std::to_string(kScreenHeight),
                                "--idle-time=0", "--debug", "--log=" + runtime_dir_ + "/weston.log"},
                               {{"XDG_RUNTIME_DIR", runtime_dir_}}));
}

bool Weston::ready()
{
    const std::string path = runtime_dir_ + "/" + socket_;
    return poll_until(30000, [&] { return access(path.c_str(), F_OK) == 0 || !process_->running(); }) &&
           process_->running();
}

std::string Weston::screenshot(const std::string &dir, int number, const std::string &name)
{
    // weston-screenshooter writes wayland-screenshot-<time>.png where it runs.
    std::string shot;
    const std::map<std::string, std::string> env = {{"WAYLAND_DISPLAY", socket_}, {"XDG_RUNTIME_DIR", runtime_dir_}};
    if (svctest::run_program({"sh", "-c", "cd \"$0\" && rm -f wayland-screenshot-*.png && weston-screenshooter && "
                                          "ls wayland-screenshot-*.png",
                              dir},
                             env, &shot) != 0)
        return std::string();
    shot = shot.substr(0, shot.find('\n'));
    char prefix[16];
    snprintf(prefix, sizeof(prefix), "%02d", number);
    const std::string path = dir + "/" + prefix + "-" + name + ".png";
    if (rename((dir + "/" + shot).c_str(), path.c_str()) != 0)
        return std::string();
    return path;
}

long count_colour(const std::string &png, const Colour &colour)
{
    // "  12345: (255,128,128) #FF8080 srgb(255,128,128)", one line per colour
    std::string out;
    svctest::run_program({"convert", png, "-alpha", "off", "-depth", "8", "-format", "%c", "histogram:info:-"}, {},
                         &out);
    char key[64];
    snprintf(key, sizeof(key), "(%d,%d,%d)", colour.r, colour.g, colour.b);
    size_t at = out.find(key);
    if (at == std::string::npos)
        return 0;
    size_t line = out.rfind('\n', at);
    line = line == std::string::npos ? 0 : line + 1;
    return std::atol(out.c_str() + line);
}

Driver::Driver(const std::string &display, const std::string &dir) : display_(display), dir_(dir)
{
    std::string cmd = "mkdir -p '" + dir_ + "' && rm -f '" + dir_ + "'/*.png";
    if (system(cmd.c_str()) != 0)
        throw std::runtime_error("cannot make " + dir_);
}

int Driver::xdotool(const std::vector<std::string> &args, std::string *out)
{
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return svctest::run_program(argv, {{"DISPLAY", display_}}, out);
}

bool Driver::has_window(const std::string &title)
{
    std::string out;
    return xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &out) == 0 && !out.empty();
}

bool Driver::wait_window(const std::string &title, Rect *where, int timeout_ms)
{
    std::string id;
    const bool found = poll_until(timeout_ms, [&] {
        std::string out;
        if (xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &out) != 0 || out.empty())
            return false;
        id = out.substr(0, out.find('\n'));
        return true;
    });
    if (!found)
        return false;
    std::string geometry;
    if (xdotool({"getwindowgeometry", "--shell", id}, &geometry) != 0)
        return false;
    auto field = [&geometry](const std::string &key) {
        size_t at = geometry.find(key + "=");
        return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + key.size() + 1);
    };
    where->x = field("X");
    where->y = field("Y");
    where->width = field("WIDTH");
    where->height = field("HEIGHT");
    return where->width > 0;
}

bool Driver::focus_window(const std::string &title)
{
    std::string out;
    if (xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &out) != 0 || out.empty())
        return false;
    return xdotool({"windowfocus", "--sync", out.substr(0, out.find('\n'))}) == 0;
}

bool Driver::wait_no_window(const std::string &title, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return !has_window(title); });
}

Colour Driver::colour_at(int x, int y)
{
    std::string out;
    const std::string crop = "1x1+" + std::to_string(x) + "+" + std::to_string(y);
    svctest::run_program({"import", "-window", "root", "-crop", crop, "-depth", "8", "txt:-"}, {{"DISPLAY", display_}},
                         &out);
    // "0,0: (241,39,39)  #F12727  srgb(241,39,39)"
    Colour c;
    size_t at = out.find("0,0: (");
    if (at != std::string::npos)
        sscanf(out.c_str() + at + 6, "%d,%d,%d", &c.r, &c.g, &c.b);
    return c;
}

bool Driver::wait_colour(int x, int y, const Colour &colour, int timeout_ms)
{
    return poll_until(timeout_ms, [&] { return colour_at(x, y) == colour; });
}

void Driver::click(int x, int y)
{
    xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
}

void Driver::type(const std::string &text)
{
    xdotool({"type", "--delay", "60", text});
}

void Driver::key(const std::string &name)
{
    xdotool({"key", name});
}

std::string Driver::screenshot(const std::string &name)
{
    char number[16];
    snprintf(number, sizeof(number), "%02d", ++shots_);
    const std::string path = dir_ + "/" + number + "-" + name + ".png";
    svctest::run_program({"import", "-window", "root", path}, {{"DISPLAY", display_}});
    return path;
}

} // namespace desktop
