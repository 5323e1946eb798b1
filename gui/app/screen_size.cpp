/*
 * Window and page sizes from the primary screen's geometry.
 */
#include "screen_size.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

float window_width_for(const QSize &v_screen)
{
    return static_cast<float>(v_screen.width()) / static_cast<float>(v_screen.height()) *
           static_cast<float>(ZV_WINDOW_HEIGHT);
}

QSize primary_screen_size()
{
    return QGuiApplication::primaryScreen()->geometry().size();
}

} // namespace

QSize window_size_for(const QSize &v_screen)
{
    return QSize(static_cast<int>(window_width_for(v_screen)), ZV_WINDOW_HEIGHT);
}

int page_width_for(const QSize &v_screen)
{
    return static_cast<int>(static_cast<double>(window_width_for(v_screen)) * 0.33);
}

QSize setApp()
{
    return window_size_for(primary_screen_size());
}

int page_width()
{
    return page_width_for(primary_screen_size());
}
