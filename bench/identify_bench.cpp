// How long one identify takes through the GUI's command layer (catalogue
// read and parse, D-Bus, the disk service, the simulated device), against
// two references measured in the same run: the same SG_IO issued in this
// process (the floor) and sg_sat_identify started as a process per command
// (what a user would run instead). Prints the three medians and the ratios,
// then where the wrapper's time goes: the bus alone (a call the service
// refuses before it touches a device) and the device work the service does
// per call (stat, open, SG_IO, close), measured here in-process.
//
// Usage: zv-identify-bench [ITERATIONS [PROCESS_ITERATIONS]]
// It re-starts itself under the simulated disk's preload library when
// needed, and must run as root (the service owns its bus name as root).
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "protocol_interface.h"
#include "security_cmd.h"
#include "service_fixture.h"
#include "sim_disk.h"

extern char **environ;

namespace {

const int kWarmUp = 50;

using Clock = std::chrono::steady_clock;

// Makes sure this process (and so the service and the tools it starts)
// sees the simulated disk; returns only when it does.
void run_under_preload(char **argv)
{
    const char *preload = getenv("LD_PRELOAD");
    if (preload != nullptr && strstr(preload, ZV_SIM_PRELOAD_LIB) != nullptr)
        return;
    std::string value = ZV_SIM_PRELOAD_LIB;
    if (preload != nullptr && *preload != '\0')
        value = std::string(preload) + ":" + value;
    setenv("LD_PRELOAD", value.c_str(), 1);
    setenv("SECUREDISK_SIM_CLI", ZV_SIM_CLI, 0);
    execv("/proc/self/exe", argv);
    perror("zv-identify-bench: cannot re-start under the preload library");
    exit(1);
}

// Median of n timed runs of one command, in microseconds; false when a run failed.
bool median_us(int n, const std::function<bool()> &command, double *median)
{
    for (int i = 0; i < kWarmUp; i++)
        if (!command())
            return false;
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        Clock::time_point start = Clock::now();
        if (!command())
            return false;
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    size_t mid = samples.size() / 2;
    *median = samples.size() % 2 != 0 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
    return true;
}

bool has_signature(const uint8_t *page)
{
    return page[262] == 0x44 && page[263] == 0x53;
}

int fail(const char *what)
{
    fprintf(stderr, "zv-identify-bench: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    run_under_preload(argv);
    const int iterations = argc > 1 ? atoi(argv[1]) : 2000;
    const int process_iterations = argc > 2 ? atoi(argv[2]) : 200;
    if (iterations < 1 || process_iterations < 1)
        return fail("usage: zv-identify-bench [ITERATIONS [PROCESS_ITERATIONS]]");

    QCoreApplication app(argc, argv);
    simtest::SimDisk disk;
    const std::string dev = disk.dev();
    svctest::PrivateSystemBus bus;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    svctest::ServiceProcess service(bus);

    // The GUI's path: one identify wrapper call, as the model makes it.
    auto wrapper = [&dev]() {
        _USER_DATA_ data;
        memset(&data, 0, sizeof(data));
        data.dev_name = dev.c_str();
        data.cmd_name = "identify";
        data.sub_name = "identify";
        return identify(&data) == 0 && has_signature(data.out_data);
    };

    // The floor: the service's own SG_IO, issued here on an open device.
    int handle = open_disk_handle(dev.c_str(), 1);
    if (handle == -1)
        return fail("cannot open the simulated disk");
    PPROTOCOL_FUNC_S transport = get_protocol_func(SELECT_SCSI_ATA_TYPE);
    uint8_t page[512];
    auto in_process = [handle, transport, &page]() {
        PROTOCOL_CMD_S cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.handle = handle;
        cmd.buffer = page;
        cmd.buffer_len = sizeof(page);
        cmd.timeout = 10;
        cmd.data_to = DATA_FROM_DEV;
        memset(page, 0, sizeof(page));
        return transport->identify(&cmd) == 0 && has_signature(page);
    };

    // What a user would run instead: a process per command.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    auto tool = [&dev, &quiet]() {
        const char *args[] = {"sg_sat_identify", "-r", dev.c_str(), nullptr};
        pid_t pid;
        if (posix_spawnp(&pid, "sg_sat_identify", &quiet, nullptr, const_cast<char **>(args), environ) != 0)
            return false;
        int status = 0;
        return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };

    // Breakdown: the same wrapper on a name the service refuses at once (55),
    // and the service's per-call work on the device.
    auto bus_only = []() {
        _USER_DATA_ data;
        memset(&data, 0, sizeof(data));
        data.dev_name = "refused";
        data.sub_name = "identify";
        return identify(&data) == 55;
    };
    auto device_work = [&dev, transport]() {
        struct stat st;
        if (stat(dev.c_str(), &st) != 0)
            return false;
        int h = open_disk_handle(dev.c_str(), 1);
        if (h == -1)
            return false;
        uint8_t buffer[512];
        PROTOCOL_CMD_S cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.handle = h;
        cmd.buffer = buffer;
        cmd.buffer_len = sizeof(buffer);
        cmd.timeout = 10;
        cmd.data_to = DATA_FROM_DEV;
        bool ok = transport->identify(&cmd) == 0;
        close_disk_handle(h);
        return ok;
    };

    double wrapper_us = 0, floor_us = 0, tool_us = 0, bus_us = 0, device_us = 0;
    if (!median_us(iterations, wrapper, &wrapper_us))
        return fail("the identify wrapper failed");
    if (!median_us(iterations, in_process, &floor_us))
        return fail("the in-process SG_IO failed");
    if (!median_us(process_iterations, tool, &tool_us))
        return fail("sg_sat_identify failed");
    if (!median_us(iterations, bus_only, &bus_us))
        return fail("the refused call did not come back refused");
    if (!median_us(iterations, device_work, &device_us))
        return fail("the in-process device work failed");
    close_disk_handle(handle);
    posix_spawn_file_actions_destroy(&quiet);

    printf("identify round trip, median of %d (sg_sat_identify: %d), simulated disk %s\n", iterations,
           process_iterations, dev.c_str());
    printf("  identify wrapper (catalogue, D-Bus, service, device)  %9.1f us\n", wrapper_us);
    printf("  SG_IO in this process (floor)                         %9.1f us\n", floor_us);
    printf("  sg_sat_identify, one process per command              %9.1f us\n", tool_us);
    printf("  wrapper / floor                                       %9.2f\n", wrapper_us / floor_us);
    printf("  sg_sat_identify / wrapper                             %9.2f\n", tool_us / wrapper_us);
    printf("where the wrapper's time goes (medians):\n");
    printf("  catalogue + D-Bus round trip, no device               %9.1f us\n", bus_us);
    printf("  the service's device work: stat, open, SG_IO, close   %9.1f us\n", device_us);
    printf("  aim: wrapper <= 500 us: %s; at least 4x faster than sg_sat_identify: %s\n",
           wrapper_us <= 500 ? "met" : "not met", tool_us / wrapper_us >= 4 ? "met" : "not met");
    return 0;
}
