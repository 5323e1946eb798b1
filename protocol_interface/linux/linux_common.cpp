/*
 * SG_IO plumbing: header set-up, the single ioctl call of the library, and
 * the mapping of a completed command to a PROTOCOL_STATUS.
 */
#include "linux_common.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include <scsi/sg_lib.h>
#include <scsi/sg_io_linux.h>

#include "../common.h"

#define SG_DUMP_MAX 2048

int init_sg(struct sg_io_hdr *v_hdr, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
            void *v_buffer, uint32_t v_buffer_len, uint32_t v_timeout_s, uint8_t *v_sense)
{
    memset(v_hdr, 0, sizeof(*v_hdr));
    if (v_sense != NULL)
        memset(v_sense, 0, SG_SENSE_LEN);
    v_hdr->interface_id = 'S';
    v_hdr->cmdp = v_cdb;
    v_hdr->cmd_len = (unsigned char)v_cdb_len;
    v_hdr->dxferp = v_buffer;
    v_hdr->dxfer_len = v_buffer_len;
    v_hdr->timeout = v_timeout_s * 1000u;
    v_hdr->sbp = v_sense;
    v_hdr->mx_sb_len = v_sense != NULL ? SG_SENSE_LEN : 0;
    switch (v_direction) {
    case DATA_FROM_DEV:
        v_hdr->dxfer_direction = SG_DXFER_FROM_DEV;
        break;
    case DATA_TO_DEV:
        v_hdr->dxfer_direction = SG_DXFER_TO_DEV;
        break;
    default:
        v_hdr->dxfer_direction = SG_DXFER_NONE;
        break;
    }
    return 0;
}

PROTOCOL_STATUS check_sg_status(const struct sg_io_hdr *v_hdr)
{
    if (v_hdr->status != 0)
        return PTL_STATUS(v_hdr->status, PTL_ERR_SG_STATUS);
    if (v_hdr->masked_status != 0)
        return PTL_STATUS(v_hdr->masked_status, PTL_ERR_SG_MASKED_STATUS);
    if (v_hdr->msg_status != 0)
        return PTL_STATUS(v_hdr->msg_status, PTL_ERR_SG_MSG_STATUS);
    if (v_hdr->host_status != 0)
        return PTL_STATUS(v_hdr->host_status, PTL_ERR_SG_HOST_STATUS);
    if (v_hdr->driver_status != 0)
        return PTL_STATUS(v_hdr->driver_status, PTL_ERR_SG_DRIVER_STATUS);
    return PTL_SUCCESS;
}

PROTOCOL_STATUS check_transfer(const struct sg_io_hdr *v_hdr, uint32_t v_expected)
{
    if (v_hdr->dxfer_direction != SG_DXFER_FROM_DEV)
        return PTL_SUCCESS;
    int64_t moved = (int64_t)v_hdr->dxfer_len - (v_hdr->resid > 0 ? v_hdr->resid : 0);
    return moved < (int64_t)v_expected ? PTL_ERR_SHORT_TRANSFER : PTL_SUCCESS;
}

static PROTOCOL_STATUS issue(int v_handle, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction, void *v_buffer,
                             uint32_t v_buffer_len, uint32_t v_expected, uint32_t v_timeout_s, uint8_t *v_sense)
{
    if (v_handle == -1)
        return PTL_ERR_NO_HANDLE;
    if (v_cdb_len > SG_MAX_CDB_LEN)
        return PTL_ERR_CDB_TOO_LONG;

    struct sg_io_hdr hdr;
    init_sg(&hdr, v_cdb, v_cdb_len, v_direction, v_buffer, v_buffer_len, v_timeout_s, v_sense);
    if (ioctl(v_handle, SG_IO, &hdr) < 0)
        return PTL_STATUS(errno, PTL_ERR_IOCTL);

    PROTOCOL_STATUS status = check_sg_status(&hdr);
    if (status != PTL_SUCCESS)
        return status;
    int category = sg_err_category3(&hdr);
    if (category != SG_LIB_CAT_CLEAN)
        return PTL_STATUS(category, PTL_ERR_SG_CATEGORY);
    return check_transfer(&hdr, v_expected);
}

PROTOCOL_STATUS sg_scsi_cdb(int v_handle, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                            void *v_buffer, uint32_t v_buffer_len, uint32_t v_timeout_s, uint8_t *v_sense)
{
    return issue(v_handle, v_cdb, v_cdb_len, v_direction, v_buffer, v_buffer_len, 0, v_timeout_s, v_sense);
}

PROTOCOL_STATUS sg_scsi_transfer(int v_handle, uint8_t *v_cdb, uint32_t v_cdb_len, uint32_t v_direction,
                                 void *v_buffer, uint32_t v_buffer_len, uint32_t v_expected, uint32_t v_timeout_s,
                                 uint8_t *v_sense)
{
    return issue(v_handle, v_cdb, v_cdb_len, v_direction, v_buffer, v_buffer_len, v_expected, v_timeout_s, v_sense);
}

void print_sg_cmd(const struct sg_io_hdr *v_hdr, int v_before)
{
    static int s_count = 0;
    if (v_before) {
        printf("--------------------sg cmd begin  %d ------------------------------\n", ++s_count);
        printf("interface_id:%d\n", v_hdr->interface_id);
        printf("dxfer_direction:%d\n", v_hdr->dxfer_direction);
        printf("cmd_len:%xh\n", v_hdr->cmd_len);
        printf("mx_sb_len:%xh\n", v_hdr->mx_sb_len);
        printf("iovec_count:%d\n", v_hdr->iovec_count);
        printf("dxfer_len:%d\n", v_hdr->dxfer_len);
        printf("dxferp:%p\n", v_hdr->dxferp);
        printf("cmdp:%p\n", (void *)v_hdr->cmdp);
        printf("sbp:%p\n", (void *)v_hdr->sbp);
        printf("timeout:%d\n", v_hdr->timeout);
        printf("flags:%d\n", v_hdr->flags);
        printf("pack_id:%d\n", v_hdr->pack_id);
        printf("usr_ptr:%p\n", v_hdr->usr_ptr);
        printf("status:%xh\n", v_hdr->status);
        printf("masked_status:%xh\n", v_hdr->masked_status);
        printf("msg_status:%xh\n", v_hdr->msg_status);
        printf("sb_len_wr:%xh\n", v_hdr->sb_len_wr);
        printf("host_status:%d\n", v_hdr->host_status);
        printf("driver_status:%d\n", v_hdr->driver_status);
        printf("resid:%d\n", v_hdr->resid);
        printf("duration:%d\n", v_hdr->duration);
        printf("info:%d\n", v_hdr->info);
        printf("-------------------cdb-----------------------------\n");
        binary_dump(v_hdr->cmdp, v_hdr->cmd_len);
        if (v_hdr->dxfer_direction == SG_DXFER_TO_DEV) {
            printf("-------------------out--------------------------\n");
            hex_dump((const uint8_t *)v_hdr->dxferp,
                     v_hdr->dxfer_len < SG_DUMP_MAX ? v_hdr->dxfer_len : SG_DUMP_MAX);
        }
        return;
    }
    if (v_hdr->dxfer_direction == SG_DXFER_FROM_DEV) {
        printf("-------------------in--------------------------\n");
        hex_dump((const uint8_t *)v_hdr->dxferp, v_hdr->dxfer_len < SG_DUMP_MAX ? v_hdr->dxfer_len : SG_DUMP_MAX);
    }
    if (v_hdr->sbp != NULL) {
        printf("-------------------sense-----------------------------\n");
        hex_dump(v_hdr->sbp, v_hdr->mx_sb_len);
    }
}
