// Big- and little-endian field helpers: SCSI fields are big-endian, ATA
// words little-endian, and every layout in the simulator goes through these
// instead of shifting bytes by hand.
#pragma once

#include <cstdint>

namespace zvsim {

inline void put_be16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t *p, uint32_t v) {
    put_be16(p, static_cast<uint16_t>(v >> 16));
    put_be16(p + 2, static_cast<uint16_t>(v));
}
inline void put_be64(uint8_t *p, uint64_t v) {
    put_be32(p, static_cast<uint32_t>(v >> 32));
    put_be32(p + 4, static_cast<uint32_t>(v));
}
inline uint16_t get_be16(const uint8_t *p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t get_be32(const uint8_t *p) {
    return (static_cast<uint32_t>(get_be16(p)) << 16) | get_be16(p + 2);
}
inline uint64_t get_be64(const uint8_t *p) {
    return (static_cast<uint64_t>(get_be32(p)) << 32) | get_be32(p + 4);
}

inline void put_le16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t *p, uint32_t v) {
    put_le16(p, static_cast<uint16_t>(v));
    put_le16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put_le48(uint8_t *p, uint64_t v) {
    put_le32(p, static_cast<uint32_t>(v));
    put_le16(p + 4, static_cast<uint16_t>(v >> 32));
}
inline void put_le64(uint8_t *p, uint64_t v) {
    put_le32(p, static_cast<uint32_t>(v));
    put_le32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint16_t get_le16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get_le32(const uint8_t *p) {
    return get_le16(p) | (static_cast<uint32_t>(get_le16(p + 2)) << 16);
}
inline uint64_t get_le48(const uint8_t *p) {
    return get_le32(p) | (static_cast<uint64_t>(get_le16(p + 4)) << 32);
}
inline uint64_t get_le64(const uint8_t *p) {
    return get_le32(p) | (static_cast<uint64_t>(get_le32(p + 4)) << 32);
}

// An ATA word array, word N at bytes 2N and 2N+1 (little-endian).
inline void put_word(uint8_t *page, size_t word, uint16_t v) {
    put_le16(page + 2 * word, v);
}
inline uint16_t get_word(const uint8_t *page, size_t word) {
    return get_le16(page + 2 * word);
}

}  // namespace zvsim
