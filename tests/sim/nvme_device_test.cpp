// The simulated NVMe disk through the real open/ioctl/close with the Linux
// NVMe pass-through requests, as nvme-cli or any program would send them:
// the driver's own refusals, the controller's answers and statuses, the
// command record, and the tool's handling of the NVMe kind. Also the bad
// sectors both kinds of disk can be given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "sg_helpers.h"
#include "sim_disk.h"

using namespace simtest;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSignature = 0x68343750; // cdw14 of the vendor commands, "P74h"

SimDiskOptions nvme(int nsid = 0) {
    SimDiskOptions o;
    o.kind = "nvme";
    o.nsid = nsid;
    o.reenum_ms = 0;
    return o;
}

uint16_t le16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t le32(const Bytes &b, size_t at) { return le16(b, at) | static_cast<uint32_t>(le16(b, at + 2)) << 16; }
uint64_t le64(const Bytes &b, size_t at) { return le32(b, at) | static_cast<uint64_t>(le32(b, at + 4)) << 32; }

struct Admin {
    int ret = -1;
    int err = 0;
    uint32_t result = 0xFFFFFFFF;
};

Admin admin(int fd, uint8_t opcode, uint32_t nsid, uint32_t cdw10, Bytes *data, uint32_t cdw14 = 0,
            uint32_t cdw11 = 0, uint32_t flags = 0) {
    nvme_passthru_cmd cmd;
    std::memset(&cmd, 0, sizeof cmd);
    cmd.opcode = opcode;
    cmd.flags = static_cast<uint8_t>(flags);
    cmd.nsid = nsid;
    cmd.cdw10 = cdw10;
    cmd.cdw11 = cdw11;
    cmd.cdw14 = cdw14;
    if (data && !data->empty()) {
        cmd.addr = reinterpret_cast<uintptr_t>(data->data());
        cmd.data_len = static_cast<uint32_t>(data->size());
    }
    cmd.result = 0xFFFFFFFF;
    Admin a;
    errno = 0;
    a.ret = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
    a.err = errno;
    a.result = cmd.result;
    return a;
}

int submit(int fd, uint8_t opcode, uint64_t slba, uint16_t nblocks, Bytes &data, uint8_t flags = 0) {
    nvme_user_io io;
    std::memset(&io, 0, sizeof io);
    io.opcode = opcode;
    io.flags = flags;
    io.slba = slba;
    io.nblocks = nblocks;
    io.addr = reinterpret_cast<uintptr_t>(data.data());
    return ::ioctl(fd, NVME_IOCTL_SUBMIT_IO, &io);
}

Bytes identify(int fd, uint32_t cns, uint32_t nsid, int *ret = nullptr) {
    Bytes page(4096, 0xEE);
    Admin a = admin(fd, 0x06, nsid, cns, &page);
    if (ret) *ret = a.ret;
    return page;
}

}  // namespace

TEST(NvmeDevice, IdentifyControllerAndNamespace) {
    SimDisk disk(nvme(3));
    Fd fd(disk.dev(), O_RDWR);
    ASSERT_TRUE(fd.ok());
    int ret = -1;
    Bytes ctrl = identify(fd.get(), 1, 0, &ret);
    ASSERT_EQ(ret, 0);
    std::string serial = disk.show()["serial"];
    EXPECT_EQ(std::string(ctrl.begin() + 4, ctrl.begin() + 24), serial + std::string(20 - serial.size(), ' '));
    EXPECT_EQ(std::string(ctrl.begin() + 24, ctrl.begin() + 36), "ZV NVMe Disk");
    EXPECT_EQ(ctrl[261], 0x01) << "SMART per namespace when new";
    EXPECT_EQ(le32(ctrl, 516), 3u) << "namespaces up to its id";
    uint64_t sectors = std::stoull(disk.show()["presented_sectors"]);
    EXPECT_EQ(le32(ctrl, 120), sectors) << "the vendor capacity field";

    disk.set("lpa=0");
    EXPECT_EQ(identify(fd.get(), 1, 0)[261], 0x00);

    Bytes ns = identify(fd.get(), 0, 3, &ret);
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(le64(ns, 0), sectors);
    EXPECT_EQ(ns[128 + 2], 9) << "512-byte blocks";

    Bytes list = identify(fd.get(), 2, 0, &ret);
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(le32(list, 0), 3u);
    EXPECT_EQ(le32(list, 4), 0u);

    struct Case {
        uint32_t cns, nsid;
        int status;
    } refused[] = {{0, 1, 0x400B}, {0, 0xFFFFFFFF, 0x400B}, {2, 0xFFFFFFFF, 0x400B}, {0x10, 0, 0x4002}};
    for (const Case &c : refused) {
        Bytes page = identify(fd.get(), c.cns, c.nsid, &ret);
        EXPECT_EQ(ret, c.status) << "cns " << c.cns << " nsid " << c.nsid;
        EXPECT_EQ(page, Bytes(4096, 0xEE)) << "nothing handed over";
    }
    EXPECT_EQ(::ioctl(fd.get(), NVME_IOCTL_ID), 3);
}

TEST(NvmeDevice, TheDriversOwnRefusalsNeverReachTheController) {
    SimDisk disk(nvme());
    Fd fd(disk.dev(), O_RDWR);
    Bytes page(4096);
    Admin flagged = admin(fd.get(), 0x06, 0, 1, &page, 0, 0, 1);
    EXPECT_EQ(flagged.ret, -1);
    EXPECT_EQ(flagged.err, EINVAL);
    Bytes huge((1u << 20) + 4096);
    Admin big = admin(fd.get(), 0x02, 0xFFFFFFFF, 0x00000002, &huge);
    EXPECT_EQ(big.ret, -1);
    EXPECT_EQ(big.err, EINVAL);

    Bytes data(512);
    errno = 0;
    EXPECT_EQ(submit(fd.get(), 0x02, 0, 0, data, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(submit(fd.get(), 0x09, 0, 0, data), -1) << "only read, write and compare";
    EXPECT_EQ(errno, EINVAL);
    errno = 0;
    EXPECT_EQ(::ioctl(fd.get(), NVME_IOCTL_ADMIN_CMD, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);

    // An NVMe namespace is no SCSI device.
    sg_io_hdr hdr;
    std::memset(&hdr, 0, sizeof hdr);
    errno = 0;
    EXPECT_EQ(::ioctl(fd.get(), SG_IO, &hdr), -1);
    EXPECT_EQ(errno, ENOTTY);
    int version = 0;
    errno = 0;
    EXPECT_EQ(::ioctl(fd.get(), SG_GET_VERSION_NUM, &version), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_TRUE(disk.commands().empty());

    // And the secure disk answers no NVMe request.
    SimDisk secure;
    Fd sfd(secure.dev(), O_RDWR);
    Admin on_scsi = admin(sfd.get(), 0x06, 0, 1, &page);
    EXPECT_EQ(on_scsi.ret, -1);
    EXPECT_EQ(on_scsi.err, ENOTTY);
    EXPECT_TRUE(secure.commands().empty());
}

TEST(NvmeDevice, IoIsCoherentWithTheBlockDeviceAndRecorded) {
    SimDisk disk(nvme());
    Fd fd(disk.dev(), O_RDWR);
    Bytes data(4 * 512);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 13 + 1);
    ASSERT_EQ(submit(fd.get(), 0x01, 50, 3, data), 0);
    Bytes plain(data.size());
    ASSERT_EQ(::pread(fd.get(), plain.data(), plain.size(), 50 * 512), static_cast<ssize_t>(plain.size()));
    EXPECT_EQ(plain, data);

    Bytes back(2 * 512);
    ASSERT_EQ(submit(fd.get(), 0x02, 51, 1, back), 0);
    EXPECT_EQ(back, Bytes(data.begin() + 512, data.begin() + 1536));

    std::vector<std::string> lines = disk.commands();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "seq=1 nvme=io opcode=01 nsid=00000001 slba=0000000000000032 nblocks=0003 len=2048 "
                        "timeout_ms=0 result=GOOD");
    EXPECT_EQ(record_field(lines[1], "opcode"), "02");
    EXPECT_EQ(record_field(lines[1], "nblocks"), "0001");

    uint64_t sectors = std::stoull(disk.show()["presented_sectors"]);
    Bytes one(512);
    EXPECT_EQ(submit(fd.get(), 0x02, sectors - 1, 1, one), 0x4080) << "one block past the end";
    EXPECT_EQ(submit(fd.get(), 0x05, 0, 0, one), 0x4001) << "no compare command";
    EXPECT_EQ(record_field(disk.commands().back(), "status"), "4001");
}

TEST(NvmeDevice, HealthLogCountsWhatTheHostDid) {
    SimDisk disk(nvme());
    disk.set("temperature=44 power_on_hours=9");
    Fd fd(disk.dev(), O_RDWR);
    Bytes data(8 * 512);
    for (int i = 0; i < 3; i++) ASSERT_EQ(submit(fd.get(), 0x02, 0, 7, data), 0);
    ASSERT_EQ(submit(fd.get(), 0x01, 0, 7, data), 0);

    Bytes log(512);
    ASSERT_EQ(admin(fd.get(), 0x02, 1, 0x007F0002, &log).ret, 0);
    EXPECT_EQ(le16(log, 1), 44 + 273);
    EXPECT_EQ(log[3], 100) << "available spare";
    EXPECT_EQ(le64(log, 32), 1u) << "24 blocks read: one unit, rounded up";
    EXPECT_EQ(le64(log, 64), 3u);
    EXPECT_EQ(le64(log, 80), 1u);
    EXPECT_EQ(le64(log, 128), 9u);

    std::istringstream smart(disk.tool_output("smart " + shell_quote(disk.dir())));
    std::string text((std::istreambuf_iterator<char>(smart)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("composite_temperature=317\n"), std::string::npos) << text;
    EXPECT_NE(text.find("host_read_commands=3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("host_write_commands=1\n"), std::string::npos) << text;

    // Per namespace only while the controller says so.
    disk.set("lpa=0");
    EXPECT_EQ(admin(fd.get(), 0x02, 1, 0x007F0002, &log).ret, 0x4002);
    EXPECT_EQ(admin(fd.get(), 0x02, 0xFFFFFFFF, 0x007F0002, &log).ret, 0);
    EXPECT_EQ(admin(fd.get(), 0x02, 2, 0x007F0002, &log).ret, 0x4002);
    disk.set("lpa=1");
    EXPECT_EQ(admin(fd.get(), 0x02, 2, 0x007F0002, &log).ret, 0x400B) << "no namespace 2";

    Bytes slots(512);
    ASSERT_EQ(admin(fd.get(), 0x02, 0xFFFFFFFF, 0x007F0003, &slots).ret, 0);
    EXPECT_EQ(slots[0], 0x01);
    EXPECT_EQ(std::string(slots.begin() + 8, slots.begin() + 12), "1.00");
    EXPECT_EQ(admin(fd.get(), 0x02, 0xFFFFFFFF, 0x007F00C0, &log).ret, 0x4109) << "no such log";
}

TEST(NvmeDevice, VendorCommandsNeedTheSignature) {
    SimDisk disk(nvme());
    Fd fd(disk.dev(), O_RDWR);
    Bytes args(1024);
    for (size_t i = 0; i < args.size(); i++) args[i] = static_cast<uint8_t>(255 - i % 251);
    EXPECT_EQ(admin(fd.get(), 0xF9, 1, 256, &args).ret, 0x4002) << "without the signature";
    EXPECT_EQ(admin(fd.get(), 0xF9, 1, 255, &args, kSignature).ret, 0x4002) << "length not cdw10 dwords";
    Admin w = admin(fd.get(), 0xF9, 1, 256, &args, kSignature);
    EXPECT_EQ(w.ret, 0);
    EXPECT_EQ(w.result, 0u) << "completion dword 0 reaches the caller";
    EXPECT_EQ(admin(fd.get(), 0xFC, 1, 0, nullptr, kSignature).ret, 0);
    Bytes back(512);
    ASSERT_EQ(admin(fd.get(), 0xFA, 1, 128, &back, kSignature).ret, 0);
    EXPECT_EQ(back, Bytes(args.begin(), args.begin() + 512));

    Bytes info(2048);
    ASSERT_EQ(admin(fd.get(), 0xC2, 1, 511, &info, kSignature).ret, 0);
    EXPECT_EQ(le32(info, 0), kSignature);
    EXPECT_EQ(info[2025], 0x01);
    EXPECT_EQ(admin(fd.get(), 0xC2, 1, 512, &info, kSignature).ret, 0x4002);
    EXPECT_EQ(admin(fd.get(), 0xC5, 1, 0, nullptr, kSignature).ret, 0x4001);
    EXPECT_EQ(record_field(disk.commands().back(), "cdw14"), "68343750");
}

TEST(NvmeDevice, FirmwareImageDownloadStoresTheSegments) {
    SimDisk disk(nvme());
    Fd fd(disk.dev(), O_RDWR);
    Bytes seg(4096, 0x5A);
    EXPECT_EQ(admin(fd.get(), 0x11, 0, 1023, &seg, 0, 1024).ret, 0);
    EXPECT_EQ(admin(fd.get(), 0x11, 0, 1022, &seg, 0, 0).ret, 0x4002) << "NUMD must match the data";
    EXPECT_EQ(admin(fd.get(), 0x11, 0, 1023, &seg, 0, (1u << 18) - 1).ret, 0x4002) << "past 1 MiB";
    struct stat st;
    ASSERT_EQ(::stat((disk.dir() + "/firmware.img").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4096 + 4096);
}

TEST(NvmeDevice, PartitionsAreNamedWithAP) {
    SimDisk disk(nvme());
    std::string dev = disk.dev();
    int status = -1;
    std::string out = shell("parted -s " + dev + " mklabel msdos mkpart primary 1MiB 100% 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_EQ(disk.tool("replug " + shell_quote(disk.dir())), 0);
    struct stat st;
    EXPECT_EQ(::stat((dev + "p1").c_str(), &st), 0) << dev << "p1";
    EXPECT_NE(::stat((dev + "1").c_str(), &st), 0);
    Fd part(dev + "p1", O_RDONLY);
    EXPECT_TRUE(part.ok()) << "a partition opens as the block device it is";
    out = disk.tool_output("lsblk " + shell_quote(disk.dir()));
    EXPECT_NE(out.find(dev.substr(5) + "p1"), std::string::npos) << out;
}

TEST(NvmeDevice, TheToolKeepsTheKindsApart) {
    struct Case {
        const char *args;
        int status;
    } cases[] = {
        {"--kind nvme --dev /dev/sdqzzz", 2},
        {"--kind nvme --dev /dev/nvme0", 2},
        {"--kind nvme --dev /dev/nvme1n1p1", 2},
        {"--kind secure --nsid 2", 2},
        {"--nsid 2", 2},
        {"--kind nvme --nsid 0", 2},
        {"--kind ata", 2},
    };
    const std::string dir = "/tmp/zv-nvme-refused-" + std::to_string(::getpid());
    for (const Case &c : cases) {
        int status = -1;
        std::string out = run_cli("create " + dir + " " + c.args + " 2>&1", &status);
        EXPECT_EQ(status, c.status) << c.args << ": " << out;
        struct stat st;
        EXPECT_NE(::stat(dir.c_str(), &st), 0) << c.args << ": refused before anything is made";
    }
    ::rmdir(dir.c_str());

    SimDisk n(nvme());
    EXPECT_EQ(n.show()["kind"], "nvme");
    EXPECT_THROW(n.set("password=abc"), std::runtime_error);
    SimDisk s;
    EXPECT_EQ(s.show()["kind"], "secure");
    EXPECT_THROW(s.set("lpa=0"), std::runtime_error);
}

TEST(BadSectors, FailAsADamagedMediumOnTheSecureDisk) {
    SimDisk disk;
    disk.set("bad_sectors=7,300");
    EXPECT_EQ(disk.show()["bad_sectors"], "7,300");
    Fd fd(disk.dev(), O_RDWR);

    SgResult r = sg_command(fd.get(), {0x28, 0, 0, 0, 0, 6, 0, 0, 2, 0}, Xfer::In, {}, 1024);
    EXPECT_EQ(r.status, 0x02);
    EXPECT_EQ(r.sense_key(), 0x03);
    EXPECT_EQ(r.asc(), 0x11) << "unrecovered read error";
    r = sg_command(fd.get(), {0x2A, 0, 0, 0, 0x01, 0x2C, 0, 0, 1, 0}, Xfer::Out, Bytes(512));
    EXPECT_EQ(r.sense_key(), 0x03);
    EXPECT_EQ(r.asc(), 0x0C) << "write error";
    r = sg_command(fd.get(), {0x28, 0, 0, 0, 0, 8, 0, 0, 1, 0}, Xfer::In, {}, 512);
    EXPECT_TRUE(r.good()) << "its neighbours are fine";

    // READ DMA over a bad sector: the controller aborts with UNC.
    r = sg_command(fd.get(), {0x85, 10 << 1, 0x0E, 0, 0, 0, 1, 0, 7, 0, 0, 0, 0, 0x40, 0xC8, 0}, Xfer::In, {},
                   512);
    std::vector<uint8_t> ata = r.ata_descriptor();
    ASSERT_EQ(ata.size(), 14u);
    EXPECT_EQ(ata[13], 0x51);
    EXPECT_EQ(ata[3], 0x40);

    disk.set("bad_sectors=");
    r = sg_command(fd.get(), {0x28, 0, 0, 0, 0, 6, 0, 0, 2, 0}, Xfer::In, {}, 1024);
    EXPECT_TRUE(r.good());
}
