/* The kernel's TCMU command ring (see tcmu_ring.h). */
#include "tcmu_ring.h"

#include <string.h>
#include <sys/uio.h>

/* The kernel header includes linux/uio.h, whose struct iovec clashes with
 * the C library's (same layout). */
#define __LINUX_UIO_H
#include <linux/target_core_user.h>

static const struct tcmu_mailbox *mailbox(const uint8_t *map) {
    return (const struct tcmu_mailbox *)map;
}

static struct tcmu_cmd_entry *entry_at(const uint8_t *map, uint32_t pos) {
    return (struct tcmu_cmd_entry *)(map + mailbox(map)->cmdr_off + pos);
}

int zv_tcmu_mailbox(const uint8_t *map, struct zv_tcmu_mailbox_info *info) {
    const struct tcmu_mailbox *mb = mailbox(map);
    info->version = mb->version;
    info->read_len = (mb->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0;
    info->ring_off = mb->cmdr_off;
    info->ring_size = mb->cmdr_size;
    return mb->version == TCMU_MAILBOX_VERSION;
}

uint32_t zv_tcmu_head(const uint8_t *map) {
    return __atomic_load_n((const uint32_t *)(map + offsetof(struct tcmu_mailbox, cmd_head)),
                           __ATOMIC_ACQUIRE);
}

uint32_t zv_tcmu_tail(const uint8_t *map) {
    return __atomic_load_n((const uint32_t *)(map + offsetof(struct tcmu_mailbox, cmd_tail)),
                           __ATOMIC_ACQUIRE);
}

void zv_tcmu_set_tail(uint8_t *map, uint32_t tail) {
    __atomic_store_n((uint32_t *)(map + offsetof(struct tcmu_mailbox, cmd_tail)), tail,
                     __ATOMIC_RELEASE);
}

void zv_tcmu_read_entry(const uint8_t *map, uint32_t pos, struct zv_tcmu_entry *out) {
    const struct tcmu_cmd_entry *e = entry_at(map, pos);
    const uint32_t len_op = e->hdr.len_op;
    const uint64_t base = (uint64_t)((const uint8_t *)e - map);
    memset(out, 0, sizeof *out);
    out->length = tcmu_hdr_get_len(len_op);
    switch (tcmu_hdr_get_op(len_op)) {
    case TCMU_OP_PAD:
        out->kind = ZV_TCMU_PAD;
        return;
    case TCMU_OP_CMD:
        out->kind = ZV_TCMU_CMD;
        break;
    default:
        out->kind = ZV_TCMU_OTHER;
        return;
    }
    out->cdb_off = e->req.cdb_off;   /* from the mailbox, unlike the entry */
    out->iov_cnt = e->req.iov_cnt;
    out->iov_off = base + offsetof(struct tcmu_cmd_entry, req.iov);
}

void zv_tcmu_answer(uint8_t *map, uint32_t pos, uint8_t status, const uint8_t *sense,
                    size_t sense_len, int with_read_len, uint32_t read_len) {
    struct tcmu_cmd_entry *e = entry_at(map, pos);
    e->rsp.scsi_status = status;
    e->rsp.read_len = 0;
    if (with_read_len) {
        e->rsp.read_len = read_len;
        e->hdr.uflags |= TCMU_UFLAG_READ_LEN;
    }
    memset(e->rsp.sense_buffer, 0, TCMU_SENSE_BUFFERSIZE);
    if (sense_len > TCMU_SENSE_BUFFERSIZE) sense_len = TCMU_SENSE_BUFFERSIZE;
    if (sense_len) memcpy(e->rsp.sense_buffer, sense, sense_len);
}

void zv_tcmu_mark_unknown(uint8_t *map, uint32_t pos) {
    entry_at(map, pos)->hdr.uflags |= TCMU_UFLAG_UNKNOWN_OP;
}
