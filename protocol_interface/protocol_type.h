/*
 * Types shared by every part of the disk protocol library: the 600-byte
 * command record that also crosses the D-Bus boundary as raw bytes, the
 * enumerations it uses, the operation table of a transport and the one table
 * of statuses that every operation returns.
 */
#ifndef PROTOCOL_TYPE_H
#define PROTOCOL_TYPE_H

#include <stddef.h>
#include <stdint.h>

/* ---------------------------------------------------------------------------
 * Statuses
 *
 * PROTOCOL_STATUS is 0 on success. A failure is (detail * 256) + kind: the
 * low byte says what failed, the bits above carry a detail (an errno value,
 * an SG status byte, an sg3_utils category) or 0.
 * ------------------------------------------------------------------------- */
typedef int32_t PROTOCOL_STATUS;

#define PTL_STATUS(detail, kind) ((PROTOCOL_STATUS)(((detail) * 256) + (kind)))
#define PTL_STATUS_KIND(status)   ((status) & 0xFF)
#define PTL_STATUS_DETAIL(status) ((status) >> 8)

enum PTL_STATUS_KIND_E {
    PTL_SUCCESS                = 0,
    PTL_ERR_BUFFER_TOO_SMALL   = 2,  /* data buffer too small for the request; detail 0 */
    PTL_ERR_NOT_SUPPORTED      = 3,  /* no table for the selector, or operation not supported */
    PTL_ERR_NO_HANDLE          = 4,  /* handle 0 or -1, or the device could not be opened */
    PTL_ERR_READ_WRITE         = 5,  /* read or write command failed; detail errno */
    PTL_ERR_IDENTIFY_SMART     = 6,  /* identify or SMART command failed; detail errno */
    PTL_ERR_NVME_SMART         = 7,  /* NVMe SMART log command failed; detail errno */
    PTL_ERR_DOWNLOAD           = 9,  /* firmware download command failed; detail errno */
    PTL_ERR_IOCTL              = 11, /* the SG_IO / NVMe pass-through ioctl failed; detail errno */
    PTL_ERR_CDB_LEN            = 17, /* SCSI command-block length other than 16 (init_scsi_cdb) */
    PTL_ERR_LBA_RANGE          = 18, /* LBA out of range for the ATA address width */
    PTL_ERR_ATA_WIDTH          = 19, /* ATA address width neither 28- nor 48-bit */
    PTL_ERR_SG_STATUS          = 20, /* SG_IO status byte non-zero; detail the byte */
    PTL_ERR_SG_MASKED_STATUS   = 21, /* SG_IO masked_status non-zero */
    PTL_ERR_SG_MSG_STATUS      = 22, /* SG_IO msg_status non-zero */
    PTL_ERR_SG_HOST_STATUS     = 23, /* SG_IO host_status non-zero */
    PTL_ERR_SG_DRIVER_STATUS   = 24, /* SG_IO driver_status non-zero */
    PTL_ERR_SCSI_PROTOCOL_LEN  = 25, /* SCSI command-block length other than 16 (init_scsi_protocol) */
    PTL_ERR_SG_CATEGORY        = 44, /* sg3_utils classified the completion as an error; detail the category */
    PTL_ERR_ATA_NOT_IN_TABLE   = 46, /* ATA command (with feature) not in the ATA command table */
    PTL_ERR_COUNT_RANGE        = 48, /* sector count out of range for the address width or the
                                        block-count field (also 0 where no block would move) */
    PTL_ERR_VENDOR_KEY_READ    = 49, /* ATA-side vendor sequence: key read failed */
    PTL_ERR_VENDOR_ARG_WRITE   = 50, /* ATA-side vendor sequence: argument write failed */
    PTL_ERR_VENDOR_DATA_READ   = 51, /* ATA-side vendor sequence: data read failed */
    PTL_ERR_VENDOR_DATA_WRITE  = 52, /* ATA-side vendor sequence: data write failed */
    PTL_ERR_IDENTIFY_RANGE     = 53, /* identify slice (offset + copy_len) beyond the identify buffer */
    PTL_ERR_CDB_TOO_LONG       = 54, /* command-block length beyond the record's 32-byte cdb field
                                        (or beyond what SG_IO can carry) */

    /* Refusals of the disk service: input it received over the bus. */
    PTL_ERR_BAD_DEVICE_NAME    = 55, /* not a plain whole-disk block-device path under /dev */
    PTL_ERR_BAD_RECORD         = 56, /* command record shorter than 600 bytes, or a time limit
                                        beyond the service's cap */
    PTL_ERR_BAD_DATA_LENGTH    = 57, /* buffer_len beyond the data received or the service's cap */
    PTL_ERR_NOT_SECURE_DISK    = 58, /* the disk's identify data lack the secure-disk signature */
    PTL_ERR_FORMAT_TOOL        = 59, /* a formatting tool failed; detail its exit status */

    PTL_ERR_OUT_OF_MEMORY      = 60, /* the library could not allocate what the answer needs */

    /* Refusals where sending would not do what the caller asked, and the
     * service's answers about the disk's state. */
    PTL_ERR_SHORT_TRANSFER     = 61, /* a read moved fewer bytes than the command asked for */
    PTL_ERR_DIRECTION          = 62, /* the record's data_to contradicts the read or write operation */
    PTL_ERR_RESET_REFUSED      = 63, /* the disk answered the reset block with an error; detail its
                                        SCSI status byte */
    PTL_ERR_DISK_LOCKED        = 64, /* format: the disk presents its public area (no password verified) */
    PTL_ERR_DISK_IN_USE        = 65, /* format: a partition of the disk is mounted and could not be unmounted */
    PTL_ERR_DISK_NOT_BACK      = 66, /* format: the disk was not found again, by serial number and
                                        signature, after its reset */

    /* Refusals of the disk service: commands outside the installed catalogue. */
    PTL_ERR_NOT_IN_CATALOGUE   = 70, /* the record is no command of SecurityCmd.xml for this method */
    PTL_ERR_PAST_CATALOGUE     = 71, /* buffer_len or time limit larger than the catalogue entry's */
    PTL_ERR_NO_CATALOGUE       = 72, /* the installed SecurityCmd.xml cannot be read */
    PTL_ERR_NOT_AUTHORIZED     = 73, /* polkit did not authorize the caller; the service answers
                                        org.freedesktop.DBus.Error.AccessDenied instead */
};

/* The disk service's status for a device it could not open: kind 4, detail 1. */
#define PTL_SERVICE_OPEN_FAILED PTL_STATUS(1, PTL_ERR_NO_HANDLE) /* 260 */

/* ---------------------------------------------------------------------------
 * Enumerations (all 32-bit)
 * ------------------------------------------------------------------------- */
typedef enum _SELECT_PROTOCOL_TYPE : uint32_t {
    SELECT_SCSI_ATA_TYPE    = 0,
    SELECT_SCSI_TYPE        = 1,
    SELECT_ATA_TYPE         = 2,
    SELECT_NVME_TYPE        = 3,
    SELECT_JMS583_NVME_TYPE = 4,
    SELECT_PTL_END          = 5,
} SELECT_PROTOCOL_TYPE;

typedef enum _DATA_TO : uint32_t {
    DATA_TO_DEV      = 0,
    DATA_FROM_DEV    = 1,
    DATA_TO_FROM_DEV = 2,
    DATA_UNKOWN      = 3,
    DATA_NONE        = 4,
} DATA_TO;

typedef enum _SCSI_CDB_BYTE_LEN : uint32_t {
    SCSI_CDB_6_BYTE  = 6,
    SCSI_CDB_10_BYTE = 10,
    SCSI_CDB_12_BYTE = 12,
    SCSI_CDB_16_BYTE = 16,
    SCSI_CDB_32_BYTE = 32,
} SCSI_CDB_BYTE_LEN;

typedef enum _T_LENGTH : uint32_t {
    T_LENGTH_NO_DATA = 0,
    T_LENGTH_FEATURE = 1,
    T_LENGTH_SECTORS = 2,
    T_LENGTH_STPSIU  = 3,
} T_LENGTH;

typedef enum _ATA_COMMAND_BIT_LEN : uint32_t {
    ATA_COMMAND_28_BIT = 0,
    ATA_COMMAND_48_BIT = 1,
} ATA_COMMAND_BIT_LEN;

/* The SAT protocol field codes. */
typedef enum _ATA_PROTOCOL_TYPE : uint32_t {
    HARD_RESET        = 0,
    SRST              = 1,
    RESERVED          = 2,
    NON_DATA          = 3,
    PIO_DATA_IN       = 4,
    PIO_DATA_OUT      = 5,
    PROTOCOL_DMA      = 6,
    DMA_QUEUED        = 7,
    DEVICE_DIAGNOSTIC = 8,
    DEVICE_RESET      = 9,
    UDMA_DATA_IN      = 10,
    UDMA_DATA_OUT     = 11,
    FPDMA             = 12,
} ATA_PROTOCOL_TYPE;

typedef enum _SEND_CMD_TYPE : uint32_t {
    SEND_CMD_CDB      = 0,
    SEND_CMD_PROTOCOL = 1,
} SEND_CMD_TYPE;

typedef enum _DOWNLOAD_MODE : uint32_t {
    DOWNLOAD_PIO_MODE = 0,
    DOWNLOAD_DMA_MODE = 1,
} DOWNLOAD_MODE;

/* The ATA DOWNLOAD MICROCODE subcommands. */
typedef enum _ATA_FW_DOWNLOAD_MODEL : uint32_t {
    DLFW_DOWNLOAD_ACTIVATE = 3,
    DLFW_DOWNLOAD_ONLY_ONE = 7,
    DLFW_DOWNLOAD          = 14,
    DLFW_ACTIVATE          = 15,
} ATA_FW_DOWNLOAD_MODEL;

typedef enum _NVME_CMD_TYPE : uint32_t {
    NVME_ADMIN_CMD_TYPE = 0,
    NVME_IO_CMD_TYPE    = 1,
} NVME_CMD_TYPE;

/* Four bytes "QM7T" in memory. */
#define VENDOR_MAGIC_NUM 0x54374D51u

/* ---------------------------------------------------------------------------
 * Command record
 * ------------------------------------------------------------------------- */
#define PTL_CMD_RECORD_SIZE 600
#define PTL_CMD_SENSE_SIZE  512
#define PTL_CMD_CDB_SIZE    32

typedef struct _cdb_cmd {
    uint8_t cdb[PTL_CMD_CDB_SIZE];
    ATA_COMMAND_BIT_LEN ata_bit;
    uint32_t ata_flag;
    SCSI_CDB_BYTE_LEN scsi_cdb_len;
} CDB_CMD;

typedef struct _scsi_protocol {
    uint64_t lba;
    SCSI_CDB_BYTE_LEN len;
    uint32_t sectors;
    uint8_t command;
} SCSI_PROTOCOL;

typedef struct _ata_protocol {
    uint64_t lba;
    ATA_COMMAND_BIT_LEN bit;
    uint32_t count;
    uint32_t flag;
    uint16_t feature;
    uint8_t device;
    uint8_t command;
} ATA_PROTOCOL;

typedef struct _scsi_ata_protocol {
    uint64_t lba;
    ATA_PROTOCOL_TYPE protocol;
    ATA_COMMAND_BIT_LEN bit;
    T_LENGTH t_length;
    uint32_t sectors;
    uint16_t features;
    uint8_t device;
    uint8_t ata_command;
} SCSI_ATA_PROTOCOL;

typedef struct _nvme_protocol {
    uint8_t command;
    uint8_t subcommand;
    uint32_t namesapce_id;
    NVME_CMD_TYPE type;
} NVME_PROTOCOL;

typedef union _SEND_CMD_U {
    CDB_CMD cc;
    SCSI_PROTOCOL scsi;
    ATA_PROTOCOL ata;
    SCSI_ATA_PROTOCOL scsi_ata;
    NVME_PROTOCOL nvme;
} SEND_CMD_U;

typedef struct _nvme_identify_cmd {
    uint32_t cns;
    uint32_t nsid;
} NVME_IDENTIFY_CMD;

typedef struct _nvme_glp_cmd {
    uint32_t log_identifier;
} NVME_GLP_CMD;

typedef struct protocol_cmd_s {
    int32_t handle;
    union {
        struct {
            uint64_t lba;
            uint32_t sectors;
            uint16_t feature;
            uint8_t device;
            ATA_COMMAND_BIT_LEN ata_len;
            SCSI_CDB_BYTE_LEN scsi_len;
        } rw;
        struct {
            uint64_t lba;
            uint16_t feature;
            uint8_t count;
            uint8_t device;
        } ata_smart;
        union {
            struct {
                uint8_t ata_command_code;
                uint64_t lba;
                uint32_t sectors;
            };
            struct {
                uint32_t CDW0;
                uint32_t NSID;
                uint32_t CDW10;
                uint32_t CDW11;
                uint32_t CDW12;
                uint32_t CDW13;
                uint32_t CDW14;
                uint32_t CDW15;
            };
        } vendor;
        struct {
            uint64_t lba;
            uint32_t sectors;
            DOWNLOAD_MODE download_mode;
            ATA_FW_DOWNLOAD_MODEL model;
        } download;
        struct {
            SEND_CMD_TYPE type;
            SEND_CMD_U sc;
        } send_cmd;
        struct {
            uint64_t lba;
            uint32_t sectors;
            uint32_t cns;
            uint32_t nsid;
            char *vender_arg;
        } jms583_nvme;
        struct {
            NVME_IDENTIFY_CMD nvme;
        } identify;
        struct {
            NVME_GLP_CMD nvme;
        } get_log_page;
    } u;
    uint8_t data_to; /* a DATA_TO value */
    uint8_t *buffer;
    uint32_t buffer_len;
    uint32_t timeout; /* seconds */
    uint8_t ext[PTL_CMD_SENSE_SIZE];
} PROTOCOL_CMD_S, *PPROTOCOL_CMD_S;

/* The record is a wire format: every offset is fixed. */
static_assert(sizeof(PROTOCOL_CMD_S) == PTL_CMD_RECORD_SIZE, "command record is 600 bytes");
static_assert(offsetof(PROTOCOL_CMD_S, handle) == 0, "handle");
static_assert(offsetof(PROTOCOL_CMD_S, u) == 8, "u");
static_assert(sizeof(((PROTOCOL_CMD_S *)0)->u) == 56, "u is 56 bytes");
static_assert(offsetof(PROTOCOL_CMD_S, data_to) == 64, "data_to");
static_assert(offsetof(PROTOCOL_CMD_S, buffer) == 72, "buffer");
static_assert(offsetof(PROTOCOL_CMD_S, buffer_len) == 80, "buffer_len");
static_assert(offsetof(PROTOCOL_CMD_S, timeout) == 84, "timeout");
static_assert(offsetof(PROTOCOL_CMD_S, ext) == 88, "ext");

static_assert(offsetof(PROTOCOL_CMD_S, u.rw.lba) == 8, "rw.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.rw.sectors) == 16, "rw.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.rw.feature) == 20, "rw.feature");
static_assert(offsetof(PROTOCOL_CMD_S, u.rw.device) == 22, "rw.device");
static_assert(offsetof(PROTOCOL_CMD_S, u.rw.ata_len) == 24, "rw.ata_len");
static_assert(offsetof(PROTOCOL_CMD_S, u.rw.scsi_len) == 28, "rw.scsi_len");

static_assert(offsetof(PROTOCOL_CMD_S, u.ata_smart.lba) == 8, "ata_smart.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.ata_smart.feature) == 16, "ata_smart.feature");
static_assert(offsetof(PROTOCOL_CMD_S, u.ata_smart.count) == 18, "ata_smart.count");
static_assert(offsetof(PROTOCOL_CMD_S, u.ata_smart.device) == 19, "ata_smart.device");

static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.ata_command_code) == 8, "vendor.ata_command_code");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.lba) == 16, "vendor.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.sectors) == 24, "vendor.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW0) == 8, "vendor.CDW0");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.NSID) == 12, "vendor.NSID");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW10) == 16, "vendor.CDW10");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW11) == 20, "vendor.CDW11");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW12) == 24, "vendor.CDW12");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW13) == 28, "vendor.CDW13");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW14) == 32, "vendor.CDW14");
static_assert(offsetof(PROTOCOL_CMD_S, u.vendor.CDW15) == 36, "vendor.CDW15");

static_assert(offsetof(PROTOCOL_CMD_S, u.download.lba) == 8, "download.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.download.sectors) == 16, "download.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.download.download_mode) == 20, "download.download_mode");
static_assert(offsetof(PROTOCOL_CMD_S, u.download.model) == 24, "download.model");

static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.type) == 8, "send_cmd.type");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc) == 16, "send_cmd.sc");
static_assert(sizeof(SEND_CMD_U) == 48, "SEND_CMD_U is 48 bytes");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.cc.cdb) == 16, "sc.cc.cdb");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.cc.ata_bit) == 48, "sc.cc.ata_bit");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.cc.ata_flag) == 52, "sc.cc.ata_flag");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.cc.scsi_cdb_len) == 56, "sc.cc.scsi_cdb_len");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi.lba) == 16, "sc.scsi.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi.len) == 24, "sc.scsi.len");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi.sectors) == 28, "sc.scsi.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi.command) == 32, "sc.scsi.command");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.lba) == 16, "sc.ata.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.bit) == 24, "sc.ata.bit");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.count) == 28, "sc.ata.count");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.flag) == 32, "sc.ata.flag");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.feature) == 36, "sc.ata.feature");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.device) == 38, "sc.ata.device");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.ata.command) == 39, "sc.ata.command");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.lba) == 16, "sc.scsi_ata.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.protocol) == 24, "sc.scsi_ata.protocol");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.bit) == 28, "sc.scsi_ata.bit");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.t_length) == 32, "sc.scsi_ata.t_length");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.sectors) == 36, "sc.scsi_ata.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.features) == 40, "sc.scsi_ata.features");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.device) == 42, "sc.scsi_ata.device");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.scsi_ata.ata_command) == 43, "sc.scsi_ata.ata_command");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.nvme.command) == 16, "sc.nvme.command");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.nvme.subcommand) == 17, "sc.nvme.subcommand");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.nvme.namesapce_id) == 20, "sc.nvme.namesapce_id");
static_assert(offsetof(PROTOCOL_CMD_S, u.send_cmd.sc.nvme.type) == 24, "sc.nvme.type");

static_assert(offsetof(PROTOCOL_CMD_S, u.jms583_nvme.lba) == 8, "jms583_nvme.lba");
static_assert(offsetof(PROTOCOL_CMD_S, u.jms583_nvme.sectors) == 16, "jms583_nvme.sectors");
static_assert(offsetof(PROTOCOL_CMD_S, u.jms583_nvme.cns) == 20, "jms583_nvme.cns");
static_assert(offsetof(PROTOCOL_CMD_S, u.jms583_nvme.nsid) == 24, "jms583_nvme.nsid");
static_assert(offsetof(PROTOCOL_CMD_S, u.jms583_nvme.vender_arg) == 32, "jms583_nvme.vender_arg");
static_assert(offsetof(PROTOCOL_CMD_S, u.identify.nvme.cns) == 8, "identify.nvme.cns");
static_assert(offsetof(PROTOCOL_CMD_S, u.identify.nvme.nsid) == 12, "identify.nvme.nsid");
static_assert(offsetof(PROTOCOL_CMD_S, u.get_log_page.nvme.log_identifier) == 8,
              "get_log_page.nvme.log_identifier");

/* ---------------------------------------------------------------------------
 * Operation table of a transport
 * ------------------------------------------------------------------------- */
typedef PROTOCOL_STATUS (*PTL_OPERATION)(const PPROTOCOL_CMD_S v_cmd);

typedef struct protocol_func_s {
    SELECT_PROTOCOL_TYPE ptl;
    PTL_OPERATION read;
    PTL_OPERATION write;
    PTL_OPERATION identify;
    PTL_OPERATION smart;
    PTL_OPERATION vendor;
    PTL_OPERATION download;
    PTL_OPERATION send_cmd;
} PROTOCOL_FUNC_S, *PPROTOCOL_FUNC_S;

/* ---------------------------------------------------------------------------
 * Requests of the identify helpers
 * ------------------------------------------------------------------------- */
typedef struct _read_identify_arg {
    SELECT_PROTOCOL_TYPE ptl;
    const char *name;   /* device path */
    uint8_t *data;      /* destination, owned by the caller */
    uint32_t copy_len;  /* 0: the whole identify buffer; updated to the length copied */
    uint32_t offset;    /* first byte of the identify data to copy */
    uint32_t reversal;  /* non-zero: swap the bytes of every 16-bit word first */
} IDENTIFY_PARAMETER, *PIDENTIFY_PARAMETER;

typedef struct _disk_info {
    char sn[21];
    char mn[41];
    char fw_ver[9];
    char wwn[9];
    char ps[15];
    uint64_t cap;
    int32_t svn;
    char speed;
    char fw_type;
} DISK_INFO, *PDISK_INFO;

typedef struct _disk_info_arg {
    SELECT_PROTOCOL_TYPE ptl;
    const char *name;
    PDISK_INFO disk_info;
} DISK_INFO_PARAMETER, *PDISK_INFO_PARAMETER;

/* ---------------------------------------------------------------------------
 * SMART attributes, vendor commands and NVMe system information
 * ------------------------------------------------------------------------- */

/* One 12-byte attribute entry of the ATA SMART READ DATA page. */
typedef struct _smart_d0_data {
    uint8_t id;        /* 0 marks an empty entry */
    uint8_t reserved0; /* first flag byte, not interpreted */
    uint8_t reserved1; /* second flag byte, not interpreted */
    uint8_t current;
    uint8_t worst;
    uint8_t raw[7];
} SMART_D0_DATA_ITEM, *PSMART_D0_DATA_ITEM;

static_assert(sizeof(SMART_D0_DATA_ITEM) == 12, "a SMART attribute entry is 12 bytes");

/* Attributes in the order of the data; freed by free_smart_d0_list. */
typedef struct _smart_d0_list {
    SMART_D0_DATA_ITEM d0;
    struct _smart_d0_list *next;
} SMART_D0_LIST, *PSMART_D0_LIST;

/* A vendor sequence (zv_vendor): an argument block sent to the device and
 * a data phase in either direction. */
typedef struct zv_vendor_cmd {
    uint8_t subcommand;     /* sent by the NVMe sequence only */
    uint8_t rw;             /* non-zero: read the data from the device */
    uint8_t *args;
    uint32_t args_sectors;  /* length of args in 512-byte sectors */
    uint8_t *data;
    uint32_t data_sectors;  /* length of data in 512-byte sectors */
    uint32_t args_timeout;  /* seconds */
    uint32_t data_timeout;  /* seconds */
    SELECT_PROTOCOL_TYPE ptl;
} ZV_VENDOR_CMD, *PZV_VENDOR_CMD;

/* One vendor log transfer (READ LOG EXT / WRITE LOG EXT). */
typedef struct zv_vendor_one_cmd {
    uint32_t timeout;       /* seconds */
    uint32_t rw;            /* non-zero: read */
    uint64_t lba;           /* the log address */
    uint8_t *buffer;
    uint32_t buffer_len;    /* bytes */
    SELECT_PROTOCOL_TYPE ptl;
    int disk_handle;
} ZV_VENDOR_ONE_CMD, *PZV_VENDOR_ONE_CMD;

typedef enum _FD_CMD_FEATURE : uint32_t {
    FD_FW_INFO_FEATURE                 = 0xA0,
    FD_FW_LOG_PAGE_NUMBER_FEATURE      = 0xA1,
    FD_READ_SPECIFICE_LOG_PAGE_FEATURE = 0xA2,
} FD_CMD_FEATURE;

/* The vendor log command 0xFD. */
typedef struct _FD_CMD_ARG_ {
    FD_CMD_FEATURE feature;
    uint32_t index;
    uint8_t *buffer;
    uint32_t buffer_len;    /* bytes */
    SELECT_PROTOCOL_TYPE ptl;
    int disk_handle;
} FD_CMD_ARG, *P_FD_CMD_ARG;

/* The 2048-byte page of the NVMe vendor system-information command 0xC2. */
#define NVME_SYS_INFO_SIZE 2048

typedef struct _nvme_sys_info {
    uint32_t signature;
    uint32_t romversion;
    uint32_t feature;
    uint32_t status;
    uint8_t reserved0[2009];
    uint8_t fw_type;
    uint8_t reserved1[22];
} NVME_SYS_INFO, *PNVME_SYS_INFO;

static_assert(sizeof(NVME_SYS_INFO) == NVME_SYS_INFO_SIZE, "NVMe system information is 2048 bytes");
static_assert(offsetof(NVME_SYS_INFO, reserved0) == 16, "sys_info.reserved0");
static_assert(offsetof(NVME_SYS_INFO, fw_type) == 2025, "sys_info.fw_type");

#endif /* PROTOCOL_TYPE_H */
