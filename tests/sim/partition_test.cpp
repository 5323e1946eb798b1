// Real partitioning on the simulated disk, as the disk service does it:
// unlock, parted on /dev/NAME, vendor reset, /dev/NAME1 is there, mkfs.ntfs
// and blkid work on it; and `remove` leaving no loop device, node or
// directory behind.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Loop devices whose backing file lies in `dir`.
std::vector<std::string> loops_in(const std::string &dir) {
    std::vector<std::string> loops;
    DIR *d = ::opendir("/sys/block");
    if (!d) return loops;
    while (dirent *e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("loop", 0) != 0) continue;
        std::string text;
        FILE *f = std::fopen(("/sys/block/" + name + "/loop/backing_file").c_str(), "r");
        if (!f) continue;
        char buf[4096] = {};
        if (std::fgets(buf, sizeof buf, f)) text = buf;
        std::fclose(f);
        if (text.rfind(dir + "/", 0) == 0) loops.push_back(name);
    }
    ::closedir(d);
    return loops;
}

std::vector<std::string> nodes_named(const std::string &dev) {
    std::vector<std::string> nodes;
    std::string base = dev.substr(5);
    DIR *d = ::opendir("/dev");
    while (dirent *e = d ? ::readdir(d) : nullptr) {
        std::string name = e->d_name;
        if (name.rfind(base, 0) == 0) nodes.push_back(name);
    }
    if (d) ::closedir(d);
    return nodes;
}

}  // namespace

TEST(Partitioning, PartedResetMkfsOnTheUnlockedDisk) {
    std::string dir, dev;
    {
        SimDiskOptions o;
        o.reenum_ms = 0;
        SimDisk disk(o);
        dir = disk.dir();
        dev = disk.dev();
        disk.set("password=part");
        {
            Fd fd(dev, O_RDWR);
            ASSERT_TRUE(verify_password(fd.get(), "part").good());
            ASSERT_TRUE(vendor_reset(fd.get()).good());
        }
        ASSERT_EQ(disk.show()["area"], "private");

        int status = -1;
        std::string out = shell("parted -s " + dev + " mklabel msdos mkpart primary ntfs 1MiB 100% 2>&1", &status);
        ASSERT_EQ(status, 0) << out;
        EXPECT_FALSE(exists(dev + "1"));   // nodes come with the next enumeration
        {
            Fd fd(dev, O_RDWR);
            ASSERT_TRUE(vendor_reset(fd.get()).good());
        }
        struct stat st;
        ASSERT_EQ(::stat(dev.c_str(), &st), 0);   // brings the disk back
        ASSERT_EQ(::stat((dev + "1").c_str(), &st), 0);
        EXPECT_TRUE(S_ISBLK(st.st_mode));
        EXPECT_EQ(disk.show()["area"], "private");

        out = shell("mkfs.ntfs -Q -L ZVDATA " + dev + "1 2>&1", &status);
        ASSERT_EQ(status, 0) << out;
        out = shell("blkid -p -o export " + dev + "1 2>&1", &status);
        ASSERT_EQ(status, 0) << out;
        EXPECT_NE(out.find("TYPE=ntfs"), std::string::npos) << out;
        EXPECT_NE(out.find("LABEL=ZVDATA"), std::string::npos) << out;

        // lsblk lists the disk with its partition, in lsblk's own columns.
        out = disk.tool_output("lsblk " + shell_quote(dir));
        EXPECT_NE(out.find(dev.substr(5) + "1"), std::string::npos) << out;

        // Locked again after a power cycle: the partition goes with the area.
        ASSERT_EQ(disk.tool("replug " + shell_quote(dir)), 0);
        EXPECT_FALSE(exists(dev + "1"));
        EXPECT_TRUE(exists(dev));
        EXPECT_EQ(loops_in(dir).size(), 1u);
    }
    EXPECT_TRUE(loops_in(dir).empty());
    EXPECT_TRUE(nodes_named(dev).empty());
    EXPECT_FALSE(exists(dir));
}

TEST(Remove, LeavesNothingBehind) {
    SimDisk disk;
    const std::string dir = disk.dir(), dev = disk.dev();
    ASSERT_EQ(loops_in(dir).size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat(dev.c_str(), &st), 0);
    EXPECT_EQ(major(st.st_rdev), 7u);   // the node is the loop device's

    int status = -1;
    std::string err = disk.tool_output("remove " + shell_quote(dir) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(loops_in(dir).empty());
    EXPECT_TRUE(nodes_named(dev).empty());
    EXPECT_FALSE(exists(dir));
    // Removing it twice is an error with a one-line message.
    err = disk.tool_output("remove " + shell_quote(dir) + " 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}
