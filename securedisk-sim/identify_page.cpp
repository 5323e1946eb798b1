// The controller's IDENTIFY DEVICE page (see identify_page.h; the layout is
// the IDENTIFY table of DATASHEET.md).
#include "identify_page.h"

#include <algorithm>

#include "byte_order.h"

namespace zvsim {

void put_ata_string(uint8_t *dst, size_t len, const std::string &text) {
    for (size_t i = 0; i < len; ++i) {
        char c = i < text.size() ? text[i] : ' ';
        dst[i ^ 1] = static_cast<uint8_t>(c);   // byte-swapped words
    }
}

void seal_integrity_word(Sector &page, uint8_t signature) {
    page[kSectorSize - 2] = signature;
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < kSectorSize; ++i) sum += page[i];
    page[kSectorSize - 1] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

Sector build_identify_page(const DiskState &s) {
    namespace id = ata::id;
    Sector p{};
    uint8_t *b = p.data();
    const uint64_t sectors = s.presented_sectors();

    put_word(b, id::kGeneralConfigWord, id::kGeneralConfig);
    put_ata_string(b + id::kSerialOffset, id::kSerialLen, s.serial);
    put_ata_string(b + id::kFirmwareOffset, id::kFirmwareLen, id::kFirmware);
    put_ata_string(b + id::kModelOffset, id::kModelLen, id::kModel);
    put_word(b, id::kCapabilitiesWord, id::kCapLba | id::kCapDma);
    put_word(b, id::kValidityWord, id::kValidity);
    put_le32(b + 2 * id::kLba28Word,
             static_cast<uint32_t>(std::min<uint64_t>(sectors, id::kLba28Max)));
    put_word(b, id::kMultiwordDmaWord, id::kMultiwordDma);
    put_word(b, id::kMajorVersionWord, id::kMajorVersion);
    put_word(b, id::kCommandSet1Word, s.smart_supported ? id::kCommandSet1 : 0);
    put_word(b, id::kCommandSet2Word, id::kCommandSet2);
    put_word(b, id::kCommandSet3Word, id::kCommandSet3);
    put_word(b, id::kEnabled1Word, s.smart_supported && s.smart_enabled ? id::kEnabledSmart : 0);
    put_word(b, id::kEnabled2Word, id::kEnabled48Bit);
    put_word(b, id::kEnabled3Word, id::kEnabled3);
    put_word(b, id::kUltraDmaWord, id::kUltraDma);
    put_le64(b + 2 * id::kLba48Word, sectors);
    put_word(b, id::kSectorSizeWord, id::kSectorSizeInfo);
    put_word(b, id::kSignatureWord, id::kSignature);
    b[id::kTriesLeftByte] = static_cast<uint8_t>(std::clamp(s.tries_left, 0, 255));
    b[id::kPasswordSetByte] = s.password_set ? 1 : 0;
    seal_integrity_word(p, id::kIntegritySignature);
    return p;
}

}  // namespace zvsim
