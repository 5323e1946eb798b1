/*
 * Starting the partitioning and file-system tools. A tool's output is read
 * to its end, so a tool that prints more than the service keeps is never
 * stopped mid-way by a closed pipe.
 */
#include "tool_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int run_tool(const char *const v_argv[], tool_result *v_result)
{
    memset(v_result, 0, sizeof(*v_result));
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return errno;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    pid_t pid;
    int error = posix_spawnp(&pid, v_argv[0], &actions, NULL, const_cast<char *const *>(v_argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (error != 0) {
        close(out[0]);
        return error;
    }

    size_t kept = 0;
    char chunk[4096];
    for (;;) {
        ssize_t n = read(out[0], chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size_t take = (size_t)n < TOOL_OUTPUT_KEPT - kept ? (size_t)n : TOOL_OUTPUT_KEPT - kept;
        memcpy(v_result->output + kept, chunk, take);
        kept += take;
    }
    close(out[0]);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) {
            v_result->exit_status = -1;
            return 0;
        }
    }
    v_result->exit_status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return 0;
}
