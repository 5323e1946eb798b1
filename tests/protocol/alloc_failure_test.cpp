// parse_smart_d0 when the C library cannot allocate a list node: it gives
// no list and leaves nothing allocated. The C library's malloc and free are
// replaced in this program by ones that can be told to fail the Nth
// allocation and that keep track of what is still held; they are armed only
// around the call under test. (Not built with the sanitizers, which own
// malloc themselves.)
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "vendor.h"

extern "C" void *__libc_malloc(size_t size);
extern "C" void __libc_free(void *ptr);

namespace {

constexpr int kTracked = 64;

bool g_armed = false;
int g_fail_at = 0; // 1-based allocation to fail while armed
int g_calls = 0;
void *g_held[kTracked];
int g_held_count = 0;
bool g_overflow = false;

void arm(int fail_at)
{
    g_fail_at = fail_at;
    g_calls = 0;
    g_held_count = 0;
    g_overflow = false;
    g_armed = true;
}

} // namespace

extern "C" void *malloc(size_t size)
{
    if (!g_armed)
        return __libc_malloc(size);
    if (++g_calls == g_fail_at)
        return nullptr;
    void *p = __libc_malloc(size);
    if (p != nullptr) {
        if (g_held_count < kTracked)
            g_held[g_held_count++] = p;
        else
            g_overflow = true;
    }
    return p;
}

extern "C" void free(void *ptr)
{
    if (g_armed && ptr != nullptr) {
        for (int i = 0; i < g_held_count; i++) {
            if (g_held[i] == ptr) {
                g_held[i] = g_held[--g_held_count];
                break;
            }
        }
    }
    __libc_free(ptr);
}

namespace {

TEST(ParseSmartD0OutOfMemory, GivesNoListAndLeavesNothingAllocated)
{
    std::vector<uint8_t> data(512, 0);
    for (int i = 0; i < 30; i++)
        data[2 + 12 * i] = static_cast<uint8_t>(i + 1);

    for (int fail_at : {1, 2, 15, 30}) {
        arm(fail_at);
        PSMART_D0_LIST list = parse_smart_d0(data.data(), 512, SELECT_SCSI_ATA_TYPE);
        g_armed = false;
        EXPECT_EQ(list, nullptr) << "allocation " << fail_at << " failed";
        EXPECT_EQ(g_calls, fail_at) << "no allocation after the failed one";
        EXPECT_EQ(g_held_count, 0) << "allocation " << fail_at << " failed: nodes left behind";
        EXPECT_FALSE(g_overflow);
        free_smart_d0_list(list);
    }

    // The same data with every allocation granted gives all 30 entries.
    arm(0);
    PSMART_D0_LIST list = parse_smart_d0(data.data(), 512, SELECT_SCSI_ATA_TYPE);
    g_armed = false;
    EXPECT_EQ(g_calls, 30);
    int n = 0;
    for (PSMART_D0_LIST p = list; p != nullptr; p = p->next)
        EXPECT_EQ(p->d0.id, ++n);
    EXPECT_EQ(n, 30);
    free_smart_d0_list(list);
}

} // namespace
