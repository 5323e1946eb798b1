// Concurrent users of one disk: processes and threads hammering commands
// on their own descriptors keep the state consistent (no lost try, no torn
// prompt sector, one whole record line per command).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <atomic>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

constexpr int kWorkers = 2;
constexpr int kRounds = 40;

// Runs `work` in a child process; returns its exit status.
template <class F>
pid_t spawn(F work) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 1;
        try {
            rc = work() ? 0 : 1;
        } catch (...) {
        }
        ::_exit(rc);
    }
    return pid;
}

int wait_for(pid_t pid) {
    int st = 0;
    if (::waitpid(pid, &st, 0) != pid) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace

TEST(Concurrency, TwoProcessesSpendEveryWrongTryExactlyOnce) {
    SimDiskOptions o;
    o.tries = 255;
    SimDisk disk(o);
    disk.set("password=correct");
    const std::string dev = disk.dev();

    std::vector<pid_t> kids;
    for (int w = 0; w < kWorkers; ++w) {
        kids.push_back(spawn([&dev, w]() {
            for (int i = 0; i < kRounds; ++i) {
                Fd fd(dev, O_RDWR);   // a service opens and closes per command
                if (!fd.ok()) return false;
                SgResult v = verify_password(fd.get(), "wrong" + std::to_string(w));
                if (v.ret != 0 || v.sense_key() != 0x0B) return false;
                SgResult id = identify(fd.get());
                if (!id.good() || id.data[443] != 1) return false;
            }
            return true;
        }));
    }
    for (pid_t k : kids) EXPECT_EQ(wait_for(k), 0);

    EXPECT_EQ(std::stoi(disk.show()["tries_left"]), 255 - kWorkers * kRounds);
    std::vector<std::string> cmds = disk.commands();
    ASSERT_EQ(cmds.size(), static_cast<size_t>(2 * kWorkers * kRounds));
    std::set<std::string> seqs;
    int verifies = 0;
    for (const auto &c : cmds) {
        seqs.insert(record_field(c, "seq"));
        std::string cdb = record_field(c, "cdb");
        ASSERT_EQ(cdb.size(), 32u) << c;
        if (cdb.substr(28, 2) == "fb") {
            ++verifies;
            EXPECT_EQ(record_field(c, "sense"), "0b/00/00") << c;
        }
    }
    EXPECT_EQ(seqs.size(), cmds.size());
    EXPECT_EQ(verifies, kWorkers * kRounds);
    EXPECT_EQ(disk.show()["commands"], std::to_string(cmds.size()));
}

TEST(Concurrency, PromptWritersAndReadersNeverSeeATornSector) {
    SimDisk disk;
    const std::string dev = disk.dev();
    const std::vector<uint8_t> a = pattern(512, 100), b = pattern(512, 200);

    pid_t writer = spawn([&]() {
        Fd fd(dev, O_RDWR);
        for (int i = 0; i < kRounds; ++i)
            if (!write_prompt(fd.get(), i % 2 ? a : b).good()) return false;
        return true;
    });
    // Threads of this process read meanwhile, each on its own descriptor.
    std::vector<std::thread> readers;
    std::atomic<int> torn{0}, failed{0};
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&]() {
            Fd fd(dev, O_RDWR);
            for (int i = 0; i < kRounds; ++i) {
                SgResult r = read_prompt(fd.get());
                if (!r.good()) ++failed;
                else if (r.data != a && r.data != b && r.data != std::vector<uint8_t>(512, 0)) ++torn;
            }
        });
    }
    for (auto &t : readers) t.join();
    EXPECT_EQ(wait_for(writer), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    Fd fd(dev, O_RDWR);
    EXPECT_EQ(read_prompt(fd.get()).data, (kRounds - 1) % 2 ? a : b);   // the last write
}
