// The disk as the standard tools and a SAT host see it: the IDENTIFY DEVICE
// page field by field, the same page through sg_raw, the serial through
// sg_sat_identify and sg_inq, the capacity through sg_readcap.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <sstream>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

uint16_t word(const std::vector<uint8_t> &p, size_t w) {
    return static_cast<uint16_t>(p[2 * w] | (p[2 * w + 1] << 8));
}

uint64_t words64(const std::vector<uint8_t> &p, size_t w) {
    uint64_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 16) | word(p, w + static_cast<size_t>(i));
    return v;
}

SimDiskOptions with_serial_and_tries(const std::string &serial, int tries) {
    SimDiskOptions o;
    o.serial = serial;
    o.tries = tries;
    o.reenum_ms = 0;
    return o;
}

// The 512 data bytes of an sg_raw hex dump ("  00  ab cd ...  ascii").
std::vector<uint8_t> parse_sg_raw_dump(const std::string &out) {
    std::vector<uint8_t> bytes;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string offset;
        if (!(ls >> offset) || offset.find_first_not_of("0123456789abcdef") != std::string::npos)
            continue;
        if (std::stoul(offset, nullptr, 16) != bytes.size()) continue;
        std::string tok;
        for (int i = 0; i < 16 && ls >> tok; ++i) {
            if (tok.size() != 2) break;
            bytes.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
        }
    }
    return bytes;
}

// Words 10-19 of sg_sat_identify's word dump ("  08   0000 4142 ...").
std::string serial_from_sat_identify(const std::string &out) {
    std::map<unsigned, uint16_t> words;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string offset;
        if (!(ls >> offset) || offset.find_first_not_of("0123456789abcdef") != std::string::npos)
            continue;
        unsigned base = static_cast<unsigned>(std::stoul(offset, nullptr, 16));
        std::string tok;
        for (unsigned i = 0; i < 8 && ls >> tok && tok.size() == 4; ++i)
            words[base + i] = static_cast<uint16_t>(std::stoul(tok, nullptr, 16));
    }
    std::string s;
    for (unsigned w = 10; w < 20; ++w) {
        s.push_back(static_cast<char>(words[w] >> 8));
        s.push_back(static_cast<char>(words[w] & 0xFF));
    }
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

}  // namespace

TEST(IdentifyPage, FieldsOfANewDisk) {
    SimDisk disk(with_serial_and_tries("ZVID0042", 7));
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    SgResult r = identify(fd.get());
    ASSERT_TRUE(r.good()) << "status " << int(r.status);
    const std::vector<uint8_t> &p = r.data;
    ASSERT_EQ(p.size(), 512u);
    EXPECT_EQ(r.resid, 0);

    // Serial: 20 characters, space padded, bytes of each word swapped.
    EXPECT_EQ(std::string(p.begin() + 20, p.begin() + 40), "VZDI0024            ");
    EXPECT_EQ(ata_string(p, 20, 20), "ZVID0042");
    EXPECT_EQ(ata_string(p, 46, 8), "1.00");
    EXPECT_EQ(ata_string(p, 54, 40), "ZV Secure Disk");
    EXPECT_TRUE(word(p, 49) & (1u << 9));

    const uint64_t public_sectors = std::stoull(disk.show()["public_sectors"]);
    EXPECT_EQ(public_sectors, 32768u);   // 16 MiB, the default
    EXPECT_EQ(word(p, 60) | (uint32_t{word(p, 61)} << 16), public_sectors);
    EXPECT_EQ(words64(p, 100), public_sectors);
    EXPECT_EQ(word(p, 83) & 0xC400, 0x4400);
    EXPECT_TRUE(word(p, 86) & (1u << 10));
    EXPECT_EQ(word(p, 106), 0x4000);
    EXPECT_EQ(p[262], 0x44);
    EXPECT_EQ(p[263], 0x53);
    EXPECT_EQ(p[442], 7);
    EXPECT_EQ(p[443], 0);
    EXPECT_EQ(p[510], 0xA5);
    EXPECT_EQ(std::accumulate(p.begin(), p.end(), 0u) % 256, 0u);
}

TEST(IdentifyPage, FollowsPasswordTriesAndPresentedArea) {
    SimDisk disk(with_serial_and_tries("ZVID0043", 4));
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(set_password(fd.get(), "pw-1").good());
        EXPECT_FALSE(verify_password(fd.get(), "wrong").good());
        SgResult r = identify(fd.get());
        ASSERT_TRUE(r.good());
        EXPECT_EQ(r.data[442], 3);
        EXPECT_EQ(r.data[443], 1);
        EXPECT_EQ(words64(r.data, 100), 32768u);   // still the public area
        EXPECT_EQ(std::accumulate(r.data.begin(), r.data.end(), 0u) % 256, 0u);
        ASSERT_TRUE(verify_password(fd.get(), "pw-1").good());
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    SgResult r = identify(fd.get());
    ASSERT_TRUE(r.good());
    const uint64_t private_sectors = std::stoull(disk.show()["private_sectors"]);
    EXPECT_GT(private_sectors, 0x80000u);
    EXPECT_EQ(words64(r.data, 100), private_sectors);
    EXPECT_EQ(word(r.data, 60) | (uint32_t{word(r.data, 61)} << 16), private_sectors);
    EXPECT_EQ(r.data[442], 4);   // a correct verification restores the tries
    EXPECT_EQ(std::accumulate(r.data.begin(), r.data.end(), 0u) % 256, 0u);
}

TEST(IdentifyPage, Lba28WordsStopAt0FFFFFFF) {
    SimDiskOptions o = with_serial_and_tries("ZVBIG", 0);
    o.private_size = "130G";   // sparse: more sectors than 28 bits can count
    SimDisk disk(o);
    disk.set("password=big");
    {
        Fd fd(disk.dev(), O_RDWR);
        ASSERT_TRUE(verify_password(fd.get(), "big").good());
        ASSERT_TRUE(vendor_reset(fd.get()).good());
    }
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok()) << fd.open_errno();
    SgResult r = identify(fd.get());
    ASSERT_TRUE(r.good());
    EXPECT_EQ(words64(r.data, 100), 130ull << 21);
    EXPECT_EQ(word(r.data, 60) | (uint32_t{word(r.data, 61)} << 16), 0x0FFFFFFFu);
}

// The same page whichever pass-through form carries the command.
struct PassThroughForm {
    const char *name;
    bool twelve;
    bool extend;
    bool ck_cond;
};

class IdentifyForms : public ::testing::TestWithParam<PassThroughForm> {};

TEST_P(IdentifyForms, SamePage) {
    SimDisk disk(with_serial_and_tries("ZVFORM1", 0));
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok());
    SgResult reference = identify(fd.get());
    ASSERT_TRUE(reference.good());

    AtaPt16 f = identify_fields();
    f.extend = GetParam().extend;
    f.ck_cond = GetParam().ck_cond;
    SgResult r = sg_command(fd.get(), GetParam().twelve ? ata_pt12(f) : f.cdb(), Xfer::In, {}, 512);
    ASSERT_EQ(r.ret, 0);
    EXPECT_EQ(r.data, reference.data);
    if (GetParam().ck_cond) {
        // CK_COND asks for the registers back even on success.
        EXPECT_EQ(r.status, 0x02);
        EXPECT_EQ(r.sense_key(), 0x01);
        EXPECT_EQ(r.asc(), 0x00);
        EXPECT_EQ(r.ascq(), 0x1D);
        std::vector<uint8_t> d = r.ata_descriptor();
        ASSERT_EQ(d.size(), 14u);
        EXPECT_EQ(d[13], 0x50);
        EXPECT_EQ(d[3], 0x00);
        EXPECT_EQ(d[2] & 1, GetParam().extend ? 1 : 0);
    } else {
        EXPECT_EQ(r.status, 0x00);
        EXPECT_TRUE(r.sense.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, IdentifyForms,
                         ::testing::Values(PassThroughForm{"pt16", false, false, false},
                                           PassThroughForm{"pt16_extend", false, true, false},
                                           PassThroughForm{"pt16_ck_cond", false, false, true},
                                           PassThroughForm{"pt12", true, false, false},
                                           PassThroughForm{"pt12_ck_cond", true, false, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(StandardTools, SgRawReturnsTheIdentifyPage) {
    SimDisk disk(with_serial_and_tries("ZVRAW77", 0));
    std::vector<uint8_t> reference;
    {
        Fd fd(disk.dev(), O_RDWR);
        reference = identify(fd.get()).data;
    }
    int status = -1;
    std::string out = shell("sg_raw -r 512 " + disk.dev() +
                                " 85 08 0e 00 00 00 01 00 00 00 00 00 00 40 ec 00 2>&1",
                            &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(parse_sg_raw_dump(out), reference) << out;
}

TEST(StandardTools, SgSatIdentifyShowsTheSerial) {
    SimDisk disk(with_serial_and_tries("ZV12345678ABCDEFGHIJ", 0));   // all 20 characters
    for (const char *len : {"16", "12"}) {
        int status = -1;
        std::string out = shell(std::string("sg_sat_identify --len=") + len + " " + disk.dev() + " 2>&1", &status);
        ASSERT_EQ(status, 0) << out;
        EXPECT_EQ(serial_from_sat_identify(out), "ZV12345678ABCDEFGHIJ") << out;
    }
}

TEST(StandardTools, SgInqSgReadcapSgTursSeeAUsbDisk) {
    SimDisk disk(with_serial_and_tries("ZVINQ9", 0));
    int status = -1;
    std::string inq = shell("sg_inq " + disk.dev() + " 2>&1", &status);
    ASSERT_EQ(status, 0) << inq;
    EXPECT_NE(inq.find("RMB=1"), std::string::npos) << inq;
    EXPECT_NE(inq.find("Peripheral device type: disk"), std::string::npos) << inq;
    EXPECT_NE(inq.find("Vendor identification: ZV"), std::string::npos) << inq;
    EXPECT_NE(inq.find("Product identification: Secure Disk"), std::string::npos) << inq;
    EXPECT_NE(inq.find("Product revision level: 1.00"), std::string::npos) << inq;
    EXPECT_NE(inq.find("Unit serial number: ZVINQ9"), std::string::npos) << inq;

    std::string cap = shell("sg_readcap " + disk.dev() + " 2>&1", &status);
    ASSERT_EQ(status, 0) << cap;
    EXPECT_NE(cap.find("Last LBA=32767"), std::string::npos) << cap;
    EXPECT_NE(cap.find("Logical block length=512"), std::string::npos) << cap;
    cap = shell("sg_readcap --long " + disk.dev() + " 2>&1", &status);
    ASSERT_EQ(status, 0) << cap;
    EXPECT_NE(cap.find("Last LBA=32767"), std::string::npos) << cap;

    shell("sg_turs " + disk.dev() + " 2>&1", &status);
    EXPECT_EQ(status, 0);

    // What they sent, in order, is what the disk recorded.
    std::vector<std::string> cmds = disk.commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(record_field(cmds.front(), "cdb").substr(0, 2), "12");
    EXPECT_EQ(record_field(cmds.back(), "cdb"), "000000000000");
    EXPECT_EQ(record_field(cmds.back(), "result"), "GOOD");
}
