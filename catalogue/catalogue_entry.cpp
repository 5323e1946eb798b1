/*
 * What a catalogue entry puts into a command record.
 */
#include "catalogue_entry.h"

#include <cstring>

catalogue_category catalogue_category_of(const char *v_name)
{
    static const struct {
        const char *name;
        catalogue_category category;
    } names[] = {
        {"identify", CATEGORY_IDENTIFY},
        {"read", CATEGORY_READ},
        {"write", CATEGORY_WRITE},
        {"sendcmd", CATEGORY_SENDCMD},
    };
    for (const auto &n : names)
        if (strcmp(v_name, n.name) == 0)
            return n.category;
    return CATEGORY_UNKNOWN;
}

/* The library's READ DMA / WRITE DMA, which takes the command from data_to. */
static void fill_rw(PROTOCOL_CMD_S &v_cmd, const pugi::xml_node &v_arg)
{
    v_cmd.u.rw.feature = static_cast<uint16_t>(v_arg.attribute("feature").as_int());
    v_cmd.u.rw.lba = static_cast<uint64_t>(static_cast<int64_t>(v_arg.attribute("lba").as_int()));
    v_cmd.u.rw.sectors = static_cast<uint32_t>(v_arg.attribute("sectors").as_int());
}

/* An ATA command in the SCSI-ATA pass-through, built from its registers. */
static void fill_send_cmd(PROTOCOL_CMD_S &v_cmd, const pugi::xml_node &v_arg)
{
    SCSI_ATA_PROTOCOL &ata = v_cmd.u.send_cmd.sc.scsi_ata;
    v_cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
    ata.lba = static_cast<uint64_t>(static_cast<int64_t>(v_arg.attribute("lba").as_int()));
    ata.ata_command = static_cast<uint8_t>(v_arg.attribute("commandcode").as_int());
    ata.protocol = static_cast<ATA_PROTOCOL_TYPE>(v_arg.attribute("protocol").as_int());
    ata.bit = static_cast<ATA_COMMAND_BIT_LEN>(v_arg.attribute("bit").as_int());
    ata.sectors = static_cast<uint32_t>(v_arg.attribute("sectors").as_int());
}

void catalogue_fill_arg(catalogue_category v_category, const pugi::xml_node &v_arg, PROTOCOL_CMD_S &v_cmd)
{
    switch (v_category) {
    case CATEGORY_READ:
    case CATEGORY_WRITE:
        fill_rw(v_cmd, v_arg);
        break;
    case CATEGORY_SENDCMD:
        fill_send_cmd(v_cmd, v_arg);
        break;
    case CATEGORY_IDENTIFY:
    case CATEGORY_UNKNOWN:
        break;
    }
}

int catalogue_sector_count(const pugi::xml_node &v_data)
{
    return v_data.attribute("sectorCount").as_int();
}

void catalogue_fill_data_phase(const pugi::xml_node &v_data, PROTOCOL_CMD_S &v_cmd)
{
    v_cmd.timeout = static_cast<uint32_t>(v_data.attribute("timeout").as_int());
    v_cmd.data_to = static_cast<uint8_t>(v_data.attribute("isRead").as_int());
}

bool catalogue_read_commands(const char *v_path, std::vector<catalogue_command> &v_commands)
{
    v_commands.clear();
    pugi::xml_document doc;
    if (!doc.load_file(v_path))
        return false;
    for (pugi::xml_node entry = doc.first_child().child("command"); entry; entry = entry.next_sibling("command")) {
        const catalogue_category category = catalogue_category_of(entry.attribute("name").value());
        const pugi::xml_node data = entry.child("data");
        const pugi::xml_node arg = entry.child("arg");
        const int sectors = catalogue_sector_count(data);
        if (category == CATEGORY_UNKNOWN || !data || !arg || sectors < 1 || sectors > CATALOGUE_MAX_SECTOR_COUNT)
            continue;
        catalogue_command command;
        command.category = category;
        command.subname = entry.attribute("subname").value();
        memset(&command.record, 0, sizeof(command.record));
        catalogue_fill_arg(category, arg, command.record);
        catalogue_fill_data_phase(data, command.record);
        command.record.buffer_len = static_cast<uint32_t>(sectors) * CATALOGUE_SECTOR_SIZE;
        v_commands.push_back(command);
    }
    return true;
}
