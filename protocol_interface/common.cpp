/*
 * Command-block builders, the ATA command table lookup, sense decoding and
 * debug dumps. Every transport lays out its blocks here, so the byte
 * positions of the SCSI/ATA Translation formats live in one place.
 */
#include "common.h"

#include <stdio.h>
#include <string.h>

/* ATA PASS-THROUGH (16), byte 2: the length always counts 512-byte blocks. */
#define SAT_BYTE_BLOCK   0x04
#define SAT_T_DIR_SHIFT  3
#define SAT_T_LEN_FROM_DEV_BLOCKS_COUNT 0x0E /* t_dir, byte_block, length in count */
#define SAT_T_LEN_TO_DEV_BLOCKS_COUNT   0x06 /* byte_block, length in count */

static uint8_t sat_length_byte(uint32_t v_direction, T_LENGTH v_t_length)
{
    if (v_direction == DATA_NONE)
        return SAT_BYTE_BLOCK;
    uint32_t t_length = v_t_length == T_LENGTH_NO_DATA ? T_LENGTH_SECTORS : v_t_length;
    return (uint8_t)(t_length | (v_direction << SAT_T_DIR_SHIFT) | SAT_BYTE_BLOCK);
}

/* Bytes 4 to 12 of a 28-bit pass-through: feature and count in 8 bits,
 * LBA bits 0 to 23 (bits 24 to 27 are not placed). */
static void put_ata_28_registers(uint8_t *v_cdb, uint64_t v_lba, uint32_t v_sectors, uint16_t v_feature)
{
    v_cdb[4] = (uint8_t)v_feature;
    v_cdb[6] = (uint8_t)v_sectors;
    v_cdb[8] = (uint8_t)v_lba;
    v_cdb[10] = (uint8_t)(v_lba >> 8);
    v_cdb[12] = (uint8_t)(v_lba >> 16);
}

void init_scsi_ata_28(uint8_t *v_cdb, uint8_t v_command, ATA_PROTOCOL_TYPE v_protocol, uint64_t v_lba,
                      uint32_t v_sectors, uint32_t v_direction, uint16_t v_feature, uint8_t v_device,
                      T_LENGTH v_t_length)
{
    memset(v_cdb, 0, ATA_PASS_THROUGH_16_CMDLEN);
    v_cdb[0] = ATA_PASS_THROUGH_16_CMD;
    v_cdb[1] = (uint8_t)(v_protocol << 1);
    v_cdb[2] = sat_length_byte(v_direction, v_t_length);
    put_ata_28_registers(v_cdb, v_lba, v_sectors, v_feature);
    v_cdb[13] = (uint8_t)(v_device | ATA_DEVICE_LBA_BIT);
    v_cdb[14] = v_command;
}

/* Bytes 3 to 12 of a 48-bit pass-through: feature and count in 16 bits, the
 * LBA in 48 bits, each high byte before its low byte. */
static void put_ata_48_registers(uint8_t *v_cdb, uint64_t v_lba, uint32_t v_sectors, uint16_t v_feature)
{
    v_cdb[3] = (uint8_t)(v_feature >> 8);
    v_cdb[4] = (uint8_t)v_feature;
    v_cdb[5] = (uint8_t)(v_sectors >> 8);
    v_cdb[6] = (uint8_t)v_sectors;
    v_cdb[7] = (uint8_t)(v_lba >> 24);
    v_cdb[8] = (uint8_t)v_lba;
    v_cdb[9] = (uint8_t)(v_lba >> 32);
    v_cdb[10] = (uint8_t)(v_lba >> 8);
    v_cdb[11] = (uint8_t)(v_lba >> 40);
    v_cdb[12] = (uint8_t)(v_lba >> 16);
}

void init_scsi_ata_48(uint8_t *v_cdb, uint8_t v_command, ATA_PROTOCOL_TYPE v_protocol, uint64_t v_lba,
                      uint32_t v_sectors, uint32_t v_direction, uint16_t v_feature, uint8_t v_device,
                      T_LENGTH v_t_length)
{
    v_cdb[0] = ATA_PASS_THROUGH_16_CMD;
    v_cdb[1] = (uint8_t)((v_protocol << 1) | 1);
    v_cdb[2] = sat_length_byte(v_direction, v_t_length);
    put_ata_48_registers(v_cdb, v_lba, v_sectors, v_feature);
    v_cdb[13] = (uint8_t)(v_device | ATA_DEVICE_LBA_BIT);
    v_cdb[14] = v_command;
}

static void build_scsi_ata(uint8_t *v_cdb, const SCSI_ATA_PROTOCOL *v_protocol, uint32_t v_direction)
{
    if (v_protocol->bit == ATA_COMMAND_48_BIT)
        init_scsi_ata_48(v_cdb, v_protocol->ata_command, v_protocol->protocol, v_protocol->lba,
                         v_protocol->sectors, v_direction, v_protocol->features, v_protocol->device,
                         v_protocol->t_length);
    else
        init_scsi_ata_28(v_cdb, v_protocol->ata_command, v_protocol->protocol, v_protocol->lba,
                         v_protocol->sectors, v_direction, v_protocol->features, v_protocol->device,
                         v_protocol->t_length);
}

PROTOCOL_STATUS init_scsi_ata_protocol(uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                                       const SCSI_ATA_PROTOCOL *v_protocol)
{
    if (v_cdb_len < ATA_PASS_THROUGH_16_CMDLEN)
        return PTL_ERR_BUFFER_TOO_SMALL;
    memset(v_cdb, 0, v_cdb_len);
    build_scsi_ata(v_cdb, v_protocol, v_direction);
    return PTL_SUCCESS;
}

PROTOCOL_STATUS init_scsi_ata_cdb(uint8_t *v_cdb, const SCSI_ATA_PROTOCOL *v_protocol, uint32_t v_direction)
{
    if (v_protocol->bit != ATA_COMMAND_28_BIT && v_protocol->bit != ATA_COMMAND_48_BIT)
        return PTL_ERR_ATA_WIDTH;
    build_scsi_ata(v_cdb, v_protocol, v_direction);
    return PTL_SUCCESS;
}

static uint32_t ata_table_key(uint8_t v_command, uint16_t v_feature)
{
    return v_feature != 0 ? (uint32_t)v_command * 256u + v_feature : v_command;
}

PROTOCOL_STATUS get_ata_attr(uint8_t v_command, uint16_t v_feature, ATA_COMMAND_ATTR *v_attr)
{
    uint32_t key = ata_table_key(v_command, v_feature);
    for (const ATA_COMMAND_S &row : G_ATA_COMMAND_ARY) {
        if (row.command == key) {
            v_attr->bit = row.bit;
            v_attr->type = row.type;
            return PTL_SUCCESS;
        }
    }
    return PTL_ERR_ATA_NOT_IN_TABLE;
}

PROTOCOL_STATUS init_scsi_ata(uint8_t *v_cdb, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                              uint8_t v_device, uint16_t v_feature)
{
    ATA_COMMAND_ATTR attr;
    PROTOCOL_STATUS status = get_ata_attr(v_command, v_feature, &attr);
    if (status != PTL_SUCCESS)
        return status;

    v_cdb[0] = ATA_PASS_THROUGH_16_CMD;
    switch (attr.type) {
    case PIO_DATA_IN:
    case UDMA_DATA_IN:
        v_cdb[2] = SAT_T_LEN_FROM_DEV_BLOCKS_COUNT;
        break;
    case PIO_DATA_OUT:
    case UDMA_DATA_OUT:
        v_cdb[2] = SAT_T_LEN_TO_DEV_BLOCKS_COUNT;
        break;
    default:
        v_cdb[2] = SAT_BYTE_BLOCK;
        break;
    }
    if (attr.bit == ATA_COMMAND_48_BIT) {
        v_cdb[1] = (uint8_t)((attr.type << 1) | 1);
        put_ata_48_registers(v_cdb, v_lba, v_sectors, v_feature);
    } else {
        v_cdb[1] = (uint8_t)(attr.type << 1);
        put_ata_28_registers(v_cdb, v_lba, v_sectors, v_feature);
    }
    v_cdb[13] = (uint8_t)(v_device | ATA_DEVICE_LBA_BIT);
    v_cdb[14] = v_command;
    return PTL_SUCCESS;
}

void init_scsi_cdb_16(uint8_t *v_cdb, uint8_t v_opcode, uint64_t v_lba, uint32_t v_sectors)
{
    v_cdb[0] = v_opcode;
    put_be64(v_cdb + 2, v_lba);
    put_be32(v_cdb + 10, v_sectors);
}

void init_scsi_cdb_10(uint8_t *v_cdb, uint8_t v_opcode, uint64_t v_lba, uint32_t v_sectors)
{
    v_cdb[0] = v_opcode;
    put_be32(v_cdb + 2, (uint32_t)v_lba);
    put_be16(v_cdb + 7, (uint16_t)v_sectors);
}

PROTOCOL_STATUS init_scsi_cdb(uint8_t *v_cdb, const SCSI_PROTOCOL *v_protocol)
{
    if (v_protocol->len != SCSI_CDB_16_BYTE)
        return PTL_ERR_CDB_LEN;
    init_scsi_cdb_16(v_cdb, v_protocol->command, v_protocol->lba, v_protocol->sectors);
    return PTL_SUCCESS;
}

PROTOCOL_STATUS init_scsi_protocol(uint8_t *v_cdb, uint32_t v_cdb_len, const SCSI_PROTOCOL *v_protocol)
{
    if (v_cdb_len < SCSI_CDB_16_BYTE)
        return PTL_ERR_BUFFER_TOO_SMALL;
    memset(v_cdb, 0, v_cdb_len);
    if (v_protocol->len != SCSI_CDB_16_BYTE)
        return PTL_ERR_SCSI_PROTOCOL_LEN;
    init_scsi_cdb_16(v_cdb, v_protocol->command, v_protocol->lba, v_protocol->sectors);
    return PTL_SUCCESS;
}

/* The low halves: feature, count, LBA 0-23, device, command. */
static void put_ata_registers_low(uint8_t *v_reg, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                                  uint8_t v_device, uint16_t v_feature)
{
    v_reg[0] = (uint8_t)v_feature;
    v_reg[1] = (uint8_t)v_sectors;
    v_reg[2] = (uint8_t)v_lba;
    v_reg[3] = (uint8_t)(v_lba >> 8);
    v_reg[4] = (uint8_t)(v_lba >> 16);
    v_reg[5] = v_device;
    v_reg[6] = v_command;
}

PROTOCOL_STATUS init_ata_28_bit(uint8_t *v_reg, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                                uint8_t v_device, uint16_t v_feature)
{
    if (v_lba > ATA_LBA28_MAX)
        return PTL_ERR_LBA_RANGE;
    if (v_sectors >= ATA_COUNT28_MAX)
        return PTL_ERR_COUNT_RANGE;
    put_ata_registers_low(v_reg, v_command, v_lba, v_sectors, v_device, v_feature);
    return PTL_SUCCESS;
}

PROTOCOL_STATUS init_ata_48_bit(uint8_t *v_reg, uint8_t v_command, uint64_t v_lba, uint32_t v_sectors,
                                uint8_t v_device, uint16_t v_feature)
{
    if (v_lba > ATA_LBA48_MAX)
        return PTL_ERR_LBA_RANGE;
    if (v_sectors > 0xFFFF)
        return PTL_ERR_COUNT_RANGE;
    put_ata_registers_low(v_reg, v_command, v_lba, v_sectors, v_device, v_feature);
    v_reg[8] = (uint8_t)(v_feature >> 8);
    v_reg[9] = (uint8_t)(v_sectors >> 8);
    v_reg[10] = (uint8_t)(v_lba >> 24);
    v_reg[11] = (uint8_t)(v_lba >> 32);
    v_reg[12] = (uint8_t)(v_lba >> 40);
    v_reg[13] = v_device;
    v_reg[14] = v_command;
    return PTL_SUCCESS;
}

PROTOCOL_STATUS init_ata_protocol(uint8_t *v_reg, uint32_t v_len, const ATA_PROTOCOL *v_protocol)
{
    bool wide = v_protocol->bit == ATA_COMMAND_48_BIT;
    if (v_len < (wide ? ATA_REGISTER_48_LEN : ATA_REGISTER_28_LEN))
        return PTL_ERR_BUFFER_TOO_SMALL;
    memset(v_reg, 0, v_len);
    if (wide)
        return init_ata_48_bit(v_reg, v_protocol->command, v_protocol->lba, v_protocol->count,
                               v_protocol->device, v_protocol->feature);
    return init_ata_28_bit(v_reg, v_protocol->command, v_protocol->lba, v_protocol->count,
                           v_protocol->device, v_protocol->feature);
}

int get_scsi_sense(const uint8_t *v_sense, PSCSI_SENSE v_sense_out)
{
    uint8_t response_code = v_sense[0] & 0x7F;
    switch (response_code) {
    case 0x72:
    case 0x73:
        v_sense_out->response_code = v_sense[0];
        v_sense_out->sense_key = v_sense[1] & 0x0F;
        v_sense_out->additional_sense = v_sense[2];
        v_sense_out->additional_sense_qualifier = v_sense[3];
        return 0;
    case 0x70:
    case 0x71:
        v_sense_out->response_code = v_sense[0];
        v_sense_out->sense_key = v_sense[2] & 0x0F;
        v_sense_out->additional_sense = v_sense[12];
        v_sense_out->additional_sense_qualifier = v_sense[13];
        return 0;
    default:
        return 1;
    }
}

void show_scsi_sense(const SCSI_SENSE *v_sense)
{
    printf("response code:%x\n", v_sense->response_code);
    printf("sense key:%x\n", v_sense->sense_key);
    printf("additional sense:%x\n", v_sense->additional_sense);
    printf("additional sense qualifier:%x\n", v_sense->additional_sense_qualifier);
}

/* Both dumps print a run of lines equal to the one printed before as a
 * single "*" line. */
#define HEX_DUMP_LINE 16

void hex_dump(const uint8_t *v_data, uint32_t v_len)
{
    if (v_data == NULL || v_len == 0)
        return;
    printf("       HEX        0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\n");
    const uint8_t *previous = NULL;
    bool starred = false;
    uint32_t offset = 0;
    for (; offset + HEX_DUMP_LINE <= v_len; offset += HEX_DUMP_LINE) {
        const uint8_t *line = v_data + offset;
        if (previous != NULL && memcmp(previous, line, HEX_DUMP_LINE) == 0) {
            if (!starred)
                printf("*\n");
            starred = true;
            continue;
        }
        starred = false;
        previous = line;
        printf("%016X:", offset);
        for (uint32_t i = 0; i < HEX_DUMP_LINE; i++)
            printf("%02X ", line[i]);
        printf("\n");
    }
    if (offset < v_len) {
        printf("%016X:", offset);
        for (; offset < v_len; offset++)
            printf("%02X ", v_data[offset]);
        printf("\n");
    }
}

void binary_dump(const uint8_t *v_data, uint32_t v_len)
{
    printf("%04X 7 6 5 4 3 2 1 0  HEX\n", v_len);
    bool starred = false;
    for (uint32_t offset = 0; offset < v_len; offset++) {
        if (offset > 0 && v_data[offset] == v_data[offset - 1]) {
            if (!starred)
                printf("*\n");
            starred = true;
            continue;
        }
        starred = false;
        printf("%04X", offset);
        for (int bit = 7; bit >= 0; bit--)
            printf(" %d", (v_data[offset] >> bit) & 1);
        printf("  %02X\n", v_data[offset]);
    }
}

char *define_itoa(int v_value, char *v_text, int v_base)
{
    static const char digits[] = "zyxwvutsrqponmlkjihgfedcba9876543210123456789abcdefghijklmnopqrstuvwxyz";
    if (v_base < 2 || v_base > 36) {
        *v_text = '\0';
        return v_text;
    }
    char *end = v_text;
    int value = v_value;
    do {
        int quotient = value / v_base;
        *end++ = digits[35 + (value - quotient * v_base)];
        value = quotient;
    } while (value != 0);
    if (v_value < 0)
        *end++ = '-';
    *end = '\0';
    for (char *front = v_text, *back = end - 1; front < back; front++, back--) {
        char c = *front;
        *front = *back;
        *back = c;
    }
    return v_text;
}

void swap2bit(uint8_t *v_data, uint32_t v_len)
{
    for (uint32_t i = 0; i + 1 < v_len; i += 2) {
        uint8_t c = v_data[i];
        v_data[i] = v_data[i + 1];
        v_data[i + 1] = c;
    }
}
