/*
 * The data methods of the disk service. The caller is not trusted: the
 * record is copied into a buffer of the service's own, its lengths are
 * checked against what was received, it must be one of the commands of the
 * installed catalogue, and only the record's handle and buffer are replaced
 * before the transport sees it.
 */
#include "disk_request.h"

#include <limits.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

PROTOCOL_STATUS check_device_name(const disk_access *v_access, const QByteArray &v_devname)
{
    if (v_devname.contains('\0'))
        return PTL_ERR_BAD_DEVICE_NAME;
    return v_access->check_device(v_devname.constData());
}

static PTL_OPERATION operation_of(PPROTOCOL_FUNC_S v_table, data_method v_method)
{
    switch (v_method) {
    case METHOD_GETIDENTIFY:
        return v_table->identify;
    case METHOD_READ:
        return v_table->read;
    case METHOD_WRITE:
        return v_table->write;
    case METHOD_SEND_CMD:
        return v_table->send_cmd;
    }
    return NULL;
}

/* write and send_cmd move the caller's indata; the other two a zeroed area
 * of the service's own. */
static bool uses_indata(data_method v_method)
{
    return v_method == METHOD_WRITE || v_method == METHOD_SEND_CMD;
}

static PROTOCOL_STATUS check_record(const PROTOCOL_CMD_S &v_cmd, data_method v_method, const QByteArray &v_indata)
{
    if (v_cmd.timeout > SERVICE_MAX_TIMEOUT_S)
        return PTL_ERR_BAD_RECORD;
    if (v_cmd.buffer_len > SERVICE_MAX_BUFFER_LEN)
        return PTL_ERR_BAD_DATA_LENGTH;
    if (uses_indata(v_method) && v_cmd.buffer_len > (uint32_t)v_indata.size())
        return PTL_ERR_BAD_DATA_LENGTH;
    return PTL_SUCCESS;
}

/* The catalogue's entry for IDENTIFY DEVICE, which getidentify stands for. */
#define IDENTIFY_SUBNAME "identify"

/* The catalogue category a method's record must come from. */
static catalogue_category category_of(data_method v_method)
{
    switch (v_method) {
    case METHOD_READ:
        return CATEGORY_READ;
    case METHOD_WRITE:
        return CATEGORY_WRITE;
    case METHOD_GETIDENTIFY:
    case METHOD_SEND_CMD:
        break;
    }
    return CATEGORY_SENDCMD;
}

static bool is_identify_entry(const catalogue_command &v_entry)
{
    return v_entry.category == CATEGORY_SENDCMD && v_entry.subname == IDENTIFY_SUBNAME;
}

/* The command the record is: its parameters and direction equal an entry's,
 * byte for byte (so a raw command block, another ATA command, LBA, feature,
 * count, register or direction matches nothing). */
static const catalogue_command *find_entry(const std::vector<catalogue_command> &v_catalogue, data_method v_method,
                                           const PROTOCOL_CMD_S &v_cmd)
{
    for (const catalogue_command &entry : v_catalogue) {
        if (v_method == METHOD_GETIDENTIFY) {
            if (is_identify_entry(entry))
                return &entry;
            continue;
        }
        if (entry.category == category_of(v_method) && entry.record.data_to == v_cmd.data_to &&
            memcmp(&entry.record.u, &v_cmd.u, sizeof(v_cmd.u)) == 0)
            return &entry;
    }
    return NULL;
}

static service_action action_of(data_method v_method, const catalogue_command &v_entry)
{
    switch (v_method) {
    case METHOD_GETIDENTIFY:
    case METHOD_READ:
        return ACTION_READ_STATE;
    case METHOD_WRITE:
        return ACTION_CHANGE;
    case METHOD_SEND_CMD:
        break;
    }
    if (is_identify_entry(v_entry))
        return ACTION_READ_STATE;
    if (v_entry.subname == "verifypwd")
        return ACTION_UNLOCK;
    return ACTION_CHANGE;
}

PROTOCOL_STATUS check_data_method(const disk_access *v_access, const std::vector<catalogue_command> &v_catalogue,
                                  data_method v_method, const QByteArray &v_devname, const QByteArray &v_inbuf,
                                  const QByteArray &v_indata, data_request &v_request)
{
    PROTOCOL_STATUS status = check_device_name(v_access, v_devname);
    if (status == PTL_SERVICE_OPEN_FAILED)
        syslog(LOG_WARNING, "getFd info open disk handle failed");
    if (status != PTL_SUCCESS)
        return status;
    if (v_inbuf.size() < (int)sizeof(PROTOCOL_CMD_S))
        return PTL_ERR_BAD_RECORD;

    PROTOCOL_CMD_S &cmd = v_request.cmd;
    memcpy(&cmd, v_inbuf.constData(), sizeof(cmd));
    status = check_record(cmd, v_method, v_indata);
    if (status != PTL_SUCCESS)
        return status;

    const catalogue_command *entry = find_entry(v_catalogue, v_method, cmd);
    if (entry == NULL)
        return PTL_ERR_NOT_IN_CATALOGUE;
    if (cmd.buffer_len > entry->record.buffer_len || cmd.timeout > entry->record.timeout)
        return PTL_ERR_PAST_CATALOGUE;
    if (v_method == METHOD_GETIDENTIFY)
        memset(&cmd.u, 0, sizeof(cmd.u)); /* the transport sends IDENTIFY DEVICE of its own */

    v_request.method = v_method;
    v_request.subname = entry->subname;
    v_request.action = action_of(v_method, *entry);
    return PTL_SUCCESS;
}

PROTOCOL_STATUS execute_data_method(const disk_access *v_access, const QByteArray &v_devname,
                                    data_request &v_request, const QByteArray &v_indata, QByteArray &v_outdata)
{
    PROTOCOL_CMD_S &cmd = v_request.cmd;
    const data_method method = v_request.method;
    const uint32_t buffer_len = cmd.buffer_len;

    /* The data area: a copy of indata, or zeros; never shorter than buffer_len. */
    std::vector<uint8_t> data;
    if (uses_indata(method))
        data.assign(v_indata.constData(), v_indata.constData() + v_indata.size());
    else
        data.assign(buffer_len, 0);

    int handle = v_access->open(v_devname.constData());
    if (handle == -1) {
        syslog(LOG_WARNING, "getFd info open disk handle failed");
        return PTL_SERVICE_OPEN_FAILED;
    }
    PROTOCOL_STATUS status = PTL_SUCCESS;
    if (method != METHOD_GETIDENTIFY)
        status = check_secure_disk(v_access, handle);
    if (status == PTL_SUCCESS) {
        cmd.handle = handle;
        cmd.buffer = data.empty() ? NULL : data.data();
        status = operation_of(v_access->transport(), method)(&cmd);
    }
    v_access->close(handle);

    if (status == PTL_SUCCESS && method != METHOD_WRITE)
        v_outdata = QByteArray(reinterpret_cast<const char *>(data.data()), (int)buffer_len);
    return status;
}

PROTOCOL_STATUS run_data_method(const disk_access *v_access, const std::vector<catalogue_command> &v_catalogue,
                                data_method v_method, const QByteArray &v_devname, const QByteArray &v_inbuf,
                                const QByteArray &v_indata, QByteArray &v_outdata)
{
    data_request request;
    PROTOCOL_STATUS status =
        check_data_method(v_access, v_catalogue, v_method, v_devname, v_inbuf, v_indata, request);
    if (status != PTL_SUCCESS)
        return status;
    return execute_data_method(v_access, v_devname, request, v_indata, v_outdata);
}

std::string installed_catalogue_path()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0)
        return std::string();
    std::string path(exe, (size_t)n);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return path.substr(0, slash) + "/../lib/zvsecurity/SecurityCmd.xml";
}
