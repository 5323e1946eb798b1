// The command wrappers against a stand-in service: what each sends, what it
// copies back into the request, and what it refuses to send.
#include <gtest/gtest.h>

#include <cstring>

#include "build_cmd.h"
#include "gui_test_support.h"
#include "security_cmd.h"

namespace {

using guitest::Answer;
using guitest::FakeService;

const uint8_t kUntouched = 0xAB;
const uint32_t kUntouchedLen = 99;

// A request as the model fills it, with out_data and out_len preset so that
// a test sees whether the wrapper wrote them.
_USER_DATA_ request(const char *sub_name = "identify", const char *in = "")
{
    _USER_DATA_ data;
    memset(&data, 0, sizeof(data));
    data.dev_name = "/dev/sdq1";
    data.cmd_name = "sendcmd";
    data.sub_name = sub_name;
    strcpy(data.in_data, in);
    memset(data.out_data, kUntouched, sizeof(data.out_data));
    data.out_len = kUntouchedLen;
    return data;
}

bool out_untouched(const _USER_DATA_ &data)
{
    for (uint8_t b : data.out_data)
        if (b != kUntouched)
            return false;
    return data.out_len == kUntouchedLen;
}

QByteArray pattern(int size)
{
    QByteArray p(size, '\0');
    for (int i = 0; i < size; i++)
        p[i] = static_cast<char>(i * 7 + 1);
    return p;
}

protocol_cmd_s record_of(const QByteArray &inbuf)
{
    protocol_cmd_s cmd;
    memset(&cmd, 0, sizeof(cmd));
    if (inbuf.size() == static_cast<int>(sizeof(cmd)))
        memcpy(&cmd, inbuf.constData(), sizeof(cmd));
    return cmd;
}

class WrapperTest : public testing::Test {
protected:
    void SetUp() override { guitest::write_catalogue(guitest::shipped_catalogue()); }
    void TearDown() override { guitest::remove_catalogue(); }
    FakeService service{guitest::program_bus()};
};

const struct {
    const char *name;
    int (*wrapper)(_USER_DATA_ *);
} kDataWrappers[] = {
    {"identify", identify},
    {"read", read},
    {"write", write},
    {"send_cmd", send_cmd},
};

TEST_F(WrapperTest, WithoutTheCatalogueNothingIsSent)
{
    guitest::remove_catalogue();
    for (const auto &w : kDataWrappers) {
        SCOPED_TRACE(w.name);
        _USER_DATA_ data = request("setpwd", "pw");
        EXPECT_EQ(w.wrapper(&data), CMD_ERR_CATALOGUE);
        EXPECT_TRUE(out_untouched(data));
    }
    EXPECT_TRUE(service.calls().empty());
}

TEST_F(WrapperTest, IdentifyCopiesTheAnswerAndItsLength)
{
    Answer a;
    a.data = pattern(512);
    service.answer("getidentify", a);
    _USER_DATA_ data = request();
    ASSERT_EQ(identify(&data), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(data.out_data), 512), pattern(512));
    EXPECT_EQ(data.out_len, 512u);

    std::vector<guitest::Call> calls = service.calls_of("getidentify");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dev, "/dev/sdq1");
    ASSERT_EQ(calls[0].inbuf.size(), 600);
    protocol_cmd_s sent = record_of(calls[0].inbuf);
    EXPECT_EQ(sent.buffer_len, 512u);
    EXPECT_EQ(sent.data_to, DATA_FROM_DEV);
    EXPECT_EQ(sent.handle, 0);
    EXPECT_TRUE(calls[0].indata.isEmpty());
}

TEST_F(WrapperTest, IdentifyFailureLeavesTheRequestAsItWas)
{
    Answer a;
    a.status = 260;
    service.answer("getidentify", a);
    _USER_DATA_ data = request();
    EXPECT_EQ(identify(&data), 260);
    EXPECT_TRUE(out_untouched(data));
}

TEST_F(WrapperTest, ReadSetsTheLengthEvenWhenItFails)
{
    Answer failed;
    failed.status = 58;
    service.answer("read", failed);
    _USER_DATA_ data = request();
    EXPECT_EQ(read(&data), 58);
    EXPECT_EQ(data.out_len, 512u);
    EXPECT_EQ(data.out_data[0], kUntouched);
    EXPECT_EQ(data.out_data[511], kUntouched);

    Answer ok;
    ok.data = pattern(512);
    service.answer("read", ok);
    data = request();
    ASSERT_EQ(read(&data), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(data.out_data), 512), pattern(512));
    protocol_cmd_s sent = record_of(service.calls_of("read").back().inbuf);
    EXPECT_EQ(sent.data_to, DATA_FROM_DEV);
    EXPECT_EQ(sent.u.rw.lba, 0x10u);
}

TEST_F(WrapperTest, ReadSendsTheBlockUpToItsFirstZero)
{
    guitest::write_catalogue("<SecurityCmd><command name=\"read\" subname=\"readparam\">"
                             "<data sectorCount=\"1\" isRead=\"1\"><field offset=\"0\"/></data>"
                             "<arg feature=\"0x5A\" lba=\"0x10\" sectors=\"1\"/></command></SecurityCmd>");
    _USER_DATA_ data = request("", "abc");
    read(&data);
    ASSERT_EQ(service.calls_of("read").size(), 1u);
    EXPECT_EQ(service.calls_of("read")[0].indata, "abc");
}

TEST_F(WrapperTest, WriteCopiesTheBlockItSentWhateverTheStatus)
{
    for (int status : {0, 58}) {
        SCOPED_TRACE(status);
        Answer a;
        a.status = status;
        a.data = pattern(512); // not used
        service.answer("write", a);
        _USER_DATA_ data = request("", "my hint");
        EXPECT_EQ(write(&data), status);
        QByteArray block(512, '\0');
        memcpy(block.data(), "my hint", 7);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(data.out_data), 512), block);
        EXPECT_EQ(data.out_len, 512u);
        EXPECT_EQ(service.calls_of("write").back().indata, block);
    }
}

TEST_F(WrapperTest, SendCmdSendsTheBlockAndCopiesNothingBack)
{
    Answer a;
    a.data = pattern(512);
    service.answer("send_cmd", a);
    _USER_DATA_ data = request("verifypwd", "secret");
    EXPECT_EQ(send_cmd(&data), 0);
    EXPECT_TRUE(out_untouched(data));
    std::vector<guitest::Call> calls = service.calls_of("send_cmd");
    ASSERT_EQ(calls.size(), 1u);
    QByteArray block(512, '\0');
    memcpy(block.data(), "secret", 6);
    EXPECT_EQ(calls[0].indata, block);
    protocol_cmd_s sent = record_of(calls[0].inbuf);
    EXPECT_EQ(sent.u.send_cmd.sc.scsi_ata.ata_command, 0xFB);
    EXPECT_EQ(sent.buffer_len, 512u);
}

TEST_F(WrapperTest, NullDeviceNameIsSentAsAnEmptyName)
{
    _USER_DATA_ data = request();
    data.dev_name = nullptr;
    identify(&data);
    reset(&data);
    std::vector<guitest::Call> calls = service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].dev, "");
    EXPECT_EQ(calls[1].dev, "");
}

TEST_F(WrapperTest, ResetAndFormatPassTheNameAndTheStatus)
{
    Answer r;
    r.status = -1;
    service.answer("reset", r);
    Answer f;
    f.status = 315;
    service.answer("format", f);
    _USER_DATA_ data = request();
    EXPECT_EQ(reset(&data), -1);
    EXPECT_EQ(format(&data), 315);
    EXPECT_TRUE(out_untouched(data));
    ASSERT_EQ(service.calls().size(), 2u);
    EXPECT_EQ(service.calls()[1].dev, "/dev/sdq1");
}

TEST_F(WrapperTest, AnswerLongerThanOutDataIsRefused)
{
    Answer a;
    a.data = pattern(513);
    service.answer("getidentify", a);
    service.answer("read", a);
    _USER_DATA_ data = request();
    EXPECT_EQ(identify(&data), CMD_ERR_DATA_TOO_LONG);
    EXPECT_TRUE(out_untouched(data));
    EXPECT_EQ(read(&data), CMD_ERR_DATA_TOO_LONG);
    EXPECT_EQ(data.out_data[0], kUntouched);
}

TEST_F(WrapperTest, DataBlockLongerThanOutDataIsNotSent)
{
    const char *two_sectors = "<data sectorCount=\"2\" timeout=\"10\" isRead=\"1\"/>";
    guitest::write_catalogue(std::string("<SecurityCmd>") +
                             "<command name=\"sendcmd\" subname=\"identify\">" + two_sectors + "<arg/></command>" +
                             "<command name=\"read\" subname=\"readparam\">" + two_sectors + "<arg/></command>" +
                             "<command name=\"write\" subname=\"writeparam\">" + two_sectors + "<arg/></command>" +
                             "<command name=\"sendcmd\" subname=\"big\">" + two_sectors + "<arg/></command>" +
                             "</SecurityCmd>");
    for (const auto &w : {kDataWrappers[0], kDataWrappers[1], kDataWrappers[2]}) {
        SCOPED_TRACE(w.name);
        _USER_DATA_ data = request();
        EXPECT_EQ(w.wrapper(&data), CMD_ERR_DATA_TOO_LONG);
        EXPECT_TRUE(out_untouched(data));
    }
    EXPECT_TRUE(service.calls().empty());

    _USER_DATA_ data = request("big");
    EXPECT_EQ(send_cmd(&data), 0) << "send_cmd copies nothing back, so its block may be longer";
    ASSERT_EQ(service.calls_of("send_cmd").size(), 1u);
    EXPECT_EQ(service.calls_of("send_cmd")[0].indata.size(), 1024);
}

TEST_F(WrapperTest, UnterminatedParameterIsNotSent)
{
    for (const auto &w : kDataWrappers) {
        SCOPED_TRACE(w.name);
        _USER_DATA_ data = request("setpwd");
        memset(data.in_data, 'x', sizeof(data.in_data));
        EXPECT_EQ(w.wrapper(&data), CMD_ERR_PARAM_UNTERMINATED);
        EXPECT_TRUE(out_untouched(data));
    }
    EXPECT_TRUE(service.calls().empty());
}

} // namespace
