// The whole program as a person uses it: an X server of its own (Xvfb), the
// real zvsecurity on it, and xdotool for the pointer and the keyboard.
// Everything runs outside the simulated disk's preload (only the service
// needs it) and is ended by its owner's destructor.
#ifndef APP_DESKTOP_DRIVER_H
#define APP_DESKTOP_DRIVER_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace desktop {

// The screen of the tests: the program sizes its window from it.
const int kScreenWidth = 1920;
const int kScreenHeight = 1080;

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Colour {
    int r = -1;
    int g = -1;
    int b = -1;
    bool operator==(const Colour &o) const { return r == o.r && g == o.g && b == o.b; }
};

// The program's colours that tell its pages apart.
const Colour kRed = {241, 39, 39};  // an enabled button
const Colour kPink = {255, 128, 128}; // a disabled button

// Xvfb on a display number it chooses itself.
class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    const std::string &display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// A program started outside the simulator, with env added to (or
// replacing) this process's environment.
class Process {
public:
    Process(const std::string &program, const std::vector<std::string> &args,
            const std::map<std::string, std::string> &env);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;
    // Waits until it ends (at most timeout_ms); its exit status, -1 when a
    // signal ended it, -2 when it is still running.
    int wait(int timeout_ms);
    bool running();

private:
    pid_t pid_ = -1;
    int status_ = -2;
};

// Weston, the reference Wayland compositor, on its headless back-end with
// the pixman renderer, listening on a socket of its own in runtime_dir
// (the test's XDG_RUNTIME_DIR); --debug lets weston-screenshooter take the
// output.
class Weston {
public:
    explicit Weston(const std::string &runtime_dir);
    const std::string &socket() const { return socket_; }
    // Whether the compositor's socket came up (waited for).
    bool ready();
    // Saves the output as dir/NN-name.png (number as the Driver's shots
    // use it); returns the file's path, empty when it failed.
    std::string screenshot(const std::string &dir, int number, const std::string &name);

private:
    std::string runtime_dir_;
    std::string socket_;
    std::unique_ptr<Process> process_;
};

// How many pixels of a picture are exactly colour.
long count_colour(const std::string &png, const Colour &colour);

// The pointer, the keyboard and the screen of one display; screenshots go
// to dir as NN-name.png in the order they are taken.
class Driver {
public:
    Driver(const std::string &display, const std::string &dir);

    // The first visible window whose title is exactly title, waited for
    // (at most timeout_ms); false when none came.
    bool wait_window(const std::string &title, Rect *where, int timeout_ms = 60000);
    // Whether a visible window with that title exists now.
    bool has_window(const std::string &title);
    // Gives the keyboard focus to the window with that title, as a window
    // manager does to the window the user picks (Xvfb runs none).
    bool focus_window(const std::string &title);
    // Waits until the window with that title is gone.
    bool wait_no_window(const std::string &title, int timeout_ms = 60000);
    // Waits until the screen shows colour at (x, y).
    bool wait_colour(int x, int y, const Colour &colour, int timeout_ms = 60000);
    Colour colour_at(int x, int y);

    void click(int x, int y);
    void type(const std::string &text);
    void key(const std::string &name);
    // Saves the whole screen; returns the file's path.
    std::string screenshot(const std::string &name);

private:
    int xdotool(const std::vector<std::string> &args, std::string *out = nullptr);

    std::string display_;
    std::string dir_;
    int shots_ = 0;
};

// Sleeps, handling nothing: lets the screen settle before a screenshot.
void settle(int ms);

} // namespace desktop

#endif
