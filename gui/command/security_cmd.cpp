/*
 * The six command wrappers. The record crosses the bus as its 600 raw bytes,
 * the buffer pointer and the zero handle included; the service replaces
 * both.
 */
#include "security_cmd.h"

#include <QByteArray>
#include <QString>

#include <cstring>

#include "build_cmd.h"
#include "dbus_interface.h"

namespace {

enum class Method { Identify, Read, Write, SendCmd };

QString device_of(const _USER_DATA_ *v_data)
{
    return QString::fromUtf8(v_data->dev_name != nullptr ? v_data->dev_name : "");
}

QString text_of(const char *v_text)
{
    return QString::fromUtf8(v_text != nullptr ? v_text : "");
}

/* The data block as the record describes it. */
QByteArray block_of(const protocol_cmd_s &v_cmd)
{
    return QByteArray(reinterpret_cast<const char *>(v_cmd.buffer), static_cast<int>(v_cmd.buffer_len));
}

/* Builds, sends and copies back one data command. */
int run_data_command(Method v_method, const QString &v_category, const QString &v_subname, _USER_DATA_ *v_data)
{
    if (memchr(v_data->in_data, '\0', sizeof(v_data->in_data)) == nullptr)
        return CMD_ERR_PARAM_UNTERMINATED;

    protocol_cmd_s cmd;
    memset(&cmd, 0, sizeof(cmd));
    int status = build_cmd(v_category, v_subname, cmd, v_data->in_data);
    if (status != CMD_SUCCESS)
        return status;
    /* Whatever comes back lands in the 512-byte out_data. */
    if (v_method != Method::SendCmd && cmd.buffer_len > sizeof(v_data->out_data)) {
        release_cmd_buffer(cmd);
        return CMD_ERR_DATA_TOO_LONG;
    }

    const QByteArray inbuf(reinterpret_cast<const char *>(&cmd), sizeof(cmd));
    const QString dev = device_of(v_data);
    DbusInterface *bus = DbusInterface::GetInstance();
    QByteArray answer;

    switch (v_method) {
    case Method::Identify:
        status = bus->getidentify(dev, inbuf, QByteArray(), answer);
        break;
    case Method::Read:
        /* The service reads into an area of its own; it does not use these. */
        status = bus->read(dev, inbuf,
                           QByteArray(reinterpret_cast<const char *>(cmd.buffer),
                                      static_cast<int>(strnlen(reinterpret_cast<const char *>(cmd.buffer),
                                                               cmd.buffer_len))),
                           answer);
        break;
    case Method::Write:
        status = bus->write(dev, inbuf, block_of(cmd), answer);
        break;
    case Method::SendCmd:
        status = bus->sendcmd(dev, inbuf, block_of(cmd), answer);
        break;
    }

    switch (v_method) {
    case Method::Identify:
    case Method::Read:
        if (status == CMD_SUCCESS) {
            if (static_cast<size_t>(answer.size()) > sizeof(v_data->out_data)) {
                status = CMD_ERR_DATA_TOO_LONG;
            } else {
                memcpy(v_data->out_data, answer.constData(), static_cast<size_t>(answer.size()));
                v_data->out_len = cmd.buffer_len;
            }
        }
        if (v_method == Method::Read)
            v_data->out_len = cmd.buffer_len;
        break;
    case Method::Write:
        memcpy(v_data->out_data, cmd.buffer, cmd.buffer_len);
        v_data->out_len = cmd.buffer_len;
        break;
    case Method::SendCmd:
        break;
    }
    release_cmd_buffer(cmd);
    return status;
}

} // namespace

int identify(_USER_DATA_ *v_data)
{
    return run_data_command(Method::Identify, "sendcmd", text_of(v_data->sub_name), v_data);
}

int read(_USER_DATA_ *v_data)
{
    return run_data_command(Method::Read, "read", "readparam", v_data);
}

int write(_USER_DATA_ *v_data)
{
    return run_data_command(Method::Write, "write", "writeparam", v_data);
}

int send_cmd(_USER_DATA_ *v_data)
{
    return run_data_command(Method::SendCmd, "sendcmd", text_of(v_data->sub_name), v_data);
}

int reset(_USER_DATA_ *v_data)
{
    return DbusInterface::GetInstance()->reset(device_of(v_data));
}

int format(_USER_DATA_ *v_data)
{
    return DbusInterface::GetInstance()->format(device_of(v_data));
}
