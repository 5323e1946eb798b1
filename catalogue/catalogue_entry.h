/*
 * One entry of the command catalogue SecurityCmd.xml and the command record
 * it stands for. The GUI fills its records with these helpers before it
 * sends them; the disk service builds the same records from the installed
 * catalogue and executes only a record that equals one of them.
 *
 * Every attribute is read with pugixml's as_int (decimal or 0x hexadecimal,
 * missing = 0).
 */
#ifndef CATALOGUE_ENTRY_H
#define CATALOGUE_ENTRY_H

#include <pugixml.hpp>

#include <string>
#include <vector>

#include "protocol_type.h"

/* The categories an entry is used under (its "name" attribute). */
enum catalogue_category {
    CATEGORY_IDENTIFY,
    CATEGORY_READ,
    CATEGORY_WRITE,
    CATEGORY_SENDCMD,
    CATEGORY_UNKNOWN,
};

/* The size of one sector of a data phase. */
#define CATALOGUE_SECTOR_SIZE 512

/* "identify", "read", "write", "sendcmd"; anything else is CATEGORY_UNKNOWN. */
catalogue_category catalogue_category_of(const char *v_name);

/* Fills the command's parameters (the record's union) from the entry's
 * "arg" element as the category reads them: READ DMA / WRITE DMA registers
 * for read and write, an ATA command in the SCSI-ATA pass-through for
 * sendcmd, nothing for identify. The other fields are left alone. */
void catalogue_fill_arg(catalogue_category v_category, const pugi::xml_node &v_arg, PROTOCOL_CMD_S &v_cmd);

/* The "data" element's sectorCount. */
int catalogue_sector_count(const pugi::xml_node &v_data);

/* The record's time limit and direction from the "data" element. */
void catalogue_fill_data_phase(const pugi::xml_node &v_data, PROTOCOL_CMD_S &v_cmd);

/* One complete entry: its names and the record it builds, with buffer_len
 * the data phase's length and no buffer. */
struct catalogue_command {
    catalogue_category category;
    std::string subname;
    PROTOCOL_CMD_S record;
};

/* Largest sectorCount of an entry that is used at all: the 1 MiB that the
 * disk service accepts for one command. */
#define CATALOGUE_MAX_SECTOR_COUNT 2048

/**
 * Reads every complete entry of a catalogue file: a known category, a
 * "data" and an "arg" element, a sectorCount from 1 to
 * CATALOGUE_MAX_SECTOR_COUNT. Others are left out.
 * @return false when the file cannot be read or parsed
 */
bool catalogue_read_commands(const char *v_path, std::vector<catalogue_command> &v_commands);

#endif /* CATALOGUE_ENTRY_H */
