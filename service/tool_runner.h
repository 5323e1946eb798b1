/*
 * The one place where the disk service starts external programs: with an
 * argument vector, never through a shell.
 */
#ifndef SERVICE_TOOL_RUNNER_H
#define SERVICE_TOOL_RUNNER_H

#include <stddef.h>

/* Largest part of a tool's standard output the service keeps. */
#define TOOL_OUTPUT_KEPT 100

struct tool_result {
    int exit_status;                    /* the tool's exit status; -1 when a signal ended it */
    char output[TOOL_OUTPUT_KEPT + 1];  /* the first bytes of its standard output, zero-terminated */
};

/* Runs v_argv[0] (looked up on PATH) with v_argv, standard input and error
 * on /dev/null, and waits for it, reading all of its standard output.
 * Returns 0, or the errno value when the program could not be started. */
int run_tool(const char *const v_argv[], tool_result *v_result);

#endif /* SERVICE_TOOL_RUNNER_H */
