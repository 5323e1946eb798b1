// SimDisk, the fixture for one simulated secure disk (see sim_disk.h).
#include "sim_disk.h"

#include <cerrno>
#include <dirent.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <csignal>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace simtest {

namespace {
std::vector<std::string> split_list(const std::string &s) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == ':') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

std::string join_list(const std::vector<std::string> &parts) {
    std::string out;
    for (const auto &p : parts) {
        if (!out.empty()) out += ':';
        out += p;
    }
    return out;
}

void set_sim_dirs(const std::vector<std::string> &dirs) {
    if (dirs.empty()) ::unsetenv("SECUREDISK_SIM");
    else ::setenv("SECUREDISK_SIM", join_list(dirs).c_str(), 1);
}

std::vector<std::string> sim_dirs() {
    const char *env = std::getenv("SECUREDISK_SIM");
    return env ? split_list(env) : std::vector<std::string>{};
}

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

constexpr const char *kDirPrefix = "zv-simdisk.";
constexpr const char *kOwnerFile = "/fixture-owner";

// "<pid> <start time>" of a process, the start time from /proc/PID/stat,
// so a reused pid is not taken for the owner.
std::string process_identity(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return "";
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22) return std::to_string(pid) + " " + field;
    }
    return "";
}

// Where the fixture keeps its disks: memory-backed when the machine has it,
// as a device keeps its state in its own RAM and flash, so that the
// simulator's per-command bookkeeping does not wait on the machine's disk.
const std::string &state_base() {
    static const std::string base = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
    return base;
}

// Disks of fixtures whose process died without cleaning up (a crashed
// test): removed, so that loop devices and nodes do not pile up on a
// machine that runs the tests again and again.
void sweep_abandoned_disks() {
    DIR *d = ::opendir(state_base().c_str());
    if (!d) return;
    std::vector<std::string> abandoned;
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind(kDirPrefix, 0) != 0) continue;
        std::string dir = state_base() + "/" + name;
        std::ifstream in(dir + kOwnerFile);
        std::string owner;
        if (!std::getline(in, owner)) continue;   // being made right now
        std::istringstream ids(owner);
        long pid = 0;
        ids >> pid;
        if (pid > 0 && process_identity(static_cast<pid_t>(pid)) == owner) continue;
        abandoned.push_back(dir);
    }
    ::closedir(d);
    for (const auto &dir : abandoned) {
        run_cli("remove " + shell_quote(dir) + " >/dev/null 2>&1");
        shell("rm -rf " + shell_quote(dir));
    }
}

std::string unused_dev_name(bool nvme) {
    std::random_device rd;
    std::mt19937 gen(rd());
    std::uniform_int_distribution<int> letter('a', 'z');
    std::uniform_int_distribution<int> digit('0', '9');
    for (int i = 0; i < 200; ++i) {
        std::string dev = nvme ? "/dev/nvme" : "/dev/sdq";
        for (int k = 0; k < 3; ++k) dev.push_back(static_cast<char>(nvme ? digit(gen) : letter(gen)));
        if (nvme) dev += "n1";
        if (!exists(dev)) return dev;
    }
    throw std::runtime_error("no unused device name");
}
}  // namespace

std::string cli() {
    const char *env = std::getenv("SECUREDISK_SIM_CLI");
    return env && *env ? env : "securedisk-sim";
}

std::string shell_quote(const std::string &s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

namespace {
// Runs a command line; with `foreign`, an inherited sanitizer runtime only
// watches the simulator inside the child, not the child's own code.
std::string run_command(const std::string &cmdline, int *status, bool foreign) {
    std::string cmd = cmdline;
    const char *asan = std::getenv("ASAN_OPTIONS");
    if (foreign && asan)
        cmd = "ASAN_OPTIONS=" +
              shell_quote(std::string(asan) +
                          ":detect_leaks=0:replace_str=0:replace_intrin=0:intercept_strchr=0:intercept_strlen=0:intercept_strndup=0") +
              " " + cmd;
    std::string out;
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = ::pclose(p);
    if (status) {
        if (st == -1) *status = -1;
        else if (WIFEXITED(st)) *status = WEXITSTATUS(st);
        else if (WIFSIGNALED(st)) *status = 128 + WTERMSIG(st);
        else *status = -1;
    }
    return out;
}
}  // namespace

std::string shell(const std::string &cmdline, int *status) {
    return run_command(cmdline, status, true);
}

// The tool is ours: it runs with every sanitizer check of the build.
std::string run_cli(const std::string &args, int *status) {
    return run_command(shell_quote(cli()) + " " + args, status, false);
}

std::string record_field(const std::string &line, const std::string &key) {
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        if (word.compare(0, key.size() + 1, key + "=") == 0) return word.substr(key.size() + 1);
    return "";
}

namespace {
// What the kernel's sd driver sends a disk on its own: the probe (INQUIRY,
// READ CAPACITY, MODE SENSE, REPORT SUPPORTED OPERATION CODES), the media
// check and the medium lock at every first open (TEST UNIT READY, PREVENT
// ALLOW MEDIUM REMOVAL), the partition scan (READ (10)) and the cache flush
// (SYNCHRONIZE CACHE).
bool sent_by_the_sd_driver(const std::string &cdb_hex) {
    static const char *const kOwn[] = {"00", "12", "1a", "1e", "25", "28", "35", "5a", "9e", "a3"};
    for (const char *op : kOwn)
        if (cdb_hex.compare(0, 2, op) == 0) return true;
    return false;
}
}  // namespace

SimDisk::SimDisk(SimDiskOptions opts) {
    sweep_abandoned_disks();
    std::string tmpl = state_base() + "/" + kDirPrefix + "XXXXXX";
    if (!::mkdtemp(&tmpl[0])) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    std::ofstream(dir_ + kOwnerFile) << process_identity(::getpid()) << "\n";
    const bool nvme = opts.kind == "nvme";
    std::string args = "create " + shell_quote(dir_) + " --dev " +
                       shell_quote(opts.dev.empty() ? unused_dev_name(nvme) : opts.dev);
    if (!opts.kind.empty()) args += " --kind " + shell_quote(opts.kind);
    if (opts.nsid > 0) args += " --nsid " + std::to_string(opts.nsid);
    if (!opts.serial.empty()) args += " --serial " + shell_quote(opts.serial);
    if (opts.tries > 0) args += " --tries " + std::to_string(opts.tries);
    if (!opts.public_size.empty()) args += " --public-size " + shell_quote(opts.public_size);
    if (!opts.private_size.empty()) args += " --private-size " + shell_quote(opts.private_size);
    if (opts.reenum_ms >= 0) args += " --reenum-ms " + std::to_string(opts.reenum_ms);
    if (!opts.next_dev.empty()) args += " --next-dev " + shell_quote(opts.next_dev);
    if (on_kernel()) args += " --backing image";   // the kernel makes the nodes
    else if (!opts.backing.empty()) args += " --backing " + shell_quote(opts.backing);
    int status = 0;
    std::string err = tool_output(args + " 2>&1", &status);
    if (status != 0) {
        ::unlink((dir_ + kOwnerFile).c_str());
        ::rmdir(dir_.c_str());
        throw std::runtime_error("securedisk-sim create failed: " + err);
    }
    if (on_kernel()) {
        serve();
        return;
    }
    std::vector<std::string> dirs = sim_dirs();
    dirs.push_back(dir_);
    set_sim_dirs(dirs);
}

bool SimDisk::on_kernel() {
    const char *env = std::getenv("SECUREDISK_SIM_SERVE");
    return env && std::string(env) == "1";
}

void SimDisk::serve() {
    const std::string ready = served_file();
    server_ = ::fork();
    if (server_ < 0) throw std::runtime_error("fork failed");
    if (server_ == 0) {
        const std::string tool = cli();
        ::execl(tool.c_str(), tool.c_str(), "serve", dir_.c_str(), "--ready", ready.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!served()) {
        int st = 0;
        if (::waitpid(server_, &st, WNOHANG) == server_) {
            server_ = -1;
            throw std::runtime_error("securedisk-sim serve stopped at once");
        }
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("the kernel did not probe the served disk");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string SimDisk::served_file() const { return dir_ + "/served"; }

// The kernel has probed the disk's current presentation.
bool SimDisk::served() const {
    std::ifstream in(served_file());
    std::string line;
    if (!std::getline(in, line)) return false;
    return line == "generation=" + show()["generation"] && !kernel_dev().empty();
}

// The disk node whose unit serial number (VPD page 0x80) is this disk's.
std::string SimDisk::kernel_dev() const {
    const std::string serial = show()["serial"];
    DIR *d = ::opendir("/sys/block");
    if (!d) return "";
    std::string found;
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("sd", 0) != 0) continue;
        std::ifstream in("/sys/block/" + name + "/device/vpd_pg80", std::ios::binary);
        std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (page.size() > 4 && page.substr(4) == serial && exists("/dev/" + name)) {
            found = "/dev/" + name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

SimDisk::~SimDisk() {
    if (server_ > 0) {
        ::kill(server_, SIGTERM);
        int st = 0;
        ::waitpid(server_, &st, 0);
    }
    std::vector<std::string> dirs = sim_dirs();
    std::vector<std::string> kept;
    for (const auto &d : dirs)
        if (d != dir_) kept.push_back(d);
    set_sim_dirs(kept);
    tool("remove " + shell_quote(dir_) + " >/dev/null 2>&1");
}

const std::string &SimDisk::dir() const { return dir_; }

std::map<std::string, std::string> SimDisk::show() const {
    std::map<std::string, std::string> kv;
    std::istringstream in(tool_output("show " + shell_quote(dir_)));
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

// On the kernel the disk is touched only once it is there: a disk on its
// way back from a reset is waited for (as a host waits for a re-plugged
// disk), which the preload does at the next open.
std::string SimDisk::dev() const {
    if (!on_kernel()) return show()["dev"];
    wait_present();
    return kernel_dev();
}

int SimDisk::tool(const std::string &args) const {
    int status = 0;
    tool_output(args, &status);
    // A power cycle on the kernel: done once the kernel has probed the disk
    // again, as a user sees a re-plugged disk.
    if (status == 0 && on_kernel() && args.rfind("replug", 0) == 0) wait_present();
    return status;
}

std::string SimDisk::tool_output(const std::string &args, int *status) const {
    return run_cli(args, status);
}

std::vector<std::string> SimDisk::commands() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_ + "/commands.log");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (on_kernel() && sent_by_the_sd_driver(record_field(line, "cdb"))) continue;
        lines.push_back(line);
    }
    return lines;
}

void SimDisk::set(const std::string &assignments) const {
    int status = 0;
    std::string err = tool_output("set " + shell_quote(dir_) + " " + assignments + " 2>&1", &status);
    if (status != 0) throw std::runtime_error("securedisk-sim set failed: " + err);
}

bool SimDisk::wait_present(int timeout_ms) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        // On the kernel the disk is back once the kernel has probed it.
        if (show()["present"] == "1" && (!on_kernel() || served())) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace simtest
