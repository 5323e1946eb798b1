/*
 * The GUI's operating-system helpers: list the machine's whole disks, name
 * the disk of the root file system, read a block device's size, start a
 * thread, and an event object with a timed wait on the monotonic clock.
 *
 * Every helper returns an lm status: 0, a positive errno value of the
 * failed call, or one of the two below.
 */
#ifndef GUI_DISK_DISCOVERY_H
#define GUI_DISK_DISCOVERY_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#define LM_STATUS_SUCCESS 0
#define LM_STATUS_CMD_ABORTED 0x10A /* shell pipeline ended by a signal, or closing it failed */
#define LM_STATUS_TIMEOUT 0x10B     /* a timed event wait ran out */

/* The pipelines, as the shell runs them. */
#define LM_DISK_LIST_CMD "lsblk  | grep disk | awk '{print \"/dev/\"$1}'"
#define LM_ROOT_DISK_CMD "df | grep -E \" /$\" | awk '{print $1}'"

#define LM_LINE_SIZE 512
#define LM_DEV_PATH_SIZE 32

/* A link of a circular doubly linked list; the caller's head is one too. */
typedef struct lm_list {
    struct lm_list *link_prev;
    struct lm_list *link_next;
} lm_list;

/* One disk of get_disk's list, allocated with calloc; free it with free. */
typedef struct lm_disk_node {
    char dev_path[LM_DEV_PATH_SIZE]; /* NUL-terminated device path */
    lm_list link;
} lm_disk_node;

static_assert(offsetof(lm_disk_node, link) == LM_DEV_PATH_SIZE, "dev_path lies 32 bytes before the link");

/* Makes v_head an empty list. */
void lm_list_init(lm_list *v_head);
/* The node that holds v_link. */
lm_disk_node *lm_disk_of(lm_list *v_link);
/* Frees every node of the list and leaves v_head empty. */
void lm_free_disk_list(lm_list *v_head);

/**
 * Lists the whole disks as device paths, in the order lsblk prints them.
 * v_head is made empty first; lines of 32 characters or more do not fit a
 * node and are skipped.
 * @return the pipeline's exit status, 0x10A, or errno when it cannot start
 */
int get_disk(lm_list *v_head);

/* The root file system's device with its trailing partition digits (and
 * any character not above '9') trimmed, copied without NUL into v_name
 * (512 zero-filled bytes). Nothing printed: v_name untouched. */
int get_system_disk_name(char *v_name);

/* Size of a block device in bytes (BLKGETSIZE sectors * 512). */
int lm_get_disk_size(const char *v_path, uint64_t *v_size);

/* Always 0; the type code is 2. */
int lm_get_disk_connect_type(const char *v_path, uint32_t *v_type);

/* Device name and symbolic path are the same text here: both copy the
 * characters without the terminating NUL and return 0. */
int disk_to_symbol_path(const char *v_name, char *v_path);
int symbol_to_disk_name(const char *v_path, char *v_name);

/* pthread_create with default attributes. */
int lm_thread_create(pthread_t *v_thread, void *(*v_routine)(void *), void *v_arg);

typedef struct lm_event {
    int32_t manual_reset; /* non-zero: waits leave it set and a set wakes all */
    int32_t signaled;
    pthread_mutex_t mutex;
    pthread_cond_t cond; /* time-outs on CLOCK_MONOTONIC */
} lm_event;

int lm_event_init(lm_event *v_event, int32_t v_manual_reset, int32_t v_initial_state);
/* Returns once the event is set; an auto-reset event is cleared again. */
int lm_event_wait(lm_event *v_event);
/* As lm_event_wait, but 0x10B once v_ms milliseconds have passed. */
int lm_event_wait_time(lm_event *v_event, uint64_t v_ms);
int lm_event_set(lm_event *v_event);

#endif /* GUI_DISK_DISCOVERY_H */
