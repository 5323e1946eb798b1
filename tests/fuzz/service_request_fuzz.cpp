// Fuzz target: the disk service's handling of method arguments as they
// arrive over the bus (device name, command record, data), with a fake
// device behind it. The fake transport fills and reads exactly the area
// the record declares, so any mismatch between what the service allocated
// and what it hands on shows up under AddressSanitizer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "disk_format.h"
#include "disk_request.h"
#include "disk_reset.h"

namespace {

const int kFakeHandle = 42;
int g_open_handles = 0;

PROTOCOL_STATUS fake_check_device(const char *path)
{
    return is_plain_device_path(path) ? PTL_SUCCESS : PTL_ERR_BAD_DEVICE_NAME;
}

int fake_open(const char *path)
{
    if (strcmp(path, "/dev/gone") == 0)
        return -1;
    g_open_handles++;
    return kFakeHandle;
}

void fake_close(int handle)
{
    if (handle == kFakeHandle)
        g_open_handles--;
}

// Touches every byte of the declared area, as a device transfer would.
PROTOCOL_STATUS fake_transfer(const PPROTOCOL_CMD_S cmd)
{
    if (cmd->handle != kFakeHandle)
        __builtin_trap();
    unsigned sum = 0;
    for (uint32_t i = 0; i < cmd->buffer_len; i++) {
        sum += cmd->buffer[i];
        cmd->buffer[i] = static_cast<uint8_t>(i);
    }
    memset(cmd->ext, 0, 64);
    return sum == 0xFFFFFFFF ? PTL_ERR_READ_WRITE : PTL_SUCCESS;
}

PROTOCOL_STATUS fake_identify(const PPROTOCOL_CMD_S cmd)
{
    if (cmd->buffer_len < 512)
        return PTL_ERR_BUFFER_TOO_SMALL;
    fake_transfer(cmd);
    cmd->buffer[262] = 0x44;
    cmd->buffer[263] = 0x53;
    return PTL_SUCCESS;
}

PROTOCOL_FUNC_S g_fake_table = {SELECT_SCSI_ATA_TYPE, fake_transfer, fake_transfer, fake_identify,
                                fake_transfer,        fake_transfer, fake_transfer, fake_transfer};

PPROTOCOL_FUNC_S fake_transport()
{
    return &g_fake_table;
}

int fake_reset(int handle)
{
    return handle == kFakeHandle ? 0 : -1;
}

const disk_access g_fake_disk = {fake_check_device, fake_open, fake_close, fake_transport, fake_reset};

QByteArray take_bytes(FuzzedDataProvider &in, size_t max)
{
    std::string s = in.ConsumeRandomLengthString(max);
    return QByteArray(s.data(), static_cast<int>(s.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int method = in.ConsumeIntegralInRange<int>(0, 5);
    QByteArray devname = in.ConsumeBool() ? QByteArray("/dev/sdz") : take_bytes(in, 48);
    QByteArray inbuf;
    if (in.ConsumeBool()) {
        // A well-formed record with fuzzed lengths, so the checks past the
        // size test are reached.
        PROTOCOL_CMD_S cmd;
        memset(&cmd, 0, sizeof(cmd));
        cmd.buffer_len = in.ConsumeIntegralInRange<uint32_t>(0, 4096);
        if (in.ConsumeBool())
            cmd.buffer_len = in.ConsumeIntegral<uint32_t>();
        cmd.timeout = in.ConsumeIntegralInRange<uint32_t>(0, 700);
        cmd.data_to = in.ConsumeIntegral<uint8_t>();
        cmd.handle = in.ConsumeIntegral<int32_t>();
        cmd.buffer = reinterpret_cast<uint8_t *>(in.ConsumeIntegral<uintptr_t>());
        inbuf = QByteArray(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
        inbuf += take_bytes(in, 64);
    } else {
        inbuf = take_bytes(in, 700);
    }
    QByteArray indata = take_bytes(in, 8192);
    QByteArray outdata;

    PROTOCOL_STATUS status = PTL_SUCCESS;
    switch (method) {
    case 0:
    case 1:
    case 2:
    case 3:
        status = run_data_method(&g_fake_disk, static_cast<data_method>(method), devname, inbuf, indata, outdata);
        break;
    case 4:
        status = reset_disk(&g_fake_disk, devname);
        break;
    default:
        // format itself sleeps and runs tools; its argument checks are the
        // device-name check shared with the other methods.
        status = check_device_name(&g_fake_disk, devname);
        break;
    }

    if (g_open_handles != 0)
        __builtin_trap(); // a descriptor left open
    if (status != PTL_SUCCESS && !outdata.isEmpty())
        __builtin_trap(); // data returned with a failure
    if (status == PTL_SUCCESS && method <= 3 && method != METHOD_WRITE) {
        PROTOCOL_CMD_S cmd;
        memcpy(&cmd, inbuf.constData(), sizeof(cmd));
        if (outdata.size() != static_cast<int>(cmd.buffer_len))
            __builtin_trap(); // exactly buffer_len bytes on success
    }
    return 0;
}
