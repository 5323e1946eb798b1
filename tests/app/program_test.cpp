// The whole program as a person uses it: the real zvsecurity under Xvfb,
// driven with the pointer and the keyboard, against the real disk service
// and a simulated secure disk on a private system bus. What the user sees
// is kept as screenshots (test-output/app/<test>/); what the disk ends up
// as is read from the simulated disk.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>

#include "desktop_driver.h"
#include "service_fixture.h"
#include "sim_disk.h"

namespace {

using desktop::Colour;
using desktop::Rect;

const char kWindowTitle[] = "瓦罗安全工具";   // MainWindow, translated
const char kDialogTitle[] = "提示";           // messagedialog, translated
const char kLockFile[] = "/tmp/zvsecuritylockfile.txt";
const char kPassword[] = "Zv2024secure";
const char kPrompt[] = "first car, then the year";

// The desktop user of the tests that run the program as a user other than
// root: nobody, without groups (svctest::as_nobody()).
const uid_t kDesktopUid = 65534;
const gid_t kDesktopGid = 65534;

// Where things are on the page host (the card's page area, 313 x 304 for
// the window of a 1920 x 1080 screen), from its top-left corner.
struct Spot {
    int x;
    int y;
};
const Spot kLicenceTick = {77, 244};         // the check box's text
const Spot kLicenceNext = {255, 277};
const Spot kLicenceNextEdge = {230, 277};    // beside the button's text
const Spot kSetPassword = {157, 50};
const Spot kSetOkEdge = {230, 279};
const Spot kSetBackEdge = {20, 279};
const Spot kLoginField = {157, 82};
const Spot kLoginButtonEdge = {30, 179};
const Spot kPromptButton = {52, 277};
// On a message dialog, from its top-left corner.
const Spot kDialogOnlyButton = {156, 235};

std::string read_text(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The screenshots' folder: ZV_SCREENSHOT_DIR in the environment, or the
// build's.
std::string output_dir()
{
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    const char *dir = getenv("ZV_SCREENSHOT_DIR");
    return std::string(dir != nullptr ? dir : ZV_SCREENSHOT_DIR) + "/" + info->test_suite_name() + "." +
           info->name();
}

// The page host of the main window at r.
Rect page_host(const Rect &window)
{
    Rect host;
    host.x = window.x + int(0.525 * window.width);
    host.y = window.y + int(0.28 * window.height);
    return host;
}

// What the kernel does on its own on a real machine: a disk whose return to
// the bus is due comes back even while only the desktop user's program
// looks for it (the simulator brings it back at the next touch by a
// process that may change its state; the desktop user's listing may not).
class KernelSide {
public:
    explicit KernelSide(const simtest::SimDisk &disk)
        : thread_([this, &disk] {
              while (!stop_) {
                  disk.show();
                  std::this_thread::sleep_for(std::chrono::milliseconds(200));
              }
          })
    {
    }
    ~KernelSide()
    {
        stop_ = true;
        thread_.join();
    }
    KernelSide(const KernelSide &) = delete;
    KernelSide &operator=(const KernelSide &) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A desktop of the test's own: Xvfb, the pointer and keyboard driver, a
// folder for the program's temporary files, and the program's pages as a
// person goes through them.
class DesktopStory : public testing::Test {
protected:
    void start_desktop()
    {
        lock_existed_ = access(kLockFile, F_OK) == 0;
        char tmpl[] = "/tmp/zvsecurity-app-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        mkdir((dir_ + "/tmp").c_str(), 0700);
        mkdir((dir_ + "/runtime").c_str(), 0700);
        mkdir((dir_ + "/home").c_str(), 0700);
        xvfb_.reset(new desktop::Xvfb());
        driver_.reset(new desktop::Driver(xvfb_->display(), output_dir()));
    }

    void TearDown() override
    {
        programs_.clear();
        driver_.reset();
        xvfb_.reset();
        if (!dir_.empty())
            simtest::shell("rm -rf '" + dir_ + "'");
        // The program never removes its lock file; the test does, if it made it.
        if (!lock_existed_)
            unlink(kLockFile);
        if (!output_dir().empty())
            printf("screenshots: %s\n", output_dir().c_str());
    }

    // From now on the program runs as the desktop user (kDesktopUid), with
    // its temporary directory, runtime directory and home its own; the
    // disks' state directories become searchable for it, so that its lsblk
    // lists them (their images and nodes stay root's).
    void run_as_desktop_user(const std::vector<const simtest::SimDisk *> &disks)
    {
        ASSERT_EQ(chmod(dir_.c_str(), 0711), 0);
        for (const char *sub : {"/tmp", "/runtime", "/home"})
            ASSERT_EQ(chown((dir_ + sub).c_str(), kDesktopUid, kDesktopGid), 0) << sub;
        for (const simtest::SimDisk *disk : disks)
            ASSERT_EQ(chmod(disk->dir().c_str(), 0711), 0);
        as_desktop_user_ = true;
    }

    // What the program's environment adds to (or replaces in) the test's.
    virtual std::map<std::string, std::string> program_environment()
    {
        return {
            {"DISPLAY", xvfb_->display()},
            {"TMPDIR", dir_ + "/tmp"},
            {"XDG_RUNTIME_DIR", dir_ + "/runtime"},
            {"QT_QPA_PLATFORM", "xcb"},
        };
    }

    // zvsecurity as the user starts it, on the test's display;
    // extra_env adds to or replaces its environment.
    desktop::Process &start_program(const std::vector<std::string> &args = {},
                                    const std::map<std::string, std::string> &extra_env = {})
    {
        std::map<std::string, std::string> env = program_environment();
        if (as_desktop_user_)
            env["HOME"] = dir_ + "/home";
        const char *asan = getenv("ASAN_OPTIONS");
        if (asan != nullptr) // Qt's and the singletons' memory lives until exit
            env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
        for (const auto &kv : extra_env)
            env[kv.first] = kv.second;
        if (as_desktop_user_) {
            std::vector<std::string> argv = svctest::as_nobody();
            argv.push_back(program_);
            argv.insert(argv.end(), args.begin(), args.end());
            programs_.emplace_back(new desktop::Process("setpriv", argv, env));
        } else {
            programs_.emplace_back(new desktop::Process(program_, args, env));
        }
        return *programs_.back();
    }

    std::string log_text() const { return read_text(dir_ + "/tmp/zvsecurity.log"); }
    // Waits until the log holds text.
    bool wait_log(const std::string &text, int timeout_ms = 60000)
    {
        for (int waited = 0; waited < timeout_ms; waited += 100) {
            if (log_text().find(text) != std::string::npos)
                return true;
            desktop::settle(100);
        }
        return false;
    }
    // Presses one key and lets the screen show what it did.
    void press(const std::string &key)
    {
        driver_->key(key);
        desktop::settle(400);
    }

    void click_on(const Rect &origin, const Spot &spot) { driver_->click(origin.x + spot.x, origin.y + spot.y); }
    bool wait_colour_on(const Rect &origin, const Spot &spot, const Colour &colour)
    {
        return driver_->wait_colour(origin.x + spot.x, origin.y + spot.y, colour);
    }
    // Waits for a message dialog, keeps its picture, and closes it with
    // its only button.
    void answer_dialog(const std::string &name)
    {
        Rect dialog;
        ASSERT_TRUE(driver_->wait_window(kDialogTitle, &dialog)) << "no message for " << name;
        desktop::settle(400);
        driver_->screenshot(name);
        click_on(dialog, kDialogOnlyButton);
        ASSERT_TRUE(driver_->wait_no_window(kDialogTitle));
    }

    // The first-time set-up as a person does it, from the licence page to
    // the answer of the set-up's message; returns that message's name.
    void set_up_through_the_pages(const std::string &password, const std::string &prompt)
    {
        Rect window;
        ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
        const Rect host = page_host(window);
        ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kPink)) << "the licence page";
        click_on(host, kLicenceTick);
        ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kRed));
        click_on(host, kLicenceNext);
        ASSERT_TRUE(wait_colour_on(host, kSetOkEdge, desktop::kRed)) << "the set-password page";
        fill_set_password_page(host, password, prompt);
        Rect dialog;
        ASSERT_TRUE(driver_->wait_window(kDialogTitle, &dialog, 300000)) << "the set-up never reported";
    }

    // Types the password twice and the prompt on the set-password page, and
    // presses Return to start the set-up.
    void fill_set_password_page(const Rect &host, const std::string &password, const std::string &prompt)
    {
        click_on(host, kSetPassword);
        driver_->type(password);
        driver_->key("Tab");
        driver_->type(password);
        driver_->key("Tab");
        driver_->type(prompt);
        desktop::settle(300);
        driver_->screenshot("set-password-filled");
        driver_->key("Return");
        desktop::settle(1500);
        driver_->screenshot("formatting");
    }

    // After a set-up the program reported as done: the disk back on the
    // bus with the password and the prompt, its private area presented
    // with a file system on it, and the log saying so.
    void expect_set_up(const simtest::SimDisk &disk, const std::string &prompt)
    {
        ASSERT_TRUE(disk.wait_present());
        std::map<std::string, std::string> state = disk.show();
        EXPECT_EQ(state["password_set"], "1");
        EXPECT_EQ(state["prompt"], prompt);
        EXPECT_EQ(state["unlocked"], "1");
        EXPECT_EQ(state["area"], "private");
        int status = 0;
        const std::string fs = simtest::shell("blkid -o value -s TYPE " + disk.dev() + "1", &status);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(fs == "ntfs\n" || fs == "exfat\n") << "file system: " << fs;
        const std::string log = log_text();
        EXPECT_NE(log.find("[info]: program is ready, welcome to use. ---:0\n"), std::string::npos) << log;
    }

    // The login page: types the password and presses Return.
    void log_in_with(const std::string &password)
    {
        Rect window;
        ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
        const Rect host = page_host(window);
        ASSERT_TRUE(wait_colour_on(host, kLoginButtonEdge, desktop::kRed)) << "the login page";
        click_on(host, kLoginField);
        driver_->key("ctrl+a");
        driver_->type(password);
        desktop::settle(300);
        driver_->key("Return");
    }

    std::string program_ = ZV_GUI_PROGRAM;
    std::unique_ptr<desktop::Xvfb> xvfb_;
    std::unique_ptr<desktop::Driver> driver_;
    std::vector<std::unique_ptr<desktop::Process>> programs_;
    std::string dir_;
    bool lock_existed_ = true;
    bool as_desktop_user_ = false;
};

// The program of this build against the real service on a private system
// bus and a simulated secure disk.
class ProgramTest : public DesktopStory {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the simulated disk's partitions and the service need root";
        start_desktop();
        mkdir((dir_ + "/tools").c_str(), 0755);
        // The program lists disks with lsblk: this one adds the simulated disks.
        std::ofstream(dir_ + "/tools/lsblk") << "#!/bin/sh\n"
                                               "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\"\n"
                                               "export ASAN_OPTIONS\n"
                                               "exec \""
                                            << simtest::cli() << "\" lsblk \"$@\"\n";
        chmod((dir_ + "/tools/lsblk").c_str(), 0755);
    }

    void TearDown() override
    {
        programs_.clear();
        service_.reset();
        DesktopStory::TearDown();
    }

    void start_service() { service_.reset(new svctest::ServiceProcess(bus_)); }

    std::map<std::string, std::string> program_environment() override
    {
        std::map<std::string, std::string> env = DesktopStory::program_environment();
        const char *path = getenv("PATH");
        env["DBUS_SYSTEM_BUS_ADDRESS"] = bus_.address();
        env["PATH"] = dir_ + "/tools:" + (path != nullptr ? path : "/usr/bin:/bin");
        return env;
    }

    svctest::PrivateSystemBus bus_;
    std::unique_ptr<svctest::ServiceProcess> service_;
};

// The installed program as a desktop user runs it on a machine: the
// machine's system bus, which starts the installed disk service, polkit
// asked on each call, the real lsblk and the kernel's disk. Run by
// scripts/kernel-test in a guest with the packages installed, as that
// user, one case after the other (the disk is plugged in again between
// them); ZV_INSTALLED_PROGRAM names the program. What the disk ends as is
// checked there, by root.
class InstalledProgram : public DesktopStory {
protected:
    void SetUp() override
    {
        const char *program = getenv("ZV_INSTALLED_PROGRAM");
        if (program == nullptr)
            GTEST_SKIP() << "for an installed program on a machine (ZV_INSTALLED_PROGRAM)";
        program_ = program;
        start_desktop();
    }
};

// A fresh disk: the licence, the password and the prompt, the set-up with
// its resets and formatting, and the message that the disk is ready.
TEST_F(InstalledProgram, FirstTimeUserSetsUpTheDisk)
{
    desktop::Process &program = start_program();
    set_up_through_the_pages(kPassword, kPrompt);
    answer_dialog("ready");
    ASSERT_EQ(program.wait(30000), 0);
    const std::string log = log_text();
    EXPECT_NE(log.find("[info]: program is ready, welcome to use. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(kPassword), std::string::npos) << "the password reached the log";
}

// The disk plugged in again, locked: a wrong password is refused with a
// message, the prompt is shown, the right password unlocks it and the
// program ends with 0.
TEST_F(InstalledProgram, ReturningUserTypesAWrongPasswordThenTheRightOne)
{
    desktop::Process &program = start_program();
    log_in_with("wrong4you");
    answer_dialog("wrong-password");
    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    click_on(page_host(window), kPromptButton);
    answer_dialog("password-prompt");
    log_in_with(kPassword);
    ASSERT_EQ(program.wait(120000), 0);
    const std::string log = log_text();
    EXPECT_NE(log.find("[critical]: unlock disk  successful. application exit. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(kPassword), std::string::npos);
    EXPECT_EQ(log.find("wrong4you"), std::string::npos);
}

// A first-time user: accepts the licence, sets a password and a prompt,
// waits for the formatting and is told the disk is ready; the disk ends
// with the password, the prompt, a formatted partition, and unlocked.
TEST_F(ProgramTest, FirstTimeUserSetsPasswordAndPromptAndTheDiskIsFormatted)
{
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    simtest::SimDisk disk(opts);
    ASSERT_EQ(disk.show()["password_set"], "0");
    start_service();
    desktop::Process &program = start_program();

    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    EXPECT_EQ(window.width, 951);
    EXPECT_EQ(window.height, 535);
    const Rect host = page_host(window);
    ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kPink)) << "the licence page, next disabled";
    driver_->screenshot("licence");

    click_on(host, kLicenceTick);
    ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kRed)) << "next enabled once ticked";
    driver_->screenshot("licence-accepted");
    click_on(host, kLicenceNext);
    ASSERT_TRUE(wait_colour_on(host, kSetOkEdge, desktop::kRed)) << "the set-password page";
    EXPECT_EQ(driver_->colour_at(host.x + kSetBackEdge.x, host.y + kSetBackEdge.y), desktop::kPink)
        << "no way back from the first set-up";
    driver_->screenshot("set-password");

    fill_set_password_page(host, kPassword, kPrompt);

    Rect dialog;
    ASSERT_TRUE(driver_->wait_window(kDialogTitle, &dialog, 180000)) << "the set-up never reported";
    answer_dialog("ready");
    ASSERT_EQ(program.wait(30000), 0);

    expect_set_up(disk, kPrompt);
    const std::string log = log_text();
    EXPECT_EQ(log.find(kPassword), std::string::npos) << "the password reached the log";
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/tmp/zvsecurity.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A returning user: a wrong password costs one try and says how many are
// left; a second copy of the program is refused; the prompt is shown; the
// right password unlocks the disk and the program ends with 0.
TEST_F(ProgramTest, ReturningUserTypesAWrongPasswordThenTheRightOne)
{
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    opts.tries = 4;
    simtest::SimDisk disk(opts);
    disk.set(std::string("password=") + kPassword + " prompt=" + simtest::shell_quote(kPrompt));
    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    ASSERT_EQ(disk.show()["locked"], "1");
    start_service();
    desktop::Process &program = start_program();

    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    const Rect host = page_host(window);
    ASSERT_TRUE(wait_colour_on(host, kLoginButtonEdge, desktop::kRed)) << "the login page";
    driver_->screenshot("login");

    click_on(host, kLoginField);
    driver_->type("wrong4you");
    driver_->key("Return");
    Rect dialog;
    ASSERT_TRUE(driver_->wait_window(kDialogTitle, &dialog));
    EXPECT_EQ(dialog.x, host.x);
    EXPECT_EQ(dialog.y, host.y);
    EXPECT_EQ(disk.show()["tries_left"], "3") << "one try fewer";
    answer_dialog("wrong-password-3-tries-left");

    // A second copy while the first runs: one warning, and it ends.
    desktop::Process &second = start_program();
    Rect refusal;
    ASSERT_TRUE(driver_->wait_window("messagedialog", &refusal)) << "the second copy said nothing";
    desktop::settle(400);
    driver_->screenshot("second-copy-refused");
    click_on(refusal, kDialogOnlyButton);
    EXPECT_EQ(second.wait(30000), 0);
    EXPECT_TRUE(program.running());

    click_on(host, kPromptButton);
    answer_dialog("password-prompt");

    // The wrong password is still in the field: select it and type over it.
    click_on(host, kLoginField);
    driver_->key("ctrl+a");
    driver_->type(kPassword);
    desktop::settle(300);
    driver_->screenshot("right-password");
    driver_->key("Return");
    ASSERT_EQ(program.wait(60000), 0);

    ASSERT_TRUE(disk.wait_present());
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state["unlocked"], "1");
    EXPECT_EQ(state["area"], "private");
    EXPECT_EQ(state["tries_left"], "4") << "the right password restores the tries";
    const std::string log = log_text();
    EXPECT_NE(log.find("[critical]: unlock disk  successful. application exit. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(kPassword), std::string::npos);
    EXPECT_EQ(log.find("wrong4you"), std::string::npos);
}

// A first-time user with the keyboard alone: the licence page starts on the
// agreement, Tab to the check box and tick it with Space, on to the set-password page whose first field has the
// focus, fill it in, Tab to OK; the progress panel names each step of the
// set-up (pictures of each kept), and Return closes the last message.
TEST_F(ProgramTest, AKeyboardUserSetsUpTheDiskAndSeesEachStep)
{
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 3000;
    simtest::SimDisk disk(opts);
    start_service();
    desktop::Process &program = start_program();

    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    const Rect host = page_host(window);
    ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kPink)) << "the licence page";
    ASSERT_TRUE(driver_->focus_window(kWindowTitle));
    desktop::settle(500);
    driver_->screenshot("licence-focus-agreement"); // the page's first control
    press("Tab");
    driver_->screenshot("licence-focus-check-box");
    press("space");
    ASSERT_TRUE(wait_colour_on(host, kLicenceNextEdge, desktop::kRed)) << "Space ticks the box";
    press("Tab");
    driver_->screenshot("licence-focus-exit");
    press("Tab");
    driver_->screenshot("licence-focus-next");
    press("space");
    ASSERT_TRUE(wait_colour_on(host, kSetOkEdge, desktop::kRed)) << "the set-password page";
    desktop::settle(300);
    driver_->screenshot("set-password-focus-first-field");

    driver_->type(kPassword); // straight into the first field
    press("Tab");
    driver_->type(kPassword);
    press("Tab");
    driver_->screenshot("set-password-focus-prompt");
    driver_->type(kPrompt);
    press("Tab"); // the back button is disabled: on to OK
    driver_->screenshot("set-password-focus-ok");
    press("space");

    // A picture of each step as the panel shows it.
    const int kSteps = 6;
    for (int step = 0; step < kSteps; step++) {
        const std::string line = "set-up step " + std::to_string(step) + ",";
        ASSERT_TRUE(wait_log(line, 180000)) << "no step " << step << "\n" << log_text();
        desktop::settle(step == 3 ? 1500 : 150);
        driver_->screenshot("set-up-step-" + std::to_string(step));
    }
    Rect dialog;
    ASSERT_TRUE(driver_->wait_window(kDialogTitle, &dialog, 180000)) << "the set-up never reported";
    desktop::settle(400);
    driver_->screenshot("ready");
    press("Return");
    ASSERT_EQ(program.wait(30000), 0);

    const std::string log = log_text();
    size_t at = 0;
    for (const char *step : {"set-up step 0, attempt 0", "set-up step 1, attempt 0", "set-up step 2, attempt 0",
                             "set-up step 3, attempt 1", "set-up step 4, attempt 0", "set-up step 5, attempt 0",
                             "[info]: program is ready, welcome to use."}) {
        at = log.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << " missing or out of order\n" << log;
    }
    ASSERT_TRUE(disk.wait_present());
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state["password_set"], "1");
    EXPECT_EQ(state["prompt"], kPrompt);
    EXPECT_EQ(state["unlocked"], "1");
}

// The question that leads to wiping the disk, answered from the keyboard:
// Escape, keypad Enter and Return all keep the login page and the disk as
// it was; only Tab to ok and Return goes on to the set-password page, and
// closing the window there leaves the disk untouched.
TEST_F(ProgramTest, TheWipeQuestionAnsweredFromTheKeyboardKeepsTheDisk)
{
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    opts.tries = 4;
    simtest::SimDisk disk(opts);
    disk.set(std::string("password=") + kPassword + " prompt=" + simtest::shell_quote(kPrompt));
    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    start_service();
    desktop::Process &program = start_program();

    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    const Rect host = page_host(window);
    ASSERT_TRUE(wait_colour_on(host, kLoginButtonEdge, desktop::kRed)) << "the login page";
    ASSERT_TRUE(driver_->focus_window(kWindowTitle));
    desktop::settle(500);
    driver_->screenshot("login-focus-field");
    press("Tab");
    driver_->screenshot("login-focus-login");
    press("Tab");
    press("Tab");
    driver_->screenshot("login-focus-reset");

    for (const std::string key : {"Escape", "KP_Enter", "Return"}) {
        press("space");
        Rect question;
        ASSERT_TRUE(driver_->wait_window(kDialogTitle, &question)) << "no question before " << key;
        desktop::settle(400);
        if (key == "Escape")
            driver_->screenshot("wipe-question-focus-cancel");
        press(key);
        ASSERT_TRUE(driver_->wait_no_window(kDialogTitle)) << key;
        ASSERT_TRUE(driver_->focus_window(kWindowTitle)); // as a window manager would
        desktop::settle(300);
        if (key == "Escape")
            driver_->screenshot("login-focus-back-on-reset");
        EXPECT_EQ(driver_->colour_at(host.x + kLoginButtonEdge.x, host.y + kLoginButtonEdge.y), desktop::kRed)
            << key << " left the login page";
    }
    press("space");
    Rect question;
    ASSERT_TRUE(driver_->wait_window(kDialogTitle, &question));
    desktop::settle(400);
    press("Tab");
    driver_->screenshot("wipe-question-focus-ok");
    press("Return");
    ASSERT_TRUE(wait_colour_on(host, kSetOkEdge, desktop::kRed)) << "Tab to ok and Return: the set-password page";
    EXPECT_EQ(driver_->colour_at(host.x + kSetBackEdge.x, host.y + kSetBackEdge.y), desktop::kRed)
        << "the way back is open";
    ASSERT_TRUE(driver_->focus_window(kWindowTitle));
    desktop::settle(300);
    driver_->screenshot("set-password-after-reset");

    // The window's close button, at its top right.
    driver_->click(window.x + int(0.97 * window.width) + 10, window.y + 15);
    ASSERT_EQ(program.wait(30000), 0);
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state["password_set"], "1");
    EXPECT_EQ(state["prompt"], kPrompt);
    EXPECT_EQ(state["tries_left"], "4");
    EXPECT_EQ(state["locked"], "1");
    EXPECT_EQ(log_text().find("format"), std::string::npos) << log_text();
}

// On Wayland (weston's headless compositor, Qt's Wayland platform) the
// program shows its first page, and ends with 0 when the disk goes away.
TEST_F(ProgramTest, OnWaylandTheFirstPageShowsAndTheProgramEndsWithZero)
{
    std::unique_ptr<simtest::SimDisk> disk(new simtest::SimDisk());
    start_service();
    desktop::Weston weston(dir_ + "/runtime");
    ASSERT_TRUE(weston.ready()) << "weston did not start";
    desktop::Process &program = start_program(
        {}, {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", weston.socket()}, {"DISPLAY", ""}});

    ASSERT_TRUE(wait_log("show page 0")) << log_text();
    desktop::settle(1500);
    const std::string shot = weston.screenshot(output_dir(), 1, "wayland-licence");
    ASSERT_FALSE(shot.empty()) << "no screenshot";
    // The licence page's next button, disabled until the box is ticked.
    EXPECT_GT(desktop::count_colour(shot, desktop::kPink), 1000) << shot;
    EXPECT_TRUE(program.running());

    disk.reset(); // the user pulls the disk out
    EXPECT_EQ(program.wait(60000), 0);
    EXPECT_NE(log_text().find("disk is not exist. application exit."), std::string::npos) << log_text();
}

// Every byte the disk presents, read through its node.
std::string contents(const std::string &dev)
{
    std::ifstream in(dev, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The disk comes back under another name at each reset of the set-up (the
// verification's and the one inside formatting), and meanwhile a second
// secure disk takes the name it had: the set-up completes, the file system
// is on the right disk, and the other disk's bytes are unchanged.
TEST_F(ProgramTest, SetUpFollowsTheDiskAcrossNewNamesWhileAnotherDiskTakesTheOldOnes)
{
    simtest::SimDisk other; // first in the simulator's list: it owns a name once it takes it
    int status = 0;
    simtest::shell("parted -s " + other.dev() + " mklabel msdos mkpart primary 1M 100% >/dev/null 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::string other_bytes = contents(other.dev());
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 1500;
    opts.dev = other.dev() + "z"; // after the other disk in path order: the one the program chooses
    simtest::SimDisk disk(opts);
    const std::string first_name = disk.dev();
    const std::string second_name = first_name + "n";
    const std::string third_name = first_name + "m";
    disk.set("next_dev=" + second_name);
    start_service();

    // The machine's side: at each departure the other disk takes the name
    // just left, and the secure disk comes back under the next one.
    std::atomic<bool> stop{false};
    std::vector<std::string> taken;
    std::thread machine([&] {
        auto replug_other = [&](const std::string &name) {
            int rc = -1;
            simtest::shell("SECUREDISK_SIM=" + simtest::shell_quote(other.dir()) + " " + simtest::cli() + " replug " +
                               simtest::shell_quote(other.dir()) + " --dev " + name + " >/dev/null 2>&1",
                           &rc);
            if (rc == 0)
                taken.push_back(name);
        };
        std::string last_gone;
        while (!stop && taken.size() < 2) {
            std::map<std::string, std::string> state = disk.show();
            if (state["present"] == "0" && last_gone != state["generation"]) {
                last_gone = state["generation"];
                const std::string left = state["dev"];
                replug_other(left);
                if (left == second_name)
                    break;
            }
            if (state["present"] == "1" && state["dev"] == second_name && state["next_dev"].empty())
                disk.set("next_dev=" + third_name);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    desktop::Process &program = start_program();
    set_up_through_the_pages(kPassword, kPrompt);
    answer_dialog("ready");
    EXPECT_EQ(program.wait(30000), 0);
    stop = true;
    machine.join();

    EXPECT_EQ(taken, (std::vector<std::string>{first_name, second_name})) << "the other disk took each name left";
    ASSERT_TRUE(disk.wait_present());
    std::map<std::string, std::string> state = disk.show();
    EXPECT_EQ(state["dev"], third_name);
    EXPECT_EQ(state["unlocked"], "1");
    EXPECT_EQ(simtest::shell("blkid -o value -s TYPE " + third_name + "1"), "ntfs\n");
    EXPECT_TRUE(contents(other.dev()) == other_bytes) << "the other disk's bytes are unchanged";
    const std::string log = log_text();
    EXPECT_NE(log.find("[info]: program is ready, welcome to use. ---:0\n"), std::string::npos) << log;
}

// A password with a character outside ASCII: set with it, refused with a
// password that differs in its last character, unlocked with it.
TEST_F(ProgramTest, NonAsciiPasswordIsKeptWhole)
{
    const std::string right = "P\xC3\xA4sswort12"; // Pässwort12
    const std::string near = "P\xC3\xA4sswort13";
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    simtest::SimDisk disk(opts);
    start_service();
    {
        desktop::Process &program = start_program();
        set_up_through_the_pages(right, "umlaut");
        answer_dialog("ready");
        ASSERT_EQ(program.wait(30000), 0);
    }
    ASSERT_TRUE(disk.wait_present());
    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    ASSERT_EQ(disk.show()["locked"], "1");

    desktop::Process &program = start_program();
    log_in_with(near);
    answer_dialog("near-password-refused");
    EXPECT_EQ(disk.show()["tries_left"], "4") << "the disk refused it";
    EXPECT_EQ(disk.show()["locked"], "1");
    log_in_with(right);
    ASSERT_EQ(program.wait(60000), 0);
    ASSERT_TRUE(disk.wait_present());
    EXPECT_EQ(disk.show()["unlocked"], "1");
    EXPECT_EQ(disk.show()["tries_left"], "5");
}

// The disk takes 30 s to answer the reset after the right password: the
// program waits for it and ends with the disk unlocked, not with a wrong
// password message.
TEST_F(ProgramTest, ASlowResetEndsUnlocked)
{
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    simtest::SimDisk disk(opts);
    disk.set(std::string("password=") + kPassword);
    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    disk.set("reset_ms=30000");
    start_service();
    desktop::Process &program = start_program();
    log_in_with(kPassword);
    desktop::settle(2000);
    driver_->screenshot("waiting-for-the-reset");
    EXPECT_FALSE(driver_->has_window(kDialogTitle)) << "no message while the disk resets";
    ASSERT_EQ(program.wait(90000), 0);
    ASSERT_TRUE(disk.wait_present());
    EXPECT_EQ(disk.show()["unlocked"], "1");
    EXPECT_EQ(disk.show()["tries_left"], "5");
    const std::string log = log_text();
    EXPECT_NE(log.find("[critical]: unlock disk  successful. application exit. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("verify password disk"), std::string::npos) << log;
}

// Without the disk service on the bus the program says so, instead of
// claiming that there is no disk, and ends with 0.
TEST_F(ProgramTest, AMissingDiskServiceIsNamed)
{
    simtest::SimDisk disk;
    desktop::Process &program = start_program({"E"});
    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    answer_dialog("no-disk-service");
    EXPECT_EQ(program.wait(30000), 0);
    const std::string log = log_text();
    EXPECT_NE(log.find("disk service unreachable: "), std::string::npos) << log;
    EXPECT_NE(log.find("[critical]: disk service unreachable. application exit. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("get device number failed"), std::string::npos) << "no disk verdict without the service";
    EXPECT_EQ(disk.show()["password_set"], "0");
}

// The file's owner, or -1.
long owner_of(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? long(st.st_uid) : -1;
}

// The whole story as a desktop user (not root) whom polkit lets use the
// disk: the set-up, then a wrong password, the prompt and the right
// password; every call went through polkit, asked about the action of its
// kind, and the program's log is the user's own. (The lock file is one per
// machine: whoever made it first owns it, and every user locks it.)
TEST_F(ProgramTest, ADesktopUserThatPolkitAllowsSetsUpAndLogsIn)
{
    svctest::MockAuthority authority(bus_);
    authority.allow({svctest::kReadStateAction, svctest::kUnlockAction, svctest::kChangeAction});
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    simtest::SimDisk disk(opts);
    KernelSide kernel(disk);
    ASSERT_NO_FATAL_FAILURE(run_as_desktop_user({&disk}));
    start_service();
    {
        desktop::Process &program = start_program();
        set_up_through_the_pages(kPassword, kPrompt);
        answer_dialog("ready");
        ASSERT_EQ(program.wait(30000), 0);
    }
    expect_set_up(disk, kPrompt);
    EXPECT_EQ(owner_of(dir_ + "/tmp/zvsecurity.log"), long(kDesktopUid));
    std::vector<std::string> asked = authority.asked_actions();
    for (const char *action : {svctest::kReadStateAction, svctest::kUnlockAction, svctest::kChangeAction})
        EXPECT_NE(std::find(asked.begin(), asked.end(), action), asked.end()) << action << " never asked";

    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    ASSERT_EQ(disk.show()["locked"], "1");
    const size_t asked_before_login = asked.size();
    desktop::Process &program = start_program();
    log_in_with("wrong4you");
    answer_dialog("wrong-password");
    EXPECT_EQ(disk.show()["tries_left"], "4") << "one try fewer";
    Rect window;
    ASSERT_TRUE(driver_->wait_window(kWindowTitle, &window));
    click_on(page_host(window), kPromptButton);
    answer_dialog("password-prompt");
    log_in_with(kPassword);
    ASSERT_EQ(program.wait(60000), 0);
    ASSERT_TRUE(disk.wait_present());
    EXPECT_EQ(disk.show()["unlocked"], "1");
    EXPECT_EQ(disk.show()["tries_left"], "5");
    EXPECT_NE(log_text().find("[critical]: unlock disk  successful. application exit. ---:0\n"), std::string::npos)
        << log_text();
    asked = authority.asked_actions();
    const std::vector<std::string> at_login(asked.begin() + long(asked_before_login), asked.end());
    for (const char *action : {svctest::kReadStateAction, svctest::kUnlockAction})
        EXPECT_NE(std::find(at_login.begin(), at_login.end(), action), at_login.end())
            << action << " never asked at the login";
}

// A desktop user whom polkit refuses: the program shows its message that
// the disk service does not let this user use it, and ends; the disk's
// state and its command record are as they were.
TEST_F(ProgramTest, ADesktopUserThatPolkitRefusesIsToldAndTheDiskIsUntouched)
{
    svctest::MockAuthority authority(bus_); // says yes to nothing
    simtest::SimDiskOptions opts;
    opts.reenum_ms = 500;
    simtest::SimDisk disk(opts);
    disk.set(std::string("password=") + kPassword + " prompt=" + simtest::shell_quote(kPrompt));
    ASSERT_EQ(disk.tool("replug " + disk.dir()), 0);
    const std::map<std::string, std::string> before = disk.show();
    const std::string record_before = disk.tool_output("log " + disk.dir());
    ASSERT_NO_FATAL_FAILURE(run_as_desktop_user({&disk}));
    start_service();
    desktop::Process &program = start_program();
    answer_dialog("not-allowed");
    EXPECT_EQ(program.wait(30000), 0);

    const std::string log = log_text();
    EXPECT_NE(log.find("disk service unreachable: the disk service refused a call of this user"), std::string::npos)
        << log;
    EXPECT_NE(log.find("[critical]: disk service unreachable. application exit. ---:0\n"), std::string::npos) << log;
    EXPECT_EQ(disk.show(), before);
    EXPECT_EQ(disk.tool_output("log " + disk.dir()), record_before);
    const std::vector<std::string> asked = authority.asked_actions();
    EXPECT_FALSE(asked.empty()) << "polkit was never asked";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
