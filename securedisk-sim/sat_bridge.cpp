// The USB bridge: SCSI commands, ATA PASS-THROUGH translation and the vendor
// reset (see sat_bridge.h and the bridge chapters of DATASHEET.md).
#include "sat_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ata_controller.h"
#include "byte_order.h"
#include "controller_datasheet.h"

namespace zvsim {

namespace {
constexpr size_t kMaxCdb = 32;

struct Cdb {
    uint8_t b[kMaxCdb] = {};
    size_t len = 0;
    uint8_t op() const { return b[0]; }
};

void put_padded(uint8_t *dst, size_t len, const char *text) {
    size_t n = std::strlen(text);
    for (size_t i = 0; i < len; ++i) dst[i] = static_cast<uint8_t>(i < n ? text[i] : ' ');
}

std::string hex2(uint8_t v) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02x", v);
    return buf;
}

BridgeResult good() {
    BridgeResult r;
    r.status = scsi::kStatusGood;
    r.summary = "result=GOOD";
    return r;
}

BridgeResult check(std::vector<uint8_t> sense, uint8_t key, scsi::Asc asc) {
    BridgeResult r;
    r.status = scsi::kStatusCheckCondition;
    r.sense = std::move(sense);
    r.summary = "result=CHECK sense=" + hex2(key) + "/" + hex2(asc.asc) + "/" + hex2(asc.ascq);
    return r;
}

BridgeResult check_fixed(uint8_t key, scsi::Asc asc) {
    return check(fixed_sense(key, asc.asc, asc.ascq), key, asc);
}

BridgeResult illegal(scsi::Asc asc) { return check_fixed(scsi::kKeyIllegalRequest, asc); }
BridgeResult invalid_field() { return illegal(scsi::kAscInvalidFieldInCdb); }

// Descriptor-format sense carrying the ATA status return descriptor.
std::vector<uint8_t> ata_return_descriptor(const AtaResult &a, bool ext) {
    std::vector<uint8_t> d(scsi::kAtaReturnDescriptorLen, 0);
    d[0] = scsi::kAtaReturnDescriptor;
    d[1] = scsi::kAtaReturnDescriptorAddLen;
    d[2] = ext ? 0x01 : 0x00;
    d[3] = a.error;
    put_be16(&d[4], a.regs.count);
    put_be16(&d[6], a.regs.lba_low);
    put_be16(&d[8], a.regs.lba_mid);
    put_be16(&d[10], a.regs.lba_high);
    d[12] = a.regs.device;
    d[13] = a.status;
    return d;
}

BridgeResult check_with_ata(uint8_t key, scsi::Asc asc, const std::vector<uint8_t> &desc,
                            const AtaResult &a) {
    std::vector<uint8_t> sense(scsi::kDescriptorHeaderLen, 0);
    sense[0] = scsi::kSenseDescriptor;
    sense[1] = key;
    sense[2] = asc.asc;
    sense[3] = asc.ascq;
    sense[7] = static_cast<uint8_t>(desc.size());
    sense.insert(sense.end(), desc.begin(), desc.end());
    BridgeResult r = check(std::move(sense), key, asc);
    r.summary += " ata=" + hex2(a.status) + "/" + hex2(a.error);
    return r;
}

// ---------------------------------------------------------------- data phase
// A data-in command may hand the host fewer bytes than its buffer holds (the
// rest is the residue) or fewer than it has (allocation length rules); the
// host must not be sending. A data-out command needs all its bytes from a
// host that sends them.
bool host_takes_data(const HostData &h) {
    return h.dir != HostData::Dir::ToDevice || h.len == 0;
}

bool host_gives(const HostData &h, uint32_t bytes) {
    if (bytes == 0) return true;
    return h.dir == HostData::Dir::ToDevice && h.len >= bytes;
}

BridgeResult data_in(HostData &h, const uint8_t *data, uint32_t bytes) {
    if (!host_takes_data(h)) return invalid_field();
    BridgeResult r = good();
    r.transferred = std::min(bytes, h.len);
    if (r.transferred) std::memcpy(h.buf, data, r.transferred);
    return r;
}

// ---------------------------------------------------------------- SCSI side
BridgeResult inquiry(const DiskState &s, const Cdb &c, HostData &h) {
    const bool evpd = c.b[1] & 0x01;
    const uint8_t page = c.b[2];
    const uint16_t alloc = get_be16(&c.b[3]);
    if (c.b[1] & 0xFE) return invalid_field();
    std::vector<uint8_t> d;
    if (!evpd) {
        if (page != 0) return invalid_field();
        d.assign(scsi::kStandardInquiryLen, 0);
        d[0] = scsi::kPeripheralDisk;
        d[1] = scsi::kRemovableBit;
        d[2] = scsi::kInquiryVersionSpc4;
        d[3] = scsi::kInquiryResponseFormat;
        d[4] = static_cast<uint8_t>(scsi::kStandardInquiryLen - 5);
        put_padded(&d[8], 8, scsi::kVendor);
        put_padded(&d[16], 16, scsi::kProduct);
        put_padded(&d[32], 4, scsi::kRevision);
    } else if (page == scsi::kVpdSupportedPages) {
        d = {scsi::kPeripheralDisk, scsi::kVpdSupportedPages, 0, 3,
             scsi::kVpdSupportedPages, scsi::kVpdUnitSerial, scsi::kVpdDeviceId};
    } else if (page == scsi::kVpdUnitSerial) {
        d = {scsi::kPeripheralDisk, scsi::kVpdUnitSerial, 0, 0};
        d.insert(d.end(), s.serial.begin(), s.serial.end());
        put_be16(&d[2], static_cast<uint16_t>(d.size() - 4));
    } else if (page == scsi::kVpdDeviceId) {
        // One T10 vendor identification designator: vendor + serial, ASCII.
        std::vector<uint8_t> id(8);
        put_padded(id.data(), 8, scsi::kVendor);
        id.insert(id.end(), s.serial.begin(), s.serial.end());
        d = {scsi::kPeripheralDisk, scsi::kVpdDeviceId, 0, 0, 0x02, 0x01, 0x00,
             static_cast<uint8_t>(id.size())};
        d.insert(d.end(), id.begin(), id.end());
        put_be16(&d[2], static_cast<uint16_t>(d.size() - 4));
    } else {
        return invalid_field();
    }
    return data_in(h, d.data(), std::min<uint32_t>(alloc, static_cast<uint32_t>(d.size())));
}

BridgeResult request_sense(const Cdb &c, HostData &h) {
    // Sense data travels with every failing command (autosense), so nothing
    // is ever pending here.
    const bool desc = c.b[1] & 0x01;
    std::vector<uint8_t> d = desc ? std::vector<uint8_t>(scsi::kDescriptorHeaderLen, 0)
                                  : fixed_sense(scsi::kKeyNoSense, 0, 0);
    if (desc) d[0] = scsi::kSenseDescriptor;
    return data_in(h, d.data(), std::min<uint32_t>(c.b[4], static_cast<uint32_t>(d.size())));
}

BridgeResult read_capacity10(const DiskState &s, HostData &h) {
    uint8_t d[scsi::kReadCapacity10Len] = {};
    uint64_t last = s.presented_sectors() - 1;
    put_be32(d, last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
    put_be32(d + 4, kSectorSize);
    return data_in(h, d, sizeof d);
}

BridgeResult read_capacity16(const DiskState &s, const Cdb &c, HostData &h) {
    if ((c.b[1] & 0x1F) != scsi::kReadCapacity16Action) return invalid_field();
    uint8_t d[scsi::kReadCapacity16Len] = {};
    put_be64(d, s.presented_sectors() - 1);
    put_be32(d + 8, kSectorSize);
    uint32_t alloc = get_be32(&c.b[10]);
    return data_in(h, d, std::min<uint32_t>(alloc, sizeof d));
}

BridgeResult read_write(DiskState &s, DiskMedia &m, const Cdb &c, HostData &h) {
    const bool is16 = c.op() == scsi::kRead16 || c.op() == scsi::kWrite16;
    const bool write = c.op() == scsi::kWrite10 || c.op() == scsi::kWrite16;
    const uint64_t lba = is16 ? get_be64(&c.b[2]) : get_be32(&c.b[2]);
    const uint32_t count = is16 ? get_be32(&c.b[10]) : get_be16(&c.b[7]);
    const uint64_t sectors = s.presented_sectors();
    if (lba > sectors || count > sectors - lba) return illegal(scsi::kAscLbaOutOfRange);
    if (count > scsi::kMaxTransferSectors) return invalid_field();
    const uint32_t bytes = count * kSectorSize;
    std::vector<uint8_t> buf(bytes);
    if (write) {
        if (!host_gives(h, bytes)) return invalid_field();
        if (bytes) std::memcpy(buf.data(), h.buf, bytes);
        if (count && !m.write(lba, count, buf.data()))
            return check_fixed(scsi::kKeyMediumError, scsi::kAscWriteError);
        s.lbas_written += count;
        BridgeResult r = good();
        r.transferred = bytes;
        return r;
    }
    if (!host_takes_data(h)) return invalid_field();
    if (count && !m.read(lba, count, buf.data()))
        return check_fixed(scsi::kKeyMediumError, scsi::kAscUnrecoveredReadError);
    s.lbas_read += count;
    return data_in(h, buf.data(), bytes);
}

BridgeResult vendor_reset(const DiskState &s, const Cdb &c, CdbDelivery delivery) {
    const bool whole =
        c.len == scsi::kCdb16 && std::memcmp(c.b, scsi::kVendorResetCdb, scsi::kCdb16) == 0;
    const bool cut = delivery == CdbDelivery::GroupLength && c.len == scsi::kVendorResetCutLen &&
                     std::memcmp(c.b, scsi::kVendorResetCdb, scsi::kVendorResetCutLen) == 0;
    if (!whole && !cut) return invalid_field();
    if (s.reset_refused) return illegal(scsi::kAscInvalidOpcode);
    BridgeResult r = good();
    r.leave_bus = true;
    return r;
}

// ---------------------------------------------------------- ATA PASS-THROUGH
struct PassThrough {
    bool ext = false;
    uint8_t protocol = 0;
    uint8_t multiple = 0;
    bool ck_cond = false;
    bool t_type = false;
    bool from_device = false;   // T_DIR
    bool byte_block = false;
    uint8_t t_length = 0;
    AtaTaskfile tf;
};

PassThrough decode_pass_through(const Cdb &c) {
    PassThrough p;
    const bool is16 = c.op() == scsi::kAtaPassThrough16;
    p.ext = is16 && (c.b[1] & scsi::kPtExtendBit);
    p.protocol = (c.b[1] >> scsi::kPtProtocolShift) & scsi::kPtProtocolMask;
    p.multiple = static_cast<uint8_t>(c.b[1] >> scsi::kPtMultipleShift);
    p.ck_cond = c.b[2] & scsi::kPtCkCondBit;
    p.t_type = c.b[2] & scsi::kPtTTypeBit;
    p.from_device = c.b[2] & scsi::kPtTDirBit;
    p.byte_block = c.b[2] & scsi::kPtByteBlockBit;
    p.t_length = c.b[2] & scsi::kPtTLengthMask;
    if (is16) {
        // Without EXTEND only the current (low) register bytes go out.
        auto pair = [&](size_t i) {
            return static_cast<uint16_t>(p.ext ? get_be16(&c.b[i]) : c.b[i + 1]);
        };
        p.tf.feature = pair(3);
        p.tf.count = pair(5);
        p.tf.lba_low = pair(7);
        p.tf.lba_mid = pair(9);
        p.tf.lba_high = pair(11);
        p.tf.device = c.b[13];
        p.tf.command = c.b[14];
    } else {
        p.tf.feature = c.b[3];
        p.tf.count = c.b[4];
        p.tf.lba_low = c.b[5];
        p.tf.lba_mid = c.b[6];
        p.tf.lba_high = c.b[7];
        p.tf.device = c.b[8];
        p.tf.command = c.b[9];
    }
    return p;
}

bool is_data_protocol(uint8_t proto) {
    return proto == ata::kProtoPioIn || proto == ata::kProtoPioOut || proto == ata::kProtoDma ||
           proto == ata::kProtoUdmaIn || proto == ata::kProtoUdmaOut;
}

// The data phase the CDB announces; false when its fields contradict each
// other.
bool announced_phase(const PassThrough &p, DataPhase *phase, uint32_t *bytes) {
    if (p.t_length == scsi::kPtTLengthNone) {
        if (is_data_protocol(p.protocol)) return false;
        *phase = DataPhase::None;
        *bytes = 0;
        return true;
    }
    if (p.t_length == scsi::kPtTLengthTpsiu || !is_data_protocol(p.protocol)) return false;
    const bool proto_in = p.protocol == ata::kProtoPioIn || p.protocol == ata::kProtoUdmaIn;
    const bool proto_out = p.protocol == ata::kProtoPioOut || p.protocol == ata::kProtoUdmaOut;
    if ((proto_in && !p.from_device) || (proto_out && p.from_device)) return false;
    uint32_t field = p.t_length == scsi::kPtTLengthFeatures ? p.tf.feature : p.tf.count;
    if (!p.ext) field &= 0xFF;
    // BYTE_BLOCK=1 counts 512-byte blocks (T_TYPE=0) or logical sectors
    // (T_TYPE=1, also 512 bytes here); BYTE_BLOCK=0 counts bytes.
    *bytes = p.byte_block ? field * kSectorSize : field;
    *phase = p.from_device ? DataPhase::In : DataPhase::Out;
    return true;
}

BridgeResult pass_through(DiskState &s, DiskMedia &m, const Cdb &c, HostData &h) {
    PassThrough p = decode_pass_through(c);
    auto remember = [&s](const std::vector<uint8_t> &desc) {
        std::copy(desc.begin(), desc.end(), s.last_ata.begin());
    };

    switch (p.protocol) {
    case ata::kProtoHardReset:
    case ata::kProtoSoftReset: {
        if (p.t_length != scsi::kPtTLengthNone) return invalid_field();
        AtaResult a;
        a.status = ata::kStatusGood;
        a.regs = p.tf;
        remember(ata_return_descriptor(a, p.ext));
        if (!p.ck_cond) return good();
        return check_with_ata(scsi::kKeyRecoveredError, scsi::kAscAtaInfoAvailable,
                              ata_return_descriptor(a, p.ext), a);
    }
    case ata::kProtoReturnResponse: {
        if (p.t_length != scsi::kPtTLengthNone) return invalid_field();
        std::vector<uint8_t> desc(s.last_ata.begin(), s.last_ata.end());
        desc[0] = scsi::kAtaReturnDescriptor;
        desc[1] = scsi::kAtaReturnDescriptorAddLen;
        AtaResult a;
        a.status = desc[13];
        a.error = desc[3];
        return check_with_ata(scsi::kKeyRecoveredError, scsi::kAscAtaInfoAvailable, desc, a);
    }
    case ata::kProtoNonData:
    case ata::kProtoPioIn:
    case ata::kProtoPioOut:
    case ata::kProtoDma:
    case ata::kProtoUdmaIn:
    case ata::kProtoUdmaOut:
        break;
    default:
        return invalid_field();
    }

    DataPhase phase = DataPhase::None;
    uint32_t bytes = 0;
    if (!announced_phase(p, &phase, &bytes)) return invalid_field();
    const AtaDataShape shape = ata_data_shape(p.tf);
    if (shape.known) {
        if (!(shape.protocols & (1u << p.protocol)) || shape.phase != phase ||
            shape.bytes != bytes)
            return invalid_field();
    }
    if (bytes > scsi::kMaxTransferBytes) return invalid_field();
    if (phase == DataPhase::In && !host_takes_data(h)) return invalid_field();
    if (phase == DataPhase::Out && !host_gives(h, bytes)) return invalid_field();

    AtaResult a;
    std::vector<uint8_t> buf(bytes);
    if (!shape.known) {
        // A command the controller does not implement: it aborts at once.
        a.status = ata::kStatusAborted;
        a.error = ata::kErrorAbort;
        a.regs = p.tf;
    } else {
        if (phase == DataPhase::Out && bytes) std::memcpy(buf.data(), h.buf, bytes);
        a = ata_execute(s, m, p.tf, buf.data());
    }
    const std::vector<uint8_t> desc = ata_return_descriptor(a, p.ext);
    remember(desc);
    if (a.aborted())
        return check_with_ata(scsi::kKeyAbortedCommand, scsi::kAscNone, desc, a);

    BridgeResult r = good();
    if (phase == DataPhase::In) {
        r = data_in(h, buf.data(), bytes);
    } else if (phase == DataPhase::Out) {
        r.transferred = bytes;
    }
    if (p.ck_cond) {
        uint32_t moved = r.transferred;
        r = check_with_ata(scsi::kKeyRecoveredError, scsi::kAscAtaInfoAvailable, desc, a);
        r.transferred = moved;
    }
    return r;
}
}  // namespace

std::vector<uint8_t> fixed_sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> d(scsi::kFixedSenseLen, 0);
    d[0] = scsi::kSenseFixed;
    d[2] = key;
    d[7] = static_cast<uint8_t>(scsi::kFixedSenseLen - 8);
    d[12] = asc;
    d[13] = ascq;
    return d;
}

BridgeResult bridge_refusal(uint8_t key, scsi::Asc asc) { return check_fixed(key, asc); }

BridgeResult bridge_execute(DiskState &s, DiskMedia &media, const uint8_t *cdb, size_t cdb_len,
                            HostData &host, CdbDelivery delivery) {
    Cdb c;
    c.len = std::min(cdb_len, kMaxCdb);
    std::memcpy(c.b, cdb, c.len);
    switch (c.op()) {
    case scsi::kTestUnitReady:
        return good();
    case scsi::kRequestSense:
        return request_sense(c, host);
    case scsi::kInquiry:
        return inquiry(s, c, host);
    case scsi::kReadCapacity10:
        return read_capacity10(s, host);
    case scsi::kServiceActionIn16:
        return read_capacity16(s, c, host);
    case scsi::kRead10:
    case scsi::kWrite10:
    case scsi::kRead16:
    case scsi::kWrite16:
        return read_write(s, media, c, host);
    case scsi::kAtaPassThrough12:
    case scsi::kAtaPassThrough16:
        return pass_through(s, media, c, host);
    case scsi::kVendorReset:
        return vendor_reset(s, c, delivery);
    default:
        return illegal(scsi::kAscInvalidOpcode);
    }
}

}  // namespace zvsim
