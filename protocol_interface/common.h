/*
 * Helpers shared by the transports and independent of the operating system:
 * builders that lay out SCSI command blocks, ATA PASS-THROUGH (16) blocks and
 * raw ATA register images, the lookup in the ATA command table, sense-data
 * decoding, byte-order helpers and the debug dumps.
 */
#ifndef PROTOCOL_COMMON_H
#define PROTOCOL_COMMON_H

#include "ata_command.h"
#include "protocol_type.h"

#define ATA_PASS_THROUGH_16_CMD    0x85
#define ATA_PASS_THROUGH_16_CMDLEN 16
#define ATA_REGISTER_28_LEN        7  /* feature, count, lba 0-23, device, command */
#define ATA_REGISTER_48_LEN        15 /* the 28-bit image, a gap, then the high halves */

#define ATA_LBA28_MAX   0xFFFFFFull
#define ATA_LBA48_MAX   0xFFFFFFFFFFFFull
#define ATA_COUNT28_MAX 256u   /* a count byte of 0 means 256 */
#define ATA_COUNT48_MAX 65536u /* a count word of 0 means 65536 */

#define ATA_DEVICE_LBA_BIT 0x40

typedef struct scsi_sense_s {
    uint8_t response_code;
    uint8_t sense_key;
    uint8_t additional_sense;
    uint8_t additional_sense_qualifier;
} SCSI_SENSE, *PSCSI_SENSE;

/* Byte order ---------------------------------------------------------------*/
static inline void put_be16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)(v >> 8); p[1] = (uint8_t)v; }
static inline void put_be32(uint8_t *p, uint32_t v)
{
    put_be16(p, (uint16_t)(v >> 16));
    put_be16(p + 2, (uint16_t)v);
}
static inline void put_be64(uint8_t *p, uint64_t v)
{
    put_be32(p, (uint32_t)(v >> 32));
    put_be32(p + 4, (uint32_t)v);
}
static inline uint16_t get_le16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t get_le32(const uint8_t *p)
{
    return (uint32_t)get_le16(p) | ((uint32_t)get_le16(p + 2) << 16);
}
static inline uint64_t get_le64(const uint8_t *p)
{
    return (uint64_t)get_le32(p) | ((uint64_t)get_le32(p + 4) << 32);
}

/* ATA PASS-THROUGH (16) --------------------------------------------------*/

/* Clears the 16-byte block and lays out a 28-bit pass-through. */
void init_scsi_ata_28(uint8_t *v_cdb, uint8_t v_command, ATA_PROTOCOL_TYPE v_protocol, uint64_t v_lba,
                      uint32_t v_sectors, uint32_t v_direction, uint16_t v_feature, uint8_t v_device,
                      T_LENGTH v_t_length);

/* Lays out a 48-bit pass-through over a block the caller has cleared. */
void init_scsi_ata_48(uint8_t *v_cdb, uint8_t v_command, ATA_PROTOCOL_TYPE v_protocol, uint64_t v_lba,
                      uint32_t v_sectors, uint32_t v_direction, uint16_t v_feature, uint8_t v_device,
                      T_LENGTH v_t_length);

/* Clears v_cdb_len bytes and builds the block from the structure.
 * Returns 0, or 2 when v_cdb_len cannot hold a 16-byte block. */
PROTOCOL_STATUS init_scsi_ata_protocol(uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                                       const SCSI_ATA_PROTOCOL *v_protocol);

/* As init_scsi_ata_protocol without clearing. Returns 0, or 19 for a width
 * other than 28 and 48 bits. */
PROTOCOL_STATUS init_scsi_ata_cdb(uint8_t *v_cdb, const SCSI_ATA_PROTOCOL *v_protocol, uint32_t v_direction);

/* Table-driven pass-through over a cleared block: width and protocol come from
 * the ATA command table. Returns 0, or 46 (block untouched) for an unknown
 * command. */
PROTOCOL_STATUS init_scsi_ata(uint8_t *v_cdb, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                              uint8_t v_device, uint16_t v_feature);

/* Looks the command (and feature) up in the ATA command table.
 * Returns 0, or 46 when it is not there. */
PROTOCOL_STATUS get_ata_attr(uint8_t v_command, uint16_t v_feature, ATA_COMMAND_ATTR *v_attr);

/* SCSI command blocks -----------------------------------------------------*/
void init_scsi_cdb_16(uint8_t *v_cdb, uint8_t v_opcode, uint64_t v_lba, uint32_t v_sectors);
void init_scsi_cdb_10(uint8_t *v_cdb, uint8_t v_opcode, uint64_t v_lba, uint32_t v_sectors);
/* Returns 0, or 17 when the structure's len is not 16; does not clear. */
PROTOCOL_STATUS init_scsi_cdb(uint8_t *v_cdb, const SCSI_PROTOCOL *v_protocol);
/* Clears the block first. Returns 0, 25 when the structure's len is not 16,
 * or 2 when v_cdb_len cannot hold a 16-byte block. */
PROTOCOL_STATUS init_scsi_protocol(uint8_t *v_cdb, uint32_t v_cdb_len, const SCSI_PROTOCOL *v_protocol);

/* Raw ATA register images ---------------------------------------------------*/
/* Return 0, 18 (LBA too large for the width) or 48 (count too large). */
PROTOCOL_STATUS init_ata_28_bit(uint8_t *v_reg, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                                uint8_t v_device, uint16_t v_feature);
PROTOCOL_STATUS init_ata_48_bit(uint8_t *v_reg, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                                uint8_t v_device, uint16_t v_feature);
/* Clears v_len bytes and picks the width by the structure's bit. Returns the
 * builder's status, or 2 when v_len cannot hold the image. */
PROTOCOL_STATUS init_ata_protocol(uint8_t *v_reg, uint32_t v_len, const ATA_PROTOCOL *v_protocol);

/* Sense data --------------------------------------------------------------*/
/* Returns 0, or 1 for a response code that is neither fixed nor descriptor
 * format (v_sense_out then untouched). */
int get_scsi_sense(const uint8_t *v_sense, PSCSI_SENSE v_sense_out);
void show_scsi_sense(const SCSI_SENSE *v_sense);

/* Debug output on standard output -----------------------------------------*/
void hex_dump(const uint8_t *v_data, uint32_t v_len);
void binary_dump(const uint8_t *v_data, uint32_t v_len);
/* Integer to text in bases 2 to 36 (other bases give an empty text). */
char *define_itoa(int v_value, char *v_text, int v_base);
/* Swaps the two bytes of every 16-bit word (ATA strings to reading order). */
void swap2bit(uint8_t *v_data, uint32_t v_len);

#endif /* PROTOCOL_COMMON_H */
