/*
 * The data methods of the disk service. The caller is not trusted: the
 * record is copied into a buffer of the service's own, its lengths are
 * checked against what was received, and only the record's handle and
 * buffer are replaced before the transport sees it.
 */
#include "disk_request.h"

#include <string.h>
#include <syslog.h>

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

PROTOCOL_STATUS run_data_method(const disk_access *v_access, data_method v_method, const QByteArray &v_devname,
                                const QByteArray &v_inbuf, const QByteArray &v_indata, QByteArray &v_outdata)
{
    PROTOCOL_STATUS status = check_device_name(v_access, v_devname);
    if (status == PTL_SERVICE_OPEN_FAILED)
        syslog(LOG_WARNING, "getFd info open disk handle failed");
    if (status != PTL_SUCCESS)
        return status;
    if (v_inbuf.size() < (int)sizeof(PROTOCOL_CMD_S))
        return PTL_ERR_BAD_RECORD;

    PROTOCOL_CMD_S cmd;
    memcpy(&cmd, v_inbuf.constData(), sizeof(cmd));
    status = check_record(cmd, v_method, v_indata);
    if (status != PTL_SUCCESS)
        return status;
    const uint32_t buffer_len = cmd.buffer_len;

    /* The data area: a copy of indata, or zeros; never shorter than buffer_len. */
    std::vector<uint8_t> data;
    if (uses_indata(v_method))
        data.assign(v_indata.constData(), v_indata.constData() + v_indata.size());
    else
        data.assign(buffer_len, 0);

    int handle = v_access->open(v_devname.constData());
    if (handle == -1) {
        syslog(LOG_WARNING, "getFd info open disk handle failed");
        return PTL_SERVICE_OPEN_FAILED;
    }
    if (v_method != METHOD_GETIDENTIFY)
        status = check_secure_disk(v_access, handle);
    if (status == PTL_SUCCESS) {
        cmd.handle = handle;
        cmd.buffer = data.empty() ? NULL : data.data();
        status = operation_of(v_access->transport(), v_method)(&cmd);
    }
    v_access->close(handle);

    if (status == PTL_SUCCESS && v_method != METHOD_WRITE)
        v_outdata = QByteArray(reinterpret_cast<const char *>(data.data()), (int)buffer_len);
    return status;
}
