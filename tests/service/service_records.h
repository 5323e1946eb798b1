// Command records as the GUI's catalogue builds them for the simulated
// secure disk, for the service's tests.
#ifndef SERVICE_RECORDS_H
#define SERVICE_RECORDS_H

#include <QByteArray>

#include <chrono>
#include <cstring>
#include <thread>

#include "protocol_type.h"
#include "sim_disk.h"

namespace svctest {

inline QByteArray record_bytes(const PROTOCOL_CMD_S &cmd)
{
    return QByteArray(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
}

inline PROTOCOL_CMD_S zeroed()
{
    PROTOCOL_CMD_S cmd;
    memset(&cmd, 0, sizeof(cmd));
    return cmd;
}

inline QByteArray identify_record(uint32_t buffer_len = 512)
{
    PROTOCOL_CMD_S cmd = zeroed();
    cmd.buffer_len = buffer_len;
    cmd.timeout = 10;
    cmd.data_to = DATA_FROM_DEV;
    return record_bytes(cmd);
}

// READ DMA / WRITE DMA of the prompt sector (the controller's vendor sector space).
inline QByteArray prompt_record(uint8_t data_to, uint32_t buffer_len = 512)
{
    PROTOCOL_CMD_S cmd = zeroed();
    cmd.u.rw.lba = 0x10;
    cmd.u.rw.sectors = 1;
    cmd.u.rw.feature = 0x5A;
    cmd.data_to = data_to;
    cmd.buffer_len = buffer_len;
    cmd.timeout = 10;
    return record_bytes(cmd);
}

// SET PASSWORD (0xFA) or VERIFY PASSWORD (0xFB): pass-through, PIO data-out.
inline QByteArray password_record(uint8_t command)
{
    PROTOCOL_CMD_S cmd = zeroed();
    cmd.u.send_cmd.type = SEND_CMD_PROTOCOL;
    cmd.u.send_cmd.sc.scsi_ata.lba = 0x5A5653;
    cmd.u.send_cmd.sc.scsi_ata.protocol = PIO_DATA_OUT;
    cmd.u.send_cmd.sc.scsi_ata.sectors = 1;
    cmd.u.send_cmd.sc.scsi_ata.ata_command = command;
    cmd.data_to = DATA_TO_DEV;
    cmd.buffer_len = 512;
    cmd.timeout = 10;
    return record_bytes(cmd);
}

inline QByteArray sector_with(const char *text)
{
    QByteArray s(512, '\0');
    memcpy(s.data(), text, strlen(text));
    return s;
}

// Waits (up to ten seconds) until the disk is back on the bus after a reset.
inline bool wait_present(const simtest::SimDisk &disk)
{
    for (int i = 0; i < 100; i++) {
        if (disk.show().at("present") == "1")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace svctest

#endif
