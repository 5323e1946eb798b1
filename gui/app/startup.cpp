/*
 * Start-up inputs.
 */
#include "startup.h"

#include <QCoreApplication>

#include "screen_size.h"

bool drive_argument(int argc, char **argv, char *v_drive)
{
    if (argc != 2 || argv[1] == nullptr)
        return false;
    *v_drive = argv[1][0];
    return true;
}

QPixmap splash_picture(const QPixmap &v_picture, const QSize &v_screen)
{
    return v_picture.scaled(window_size_for(v_screen), Qt::KeepAspectRatio, Qt::FastTransformation);
}

QString lock_file_message(const char *v_path, const QString &v_reason)
{
    return QCoreApplication::translate("main",
                                       "The program cannot use its lock file %1 (%2). Please ask the administrator "
                                       "to remove the file, then start the program again.")
        .arg(QString::fromLocal8Bit(v_path), v_reason);
}
