/*
 * The pages of the main window's page host, by the index that the pages'
 * change_mainwindows_signal and the window's change_show_widget carry.
 */
#ifndef GUI_PAGE_INDEX_H
#define GUI_PAGE_INDEX_H

enum PAGE_INDEX_E {
    PAGE_DISCLAIMER = 0,
    PAGE_INPUT_PASSWORD = 1,
    PAGE_SET_PASSWORD = 2,
};

#endif /* GUI_PAGE_INDEX_H */
