/* The kernel's TCMU command ring, read and answered from C: the kernel's
 * header (linux/target_core_user.h) is C, and its inline helpers do not
 * compile as C++. Offsets are counted from the start of the uio mapping. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum zv_tcmu_kind { ZV_TCMU_PAD, ZV_TCMU_CMD, ZV_TCMU_OTHER };

struct zv_tcmu_mailbox_info {
    uint16_t version;
    int read_len;         /* the kernel takes a read length (TCMU_UFLAG_READ_LEN) */
    uint32_t ring_off;    /* the command ring */
    uint32_t ring_size;
};

struct zv_tcmu_entry {
    enum zv_tcmu_kind kind;
    uint32_t length;      /* bytes of the ring the entry takes */
    uint64_t cdb_off;     /* the command block */
    uint32_t iov_cnt;
    uint64_t iov_off;     /* the iovec array (iov_base: an offset) */
};

/* Nonzero when the mailbox is a version this code knows. */
int zv_tcmu_mailbox(const uint8_t *map, struct zv_tcmu_mailbox_info *info);
uint32_t zv_tcmu_head(const uint8_t *map);
uint32_t zv_tcmu_tail(const uint8_t *map);
void zv_tcmu_set_tail(uint8_t *map, uint32_t tail);
/* The entry at ring offset `pos`. */
void zv_tcmu_read_entry(const uint8_t *map, uint32_t pos, struct zv_tcmu_entry *e);
/* Answers the command at `pos` (after everything of its request was read:
 * the answer overwrites it). */
void zv_tcmu_answer(uint8_t *map, uint32_t pos, uint8_t status, const uint8_t *sense,
                    size_t sense_len, int with_read_len, uint32_t read_len);
void zv_tcmu_mark_unknown(uint8_t *map, uint32_t pos);

#ifdef __cplusplus
}
#endif
