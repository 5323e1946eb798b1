// The securedisk-sim tool: what `create` refuses, `show` and `set`, the
// lsblk view through a wrapper on PATH, and the command record.
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/zv-cli.XXXXXX";
        path_ = ::mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() { shell("rm -rf " + shell_quote(path_)); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::string run_tool(const std::string &args, int *status) {
    return run_cli(args + " 2>&1", status);
}

struct CreateRefusal {
    const char *name;
    std::string options;
};

class CreateRefuses : public ::testing::TestWithParam<CreateRefusal> {};

}  // namespace

TEST_P(CreateRefuses, WithAOneLineMessageAndNothingMade) {
    TempDir tmp;
    const std::string dir = tmp.path() + "/disk";
    int status = 0;
    std::string err = run_tool("create " + shell_quote(dir) + " " + GetParam().options, &status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("securedisk-sim: ", 0), 0u) << err;
    struct stat st;
    EXPECT_NE(::stat(dir.c_str(), &st), 0) << "left " << dir;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CreateRefuses,
    ::testing::Values(CreateRefusal{"existing_node", "--dev /dev/null"},
                      CreateRefusal{"existing_disk_node", "--dev /dev/loop0"},
                      CreateRefusal{"not_under_dev", "--dev /tmp/sdqzz"},
                      CreateRefusal{"partition_like_name", "--dev /dev/sdqzz1"},
                      CreateRefusal{"upper_case", "--dev /dev/Sdqzz"},
                      CreateRefusal{"sub_directory", "--dev /dev/disk/sdqzz"},
                      CreateRefusal{"empty_name", "--dev /dev/"},
                      CreateRefusal{"public_too_big", "--dev /dev/sdqzzq --public-size 257M"},
                      CreateRefusal{"private_not_bigger", "--dev /dev/sdqzzq --private-size 256M"},
                      CreateRefusal{"odd_size", "--dev /dev/sdqzzq --public-size 1000000"},
                      CreateRefusal{"bad_size", "--dev /dev/sdqzzq --public-size lots"},
                      CreateRefusal{"no_tries", "--dev /dev/sdqzzq --tries 0"},
                      CreateRefusal{"too_many_tries", "--dev /dev/sdqzzq --tries 256"},
                      CreateRefusal{"long_serial", "--dev /dev/sdqzzq --serial ABCDEFGHIJKLMNOPQRSTU"},
                      CreateRefusal{"serial_with_space", "--dev /dev/sdqzzq --serial 'A B'"},
                      CreateRefusal{"negative_reenum", "--dev /dev/sdqzzq --reenum-ms -1"},
                      CreateRefusal{"unknown_option", "--dev /dev/sdqzzq --colour red"},
                      CreateRefusal{"same_next_dev", "--dev /dev/sdqzzq --next-dev /dev/sdqzzq"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Create, RefusesADirectoryThatHoldsADiskAndANameInUse) {
    SimDisk disk;
    int status = 0;
    std::string err = run_tool("create " + shell_quote(disk.dir()) + " --dev /dev/sdqzzw", &status);
    EXPECT_NE(status, 0) << err;
    TempDir tmp;
    err = run_tool("create " + shell_quote(tmp.path() + "/d") + " --dev " + disk.dev(), &status);
    EXPECT_NE(status, 0) << err;
    EXPECT_EQ(disk.show()["present"], "1");
}

TEST(Create, DefaultsAndShow) {
    SimDisk disk;
    auto s = disk.show();
    for (const char *key : {"dev", "serial", "password_set", "tries_left", "tries_max", "locked",
                            "present", "prompt", "public_sectors", "private_sectors",
                            "presented_sectors", "backing"})
        EXPECT_EQ(s.count(key), 1u) << key;
    EXPECT_EQ(s["dev"].rfind("/dev/sdq", 0), 0u);
    EXPECT_FALSE(s["serial"].empty());
    EXPECT_EQ(s["password_set"], "0");
    EXPECT_EQ(s["tries_left"], "5");
    EXPECT_EQ(s["tries_max"], "5");
    EXPECT_EQ(s["locked"], "0");
    EXPECT_EQ(s["present"], "1");
    EXPECT_EQ(s["public_sectors"], "32768");
    EXPECT_EQ(s["private_sectors"], "1048576");
    EXPECT_EQ(s["presented_sectors"], "32768");
    EXPECT_EQ(s["backing"].rfind("/dev/loop", 0), 0u);
    EXPECT_EQ(s["reenum_ms"], "1000");

    // Two disks made without names get different ones and serials.
    SimDisk other;
    EXPECT_NE(other.dev(), disk.dev());
    EXPECT_NE(other.show()["serial"], s["serial"]);
}

TEST(Set, ChangesStateAllOrNothing) {
    SimDisk disk;
    disk.set("password=hello prompt=hint-text tries_left=2");
    auto s = disk.show();
    EXPECT_EQ(s["password_set"], "1");
    EXPECT_EQ(s["locked"], "1");
    EXPECT_EQ(s["tries_left"], "2");
    EXPECT_EQ(s["prompt"], "hint-text");
    {
        Fd fd(disk.dev(), O_RDWR);
        EXPECT_TRUE(verify_password(fd.get(), "hello").good());
        std::vector<uint8_t> prompt = read_prompt(fd.get()).data;
        EXPECT_EQ(std::string(prompt.begin(), prompt.begin() + 9), "hint-text");
    }
    // One bad assignment: nothing of the command is applied.
    int status = 0;
    disk.tool_output("set " + shell_quote(disk.dir()) + " tries_left=1 tries_left=99 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(disk.show()["tries_left"], "5");
    disk.tool_output("set " + shell_quote(disk.dir()) + " colour=red 2>&1", &status);
    EXPECT_NE(status, 0);
    disk.tool_output("set " + shell_quote(disk.dir()) + " next_dev=/dev/null 2>&1", &status);
    EXPECT_NE(status, 0);
    disk.set("password=");
    EXPECT_EQ(disk.show()["password_set"], "0");
}

TEST(Lsblk, APipelineOverLsblkFindsTheDisk) {
    SimDisk disk;
    TempDir bin;
    {
        std::ofstream wrapper(bin.path() + "/lsblk");
        wrapper << "#!/bin/sh\nexec " << shell_quote(cli()) << " lsblk \"$@\"\n";
    }
    ::chmod((bin.path() + "/lsblk").c_str(), 0755);
    int status = -1;
    std::string devs = shell("PATH=" + shell_quote(bin.path()) +
                                 ":\"$PATH\" lsblk | grep disk | awk '{print \"/dev/\"$1}'",
                             &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(devs.find(disk.dev() + "\n"), std::string::npos) << devs;

    // Its line: lsblk's columns, removable, 16M, the node's own numbers.
    std::string out = shell("PATH=" + shell_quote(bin.path()) + ":\"$PATH\" lsblk", &status);
    ASSERT_EQ(status, 0);
    std::string name = disk.dev().substr(5);
    size_t at = out.find("\n" + name + " ");
    ASSERT_NE(at, std::string::npos) << out;
    std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
    struct stat st;
    ASSERT_EQ(::stat(disk.dev().c_str(), &st), 0);
    std::istringstream cells(line);
    std::string n, majmin, rm, size, ro, type;
    cells >> n >> majmin >> rm >> size >> ro >> type;
    EXPECT_EQ(majmin, std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    EXPECT_EQ(rm, "1");
    EXPECT_EQ(size, "16M");
    EXPECT_EQ(ro, "0");
    EXPECT_EQ(type, "disk");
    // Aligned under lsblk's header: TYPE starts in the header's TYPE column.
    std::string header = out.substr(0, out.find('\n'));
    EXPECT_EQ(line.find(" disk") + 1, header.find("TYPE")) << out;

    // Gone from the list while it is off the bus.
    disk.set("reenum_ms=600000");
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    out = shell("PATH=" + shell_quote(bin.path()) + ":\"$PATH\" lsblk -d", &status);
    EXPECT_EQ(out.find("\n" + name + " "), std::string::npos) << out;
}

// The desktop program's lsblk runs as the desktop user, who may search the
// disk's directory (when the test lets it) but not change it: it sees the
// disk as it is, and a due return to the bus waits for a process that may
// bring it into effect.
TEST(Lsblk, AnotherUserSeesTheDiskAsItIs) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
    SimDisk disk;
    const std::string name = "\n" + disk.dev().substr(5) + " ";
    const std::string list = "env SECUREDISK_SIM=" + shell_quote(disk.dir()) + " " + shell_quote(cli()) + " lsblk -d";
    const std::string as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    int status = -1;
    std::string out = shell(as_nobody + list, &status);
    EXPECT_EQ(out.find(name), std::string::npos) << "a directory it may not search: " << out;

    ASSERT_EQ(::chmod(disk.dir().c_str(), 0711), 0);
    out = shell(as_nobody + list, &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(out.find(name), std::string::npos) << out;

    disk.set("reenum_ms=300");
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    out = shell(as_nobody + list, &status);
    EXPECT_EQ(out.find(name), std::string::npos) << "due, but not brought back by this user: " << out;
    std::ifstream state(disk.dir() + "/state");
    std::stringstream text;
    text << state.rdbuf();
    EXPECT_NE(text.str().find("present=0\n"), std::string::npos) << text.str();

    out = shell(list, &status); // root's listing brings it back
    EXPECT_NE(out.find(name), std::string::npos) << out;
    out = shell(as_nobody + list, &status);
    EXPECT_NE(out.find(name), std::string::npos) << out;
}

TEST(CommandRecord, TheseCommandsInThisOrder) {
    SimDisk disk;
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(identify(fd.get()).good());
        ASSERT_TRUE(set_password(fd.get(), "x").good());
        EXPECT_FALSE(verify_password(fd.get(), "y").good());
        ASSERT_TRUE(read_prompt(fd.get()).good());
        ASSERT_TRUE(read10(fd.get(), 0, 1).good());
    }
    std::vector<std::string> cmds = disk.commands();
    ASSERT_EQ(cmds.size(), 5u);
    const char *expected[][4] = {
        {"85080e0000000100000000000040ec00", "in", "512", "GOOD"},
        {"850a060000000100530056005a40fa00", "out", "512", "GOOD"},
        {"850a060000000100530056005a40fb00", "out", "512", "CHECK"},
        {"850d0e005a0001001000000000402500", "in", "512", "GOOD"},
        {"28000000000000000100", "in", "512", "GOOD"},
    };
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(record_field(cmds[i], "seq"), std::to_string(i + 1));
        EXPECT_EQ(record_field(cmds[i], "cdb"), expected[i][0]) << cmds[i];
        EXPECT_EQ(record_field(cmds[i], "dir"), expected[i][1]) << cmds[i];
        EXPECT_EQ(record_field(cmds[i], "len"), expected[i][2]) << cmds[i];
        EXPECT_EQ(record_field(cmds[i], "result"), expected[i][3]) << cmds[i];
    }
    EXPECT_EQ(record_field(cmds[2], "sense"), "0b/00/00");
    EXPECT_EQ(record_field(cmds[2], "ata"), "51/04");
    // `log` prints the same record.
    std::string log = disk.tool_output("log " + shell_quote(disk.dir()));
    std::string joined;
    for (const auto &c : cmds) joined += c + "\n";
    EXPECT_EQ(log, joined);
}
