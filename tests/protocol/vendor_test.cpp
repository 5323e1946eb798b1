// SMART attributes, the vendor command protocols, the vendor log commands
// and trim, against the simulated secure disk and the simulated NVMe disk:
// the commands each disk saw, in order, and what the caller gets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <sstream>

#include "common.h"
#include "device_helpers.h"
#include "vendor.h"

namespace {

using ptltest::Bytes;
using ptltest::DiskHandle;
using ptltest::NvmeSeen;
using ptltest::cdbs_seen;
using ptltest::nvme_seen;
using ptltest::pattern;

// The sequence's LBAs lie beyond the default 16M public area.
simtest::SimDiskOptions secure_disk()
{
    simtest::SimDiskOptions o;
    o.public_size = "32M";
    return o;
}

simtest::SimDiskOptions nvme_disk()
{
    simtest::SimDiskOptions o = secure_disk();
    o.kind = "nvme";
    return o;
}

// The LBA and sector count of a 28-bit ATA PASS-THROUGH (16) block.
struct AtaAccess {
    uint8_t command;
    uint32_t lba;
    uint32_t count;
    bool operator==(const AtaAccess &o) const { return command == o.command && lba == o.lba && count == o.count; }
};

std::ostream &operator<<(std::ostream &out, const AtaAccess &a)
{
    return out << std::hex << "{cmd " << int(a.command) << " lba " << a.lba << " count " << a.count << "}";
}

std::vector<AtaAccess> ata_accesses(const simtest::SimDisk &disk)
{
    std::vector<AtaAccess> out;
    for (const Bytes &cdb : cdbs_seen(disk)) {
        if (cdb.size() == 16 && cdb[0] == 0x85)
            out.push_back({cdb[14], static_cast<uint32_t>(cdb[8] | cdb[10] << 8 | cdb[12] << 16), cdb[6]});
    }
    return out;
}

ZV_VENDOR_CMD sequence(SELECT_PROTOCOL_TYPE ptl, uint8_t rw, Bytes &args, Bytes &data)
{
    ZV_VENDOR_CMD cmd = {};
    cmd.subcommand = 0x5C;
    cmd.rw = rw;
    cmd.args = args.data();
    cmd.args_sectors = static_cast<uint32_t>(args.size() / 512);
    cmd.data = data.data();
    cmd.data_sectors = static_cast<uint32_t>(data.size() / 512);
    cmd.args_timeout = 4;
    cmd.data_timeout = 9;
    cmd.ptl = ptl;
    return cmd;
}

// ------------------------------------------------------------ parsing

// 512 bytes of ATA SMART data whose 30 entries carry ids 1..30 except where
// `empty` says 0.
Bytes ata_smart_data(std::initializer_list<int> empty)
{
    Bytes data(512, 0);
    for (int i = 0; i < 30; i++) {
        uint8_t *e = data.data() + 2 + 12 * i;
        bool blank = std::find(empty.begin(), empty.end(), i) != empty.end();
        e[0] = blank ? 0 : static_cast<uint8_t>(i + 1);
        for (int k = 1; k < 12; k++)
            e[k] = static_cast<uint8_t>(i * 16 + k);
    }
    for (size_t k = 362; k < data.size(); k++)
        data[k] = 0xAB; // beyond the attribute area: never an entry
    return data;
}

std::vector<SMART_D0_DATA_ITEM> entries(PSMART_D0_LIST list)
{
    std::vector<SMART_D0_DATA_ITEM> out;
    for (; list != nullptr; list = list->next)
        out.push_back(list->d0);
    return out;
}

TEST(ParseSmartD0, KeepsTheNonEmptyEntriesInOrder)
{
    Bytes data = ata_smart_data({1, 3});
    PSMART_D0_LIST list = parse_smart_d0(data.data(), 512, SELECT_SCSI_ATA_TYPE);
    std::vector<SMART_D0_DATA_ITEM> got = entries(list);
    free_smart_d0_list(list);
    ASSERT_EQ(got.size(), 28u);
    size_t n = 0;
    for (int i = 0; i < 30; i++) {
        if (i == 1 || i == 3)
            continue;
        EXPECT_EQ(memcmp(&got[n], data.data() + 2 + 12 * i, 12), 0) << "entry " << i;
        n++;
    }
}

TEST(ParseSmartD0, LengthDecidesHowManyEntriesCount)
{
    struct Case {
        const char *what;
        SELECT_PROTOCOL_TYPE ptl;
        int32_t length;
        size_t entries;
        uint8_t first_id;
    } cases[] = {
        {"one byte of ATA data", SELECT_SCSI_ATA_TYPE, 1, 0, 0},
        {"below one entry", SELECT_SCSI_ATA_TYPE, 13, 0, 0},
        {"exactly one entry", SELECT_SCSI_ATA_TYPE, 14, 1, 0xA2},
        {"100 bytes: (100 - 2) / 12", SELECT_SCSI_ATA_TYPE, 100, 8, 0xA2},
        {"cut at 362 bytes", SELECT_SCSI_ATA_TYPE, 512, 30, 0xA2},
        {"SCSI selector reads ATA data", SELECT_SCSI_TYPE, 100, 8, 0xA2},
        {"NVMe entries start at byte 0", SELECT_NVME_TYPE, 100, 8, 0xA0},
        {"NVMe over 512 bytes", SELECT_NVME_TYPE, 512, 30, 0xA0},
        {"JMS583 parses as NVMe", SELECT_JMS583_NVME_TYPE, 12, 1, 0xA0},
        {"no data at all", SELECT_SCSI_ATA_TYPE, 0, 0, 0},
        {"negative length", SELECT_SCSI_ATA_TYPE, -1, 0, 0},
        {"most negative length", SELECT_NVME_TYPE, INT32_MIN, 0, 0},
    };
    Bytes data(512, 0);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(0xA0 + i % 12); // every entry non-empty from either start
    for (const Case &c : cases) {
        PSMART_D0_LIST list = parse_smart_d0(data.data(), c.length, c.ptl);
        std::vector<SMART_D0_DATA_ITEM> got = entries(list);
        free_smart_d0_list(list);
        EXPECT_EQ(got.size(), c.entries) << c.what;
        if (!got.empty()) {
            EXPECT_EQ(got[0].id, c.first_id) << c.what;
        }
    }
}

TEST(ParseSmartD0, EveryEntryEmptyGivesNoList)
{
    Bytes data(512, 0);
    EXPECT_EQ(parse_smart_d0(data.data(), 512, SELECT_SCSI_ATA_TYPE), nullptr);
    free_smart_d0_list(nullptr); // an empty list is fine to free
}

// ------------------------------------------------------------ SMART reads

// The simulator's attribute table: id=raw lines of `securedisk-sim smart`.
std::map<unsigned, uint64_t> simulator_attributes(const simtest::SimDisk &disk)
{
    std::map<unsigned, uint64_t> table;
    std::istringstream in(disk.tool_output("smart " + simtest::shell_quote(disk.dir())));
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            table[std::stoul(line.substr(0, eq))] = std::stoull(line.substr(eq + 1));
    }
    return table;
}

TEST(SmartAttributes, ReadFromTheSatDiskEqualTheSimulatorsTable)
{
    simtest::SimDisk disk(secure_disk());
    disk.set("temperature=47 power_on_hours=1234 smart_supported=1");
    // Some data traffic first, so the counters are not all zero.
    {
        DiskHandle h(disk.dev());
        Bytes buf(4 * 512);
        PROTOCOL_CMD_S cmd = ptltest::zeroed_record();
        cmd.handle = h.fd();
        cmd.u.rw.sectors = 4;
        cmd.data_to = DATA_FROM_DEV;
        cmd.buffer = buf.data();
        cmd.buffer_len = static_cast<uint32_t>(buf.size());
        cmd.timeout = 10;
        ASSERT_EQ(get_protocol_func(SELECT_SCSI_ATA_TYPE)->read(&cmd), 0);
    }
    size_t before = cdbs_seen(disk).size();
    std::string dev = disk.dev();
    PSMART_D0_LIST list = nullptr;
    ASSERT_EQ(ptl_get_smart_d0(dev.c_str(), SELECT_SCSI_ATA_TYPE, &list), 0);
    std::map<unsigned, uint64_t> read;
    for (PSMART_D0_LIST p = list; p != nullptr; p = p->next) {
        uint64_t raw = 0;
        for (int k = 5; k >= 0; k--)
            raw = raw << 8 | p->d0.raw[k];
        EXPECT_EQ(read.count(p->d0.id), 0u) << "attribute " << int(p->d0.id) << " twice";
        read[p->d0.id] = raw;
    }
    free_smart_d0_list(list);
    EXPECT_EQ(read, simulator_attributes(disk));
    EXPECT_EQ(read.at(0xC2), 47u);

    std::vector<Bytes> seen = cdbs_seen(disk);
    ASSERT_EQ(seen.size(), before + 2);
    EXPECT_EQ(seen[before], (Bytes{0x85, 0x06, 0x04, 0, 0xD8, 0, 0, 0, 0, 0, 0x4F, 0, 0xC2, 0x40, 0xB0, 0}))
        << "SMART ENABLE OPERATIONS first";
    EXPECT_EQ(seen[before + 1], (Bytes{0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0x40, 0xB0, 0}))
        << "then SMART READ DATA";
}

TEST(SmartAttributes, AFailingEnableStopsBeforeTheRead)
{
    simtest::SimDisk disk(secure_disk());
    disk.set("smart_supported=0");
    std::string dev = disk.dev();
    PSMART_D0_LIST list = reinterpret_cast<PSMART_D0_LIST>(0x1); // must stay untouched
    EXPECT_EQ(PTL_STATUS_KIND(ptl_get_smart_d0(dev.c_str(), SELECT_SCSI_ATA_TYPE, &list)), PTL_ERR_IDENTIFY_SMART);
    EXPECT_EQ(list, reinterpret_cast<PSMART_D0_LIST>(0x1));
    std::vector<Bytes> seen = cdbs_seen(disk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0][4], 0xD8);
}

TEST(SmartAttributes, RefusalsLeaveTheListUntouched)
{
    simtest::SimDisk disk(secure_disk());
    std::string dev = disk.dev();
    struct Case {
        const char *what;
        const char *name;
        SELECT_PROTOCOL_TYPE ptl;
        PROTOCOL_STATUS status;
    } cases[] = {
        {"the SCSI transport has no SMART", dev.c_str(), SELECT_SCSI_TYPE, PTL_ERR_NOT_SUPPORTED},
        {"no table", dev.c_str(), SELECT_ATA_TYPE, PTL_ERR_NOT_SUPPORTED},
        {"no table beyond the registry", dev.c_str(), SELECT_PTL_END, PTL_ERR_NOT_SUPPORTED},
        {"a disk that is not there", "/dev/zv-no-such-disk", SELECT_SCSI_ATA_TYPE, PTL_ERR_NO_HANDLE},
    };
    for (const Case &c : cases) {
        PSMART_D0_LIST list = reinterpret_cast<PSMART_D0_LIST>(0x1);
        EXPECT_EQ(ptl_get_smart_d0(c.name, c.ptl, &list), c.status) << c.what;
        EXPECT_EQ(list, reinterpret_cast<PSMART_D0_LIST>(0x1)) << c.what;
    }
    EXPECT_TRUE(cdbs_seen(disk).empty());
}

TEST(SmartAttributes, NvmeReadsTheHealthLog)
{
    simtest::SimDisk disk(nvme_disk());
    disk.set("temperature=50 power_on_hours=77");
    std::string dev = disk.dev();
    Bytes log(512, 0xEE);
    ASSERT_EQ(ptl_get_smart_d0_buffer(dev.c_str(), SELECT_NVME_TYPE, log.data(), 512), 0);
    EXPECT_EQ(get_le16(log.data() + 1), 50 + 273);
    EXPECT_EQ(get_le64(log.data() + 128), 77u);
    std::vector<NvmeSeen> seen = nvme_seen(disk);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].opcode, 0x06u);
    EXPECT_EQ(seen[1].opcode, 0x02u) << "the standard log, not a vendor command";
    EXPECT_EQ(seen[1].cdw14, 0u);

    PSMART_D0_LIST list = nullptr;
    ASSERT_EQ(ptl_get_smart_d0(dev.c_str(), SELECT_NVME_TYPE, &list), 0);
    std::vector<SMART_D0_DATA_ITEM> got = entries(list);
    free_smart_d0_list(list);
    // The log read as 12-byte entries from byte 0: the first carries the
    // critical warning (0) as its id and is empty.
    PSMART_D0_LIST expected = parse_smart_d0(log.data(), 512, SELECT_NVME_TYPE);
    std::vector<SMART_D0_DATA_ITEM> want = entries(expected);
    free_smart_d0_list(expected);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(memcmp(&got[i], &want[i], 12), 0) << "entry " << i;
}

// ------------------------------------------------------------ ATA-side sequence

TEST(VendorSequence, FiveSectorCommandsOnTheSatDisk)
{
    simtest::SimDisk disk(secure_disk());
    Bytes args = pattern(512, 7);
    Bytes data(2 * 512, 0);
    ZV_VENDOR_CMD cmd = sequence(SELECT_SCSI_ATA_TYPE, 1, args, data);
    DiskHandle h(disk.dev());
    ASSERT_EQ(zv_vendor(h.fd(), &cmd), 0);
    std::vector<AtaAccess> want = {
        {0xC8, 0x514D, 1}, {0xC8, 0x3754, 1}, {0xC8, 0x6B52, 1}, {0xCA, 0xC3A6, 1}, {0xC8, 0xC3A6, 2},
    };
    EXPECT_EQ(ata_accesses(disk), want);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 512), args) << "the data read starts at the sector written";
}

TEST(VendorSequence, EachFailingStepHasItsStatusAndEndsTheSequence)
{
    struct Case {
        uint64_t bad_sector;
        uint8_t rw;
        PROTOCOL_STATUS status;
        size_t commands;
    } cases[] = {
        {0x514D, 1, PTL_ERR_VENDOR_KEY_READ, 1},   {0x3754, 1, PTL_ERR_VENDOR_KEY_READ, 2},
        {0x6B52, 0, PTL_ERR_VENDOR_KEY_READ, 3},   {0xC3A6, 1, PTL_ERR_VENDOR_ARG_WRITE, 4},
        {0xC3A7, 1, PTL_ERR_VENDOR_DATA_READ, 5},  {0xC3A7, 0, PTL_ERR_VENDOR_DATA_WRITE, 5},
    };
    simtest::SimDisk disk(secure_disk());
    for (const Case &c : cases) {
        disk.set("bad_sectors=" + std::to_string(c.bad_sector));
        size_t before = ata_accesses(disk).size();
        Bytes args = pattern(512, 8);
        Bytes data(2 * 512, 0);
        ZV_VENDOR_CMD cmd = sequence(SELECT_SCSI_ATA_TYPE, c.rw, args, data);
        DiskHandle h(disk.dev());
        EXPECT_EQ(zv_ata_vendor_five_cmd(h.fd(), &cmd), c.status) << "bad sector " << c.bad_sector;
        std::vector<AtaAccess> seen = ata_accesses(disk);
        EXPECT_EQ(seen.size() - before, c.commands) << "bad sector " << c.bad_sector;
        EXPECT_EQ(seen.back().lba, c.bad_sector == 0xC3A7 ? 0xC3A6u : c.bad_sector) << "the failing step is last";
    }
}

TEST(VendorSequence, ScsiTransportUsesTenByteReadsAndWrites)
{
    simtest::SimDisk disk(secure_disk());
    Bytes args = pattern(512, 9);
    Bytes data = pattern(512, 10);
    ZV_VENDOR_CMD cmd = sequence(SELECT_SCSI_TYPE, 0, args, data);
    DiskHandle h(disk.dev());
    ASSERT_EQ(zv_vendor(h.fd(), &cmd), 0);
    std::vector<Bytes> seen = cdbs_seen(disk);
    std::vector<Bytes> want = {
        {0x28, 0, 0, 0, 0x51, 0x4D, 0, 0, 1, 0}, {0x28, 0, 0, 0, 0x37, 0x54, 0, 0, 1, 0},
        {0x28, 0, 0, 0, 0x6B, 0x52, 0, 0, 1, 0}, {0x2A, 0, 0, 0, 0xC3, 0xA6, 0, 0, 1, 0},
        {0x2A, 0, 0, 0, 0xC3, 0xA6, 0, 0, 1, 0},
    };
    EXPECT_EQ(seen, want);
}

TEST(VendorSequence, NvmeIoCommandsWhenTheFiveStepsRunOnNvme)
{
    simtest::SimDisk disk(nvme_disk());
    Bytes args = pattern(512, 11);
    Bytes data(3 * 512);
    ZV_VENDOR_CMD cmd = sequence(SELECT_NVME_TYPE, 1, args, data);
    DiskHandle h(disk.dev());
    ASSERT_EQ(zv_ata_vendor_five_cmd(h.fd(), &cmd), 0);
    std::vector<NvmeSeen> seen = nvme_seen(disk);
    ASSERT_EQ(seen.size(), 5u);
    const uint32_t opcodes[] = {0x02, 0x02, 0x02, 0x01, 0x02};
    const uint32_t nblocks[] = {0, 0, 0, 0, 2};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_FALSE(seen[i].admin);
        EXPECT_EQ(seen[i].opcode, opcodes[i]) << "step " << i + 1;
        EXPECT_EQ(seen[i].slba, G_ZV_VENDOR_CMD[i]) << "step " << i + 1;
        EXPECT_EQ(seen[i].nblocks, nblocks[i]) << "step " << i + 1;
    }
}

TEST(VendorSequence, NoTableForTheSelector)
{
    Bytes args(512), data(512);
    ZV_VENDOR_CMD cmd = sequence(SELECT_ATA_TYPE, 1, args, data);
    EXPECT_EQ(zv_vendor(-1, &cmd), PTL_ERR_NOT_SUPPORTED);
    cmd.ptl = SELECT_JMS583_NVME_TYPE; // not the NVMe sequence: no table for it either
    EXPECT_EQ(zv_vendor(-1, &cmd), PTL_ERR_NOT_SUPPORTED);
}

// ------------------------------------------------------------ NVMe sequence

TEST(NvmeVendorSequence, ThreeVendorCommandsWithTheSubcommandInCdw12)
{
    struct Case {
        uint8_t rw;
        uint32_t last_opcode;
    } cases[] = {{1, 0xFA}, {0, 0xF9}};
    for (const Case &c : cases) {
        simtest::SimDisk disk(nvme_disk());
        Bytes args = pattern(2 * 512, 12);
        Bytes data = c.rw ? Bytes(512, 0) : pattern(512, 13);
        ZV_VENDOR_CMD cmd = sequence(SELECT_NVME_TYPE, c.rw, args, data);
        DiskHandle h(disk.dev());
        ASSERT_EQ(zv_vendor(h.fd(), &cmd), 0) << "rw " << int(c.rw);

        std::vector<NvmeSeen> seen = nvme_seen(disk);
        ASSERT_EQ(seen.size(), 3u) << "rw " << int(c.rw);
        const uint32_t opcodes[] = {0xF9, 0xFC, c.last_opcode};
        const uint32_t lengths[] = {1024, 0, 512};
        for (size_t i = 0; i < 3; i++) {
            EXPECT_TRUE(seen[i].admin);
            EXPECT_EQ(seen[i].opcode, opcodes[i]) << "rw " << int(c.rw) << " step " << i + 1;
            EXPECT_EQ(seen[i].len, lengths[i]) << "step " << i + 1;
            EXPECT_EQ(seen[i].cdw10, lengths[i] / 4) << "step " << i + 1;
            EXPECT_EQ(seen[i].cdw12, 0x5Cu) << "step " << i + 1;
            EXPECT_EQ(seen[i].cdw14, 0x68343750u) << "step " << i + 1;
            EXPECT_EQ(seen[i].nsid, 1u) << "step " << i + 1;
            EXPECT_EQ(seen[i].timeout_ms, 9000u) << "the larger of the two time limits";
        }
        if (c.rw) {
            EXPECT_EQ(data, Bytes(args.begin(), args.begin() + 512)) << "the mailbox gives the arguments back";
        }
    }
}

TEST(NvmeVendorSequence, AFailingCommandEndsTheSequenceUnchanged)
{
    simtest::SimDisk disk(nvme_disk());
    Bytes args, data(512);
    ZV_VENDOR_CMD cmd = sequence(SELECT_NVME_TYPE, 1, args, data); // no argument sectors
    DiskHandle h(disk.dev());
    EXPECT_EQ(PTL_STATUS_KIND(zv_vendor(h.fd(), &cmd)), PTL_ERR_IOCTL);
    std::vector<NvmeSeen> seen = nvme_seen(disk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].opcode, 0xF9u);
    EXPECT_EQ(seen[0].status, 0x4002u);
}

// ------------------------------------------------------------ vendor logs

TEST(VendorLogs, OneCommandAlwaysUsesTheSatTransport)
{
    simtest::SimDisk disk(secure_disk());
    DiskHandle h(disk.dev());
    struct Case {
        uint32_t rw;
        uint8_t command;
        uint8_t protocol_byte;
        uint8_t length_byte;
    } cases[] = {{1, 0x2F, (PIO_DATA_IN << 1) | 1, 0x0E}, {0, 0x3F, (PIO_DATA_OUT << 1) | 1, 0x06}};
    for (const Case &c : cases) {
        Bytes buffer = pattern(2 * 512, 14);
        ZV_VENDOR_ONE_CMD cmd = {};
        cmd.timeout = 5;
        cmd.rw = c.rw;
        cmd.lba = 0x1234567890ull;
        cmd.buffer = buffer.data();
        cmd.buffer_len = 1024;
        cmd.ptl = SELECT_NVME_TYPE;
        cmd.disk_handle = h.fd();
        // The secure disk's controller has no log commands: it aborts, and
        // the SG_IO status comes back unchanged (CHECK CONDITION).
        EXPECT_EQ(zv_vendor_one_cmd(&cmd), PTL_STATUS(0x02, PTL_ERR_SG_STATUS)) << "rw " << c.rw;
        EXPECT_EQ(cmd.ptl, SELECT_SCSI_ATA_TYPE) << "the caller's selector is overwritten";
        // 48-bit registers: LBA 0-7 in byte 8, 24-31 in byte 7, 8-15 in 10,
        // 32-39 in 9, 16-23 in 12, 40-47 in 11.
        Bytes want = {0x85, c.protocol_byte, c.length_byte, 0, 0, 0, 2, 0x34, 0x90, 0x12, 0x78, 0x00, 0x56, 0x40,
                      c.command, 0};
        EXPECT_EQ(cdbs_seen(disk).back(), want) << "rw " << c.rw;
        EXPECT_EQ(simtest::record_field(disk.commands().back(), "ata"), "51/04") << "aborted by the controller";
    }
}

TEST(VendorLogs, FdReadLogCommand)
{
    simtest::SimDisk disk(secure_disk());
    DiskHandle h(disk.dev());
    Bytes buffer(3 * 512);
    FD_CMD_ARG arg = {};
    arg.feature = FD_FW_LOG_PAGE_NUMBER_FEATURE;
    arg.index = 0x0201;
    arg.buffer = buffer.data();
    arg.buffer_len = 3 * 512;
    arg.ptl = SELECT_SCSI_TYPE;
    arg.disk_handle = h.fd();
    EXPECT_EQ(send_fd_read_log(&arg), PTL_STATUS(0x02, PTL_ERR_SG_STATUS));
    EXPECT_EQ(arg.ptl, SELECT_SCSI_ATA_TYPE);
    EXPECT_EQ(cdbs_seen(disk).back(),
              (Bytes{0x85, UDMA_DATA_IN << 1, 0x0E, 0, 0xA1, 0, 3, 0, 0x01, 0, 0x02, 0, 0, 0x40, 0xFD, 0}));
    EXPECT_EQ(simtest::record_field(disk.commands().back(), "dir"), "in");
    EXPECT_EQ(simtest::record_field(disk.commands().back(), "len"), "1536");
}

TEST(VendorLogs, NvmeSystemInformation)
{
    simtest::SimDisk disk(nvme_disk());
    DiskHandle h(disk.dev());
    NVME_SYS_INFO info;
    memset(&info, 0xEE, sizeof(info));
    ASSERT_EQ(nvme_0xC2(h.fd(), &info), 0);
    EXPECT_EQ(info.signature, 0x68343750u) << "the controller's vendor signature";
    EXPECT_EQ(info.romversion, 0x00010000u);
    EXPECT_EQ(info.fw_type, 1);
    std::vector<NvmeSeen> seen = nvme_seen(disk);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].opcode, 0xC2u);
    EXPECT_EQ(seen[0].cdw10, 511u);
    EXPECT_EQ(seen[0].nsid, 1u);
    EXPECT_EQ(seen[0].len, 2048u);
    EXPECT_EQ(seen[0].timeout_ms, 10000u);
}

TEST(VendorLogs, SignaturesSpellTheirBytes)
{
    EXPECT_EQ(memcmp(&g_nvme_vender_signitrue, "h47P", 4), 0);
    std::string magic;
    for (int i = 0; i < 2; i++) {
        magic.push_back(static_cast<char>(G_ZV_VENDOR_CMD[i] >> 8));
        magic.push_back(static_cast<char>(G_ZV_VENDOR_CMD[i] & 0xFF));
    }
    EXPECT_EQ(magic, "QM7T");
    uint32_t vendor_magic = VENDOR_MAGIC_NUM;
    EXPECT_EQ(memcmp(&vendor_magic, magic.data(), 4), 0);
}

// ------------------------------------------------------------ trim

TEST(Trim, ReportedAsNotSupportedOnEveryTransport)
{
    simtest::SimDisk nvme(nvme_disk());
    simtest::SimDisk sat(secure_disk());
    std::string nvme_dev = nvme.dev(), sat_dev = sat.dev();

    testing::internal::CaptureStdout();
    EXPECT_EQ(ptl_trim(nvme_dev.c_str(), SELECT_NVME_TYPE, 5, 7), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "lba[5] count[7]\n");

    testing::internal::CaptureStdout();
    EXPECT_EQ(ptl_trim(sat_dev.c_str(), SELECT_SCSI_ATA_TYPE, 5, 7), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(ptl_trim(sat_dev.c_str(), SELECT_SCSI_TYPE, 5, 7), PTL_ERR_NOT_SUPPORTED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    EXPECT_EQ(ptl_trim("/dev/zv-no-such-disk", SELECT_NVME_TYPE, 0, 1), PTL_ERR_NO_HANDLE);
    EXPECT_EQ(nvme_win_trim(-1, 0, 1), PTL_ERR_NOT_SUPPORTED);
    Bytes buffer(512);
    EXPECT_EQ(zv_nvme_vendor_smart(-1, buffer.data(), 512), PTL_ERR_NOT_SUPPORTED);
    EXPECT_TRUE(nvme_seen(nvme).empty());
    EXPECT_TRUE(cdbs_seen(sat).empty());
}

} // namespace
