// A scripted security disk model for the in-process tests of the pages:
// ZVSecurityDisk's interface with answers the test chooses and a record of
// every call, and the disk-service probe with a chosen verdict. Linked in
// place of the real model, so the pages' own code runs unchanged.
#ifndef APP_FAKE_DISK_H
#define APP_FAKE_DISK_H

#include <QString>

#include <deque>
#include <string>
#include <vector>

#include "zvsecurity_disk.h"

namespace fakedisk {

struct Script {
    int init_result = 0;
    int status_result = 0;
    PasswordStatus status = {1, 5};
    std::deque<int> verify_results; // one per call, then 0
    int set_password_result = 0;
    int set_prompt_result = 0;
    int get_prompt_result = 0;
    QString prompt;
    std::deque<int> scan_results;   // one per call, then 0
    int format_result = 0;
    int format_ms = 0;              // how long formatting takes
    bool service_reachable = true;
};

// Replaces the script and forgets the calls.
void reset(const Script &script = Script());
// Changes the script in place.
void update(void (*change)(Script &));
Script script();

// "init", "status", "set_prompt:P", "set_password:P", "verify:P", "scan",
// "format", "get_prompt", "watchdog:1"/"watchdog:0", "drive:E", "exit",
// "probe", in the order they came.
std::vector<std::string> calls();
// How many calls start with prefix.
int count(const std::string &prefix);
// The last value the pages gave set_watchdog (true after reset).
bool watchdog_on();

} // namespace fakedisk

#endif
