/*
 * Disk discovery and the event object. The shell pipelines are the only
 * source of the disk list; nothing is cached between calls.
 */
#include "disk_discovery.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

void lm_list_init(lm_list *v_head)
{
    v_head->link_prev = v_head;
    v_head->link_next = v_head;
}

lm_disk_node *lm_disk_of(lm_list *v_link)
{
    return reinterpret_cast<lm_disk_node *>(reinterpret_cast<char *>(v_link) - offsetof(lm_disk_node, link));
}

void lm_free_disk_list(lm_list *v_head)
{
    lm_list *link = v_head->link_next;
    while (link != v_head) {
        lm_list *next = link->link_next;
        free(lm_disk_of(link));
        link = next;
    }
    lm_list_init(v_head);
}

static void append(lm_list *v_head, lm_list *v_link)
{
    v_link->link_prev = v_head->link_prev;
    v_link->link_next = v_head;
    v_head->link_prev->link_next = v_link;
    v_head->link_prev = v_link;
}

/* The pipeline's end: its exit status, or 0x10A for a signal or a failed close. */
static int close_pipeline(FILE *v_pipe)
{
    int status = pclose(v_pipe);
    if (status == -1 || WIFSIGNALED(status))
        return LM_STATUS_CMD_ABORTED;
    return WEXITSTATUS(status);
}

int get_disk(lm_list *v_head)
{
    lm_list_init(v_head);
    FILE *pipe = popen(LM_DISK_LIST_CMD, "r");
    if (pipe == NULL)
        return errno;

    char line[LM_LINE_SIZE];
    bool in_long_line = false; /* the rest of a line that did not fit the buffer */
    while (fgets(line, sizeof(line), pipe) != NULL) {
        size_t len = strlen(line);
        bool complete = len > 0 && line[len - 1] == '\n';
        if (in_long_line) {
            in_long_line = !complete;
            continue;
        }
        if (!complete && len == sizeof(line) - 1) {
            in_long_line = true;
            continue;
        }
        if (line[0] == '\0')
            continue;
        if (complete)
            line[--len] = '\0';
        if (len >= LM_DEV_PATH_SIZE)
            continue;
        lm_disk_node *node = static_cast<lm_disk_node *>(calloc(1, sizeof(lm_disk_node)));
        if (node == NULL)
            break;
        memcpy(node->dev_path, line, len + 1);
        append(v_head, &node->link);
    }
    return close_pipeline(pipe);
}

int get_system_disk_name(char *v_name)
{
    FILE *pipe = popen(LM_ROOT_DISK_CMD, "r");
    if (pipe == NULL)
        return errno;

    char line[LM_LINE_SIZE] = {0};
    if (fgets(line, sizeof(line), pipe) != NULL) {
        size_t len = strlen(line);
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] <= '9'))
            line[--len] = '\0';
        memcpy(v_name, line, len);
    }
    return close_pipeline(pipe);
}

int lm_get_disk_size(const char *v_path, uint64_t *v_size)
{
    int fd = open(v_path, O_RDONLY);
    if (fd < 0)
        return errno;
    unsigned long sectors = 0;
    if (ioctl(fd, BLKGETSIZE, &sectors) != 0) {
        int error = errno;
        close(fd);
        return error;
    }
    *v_size = static_cast<uint64_t>(sectors) << 9;
    close(fd);
    return LM_STATUS_SUCCESS;
}

int lm_get_disk_connect_type(const char *v_path, uint32_t *v_type)
{
    (void)v_path;
    *v_type = 2;
    return LM_STATUS_SUCCESS;
}

int disk_to_symbol_path(const char *v_name, char *v_path)
{
    memcpy(v_path, v_name, strlen(v_name));
    return LM_STATUS_SUCCESS;
}

int symbol_to_disk_name(const char *v_path, char *v_name)
{
    memcpy(v_name, v_path, strlen(v_path));
    return LM_STATUS_SUCCESS;
}

int lm_thread_create(pthread_t *v_thread, void *(*v_routine)(void *), void *v_arg)
{
    return pthread_create(v_thread, NULL, v_routine, v_arg);
}

/* The pthread calls return their error number instead of setting errno;
 * that number is the status. */

int lm_event_init(lm_event *v_event, int32_t v_manual_reset, int32_t v_initial_state)
{
    v_event->manual_reset = v_manual_reset;
    v_event->signaled = v_initial_state;
    int error = pthread_mutex_init(&v_event->mutex, NULL);
    if (error != 0)
        return error;
    pthread_condattr_t attr;
    error = pthread_condattr_init(&attr);
    if (error == 0) {
        error = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        if (error == 0)
            error = pthread_cond_init(&v_event->cond, &attr);
        pthread_condattr_destroy(&attr);
    }
    if (error != 0) {
        pthread_mutex_destroy(&v_event->mutex);
        return error;
    }
    return LM_STATUS_SUCCESS;
}

int lm_event_wait(lm_event *v_event)
{
    int error = pthread_mutex_lock(&v_event->mutex);
    if (error != 0)
        return error;
    while (v_event->signaled == 0) {
        error = pthread_cond_wait(&v_event->cond, &v_event->mutex);
        if (error != 0) {
            pthread_mutex_unlock(&v_event->mutex);
            return error;
        }
    }
    if (v_event->manual_reset == 0)
        v_event->signaled = 0;
    return pthread_mutex_unlock(&v_event->mutex);
}

int lm_event_wait_time(lm_event *v_event, uint64_t v_ms)
{
    /* The deadline in whole microseconds on the monotonic clock. */
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t usec = static_cast<uint64_t>(now.tv_nsec) / 1000 + (v_ms % 1000) * 1000;
    struct timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(v_ms / 1000 + usec / 1000000);
    deadline.tv_nsec = static_cast<long>((usec % 1000000) * 1000);

    int error = pthread_mutex_lock(&v_event->mutex);
    if (error != 0)
        return error;
    while (v_event->signaled == 0) {
        error = pthread_cond_timedwait(&v_event->cond, &v_event->mutex, &deadline);
        if (error == ETIMEDOUT) {
            int unlock = pthread_mutex_unlock(&v_event->mutex);
            return unlock != 0 ? unlock : LM_STATUS_TIMEOUT;
        }
        if (error != 0) {
            pthread_mutex_unlock(&v_event->mutex);
            return error;
        }
    }
    if (v_event->manual_reset == 0)
        v_event->signaled = 0;
    return pthread_mutex_unlock(&v_event->mutex);
}

int lm_event_set(lm_event *v_event)
{
    int error = pthread_mutex_lock(&v_event->mutex);
    if (error != 0)
        return error;
    v_event->signaled = 1;
    int wake = v_event->manual_reset != 0 ? pthread_cond_broadcast(&v_event->cond)
                                          : pthread_cond_signal(&v_event->cond);
    int unlock = pthread_mutex_unlock(&v_event->mutex);
    return wake != 0 ? wake : unlock;
}
