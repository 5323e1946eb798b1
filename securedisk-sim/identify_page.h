// The controller's 512-byte IDENTIFY DEVICE page, built from the disk's
// state: ATA strings, capacity of the presented area, the secure-disk
// signature, tries and password flag, and the integrity word.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "disk_state.h"

namespace zvsim {

using Sector = std::array<uint8_t, kSectorSize>;

Sector build_identify_page(const DiskState &s);

// Writes `text` as an ATA string: space padded to `len` bytes, the two
// bytes of every word swapped.
void put_ata_string(uint8_t *dst, size_t len, const std::string &text);

// Sets the last byte so that all 512 bytes sum to 0 modulo 256, after
// putting `signature` in the byte before it.
void seal_integrity_word(Sector &page, uint8_t signature);

}  // namespace zvsim
