/*
 * A result of the GUI's own, reported beside the security disk model's
 * codes (zvsecurity_disk.h) by the worker threads: the disk service could
 * not be reached on the system bus, or it refuses this user. Every model
 * code would then mislead (no disk found, wrong verdicts), so the pages
 * say what happened and end.
 */
#ifndef GUI_APP_CODES_H
#define GUI_APP_CODES_H

/* Negative and far from the command layer's own negative bus statuses. */
#define ZV_APP_SERVICE_UNREACHABLE (-1000)

#endif /* GUI_APP_CODES_H */
