// The log file and its handler, and the single-instance lock: the line
// layout, lines of two threads at once, what is left out, how the two
// files in the shared temporary directory are opened, and the lock as the
// users of one machine meet it.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "instance_lock.h"
#include "log_handler.h"
#include "startup.h"

namespace {

const char kLinePattern[] = R"(^ \d\d:\d\d:\d\d\.\d\d\d \[(debug|critical|info)\]: (.*) ---:0$)";

QString read_all(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<unreadable>");
    return QString::fromUtf8(file.readAll());
}

mode_t mode_of(const QString &path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Whether a lock attempt from another process succeeds (the lock is per
// process, so it must be tried from one).
INSTANCE_LOCK_E lock_from_another_process(const QByteArray &path)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fd = -1;
        _exit(acquire_instance_lock(path.constData(), &fd));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? INSTANCE_LOCK_E(WEXITSTATUS(status)) : INSTANCE_LOCK_OPEN_FAILED;
}

// A process that takes the lock, says so, and ends when told (or when the
// test lets go of it).
class Holder {
public:
    explicit Holder(const QByteArray &path)
    {
        int to_child[2], from_child[2];
        if (pipe(to_child) != 0 || pipe(from_child) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(to_child[1]);
            close(from_child[0]);
            int fd = -1;
            const char held = acquire_instance_lock(path.constData(), &fd) == INSTANCE_LOCK_HELD ? 'y' : 'n';
            if (write(from_child[1], &held, 1) != 1)
                _exit(2);
            char c;
            _exit(read(to_child[0], &c, 1) < 0 ? 2 : 0);
        }
        close(to_child[0]);
        close(from_child[1]);
        release_fd_ = to_child[1];
        char held = 'n';
        started_ = read(from_child[0], &held, 1) == 1 && held == 'y';
        close(from_child[0]);
    }
    ~Holder() { release(); }
    bool started() const { return started_; }
    // Lets the holder end, and waits for it.
    void release()
    {
        if (release_fd_ >= 0) {
            close(release_fd_);
            release_fd_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool started_ = false;
};

// Two users of the machine that are not root (setpriv needs no account
// for a uid): the first to run the program, and the next one.
const uid_t kFirstUser = 65534; // nobody
const uid_t kSecondUser = 61313;

// The lock taken by app_lock_cli as another user (through setpriv), with
// the umask given. The answer is the tool's line; a holder keeps the lock
// until release() or the end of the object.
class UserLock {
public:
    UserLock(uid_t uid, const QString &umask, const QString &path)
    {
        const QString id = QString::number(uid);
        process_.start("setpriv", {"--reuid=" + id, "--regid=" + id, "--clear-groups", "--", "/bin/sh", "-c",
                                   "umask " + umask + " && exec \"$0\" \"$1\"", ZV_LOCK_CLI, path});
        if (process_.waitForStarted(30000) && process_.waitForReadyRead(30000))
            answer_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
        else
            answer_ = "no answer: " + QString::fromLocal8Bit(process_.readAllStandardError());
    }
    ~UserLock() { release(); }
    const QString &answer() const { return answer_; }
    void release()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(30000))
            process_.kill();
        process_.waitForFinished(30000);
    }

private:
    QProcess process_;
    QString answer_;
};

// A directory like /tmp: world-writable and sticky, made and removed by
// the test.
class SharedTmp {
public:
    SharedTmp()
    {
        char tmpl[] = "/tmp/zvsecurity-lock-test.XXXXXX";
        if (mkdtemp(tmpl) != nullptr && chmod(tmpl, 01777) == 0)
            path_ = QString::fromLocal8Bit(tmpl);
    }
    ~SharedTmp()
    {
        if (!path_.isEmpty())
            QDir(path_).removeRecursively();
    }
    bool ok() const { return !path_.isEmpty(); }
    QString file(const QString &name) const { return path_ + "/" + name; }

private:
    QString path_;
};

uid_t owner_of(const QString &path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return uid_t(-1);
    return st.st_uid;
}

class Logger : public QThread {
public:
    Logger(const char *name, QtMsgType type, int count) : name_(name), type_(type), count_(count) {}

protected:
    void run() override
    {
        for (int i = 0; i < count_; i++) {
            if (type_ == QtDebugMsg)
                qDebug("%s line %d", name_, i);
            else
                qCritical("%s line %d", name_, i);
        }
    }

private:
    const char *name_;
    QtMsgType type_;
    int count_;
};

} // namespace

class LogTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // Routes the handler to a fresh log file; returns its path.
    QString start_log(const QString &name)
    {
        const QString path = dir_.filePath(name);
        logfile = new QFile(path);
        QString error;
        if (!open_log_file(logfile, &error))
            qFatal("log file: %s", qPrintable(error));
        qInstallMessageHandler(outputMessage);
        return path;
    }

    void stop_log()
    {
        qInstallMessageHandler(nullptr);
        delete logfile;
        logfile = nullptr;
    }

private slots:
    void the_line_layout_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("expected");
        const QTime at(9, 5, 3, 7);
        QTest::newRow("critical") << int(QtCriticalMsg) << "abc" << "" << 0 << " 09:05:03.007 [critical]: abc ---:0\n";
        QTest::newRow("debug") << int(QtDebugMsg) << "scan disk name:/dev/sdb" << "" << 0
                               << " 09:05:03.007 [debug]: scan disk name:/dev/sdb ---:0\n";
        QTest::newRow("info") << int(QtInfoMsg) << "program is ready, welcome to use." << "" << 0
                              << " 09:05:03.007 [info]: program is ready, welcome to use. ---:0\n";
        QTest::newRow("with a source position") << int(QtCriticalMsg) << "x" << "mainwindow.cpp" << 123
                                                << " 09:05:03.007 [critical]: x ---mainwindow.cpp:123\n";
        QTest::newRow("place markers in the text stay") << int(QtDebugMsg) << "%1 %2 %4" << "" << 0
                                                        << " 09:05:03.007 [debug]: %1 %2 %4 ---:0\n";
        QTest::newRow("warning: no line") << int(QtWarningMsg) << "abc" << "" << 0 << "";
        QTest::newRow("fatal: no line") << int(QtFatalMsg) << "abc" << "" << 0 << "";
    }

    void the_line_layout()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(QString, expected);
        const QByteArray file_name = file.toUtf8();
        QMessageLogContext context(file.isEmpty() ? nullptr : file_name.constData(), line, nullptr, nullptr);
        QCOMPARE(format_log_line(QtMsgType(type), context, message, QTime(9, 5, 3, 7)), expected);
        QCOMPARE(format_log_line(QtMsgType(type), context, message, QTime(23, 59, 59, 999)).left(13),
                 expected.isEmpty() ? QString() : QString(" 23:59:59.999"));
    }

    void messages_become_lines_of_the_file()
    {
        const QString path = start_log("messages.log");
        qCritical("get disk[%s] sn failed. ptl error[0x%x]", "/dev/sdb", 0x10a);
        qWarning("a warning of the Qt libraries");
        qInfo("%s", "瓦罗安全工具：准备就绪");
        qDebug("last");
        stop_log();
        const QStringList lines = read_all(path).split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the text after the last newline
        QCOMPARE(lines.last(), QString());
        const QRegularExpression pattern(kLinePattern);
        const QStringList expected = {"critical|get disk[/dev/sdb] sn failed. ptl error[0x10a]",
                                      QString::fromUtf8("info|瓦罗安全工具：准备就绪"), "debug|last"};
        for (int i = 0; i < 3; i++) {
            const QRegularExpressionMatch m = pattern.match(lines.at(i));
            QVERIFY2(m.hasMatch(), qPrintable(lines.at(i)));
            QCOMPARE(m.captured(1) + "|" + m.captured(2), expected.at(i));
        }
    }

    void two_threads_logging_at_once_give_whole_lines()
    {
        const QString path = start_log("threads.log");
        const int count = 3000;
        Logger worker("worker", QtDebugMsg, count);
        worker.start();
        for (int i = 0; i < count; i++)
            qCritical("gui line %d", i);
        QVERIFY(worker.wait());
        stop_log();
        QStringList lines = read_all(path).split('\n');
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines.size(), 2 * count);
        const QRegularExpression pattern(kLinePattern);
        std::set<QString> seen;
        for (const QString &line : lines) {
            const QRegularExpressionMatch m = pattern.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const QString tag = m.captured(1);
            const QString text = m.captured(2);
            QVERIFY2((tag == "debug" && text.startsWith("worker line ")) ||
                         (tag == "critical" && text.startsWith("gui line ")),
                     qPrintable(line));
            seen.insert(text);
        }
        QCOMPARE(int(seen.size()), 2 * count);
    }

    void the_log_file_is_private_and_emptied_at_start()
    {
        const QString path = dir_.filePath("old.log");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("a line of the last run\n");
        }
        QVERIFY(chmod(QFile::encodeName(path).constData(), 0644) == 0);
        QFile file(path);
        QString error;
        QVERIFY2(open_log_file(&file, &error), qPrintable(error));
        QCOMPARE(file.size(), qint64(0));
        QCOMPARE(int(mode_of(path)), 0600);

        const QString fresh = dir_.filePath("fresh.log");
        const mode_t old_mask = umask(0);
        QFile created(fresh);
        const bool opened = open_log_file(&created, &error);
        umask(old_mask);
        QVERIFY2(opened, qPrintable(error));
        QCOMPARE(int(mode_of(fresh)), 0600);
    }

    void the_log_file_is_never_opened_through_a_link()
    {
        const QString target = dir_.filePath("precious.txt");
        {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me");
        }
        const QString link = dir_.filePath("zvsecurity.log");
        QVERIFY(QFile::link(target, link));
        QFile file(link);
        QString error;
        QVERIFY(!open_log_file(&file, &error));
        QVERIFY(!file.isOpen());
        QCOMPARE(read_all(target), QString("keep me"));

        // A link to a file that does not exist yet is not followed either.
        const QString dangling = dir_.filePath("dangling.log");
        QVERIFY(QFile::link(dir_.filePath("would-be-created"), dangling));
        QFile second(dangling);
        QVERIFY(!open_log_file(&second, &error));
        QVERIFY(!QFile::exists(dir_.filePath("would-be-created")));
    }

    void the_log_file_refuses_a_fifo_and_another_users_file()
    {
        const QString fifo = dir_.filePath("fifo.log");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QFile file(fifo);
        QString error;
        QVERIFY(!open_log_file(&file, &error)); // and does not block

        if (geteuid() != 0)
            QSKIP("changing a file's owner needs root");
        const QString foreign = dir_.filePath("foreign.log");
        {
            QFile f(foreign);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("someone else's");
        }
        QVERIFY(chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
        QFile other(foreign);
        QVERIFY(!open_log_file(&other, &error));
        QCOMPARE(read_all(foreign), QString("someone else's"));
    }

    void the_log_file_path()
    {
        QCOMPARE(log_file_path(), QDir::tempPath() + "/" + QCoreApplication::applicationName() + ".log");
        QCOMPARE(QCoreApplication::applicationName(), QString("app_log_tests"));
    }

    void one_copy_holds_the_lock()
    {
        const QByteArray path = QFile::encodeName(dir_.filePath("lockfile.txt"));
        const mode_t old_mask = umask(0);
        int fd = -1;
        const INSTANCE_LOCK_E mine = acquire_instance_lock(path.constData(), &fd);
        umask(old_mask);
        QCOMPARE(mine, INSTANCE_LOCK_HELD);
        QVERIFY(fd >= 0);
        QCOMPARE(int(mode_of(dir_.filePath("lockfile.txt"))), 0644);
        QCOMPARE(lock_from_another_process(path), INSTANCE_LOCK_BUSY);
        close(fd);
        QCOMPARE(lock_from_another_process(path), INSTANCE_LOCK_HELD);
        QCOMPARE(QFileInfo(dir_.filePath("lockfile.txt")).size(), qint64(0));
    }

    void the_lock_goes_with_its_process()
    {
        const QByteArray path = QFile::encodeName(dir_.filePath("ended.txt"));
        // The holder keeps the lock until it reads from the pipe, or the
        // pipe closes: it never outlives this test.
        Holder holder(path);
        QVERIFY(holder.started());
        QCOMPARE(lock_from_another_process(path), INSTANCE_LOCK_BUSY);
        holder.release();
        int fd = -1;
        QCOMPARE(acquire_instance_lock(path.constData(), &fd), INSTANCE_LOCK_HELD);
        close(fd);
    }

    // The first user's copy leaves the file behind, owned by that user;
    // the next user, once it has quit, runs the program (through a
    // read-only descriptor), and while either runs the other is refused.
    // A strict umask of the first user must not keep the others out.
    void a_second_user_runs_after_the_first_has_quit_data()
    {
        QTest::addColumn<QString>("umask");
        QTest::newRow("umask 022") << "022";
        QTest::newRow("umask 077") << "077";
    }

    void a_second_user_runs_after_the_first_has_quit()
    {
        QFETCH(QString, umask);
        if (geteuid() != 0)
            QSKIP("running as other users needs root");
        SharedTmp tmp;
        QVERIFY(tmp.ok());
        const QString path = tmp.file("zvsecuritylockfile.txt");
        const QByteArray native = QFile::encodeName(path);

        UserLock first(kFirstUser, umask, path);
        QCOMPARE(first.answer(), QString("held"));
        QCOMPARE(owner_of(path), kFirstUser);
        QCOMPARE(int(mode_of(path)), 0644);
        QCOMPARE(UserLock(kSecondUser, "022", path).answer(), QString("busy"));
        QCOMPARE(lock_from_another_process(native), INSTANCE_LOCK_BUSY);
        first.release();

        UserLock second(kSecondUser, "022", path);
        QCOMPARE(second.answer(), QString("held"));
        QCOMPARE(UserLock(kFirstUser, umask, path).answer(), QString("busy"));
        QCOMPARE(lock_from_another_process(native), INSTANCE_LOCK_BUSY);
        second.release();

        // root too, on the file of another user in a sticky directory
        int fd = -1;
        QCOMPARE(acquire_instance_lock(native.constData(), &fd), INSTANCE_LOCK_HELD);
        close(fd);
        QCOMPARE(owner_of(path), kFirstUser);
        QCOMPARE(QFileInfo(path).size(), qint64(0));
    }

    // A file that this user cannot open at all (another user's, mode 0600)
    // is not another copy: the tool tells open-failed with the system's
    // reason, and the user reads a message of its own that names the file.
    void a_lock_file_that_cannot_be_opened_is_not_another_copy()
    {
        if (geteuid() != 0)
            QSKIP("running as other users needs root");
        SharedTmp tmp;
        QVERIFY(tmp.ok());
        const QString path = tmp.file("zvsecuritylockfile.txt");
        UserLock(kFirstUser, "022", path).release();
        QVERIFY(chmod(QFile::encodeName(path).constData(), 0600) == 0);
        QCOMPARE(UserLock(kSecondUser, "022", path).answer(), QString("open-failed: Permission denied"));

        const QString message = lock_file_message(ZV_LOCK_FILE, "Permission denied");
        QCOMPARE(message, QString("The program cannot use its lock file /tmp/zvsecuritylockfile.txt (Permission "
                                  "denied). Please ask the administrator to remove the file, then start the "
                                  "program again."));
    }

    void the_lock_file_is_never_opened_through_a_link_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("link to a file") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("directory") << "directory";
    }

    void the_lock_file_is_never_opened_through_a_link()
    {
        QFETCH(QString, kind);
        const QString path = dir_.filePath("lock-" + kind);
        const QString target = dir_.filePath("target-" + kind);
        if (kind == "link") {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            QVERIFY(QFile::link(target, path));
        } else if (kind == "dangling") {
            QVERIFY(QFile::link(target, path));
        } else if (kind == "fifo") {
            QVERIFY(mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
        } else {
            QVERIFY(QDir().mkdir(path));
        }
        int fd = -1;
        QCOMPARE(acquire_instance_lock(QFile::encodeName(path).constData(), &fd), INSTANCE_LOCK_OPEN_FAILED);
        QCOMPARE(fd, -1);
        if (kind == "dangling")
            QVERIFY(!QFile::exists(target));
    }
};

QTEST_GUILESS_MAIN(LogTest)

#include "log_test.moc"
