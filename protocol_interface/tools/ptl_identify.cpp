/*
 * ptl-identify: prints a disk's ATA identify data as the disk protocol
 * library reads it (SCSI-ATA transport), with the secure disk's own fields.
 * A diagnostic for developers and support; it opens the device itself, so
 * it needs the rights to open the disk read-write.
 */
#include <stdio.h>
#include <string.h>

#include "common.h"
#include "protocol_interface.h"

#define SECURE_DISK_SIGNATURE 0x5344
#define SIGNATURE_OFFSET      262
#define TRIES_LEFT_OFFSET     442
#define PASSWORD_SET_OFFSET   443

static void print_ata_string(const char *v_label, const uint8_t *v_page, uint32_t v_offset, uint32_t v_len)
{
    char text[64] = {0};
    memcpy(text, v_page + v_offset, v_len);
    swap2bit((uint8_t *)text, v_len);
    for (int i = (int)v_len - 1; i >= 0 && text[i] == ' '; i--)
        text[i] = '\0';
    printf("%-14s %s\n", v_label, text);
}

int main(int argc, char **argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        fprintf(stderr, "usage: ptl-identify /dev/NAME\n");
        return 2;
    }

    uint8_t page[ATA_IDENTIFY_SIZE] = {0};
    IDENTIFY_PARAMETER arg;
    memset(&arg, 0, sizeof(arg));
    arg.ptl = SELECT_SCSI_ATA_TYPE;
    arg.name = argv[1];
    arg.data = page;
    PROTOCOL_STATUS status = ptl_get_identify(&arg);
    if (status != PTL_SUCCESS) {
        fprintf(stderr, "ptl-identify: identify of %s failed, status %d (kind %d, detail %d)\n", argv[1], status,
                PTL_STATUS_KIND(status), PTL_STATUS_DETAIL(status));
        return 1;
    }

    uint16_t signature = get_le16(page + SIGNATURE_OFFSET);
    printf("%-14s %s\n", "device", argv[1]);
    print_ata_string("serial", page, 20, 20);
    print_ata_string("model", page, 54, 40);
    print_ata_string("firmware", page, 46, 8);
    printf("%-14s %llu\n", "sectors", (unsigned long long)get_capcity(SELECT_SCSI_ATA_TYPE, page));
    printf("%-14s 0x%04X (%s)\n", "signature", signature,
           signature == SECURE_DISK_SIGNATURE ? "secure disk" : "not a secure disk");
    if (signature == SECURE_DISK_SIGNATURE) {
        printf("%-14s %d\n", "password_set", (int8_t)page[PASSWORD_SET_OFFSET]);
        printf("%-14s %d\n", "tries_left", (int8_t)page[TRIES_LEFT_OFFSET]);
    }
    printf("\n");
    hex_dump(page, sizeof(page));
    return 0;
}
