/*
 * The log file and its message handler. Lines are formatted outside the
 * lock; only the write and the flush of one line are serialised, so lines
 * of different threads never interleave.
 */
#include "log_handler.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QFile *logfile = nullptr;

QString log_file_path()
{
    return QDir::tempPath() + QStringLiteral("/") + QCoreApplication::applicationName() + QStringLiteral(".log");
}

bool open_log_file(QFile *v_file, QString *v_error)
{
    const QByteArray path = QFile::encodeName(v_file->fileName());
    /* Not truncated at open: a file that is not ours is refused untouched. */
    int fd = open(path.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        *v_error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        *v_error = QStringLiteral("not a regular file of this user");
        return false;
    }
    /* A file left by an older copy may be readable by others. */
    if ((st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0) {
        *v_error = QString::fromLocal8Bit(strerror(errno));
        close(fd);
        return false;
    }
    if (ftruncate(fd, 0) != 0 || !v_file->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        *v_error = QString::fromLocal8Bit(strerror(errno));
        close(fd);
        return false;
    }
    return true;
}

QString format_log_line(QtMsgType v_type, const QMessageLogContext &v_context, const QString &v_msg,
                        const QTime &v_time)
{
    QString tag;
    switch (v_type) {
    case QtDebugMsg:
        tag = QStringLiteral("[debug]:");
        break;
    case QtCriticalMsg:
        tag = QStringLiteral("[critical]:");
        break;
    case QtInfoMsg:
        tag = QStringLiteral("[info]:");
        break;
    default:
        return QString();
    }
    const QString where = QStringLiteral("---%1:%2").arg(QString::fromUtf8(v_context.file)).arg(v_context.line);
    return QStringLiteral(" %1 %2 %3 %4\n").arg(v_time.toString(QStringLiteral("hh:mm:ss.zzz")), tag, v_msg, where);
}

void outputMessage(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    static QMutex mutex;
    const QString line = format_log_line(type, context, msg, QTime::currentTime());
    if (line.isEmpty())
        return;
    const QByteArray bytes = line.toUtf8();
    QMutexLocker locker(&mutex);
    if (logfile != nullptr && logfile->isOpen()) {
        logfile->write(bytes);
        logfile->flush();
    }
}
