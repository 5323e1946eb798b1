/*
 * Layouts of the identify pages the library reads: the 512-byte ATA IDENTIFY
 * DEVICE page as 256 little-endian words, with names for the words that the
 * capacity and disk-information helpers use.
 */
#ifndef IDENTIFY_STRUCT_H
#define IDENTIFY_STRUCT_H

#include <stddef.h>
#include <stdint.h>

#define ATA_IDENTIFY_SIZE 512

typedef struct _IDENTIFY_DATA_SATA {
    uint16_t Reserved0[10];               /* words 0-9 */
    uint8_t SerialNumber[20];             /* words 10-19, ATA string */
    uint16_t Reserved20[3];               /* words 20-22 */
    uint8_t FirmwareRev[8];               /* words 23-26, ATA string */
    uint8_t ModelNumber[40];              /* words 27-46, ATA string */
    uint16_t Reserved47[2];               /* words 47-48 */
    uint16_t Capabilities;                /* word 49: bit 9 LBA supported */
    uint16_t Reserved50[10];              /* words 50-59 */
    uint32_t TotalAddressableSectors;     /* words 60-61: 28-bit LBA capacity */
    uint16_t Reserved62[21];              /* words 62-82 */
    uint16_t CommandSetSupport;           /* word 83: bit 10 48-bit feature set */
    uint16_t Reserved84[16];              /* words 84-99 */
    uint64_t NumOfLogicSector;            /* words 100-103: 48-bit LBA capacity */
    uint16_t Reserved104[2];              /* words 104-105 */
    uint16_t PhysicalLogicalSectorSize;   /* word 106 */
    uint16_t Reserved107;                 /* word 107 */
    uint16_t Wwn[4];                      /* words 108-111 */
    uint16_t Reserved112[5];              /* words 112-116 */
    uint16_t WordsPerLogicalSector[2];    /* words 117-118, low word first */
    uint16_t Reserved119[10];             /* words 119-128 */
    uint16_t FwType;                      /* word 129 */
    uint16_t Reserved130[106];            /* words 130-235 */
    uint16_t SVN[2];                      /* words 236-237 */
    uint16_t FFlashID[7];                 /* words 238-244 */
    uint16_t Reserved245[11];             /* words 245-255 */
} IDENTIFY_DATA_SATA, *PIDENTIFY_DATA_SATA;

static_assert(sizeof(IDENTIFY_DATA_SATA) == ATA_IDENTIFY_SIZE, "ATA identify page is 512 bytes");
static_assert(offsetof(IDENTIFY_DATA_SATA, SerialNumber) == 10 * 2, "word 10");
static_assert(offsetof(IDENTIFY_DATA_SATA, FirmwareRev) == 23 * 2, "word 23");
static_assert(offsetof(IDENTIFY_DATA_SATA, ModelNumber) == 27 * 2, "word 27");
static_assert(offsetof(IDENTIFY_DATA_SATA, Capabilities) == 49 * 2, "word 49");
static_assert(offsetof(IDENTIFY_DATA_SATA, TotalAddressableSectors) == 60 * 2, "word 60");
static_assert(offsetof(IDENTIFY_DATA_SATA, CommandSetSupport) == 83 * 2, "word 83");
static_assert(offsetof(IDENTIFY_DATA_SATA, NumOfLogicSector) == 100 * 2, "word 100");
static_assert(offsetof(IDENTIFY_DATA_SATA, PhysicalLogicalSectorSize) == 106 * 2, "word 106");
static_assert(offsetof(IDENTIFY_DATA_SATA, Wwn) == 108 * 2, "word 108");
static_assert(offsetof(IDENTIFY_DATA_SATA, WordsPerLogicalSector) == 117 * 2, "word 117");
static_assert(offsetof(IDENTIFY_DATA_SATA, FwType) == 129 * 2, "word 129");
static_assert(offsetof(IDENTIFY_DATA_SATA, SVN) == 236 * 2, "word 236");
static_assert(offsetof(IDENTIFY_DATA_SATA, FFlashID) == 238 * 2, "word 238");

/* The NVMe Identify Controller page is 4096 bytes; the library reads only
 * the capacity in logical blocks (low 32 bits) that the vendor's controller
 * keeps at byte 120, inside the FGUID field. */
#define NVME_IDENTIFY_SIZE 4096
#define NVME_IDENTIFY_CAPACITY_OFFSET 120

#endif /* IDENTIFY_STRUCT_H */
