// Fuzz target over the disk service's whole request path: hostile device
// names, command records and data go through the service's checks (name,
// record, the catalogue's allow-list), the real SCSI-ATA transport and its
// command-block builders, and the real SG_IO call, which this program turns
// (with the linker's --wrap=ioctl) into the simulated disk's SG_IO handling:
// the kernel's header checks, the USB bridge's SAT parser and the secure
// controller, all linked in and held in memory.
//
// Besides the shipped catalogue, an input may bring one catalogue entry of
// its own (an administrator's catalogue can hold anything), so that any
// record, raw command blocks included, reaches the builders and the bridge.
//
// Checked on every input: no descriptor left open, no data with a failure,
// exactly buffer_len bytes on success, and, with the shipped catalogue,
// that nothing but the catalogue's commands reached the disk.
#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "controller_datasheet.h"
#include "disk_format.h"
#include "disk_request.h"
#include "disk_reset.h"
#include "sg_io_emulation.h"

extern "C" int __real_ioctl(int fd, unsigned long request, ...);

namespace {

const char kDiskName[] = "/dev/sdzz";

// The simulated disk: its state and its data area, fresh for every input.
class MemoryMedia : public zvsim::DiskMedia {
public:
    bool read(uint64_t lba, uint32_t count, uint8_t *out) override
    {
        for (uint32_t i = 0; i < count; i++) {
            auto it = sectors_.find(lba + i);
            if (it == sectors_.end())
                memset(out + i * 512, 0, 512);
            else
                memcpy(out + i * 512, it->second.data(), 512);
        }
        return true;
    }
    bool write(uint64_t lba, uint32_t count, const uint8_t *in) override
    {
        for (uint32_t i = 0; i < count; i++)
            sectors_[lba + i].assign(in + i * 512, in + (i + 1) * 512);
        return true;
    }
    void wipe_private(zvsim::DiskState &s) override
    {
        sectors_.clear();
        s.verified = false;
    }
    void clear() { sectors_.clear(); }

private:
    std::map<uint64_t, std::vector<uint8_t>> sectors_;
};

zvsim::DiskState g_state;
MemoryMedia g_media;
int g_disk_fd = -1;       // the descriptor the service opened on the disk
int g_open_handles = 0;
std::vector<std::vector<uint8_t>> g_blocks; // command blocks the disk received

PROTOCOL_STATUS fuzz_check_device(const char *path)
{
    if (!is_plain_device_path(path))
        return PTL_ERR_BAD_DEVICE_NAME;
    return strcmp(path, kDiskName) == 0 ? PTL_SUCCESS : PTL_SERVICE_OPEN_FAILED;
}

int fuzz_open(const char *path)
{
    if (strcmp(path, kDiskName) != 0 || !g_state.present)
        return -1;
    g_disk_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (g_disk_fd >= 0)
        g_open_handles++;
    return g_disk_fd;
}

void fuzz_close(int handle)
{
    if (handle == g_disk_fd && handle >= 0) {
        close(handle);
        g_disk_fd = -1;
        g_open_handles--;
    }
}

disk_access fuzz_disk()
{
    disk_access access = g_system_disks; // the real transport and reset
    access.check_device = fuzz_check_device;
    access.open = fuzz_open;
    access.close = fuzz_close;
    return access;
}

void fresh_disk(FuzzedDataProvider &in)
{
    g_state = zvsim::DiskState();
    g_state.dev = kDiskName;
    g_state.serial = "ZVFUZZ000001";
    g_state.mode = zvsim::BackingMode::Image;
    g_state.public_sectors = 0x8000;
    g_state.private_sectors = 0x100000;
    g_state.present = true;
    if (in.ConsumeBool()) {
        g_state.password_set = true;
        g_state.password.assign(32, 0);
        memcpy(g_state.password.data(), "Passw0rd1", 9);
        g_state.tries_left = in.ConsumeIntegralInRange<int>(0, g_state.tries_max);
        g_state.unlocked = in.ConsumeBool();
        g_state.verified = g_state.unlocked;
    }
    g_media.clear();
    g_blocks.clear();
}

const std::vector<catalogue_command> &shipped_catalogue()
{
    static std::vector<catalogue_command> commands;
    static bool loaded = catalogue_read_commands(ZV_SECURITY_CMD_XML, commands);
    if (!loaded || commands.empty())
        __builtin_trap(); // the fuzz target needs the catalogue
    return commands;
}

QByteArray take_bytes(FuzzedDataProvider &in, size_t max)
{
    std::string s = in.ConsumeRandomLengthString(max);
    return QByteArray(s.data(), static_cast<int>(s.size()));
}

// A record: one of the catalogue's with fuzzed bytes laid over it, or
// bytes of the input alone.
QByteArray take_record(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return take_bytes(in, 700);
    const std::vector<catalogue_command> &shipped = shipped_catalogue();
    PROTOCOL_CMD_S cmd = shipped[in.ConsumeIntegralInRange<size_t>(0, shipped.size() - 1)].record;
    uint8_t *bytes = reinterpret_cast<uint8_t *>(&cmd);
    int changes = in.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < changes; i++)
        bytes[in.ConsumeIntegralInRange<size_t>(0, 99)] = in.ConsumeIntegral<uint8_t>();
    if (in.ConsumeBool())
        cmd.buffer_len = in.ConsumeIntegralInRange<uint32_t>(0, 1024);
    if (in.ConsumeBool())
        cmd.timeout = in.ConsumeIntegralInRange<uint32_t>(0, 20);
    return QByteArray(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
}

// The command blocks the shipped catalogue can produce: ATA PASS-THROUGH
// (16) of IDENTIFY DEVICE, the password commands, READ / WRITE DMA, and
// the vendor reset.
bool is_catalogue_block(const std::vector<uint8_t> &cdb)
{
    if (cdb.size() == 16 && cdb[0] == 0xEE && cdb[1] == 0xB0)
        return true;
    if (cdb.size() != 16 || cdb[0] != 0x85)
        return false;
    switch (cdb[14]) {
    case 0xEC: // IDENTIFY DEVICE
    case 0xFA: // SET PASSWORD
    case 0xFB: // VERIFY PASSWORD
    case 0xC8: // READ DMA
    case 0xCA: // WRITE DMA
        return true;
    default:
        return false;
    }
}

} // namespace

// Every ioctl of the service's code: SG_IO on the disk's descriptor goes to
// the simulated disk; anything else to the system.
extern "C" int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (fd == g_disk_fd && fd >= 0 && request == SG_IO) {
        sg_io_hdr *h = static_cast<sg_io_hdr *>(arg);
        if (h != nullptr && h->cmdp != nullptr && h->cmd_len <= 32)
            g_blocks.emplace_back(h->cmdp, h->cmdp + h->cmd_len);
        zvsim::BridgeResult result;
        int err = zvsim::sg_io_in_memory(h, g_state, g_media, &result);
        if (result.leave_bus)
            g_state.unlocked = g_state.verified; // back at once, as after re-enumeration
        if (err != 0) {
            errno = err;
            return -1;
        }
        return 0;
    }
    return __real_ioctl(fd, request, arg);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const disk_access disk = fuzz_disk();
    FuzzedDataProvider in(data, size);
    fresh_disk(in);

    const int method = in.ConsumeIntegralInRange<int>(0, 5);
    const QByteArray devname = in.ConsumeIntegralInRange<int>(0, 3) != 0 ? QByteArray(kDiskName) : take_bytes(in, 48);
    const QByteArray inbuf = take_record(in);

    // The catalogue: the shipped one, or that with one entry of the input's.
    std::vector<catalogue_command> catalogue = shipped_catalogue();
    const bool own_entry = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    if (own_entry && inbuf.size() >= static_cast<int>(sizeof(PROTOCOL_CMD_S))) {
        catalogue_command entry;
        entry.category = static_cast<catalogue_category>(in.ConsumeIntegralInRange<int>(0, CATEGORY_SENDCMD));
        entry.subname = in.ConsumeBool() ? "verifypwd" : "other";
        memcpy(&entry.record, inbuf.constData(), sizeof(entry.record));
        entry.record.buffer_len = in.ConsumeIntegralInRange<uint32_t>(0, 4096);
        entry.record.timeout = in.ConsumeIntegralInRange<uint32_t>(0, 60);
        catalogue.push_back(entry);
    }
    const QByteArray indata = take_bytes(in, 4096);
    QByteArray outdata;

    PROTOCOL_STATUS status = PTL_SUCCESS;
    switch (method) {
    case METHOD_GETIDENTIFY:
    case METHOD_READ:
    case METHOD_WRITE:
    case METHOD_SEND_CMD:
        status = run_data_method(&disk, catalogue, static_cast<data_method>(method), devname, inbuf, indata, outdata);
        break;
    case 4:
        status = reset_disk(&disk, devname);
        break;
    default:
        // format sleeps and runs tools; its argument check is the
        // device-name check shared with the other methods.
        status = check_device_name(&disk, devname);
        break;
    }

    if (g_open_handles != 0)
        __builtin_trap(); // a descriptor left open
    if (status != PTL_SUCCESS && !outdata.isEmpty())
        __builtin_trap(); // data returned with a failure
    if (status == PTL_SUCCESS && method <= METHOD_SEND_CMD && method != METHOD_WRITE) {
        PROTOCOL_CMD_S cmd;
        memcpy(&cmd, inbuf.constData(), sizeof(cmd));
        if (outdata.size() != static_cast<int>(cmd.buffer_len))
            __builtin_trap(); // exactly buffer_len bytes on success
    }
    if (!own_entry)
        for (const std::vector<uint8_t> &cdb : g_blocks)
            if (!is_catalogue_block(cdb))
                __builtin_trap(); // a command outside the catalogue reached the disk
    return 0;
}
