/*
 * The password field of the disk's set and verify commands: the catalogue
 * says how many bytes it holds. Apart from the model, so that the pages'
 * test model shares the same rule.
 */
#include <QString>

#include "build_cmd.h"
#include "security_cmd.h"
#include "zvsecurity_disk.h"

int ZVSecurityDisk::password_field_length()
{
    int length = 0;
    if (catalogue_entry_limits(QStringLiteral("setpwd"), &length, nullptr) != 0)
        return 0;
    return length;
}

bool ZVSecurityDisk::password_fits(const QString &v_password)
{
    const int bytes = v_password.toUtf8().size();
    for (const char *entry : {"setpwd", "verifypwd"}) {
        int length = 0;
        if (catalogue_entry_limits(QString::fromLatin1(entry), &length, nullptr) != 0 || bytes > length ||
            bytes >= USER_DATA_SIZE)
            return false;
    }
    return true;
}
