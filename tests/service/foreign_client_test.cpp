// A client that is not ours: gdbus, with command records laid out byte by
// byte from the record's documented offsets, calls every method of the
// service and gets the answers the contract promises.
#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <sstream>

#include "service_fixture.h"
#include "sim_disk.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put_le(Bytes &record, size_t offset, uint64_t value, size_t size)
{
    for (size_t i = 0; i < size; i++)
        record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The 600-byte record: data_to at 64, buffer_len at 80, timeout at 84.
Bytes record(uint8_t data_to, uint32_t buffer_len)
{
    Bytes r(600, 0);
    r[64] = data_to;
    put_le(r, 80, buffer_len, 4);
    put_le(r, 84, 10, 4);
    return r;
}

using svctest::gvariant_bytes;
using Answer = svctest::GdbusAnswer;

class ForeignClientTest : public testing::Test {
protected:
    simtest::SimDisk disk;
    std::string dev = disk.dev();
    svctest::PrivateSystemBus bus;
    svctest::ServiceProcess service{bus};

    Answer call(const std::string &method, const std::vector<std::string> &args)
    {
        return svctest::gdbus_call(bus, method, args);
    }
};

TEST_F(ForeignClientTest, EveryMethod)
{
    Answer id = call("getidentify", {dev, gvariant_bytes(record(1, 512)), "@ay []"});
    ASSERT_EQ(id.exit_status, 0);
    EXPECT_EQ(id.status, 0);
    ASSERT_EQ(id.data.size(), 512u);
    EXPECT_EQ(id.data[262], 0x44);
    EXPECT_EQ(id.data[263], 0x53);

    // The prompt sector: READ/WRITE DMA with feature 0x5A, LBA 0x10, one sector.
    Bytes prompt_write = record(0, 512);
    put_le(prompt_write, 8, 0x10, 8);  // u.rw.lba
    put_le(prompt_write, 16, 1, 4);    // u.rw.sectors
    put_le(prompt_write, 20, 0x5A, 2); // u.rw.feature
    Bytes sector(512, 0);
    memcpy(sector.data(), "hint", 4);
    Answer w = call("write", {dev, gvariant_bytes(prompt_write), gvariant_bytes(sector)});
    EXPECT_EQ(w.status, 0);
    EXPECT_TRUE(w.data.empty());

    Bytes prompt_read = prompt_write;
    prompt_read[64] = 1;
    Answer r = call("read", {dev, gvariant_bytes(prompt_read), "@ay []"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, sector);

    // SET PASSWORD as a protocol pass-through (type 1 at 8, scsi_ata from 16).
    Bytes setpwd = record(0, 512);
    put_le(setpwd, 8, 1, 4);         // send_cmd.type
    put_le(setpwd, 16, 0x5A5653, 8); // scsi_ata.lba
    put_le(setpwd, 24, 5, 4);        // scsi_ata.protocol: PIO data-out
    put_le(setpwd, 36, 1, 4);        // scsi_ata.sectors
    setpwd[43] = 0xFA;               // scsi_ata.ata_command
    Bytes password(512, 0);
    memcpy(password.data(), "Abcdefg1", 8);
    Answer s = call("send_cmd", {dev, gvariant_bytes(setpwd), gvariant_bytes(password)});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.data, password);
    EXPECT_EQ(disk.show().at("password_set"), "1");

    Answer reset = call("reset", {dev});
    EXPECT_EQ(reset.exit_status, 0);
    EXPECT_EQ(reset.status, 0);

    Answer format = call("format", {""});
    EXPECT_EQ(format.status, 4) << "an empty device name";
}

} // namespace
