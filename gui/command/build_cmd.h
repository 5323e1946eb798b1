/*
 * The command catalogue SecurityCmd.xml: the GUI names every disk command by
 * a category and a sub-name, and the catalogue beside the program supplies
 * its numbers. build_cmd turns one entry into a command record and its data
 * block; the file is read anew for every command, nothing is cached.
 */
#ifndef GUI_BUILD_CMD_H
#define GUI_BUILD_CMD_H

#include <QString>

#include <string>

#include "command_status.h"
#include "protocol_type.h"

/* The catalogue's file name, in the program's directory. */
#define SECURITY_CMD_FILE "SecurityCmd.xml"

/**
 * Fills v_cmd from the catalogue entry v_subname (looked up only when some
 * entry carries the category v_category) and allocates its zero-filled data
 * block with v_param copied to every field offset.
 * @param v_cmd a zeroed record; a buffer already in it is released first
 * @param v_param zero-terminated parameter string, may be empty
 * @return 0 with v_cmd.buffer owned by the caller (release_cmd_buffer);
 *         13 catalogue unreadable or entry incomplete; 14 unknown category;
 *         -8 sectorCount out of range; -9 a field beyond the data block.
 *         On failure v_cmd carries no data block.
 */
int build_cmd(const QString &v_category, const QString &v_subname, protocol_cmd_s &v_cmd, const char *v_param);

/**
 * The catalogue entry v_subname's first field length (0 without a field)
 * and its time limit in seconds; either pointer may be null.
 * @return 0; 13 catalogue unreadable or no such entry with a data node
 */
int catalogue_entry_limits(const QString &v_subname, int *v_field_length, uint32_t *v_timeout_s);

/* Frees the data block that build_cmd allocated and clears the pointer. */
void release_cmd_buffer(protocol_cmd_s &v_cmd);

/**
 * Reads a file. *v_buffer receives a zero-filled block of the file's size
 * (the caller frees it with delete[]); only for a path ending in ".xml" are
 * the file's bytes copied into it and v_len set to its size, otherwise
 * v_len is left as the caller set it.
 * @return 0 when the file could be opened, 13 when it could not
 */
int read_param_file(const std::string &v_path, char **v_buffer, int &v_len);

#endif /* GUI_BUILD_CMD_H */
