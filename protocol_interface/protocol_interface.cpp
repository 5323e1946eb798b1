/*
 * The registry of transports, device handles, and the identify helpers of
 * the disk protocol library.
 */
#include "protocol_interface.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "common.h"
#include "linux/linux_nvme.h"
#include "linux/linux_scsi.h"
#include "linux/linux_scsi_ata.h"

const char PROTOCOL_INTERFACE_VERSION[] = "libprotocol_interface version:1.1.0 (2020-08-24 05:36:05 PM)";

#define IDENTIFY_BUFFER_SIZE 4096
#define IDENTIFY_TIMEOUT_S   10

static PPROTOCOL_FUNC_S g_ptl_array[SELECT_PTL_END];
static bool g_registered = false;

int open_disk_handle(const char *v_disk_name, int v_share)
{
    int flags = O_RDWR | O_CLOEXEC;
    if (v_share != 1)
        flags |= O_EXCL;
    return open(v_disk_name, flags);
}

void close_disk_handle(int v_handle)
{
    close(v_handle);
}

void register_protocol(PPROTOCOL_FUNC_S v_protocol_func)
{
    if (v_protocol_func == NULL || v_protocol_func->ptl >= SELECT_PTL_END)
        return;
    g_ptl_array[v_protocol_func->ptl] = v_protocol_func;
}

PPROTOCOL_FUNC_S get_protocol_func(SELECT_PROTOCOL_TYPE ptl)
{
    if (!g_registered) {
        g_registered = true;
        register_scsi_ata();
        register_scsi();
        register_nvme();
    }
    if (ptl >= SELECT_PTL_END)
        return NULL;
    return g_ptl_array[ptl];
}

PROTOCOL_STATUS ptl_not_supported(const PPROTOCOL_CMD_S)
{
    return PTL_ERR_NOT_SUPPORTED;
}

static bool is_nvme_selector(SELECT_PROTOCOL_TYPE ptl)
{
    return ptl == SELECT_NVME_TYPE || ptl == SELECT_JMS583_NVME_TYPE;
}

PROTOCOL_STATUS ptl_get_identify(PIDENTIFY_PARAMETER arg)
{
    uint8_t buffer[IDENTIFY_BUFFER_SIZE];
    PROTOCOL_CMD_S cmd;
    memset(buffer, 0, sizeof(buffer));
    memset(&cmd, 0, sizeof(cmd));

    PPROTOCOL_FUNC_S table = get_protocol_func(arg->ptl);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    uint32_t buffer_len = is_nvme_selector(arg->ptl) ? NVME_IDENTIFY_SIZE : ATA_IDENTIFY_SIZE;
    uint64_t copy_len = arg->copy_len != 0 ? arg->copy_len : buffer_len;
    uint64_t touched = arg->reversal ? (copy_len + 1) & ~1ull : copy_len;
    if ((uint64_t)arg->offset + touched > sizeof(buffer))
        return PTL_ERR_IDENTIFY_RANGE;

    int handle = open_disk_handle(arg->name, 1);
    if (handle == -1)
        return PTL_ERR_NO_HANDLE;

    cmd.buffer = buffer;
    cmd.buffer_len = buffer_len;
    if (is_nvme_selector(arg->ptl)) {
        cmd.u.identify.nvme.cns = 1; /* identify controller */
        cmd.u.identify.nvme.nsid = 0;
    }
    cmd.data_to = DATA_FROM_DEV;
    cmd.timeout = IDENTIFY_TIMEOUT_S;
    cmd.handle = handle;
    PROTOCOL_STATUS status = table->identify(&cmd);

    if (status == PTL_SUCCESS) {
        if (arg->reversal)
            swap2bit(buffer + arg->offset, (uint32_t)touched);
        arg->copy_len = (uint32_t)copy_len;
        memcpy(arg->data, buffer + arg->offset, copy_len);
    }
    close_disk_handle(handle);
    return status;
}

uint64_t get_capcity(SELECT_PROTOCOL_TYPE ptl, const uint8_t *id)
{
    if (is_nvme_selector(ptl))
        return get_le32(id + NVME_IDENTIFY_CAPACITY_OFFSET);

    IDENTIFY_DATA_SATA page;
    memcpy(&page, id, sizeof(page));

    if ((page.Capabilities & (1u << 9)) == 0)
        return 0;
    uint64_t lba28 = page.TotalAddressableSectors;
    uint64_t lba48 = (page.CommandSetSupport & 0xC400) == 0x4400 ? page.NumOfLogicSector : 0;
    if (lba28 == 0 && lba48 == 0)
        return 0;

    uint64_t sector_size = 512;
    if ((page.PhysicalLogicalSectorSize & 0xC000) == 0x4000 && (page.PhysicalLogicalSectorSize & (1u << 12)))
        sector_size = ((uint64_t)page.WordsPerLogicalSector[1] * 65536 + page.WordsPerLogicalSector[0]) * 2;

    if (lba48 >= lba28 || (lba48 != 0 && sector_size > 512))
        return lba48;
    return lba28;
}

PROTOCOL_STATUS ptl_get_disk_info(PDISK_INFO_PARAMETER)
{
    return PTL_ERR_NOT_SUPPORTED;
}
