/*
 * The SCSI-ATA transport: every operation wraps one ATA command in an ATA
 * PASS-THROUGH (16) block and issues it with sg_scsi_cdb. This is the
 * transport the disk service uses for the secure disk behind its USB bridge.
 */
#include "linux_scsi_ata.h"

#include <errno.h>

#include "../common.h"
#include "../protocol_interface.h"
#include "linux_common.h"

#define ATA_READ_DMA             0xC8
#define ATA_READ_DMA_EXT         0x25
#define ATA_WRITE_DMA            0xCA
#define ATA_WRITE_DMA_EXT        0x35
#define ATA_IDENTIFY_DEVICE      0xEC
#define ATA_SMART                0xB0
#define ATA_DOWNLOAD_MICROCODE     0x92
#define ATA_DOWNLOAD_MICROCODE_DMA 0x93

#define ATA_SECTOR_SIZE 512u
#define SMART_SIGNATURE_LBA 0xC24F00u /* LBA mid 0x4F, LBA high 0xC2 */

/* Issues a 16-byte block with the record's buffer, time limit and sense
 * area. A read that completed with fewer than v_expected bytes is 61; any
 * other failure is reported as (errno * 256) + v_kind, whatever the SG path
 * said. */
static PROTOCOL_STATUS issue_block(const PPROTOCOL_CMD_S v_cmd, uint8_t *v_cdb, uint32_t v_direction, int v_kind,
                                   uint32_t v_expected = 0)
{
    PROTOCOL_STATUS status = sg_scsi_transfer(v_cmd->handle, v_cdb, ATA_PASS_THROUGH_16_CMDLEN, v_direction,
                                              v_cmd->buffer, v_cmd->buffer_len, v_expected, v_cmd->timeout,
                                              v_cmd->ext);
    if (status == PTL_ERR_SHORT_TRANSFER)
        return status;
    if (status != PTL_SUCCESS)
        return PTL_STATUS(errno, v_kind);
    return PTL_SUCCESS;
}

/* Read and write are one procedure: the direction, and so the ATA command,
 * follows the record's data_to, not the operation's name. */
static PROTOCOL_STATUS scsi_ata_rw(const PPROTOCOL_CMD_S v_cmd)
{
    bool wide = v_cmd->u.rw.ata_len != ATA_COMMAND_28_BIT;
    uint32_t sectors = v_cmd->u.rw.sectors;
    uint64_t lba = v_cmd->u.rw.lba;

    if ((uint64_t)sectors * ATA_SECTOR_SIZE > v_cmd->buffer_len)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == 0)
        return PTL_ERR_NO_HANDLE;
    /* The block carries 8 (16) bits of count and 24 (48) bits of LBA: a
     * request that does not fit would move other sectors than asked for. */
    if (sectors == 0 || sectors > (wide ? ATA_COUNT48_MAX : ATA_COUNT28_MAX))
        return PTL_ERR_COUNT_RANGE;
    if (lba > (wide ? ATA_LBA48_MAX : ATA_LBA28_MAX))
        return PTL_ERR_LBA_RANGE;

    bool to_device = v_cmd->data_to == DATA_TO_DEV;
    uint8_t command;
    ATA_PROTOCOL_TYPE protocol = to_device ? UDMA_DATA_OUT : UDMA_DATA_IN;
    if (to_device)
        command = wide ? ATA_WRITE_DMA_EXT : ATA_WRITE_DMA;
    else
        command = wide ? ATA_READ_DMA_EXT : ATA_READ_DMA;

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN] = {0};
    if (wide)
        init_scsi_ata_48(cdb, command, protocol, lba, sectors, v_cmd->data_to, v_cmd->u.rw.feature,
                         v_cmd->u.rw.device, T_LENGTH_SECTORS);
    else
        init_scsi_ata_28(cdb, command, protocol, lba, sectors, v_cmd->data_to, v_cmd->u.rw.feature,
                         v_cmd->u.rw.device, T_LENGTH_SECTORS);

    return issue_block(v_cmd, cdb, v_cmd->data_to, PTL_ERR_READ_WRITE, sectors * ATA_SECTOR_SIZE);
}

static PROTOCOL_STATUS scsi_ata_read(const PPROTOCOL_CMD_S v_cmd)
{
    return scsi_ata_rw(v_cmd);
}

static PROTOCOL_STATUS scsi_ata_write(const PPROTOCOL_CMD_S v_cmd)
{
    return scsi_ata_rw(v_cmd);
}

static PROTOCOL_STATUS scsi_ata_identify(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->buffer_len < ATA_SECTOR_SIZE)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == 0)
        return PTL_ERR_NO_HANDLE;

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN] = {0};
    cdb[0] = ATA_PASS_THROUGH_16_CMD;
    cdb[1] = PIO_DATA_IN << 1;
    cdb[2] = 0x0E; /* from the device, in blocks, length in the count field */
    cdb[6] = (uint8_t)(v_cmd->buffer_len / ATA_SECTOR_SIZE);
    cdb[14] = ATA_IDENTIFY_DEVICE;

    return issue_block(v_cmd, cdb, DATA_FROM_DEV, PTL_ERR_IDENTIFY_SMART);
}

static PROTOCOL_STATUS scsi_ata_smart(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->handle == 0)
        return PTL_ERR_NO_HANDLE;

    uint64_t lba = v_cmd->u.ata_smart.lba != 0 ? v_cmd->u.ata_smart.lba : SMART_SIGNATURE_LBA;
    uint8_t device = v_cmd->u.ata_smart.device != 0 ? v_cmd->u.ata_smart.device : ATA_DEVICE_LBA_BIT;

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN] = {0};
    PROTOCOL_STATUS status = init_scsi_ata(cdb, ATA_SMART, lba, v_cmd->u.ata_smart.count, device,
                                           v_cmd->u.ata_smart.feature);
    if (status != PTL_SUCCESS)
        return status;

    return issue_block(v_cmd, cdb, v_cmd->data_to, PTL_ERR_IDENTIFY_SMART);
}

/* The bridge's ATA side has no vendor operation. */
static PROTOCOL_STATUS scsi_ata_vendor(const PPROTOCOL_CMD_S v_cmd)
{
    return ptl_not_supported(v_cmd);
}

/* ATA DOWNLOAD MICROCODE. The protocol in byte 1 follows the opcode that
 * download_mode selects: PIO data-out for 0x92, UDMA data-out for 0x93. */
static PROTOCOL_STATUS scsi_ata_download(const PPROTOCOL_CMD_S v_cmd)
{
    bool dma = v_cmd->u.download.download_mode != DOWNLOAD_PIO_MODE;
    uint32_t sectors = v_cmd->u.download.sectors;
    uint64_t offset = v_cmd->u.download.lba;
    uint32_t direction;

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN] = {0};
    cdb[0] = ATA_PASS_THROUGH_16_CMD;
    if (v_cmd->u.download.model == DLFW_ACTIVATE) {
        cdb[1] = NON_DATA << 1;
        cdb[2] = 0x04;
        direction = DATA_NONE;
    } else {
        cdb[1] = (uint8_t)((dma ? UDMA_DATA_OUT : PIO_DATA_OUT) << 1);
        cdb[2] = 0x06; /* to the device, in blocks, length in the count field */
        direction = DATA_TO_DEV;
    }
    cdb[4] = (uint8_t)v_cmd->u.download.model;
    cdb[6] = (uint8_t)sectors;
    cdb[8] = (uint8_t)(sectors >> 8);
    cdb[10] = (uint8_t)offset;
    cdb[12] = (uint8_t)(offset >> 8);
    cdb[13] = ATA_DEVICE_LBA_BIT;
    cdb[14] = dma ? ATA_DOWNLOAD_MICROCODE_DMA : ATA_DOWNLOAD_MICROCODE;

    return issue_block(v_cmd, cdb, direction, PTL_ERR_DOWNLOAD);
}

/* The general pass-through: the caller's own command block, or one built
 * from the record's ATA registers. The SG_IO status comes back unchanged. */
static PROTOCOL_STATUS scsi_ata_send_cmd(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->u.send_cmd.type == SEND_CMD_CDB) {
        uint32_t cdb_len = v_cmd->u.send_cmd.sc.cc.scsi_cdb_len;
        if (cdb_len > PTL_CMD_CDB_SIZE)
            return PTL_ERR_CDB_TOO_LONG;
        return sg_scsi_cdb(v_cmd->handle, v_cmd->u.send_cmd.sc.cc.cdb, cdb_len, v_cmd->data_to,
                           v_cmd->buffer, v_cmd->buffer_len, v_cmd->timeout, v_cmd->ext);
    }

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN];
    PROTOCOL_STATUS status =
        init_scsi_ata_protocol(cdb, sizeof(cdb), v_cmd->data_to, &v_cmd->u.send_cmd.sc.scsi_ata);
    if (status != PTL_SUCCESS)
        return status;
    return sg_scsi_cdb(v_cmd->handle, cdb, sizeof(cdb), v_cmd->data_to, v_cmd->buffer, v_cmd->buffer_len,
                       v_cmd->timeout, v_cmd->ext);
}

static PROTOCOL_FUNC_S scsi_ata = {
    SELECT_SCSI_ATA_TYPE,
    scsi_ata_read,
    scsi_ata_write,
    scsi_ata_identify,
    scsi_ata_smart,
    scsi_ata_vendor,
    scsi_ata_download,
    scsi_ata_send_cmd,
};

void register_scsi_ata(void)
{
    register_protocol(&scsi_ata);
}
