/*
 * Start-up inputs.
 */
#include "startup.h"

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
