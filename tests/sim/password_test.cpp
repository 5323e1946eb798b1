// Password behaviour as a host sees it: tries going down on wrong passwords,
// the wipe of the private area when they reach 0, SET PASSWORD keeping the
// prompt and wiping the data, the password field rules, and the state kept
// across processes.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

SimDiskOptions opts(int tries) {
    SimDiskOptions o;
    o.tries = tries;
    o.reenum_ms = 0;   // back at the next touch
    return o;
}

int tries_left(const SimDisk &disk) { return std::stoi(disk.show()["tries_left"]); }

void expect_aborted(const SgResult &r) {
    ASSERT_EQ(r.ret, 0);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.driver_status, 0x08);
    EXPECT_EQ(r.sense_key(), 0x0B);
    EXPECT_EQ(r.asc(), 0x00);
    EXPECT_EQ(r.ascq(), 0x00);
    std::vector<uint8_t> d = r.ata_descriptor();
    ASSERT_EQ(d.size(), 14u);
    EXPECT_EQ(d[13], 0x51);
    EXPECT_EQ(d[3], 0x04);
}

// Verifies `pw` and resets, so the disk comes back unlocked.
void unlock(const SimDisk &disk, const std::string &pw) {
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    ASSERT_TRUE(verify_password(fd.get(), pw).good());
    ASSERT_TRUE(vendor_reset(fd.get()).good());
}

void replug(const SimDisk &disk) { ASSERT_EQ(disk.tool("replug " + shell_quote(disk.dir())), 0); }

constexpr uint32_t kDataLba = 4096;

}  // namespace

TEST(Password, WrongTriesCountDownAndWipeThePrivateAreaAtZero) {
    SimDisk disk(opts(3));
    disk.set("password=right");
    unlock(disk, "right");
    ASSERT_EQ(disk.show()["area"], "private");
    const std::vector<uint8_t> data = pattern(8 * 512, 11);
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(write10(fd.get(), kDataLba, data).good());
    }

    // A wrong try that does not reach 0 leaves the data alone.
    replug(disk);
    {
        Fd fd(disk.dev(), O_RDWR);
        expect_aborted(verify_password(fd.get(), "nope"));
        EXPECT_EQ(tries_left(disk), 2);
    }
    unlock(disk, "right");
    EXPECT_EQ(tries_left(disk), 3);
    {
        Fd fd(disk.dev(), O_RDWR);
        EXPECT_EQ(read10(fd.get(), kDataLba, 8).data, data);
    }

    replug(disk);
    {
        Fd fd(disk.dev(), O_RDWR);
        for (int expected : {2, 1, 0}) {
            expect_aborted(verify_password(fd.get(), "wrong"));
            EXPECT_EQ(tries_left(disk), expected);
            EXPECT_EQ(identify(fd.get()).data[442], expected);
        }
        // At 0 even the right password is refused, and nothing changes.
        expect_aborted(verify_password(fd.get(), "right"));
        SgResult id = identify(fd.get());
        EXPECT_EQ(id.data[442], 0);
        EXPECT_EQ(id.data[443], 1);
        EXPECT_EQ(disk.show()["password_set"], "1");
    }

    // Give the tries back without touching the data: the data is gone.
    disk.set("tries_left=3");
    unlock(disk, "right");
    ASSERT_EQ(disk.show()["area"], "private");
    Fd fd(disk.dev(), O_RDWR);
    EXPECT_EQ(read10(fd.get(), kDataLba, 8).data, std::vector<uint8_t>(8 * 512, 0));
}

TEST(Password, SetPasswordKeepsThePromptAndWipesThePrivateArea) {
    SimDisk disk(opts(0));
    disk.set("password=first");
    const std::vector<uint8_t> prompt = pattern(512, 5);
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(write_prompt(fd.get(), prompt).good());
    }
    unlock(disk, "first");
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(write10(fd.get(), kDataLba, pattern(512, 6)).good());
        // Setting a password while unlocked: the area stays presented but
        // reads back empty, through the same descriptor.
        ASSERT_TRUE(set_password(fd.get(), "second").good());
        EXPECT_EQ(read10(fd.get(), kDataLba, 1).data, std::vector<uint8_t>(512, 0));
        EXPECT_EQ(read_prompt(fd.get()).data, prompt);
        EXPECT_EQ(tries_left(disk), 5);
        EXPECT_EQ(disk.show()["verified"], "0");
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    // The verification went with the old password: back locked.
    EXPECT_EQ(disk.show()["area"], "public");
    EXPECT_EQ(disk.show()["locked"], "1");
    unlock(disk, "second");
    Fd fd(disk.dev(), O_RDWR);
    EXPECT_EQ(read10(fd.get(), kDataLba, 1).data, std::vector<uint8_t>(512, 0));
    EXPECT_EQ(read_prompt(fd.get()).data, prompt);
}

TEST(Password, FieldRules) {
    SimDisk disk(opts(0));
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok());

    // No password yet: nothing to verify.
    expect_aborted(verify_password(fd.get(), "anything"));
    EXPECT_EQ(disk.show()["password_set"], "0");
    // An empty password is refused and never counted.
    expect_aborted(set_password(fd.get(), ""));
    EXPECT_EQ(disk.show()["password_set"], "0");

    // 32 bytes is the whole password: a 33rd byte is not part of it.
    const std::string pw32 = "0123456789abcdefghijklmnopqrstuv";
    ASSERT_EQ(pw32.size(), 32u);
    ASSERT_TRUE(set_password(fd.get(), pw32 + "X").good());
    EXPECT_TRUE(verify_password(fd.get(), pw32 + "Y").good());
    EXPECT_TRUE(verify_password(fd.get(), pw32).good());
    EXPECT_EQ(tries_left(disk), 5);

    // A prefix is a different password; an empty one is not a try.
    expect_aborted(verify_password(fd.get(), pw32.substr(0, 31)));
    EXPECT_EQ(tries_left(disk), 4);
    expect_aborted(verify_password(fd.get(), ""));
    EXPECT_EQ(tries_left(disk), 4);
    // Bytes after the first zero are ignored.
    std::vector<uint8_t> sector = password_sector("abcde");
    sector[6] = 'Z';
    ASSERT_TRUE(set_password(fd.get(), "abcde").good());
    EXPECT_TRUE(sg_command(fd.get(), password_fields(0xFB).cdb(), Xfer::Out, sector).good());
}

TEST(Password, StateIsSharedAcrossProcesses) {
    SimDisk disk(opts(6));
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(set_password(fd.get(), "shared").good());

    // Another process guesses wrong with sg_raw (its own open, ioctl, close).
    char path[] = "/tmp/zv-pw.XXXXXX";
    int tmp = ::mkstemp(path);
    ASSERT_GE(tmp, 0);
    std::vector<uint8_t> sector = password_sector("guess");
    ASSERT_EQ(::write(tmp, sector.data(), sector.size()), 512);
    ::close(tmp);
    int status = -1;
    std::string out = shell("sg_raw -s 512 -i " + std::string(path) + " " + disk.dev() +
                                " 85 0a 06 00 00 00 01 00 53 00 56 00 5a 40 fb 00 2>&1",
                            &status);
    ::unlink(path);
    EXPECT_NE(status, 0) << out;
    EXPECT_NE(out.find("Aborted"), std::string::npos) << out;

    // This process sees the lowered count on its open descriptor.
    SgResult id = identify(fd.get());
    ASSERT_TRUE(id.good());
    EXPECT_EQ(id.data[442], 5);
    EXPECT_EQ(id.data[443], 1);
}
