// ZVSecurityDisk against the real disk service and simulated secure disks on
// a private bus; the disks are found through a lsblk on PATH that lists the
// simulated ones.
#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "model_support.h"
#include "sim_disk.h"
#include "startup_status.h"
#include "zvsecurity_disk.h"

namespace {

using guitest::count_message;
using guitest::send_to;

simtest::SimDiskOptions disk_at(const std::string &dev)
{
    simtest::SimDiskOptions opts;
    opts.dev = dev;
    opts.reenum_ms = 200;
    return opts;
}

bool saw_vendor_reset(const simtest::SimDisk &disk)
{
    for (const std::string &line : disk.commands())
        if (simtest::record_field(line, "cdb").rfind("ee", 0) == 0)
            return true;
    return false;
}

std::string hex(int status)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%X", static_cast<unsigned>(status));
    return text;
}

class ModelTest : public testing::Test {
protected:
    void SetUp() override
    {
        guitest::clear_messages();
        model()->set_watchdog(false);
    }
    void TearDown() override { service_.reset(); }

    static ZVSecurityDisk *model() { return ZVSecurityDisk::GetInstance(); }
    std::string disk_name() const { return ZVSecurityDisk::GetInstance()->get_disk_name(); }
    // Start it once the test's disks exist: it sees the disks of its start.
    void start_service() { service_.reset(new svctest::ServiceProcess(guitest::program_bus())); }
    void stop_service() { service_.reset(); }

private:
    std::unique_ptr<svctest::ServiceProcess> service_;
};

// ------------------------------------------------------ choosing the disk
TEST_F(ModelTest, ChoosesTheLastPublicDiskInPathOrder)
{
    // /dev/sdaa comes after /dev/sdz on the bus but before it in path order.
    simtest::SimDisk sdz(disk_at("/dev/sdz"));
    simtest::SimDisk sdaa(disk_at("/dev/sdaa"));
    start_service();

    QMap<QString, bool> disks;
    ASSERT_EQ(model()->get_zvsecuritydisk_list(disks), 0);
    EXPECT_EQ(disks, (QMap<QString, bool>{{"/dev/sdaa", false}, {"/dev/sdz", false}}));

    ASSERT_EQ(model()->init(), 0);
    EXPECT_EQ(disk_name(), "/dev/sdz");
    EXPECT_EQ(model()->scan_disk_by_sn(), 0) << "init kept the chosen disk's serial number";
    EXPECT_EQ(disk_name(), "/dev/sdz");
}

TEST_F(ModelTest, PublicStatusEndsAt0x80000Sectors)
{
    simtest::SimDiskOptions largest_public = disk_at("/dev/sdw");
    largest_public.public_size = "256M"; // 0x80000 sectors
    simtest::SimDisk public_disk(largest_public);
    simtest::SimDiskOptions one_more = disk_at("/dev/sdx");
    one_more.private_size = std::to_string((0x80000ull + 1) * 512);
    simtest::SimDisk unlocked_disk(one_more);
    start_service();

    // Unlocked, the second disk presents its private area of 0x80001 sectors.
    ASSERT_EQ(send_to(send_cmd, "/dev/sdx", "setpwd", "pw"), 0);
    ASSERT_EQ(send_to(send_cmd, "/dev/sdx", "verifypwd", "pw"), 0);
    ASSERT_EQ(send_to(reset, "/dev/sdx", ""), 0);
    ASSERT_TRUE(unlocked_disk.wait_present());
    ASSERT_EQ(unlocked_disk.show().at("presented_sectors"), "524289");

    QMap<QString, bool> disks;
    ASSERT_EQ(model()->get_zvsecuritydisk_list(disks), 0);
    EXPECT_EQ(disks, (QMap<QString, bool>{{"/dev/sdw", false}, {"/dev/sdx", true}}));
    ASSERT_EQ(model()->init(), 0);
    EXPECT_EQ(disk_name(), "/dev/sdw") << "the later disk in path order is not in public status";
}

TEST_F(ModelTest, OnlyADiskOutOfPublicStatusGives15)
{
    simtest::SimDiskOptions opts = disk_at("/dev/sdx");
    opts.private_size = std::to_string((0x80000ull + 1) * 512);
    simtest::SimDisk disk(opts);
    start_service();
    ASSERT_EQ(send_to(send_cmd, "/dev/sdx", "setpwd", "pw"), 0);
    ASSERT_EQ(send_to(send_cmd, "/dev/sdx", "verifypwd", "pw"), 0);
    ASSERT_EQ(send_to(reset, "/dev/sdx", ""), 0);
    ASSERT_TRUE(disk.wait_present());

    guitest::clear_messages();
    EXPECT_EQ(model()->init(), ZV_DISK_ERR_NO_DISK);
    EXPECT_EQ(disk_name(), "");
    EXPECT_EQ(count_message(QtCriticalMsg, "get device number failed. lm status[0x0]"), 1)
        << "the listing found a security disk, just none in public status";
}

TEST_F(ModelTest, NoSecurityDiskGives15)
{
    start_service();
    EXPECT_EQ(model()->init(), ZV_DISK_ERR_NO_DISK);
    EXPECT_EQ(disk_name(), "");
    EXPECT_EQ(count_message(QtCriticalMsg, "get device number failed. lm status[0x1]"), 1);
}

// ---------------------------------------------------- start-up verdicts
struct VerdictCase {
    const char *name;
    std::string assignments; // made on the disk before the service starts
    int verdict;
    int password_set;
    int tries_left;
};

const VerdictCase kVerdicts[] = {
    {"NoPassword", "", ZV_DISK_NO_PASSWORD, 0, 5},
    {"PasswordWithTriesLeft", "password=pw tries_left=3", ZV_DISK_PASSWORD_SET, 1, 3},
    {"PasswordWithNoTriesLeft", "password=pw tries_left=0", ZV_DISK_PASSWORD_SET, 1, 0},
};

class StartupVerdict : public ModelTest, public testing::WithParamInterface<VerdictCase> {};

TEST_P(StartupVerdict, ComesWithThePasswordStateAndTriesLeft)
{
    simtest::SimDisk disk(disk_at(""));
    if (!GetParam().assignments.empty())
        disk.set(GetParam().assignments);
    start_service();
    PasswordStatus status;
    EXPECT_EQ(check_startup_status(model(), &status), GetParam().verdict);
    EXPECT_EQ(disk_name(), disk.dev());
    EXPECT_EQ(status.password_set, GetParam().password_set);
    EXPECT_EQ(status.error_times, GetParam().tries_left);
}

INSTANTIATE_TEST_SUITE_P(Model, StartupVerdict, testing::ValuesIn(kVerdicts),
                         [](const testing::TestParamInfo<VerdictCase> &info) { return info.param.name; });

TEST_F(ModelTest, StartupWithoutSecurityDiskIs15)
{
    start_service();
    PasswordStatus status;
    EXPECT_EQ(check_startup_status(model(), &status), ZV_DISK_ERR_NO_DISK);
    EXPECT_EQ(status.password_set, -1);
    EXPECT_EQ(status.error_times, -1);
}

TEST_F(ModelTest, IdentifyWithoutTheSignatureGives12WithTheStatusFilled)
{
    simtest::SimDisk disk(disk_at("/dev/sdt")); // listed by lsblk; a stand-in answers for it
    guitest::FakeService service(guitest::program_bus());
    guitest::Answer unknown;
    unknown.status = 260;
    service.answer("getidentify", unknown);
    guitest::Answer secure;
    secure.data = guitest::identify_page(true);
    service.answer_device("/dev/sdt", secure);
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(disk_name(), "/dev/sdt");

    guitest::Answer plain;
    plain.data = guitest::identify_page(false, 0x8000, "FAKE0001", 0xFF, 1);
    service.answer_device("/dev/sdt", plain);
    PasswordStatus status = {-1, -1};
    EXPECT_EQ(model()->get_password_status(&status), ZV_DISK_ERR_NOT_SECURITY_DISK);
    EXPECT_EQ(status.password_set, 1);
    EXPECT_EQ(status.error_times, -1) << "byte 442 = 0xFF, sign-extended";
    EXPECT_EQ(count_message(QtCriticalMsg, "disk[/dev/sdt] is not zv security disk"), 1);
}

// ------------------------------------------------------------ passwords
TEST_F(ModelTest, WrongPasswordGives7WithoutAResetAndCostsATry)
{
    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(model()->set_password("right"), 0);

    EXPECT_EQ(model()->verify_password("wrong"), ZV_DISK_ERR_VERIFY);
    EXPECT_EQ(count_message(QtCriticalMsg, "verify password disk[" + disk.dev() + "] failed. verifypwd:532."), 1);
    EXPECT_FALSE(saw_vendor_reset(disk));
    auto state = disk.show();
    EXPECT_EQ(state.at("present"), "1");
    EXPECT_EQ(state.at("locked"), "1");
    EXPECT_EQ(state.at("tries_left"), "4");
    PasswordStatus status = {-1, -1};
    ASSERT_EQ(model()->get_password_status(&status), 0);
    EXPECT_EQ(status.password_set, 1);
    EXPECT_EQ(status.error_times, 4);
}

TEST_F(ModelTest, SetThenVerifyUnlocksAndTheDiskIsFoundUnderItsNewName)
{
    simtest::SimDiskOptions opts = disk_at("/dev/sdu");
    opts.next_dev = "/dev/sdv";
    simtest::SimDisk disk(opts);
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(disk_name(), "/dev/sdu");

    ASSERT_EQ(model()->set_password("s3cret"), 0);
    EXPECT_EQ(disk.show().at("password_set"), "1");
    ASSERT_EQ(model()->verify_password("s3cret"), 0);
    EXPECT_TRUE(saw_vendor_reset(disk));

    // As the set-password run does: look for the serial number until the
    // disk is back.
    int found = 1;
    for (int i = 0; i < 50 && found != 0; i++) {
        found = model()->scan_disk_by_sn();
        if (found != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(found, 0);
    EXPECT_EQ(disk_name(), "/dev/sdv");
    EXPECT_EQ(count_message(QtDebugMsg, "scan disk name:/dev/sdv"), 1);
    EXPECT_EQ(disk.show().at("unlocked"), "1");
    QMap<QString, bool> disks;
    ASSERT_EQ(model()->get_zvsecuritydisk_list(disks), 0);
    EXPECT_EQ(disks.value("/dev/sdv", false), true) << "unlocked, the disk shows its private area";
}

// The bytes the disk keeps for its password, from its state file.
std::string stored_password_hex(const simtest::SimDisk &disk)
{
    std::ifstream in(disk.dir() + "/state");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("password=", 0) == 0)
            return line.substr(9);
    return "";
}

std::string hex_of(const QByteArray &bytes)
{
    return bytes.toHex().toStdString();
}

TEST_F(ModelTest, NonAsciiPasswordIsSetAndVerifiedAsItsWholeUtf8Bytes)
{
    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    const QString right = QString::fromUtf8("Pässwort12"); // 10 characters, 11 bytes
    ASSERT_EQ(model()->set_password(right), 0);
    EXPECT_EQ(stored_password_hex(disk), hex_of(right.toUtf8())) << "all eleven bytes, not the first ten";

    // One character differs in the last byte: the disk must refuse it.
    EXPECT_EQ(model()->verify_password(QString::fromUtf8("Pässwort13")), ZV_DISK_ERR_VERIFY);
    EXPECT_FALSE(saw_vendor_reset(disk));
    EXPECT_EQ(disk.show().at("tries_left"), "4");
    EXPECT_EQ(disk.show().at("locked"), "1");

    ASSERT_EQ(model()->verify_password(right), 0);
    EXPECT_TRUE(saw_vendor_reset(disk));
    EXPECT_TRUE(disk.wait_present());
    EXPECT_EQ(disk.show().at("unlocked"), "1");
}

TEST_F(ModelTest, ASlowResetIsWaitedForAndUnlocks)
{
    // The disk takes 30 s to answer the reset: longer than the bus's default
    // 25 s, shorter than the kernel's 60 s for a command without a limit.
    simtest::SimDisk disk(disk_at(""));
    disk.set("reset_ms=30000");
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(model()->set_password("Passw0rd1"), 0);
    EXPECT_EQ(model()->verify_password("Passw0rd1"), 0) << "not a wrong password";
    EXPECT_TRUE(saw_vendor_reset(disk));
    EXPECT_TRUE(disk.wait_present());
    EXPECT_EQ(disk.show().at("unlocked"), "1");
    EXPECT_EQ(disk.show().at("tries_left"), "5");
}

TEST_F(ModelTest, PasswordBeyondTheCatalogueFieldIsRefusedBeforeTheDisk)
{
    // Twelve Chinese characters, a letter and a digit: 14 characters, 38 bytes.
    const QString chinese = QString::fromUtf8("我的密码是安全的密码啊啊a1");
    ASSERT_EQ(chinese.size(), 14);
    ASSERT_EQ(chinese.toUtf8().size(), 38);
    EXPECT_EQ(ZVSecurityDisk::password_field_length(), 32);
    EXPECT_FALSE(ZVSecurityDisk::password_fits(chinese));
    const QString thirty_two = QString::fromUtf8("我的密码") +
                               QString("a1234567890123456789");
    EXPECT_EQ(thirty_two.toUtf8().size(), 32);
    EXPECT_TRUE(ZVSecurityDisk::password_fits(thirty_two)) << "exactly the field";

    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    const size_t before = disk.commands().size();
    EXPECT_EQ(model()->set_password(chinese), ZV_DISK_ERR_SET_PASSWORD);
    EXPECT_EQ(model()->verify_password(chinese), ZV_DISK_ERR_VERIFY);
    EXPECT_EQ(disk.commands().size(), before) << "nothing reached the disk";
    EXPECT_EQ(disk.show().at("password_set"), "0");
    EXPECT_EQ(disk.show().at("tries_left"), "5");
}

TEST_F(ModelTest, ScanWithoutTheDiskLeavesTheNameAlone)
{
    auto disk = std::make_unique<simtest::SimDisk>(disk_at(""));
    const std::string dev = disk->dev();
    start_service();
    ASSERT_EQ(model()->init(), 0);
    disk.reset();
    EXPECT_EQ(model()->scan_disk_by_sn(), 1);
    EXPECT_EQ(disk_name(), dev);
}

// --------------------------------------------------------------- prompt
std::string repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

struct PromptCase {
    const char *name;
    std::string prompt; // UTF-8
};

const PromptCase kPrompts[] = {
    {"Longest", repeat("\xE5\xAE\x89", 168)}, // 168 three-byte characters: 504 bytes
    {"Ascii", "my first pet"},
    {"Empty", ""},
};

class PromptRoundTrip : public ModelTest, public testing::WithParamInterface<PromptCase> {};

TEST_P(PromptRoundTrip, ReadsBackWhatWasWritten)
{
    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(model()->set_password_prompt("an earlier, longer prompt text"), 0);

    const QString prompt = QString::fromStdString(GetParam().prompt);
    ASSERT_EQ(model()->set_password_prompt(prompt), 0);
    QString back = "unread";
    ASSERT_EQ(model()->get_password_prompt(back), 0);
    EXPECT_EQ(back, prompt);

    // The whole sector: the prompt, then zeros (an empty prompt is a zero sector).
    _USER_DATA_ sector;
    ASSERT_EQ(send_to(read, disk.dev(), "readparam", "", &sector), 0);
    std::string expected = GetParam().prompt;
    expected.resize(512, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(sector.out_data), 512), expected);
}

INSTANTIATE_TEST_SUITE_P(Model, PromptRoundTrip, testing::ValuesIn(kPrompts),
                         [](const testing::TestParamInfo<PromptCase> &info) { return info.param.name; });

TEST_F(ModelTest, PromptOverTheSectorsRoomIsRefusedAndNothingWritten)
{
    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(model()->set_password_prompt("kept"), 0);
    const size_t commands_before = disk.commands().size();

    EXPECT_EQ(model()->set_password_prompt(QString::fromStdString(repeat("\xE5\xAE\x89", 168) + "x")),
              ZV_DISK_ERR_SET_PROMPT);
    EXPECT_EQ(disk.commands().size(), commands_before) << "nothing reached the disk";
    QString back;
    ASSERT_EQ(model()->get_password_prompt(back), 0);
    EXPECT_EQ(back, "kept");
}

// --------------------------------------------------------------- format
TEST_F(ModelTest, FormatAgainstAFailingServiceTakesThreeTries)
{
    guitest::FakeService service(guitest::program_bus());
    std::vector<guitest::Answer> failures(3);
    for (int i = 0; i < 3; i++)
        failures[static_cast<size_t>(i)].status = 101 + i;
    service.answer_in_turn("format", failures);

    EXPECT_EQ(model()->format_disk(), 103) << "the last try's status";
    std::vector<guitest::Call> calls = service.calls_of("format");
    ASSERT_EQ(calls.size(), 3u);
    for (const guitest::Call &c : calls)
        EXPECT_EQ(c.dev.toStdString(), disk_name());
}

TEST_F(ModelTest, FormatStopsAtTheFirstSuccess)
{
    guitest::FakeService service(guitest::program_bus());
    std::vector<guitest::Answer> answers(2);
    answers[0].status = 4;
    answers[1].status = 0;
    service.answer_in_turn("format", answers);
    EXPECT_EQ(model()->format_disk(), 0);
    EXPECT_EQ(service.calls_of("format").size(), 2u);
}

// ------------------------------------------------------ service absent
TEST_F(ModelTest, WithoutTheServiceEveryOperationFails)
{
    simtest::SimDisk disk(disk_at(""));
    const std::string dev = disk.dev();
    start_service();
    ASSERT_EQ(model()->init(), 0);
    ASSERT_EQ(model()->set_password("pw"), 0);
    stop_service();
    guitest::clear_messages();

    const std::string bus_status = hex(CMD_ERR_BUS_NO_SERVICE);
    PasswordStatus status = {-1, -1};
    EXPECT_EQ(model()->get_password_status(&status), ZV_DISK_ERR_IDENTIFY);
    EXPECT_EQ(count_message(QtCriticalMsg, "get disk[" + dev + "]  identify failed. ptl error:" + bus_status), 1);
    EXPECT_EQ(model()->verify_password("pw"), ZV_DISK_ERR_VERIFY) << "the right password, and still no unlock";
    EXPECT_EQ(count_message(QtCriticalMsg, "verify password disk[" + dev + "] failed. verifypwd:-3."), 1);
    EXPECT_EQ(model()->set_password("pw"), ZV_DISK_ERR_SET_PASSWORD);
    EXPECT_EQ(model()->set_password_prompt("hint"), ZV_DISK_ERR_SET_PROMPT);
    QString prompt = "unread";
    EXPECT_EQ(model()->get_password_prompt(prompt), ZV_DISK_ERR_GET_PROMPT);
    EXPECT_EQ(prompt, "unread");
    // The disk is still there, only the service is gone: not a vanished disk.
    EXPECT_EQ(model()->access_disk_status(), 1);
    EXPECT_EQ(count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);
    EXPECT_EQ(model()->scan_disk_by_sn(), 1);
    EXPECT_EQ(disk_name(), dev);
    EXPECT_EQ(model()->format_disk(), CMD_ERR_BUS_NO_SERVICE);

    guitest::clear_messages();
    EXPECT_EQ(model()->init(), ZV_DISK_ERR_NO_DISK);
    EXPECT_EQ(count_message(QtCriticalMsg, "get disk[" + dev + "]  identify failed. ptl error:" + bus_status), 1);
    EXPECT_EQ(count_message(QtCriticalMsg, "disk[" + dev + "] is not zv security disk"), 0)
        << "a silent bus is not a disk without the signature";
    EXPECT_EQ(count_message(QtCriticalMsg, "get device number failed. lm status[0x1]"), 1);
    EXPECT_EQ(disk.show().at("locked"), "1");
}

// ------------------------------------------------------------- presence
TEST_F(ModelTest, PresentDiskAnswers)
{
    simtest::SimDisk disk(disk_at(""));
    start_service();
    ASSERT_EQ(model()->init(), 0);
    EXPECT_EQ(model()->access_disk_status(), 1);
    EXPECT_EQ(count_message(QtCriticalMsg, "disk is not exist. application exit."), 0);
}

TEST_F(ModelTest, WrappersPassTheServicesOpenFailure)
{
    start_service();
    _USER_DATA_ data;
    memset(&data, 0, sizeof(data));
    data.dev_name = "/dev/sdqnosuchdisk";
    data.sub_name = "identify";
    memset(data.out_data, 0xAB, sizeof(data.out_data));
    data.out_len = 99;
    EXPECT_EQ(identify(&data), 260);
    EXPECT_EQ(data.out_len, 99u);
    EXPECT_EQ(data.out_data[0], 0xAB);
    EXPECT_EQ(read(&data), 260);
    EXPECT_EQ(data.out_len, 512u) << "read sets the length whatever the status";
    EXPECT_EQ(data.out_data[0], 0xAB);
}

} // namespace

int main(int argc, char **argv)
{
    guitest::ToolDir tools;
    guitest::add_simulated_lsblk(tools);
    return guitest::run_tests(argc, argv);
}
