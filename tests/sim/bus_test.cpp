// The disk on and off the bus: the vendor reset taking it away (the path
// cannot be opened, old descriptors are dead) and bringing it back unlocked
// or locked, possibly under another name with the same serial; the lazy
// return brought about by stat(); power cycles; the prompt sector across
// processes and re-enumerations.
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

constexpr int kLongAbsenceMs = 600000;   // far longer than any test runs

SimDiskOptions long_absence() {
    SimDiskOptions o;
    o.reenum_ms = kLongAbsenceMs;
    return o;
}

std::string vpd_serial(int fd) {
    SgResult r = sg_command(fd, {0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}, Xfer::In, {}, 255);
    if (!r.good() || r.data.size() < 4) return "";
    size_t len = static_cast<size_t>(r.data[2] << 8 | r.data[3]);
    return std::string(r.data.begin() + 4, r.data.begin() + 4 + static_cast<long>(len));
}

uint64_t capacity_sectors(int fd) {
    SgResult r = sg_command(fd, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Xfer::In, {}, 8);
    if (!r.good()) return 0;
    uint32_t last = static_cast<uint32_t>(r.data[0] << 24 | r.data[1] << 16 | r.data[2] << 8 | r.data[3]);
    return uint64_t{last} + 1;
}

}  // namespace

struct ResetCase {
    const char *name;
    bool set_password;
    bool verify;
    const char *area_after;
};

class VendorReset : public ::testing::TestWithParam<ResetCase> {};

TEST_P(VendorReset, DiskLeavesAndComesBack) {
    const ResetCase &c = GetParam();
    SimDisk disk(long_absence());
    const std::string dev = disk.dev();
    const auto before = disk.show();
    Fd fd(dev, O_RDWR);
    ASSERT_TRUE(fd.ok());
    if (c.set_password) {
        ASSERT_TRUE(set_password(fd.get(), "pw").good());
    }
    if (c.verify) {
        ASSERT_TRUE(verify_password(fd.get(), "pw").good());
    }

    SgResult reset = vendor_reset(fd.get());
    ASSERT_EQ(reset.ret, 0);
    EXPECT_EQ(reset.status, 0x00);
    EXPECT_EQ(reset.driver_status, 0x00);

    // Gone: no node, open fails with ENOENT, the old descriptor is dead. The
    // kernel removes the disk a moment after it answered the reset.
    struct stat st;
    for (int i = 0; i < 500 && ::stat(dev.c_str(), &st) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(::stat(dev.c_str(), &st), 0);
    EXPECT_EQ(errno, ENOENT);
    Fd again(dev, O_RDWR);
    EXPECT_FALSE(again.ok());
    EXPECT_EQ(again.open_errno(), ENOENT);
    // The old descriptor no longer reaches the disk: ENODEV, or, while the
    // kernel is still taking the unit away, a failed command.
    SgResult dead = identify(fd.get());
    if (SimDisk::on_kernel() && dead.ret == 0) {
        EXPECT_TRUE(dead.status != 0 || dead.host_status != 0)
            << "status " << int(dead.status) << " host " << int(dead.host_status) << " sense "
            << int(dead.sense_key()) << "/" << int(dead.asc());
    } else {
        EXPECT_EQ(dead.ret, -1);
        EXPECT_EQ(dead.err, ENODEV);
    }
    EXPECT_EQ(disk.show()["present"], "0");

    // The absence ends: back with the same serial, under a new name, as the
    // old node is still held (the kernel keeps its name until the last close).
    disk.set("reenum_ms=0");
    ASSERT_TRUE(disk.wait_present());
    EXPECT_NE(disk.dev(), dev);
    Fd back(disk.dev(), O_RDWR);
    ASSERT_TRUE(back.ok()) << back.open_errno();
    EXPECT_EQ(vpd_serial(back.get()), before.at("serial"));
    const auto after = disk.show();
    EXPECT_EQ(after.at("area"), c.area_after);
    EXPECT_EQ(capacity_sectors(back.get()),
              std::stoull(after.at(std::string(c.area_after) + "_sectors")));
    // The descriptor from before the reset stays dead.
    EXPECT_EQ(identify(fd.get()).err, ENODEV);

    // The record holds the reset as the disk received it: the whole block
    // from a USB host; behind the kernel's target layer its first 10 bytes
    // (a vendor group's length), with no data phase to tell a direction.
    std::vector<std::string> cmds = disk.commands();
    auto reset_line = std::find_if(cmds.rbegin(), cmds.rend(), [](const std::string &l) {
        return record_field(l, "cdb").compare(0, 2, "ee") == 0;
    });
    ASSERT_NE(reset_line, cmds.rend());
    EXPECT_EQ(record_field(*reset_line, "cdb"),
              SimDisk::on_kernel() ? "eeb00000000062000400" : "eeb000000000620004000000aa990000");
    EXPECT_EQ(record_field(*reset_line, "dir"), SimDisk::on_kernel() ? "none" : "out");
    EXPECT_EQ(record_field(*reset_line, "len"), "0");
    EXPECT_EQ(record_field(*reset_line, "result"), "GOOD");
    if (!SimDisk::on_kernel()) {
        // Nothing for the refused ioctls (the kernel refuses them itself).
        size_t n = cmds.size();
        EXPECT_EQ(record_field(cmds[n - 2], "cdb").substr(0, 4), "1201");   // vpd_serial
        EXPECT_EQ(record_field(cmds[n - 1], "cdb").substr(0, 2), "25");     // capacity
    }
}

INSTANTIATE_TEST_SUITE_P(States, VendorReset,
                         ::testing::Values(ResetCase{"no_password", false, false, "public"},
                                           ResetCase{"locked", true, false, "public"},
                                           ResetCase{"verified", true, true, "private"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(VendorReset, RefusedResetIsCheckConditionAndTheDiskStays) {
    SimDisk disk(long_absence());
    const std::string dev = disk.dev();
    disk.set("reset_refused=1");
    EXPECT_EQ(disk.show()["reset_refused"], "1");
    const std::string generation = disk.show()["generation"];
    Fd fd(dev, O_RDWR);
    ASSERT_TRUE(fd.ok());
    SgResult reset = vendor_reset(fd.get());
    ASSERT_EQ(reset.ret, 0);
    EXPECT_EQ(reset.status, 0x02) << "CHECK CONDITION";
    EXPECT_EQ(reset.host_status, 0);
    EXPECT_TRUE(identify(fd.get()).good()) << "still on the bus";
    EXPECT_EQ(disk.show()["present"], "1");
    EXPECT_EQ(disk.show()["generation"], generation);

    disk.set("reset_refused=0");
    EXPECT_TRUE(vendor_reset(fd.get()).good());
    EXPECT_EQ(disk.show()["present"], "0");
}

TEST(VendorReset, SlowResetStaysOnTheBusUntilItAnswers) {
    SimDisk disk(long_absence());
    const std::string dev = disk.dev();
    disk.set("reset_ms=1500");
    EXPECT_EQ(disk.show()["reset_ms"], "1500");
    Fd fd(dev, O_RDWR);
    ASSERT_TRUE(fd.ok());
    SgResult reset;
    std::thread resetting([&] { reset = vendor_reset(fd.get()); });
    // While the command is in flight the disk is still there and answers.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(disk.show()["present"], "1");
    Fd other(dev, O_RDWR);
    EXPECT_TRUE(other.ok());
    EXPECT_TRUE(identify(other.get()).good());
    resetting.join();
    EXPECT_TRUE(reset.good());
    EXPECT_EQ(disk.show()["present"], "0") << "gone once it answered";
}

TEST(VendorReset, ComesBackUnderTheNextNameWithTheSameSerial) {
    SimDisk disk(long_absence());
    const std::string old_dev = disk.dev();
    const std::string new_dev = old_dev + "x";
    disk.set("next_dev=" + new_dev);
    const std::string serial = disk.show()["serial"];
    {
        Fd early(new_dev, O_RDWR);   // not its name before the reset
        EXPECT_EQ(early.open_errno(), ENOENT);
    }
    {
        Fd fd(old_dev, O_RDWR);
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    Fd missing(new_dev, O_RDWR);   // the new name is not there yet either
    EXPECT_EQ(missing.open_errno(), ENOENT);
    disk.set("reenum_ms=0");

    Fd fd(new_dev, O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    EXPECT_EQ(vpd_serial(fd.get()), serial);
    EXPECT_EQ(disk.dev(), new_dev);
    EXPECT_EQ(disk.show()["next_dev"], "");
    Fd old(old_dev, O_RDWR);
    EXPECT_EQ(old.open_errno(), ENOENT);
    struct stat st;
    EXPECT_NE(::lstat(old_dev.c_str(), &st), 0);
}

TEST(VendorReset, ResetWhileUnlockedStaysUnlocked) {
    SimDiskOptions o;
    o.reenum_ms = 0;
    SimDisk disk(o);
    disk.set("password=pw");
    for (int round = 0; round < 3; ++round) {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(fd.ok()) << "round " << round << ": " << fd.open_errno();
        if (round == 0) {
            ASSERT_TRUE(verify_password(fd.get(), "pw").good());
        } else {
            EXPECT_EQ(disk.show()["area"], "private") << "round " << round;
        }
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    EXPECT_EQ(disk.show()["area"], "private");
}

TEST(VendorReset, StatBringsTheDueReturnAbout) {
    SimDiskOptions o;
    o.reenum_ms = 100;
    SimDisk disk(o);
    const std::string dev = disk.dev();
    {
        Fd fd(dev, O_RDWR);
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    // Only this process's stat() looks at the disk until it is back.
    struct stat st;
    bool back = false;
    for (int i = 0; i < 500 && !back; ++i) {
        back = ::stat(dev.c_str(), &st) == 0;
        if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(back);
    EXPECT_TRUE(S_ISBLK(st.st_mode));
    Fd fd(dev, O_RDWR);
    EXPECT_TRUE(fd.ok());
}

TEST(PowerCycle, LocksAgainAndForgetsTheVerification) {
    SimDiskOptions o;
    o.reenum_ms = 0;
    SimDisk disk(o);
    disk.set("password=pw");
    const std::string cycles_before = disk.tool_output("smart " + shell_quote(disk.dir()));
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(verify_password(fd.get(), "pw").good());
    }
    // Unplugged before the reset: the verification does not survive.
    ASSERT_EQ(disk.tool("replug " + shell_quote(disk.dir())), 0);
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    auto s = disk.show();
    EXPECT_EQ(s["area"], "public");
    EXPECT_EQ(s["locked"], "1");
    EXPECT_NE(disk.tool_output("smart " + shell_quote(disk.dir())), cycles_before);
    EXPECT_NE(disk.tool_output("smart " + shell_quote(disk.dir())).find("12=2\n"), std::string::npos);

    // Unplugged while unlocked: locked again, under a new name if asked.
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(verify_password(fd.get(), "pw").good());
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    ASSERT_EQ(disk.show()["area"], "private");
    const std::string renamed = disk.dev() + "r";
    ASSERT_EQ(disk.tool("replug " + shell_quote(disk.dir()) + " --dev " + renamed), 0);
    EXPECT_EQ(disk.dev(), renamed);
    EXPECT_EQ(disk.show()["area"], "public");
    Fd fd(renamed, O_RDWR);
    EXPECT_TRUE(fd.ok());
}

TEST(PromptSector, RoundTripAcrossProcessesAndReenumerations) {
    SimDiskOptions o;
    o.reenum_ms = 0;
    SimDisk disk(o);
    std::vector<uint8_t> text(512, 0);
    const std::string hint = "my first pet";
    std::copy(hint.begin(), hint.end(), text.begin());
    {
        Fd fd(disk.dev(), O_RDWR);
        SgResult fresh = read_prompt(fd.get());
        ASSERT_TRUE(fresh.good());
        EXPECT_EQ(fresh.data, std::vector<uint8_t>(512, 0));
        ASSERT_TRUE(write_prompt(fd.get(), text).good());
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    EXPECT_EQ(disk.show()["prompt"], hint);

    // Another process reads it back with READ DMA EXT from vendor LBA 0x10.
    int status = -1;
    std::string out = shell("sg_raw -r 512 " + disk.dev() +
                                " 85 0d 0e 00 5a 00 01 00 10 00 00 00 00 40 25 00 2>&1",
                            &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("6d 79 20 66 69 72 73 74"), std::string::npos) << out;   // "my first"
    EXPECT_EQ(disk.show()["prompt"], hint);
}
