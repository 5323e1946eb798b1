/*
 * Catalogue reader: one entry of SecurityCmd.xml into a command record.
 * Every attribute is an integer (decimal or 0x hexadecimal, missing = 0).
 */
#include "build_cmd.h"

#include <QCoreApplication>
#include <QDebug>

#include <pugixml.hpp>

#include "catalogue_entry.h"

#include <cstring>
#include <fstream>
#include <memory>

void release_cmd_buffer(protocol_cmd_s &v_cmd)
{
    delete[] v_cmd.buffer;
    v_cmd.buffer = nullptr;
}

int read_param_file(const std::string &v_path, char **v_buffer, int &v_len)
{
    std::ifstream file(v_path, std::ios::binary);
    if (!file.is_open())
        return CMD_ERR_CATALOGUE;

    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (size < 0)
        size = 0;
    file.seekg(0, std::ios::beg);
    *v_buffer = new char[static_cast<size_t>(size)]();

    std::unique_ptr<char[]> scratch(new char[static_cast<size_t>(size)]);
    file.read(scratch.get(), size);

    size_t dot = v_path.rfind('.');
    std::string extension = dot == std::string::npos ? v_path : v_path.substr(dot + 1);
    if (extension == "xml") {
        if (size > 0)
            memcpy(*v_buffer, scratch.get(), static_cast<size_t>(size));
        v_len = static_cast<int>(size);
    }
    return CMD_SUCCESS;
}

int catalogue_entry_limits(const QString &v_subname, int *v_field_length, uint32_t *v_timeout_s)
{
    const QString path = QCoreApplication::applicationDirPath() + "/" SECURITY_CMD_FILE;
    char *text = nullptr;
    int text_len = 0;
    int status = read_param_file(path.toUtf8().toStdString(), &text, text_len);
    if (status != CMD_SUCCESS)
        return status;
    pugi::xml_document doc;
    doc.load_buffer(text, static_cast<size_t>(text_len));
    delete[] text;
    const QByteArray subname8 = v_subname.toUtf8();
    pugi::xml_node data =
        doc.first_child().find_child_by_attribute("command", "subname", subname8.constData()).child("data");
    if (!data)
        return CMD_ERR_CATALOGUE;
    if (v_field_length != nullptr) {
        pugi::xml_node field = data.child("field");
        *v_field_length = field ? field.attribute("length").as_int() : 0;
    }
    if (v_timeout_s != nullptr)
        *v_timeout_s = data.attribute("timeout").as_uint();
    return CMD_SUCCESS;
}

int build_cmd(const QString &v_category, const QString &v_subname, protocol_cmd_s &v_cmd, const char *v_param)
{
    const QString path = QCoreApplication::applicationDirPath() + "/" SECURITY_CMD_FILE;
    const QByteArray path8 = path.toUtf8();
    const QByteArray category8 = v_category.toUtf8();
    const QByteArray subname8 = v_subname.toUtf8();

    release_cmd_buffer(v_cmd);

    char *text = nullptr;
    int text_len = 0;
    int status = read_param_file(path8.toStdString(), &text, text_len);
    if (status != CMD_SUCCESS)
        return status;
    pugi::xml_document doc;
    doc.load_buffer(text, static_cast<size_t>(text_len));
    delete[] text;

    pugi::xml_node top = doc.first_child();
    if (!top) {
        qCritical("build cmd fail:%s. current cmd:%s", path8.constData(), category8.constData());
        return CMD_ERR_CATALOGUE;
    }
    if (!top.find_child_by_attribute("command", "name", category8.constData())) {
        qCritical("build cmd fail, can't find attribute, path:%s, cmd:%s", path8.constData(), category8.constData());
        return CMD_ERR_CATALOGUE;
    }
    /* The entry is the one of that sub-name, whatever its own category. */
    pugi::xml_node entry = top.find_child_by_attribute("command", "subname", subname8.constData());
    if (!entry) {
        qCritical("build cmd fail, can't find attribute, path:%s, cmd:%s", path8.constData(), subname8.constData());
        return CMD_ERR_CATALOGUE;
    }
    pugi::xml_node data = entry.child("data");
    if (!data) {
        release_cmd_buffer(v_cmd);
        qCritical("build cmd fail, can't find data node, path:%s, cmd:%s", path8.constData(), subname8.constData());
        return CMD_ERR_CATALOGUE;
    }
    pugi::xml_node arg = entry.child("arg");
    if (!arg) {
        release_cmd_buffer(v_cmd);
        qCritical("build cmd fail, can't find arg node, path:%s, cmd:%s", path8.constData(), subname8.constData());
        return CMD_ERR_CATALOGUE;
    }

    /* identify: the service issues it itself; only length and time-out count. */
    const catalogue_category category = catalogue_category_of(category8.constData());
    if (category == CATEGORY_UNKNOWN)
        return CMD_ERR_CATEGORY;
    catalogue_fill_arg(category, arg, v_cmd);

    const int sectors = catalogue_sector_count(data);
    if (sectors < 1 || sectors > CATALOGUE_MAX_SECTOR_COUNT) {
        qCritical("build cmd fail, sector count %d out of range, path:%s, cmd:%s", sectors, path8.constData(),
                  subname8.constData());
        return CMD_ERR_SECTOR_COUNT;
    }
    const uint32_t buffer_len = static_cast<uint32_t>(sectors) * CATALOGUE_SECTOR_SIZE;
    const size_t param_len = strlen(v_param);

    /* Every place must hold the whole parameter before anything is copied.
     * A field's length attribute only documents the place. */
    pugi::xml_node first_field = data.child("field");
    for (pugi::xml_node field = first_field; field; field = field.next_sibling()) {
        const int offset = field.attribute("offset").as_int();
        if (offset < 0 || static_cast<uint64_t>(offset) + param_len > buffer_len) {
            qCritical("build cmd fail, field offset %d out of range, path:%s, cmd:%s", offset, path8.constData(),
                      subname8.constData());
            return CMD_ERR_FIELD_RANGE;
        }
    }

    v_cmd.buffer_len = buffer_len;
    v_cmd.buffer = new uint8_t[buffer_len]();
    for (pugi::xml_node field = first_field; field && param_len > 0; field = field.next_sibling())
        memcpy(v_cmd.buffer + field.attribute("offset").as_int(), v_param, param_len);

    catalogue_fill_data_phase(data, v_cmd);
    return CMD_SUCCESS;
}
