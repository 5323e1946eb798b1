// The discovery helpers: the disk list and the root disk from stand-in
// lsblk and df on PATH, device sizes, and the event object.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "disk_discovery.h"
#include "gui_test_support.h"
#include "sim_disk.h"

namespace {

std::vector<std::string> walk_forward(lm_list *head)
{
    std::vector<std::string> paths;
    for (lm_list *l = head->link_next; l != head; l = l->link_next)
        paths.push_back(lm_disk_of(l)->dev_path);
    return paths;
}

std::vector<std::string> walk_backward(lm_list *head)
{
    std::vector<std::string> paths;
    for (lm_list *l = head->link_prev; l != head; l = l->link_prev)
        paths.insert(paths.begin(), lm_disk_of(l)->dev_path);
    return paths;
}

// ------------------------------------------------------------- get_disk
struct ListCase {
    const char *name;
    std::string lsblk_output;
    std::vector<std::string> disks;
};

const std::string kHeader = "NAME  MAJ:MIN RM  SIZE RO TYPE MOUNTPOINTS\n";

const ListCase kLists[] = {
    {"NothingPrinted", "", {}},
    {"NoDiskLines", kHeader + "loop0   7:0    0   16M  0 loop \n", {}},
    {"InPrintedOrder", kHeader + "sdb     8:16   1  16M  0 disk \nsda     8:0    1  16M  0 disk \n",
     {"/dev/sdb", "/dev/sda"}},
    {"PartitionsAndLoopsLeftOut",
     kHeader + "sda     8:0    0  20G  0 disk \n|-sda1  8:1    0  20G  0 part /\nloop0   7:0    0  16M  0 loop \n"
               "sdz     0:0    1 256M  0 disk \n",
     {"/dev/sda", "/dev/sdz"}},
    // "/dev/" and 26 characters fill the 32-byte path with its NUL; one more
    // does not fit and the line is left out.
    {"LongestPathKept", "abcdefghijklmnopqrstuvwxyz 0:0 1 1M 0 disk\n", {"/dev/abcdefghijklmnopqrstuvwxyz"}},
    {"LongerPathSkipped", "abcdefghijklmnopqrstuvwxyza 0:0 1 1M 0 disk\nsdb 8:16 1 1M 0 disk\n", {"/dev/sdb"}},
    {"OverlongLineSkippedWhole", std::string(600, 'a') + " disk\nsdc 8:32 1 1M 0 disk\n", {"/dev/sdc"}},
};

class DiskList : public testing::TestWithParam<ListCase> {};

TEST_P(DiskList, ListsTheWholeDisksAsDevicePaths)
{
    guitest::ToolDir tools;
    tools.add_script("lsblk", guitest::printing_script(GetParam().lsblk_output));
    lm_list head;
    ASSERT_EQ(get_disk(&head), 0);
    EXPECT_EQ(walk_forward(&head), GetParam().disks);
    EXPECT_EQ(walk_backward(&head), GetParam().disks) << "both links agree";
    if (GetParam().disks.empty()) {
        EXPECT_EQ(head.link_next, &head);
        EXPECT_EQ(head.link_prev, &head);
    }
    lm_free_disk_list(&head);
    EXPECT_EQ(head.link_next, &head);
}

INSTANTIATE_TEST_SUITE_P(Discovery, DiskList, testing::ValuesIn(kLists),
                         [](const testing::TestParamInfo<ListCase> &info) { return info.param.name; });

TEST(Discovery, GetDiskEmptiesTheHeadFirst)
{
    guitest::ToolDir tools;
    tools.add_script("lsblk", guitest::printing_script("sda 8:0 0 1G 0 disk\n"));
    lm_list head;
    ASSERT_EQ(get_disk(&head), 0);
    lm_list kept = head; // the caller keeps the nodes; a new listing starts afresh
    ASSERT_EQ(get_disk(&head), 0);
    EXPECT_EQ(walk_forward(&head), std::vector<std::string>{"/dev/sda"});
    lm_free_disk_list(&head);
    lm_list *first = kept.link_next;
    free(lm_disk_of(first));
}

TEST(Discovery, PipelineStatusComesBack)
{
    guitest::ToolDir tools;
    tools.add_script("lsblk", guitest::printing_script("sda 8:0 0 1G 0 disk\n"));
    tools.add_script("awk", "cat >/dev/null\nexit 3\n");
    lm_list head;
    EXPECT_EQ(get_disk(&head), 3);
    lm_free_disk_list(&head);
}

// ------------------------------------------------- get_system_disk_name
struct RootCase {
    const char *name;
    std::string df_output;
    std::string device; // what the buffer starts with afterwards
};

const std::string kDfHeader = "Filesystem     1K-blocks     Used Available Use% Mounted on\n";

const RootCase kRoots[] = {
    {"PartitionDigitsTrimmed", kDfHeader + "/dev/sda1       20511312  9123456  10322664  47% /\n", "/dev/sda"},
    {"NvmeKeepsItsP", kDfHeader + "/dev/nvme0n1p2  20511312  9123456  10322664  47% /\n", "/dev/nvme0n1p"},
    {"WholeDiskUnchanged", kDfHeader + "/dev/vda 264212084 16993228 83343960 17% /\n", "/dev/vda"},
    {"LetterEndingUnchanged", kDfHeader + "overlay 264212084 16993228 83343960 17% /\n", "overlay"},
    {"OtherMountsIgnored", kDfHeader + "/dev/sdb1 1 1 1 1% /home\n/dev/sdc3 1 1 1 1% /\n", "/dev/sdc"},
    {"NoRootLine", kDfHeader + "/dev/sdb1 1 1 1 1% /home\n", ""},
};

class RootDisk : public testing::TestWithParam<RootCase> {};

TEST_P(RootDisk, NamesTheRootDiskWithoutItsPartitionNumber)
{
    guitest::ToolDir tools;
    tools.add_script("df", guitest::printing_script(GetParam().df_output));
    char name[512];
    memset(name, 0, sizeof(name));
    ASSERT_EQ(get_system_disk_name(name), 0);
    EXPECT_EQ(std::string(name), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(Discovery, RootDisk, testing::ValuesIn(kRoots),
                         [](const testing::TestParamInfo<RootCase> &info) { return info.param.name; });

// --------------------------------------------------------- sizes, names
TEST(Discovery, DiskSizeOfASimulatedDisk)
{
    simtest::SimDiskOptions opts;
    opts.public_size = "16M";
    simtest::SimDisk disk(opts);
    uint64_t size = 0;
    ASSERT_EQ(lm_get_disk_size(disk.dev().c_str(), &size), 0);
    EXPECT_EQ(size, 16ull << 20);
}

TEST(Discovery, DiskSizeFailuresAreErrnoValues)
{
    uint64_t size = 12345;
    EXPECT_EQ(lm_get_disk_size("/nonexistent/zv-disk", &size), ENOENT);
    char file[] = "/tmp/zv-notadisk.XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(lm_get_disk_size(file, &size), ENOTTY);
    unlink(file);
    EXPECT_EQ(size, 12345u) << "the size is left alone on failure";
}

TEST(Discovery, NameHelpersCopyWithoutTheTerminator)
{
    char out[16];
    memset(out, 'X', sizeof(out));
    EXPECT_EQ(disk_to_symbol_path("/dev/sdb", out), 0);
    EXPECT_EQ(std::string(out, 9), "/dev/sdbX");
    memset(out, 'X', sizeof(out));
    EXPECT_EQ(symbol_to_disk_name("/dev/sdc", out), 0);
    EXPECT_EQ(std::string(out, 9), "/dev/sdcX");
    uint32_t type = 0;
    EXPECT_EQ(lm_get_disk_connect_type("/dev/sdb", &type), 0);
    EXPECT_EQ(type, 2u);
}

TEST(Discovery, ThreadRunsTheRoutineWithItsArgument)
{
    pthread_t thread;
    int value = 0;
    ASSERT_EQ(lm_thread_create(
                  &thread, [](void *arg) -> void * { *static_cast<int *>(arg) = 42; return nullptr; }, &value),
              0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    EXPECT_EQ(value, 42);
}

// ---------------------------------------------------------------- events
TEST(Event, SetAutoResetEventIsTakenOnceAtOnce)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 0, 1), 0);
    EXPECT_EQ(lm_event_wait_time(&ev, 5000), 0);
    EXPECT_EQ(lm_event_wait_time(&ev, 0), LM_STATUS_TIMEOUT) << "the wait cleared it";
}

TEST(Event, ManualResetEventStaysSet)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 1, 0), 0);
    ASSERT_EQ(lm_event_set(&ev), 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(lm_event_wait_time(&ev, 0), 0);
        EXPECT_EQ(lm_event_wait(&ev), 0);
    }
}

TEST(Event, TimedWaitDoesNotReturnEarly)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 0, 0), 0);
    for (uint64_t ms : {1ull, 150ull, 1200ull}) {
        SCOPED_TRACE(ms);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(lm_event_wait_time(&ev, ms), LM_STATUS_TIMEOUT);
        auto waited = std::chrono::steady_clock::now() - start;
        // The deadline is kept in whole microseconds of the monotonic clock.
        EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(waited).count() + 1,
                  static_cast<long long>(ms * 1000));
    }
}

TEST(Event, AutoResetSetReleasesExactlyOneWaiter)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 0, 0), 0);
    int results[2] = {-1, -1};
    std::thread a([&] { results[0] = lm_event_wait_time(&ev, 1500); });
    std::thread b([&] { results[1] = lm_event_wait_time(&ev, 1500); });
    ASSERT_EQ(lm_event_set(&ev), 0);
    a.join();
    b.join();
    std::multiset<int> got(results, results + 2);
    EXPECT_EQ(got, (std::multiset<int>{0, LM_STATUS_TIMEOUT}));
}

TEST(Event, ManualResetSetReleasesEveryWaiter)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 1, 0), 0);
    int results[3] = {-1, -1, -1};
    std::vector<std::thread> waiters;
    for (int &r : results)
        waiters.emplace_back([&ev, &r] { r = lm_event_wait_time(&ev, 10000); });
    ASSERT_EQ(lm_event_set(&ev), 0);
    for (std::thread &t : waiters)
        t.join();
    for (int r : results)
        EXPECT_EQ(r, 0);
}

TEST(Event, SetFromAnotherThreadEndsAnUntimedWait)
{
    lm_event ev;
    ASSERT_EQ(lm_event_init(&ev, 0, 0), 0);
    std::thread setter([&ev] { lm_event_set(&ev); });
    EXPECT_EQ(lm_event_wait(&ev), 0);
    setter.join();
    EXPECT_EQ(lm_event_wait_time(&ev, 0), LM_STATUS_TIMEOUT);
}

} // namespace
