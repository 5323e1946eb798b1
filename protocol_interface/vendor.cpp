/*
 * SMART attributes, the vendor command protocols, vendor log transfers and
 * trim (see vendor.h). Everything here goes through the transports'
 * operation tables; nothing issues a request of its own.
 */
#include "vendor.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "protocol_interface.h"

const uint32_t G_ZV_VENDOR_CMD[ZV_VENDOR_CMD_STEPS] = {0x514D, 0x3754, 0x6B52, 0xC3A6, 0xC3A6};
const uint32_t g_nvme_vender_signitrue = 0x50373468;

#define VENDOR_SECTOR_SIZE 512u
#define SMART_DATA_SIZE    512u
#define SMART_TIMEOUT_S    10
#define FD_TIMEOUT_S       10

/* ATA SMART subcommands (feature register). */
#define ATA_SMART_READ_DATA         0xD0
#define ATA_SMART_ENABLE_OPERATIONS 0xD8
#define ATA_DEVICE_LBA              0x40

/* The NVMe SMART request names the vendor's own SMART opcode, which the
 * NVMe smart operation does not send: it reads the standard log. */
#define NVME_VENDOR_SMART_OPCODE 0xCA

/* Only the attribute area of the SMART data counts. */
#define SMART_ATTRIBUTE_AREA    362
#define SMART_ATA_FIRST_ENTRY   2 /* after the revision word */
#define SMART_NVME_FIRST_ENTRY  0

#define ATA_READ_LOG_EXT   0x2F
#define ATA_WRITE_LOG_EXT  0x3F
#define ATA_VENDOR_LOG_CMD 0xFD

/* The NVMe sequence's vendor admin opcodes: the low two bits carry the
 * transfer direction (01 to the device, 10 from it, 00 none). */
#define NVME_VENDOR_WRITE   0xF9u
#define NVME_VENDOR_READ    0xFAu
#define NVME_VENDOR_EXECUTE 0xFCu

#define NVME_SYS_INFO_OPCODE 0xC2
#define NVME_SYS_INFO_TIMEOUT_S 10

static bool is_nvme_selector(SELECT_PROTOCOL_TYPE ptl)
{
    return ptl == SELECT_NVME_TYPE || ptl == SELECT_JMS583_NVME_TYPE;
}

/* ---------------------------------------------------------------- SMART */

PROTOCOL_STATUS ptl_get_smart_d0_buffer(const char *disk, SELECT_PROTOCOL_TYPE ptl, uint8_t *buffer,
                                        uint32_t buffer_len)
{
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    PPROTOCOL_FUNC_S table = get_protocol_func(ptl);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;
    int handle = open_disk_handle(disk, 1);
    if (handle == -1)
        return PTL_ERR_NO_HANDLE;

    PROTOCOL_STATUS status = PTL_ERR_NOT_SUPPORTED;
    if (ptl == SELECT_SCSI_ATA_TYPE || ptl == SELECT_SCSI_TYPE) {
        /* ENABLE OPERATIONS has no data phase, and SG_IO refuses a data
         * length on a command without one (EINVAL): it goes bufferless. */
        cmd.handle = handle;
        cmd.buffer = NULL;
        cmd.buffer_len = 0;
        cmd.timeout = SMART_TIMEOUT_S;
        cmd.data_to = DATA_NONE;
        cmd.u.ata_smart.feature = ATA_SMART_ENABLE_OPERATIONS;
        cmd.u.ata_smart.count = 0;
        cmd.u.ata_smart.device = ATA_DEVICE_LBA;
        cmd.u.ata_smart.lba = 0; /* the transport puts the SMART signature there */
        status = table->smart(&cmd);
        if (status == PTL_SUCCESS) {
            memset(&cmd, 0, sizeof(cmd));
            cmd.handle = handle;
            cmd.buffer = buffer;
            cmd.buffer_len = buffer_len;
            cmd.timeout = SMART_TIMEOUT_S;
            cmd.data_to = DATA_FROM_DEV;
            cmd.u.ata_smart.feature = ATA_SMART_READ_DATA;
            cmd.u.ata_smart.count = 1;
            cmd.u.ata_smart.device = ATA_DEVICE_LBA;
            cmd.u.ata_smart.lba = 0;
            status = table->smart(&cmd);
        }
    } else if (ptl == SELECT_NVME_TYPE) {
        cmd.handle = handle;
        cmd.buffer = buffer;
        cmd.buffer_len = buffer_len;
        cmd.timeout = SMART_TIMEOUT_S;
        cmd.data_to = DATA_FROM_DEV;
        cmd.u.vendor.CDW0 = NVME_VENDOR_SMART_OPCODE;
        cmd.u.vendor.CDW14 = g_nvme_vender_signitrue;
        status = table->smart(&cmd);
    }
    close_disk_handle(handle);
    return status;
}

/* The list of non-empty entries, or null with status 60 when a node could
 * not be allocated (the nodes made so far are freed). */
static PROTOCOL_STATUS parse_smart_entries(const uint8_t *v_data, int32_t v_len, SELECT_PROTOCOL_TYPE ptl,
                                           PSMART_D0_LIST *v_list)
{
    *v_list = NULL;
    if (v_data == NULL || v_len <= 0)
        return PTL_SUCCESS;

    uint32_t start = is_nvme_selector(ptl) ? SMART_NVME_FIRST_ENTRY : SMART_ATA_FIRST_ENTRY;
    uint32_t usable = (uint32_t)v_len < SMART_ATTRIBUTE_AREA ? (uint32_t)v_len : SMART_ATTRIBUTE_AREA;
    if (usable < start)
        return PTL_SUCCESS;
    uint32_t entries = (usable - start) / sizeof(SMART_D0_DATA_ITEM);

    PSMART_D0_LIST head = NULL;
    PSMART_D0_LIST *tail = &head;
    for (uint32_t i = 0; i < entries; i++) {
        const uint8_t *entry = v_data + start + i * sizeof(SMART_D0_DATA_ITEM);
        if (entry[0] == 0)
            continue;
        PSMART_D0_LIST node = (PSMART_D0_LIST)malloc(sizeof(SMART_D0_LIST));
        if (node == NULL) {
            free_smart_d0_list(head);
            return PTL_ERR_OUT_OF_MEMORY;
        }
        memset(node, 0, sizeof(*node));
        memcpy(&node->d0, entry, sizeof(node->d0));
        *tail = node;
        tail = &node->next;
    }
    *v_list = head;
    return PTL_SUCCESS;
}

PSMART_D0_LIST parse_smart_d0(const uint8_t *v_smart_d0, int32_t v_smart_d0_len, SELECT_PROTOCOL_TYPE ptl)
{
    PSMART_D0_LIST list = NULL;
    parse_smart_entries(v_smart_d0, v_smart_d0_len, ptl, &list);
    return list;
}

void free_smart_d0_list(PSMART_D0_LIST list)
{
    while (list != NULL) {
        PSMART_D0_LIST next = list->next;
        free(list);
        list = next;
    }
}

PROTOCOL_STATUS ptl_get_smart_d0(const char *disk, SELECT_PROTOCOL_TYPE ptl, PSMART_D0_LIST *smart)
{
    uint8_t buffer[SMART_DATA_SIZE];
    memset(buffer, 0, sizeof(buffer));
    PROTOCOL_STATUS status = ptl_get_smart_d0_buffer(disk, ptl, buffer, sizeof(buffer));
    if (status != PTL_SUCCESS)
        return status;
    PSMART_D0_LIST list = NULL;
    status = parse_smart_entries(buffer, sizeof(buffer), ptl, &list);
    if (status == PTL_SUCCESS)
        *smart = list;
    return status;
}

/* ------------------------------------------------------ vendor sequences */

PROTOCOL_STATUS zv_vendor(int v_handle, PZV_VENDOR_CMD v_cmd)
{
    if (v_cmd->ptl == SELECT_NVME_TYPE)
        return zv_nvme_vendor_three_cmd(v_handle, v_cmd);
    return zv_ata_vendor_five_cmd(v_handle, v_cmd);
}

static uint32_t sequence_timeout(const ZV_VENDOR_CMD *v_cmd)
{
    return v_cmd->args_timeout > v_cmd->data_timeout ? v_cmd->args_timeout : v_cmd->data_timeout;
}

PROTOCOL_STATUS zv_ata_vendor_five_cmd(int v_handle, PZV_VENDOR_CMD v_cmd)
{
    PPROTOCOL_FUNC_S table = get_protocol_func(v_cmd->ptl);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    uint8_t key[VENDOR_SECTOR_SIZE];
    memset(key, 0, sizeof(key));
    struct step {
        bool read;
        uint32_t sectors;
        uint8_t *buffer;
        PROTOCOL_STATUS failure;
    } steps[ZV_VENDOR_CMD_STEPS] = {
        {true, 1, key, PTL_ERR_VENDOR_KEY_READ},
        {true, 1, key, PTL_ERR_VENDOR_KEY_READ},
        {true, 1, key, PTL_ERR_VENDOR_KEY_READ},
        {false, v_cmd->args_sectors, v_cmd->args, PTL_ERR_VENDOR_ARG_WRITE},
        {v_cmd->rw != 0, v_cmd->data_sectors, v_cmd->data,
         v_cmd->rw != 0 ? PTL_ERR_VENDOR_DATA_READ : PTL_ERR_VENDOR_DATA_WRITE},
    };

    for (int i = 0; i < ZV_VENDOR_CMD_STEPS; i++) {
        PROTOCOL_CMD_S cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.handle = v_handle;
        cmd.timeout = sequence_timeout(v_cmd);
        cmd.u.rw.lba = G_ZV_VENDOR_CMD[i];
        cmd.u.rw.sectors = steps[i].sectors;
        cmd.data_to = steps[i].read ? DATA_FROM_DEV : DATA_TO_DEV;
        cmd.buffer = steps[i].buffer;
        cmd.buffer_len = steps[i].sectors * VENDOR_SECTOR_SIZE;
        PROTOCOL_STATUS status = steps[i].read ? table->read(&cmd) : table->write(&cmd);
        if (status != PTL_SUCCESS)
            return steps[i].failure;
    }
    return PTL_SUCCESS;
}

PROTOCOL_STATUS zv_nvme_vendor_three_cmd(int v_handle, PZV_VENDOR_CMD v_cmd)
{
    PPROTOCOL_FUNC_S table = get_protocol_func(SELECT_NVME_TYPE);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    bool read = v_cmd->rw != 0;
    struct step {
        uint32_t opcode;
        uint8_t *buffer;
        uint32_t sectors;
        uint8_t data_to;
    } steps[] = {
        {NVME_VENDOR_WRITE, v_cmd->args, v_cmd->args_sectors, DATA_TO_DEV},
        {NVME_VENDOR_EXECUTE, NULL, 0, DATA_NONE},
        {read ? NVME_VENDOR_READ : NVME_VENDOR_WRITE, v_cmd->data, v_cmd->data_sectors,
         (uint8_t)(read ? DATA_FROM_DEV : DATA_TO_DEV)},
    };

    PROTOCOL_STATUS status = PTL_SUCCESS;
    for (const step &s : steps) {
        PROTOCOL_CMD_S cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.handle = v_handle;
        cmd.timeout = sequence_timeout(v_cmd);
        cmd.u.vendor.CDW0 = s.opcode;
        cmd.u.vendor.CDW10 = s.sectors * VENDOR_SECTOR_SIZE / 4;
        cmd.u.vendor.CDW12 = v_cmd->subcommand;
        cmd.buffer = s.buffer;
        cmd.buffer_len = s.sectors * VENDOR_SECTOR_SIZE;
        cmd.data_to = s.data_to;
        status = table->vendor(&cmd);
        if (status != PTL_SUCCESS)
            return status;
    }
    return status;
}

PROTOCOL_STATUS zv_nvme_vendor_smart(int, uint8_t *, uint32_t)
{
    return PTL_ERR_NOT_SUPPORTED;
}

/* ------------------------------------------------------- vendor log commands */

PROTOCOL_STATUS zv_vendor_one_cmd(PZV_VENDOR_ONE_CMD v_cmd)
{
    v_cmd->ptl = SELECT_SCSI_ATA_TYPE;
    PPROTOCOL_FUNC_S table = get_protocol_func(v_cmd->ptl);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    bool read = v_cmd->rw != 0;
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.handle = v_cmd->disk_handle;
    cmd.timeout = v_cmd->timeout;
    cmd.buffer = v_cmd->buffer;
    cmd.buffer_len = v_cmd->buffer_len;
    cmd.data_to = read ? DATA_FROM_DEV : DATA_TO_DEV;
    cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
    SCSI_ATA_PROTOCOL *ata = &cmd.u.send_cmd.sc.scsi_ata;
    ata->lba = v_cmd->lba;
    ata->sectors = v_cmd->buffer_len / VENDOR_SECTOR_SIZE;
    ata->bit = ATA_COMMAND_48_BIT;
    ata->ata_command = read ? ATA_READ_LOG_EXT : ATA_WRITE_LOG_EXT;
    ata->protocol = read ? PIO_DATA_IN : PIO_DATA_OUT;
    return table->send_cmd(&cmd);
}

PROTOCOL_STATUS send_fd_read_log(P_FD_CMD_ARG v_arg)
{
    v_arg->ptl = SELECT_SCSI_ATA_TYPE;
    PPROTOCOL_FUNC_S table = get_protocol_func(v_arg->ptl);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.handle = v_arg->disk_handle;
    cmd.buffer = v_arg->buffer;
    cmd.buffer_len = v_arg->buffer_len;
    cmd.timeout = FD_TIMEOUT_S;
    cmd.data_to = DATA_FROM_DEV;
    cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
    SCSI_ATA_PROTOCOL *ata = &cmd.u.send_cmd.sc.scsi_ata;
    ata->ata_command = ATA_VENDOR_LOG_CMD;
    ata->bit = ATA_COMMAND_28_BIT;
    ata->features = (uint16_t)v_arg->feature;
    ata->lba = v_arg->index;
    ata->protocol = UDMA_DATA_IN;
    ata->sectors = v_arg->buffer_len / VENDOR_SECTOR_SIZE;
    ata->t_length = T_LENGTH_SECTORS;
    return table->send_cmd(&cmd);
}

PROTOCOL_STATUS nvme_0xC2(int v_handle, PNVME_SYS_INFO v_info)
{
    PPROTOCOL_FUNC_S table = get_protocol_func(SELECT_NVME_TYPE);
    if (table == NULL)
        return PTL_ERR_NOT_SUPPORTED;

    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    cmd.handle = v_handle;
    cmd.u.vendor.CDW0 = NVME_SYS_INFO_OPCODE;
    cmd.u.vendor.NSID = 1;
    cmd.u.vendor.CDW10 = NVME_SYS_INFO_SIZE / 4 - 1;
    cmd.buffer = (uint8_t *)v_info;
    cmd.buffer_len = NVME_SYS_INFO_SIZE;
    cmd.data_to = DATA_FROM_DEV;
    cmd.timeout = NVME_SYS_INFO_TIMEOUT_S;
    return table->vendor(&cmd);
}

/* ------------------------------------------------------------------ trim */

PROTOCOL_STATUS ptl_trim(const char *disk, SELECT_PROTOCOL_TYPE ptl, uint64_t lba, uint64_t count)
{
    int handle = open_disk_handle(disk, 1);
    if (handle == -1)
        return PTL_ERR_NO_HANDLE;
    PROTOCOL_STATUS status = PTL_ERR_NOT_SUPPORTED;
    if (ptl == SELECT_NVME_TYPE) {
        printf("lba[%llu] count[%llu]\n", (unsigned long long)lba, (unsigned long long)count);
        fflush(stdout);
        status = nvme_win_trim(handle, lba, count);
    }
    close_disk_handle(handle);
    return status;
}

PROTOCOL_STATUS nvme_win_trim(int, uint64_t, uint64_t)
{
    return PTL_ERR_NOT_SUPPORTED;
}
