// What the bridge refuses and how it says so: malformed pass-through blocks
// (ILLEGAL REQUEST), commands the controller aborts (ABORTED COMMAND with the
// ATA status return descriptor), unknown opcodes; the SG_IO header rules of
// the kernel; the small SCSI generic ioctls; CK_COND on SMART RETURN STATUS.
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

struct Refusal {
    const char *name;
    std::vector<uint8_t> cdb;
    Xfer xfer;
    uint32_t len;     // bytes offered or sent
    uint8_t key, asc, ascq;
    bool ata;         // an ATA status return descriptor 0x51/0x04 comes along
};

AtaPt16 with(AtaPt16 f, void (*change)(AtaPt16 &)) {
    change(f);
    return f;
}

std::vector<uint8_t> reset_cdb_with(size_t byte, uint8_t value) {
    std::vector<uint8_t> c = {0xEE, 0xB0, 0, 0, 0, 0, 0x62, 0, 0x04, 0, 0, 0, 0xAA, 0x99, 0, 0};
    c[byte] = value;
    return c;
}

AtaPt16 smart_fields(uint8_t sub, bool data_in) {
    AtaPt16 f;
    f.protocol = data_in ? 4 : 3;
    f.t_length = data_in ? 2 : 0;
    f.count = data_in ? 1 : 0;
    f.feature = sub;
    f.lba = 0xC24F00;   // LBA mid 0x4F, high 0xC2
    f.command = 0xB0;
    return f;
}

constexpr uint8_t kIllegal = 0x05, kAborted = 0x0B;
constexpr int kDxferUnknown = -5;   // SG_DXFER_UNKNOWN of the kernel header

const Refusal kRefusals[] = {
    // The pass-through block contradicts itself or the ATA command.
    {"identify_wrong_t_dir", with(identify_fields(), [](AtaPt16 &f) { f.t_dir_in = false; }).cdb(),
     Xfer::Out, 512, kIllegal, 0x24, 0x00, false},
    {"identify_wrong_length", with(identify_fields(), [](AtaPt16 &f) { f.count = 2; }).cdb(),
     Xfer::In, 1024, kIllegal, 0x24, 0x00, false},
    {"identify_length_in_bytes", with(identify_fields(), [](AtaPt16 &f) { f.byte_block = false; }).cdb(),
     Xfer::In, 512, kIllegal, 0x24, 0x00, false},
    {"identify_wrong_protocol", with(identify_fields(), [](AtaPt16 &f) { f.protocol = 5; f.t_dir_in = false; }).cdb(),
     Xfer::Out, 512, kIllegal, 0x24, 0x00, false},
    {"identify_as_non_data", with(identify_fields(), [](AtaPt16 &f) { f.protocol = 3; f.t_length = 0; }).cdb(),
     Xfer::None, 0, kIllegal, 0x24, 0x00, false},
    {"data_protocol_without_length", with(identify_fields(), [](AtaPt16 &f) { f.t_length = 0; }).cdb(),
     Xfer::In, 512, kIllegal, 0x24, 0x00, false},
    {"length_in_tpsiu", with(identify_fields(), [](AtaPt16 &f) { f.t_length = 3; }).cdb(),
     Xfer::In, 512, kIllegal, 0x24, 0x00, false},
    {"reserved_protocol", with(identify_fields(), [](AtaPt16 &f) { f.protocol = 7; }).cdb(),
     Xfer::In, 512, kIllegal, 0x24, 0x00, false},
    {"pio_in_with_t_dir_out", with(smart_fields(0xD0, true), [](AtaPt16 &f) { f.t_dir_in = false; }).cdb(),
     Xfer::Out, 512, kIllegal, 0x24, 0x00, false},
    {"password_without_data", with(password_fields(0xFB), [](AtaPt16 &f) { f.t_length = 0; f.protocol = 3; }).cdb(),
     Xfer::None, 0, kIllegal, 0x24, 0x00, false},
    {"password_sent_short", password_fields(0xFA).cdb(), Xfer::Out, 256, kIllegal, 0x24, 0x00, false},
    {"host_reads_a_data_out_command", password_fields(0xFB).cdb(), Xfer::In, 512, kIllegal, 0x24, 0x00, false},
    // Unknown SCSI opcodes, and fields of known SCSI commands.
    {"unknown_opcode_report_luns", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, Xfer::In, 16, kIllegal, 0x20, 0x00, false},
    {"unknown_opcode_mode_sense", {0x1A, 0, 0x3F, 0, 0xFF, 0}, Xfer::In, 255, kIllegal, 0x20, 0x00, false},
    {"inquiry_unknown_vpd_page", {0x12, 0x01, 0x99, 0x00, 0xFF, 0x00}, Xfer::In, 255, kIllegal, 0x24, 0x00, false},
    {"inquiry_page_without_evpd", {0x12, 0x00, 0x80, 0x00, 0xFF, 0x00}, Xfer::In, 255, kIllegal, 0x24, 0x00, false},
    {"read_capacity16_other_action", {0x9E, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, Xfer::In, 32, kIllegal, 0x24, 0x00, false},
    {"read10_past_the_end", {0x28, 0, 0x00, 0x00, 0x7F, 0xFF, 0, 0x00, 0x02, 0}, Xfer::In, 1024, kIllegal, 0x21, 0x00, false},
    {"write16_far_past_the_end", {0x8A, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, Xfer::Out, 512, kIllegal, 0x21, 0x00, false},
    {"vendor_reset_wrong_byte", reset_cdb_with(13, 0x98), Xfer::None, 0, kIllegal, 0x24, 0x00, false},
    {"vendor_reset_extra_byte", reset_cdb_with(15, 0x01), Xfer::None, 0, kIllegal, 0x24, 0x00, false},
    // The controller aborts.
    {"unknown_ata_command", with(smart_fields(0, false), [](AtaPt16 &f) { f.command = 0xE7; }).cdb(),
     Xfer::None, 0, kAborted, 0x00, 0x00, true},
    {"set_password_bad_lba_low", with(password_fields(0xFA), [](AtaPt16 &f) { f.lba = 0x5A5654; }).cdb(),
     Xfer::Out, 512, kAborted, 0x00, 0x00, true},
    {"verify_password_bad_lba_high", with(password_fields(0xFB), [](AtaPt16 &f) { f.lba = 0x5B5653; }).cdb(),
     Xfer::Out, 512, kAborted, 0x00, 0x00, true},
    {"verify_password_bad_lba_mid", with(password_fields(0xFB), [](AtaPt16 &f) { f.lba = 0x5A5753; }).cdb(),
     Xfer::Out, 512, kAborted, 0x00, 0x00, true},
    {"verify_password_lba_bits_in_device", with(password_fields(0xFB), [](AtaPt16 &f) { f.device = 0x41; }).cdb(),
     Xfer::Out, 512, kAborted, 0x00, 0x00, true},
    {"set_password_feature_set", with(password_fields(0xFA), [](AtaPt16 &f) { f.feature = 1; }).cdb(),
     Xfer::Out, 512, kAborted, 0x00, 0x00, true},
    {"set_password_two_sectors", with(password_fields(0xFA), [](AtaPt16 &f) { f.count = 2; }).cdb(),
     Xfer::Out, 1024, kAborted, 0x00, 0x00, true},
    {"smart_without_signature", with(smart_fields(0xD0, true), [](AtaPt16 &f) { f.lba = 0; }).cdb(),
     Xfer::In, 512, kAborted, 0x00, 0x00, true},
    {"smart_unknown_subcommand", smart_fields(0xD5, false).cdb(), Xfer::None, 0, kAborted, 0x00, 0x00, true},
    {"vendor_lba_other_than_prompt", with(prompt_fields(true), [](AtaPt16 &f) { f.lba = 0x11; }).cdb(),
     Xfer::In, 512, kAborted, 0x00, 0x00, true},
    {"prompt_two_sectors", with(prompt_fields(true), [](AtaPt16 &f) { f.count = 2; }).cdb(),
     Xfer::In, 1024, kAborted, 0x00, 0x00, true},
    {"read_dma_past_the_end", with(prompt_fields(true), [](AtaPt16 &f) { f.feature = 0; f.lba = 32768; }).cdb(),
     Xfer::In, 512, kAborted, 0x00, 0x00, true},
};

class Refused : public ::testing::TestWithParam<Refusal> {};

}  // namespace

TEST_P(Refused, WithTheRightSenseAndNoEffect) {
    const Refusal &c = GetParam();
    SimDiskOptions o;
    o.tries = 4;
    SimDisk disk(o);
    disk.set("password=pw tries_left=3");
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok());
    const auto before = disk.show();
    const size_t records_before = disk.commands().size();

    SgResult r = sg_command(fd.get(), c.cdb, c.xfer, std::vector<uint8_t>(c.xfer == Xfer::Out ? c.len : 0, 0x41),
                            c.xfer == Xfer::In ? c.len : 0);
    ASSERT_EQ(r.ret, 0) << strerror(r.err);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.masked_status, 0x01);
    EXPECT_EQ(r.driver_status, 0x08);
    EXPECT_TRUE(r.info & SG_INFO_CHECK);
    EXPECT_EQ(r.sense_key(), c.key);
    EXPECT_EQ(r.asc(), c.asc);
    EXPECT_EQ(r.ascq(), c.ascq);
    std::vector<uint8_t> d = r.ata_descriptor();
    if (c.ata) {
        ASSERT_EQ(d.size(), 14u);
        EXPECT_EQ(d[13], 0x51);
        EXPECT_EQ(d[3], 0x04);
        EXPECT_EQ(r.sense[0], 0x72);
    } else {
        EXPECT_TRUE(d.empty());
        EXPECT_EQ(r.sense[0], 0x70);
    }
    if (c.xfer == Xfer::In) {
        EXPECT_EQ(r.resid, static_cast<int>(c.len));
    }

    // Nothing changed: no try spent, no password set, still on the bus.
    const auto after = disk.show();
    for (const char *key : {"tries_left", "password_set", "present", "area", "prompt", "generation"})
        EXPECT_EQ(after.at(key), before.at(key)) << key;
    std::vector<std::string> cmds = disk.commands();
    ASSERT_EQ(cmds.size(), records_before + 1);
    char sense[16];
    std::snprintf(sense, sizeof sense, "%02x/%02x/%02x", c.key, c.asc, c.ascq);
    EXPECT_EQ(record_field(cmds.back(), "result"), "CHECK");
    EXPECT_EQ(record_field(cmds.back(), "sense"), sense);
    EXPECT_EQ(record_field(cmds.back(), "ata"), c.ata ? "51/04" : "");
}

INSTANTIATE_TEST_SUITE_P(Table, Refused, ::testing::ValuesIn(kRefusals),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Smart, ReturnStatusWithCkCondReportsGood) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDWR);
    AtaPt16 f = smart_fields(0xDA, false);
    f.ck_cond = true;
    SgResult r = sg_command(fd.get(), f.cdb(), Xfer::None);
    ASSERT_EQ(r.ret, 0);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.sense_key(), 0x01);
    EXPECT_EQ(r.ascq(), 0x1D);
    std::vector<uint8_t> d = r.ata_descriptor();
    ASSERT_EQ(d.size(), 14u);
    EXPECT_EQ(d[9], 0x4F);    // LBA mid (7:0)
    EXPECT_EQ(d[11], 0xC2);   // LBA high (7:0)
    EXPECT_EQ(d[13], 0x50);

    // Disabled, SMART refuses everything but ENABLE OPERATIONS.
    ASSERT_TRUE(sg_command(fd.get(), smart_fields(0xD9, false).cdb(), Xfer::None).good());
    EXPECT_EQ(identify(fd.get()).data[170] & 1, 0);   // word 85 bit 0
    EXPECT_EQ(sg_command(fd.get(), f.cdb(), Xfer::None).sense_key(), 0x0B);
    EXPECT_EQ(sg_command(fd.get(), smart_fields(0xD0, true).cdb(), Xfer::In, {}, 512).sense_key(), 0x0B);
    ASSERT_TRUE(sg_command(fd.get(), smart_fields(0xD8, false).cdb(), Xfer::None).good());
    EXPECT_EQ(identify(fd.get()).data[170] & 1, 1);
    EXPECT_TRUE(sg_command(fd.get(), smart_fields(0xD0, true).cdb(), Xfer::In, {}, 512).good());
}

struct HeaderCase {
    const char *name;
    void (*change)(sg_io_hdr_t &);
    int err;
};

class SgIoHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(SgIoHeader, RefusedAsTheKernelRefusesIt) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDWR);
    std::vector<uint8_t> cdb = {0x12, 0, 0, 0, 36, 0};
    std::vector<uint8_t> buf(2u << 20);
    uint8_t sense[32];
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.cmd_len = 6;
    h.cmdp = cdb.data();
    h.dxfer_len = 36;
    h.dxferp = buf.data();
    h.mx_sb_len = sizeof sense;
    h.sbp = sense;
    GetParam().change(h);
    EXPECT_EQ(::ioctl(fd.get(), SG_IO, &h), -1);
    EXPECT_EQ(errno, GetParam().err);
    EXPECT_TRUE(disk.commands().empty());   // the disk never saw it
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SgIoHeader,
    ::testing::Values(HeaderCase{"interface_q", [](sg_io_hdr_t &h) { h.interface_id = 'Q'; }, EINVAL},
                      HeaderCase{"data_without_direction", [](sg_io_hdr_t &h) { h.dxfer_direction = SG_DXFER_NONE; }, EINVAL},
                      HeaderCase{"unknown_direction", [](sg_io_hdr_t &h) { h.dxfer_direction = kDxferUnknown; }, EINVAL},
                      HeaderCase{"cdb_too_short", [](sg_io_hdr_t &h) { h.cmd_len = 5; }, EMSGSIZE},
                      HeaderCase{"cdb_too_long", [](sg_io_hdr_t &h) { h.cmd_len = 33; }, EINVAL},
                      HeaderCase{"more_than_the_queue_takes", [](sg_io_hdr_t &h) { h.dxfer_len = (1u << 20) + 512; }, EIO}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SgIoHeader, OutputFieldsOfAGoodCommand) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDONLY);
    // INQUIRY with a buffer larger than the data: the rest is residue.
    SgResult r = sg_command(fd.get(), {0x12, 0, 0, 0, 96, 0}, Xfer::In, {}, 96);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.resid, 96 - 36);
    EXPECT_EQ(r.driver_status, 0);
    EXPECT_EQ(r.host_status, 0);
    EXPECT_EQ(r.info & SG_INFO_CHECK, 0u);
    EXPECT_TRUE(r.sense.empty());
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "ZV      ");
    EXPECT_EQ(std::string(r.data.begin() + 16, r.data.begin() + 32), "Secure Disk     ");
    EXPECT_EQ(r.data[1], 0x80);
    // Allocation length smaller than the data: cut, no residue.
    r = sg_command(fd.get(), {0x12, 0, 0, 0, 5, 0}, Xfer::In, {}, 5);
    ASSERT_TRUE(r.good());
    EXPECT_EQ(r.resid, 0);
    EXPECT_EQ(r.data[4], 31);
}

TEST(SgIoctls, AnsweredLikeAScsiDiskAndTheRestGoesToTheBlockDevice) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDWR);
    int v = 0;
    ASSERT_EQ(::ioctl(fd.get(), SG_GET_VERSION_NUM, &v), 0);
    EXPECT_GE(v, 30000);
    ASSERT_EQ(::ioctl(fd.get(), SG_EMULATED_HOST, &v), 0);
    EXPECT_EQ(v, 1);
    int ticks = 1234;
    ASSERT_EQ(::ioctl(fd.get(), SG_SET_TIMEOUT, &ticks), 0);
    EXPECT_EQ(::ioctl(fd.get(), SG_GET_TIMEOUT, 0), 1234);
    int size = 65536;
    ASSERT_EQ(::ioctl(fd.get(), SG_SET_RESERVED_SIZE, &size), 0);
    ASSERT_EQ(::ioctl(fd.get(), SG_GET_RESERVED_SIZE, &v), 0);
    EXPECT_EQ(v, 65536);
    size = -1;
    EXPECT_EQ(::ioctl(fd.get(), SG_SET_RESERVED_SIZE, &size), -1);
    EXPECT_EQ(errno, EINVAL);
    int idlun[2] = {-1, -1};
    EXPECT_EQ(::ioctl(fd.get(), SCSI_IOCTL_GET_IDLUN, idlun), 0);
    EXPECT_NE(idlun[0], -1);
    // Block-device ioctls reach the real device behind the node.
    uint64_t bytes = 0;
    ASSERT_EQ(::ioctl(fd.get(), BLKGETSIZE64, &bytes), 0);
    EXPECT_EQ(bytes, std::stoull(disk.show()["presented_sectors"]) * 512);
    int ssz = 0;
    ASSERT_EQ(::ioctl(fd.get(), BLKSSZGET, &ssz), 0);
    EXPECT_EQ(ssz, 512);
}

TEST(RequestSense, NothingIsPendingAfterAFailedCommand) {
    SimDisk disk;
    Fd fd(disk.dev(), O_RDWR);
    // A failing command delivers its sense data with it...
    SgResult failed = sg_command(fd.get(), {0x1A, 0, 0x3F, 0, 0xFF, 0}, Xfer::In, {}, 255);
    ASSERT_EQ(failed.sense_key(), 0x05);
    // ... so REQUEST SENSE afterwards reports NO SENSE, in either format.
    SgResult fixed = sg_command(fd.get(), {0x03, 0x00, 0, 0, 252, 0}, Xfer::In, {}, 252);
    ASSERT_TRUE(fixed.good());
    EXPECT_EQ(fixed.resid, 252 - 18);
    EXPECT_EQ(fixed.data[0], 0x70);
    EXPECT_EQ(fixed.data[2] & 0x0F, 0x00);
    EXPECT_EQ(fixed.data[7], 10);
    SgResult desc = sg_command(fd.get(), {0x03, 0x01, 0, 0, 252, 0}, Xfer::In, {}, 252);
    ASSERT_TRUE(desc.good());
    EXPECT_EQ(desc.data[0], 0x72);
    EXPECT_EQ(desc.data[1] & 0x0F, 0x00);
    EXPECT_EQ(desc.resid, 252 - 8);
}
