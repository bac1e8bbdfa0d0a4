#include "record/ChildProcess.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

std::optional<int> NiceValueForPriorityClass(int priorityClass)
{
    switch (priorityClass) {
    case IdlePriorityClass:
        return 19;
    case BelowNormalPriorityClass:
        return 10;
    case AboveNormalPriorityClass:
        return -5;
    case HighPriorityClass:
        return -10;
    case RealtimePriorityClass:
        // The strongest nice value, never a real-time scheduling class: a
        // busy child under SCHED_FIFO could freeze the whole desktop.
        return -20;
    default:
        return std::nullopt;
    }
}

QStringList SplitCommandLine(const QString& commandLine)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = commandLine.at(i);
        if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (inArgument) {
                arguments.append(current);
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            qsizetype j = i;
            while (j < n && commandLine.at(j) == u'\\')
                ++j;
            const qsizetype count = j - i;
            if (j < n && commandLine.at(j) == u'"') {
                current.append(QString(count / 2, u'\\'));
                if (count % 2 == 1) {
                    current.append(u'"');
                    ++j;
                }
            } else {
                current.append(QString(count, u'\\'));
            }
            i = j;
            continue;
        }
        if (c == u'"') {
            if (inQuotes && i + 1 < n && commandLine.at(i + 1) == u'"') {
                current.append(u'"');
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        current.append(c);
        ++i;
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

QString QuoteArgument(const QString& argument)
{
    if (!argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t') &&
        !argument.contains(u'"'))
        return argument;
    QString quoted(1, u'"');
    const qsizetype n = argument.size();
    for (qsizetype i = 0; i < n; ++i) {
        qsizetype backslashes = 0;
        while (i < n && argument.at(i) == u'\\') {
            ++backslashes;
            ++i;
        }
        if (i == n) {
            // Doubled, so the closing quote stays a quote.
            quoted.append(QString(backslashes * 2, u'\\'));
            break;
        }
        if (argument.at(i) == u'"') {
            quoted.append(QString(backslashes * 2 + 1, u'\\'));
        } else {
            quoted.append(QString(backslashes, u'\\'));
        }
        quoted.append(argument.at(i));
    }
    quoted.append(u'"');
    return quoted;
}

static QString EnvironmentName(const QString& entry)
{
    const qsizetype equals = entry.indexOf(u'=');
    return equals < 0 ? entry : entry.left(equals);
}

QStringList MergeEnvironment(const QStringList& base, const QStringList& extra)
{
    QStringList merged = base;
    for (const QString& entry : extra) {
        const QString name = EnvironmentName(entry);
        merged.removeIf([&name](const QString& e) { return EnvironmentName(e) == name; });
        merged.append(entry);
    }
    return merged;
}

QStringList ProcessEnvironment()
{
    QStringList entries;
    for (char** e = environ; e && *e; ++e)
        entries.append(QString::fromLocal8Bit(*e));
    return entries;
}

// Moves `fd` to 3 or above (keeping close-on-exec); -1 stays -1.
static int HighDescriptor(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

int CreatePipe(TFileHandle& readEnd, TFileHandle& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return errno;
    readEnd.Reset(HighDescriptor(fds[0]));
    const int readError = errno;
    writeEnd.Reset(HighDescriptor(fds[1]));
    if (!readEnd.IsValid())
        return readError;
    if (!writeEnd.IsValid())
        return errno;
    return 0;
}

static std::string LocalBytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

static bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file to execute for `program`, or an errno value in `error`.
static std::string ResolveProgram(const QString& program, const QStringList& environment,
                                  int& error)
{
    error = 0;
    if (program.isEmpty()) {
        error = ENOENT;
        return {};
    }
    if (program.contains(u'/')) {
        // Relative to the caller, not to the child's working directory.
        return LocalBytes(QFileInfo(program).absoluteFilePath());
    }
    QString path = QStringLiteral("/usr/local/bin:/usr/bin:/bin");
    for (const QString& entry : environment) {
        if (entry.startsWith(QLatin1String("PATH="))) {
            path = entry.mid(5);
            break;
        }
    }
    bool foundButNotExecutable = false;
    for (const QString& dir : path.split(u':')) {
        const std::string candidate =
            LocalBytes((dir.isEmpty() ? QStringLiteral(".") : dir) + u'/' + program);
        if (IsExecutableFile(candidate))
            return candidate;
        if (::access(candidate.c_str(), F_OK) == 0)
            foundButNotExecutable = true;
    }
    error = foundButNotExecutable ? EACCES : ENOENT;
    return {};
}

[[noreturn]] static void FailInChild(int report)
{
    const int error = errno;
    [[maybe_unused]] ssize_t written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

int StartChild(const TChildStart& start, pid_t& pid)
{
    pid = -1;
    int error = 0;
    const std::string file = ResolveProgram(start.Arguments.value(0), start.Environment, error);
    if (error != 0)
        return error;

    // Everything the child needs is made before the fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<std::string> argumentBytes;
    for (const QString& a : start.Arguments)
        argumentBytes.push_back(LocalBytes(a));
    std::vector<char*> argv;
    for (std::string& a : argumentBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentBytes;
    for (const QString& e : start.Environment)
        environmentBytes.push_back(LocalBytes(e));
    std::vector<char*> envp;
    for (std::string& e : environmentBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string dir = LocalBytes(start.CurrentDir);
    const char* const directory = start.CurrentDir.isEmpty() ? nullptr : dir.c_str();
    rlimit limit{};
    const int maxFd = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                          ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536))
                          : 65536;

    // The child reports a failed step through this pipe; exec closes it, so
    // an empty read means the program runs.
    TFileHandle reportRead;
    TFileHandle reportWrite;
    if (const int e = CreatePipe(reportRead, reportWrite))
        return e;

    const pid_t child = ::fork();
    if (child < 0)
        return errno;
    if (child == 0) {
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction byDefault = {};
        byDefault.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &byDefault, nullptr);
        ::setsid();
        if (::dup2(start.StdIn, 0) < 0 || ::dup2(start.StdOut, 1) < 0 ||
            ::dup2(start.StdOut, 2) < 0)
            FailInChild(reportWrite.Get());
        if (directory && ::chdir(directory) != 0)
            FailInChild(reportWrite.Get());
        if (start.Nice) {
            // Raising the priority needs a privilege; without it the child
            // keeps the caller's niceness, as a refused class would on Windows.
            ::setpriority(PRIO_PROCESS, 0, *start.Nice);
        }
        // Whatever the caller's libraries left inheritable stays out of the
        // child.
        if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = 3; fd < maxFd; ++fd)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        ::execve(file.c_str(), argv.data(), envp.data());
        FailInChild(reportWrite.Get());
    }

    reportWrite.Reset();
    int childError = 0;
    ssize_t n;
    do
        n = ::read(reportRead.Get(), &childError, sizeof childError);
    while (n < 0 && errno == EINTR);
    if (n == sizeof childError) {
        int status;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return childError != 0 ? childError : ENOEXEC;
    }
    pid = child;
    return 0;
}
