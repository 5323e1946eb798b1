// The SimDisk fixture itself: a disk left behind by a test process that
// died (crashed, killed) is cleaned up by the next fixture, so repeated CI
// runs on one machine do not run out of loop devices or leave nodes.
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_disk.h"

using namespace simtest;

TEST(Fixture, RemovesDisksOfDeadTestProcesses) {
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipefd[0]);
        // Dies holding a disk: no destructor runs.
        auto *leaked = new SimDisk();
        std::string line = leaked->dir() + " " + leaked->dev() + "\n";
        if (::write(pipefd[1], line.data(), line.size()) < 0) ::_exit(2);
        ::_exit(0);
    }
    ::close(pipefd[1]);
    char buf[512] = {};
    ssize_t n = ::read(pipefd[0], buf, sizeof buf - 1);
    ::close(pipefd[0]);
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_GT(n, 0);
    std::string dir, dev;
    std::istringstream(buf) >> dir >> dev;
    struct stat sb;
    ASSERT_EQ(::stat(dir.c_str(), &sb), 0);
    ASSERT_EQ(::lstat(dev.c_str(), &sb), 0);

    SimDisk next;   // sweeps what the dead process left
    EXPECT_NE(::stat(dir.c_str(), &sb), 0);
    EXPECT_NE(::lstat(dev.c_str(), &sb), 0);
    std::string loops = shell("cat /sys/block/loop*/loop/backing_file 2>/dev/null");
    EXPECT_EQ(loops.find(dir), std::string::npos) << loops;
}
