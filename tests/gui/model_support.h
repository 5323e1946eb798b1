// The security disk model's test programs: a lsblk on PATH that lists the
// simulated disks of this process, and requests sent straight through the
// wrappers.
#ifndef GUI_MODEL_SUPPORT_H
#define GUI_MODEL_SUPPORT_H

#include <cstring>
#include <string>

#include "gui_test_support.h"
#include "security_cmd.h"

namespace guitest {

// The machine's lsblk output and one disk line per simulated disk of this
// process (SECUREDISK_SIM); the tool's own leaks are not this test's.
inline void add_simulated_lsblk(const ToolDir &tools)
{
    tools.add_script("lsblk", "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"\n"
                              "export ASAN_OPTIONS\n"
                              "exec \"${SECUREDISK_SIM_CLI:-securedisk-sim}\" lsblk \"$@\"\n");
}

// One wrapper call on a device, with an optional parameter string.
inline int send_to(int (*wrapper)(_USER_DATA_ *), const std::string &dev, const char *sub_name,
                   const char *param = "", _USER_DATA_ *out = nullptr)
{
    _USER_DATA_ data;
    memset(&data, 0, sizeof(data));
    data.dev_name = dev.c_str();
    data.cmd_name = sub_name;
    data.sub_name = sub_name;
    strncpy(data.in_data, param, sizeof(data.in_data) - 1);
    int status = wrapper(&data);
    if (out != nullptr)
        *out = data;
    return status;
}

} // namespace guitest

#endif
