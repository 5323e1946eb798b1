// The command catalogue: build_cmd and read_param_file against catalogues
// written beside this test program, and the shipped catalogue against the
// controller's datasheet.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "build_cmd.h"
#include "controller_datasheet.h"
#include "gui_test_support.h"

namespace {

using guitest::catalogue_path;

// One build_cmd call as a caller sees it: the status, the record and a copy
// of its data block.
struct Built {
    int status = -1000;
    protocol_cmd_s cmd;
    std::vector<uint8_t> block;
    bool had_block = false;
};

Built build(const char *category, const char *subname, const char *param)
{
    Built b;
    memset(&b.cmd, 0, sizeof(b.cmd));
    b.status = build_cmd(category, subname, b.cmd, param);
    b.had_block = b.cmd.buffer != nullptr;
    if (b.cmd.buffer != nullptr)
        b.block.assign(b.cmd.buffer, b.cmd.buffer + b.cmd.buffer_len);
    release_cmd_buffer(b.cmd);
    return b;
}

std::string entry(const std::string &name, const std::string &subname, const std::string &inner)
{
    return "<command name=\"" + name + "\" subname=\"" + subname + "\">" + inner + "</command>";
}

std::string catalogue(const std::string &entries)
{
    return "<?xml version=\"1.0\"?>\n<SecurityCmd>" + entries + "</SecurityCmd>\n";
}

std::string replace_path(std::string text)
{
    const std::string key = "{path}";
    size_t at = text.find(key);
    if (at != std::string::npos)
        text.replace(at, key.size(), catalogue_path());
    return text;
}

std::vector<std::string> critical_lines()
{
    std::vector<std::string> out;
    for (const guitest::LogLine &line : guitest::messages())
        if (line.type == QtCriticalMsg)
            out.push_back(line.text);
    return out;
}

class CatalogueTest : public testing::Test {
protected:
    void SetUp() override { guitest::clear_messages(); }
    void TearDown() override { guitest::remove_catalogue(); }
};

// ------------------------------------------------------------ refusals
struct RefusalCase {
    const char *name;
    bool file_present;
    std::string xml;
    const char *category;
    const char *subname;
    const char *param;
    int status;
    std::string log; // the one critical line expected, "" for none
};

const std::string kData = "<data sectorCount=\"1\" timeout=\"10\" isRead=\"0\"><field offset=\"0\"/></data>";
const std::string kArg = "<arg commandcode=\"0xFA\" protocol=\"5\" sectors=\"1\"/>";

const RefusalCase kRefusals[] = {
    {"MissingCatalogue", false, "", "sendcmd", "setpwd", "pw", CMD_ERR_CATALOGUE, ""},
    {"EmptyCatalogue", true, "", "sendcmd", "setpwd", "pw", CMD_ERR_CATALOGUE,
     "build cmd fail:{path}. current cmd:sendcmd"},
    {"NoCommandOfTheCategory", true, catalogue(entry("read", "setpwd", kData + kArg)), "sendcmd", "setpwd", "pw",
     CMD_ERR_CATALOGUE, "build cmd fail, can't find attribute, path:{path}, cmd:sendcmd"},
    {"NoEntryOfTheSubname", true, catalogue(entry("sendcmd", "setpwd", kData + kArg)), "sendcmd", "verifypwd",
     "pw", CMD_ERR_CATALOGUE, "build cmd fail, can't find attribute, path:{path}, cmd:verifypwd"},
    {"EntryWithoutData", true, catalogue(entry("sendcmd", "setpwd", kArg)), "sendcmd", "setpwd", "pw",
     CMD_ERR_CATALOGUE, "build cmd fail, can't find data node, path:{path}, cmd:setpwd"},
    {"EntryWithoutArg", true, catalogue(entry("sendcmd", "setpwd", kData)), "sendcmd", "setpwd", "pw",
     CMD_ERR_CATALOGUE, "build cmd fail, can't find arg node, path:{path}, cmd:setpwd"},
    {"IdentifyEntryWithoutArg", true, catalogue(entry("identify", "identify", kData)), "identify", "identify", "",
     CMD_ERR_CATALOGUE, "build cmd fail, can't find arg node, path:{path}, cmd:identify"},
    {"UnknownCategoryWithItsEntry", true, catalogue(entry("erase", "wipe", kData + kArg)), "erase", "wipe", "",
     CMD_ERR_CATEGORY, ""},
    {"UnknownCategoryWithoutCommand", true, catalogue(entry("sendcmd", "setpwd", kData + kArg)), "erase",
     "setpwd", "", CMD_ERR_CATALOGUE, "build cmd fail, can't find attribute, path:{path}, cmd:erase"},
    {"CategoryIsCaseSensitive", true, catalogue(entry("SendCmd", "setpwd", kData + kArg)), "SendCmd", "setpwd",
     "pw", CMD_ERR_CATEGORY, ""},
    {"SectorCountZero", true, catalogue(entry("sendcmd", "x", "<data sectorCount=\"0\"/>" + kArg)), "sendcmd", "x",
     "", CMD_ERR_SECTOR_COUNT, "build cmd fail, sector count 0 out of range, path:{path}, cmd:x"},
    {"SectorCountMissing", true, catalogue(entry("sendcmd", "x", "<data/>" + kArg)), "sendcmd", "x", "",
     CMD_ERR_SECTOR_COUNT, "build cmd fail, sector count 0 out of range, path:{path}, cmd:x"},
    {"SectorCountNegative", true, catalogue(entry("sendcmd", "x", "<data sectorCount=\"-1\"/>" + kArg)), "sendcmd",
     "x", "", CMD_ERR_SECTOR_COUNT, "build cmd fail, sector count -1 out of range, path:{path}, cmd:x"},
    {"SectorCountOverflowing", true,
     catalogue(entry("sendcmd", "x", "<data sectorCount=\"0x800000\"/>" + kArg)), "sendcmd", "x", "",
     CMD_ERR_SECTOR_COUNT, "build cmd fail, sector count 8388608 out of range, path:{path}, cmd:x"},
    {"SectorCountAboveTheCap", true, catalogue(entry("sendcmd", "x", "<data sectorCount=\"2049\"/>" + kArg)),
     "sendcmd", "x", "", CMD_ERR_SECTOR_COUNT, "build cmd fail, sector count 2049 out of range, path:{path}, cmd:x"},
    {"FieldRunsPastTheBlock", true,
     catalogue(entry("sendcmd", "x", "<data sectorCount=\"1\"><field offset=\"510\"/></data>" + kArg)), "sendcmd",
     "x", "abc", CMD_ERR_FIELD_RANGE, "build cmd fail, field offset 510 out of range, path:{path}, cmd:x"},
    {"FieldNegative", true,
     catalogue(entry("sendcmd", "x", "<data sectorCount=\"1\"><field offset=\"-1\"/></data>" + kArg)), "sendcmd",
     "x", "abc", CMD_ERR_FIELD_RANGE, "build cmd fail, field offset -1 out of range, path:{path}, cmd:x"},
    {"LaterFieldPastTheBlock", true,
     catalogue(entry("sendcmd", "x",
                     "<data sectorCount=\"1\"><field offset=\"0\"/><field offset=\"600\"/></data>" + kArg)),
     "sendcmd", "x", "", CMD_ERR_FIELD_RANGE, "build cmd fail, field offset 600 out of range, path:{path}, cmd:x"},
};

class CatalogueRefusal : public CatalogueTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(CatalogueRefusal, RefusesWithItsStatusAndLogLine)
{
    const RefusalCase &c = GetParam();
    if (c.file_present)
        guitest::write_catalogue(c.xml);
    Built b = build(c.category, c.subname, c.param);
    EXPECT_EQ(b.status, c.status);
    EXPECT_FALSE(b.had_block) << "a refused record carries no data block";
    std::vector<std::string> expected;
    if (!c.log.empty())
        expected.push_back(replace_path(c.log));
    EXPECT_EQ(critical_lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, CatalogueRefusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase> &info) { return info.param.name; });

// --------------------------------------------------------------- records
TEST_F(CatalogueTest, ParameterLandsAtTheFieldOffsetInAZeroBlock)
{
    guitest::write_catalogue(catalogue(entry(
        "write", "writeparam", "<data sectorCount=\"1\" isRead=\"0\"><field offset=\"16\" length=\"3\"/></data>"
                               "<arg feature=\"0x5A\" lba=\"0x10\" sectors=\"1\"/>")));
    Built b = build("write", "writeparam", "abc");
    ASSERT_EQ(b.status, 0);
    ASSERT_EQ(b.cmd.buffer_len, 512u);
    ASSERT_EQ(b.block.size(), 512u);
    std::vector<uint8_t> expected(512, 0);
    expected[16] = 'a';
    expected[17] = 'b';
    expected[18] = 'c';
    EXPECT_EQ(b.block, expected);
    EXPECT_TRUE(critical_lines().empty());
}

TEST_F(CatalogueTest, LargestDataPhaseIsAccepted)
{
    guitest::write_catalogue(catalogue(entry("sendcmd", "x", "<data sectorCount=\"2048\"/>" + kArg)));
    Built b = build("sendcmd", "x", "");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.cmd.buffer_len, 2048u * 512u);
    EXPECT_EQ(b.block, std::vector<uint8_t>(2048u * 512u, 0));
}

TEST_F(CatalogueTest, ParameterMayEndExactlyAtTheBlockEnd)
{
    guitest::write_catalogue(
        catalogue(entry("sendcmd", "x", "<data sectorCount=\"1\"><field offset=\"509\"/></data>" + kArg)));
    Built b = build("sendcmd", "x", "abc");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(std::string(b.block.begin() + 509, b.block.end()), "abc");
}

TEST_F(CatalogueTest, EveryPlaceFromTheFirstFieldOnGetsTheParameter)
{
    // The walk starts at the first field and takes every later child,
    // whatever its name; a child before the first field is not a place.
    guitest::write_catalogue(catalogue(entry(
        "sendcmd", "x",
        "<data sectorCount=\"1\"><other offset=\"100\"/><field offset=\"0\"/><note offset=\"50\"/></data>" + kArg)));
    Built b = build("sendcmd", "x", "pw");
    ASSERT_EQ(b.status, 0);
    std::vector<uint8_t> expected(512, 0);
    expected[0] = 'p';
    expected[1] = 'w';
    expected[50] = 'p';
    expected[51] = 'w';
    EXPECT_EQ(b.block, expected);
}

TEST_F(CatalogueTest, EmptyParameterLeavesTheBlockZero)
{
    guitest::write_catalogue(
        catalogue(entry("sendcmd", "x", "<data sectorCount=\"1\"><field offset=\"512\"/></data>" + kArg)));
    Built b = build("sendcmd", "x", "");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.block, std::vector<uint8_t>(512, 0));
}

TEST_F(CatalogueTest, SendCmdFillsTheAtaRegisters)
{
    guitest::write_catalogue(catalogue(
        entry("sendcmd", "x",
              "<data sectorCount=\"2\" timeout=\"30\" isRead=\"0x101\"/>"
              "<arg lba=\"0x5A5653\" commandcode=\"0x1FB\" protocol=\"5\" bit=\"1\" sectors=\"3\" feature=\"9\"/>")));
    Built b = build("sendcmd", "x", "");
    ASSERT_EQ(b.status, 0);
    const SCSI_ATA_PROTOCOL &ata = b.cmd.u.send_cmd.sc.scsi_ata;
    EXPECT_EQ(b.cmd.u.send_cmd.type, SEND_CMD_PROTOCOL);
    EXPECT_EQ(ata.lba, 0x5A5653u);
    EXPECT_EQ(ata.ata_command, 0xFB) << "low 8 bits";
    EXPECT_EQ(ata.protocol, PIO_DATA_OUT);
    EXPECT_EQ(ata.bit, ATA_COMMAND_48_BIT);
    EXPECT_EQ(ata.sectors, 3u);
    EXPECT_EQ(ata.t_length, T_LENGTH_NO_DATA);
    EXPECT_EQ(ata.features, 0) << "sendcmd takes no feature";
    EXPECT_EQ(ata.device, 0);
    EXPECT_EQ(b.cmd.handle, 0);
    EXPECT_EQ(b.cmd.buffer_len, 1024u);
    EXPECT_EQ(b.cmd.timeout, 30u);
    EXPECT_EQ(b.cmd.data_to, DATA_FROM_DEV) << "low 8 bits of isRead";
}

TEST_F(CatalogueTest, ReadAndWriteFillTheDmaParameters)
{
    const std::string arg = "<arg feature=\"0x1005A\" lba=\"-1\" sectors=\"7\" commandcode=\"0xC8\"/>";
    guitest::write_catalogue(catalogue(entry("read", "r", "<data sectorCount=\"1\" isRead=\"1\"/>" + arg) +
                                       entry("write", "w", "<data sectorCount=\"1\" isRead=\"0\"/>" + arg)));
    for (const char *category : {"read", "write"}) {
        SCOPED_TRACE(category);
        Built b = build(category, category[0] == 'r' ? "r" : "w", "");
        ASSERT_EQ(b.status, 0);
        EXPECT_EQ(b.cmd.u.rw.feature, 0x5A) << "low 16 bits";
        EXPECT_EQ(b.cmd.u.rw.lba, 0xFFFFFFFFFFFFFFFFull) << "sign-extended";
        EXPECT_EQ(b.cmd.u.rw.sectors, 7u);
        EXPECT_EQ(b.cmd.u.rw.device, 0);
        EXPECT_EQ(b.cmd.u.rw.ata_len, ATA_COMMAND_28_BIT);
        EXPECT_EQ(b.cmd.u.rw.scsi_len, 0u);
        EXPECT_EQ(b.cmd.data_to, category[0] == 'r' ? DATA_FROM_DEV : DATA_TO_DEV);
    }
}

TEST_F(CatalogueTest, IdentifyTakesNothingFromArg)
{
    guitest::write_catalogue(catalogue(entry(
        "identify", "identify",
        "<data sectorCount=\"1\" timeout=\"7\" isRead=\"1\"/><arg lba=\"5\" feature=\"5\" commandcode=\"0xEC\"/>")));
    Built b = build("identify", "identify", "");
    ASSERT_EQ(b.status, 0);
    protocol_cmd_s expected;
    memset(&expected, 0, sizeof(expected));
    expected.buffer_len = 512;
    expected.timeout = 7;
    expected.data_to = DATA_FROM_DEV;
    EXPECT_EQ(memcmp(&b.cmd, &expected, sizeof(expected)), 0);
}

TEST_F(CatalogueTest, HexadecimalAndDecimalLbaGiveTheSameRecord)
{
    for (const char *category : {"read", "sendcmd"}) {
        SCOPED_TRACE(category);
        const std::string data = "<data sectorCount=\"1\" timeout=\"10\" isRead=\"1\"/>";
        guitest::write_catalogue(catalogue(entry(category, "hex", data + "<arg lba=\"0x10\" sectors=\"1\"/>") +
                                           entry(category, "dec", data + "<arg lba=\"16\" sectors=\"1\"/>")));
        Built hex = build(category, "hex", "");
        Built dec = build(category, "dec", "");
        ASSERT_EQ(hex.status, 0);
        ASSERT_EQ(dec.status, 0);
        EXPECT_EQ(memcmp(&hex.cmd, &dec.cmd, sizeof(hex.cmd)), 0);
        EXPECT_EQ(hex.block, dec.block);
    }
}

TEST_F(CatalogueTest, EntryIsTheOneOfTheSubnameWhateverItsCategory)
{
    guitest::write_catalogue(catalogue(
        entry("sendcmd", "a", "<data sectorCount=\"1\"/><arg lba=\"1\" commandcode=\"0xFA\"/>") +
        entry("read", "b", "<data sectorCount=\"2\"/><arg lba=\"7\" commandcode=\"0xFB\"/>")));
    Built b = build("sendcmd", "b", "");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.cmd.buffer_len, 1024u);
    EXPECT_EQ(b.cmd.u.send_cmd.sc.scsi_ata.lba, 7u);
    EXPECT_EQ(b.cmd.u.send_cmd.sc.scsi_ata.ata_command, 0xFB);
}

TEST_F(CatalogueTest, ABlockAlreadyInTheRecordIsReplaced)
{
    guitest::write_catalogue(
        catalogue(entry("sendcmd", "x", "<data sectorCount=\"1\"><field offset=\"0\"/></data>" + kArg)));
    protocol_cmd_s cmd;
    memset(&cmd, 0, sizeof(cmd));
    ASSERT_EQ(build_cmd("sendcmd", "x", cmd, "first"), 0);
    ASSERT_EQ(build_cmd("sendcmd", "x", cmd, "2nd"), 0);
    ASSERT_NE(cmd.buffer, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(cmd.buffer)), "2nd");
    release_cmd_buffer(cmd);
    EXPECT_EQ(cmd.buffer, nullptr);
}

// ------------------------------------------------- the shipped catalogue
class ShippedCatalogue : public CatalogueTest {
protected:
    void SetUp() override
    {
        CatalogueTest::SetUp();
        guitest::write_catalogue(guitest::shipped_catalogue());
    }
};

TEST_F(ShippedCatalogue, PasswordCommandsAreTheControllersSetAndVerify)
{
    namespace ata = zvsim::ata;
    const struct {
        const char *subname;
        uint8_t command;
    } entries[] = {{"setpwd", ata::kSetPassword}, {"verifypwd", ata::kVerifyPassword}};
    for (const auto &e : entries) {
        SCOPED_TRACE(e.subname);
        Built b = build("sendcmd", e.subname, "secret");
        ASSERT_EQ(b.status, 0);
        const SCSI_ATA_PROTOCOL &pt = b.cmd.u.send_cmd.sc.scsi_ata;
        EXPECT_EQ(b.cmd.u.send_cmd.type, SEND_CMD_PROTOCOL);
        EXPECT_EQ(pt.ata_command, e.command);
        EXPECT_EQ(pt.protocol, static_cast<ATA_PROTOCOL_TYPE>(ata::kProtoPioOut));
        EXPECT_EQ(pt.bit, ATA_COMMAND_28_BIT);
        EXPECT_EQ(pt.sectors, ata::kPasswordSectorCount);
        EXPECT_EQ(pt.lba, ata::kPasswordLba);
        EXPECT_EQ(pt.features, ata::kPasswordFeature);
        EXPECT_EQ(b.cmd.data_to, DATA_TO_DEV);
        ASSERT_EQ(b.cmd.buffer_len, zvsim::kSectorSize);
        std::vector<uint8_t> expected(zvsim::kSectorSize, 0);
        memcpy(expected.data(), "secret", 6);
        EXPECT_EQ(b.block, expected) << "the password from byte 0, the rest zero";
        EXPECT_GT(b.cmd.timeout, 0u);
    }
}

TEST_F(ShippedCatalogue, PromptEntriesAddressTheVendorPromptSector)
{
    namespace ata = zvsim::ata;
    const struct {
        const char *category;
        const char *subname;
        uint8_t data_to;
    } entries[] = {{"write", "writeparam", DATA_TO_DEV}, {"read", "readparam", DATA_FROM_DEV}};
    for (const auto &e : entries) {
        SCOPED_TRACE(e.subname);
        Built b = build(e.category, e.subname, "hint");
        ASSERT_EQ(b.status, 0);
        EXPECT_EQ(b.cmd.u.rw.feature, ata::kVendorFeature);
        EXPECT_EQ(b.cmd.u.rw.lba, ata::kPromptSectorLba);
        EXPECT_EQ(b.cmd.u.rw.sectors, 1u);
        EXPECT_EQ(b.cmd.u.rw.ata_len, ATA_COMMAND_28_BIT);
        EXPECT_EQ(b.cmd.data_to, e.data_to);
        EXPECT_EQ(b.cmd.buffer_len, zvsim::kSectorSize);
        EXPECT_GT(b.cmd.timeout, 0u);
    }
    Built w = build("write", "writeparam", "hint");
    EXPECT_EQ(std::string(w.block.begin(), w.block.begin() + 5), std::string("hint\0", 5))
        << "the prompt is read back from the start of the sector";
}

TEST_F(ShippedCatalogue, IdentifyIsOneSectorIn)
{
    Built b = build("sendcmd", "identify", "");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.cmd.buffer_len, zvsim::kSectorSize);
    EXPECT_EQ(b.cmd.data_to, DATA_FROM_DEV);
    EXPECT_GT(b.cmd.timeout, 0u);
    EXPECT_EQ(b.cmd.u.send_cmd.sc.scsi_ata.ata_command, zvsim::ata::kIdentifyDevice);
}

// ------------------------------------------------------ read_param_file
class ParamFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/zv-paramfile.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string dir_;
};

struct ParamFileCase {
    const char *name;
    const char *file; // under the test's directory
    bool copied;
};

const ParamFileCase kParamFiles[] = {
    {"XmlExtension", "cat.xml", true},
    {"TwoDots", "cat.tar.xml", true},
    {"OtherExtension", "cat.txt", false},
    {"UpperCaseExtension", "cat.XML", false},
    {"DotOnlyInTheDirectory", "dir.xml/cat", false},
};

class ParamFile : public ParamFileTest, public testing::WithParamInterface<ParamFileCase> {};

TEST_P(ParamFile, CopiesOnlyXmlFiles)
{
    const ParamFileCase &c = GetParam();
    const std::string path = dir_ + "/" + c.file;
    if (std::string(c.file).find('/') != std::string::npos) {
        ASSERT_EQ(mkdir((dir_ + "/dir.xml").c_str(), 0755), 0);
    }
    const std::string content = "<SecurityCmd/>\n";
    std::ofstream(path, std::ios::binary) << content;

    char *buffer = nullptr;
    int len = 77;
    ASSERT_EQ(read_param_file(path, &buffer, len), 0);
    ASSERT_NE(buffer, nullptr);
    if (c.copied) {
        EXPECT_EQ(len, static_cast<int>(content.size()));
        EXPECT_EQ(std::string(buffer, content.size()), content);
    } else {
        EXPECT_EQ(len, 77) << "the length stays as the caller set it";
        EXPECT_EQ(std::string(buffer, content.size()), std::string(content.size(), '\0'));
    }
    delete[] buffer;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ParamFile, testing::ValuesIn(kParamFiles),
                         [](const testing::TestParamInfo<ParamFileCase> &info) { return info.param.name; });

TEST_F(ParamFileTest, MissingFileGives13AndNoBuffer)
{
    char *buffer = nullptr;
    int len = 0;
    EXPECT_EQ(read_param_file(dir_ + "/none.xml", &buffer, len), 13);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(len, 0);
}

} // namespace
