// Helpers of the simulator's tests: open a device node, send one SCSI
// command with SG_IO exactly as a program would, read status and sense
// (fixed or descriptor format, with the ATA status return descriptor), and
// build the ATA PASS-THROUGH blocks of the controller's commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

struct SgResult {
    int ret = -1;      // ioctl return value
    int err = 0;       // errno when ret < 0
    uint8_t status = 0xFF;
    uint8_t masked_status = 0;
    uint16_t host_status = 0;
    uint16_t driver_status = 0;
    int resid = 0;
    unsigned info = 0;
    unsigned duration = 0;
    std::vector<uint8_t> sense;   // sb_len_wr bytes
    std::vector<uint8_t> data;    // data-in buffer (as sized by the caller)

    bool good() const { return ret == 0 && status == 0; }
    uint8_t sense_key() const;
    uint8_t asc() const;
    uint8_t ascq() const;
    // The 14-byte ATA status return descriptor, empty when there is none.
    std::vector<uint8_t> ata_descriptor() const;
};

// A file descriptor opened with the real open(2), closed on destruction.
class Fd {
public:
    Fd(const std::string &path, int flags);
    ~Fd();
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int open_errno() const { return err_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    int err_ = 0;
};

enum class Xfer { None, In, Out };

// One SG_IO. For Xfer::In `in_len` bytes are offered; for Xfer::Out `out` is
// sent. mx_sb_len 32.
SgResult sg_command(int fd, const std::vector<uint8_t> &cdb, Xfer xfer,
                    const std::vector<uint8_t> &out = {}, uint32_t in_len = 0);

// ATA PASS-THROUGH (16) fields.
struct AtaPt16 {
    uint8_t protocol = 4;
    bool extend = false;
    uint8_t multiple = 0;
    bool ck_cond = false;
    bool t_type = false;
    bool t_dir_in = true;
    bool byte_block = true;
    uint8_t t_length = 2;
    uint16_t feature = 0;
    uint16_t count = 0;
    uint64_t lba = 0;      // 48 bits with extend, else 24 (+ device bits)
    uint8_t device = 0x40;
    uint8_t command = 0;
    std::vector<uint8_t> cdb() const;
};
// ATA PASS-THROUGH (12) from the same fields (no extend).
std::vector<uint8_t> ata_pt12(const AtaPt16 &f);

AtaPt16 identify_fields();
AtaPt16 password_fields(uint8_t command);   // 0xFA or 0xFB, the right signature
AtaPt16 prompt_fields(bool read);           // READ/WRITE DMA EXT of vendor LBA 0x10
std::vector<uint8_t> password_sector(const std::string &pw);

SgResult identify(int fd);
SgResult set_password(int fd, const std::string &pw);
SgResult verify_password(int fd, const std::string &pw);
SgResult read_prompt(int fd);
SgResult write_prompt(int fd, const std::vector<uint8_t> &sector);
SgResult vendor_reset(int fd);
SgResult read10(int fd, uint32_t lba, uint16_t count);
SgResult write10(int fd, uint32_t lba, const std::vector<uint8_t> &data);

// A sector filled from a seed, so different writes are told apart.
std::vector<uint8_t> pattern(size_t bytes, uint32_t seed);

// ATA string at [offset, offset+len) of an identify page, spaces trimmed.
std::string ata_string(const std::vector<uint8_t> &page, size_t offset, size_t len);

}  // namespace simtest
