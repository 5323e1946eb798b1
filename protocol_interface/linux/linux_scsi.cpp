/*
 * The SCSI transport: plain SCSI block commands (READ and WRITE in their 10-
 * and 16-byte forms), an ATA IDENTIFY DEVICE in an ATA PASS-THROUGH (16)
 * block, and command blocks the caller brings, all issued with sg_scsi_cdb.
 * It has no SMART, vendor or firmware download operation.
 */
#include "linux_scsi.h"

#include <errno.h>
#include <string.h>

#include "../common.h"
#include "../protocol_interface.h"
#include "linux_common.h"

#define SCSI_READ_10_CMD  0x28
#define SCSI_WRITE_10_CMD 0x2A
#define SCSI_READ_16_CMD  0x88
#define SCSI_WRITE_16_CMD 0x8A
#define ATA_IDENTIFY_DEVICE 0xEC

#define SCSI_SECTOR_SIZE 512u

#define SCSI_10_LBA_MAX   0xFFFFFFFFull
#define SCSI_10_COUNT_MAX 0xFFFFu

/* Read and write: the operation code follows the record's data_to, the
 * transfer direction follows the entry point. The record keeps the settled
 * block length in scsi_len: 10 when it asked for 10, or asked for none and
 * the request fits the 10-byte fields, else 16. Returns 0, 2 for a short
 * buffer, 4 for handle 0, 18 (48) for an LBA (count) the 10-byte block it
 * asked for cannot carry, 61 for a read that moved fewer bytes than asked,
 * else (errno * 256) + 5 when the command failed. */
static PROTOCOL_STATUS sg_scsi_rw(const PPROTOCOL_CMD_S v_cmd, uint32_t v_direction)
{
    if ((uint64_t)v_cmd->u.rw.sectors * SCSI_SECTOR_SIZE > v_cmd->buffer_len)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == 0)
        return PTL_ERR_NO_HANDLE;

    bool fits_10 = v_cmd->u.rw.lba <= SCSI_10_LBA_MAX && v_cmd->u.rw.sectors <= SCSI_10_COUNT_MAX;
    if (v_cmd->u.rw.scsi_len == SCSI_CDB_10_BYTE) {
        /* The 10-byte fields would silently address other sectors. */
        if (v_cmd->u.rw.lba > SCSI_10_LBA_MAX)
            return PTL_ERR_LBA_RANGE;
        if (v_cmd->u.rw.sectors > SCSI_10_COUNT_MAX)
            return PTL_ERR_COUNT_RANGE;
    } else if (v_cmd->u.rw.scsi_len == 0 && fits_10) {
        v_cmd->u.rw.scsi_len = SCSI_CDB_10_BYTE;
    } else {
        v_cmd->u.rw.scsi_len = SCSI_CDB_16_BYTE;
    }
    bool short_form = v_cmd->u.rw.scsi_len == SCSI_CDB_10_BYTE;
    bool to_device = v_cmd->data_to == DATA_TO_DEV;

    uint8_t cdb[SCSI_CDB_16_BYTE] = {0};
    if (short_form)
        init_scsi_cdb_10(cdb, to_device ? SCSI_WRITE_10_CMD : SCSI_READ_10_CMD, v_cmd->u.rw.lba,
                         v_cmd->u.rw.sectors);
    else
        init_scsi_cdb_16(cdb, to_device ? SCSI_WRITE_16_CMD : SCSI_READ_16_CMD, v_cmd->u.rw.lba,
                         v_cmd->u.rw.sectors);

    PROTOCOL_STATUS status = sg_scsi_transfer(v_cmd->handle, cdb, v_cmd->u.rw.scsi_len, v_direction, v_cmd->buffer,
                                              v_cmd->buffer_len, v_cmd->u.rw.sectors * SCSI_SECTOR_SIZE,
                                              v_cmd->timeout, v_cmd->ext);
    if (status == PTL_ERR_SHORT_TRANSFER)
        return status;
    if (status != PTL_SUCCESS)
        return PTL_STATUS(errno, PTL_ERR_READ_WRITE);
    return PTL_SUCCESS;
}

static PROTOCOL_STATUS scsi_read(const PPROTOCOL_CMD_S v_cmd)
{
    return sg_scsi_rw(v_cmd, DATA_FROM_DEV);
}

static PROTOCOL_STATUS scsi_write(const PPROTOCOL_CMD_S v_cmd)
{
    return sg_scsi_rw(v_cmd, DATA_TO_DEV);
}

/* IDENTIFY DEVICE through ATA PASS-THROUGH (16); the sector count byte stays
 * 0. Returns 0, 2 for a buffer below 512 bytes, 4 for handle 0, else
 * (errno * 256) + 6. */
static PROTOCOL_STATUS scsi_identify(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->buffer_len < SCSI_SECTOR_SIZE)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == 0)
        return PTL_ERR_NO_HANDLE;

    uint8_t cdb[ATA_PASS_THROUGH_16_CMDLEN] = {0};
    cdb[0] = ATA_PASS_THROUGH_16_CMD;
    cdb[1] = PIO_DATA_IN << 1;
    cdb[2] = 0x0E; /* from the device, in blocks, length in the count field */
    cdb[14] = ATA_IDENTIFY_DEVICE;

    if (sg_scsi_cdb(v_cmd->handle, cdb, sizeof(cdb), DATA_FROM_DEV, v_cmd->buffer, v_cmd->buffer_len,
                    v_cmd->timeout, v_cmd->ext) != PTL_SUCCESS)
        return PTL_STATUS(errno, PTL_ERR_IDENTIFY_SMART);
    return PTL_SUCCESS;
}

/* The caller's own block (at most the record's 32 bytes: 54 beyond), or a
 * 16-byte block built from sc.scsi (25 for any other length). A failed
 * command is (errno * 256) + 6. */
static PROTOCOL_STATUS scsi_send_cmd(const PPROTOCOL_CMD_S v_cmd)
{
    uint8_t cdb[PTL_CMD_CDB_SIZE] = {0};
    uint32_t cdb_len;

    if (v_cmd->u.send_cmd.type == SEND_CMD_CDB) {
        cdb_len = v_cmd->u.send_cmd.sc.cc.scsi_cdb_len;
        if (cdb_len > PTL_CMD_CDB_SIZE)
            return PTL_ERR_CDB_TOO_LONG;
        memcpy(cdb, v_cmd->u.send_cmd.sc.cc.cdb, cdb_len);
    } else {
        const SCSI_PROTOCOL *scsi = &v_cmd->u.send_cmd.sc.scsi;
        if (scsi->len != SCSI_CDB_16_BYTE)
            return PTL_ERR_SCSI_PROTOCOL_LEN;
        init_scsi_cdb_16(cdb, scsi->command, scsi->lba, scsi->sectors);
        cdb_len = SCSI_CDB_16_BYTE;
    }

    if (sg_scsi_cdb(v_cmd->handle, cdb, cdb_len, v_cmd->data_to, v_cmd->buffer, v_cmd->buffer_len,
                    v_cmd->timeout, v_cmd->ext) != PTL_SUCCESS)
        return PTL_STATUS(errno, PTL_ERR_IDENTIFY_SMART);
    return PTL_SUCCESS;
}

/* A plain SCSI disk answers no ATA SMART, vendor or download command here. */
static PROTOCOL_STATUS scsi_smart(const PPROTOCOL_CMD_S v_cmd)
{
    return ptl_not_supported(v_cmd);
}

static PROTOCOL_STATUS scsi_vendor(const PPROTOCOL_CMD_S v_cmd)
{
    return ptl_not_supported(v_cmd);
}

static PROTOCOL_STATUS scsi_download(const PPROTOCOL_CMD_S v_cmd)
{
    return ptl_not_supported(v_cmd);
}

static PROTOCOL_FUNC_S scsi = {
    SELECT_SCSI_TYPE,
    scsi_read,
    scsi_write,
    scsi_identify,
    scsi_smart,
    scsi_vendor,
    scsi_download,
    scsi_send_cmd,
};

void register_scsi(void)
{
    register_protocol(&scsi);
}
