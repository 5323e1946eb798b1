/*
 * The NVMe transport: I/O reads and writes, Identify, the SMART / Health
 * Information log, a vendor-specific admin command stamped with the
 * transport's signature, Firmware Image Download and Get Log Page, each one
 * request of the Linux NVMe pass-through interface on the caller's
 * descriptor. Nothing here goes through SG_IO.
 */
#include "linux_nvme.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include "../common.h"
#include "../identify_struct.h"
#include "../protocol_interface.h"

/* The request numbers this transport is written against. */
static_assert(NVME_IOCTL_ADMIN_CMD == 0xC0484E41, "NVME_IOCTL_ADMIN_CMD");
static_assert(NVME_IOCTL_SUBMIT_IO == 0x40304E42, "NVME_IOCTL_SUBMIT_IO");
static_assert(NVME_IOCTL_ID == 0x4E40, "NVME_IOCTL_ID");
static_assert(sizeof(struct nvme_passthru_cmd) == 72, "nvme_passthru_cmd is 72 bytes");
static_assert(sizeof(struct nvme_user_io) == 48, "nvme_user_io is 48 bytes");

#define NVME_CMD_WRITE 0x01
#define NVME_CMD_READ  0x02

#define NVME_ADMIN_GET_LOG_PAGE 0x02
#define NVME_ADMIN_IDENTIFY     0x06
#define NVME_ADMIN_FW_DOWNLOAD  0x11

#define NVME_ID_CNS_CTRL         1
#define NVME_ID_CTRL_LPA_OFFSET  261
#define NVME_LPA_SMART_PER_NS    0x01

#define NVME_SMART_LOG_SIZE  512
#define NVME_SMART_LOG_CDW10 0x007F0002u /* log 2, 128 dwords (zero-based 127) */
#define NVME_NSID_ALL        0xFFFFFFFFu
#define NVME_VENDOR_NSID     1

#define NVME_BLOCK_SIZE      512u
#define NVME_MAX_BLOCKS      65536u /* nblocks is a zero-based 16-bit count */

#define NVME_PRINT_BUFFER 1024

/* Four bytes "P74h" in memory, in cdw14 of every vendor command. */
static const uint32_t g_nvme_vender_signitrue = 0x68343750;

/* The one place where the transport enters the kernel. Returns the
 * request's result: 0, a positive NVMe status, or -1 with errno set. */
static int nvme_submit(int v_fd, unsigned long v_request, void *v_arg)
{
    return ioctl(v_fd, v_request, v_arg);
}

static uint64_t user_address(const void *v_buffer)
{
    return (uint64_t)(uintptr_t)v_buffer;
}

/* One Identify command into a 4096-byte area. Returns 0 (also when the
 * device answers with an NVMe status), or (errno * 256) + 6. */
static PROTOCOL_STATUS identify(int v_fd, uint32_t v_namespace, uint32_t v_cns, uint8_t *v_ctrl)
{
    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = NVME_ADMIN_IDENTIFY;
    cmd.nsid = v_namespace;
    cmd.cdw10 = v_cns;
    cmd.addr = user_address(v_ctrl);
    cmd.data_len = NVME_IDENTIFY_SIZE;
    if (nvme_submit(v_fd, NVME_IOCTL_ADMIN_CMD, &cmd) < 0)
        return PTL_STATUS(errno, PTL_ERR_IDENTIFY_SMART);
    return PTL_SUCCESS;
}

/* Read and write: the opcode follows data_to, which must agree with the
 * operation (v_direction). Returns 2 for a short buffer, 4 for handle -1,
 * 48 for a count the 16-bit block field cannot carry (0 or above 65536), 62
 * when data_to contradicts the operation; otherwise the request's own
 * result, unchanged. */
static PROTOCOL_STATUS read_and_write(const PPROTOCOL_CMD_S v_cmd, uint32_t v_direction)
{
    uint32_t sectors = v_cmd->u.rw.sectors;
    if ((uint64_t)sectors * NVME_BLOCK_SIZE > v_cmd->buffer_len)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == -1)
        return PTL_ERR_NO_HANDLE;
    if (sectors == 0 || sectors > NVME_MAX_BLOCKS)
        return PTL_ERR_COUNT_RANGE;
    if (v_cmd->data_to != v_direction)
        return PTL_ERR_DIRECTION;

    struct nvme_user_io io;
    memset(&io, 0, sizeof(io));
    io.opcode = v_cmd->data_to == DATA_FROM_DEV ? NVME_CMD_READ : NVME_CMD_WRITE;
    io.addr = user_address(v_cmd->buffer);
    io.slba = v_cmd->u.rw.lba;
    io.nblocks = (uint16_t)(sectors - 1);
    return nvme_submit(v_cmd->handle, NVME_IOCTL_SUBMIT_IO, &io);
}

static PROTOCOL_STATUS nvme_read(const PPROTOCOL_CMD_S v_cmd)
{
    return read_and_write(v_cmd, DATA_FROM_DEV);
}

static PROTOCOL_STATUS nvme_write(const PPROTOCOL_CMD_S v_cmd)
{
    return read_and_write(v_cmd, DATA_TO_DEV);
}

/* Identify with the record's CNS and NSID. Returns 0, 2 for a buffer below
 * 4096 bytes, 4 for handle -1, or (errno * 256) + 6. */
static PROTOCOL_STATUS nvme_identify(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->buffer_len < NVME_IDENTIFY_SIZE)
        return PTL_ERR_BUFFER_TOO_SMALL;
    if (v_cmd->handle == -1)
        return PTL_ERR_NO_HANDLE;
    return identify(v_cmd->handle, v_cmd->u.identify.nvme.nsid, v_cmd->u.identify.nvme.cns, v_cmd->buffer);
}

/* The SMART / Health Information log: per namespace when the controller
 * keeps it so and the descriptor is a namespace, else controller-wide.
 * Returns 0, 4 for handle -1, 2 for a buffer below 512 bytes, the identify
 * status ((errno * 256) + 6), or (errno * 256) + 7 when the log request
 * failed. */
static PROTOCOL_STATUS nvme_smart(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->handle == -1)
        return PTL_ERR_NO_HANDLE;
    if (v_cmd->buffer_len < NVME_SMART_LOG_SIZE)
        return PTL_ERR_BUFFER_TOO_SMALL;

    int namespace_id = nvme_submit(v_cmd->handle, NVME_IOCTL_ID, NULL);
    if (namespace_id < 0)
        namespace_id = 0; /* a controller device, not a namespace */

    uint8_t ctrl[NVME_IDENTIFY_SIZE];
    memset(ctrl, 0, sizeof(ctrl));
    PROTOCOL_STATUS status = identify(v_cmd->handle, 0, NVME_ID_CNS_CTRL, ctrl);
    if (status != PTL_SUCCESS)
        return status;

    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = NVME_ADMIN_GET_LOG_PAGE;
    cmd.nsid = (ctrl[NVME_ID_CTRL_LPA_OFFSET] & NVME_LPA_SMART_PER_NS) && namespace_id != 0
                   ? (uint32_t)namespace_id
                   : NVME_NSID_ALL;
    cmd.cdw10 = NVME_SMART_LOG_CDW10;
    cmd.addr = user_address(v_cmd->buffer);
    cmd.data_len = NVME_SMART_LOG_SIZE;
    if (nvme_submit(v_cmd->handle, NVME_IOCTL_ADMIN_CMD, &cmd) < 0)
        return PTL_STATUS(errno, PTL_ERR_NVME_SMART);
    return PTL_SUCCESS;
}

/* One vendor-specific admin command: opcode from CDW0, NSID 1, the
 * transport's signature in cdw14, cdw10 the record's or the buffer's dword
 * count. Returns 0, or (errno * 256) + 11 for any non-zero result. */
static PROTOCOL_STATUS nvme_vendor(const PPROTOCOL_CMD_S v_cmd)
{
    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = (uint8_t)v_cmd->u.vendor.CDW0;
    cmd.nsid = NVME_VENDOR_NSID;
    cmd.cdw10 = v_cmd->u.vendor.CDW10 != 0 ? v_cmd->u.vendor.CDW10 : v_cmd->buffer_len / 4;
    cmd.cdw11 = v_cmd->u.vendor.CDW11;
    cmd.cdw12 = v_cmd->u.vendor.CDW12;
    cmd.cdw13 = v_cmd->u.vendor.CDW13;
    cmd.cdw14 = g_nvme_vender_signitrue;
    cmd.cdw15 = v_cmd->u.vendor.CDW15;
    cmd.addr = user_address(v_cmd->buffer);
    cmd.data_len = v_cmd->buffer_len;
    cmd.timeout_ms = v_cmd->timeout * 1000u;
    if (nvme_submit(v_cmd->handle, NVME_IOCTL_ADMIN_CMD, &cmd) != 0)
        return PTL_STATUS(errno, PTL_ERR_IOCTL);
    return PTL_SUCCESS;
}

/* One Firmware Image Download segment; lba is the segment's byte offset in
 * the image. Returns 0, or (errno * 256) + 9 for any non-zero result. */
static PROTOCOL_STATUS nvme_download(const PPROTOCOL_CMD_S v_cmd)
{
    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = NVME_ADMIN_FW_DOWNLOAD;
    cmd.addr = user_address(v_cmd->buffer);
    cmd.data_len = v_cmd->buffer_len;
    cmd.cdw10 = v_cmd->buffer_len / 4 - 1;
    cmd.cdw11 = (uint32_t)(v_cmd->u.download.lba / 4);
    if (nvme_submit(v_cmd->handle, NVME_IOCTL_ADMIN_CMD, &cmd) != 0)
        return PTL_STATUS(errno, PTL_ERR_DOWNLOAD);
    return PTL_SUCCESS;
}

/* Get Log Page as the record spells it: the log identifier in subcommand,
 * the dword count from buffer_len. Returns 0, or (errno * 256) + 11. */
static PROTOCOL_STATUS get_log_page(const PPROTOCOL_CMD_S v_cmd)
{
    const NVME_PROTOCOL *nvme = &v_cmd->u.send_cmd.sc.nvme;
    uint32_t numd = v_cmd->buffer_len / 4 - 1;

    struct nvme_passthru_cmd cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.opcode = nvme->command;
    cmd.nsid = nvme->namesapce_id;
    cmd.cdw10 = (uint32_t)nvme->subcommand | ((numd & 0xFFFFu) << 16);
    cmd.cdw11 = numd >> 16;
    cmd.addr = user_address(v_cmd->buffer);
    cmd.data_len = v_cmd->buffer_len;
    cmd.timeout_ms = v_cmd->timeout * 1000u;
    if (nvme_submit(v_cmd->handle, NVME_IOCTL_ADMIN_CMD, &cmd) != 0)
        return PTL_STATUS(errno, PTL_ERR_IOCTL);
    return PTL_SUCCESS;
}

/* Only Get Log Page passes through here; any other command returns 3. */
static PROTOCOL_STATUS nvme_send_cmd(const PPROTOCOL_CMD_S v_cmd)
{
    if (v_cmd->u.send_cmd.sc.nvme.command == NVME_ADMIN_GET_LOG_PAGE)
        return get_log_page(v_cmd);
    return PTL_ERR_NOT_SUPPORTED;
}

PROTOCOL_STATUS nvme_ioctl(const PPROTOCOL_CMD_S)
{
    return PTL_ERR_NOT_SUPPORTED;
}

/* Appends one formatted line to the printer's text; what does not fit the
 * buffer is cut. */
static void append_line(char *v_text, size_t *v_used, const char *v_format, unsigned long long v_value)
{
    if (*v_used >= NVME_PRINT_BUFFER)
        return;
    int n = snprintf(v_text + *v_used, NVME_PRINT_BUFFER - *v_used, v_format, v_value);
    if (n > 0)
        *v_used += (size_t)n;
    if (*v_used > NVME_PRINT_BUFFER - 1)
        *v_used = NVME_PRINT_BUFFER - 1;
}

static const char *banner(int v_is_begin)
{
    return v_is_begin ? "----------------------begin-----------------\n"
                      : "----------------------end-----------------\n";
}

void print_nvme_io_cmd(const struct nvme_user_io *v_io, int v_is_begin)
{
    char text[NVME_PRINT_BUFFER];
    size_t used = (size_t)snprintf(text, sizeof(text), "%s", banner(v_is_begin));
    append_line(text, &used, "opcode:0x%llX\n", v_io->opcode);
    append_line(text, &used, "flags:0x%llX\n", v_io->flags);
    append_line(text, &used, "control:0x%llX\n", v_io->control);
    append_line(text, &used, "nblocks:0x%llX\n", v_io->nblocks);
    append_line(text, &used, "rsvd:0x%llX\n", v_io->rsvd);
    append_line(text, &used, "metadata:0x%llX\n", v_io->metadata);
    append_line(text, &used, "addr:0x%llX\n", v_io->addr);
    append_line(text, &used, "slba:0x%llX\n", v_io->slba);
    append_line(text, &used, "dsmgmt:0x%llX\n", v_io->dsmgmt);
    append_line(text, &used, "reftag:0x%llX\n", v_io->reftag);
    append_line(text, &used, "apptag:0x%llX\n", v_io->apptag);
    append_line(text, &used, "appmask:0x%llX\n", v_io->appmask);
    fputs(text, stdout);
    fputs(banner(v_is_begin), stdout);
    if (v_io->addr != 0)
        hex_dump((const uint8_t *)(uintptr_t)v_io->addr, ((uint32_t)v_io->nblocks + 1) * NVME_BLOCK_SIZE);
}

void print_nvme_passthru_cmd(const struct nvme_passthru_cmd *v_cmd, int v_is_begin)
{
    char text[NVME_PRINT_BUFFER];
    size_t used = (size_t)snprintf(text, sizeof(text), "%s", banner(v_is_begin));
    append_line(text, &used, "opcode:0x%llX\n", v_cmd->opcode);
    append_line(text, &used, "flags:0x%llX\n", v_cmd->flags);
    append_line(text, &used, "rsvd1:0x%llX\n", v_cmd->rsvd1);
    append_line(text, &used, "nsid:0x%llX\n", v_cmd->nsid);
    append_line(text, &used, "cdw2:0x%llX\n", v_cmd->cdw2);
    append_line(text, &used, "cdw3:0x%llX\n", v_cmd->cdw3);
    append_line(text, &used, "metadata:0x%llX\n", v_cmd->metadata);
    append_line(text, &used, "addr:0x%llX\n", v_cmd->addr);
    append_line(text, &used, "metadata_len:0x%llX\n", v_cmd->metadata_len);
    append_line(text, &used, "data_len:0x%llX\n", v_cmd->data_len);
    append_line(text, &used, "cdw10:0x%llX\n", v_cmd->cdw10);
    append_line(text, &used, "cdw11:0x%llX\n", v_cmd->cdw11);
    append_line(text, &used, "cdw12:0x%llX\n", v_cmd->cdw12);
    append_line(text, &used, "cdw13:0x%llX\n", v_cmd->cdw13);
    append_line(text, &used, "cdw14:0x%llX\n", v_cmd->cdw14);
    append_line(text, &used, "cdw15:0x%llX\n", v_cmd->cdw15);
    append_line(text, &used, "timeout_ms:0x%llX\n", v_cmd->timeout_ms);
    append_line(text, &used, "result:0x%llX\n", v_cmd->result);
    fputs(text, stdout);
    fputs(banner(v_is_begin), stdout);
    if (v_cmd->addr != 0 && v_cmd->data_len != 0)
        hex_dump((const uint8_t *)(uintptr_t)v_cmd->addr, v_cmd->data_len);
}

static PROTOCOL_FUNC_S nvme = {
    SELECT_NVME_TYPE,
    nvme_read,
    nvme_write,
    nvme_identify,
    nvme_smart,
    nvme_vendor,
    nvme_download,
    nvme_send_cmd,
};

void register_nvme(void)
{
    register_protocol(&nvme);
}
