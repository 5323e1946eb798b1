/*
 * The program's log: every debug, info and critical message of every
 * thread becomes one time-stamped line of the log file in the temporary
 * directory, through the installed message handler outputMessage.
 *
 * Line: " hh:mm:ss.zzz [tag]: message ---file:line\n". Warnings and fatal
 * messages (the program emits neither; Qt's own warnings are of that kind)
 * leave no line.
 */
#ifndef GUI_LOG_HANDLER_H
#define GUI_LOG_HANDLER_H

#include <QFile>
#include <QString>
#include <QTime>
#include <QtGlobal>

/* The open log file; created once at start-up, never closed or freed. */
extern QFile *logfile;

/* Temporary directory + "/" + application name + ".log". */
QString log_file_path();

/**
 * Opens v_file's path for writing: created with mode 0600, an existing
 * file emptied. Refuses a symbolic link, anything but a regular file, and a
 * file that belongs to another user, which a shared temporary directory
 * allows anyone to plant.
 * @param v_error receives why the file was not opened
 * @return true when v_file is open
 */
bool open_log_file(QFile *v_file, QString *v_error);

/* The line of one message at time v_time; empty for warning and fatal. */
QString format_log_line(QtMsgType v_type, const QMessageLogContext &v_context, const QString &v_msg,
                        const QTime &v_time);

/* The message handler: writes the line of each message to logfile,
 * whole and flushed, one thread at a time. */
void outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg);

#endif /* GUI_LOG_HANDLER_H */
