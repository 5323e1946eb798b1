// Helpers of the simulator's tests (see sg_helpers.h).
#include "sg_helpers.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace simtest {

namespace {
constexpr uint8_t kMaxSense = 32;

void be16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void be32(uint8_t *p, uint32_t v) {
    be16(p, static_cast<uint16_t>(v >> 16));
    be16(p + 2, static_cast<uint16_t>(v));
}
}  // namespace

uint8_t SgResult::sense_key() const {
    if (sense.size() < 3) return 0;
    if ((sense[0] & 0x7F) >= 0x72) return sense[1] & 0x0F;
    return sense[2] & 0x0F;
}

uint8_t SgResult::asc() const {
    if ((sense.size() >= 4) && (sense[0] & 0x7F) >= 0x72) return sense[2];
    return sense.size() > 12 ? sense[12] : 0;
}

uint8_t SgResult::ascq() const {
    if ((sense.size() >= 4) && (sense[0] & 0x7F) >= 0x72) return sense[3];
    return sense.size() > 13 ? sense[13] : 0;
}

std::vector<uint8_t> SgResult::ata_descriptor() const {
    if (sense.size() < 8 || (sense[0] & 0x7F) < 0x72) return {};
    size_t end = std::min<size_t>(sense.size(), 8u + sense[7]);
    for (size_t i = 8; i + 1 < end; i += 2u + sense[i + 1]) {
        if (sense[i] == 0x09 && i + 14 <= end)
            return std::vector<uint8_t>(sense.begin() + static_cast<long>(i),
                                        sense.begin() + static_cast<long>(i) + 14);
    }
    return {};
}

Fd::Fd(const std::string &path, int flags) {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd_ < 0) err_ = errno;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

SgResult sg_command(int fd, const std::vector<uint8_t> &cdb, Xfer xfer,
                    const std::vector<uint8_t> &out, uint32_t in_len) {
    SgResult r;
    std::vector<uint8_t> cmd = cdb;
    std::vector<uint8_t> sense(kMaxSense, 0);
    std::vector<uint8_t> buf = xfer == Xfer::Out ? out : std::vector<uint8_t>(in_len, 0);
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.cmd_len = static_cast<unsigned char>(cmd.size());
    h.cmdp = cmd.data();
    h.mx_sb_len = kMaxSense;
    h.sbp = sense.data();
    h.timeout = 20000;
    switch (xfer) {
    case Xfer::None: h.dxfer_direction = SG_DXFER_NONE; break;
    case Xfer::In: h.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case Xfer::Out: h.dxfer_direction = SG_DXFER_TO_DEV; break;
    }
    if (xfer != Xfer::None) {
        h.dxfer_len = static_cast<unsigned>(buf.size());
        h.dxferp = buf.empty() ? nullptr : buf.data();
    }
    r.ret = ::ioctl(fd, SG_IO, &h);
    r.err = r.ret < 0 ? errno : 0;
    if (r.ret == 0) {
        r.status = h.status;
        r.masked_status = h.masked_status;
        r.host_status = h.host_status;
        r.driver_status = h.driver_status;
        r.resid = h.resid;
        r.info = h.info;
        r.duration = h.duration;
        r.sense.assign(sense.begin(), sense.begin() + h.sb_len_wr);
        if (xfer == Xfer::In) r.data = buf;
    }
    return r;
}

std::vector<uint8_t> AtaPt16::cdb() const {
    std::vector<uint8_t> c(16, 0);
    c[0] = 0x85;
    c[1] = static_cast<uint8_t>((multiple << 5) | ((protocol & 0x0F) << 1) | (extend ? 1 : 0));
    c[2] = static_cast<uint8_t>((ck_cond ? 0x20 : 0) | (t_type ? 0x10 : 0) | (t_dir_in ? 0x08 : 0) |
                                (byte_block ? 0x04 : 0) | (t_length & 0x03));
    c[3] = extend ? static_cast<uint8_t>(feature >> 8) : 0;
    c[4] = static_cast<uint8_t>(feature);
    c[5] = extend ? static_cast<uint8_t>(count >> 8) : 0;
    c[6] = static_cast<uint8_t>(count);
    c[7] = extend ? static_cast<uint8_t>(lba >> 24) : 0;
    c[8] = static_cast<uint8_t>(lba);
    c[9] = extend ? static_cast<uint8_t>(lba >> 32) : 0;
    c[10] = static_cast<uint8_t>(lba >> 8);
    c[11] = extend ? static_cast<uint8_t>(lba >> 40) : 0;
    c[12] = static_cast<uint8_t>(lba >> 16);
    c[13] = device;
    c[14] = command;
    return c;
}

std::vector<uint8_t> ata_pt12(const AtaPt16 &f) {
    std::vector<uint8_t> c16 = f.cdb();
    std::vector<uint8_t> c(12, 0);
    c[0] = 0xA1;
    c[1] = static_cast<uint8_t>(c16[1] & 0xFE);
    c[2] = c16[2];
    c[3] = c16[4];
    c[4] = c16[6];
    c[5] = c16[8];
    c[6] = c16[10];
    c[7] = c16[12];
    c[8] = c16[13];
    c[9] = c16[14];
    return c;
}

AtaPt16 identify_fields() {
    AtaPt16 f;
    f.protocol = 4;
    f.count = 1;
    f.command = 0xEC;
    return f;
}

AtaPt16 password_fields(uint8_t command) {
    AtaPt16 f;
    f.protocol = 5;
    f.t_dir_in = false;
    f.count = 1;
    f.lba = 0x5A5653;
    f.device = 0x40;
    f.command = command;
    return f;
}

AtaPt16 prompt_fields(bool read) {
    AtaPt16 f;
    f.protocol = 6;
    f.extend = true;
    f.t_dir_in = read;
    f.feature = 0x5A;
    f.count = 1;
    f.lba = 0x10;
    f.command = read ? 0x25 : 0x35;
    return f;
}

std::vector<uint8_t> password_sector(const std::string &pw) {
    std::vector<uint8_t> s(512, 0);
    std::memcpy(s.data(), pw.data(), std::min<size_t>(pw.size(), 512));
    return s;
}

SgResult identify(int fd) { return sg_command(fd, identify_fields().cdb(), Xfer::In, {}, 512); }

SgResult set_password(int fd, const std::string &pw) {
    return sg_command(fd, password_fields(0xFA).cdb(), Xfer::Out, password_sector(pw));
}

SgResult verify_password(int fd, const std::string &pw) {
    return sg_command(fd, password_fields(0xFB).cdb(), Xfer::Out, password_sector(pw));
}

SgResult read_prompt(int fd) { return sg_command(fd, prompt_fields(true).cdb(), Xfer::In, {}, 512); }

SgResult write_prompt(int fd, const std::vector<uint8_t> &sector) {
    return sg_command(fd, prompt_fields(false).cdb(), Xfer::Out, sector);
}

SgResult vendor_reset(int fd) {
    // Sent the way the disk service sends it: data-out with no buffer.
    std::vector<uint8_t> cdb = {0xEE, 0xB0, 0, 0, 0, 0, 0x62, 0, 0x04, 0, 0, 0, 0xAA, 0x99, 0, 0};
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_TO_DEV;
    h.cmd_len = 16;
    h.cmdp = cdb.data();
    h.flags = 2;
    SgResult r;
    r.ret = ::ioctl(fd, SG_IO, &h);
    r.err = r.ret < 0 ? errno : 0;
    if (r.ret == 0) {
        r.status = h.status;
        r.driver_status = h.driver_status;
        r.info = h.info;
    }
    return r;
}

SgResult read10(int fd, uint32_t lba, uint16_t count) {
    std::vector<uint8_t> cdb(10, 0);
    cdb[0] = 0x28;
    be32(&cdb[2], lba);
    be16(&cdb[7], count);
    return sg_command(fd, cdb, Xfer::In, {}, count * 512u);
}

SgResult write10(int fd, uint32_t lba, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> cdb(10, 0);
    cdb[0] = 0x2A;
    be32(&cdb[2], lba);
    be16(&cdb[7], static_cast<uint16_t>(data.size() / 512));
    return sg_command(fd, cdb, Xfer::Out, data);
}

std::vector<uint8_t> pattern(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> v(bytes);
    uint32_t x = seed * 2654435761u + 1;
    for (auto &b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

std::string ata_string(const std::vector<uint8_t> &page, size_t offset, size_t len) {
    std::string s;
    for (size_t i = 0; i < len; ++i) s.push_back(static_cast<char>(page[offset + (i ^ 1)]));
    size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? "" : s.substr(0, end + 1);
}

}  // namespace simtest
