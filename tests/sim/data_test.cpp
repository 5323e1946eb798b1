// The data areas: SCSI READ/WRITE (10)/(16) and ATA DMA commands of the
// presented area agree with each other and with plain pread/pwrite on the
// same descriptor; the boundaries of the area; READ CAPACITY (16); the SMART
// table as READ DATA reports it and as `securedisk-sim smart` holds it; the
// image fallback used without root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <map>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

std::vector<uint8_t> cdb16(uint8_t op, uint64_t lba, uint32_t count) {
    std::vector<uint8_t> c(16, 0);
    c[0] = op;
    for (int i = 0; i < 8; ++i) c[2 + i] = static_cast<uint8_t>(lba >> (56 - 8 * i));
    for (int i = 0; i < 4; ++i) c[10 + i] = static_cast<uint8_t>(count >> (24 - 8 * i));
    return c;
}

AtaPt16 dma_ext(bool read, uint64_t lba, uint16_t count) {
    AtaPt16 f;
    f.protocol = read ? 10 : 11;   // UDMA data-in / data-out
    f.extend = true;
    f.t_dir_in = read;
    f.count = count;
    f.lba = lba;
    f.command = read ? 0x25 : 0x35;
    return f;
}

AtaPt16 dma28(bool read, uint32_t lba, uint8_t count) {
    AtaPt16 f;
    f.protocol = 6;
    f.t_dir_in = read;
    f.count = count;
    f.lba = lba & 0xFFFFFF;
    f.device = static_cast<uint8_t>(0x40 | ((lba >> 24) & 0x0F));
    f.command = read ? 0xC8 : 0xCA;
    return f;
}

std::map<unsigned, uint64_t> parse_smart_page(const std::vector<uint8_t> &p) {
    std::map<unsigned, uint64_t> attrs;
    for (size_t i = 0; i < 30; ++i) {
        const uint8_t *e = p.data() + 2 + i * 12;
        if (e[0] == 0) continue;
        uint64_t raw = 0;
        for (int k = 5; k >= 0; --k) raw = (raw << 8) | e[5 + k];
        attrs[e[0]] = raw;
    }
    return attrs;
}

std::map<unsigned, uint64_t> parse_smart_tool(const std::string &out) {
    std::map<unsigned, uint64_t> attrs;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            attrs[static_cast<unsigned>(std::stoul(line.substr(0, eq)))] = std::stoull(line.substr(eq + 1));
    }
    return attrs;
}

SgResult smart_read_data(int fd) {
    AtaPt16 f;
    f.protocol = 4;
    f.count = 1;
    f.feature = 0xD0;
    f.lba = 0xC24F00;
    f.command = 0xB0;
    return sg_command(fd, f.cdb(), Xfer::In, {}, 512);
}

}  // namespace

TEST(DataArea, ScsiAtaAndPlainIoSeeTheSameSectors) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok());
    const std::vector<uint8_t> a = pattern(4 * 512, 1), b = pattern(2 * 512, 2), c = pattern(512, 3),
                               d = pattern(3 * 512, 4);

    ASSERT_TRUE(write10(fd.get(), 100, a).good());
    EXPECT_EQ(read10(fd.get(), 100, 4).data, a);
    EXPECT_EQ(sg_command(fd.get(), cdb16(0x88, 100, 4), Xfer::In, {}, 4 * 512).data, a);
    EXPECT_EQ(sg_command(fd.get(), dma_ext(true, 100, 4).cdb(), Xfer::In, {}, 4 * 512).data, a);
    EXPECT_EQ(sg_command(fd.get(), dma28(true, 100, 4).cdb(), Xfer::In, {}, 4 * 512).data, a);
    std::vector<uint8_t> plain(4 * 512);
    ASSERT_EQ(::pread(fd.get(), plain.data(), plain.size(), 100 * 512), 4 * 512);
    EXPECT_EQ(plain, a);

    ASSERT_TRUE(sg_command(fd.get(), cdb16(0x8A, 200, 2), Xfer::Out, b).good());
    ASSERT_TRUE(sg_command(fd.get(), dma_ext(false, 300, 1).cdb(), Xfer::Out, c).good());
    ASSERT_TRUE(sg_command(fd.get(), dma28(false, 400, 3).cdb(), Xfer::Out, d).good());
    EXPECT_EQ(read10(fd.get(), 200, 2).data, b);
    EXPECT_EQ(read10(fd.get(), 300, 1).data, c);
    EXPECT_EQ(read10(fd.get(), 400, 3).data, d);

    // A plain write through the block device is what the commands read.
    const std::vector<uint8_t> e = pattern(512, 5);
    ASSERT_EQ(::pwrite(fd.get(), e.data(), e.size(), 500 * 512), 512);
    EXPECT_EQ(read10(fd.get(), 500, 1).data, e);

    // Another descriptor, opened read-only, writes through the commands too.
    Fd ro(disk.dev(), O_RDONLY);
    ASSERT_TRUE(write10(ro.get(), 600, c).good());
    EXPECT_EQ(read10(fd.get(), 600, 1).data, c);

    // One command moves at most 2048 sectors.
    SgResult big = sg_command(fd.get(), cdb16(0x88, 0, 2049), Xfer::In, {}, 4096);
    EXPECT_EQ(big.sense_key(), 0x05);
    EXPECT_EQ(big.asc(), 0x24);
}

TEST(DataArea, BoundariesOfThePresentedArea) {
    SimDiskOptions o;
    o.public_size = "1M";   // 2048 sectors
    SimDisk disk(o);
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_EQ(disk.show()["presented_sectors"], "2048");

    const std::vector<uint8_t> last = pattern(512, 9);
    EXPECT_TRUE(write10(fd.get(), 2047, last).good());
    EXPECT_EQ(read10(fd.get(), 2047, 1).data, last);
    SgResult past = write10(fd.get(), 2048, last);
    EXPECT_EQ(past.sense_key(), 0x05);
    EXPECT_EQ(past.asc(), 0x21);
    EXPECT_EQ(read10(fd.get(), 2046, 3).asc(), 0x21);
    EXPECT_TRUE(read10(fd.get(), 2048, 0).good());   // nothing to transfer, at the end

    SgResult cap = sg_command(fd.get(), {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, Xfer::In, {}, 32);
    ASSERT_TRUE(cap.good());
    uint64_t last_lba = 0;
    for (int i = 0; i < 8; ++i) last_lba = (last_lba << 8) | cap.data[i];
    EXPECT_EQ(last_lba, 2047u);
    EXPECT_EQ(cap.data[10] << 8 | cap.data[11], 512);
}

TEST(Smart, ReadDataMatchesWhatTheSimulatorHolds) {
    SimDisk disk;
    disk.set("temperature=41 power_on_hours=1234");
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(write10(fd.get(), 0, pattern(8 * 512, 1)).good());
    ASSERT_TRUE(read10(fd.get(), 0, 3).good());
    ASSERT_TRUE(sg_command(fd.get(), dma_ext(true, 8, 2).cdb(), Xfer::In, {}, 1024).good());
    ASSERT_TRUE(write_prompt(fd.get(), pattern(512, 2)).good());   // not data-area traffic

    SgResult r = smart_read_data(fd.get());
    ASSERT_TRUE(r.good());
    unsigned sum = 0;
    for (uint8_t b : r.data) sum += b;
    EXPECT_EQ(sum % 256, 0u);
    EXPECT_EQ(r.data[0] | r.data[1] << 8, 0x0010);

    std::map<unsigned, uint64_t> page = parse_smart_page(r.data);
    std::map<unsigned, uint64_t> held = parse_smart_tool(disk.tool_output("smart " + shell_quote(disk.dir())));
    EXPECT_EQ(page, held);
    EXPECT_EQ(page.at(0xF1), 8u);
    EXPECT_EQ(page.at(0xF2), 5u);
    EXPECT_EQ(page.at(0xC2), 41u);
    EXPECT_EQ(page.at(0x09), 1234u);
    EXPECT_EQ(page.at(0x0C), 1u);
    for (unsigned id : {0x01u, 0x05u}) EXPECT_EQ(page.count(id), 1u) << id;
}

TEST(ImageBacking, WorksWithoutLoopDevicesOrNodes) {
    SimDiskOptions o;
    o.backing = "image";
    o.reenum_ms = 0;
    SimDisk disk(o);
    const std::string dev = disk.dev();
    auto s = disk.show();
    EXPECT_EQ(s["backing_mode"], "image");
    EXPECT_EQ(s["backing"], disk.dir() + "/public.img");

    // No node is made; the path still opens and answers.
    struct stat st;
    ASSERT_EQ(::stat(dev.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), 32768u * 512);
    Fd fd(dev, O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    ASSERT_TRUE(identify(fd.get()).good());
    const std::vector<uint8_t> data = pattern(512, 7);
    ASSERT_TRUE(write10(fd.get(), 10, data).good());
    EXPECT_EQ(read10(fd.get(), 10, 1).data, data);
    ASSERT_TRUE(set_password(fd.get(), "img").good());
    ASSERT_TRUE(verify_password(fd.get(), "img").good());
    ASSERT_TRUE(vendor_reset(fd.get()).good());

    Fd back(dev, O_RDWR);
    ASSERT_TRUE(back.ok()) << back.open_errno();
    EXPECT_EQ(disk.show()["backing"], disk.dir() + "/private.img");
    uint64_t bytes = 0;
    ASSERT_EQ(::ioctl(back.get(), BLKGETSIZE64, &bytes), 0);
    EXPECT_EQ(bytes, std::stoull(disk.show()["private_sectors"]) * 512);
}
