#include "Boxes.h"
#include "TestEnvironment.h"
#include "record/DosCommand.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString Visible(const QString& text)
{
    QString shown = text;
    shown.replace(u'\r', QStringLiteral("\\r"));
    shown.replace(u'\n', QStringLiteral("\\n"));
    shown.replace(QChar(0), QStringLiteral("\\0"));
    return shown;
}

QString Shell(const QString& script)
{
    return QStringLiteral("sh -c ") + QuoteArgument(script);
}

// Records a run's events as short texts: "E:line" and "B:beginning" for
// line events, "C:x" for characters, "P" for OnTerminateProcess, "X:class:
// message" for OnExecuteError, "T" for OnTerminated.
class TRunLog
{
public:
    explicit TRunLog(TDosCommand& cmd, bool chars = false, bool errors = true)
    {
        cmd.SetOnNewLine([this](TDosCommand*, const QString& line, TOutputType type) {
            Events << (type == TOutputType::otEntireLine ? "E:" : "B:") + Visible(line);
        });
        if (chars)
            cmd.SetOnNewChar([this](TDosCommand*, QChar c) { Events << "C:" + Visible(c); });
        cmd.SetOnTerminateProcess([this](TDosCommand*, bool& canTerminate) {
            Events << QStringLiteral("P");
            QVERIFY(canTerminate);
        });
        if (errors) {
            cmd.SetOnExecuteError([this](TDosCommand*, const std::exception& e, bool& handled) {
                Events << "X:" + TDosCommand::ExceptionClassName(e) + ":" + e.what();
                handled = true;
            });
        }
        cmd.SetOnTerminated([this](TDosCommand* sender) {
            Events << QStringLiteral("T");
            EndStatusAtEnd = sender->EndStatus();
            IsRunningAtEnd = sender->IsRunning();
            Terminated = true;
            if (FLoop)
                FLoop->quit();
        });
    }

    bool WaitTerminated(int timeoutMs = 5000)
    {
        if (!Terminated) {
            QEventLoop loop;
            FLoop = &loop;
            QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
            loop.exec();
            FLoop = nullptr;
        }
        return Terminated;
    }

    QStringList LineEvents() const
    {
        QStringList lines;
        for (const QString& e : Events) {
            if (e.startsWith("E:") || e.startsWith("B:"))
                lines << e;
        }
        return lines;
    }

    QStringList Events;
    bool Terminated = false;
    TEndStatus EndStatusAtEnd = TEndStatus::esNone;
    bool IsRunningAtEnd = true;

private:
    QEventLoop* FLoop = nullptr;
};

template <typename F> QString ThrownMessage(F&& call)
{
    try {
        call();
    } catch (const EDosCommand& e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("(nothing thrown)");
}

int OpenDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size());
}

// A value in KiB from /proc/self/status ("VmRSS", "VmHWM").
qint64 StatusKiB(const char* name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(QByteArray(name) + ':'))
            return line.mid(qstrlen(name) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int Threads()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot).size());
}

// Gone, or a zombie waiting for its new parent (init) to collect it.
bool ProcessIsDead(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) == "Z";
}

bool NoChildLeft()
{
    int status;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

} // namespace

Q_DECLARE_METATYPE(TEndStatus)

class TTestDosCommand : public QObject
{
    Q_OBJECT
private slots:
    void SplitCommandLine_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("arguments");

        QTest::newRow("blanks separate, runs of blanks count once")
            << "ffmpeg  -y\t-i x" << QStringList{"ffmpeg", "-y", "-i", "x"};
        QTest::newRow("quoted program and output with blanks")
            << "\"/opt/my tools/ffmpeg\" -rtbufsize 150M  -y \"/home/u/My Videos/a.mp4\""
            << QStringList{"/opt/my tools/ffmpeg", "-rtbufsize", "150M", "-y",
                           "/home/u/My Videos/a.mp4"};
        QTest::newRow("quotes inside an argument group")
            << "-vf \"scale=trunc(iw/2)*2:trunc(ih/2)*2\" -i title=\"Virtual Screen\""
            << QStringList{"-vf", "scale=trunc(iw/2)*2:trunc(ih/2)*2", "-i",
                           "title=Virtual Screen"};
        QTest::newRow("empty quoted argument") << "a \"\" b" << QStringList{"a", "", "b"};
        QTest::newRow("backslashes without a quote are literal")
            << "printf 'a\\r\\n' C:\\dir\\" << QStringList{"printf", "'a\\r\\n'", "C:\\dir\\"};
        QTest::newRow("odd backslashes escape a quote")
            << "a\\\"b \\\\\\\"c" << QStringList{"a\"b", "\\\"c"};
        QTest::newRow("even backslashes before a closing quote")
            << "\"a\\\\\" b" << QStringList{"a\\", "b"};
        QTest::newRow("doubled quote inside quotes")
            << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
        QTest::newRow("only blanks") << "   " << QStringList{};
    }

    void SplitCommandLine()
    {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, arguments);
        QCOMPARE(::SplitCommandLine(commandLine), arguments);
    }

    void QuoteArgumentRoundTrips()
    {
        const QStringList arguments{"plain",
                                    "",
                                    "two words",
                                    "tab\there",
                                    "quote\"inside",
                                    "trailing\\",
                                    "dir with blank\\",
                                    "\\\"",
                                    "a\\\\\"b",
                                    "printf 'x\\n' \"y\"",
                                    "파일 이름.mp4"};
        QStringList quoted;
        for (const QString& a : arguments)
            quoted << QuoteArgument(a);
        QCOMPARE(::SplitCommandLine(quoted.join(u' ')), arguments);
        QCOMPARE(QuoteArgument("plain"), QString("plain"));
    }

    void LineSplitting_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("events");

        QTest::newRow("CR LF within a chunk is one line end")
            << "printf 'a\\r\\nb\\n'" << QStringList{"E:a", "E:b"};
        QTest::newRow("lone LF") << "printf 'x\\ny\\n'" << QStringList{"E:x", "E:y"};
        QTest::newRow("status line rewritten with CR")
            << "printf 'frame=1\\rframe=2\\r'" << QStringList{"E:frame=1", "E:frame=2"};
        QTest::newRow("LF CR is two line ends")
            << "printf 'a\\n\\rb\\n'" << QStringList{"E:a", "E:", "E:b"};
        QTest::newRow("NUL is dropped") << "printf 'a\\000b\\n'" << QStringList{"E:ab"};
        QTest::newRow("empty lines") << "printf '\\r\\n\\r\\n\\n'" << QStringList{"E:", "E:", "E:"};
        QTest::newRow("unfinished line reported, then delivered at the end")
            << "printf abc" << QStringList{"B:abc", "E:abc"};
        QTest::newRow("CR and LF split across chunks count twice")
            << "printf 'a\\r'; sleep 0.3; printf '\\nb\\r'" << QStringList{"E:a", "E:", "E:b"};
        QTest::newRow("unfinished line grows chunk by chunk")
            << "printf ab; sleep 0.3; printf cd; sleep 0.3; printf 'e\\nf'"
            << QStringList{"B:ab", "B:abcd", "E:abcde", "B:f", "E:f"};
        QTest::newRow("standard error interleaved with output")
            << "echo out; sleep 0.2; echo err >&2; sleep 0.2; echo out2"
            << QStringList{"E:out", "E:err", "E:out2"};
        QTest::newRow("multi-byte character split across two writes")
            << "printf '\\352\\260'; sleep 0.3; printf '\\200\\n'"
            << QStringList{QStringLiteral("E:\uAC00")};
        QTest::newRow("invalid UTF-8 becomes a replacement character")
            << "printf 'a\\377b\\n'" << QStringList{QStringLiteral("E:a\uFFFDb")};
    }

    void LineSplitting()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, events);
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(Shell(script));
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(log.LineEvents(), events);
        QCOMPARE(cmd.EndStatus(), TEndStatus::esProcess);
        QStringList complete;
        for (const QString& e : events) {
            if (e.startsWith("E:"))
                complete << e.mid(2).replace("\\r", "\r");
        }
        QCOMPARE(cmd.Lines(), complete);
    }

    void AllOutputBeforeExitArrives()
    {
        // The child's last lines are in the pipe when it exits; none may be lost.
        for (int run = 0; run < 20; ++run) {
            TDosCommand cmd;
            TRunLog log(cmd);
            cmd.SetCommandLine(Shell("seq 1 3000; printf tail"));
            cmd.Execute();
            QVERIFY(log.WaitTerminated());
            QCOMPARE(cmd.Lines().size(), 3001);
            QCOMPARE(cmd.Lines().at(2999), QString("3000"));
            QCOMPARE(cmd.Lines().last(), QString("tail"));
        }
    }

    void FloodingChildKeepsMemoryAndLoopFlat()
    {
        // Long lines as fast as the child can write them, each line and
        // character an event, for two seconds.
        TDosCommand cmd;
        qint64 lines = 0;
        qint64 chars = 0;
        cmd.SetOnNewLine([&](TDosCommand*, const QString&, TOutputType type) {
            lines += type == TOutputType::otEntireLine;
        });
        cmd.SetOnNewChar([&](TDosCommand*, QChar) { ++chars; });
        bool terminated = false;
        cmd.SetOnTerminated([&](TDosCommand*) { terminated = true; });
        cmd.SetCommandLine(Shell("yes " + QString(200, 'y')));

        qint64 worstGapMs = 0;
        QElapsedTimer sinceTick;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout,
                [&] { worstGapMs = qMax(worstGapMs, sinceTick.restart()); });
        ticker.start();
        sinceTick.start();
        cmd.Execute();
        // A plain event loop, as the program runs one: qWait would sleep
        // between its rounds.
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        cmd.Stop();
        QTRY_VERIFY(terminated);
        ticker.stop();

        const qint64 peakKiB = StatusKiB("VmHWM");
        qInfo("flood: %lld lines, %lld characters in 2 s; peak resident %lld KiB; longest "
              "pause of the event loop %lld ms",
              lines, chars, peakKiB, worstGapMs);
        QVERIFY(lines > 100);
        QVERIFY(cmd.Lines().size() <= MaxKeptLines);
#ifndef __SANITIZE_ADDRESS__ // its shadow memory and quarantine make the resident size meaningless
        QVERIFY2(peakKiB < 200 * 1024, QByteArray::number(peakKiB).constData());
#endif
        // Generous for a loaded machine; without the bound it froze for minutes.
        QVERIFY2(worstGapMs < 1000, QByteArray::number(worstGapMs).constData());
    }

    void EndlessLineIsCut()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(Shell("head -c 20000000 /dev/zero | tr '\\0' a; echo; echo end"));
        cmd.Execute();
        QVERIFY(log.WaitTerminated(20000));
        QCOMPARE(cmd.Lines(), (QStringList{QString(MaxLineChars, 'a') + OutputCutMarker, "end"}));
        for (const QString& event : log.LineEvents())
            QVERIFY(event.size() <= 2 + MaxLineChars + OutputCutMarker.size());
    }

    void EventOrder_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("child ends by itself")
            << false << QStringList{"C:a", "C:b", "C:\\n", "E:ab", "C:c", "B:c", "E:c", "T"};
        QTest::newRow("child stopped")
            << true << QStringList{"C:a", "C:b", "C:\\n", "E:ab", "C:c", "B:c", "P", "E:c", "T"};
    }

    void EventOrder()
    {
        QFETCH(bool, stop);
        QFETCH(QStringList, events);
        TDosCommand cmd;
        TRunLog log(cmd, true);
        cmd.SetCommandLine(Shell(stop ? "printf 'ab\\nc'; exec sleep 100" : "printf 'ab\\nc'"));
        cmd.Execute();
        if (stop) {
            QTRY_VERIFY(log.Events.contains("B:c"));
            cmd.Stop();
        }
        QVERIFY(log.WaitTerminated());
        QVERIFY(!log.IsRunningAtEnd);
        QTest::qWait(200);
        QCOMPARE(log.Events, events);
    }

    void InputLines()
    {
        // The bytes exactly: "q" alone, "dir" with CR LF, nothing for an
        // empty text, then enough for head to end by itself.
        QTemporaryDir dir;
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCurrentDir(dir.path());
        cmd.SetCommandLine(Shell("head -c 9 > in.bin"));
        cmd.Execute();
        cmd.SendLine("q", false);
        cmd.SendLine("dir", true);
        cmd.SendLine("", false);
        cmd.SendLine(QStringLiteral("\u00e9z"), false);
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.EndStatus(), TEndStatus::esProcess);
        QCOMPARE(cmd.ExitCode(), 0u);
        QFile file(dir.filePath("in.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("qdir\r\n\xc3\xa9z"));
    }

    void InputEchoedThroughCat()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine("cat");
        cmd.Execute();
        cmd.SendLine("hello", true);
        QTRY_COMPARE(log.LineEvents(), QStringList{"E:hello"});
        cmd.SendLine("wor", false);
        QTRY_COMPARE(log.LineEvents().size(), 2);
        cmd.SendLine("ld", true);
        QTRY_COMPARE(log.LineEvents().size(), 3);
        cmd.Stop();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(log.Events, (QStringList{"E:hello", "B:wor", "E:world", "P", "T"}));
        QCOMPARE(cmd.EndStatus(), TEndStatus::esStop);
    }

    void InputToOutputEcho()
    {
        QStringList memo{"earlier line"};
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetOutputLines(&memo);
        cmd.SetInputToOutput(true);
        cmd.SetCommandLine(Shell("printf 'prompt> '; cat > /dev/null"));
        cmd.Execute();
        QTRY_COMPARE(log.LineEvents(), QStringList{"B:prompt> "});
        cmd.SendLine("dir", true);
        QTRY_COMPARE(log.LineEvents().size(), 2);
        cmd.Stop();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(log.LineEvents(), (QStringList{"B:prompt> ", "E:prompt> dir"}));
        QCOMPARE(memo, (QStringList{"earlier line", "prompt> dir"}));
        QCOMPARE(cmd.Lines(), QStringList{"prompt> dir"});
    }

    void EncoderStatusLinesAndQuitKey()
    {
        // The way the recorder drives the encoder: status lines rewritten
        // with CR arrive one by one, and a lone "q" ends the encoder cleanly.
        const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
        if (ffmpeg.isEmpty())
            QSKIP("ffmpeg is not installed");
        QTemporaryDir dir;
        const QString output = dir.filePath("out put.mp4");
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(QuoteArgument(ffmpeg) +
                           " -hide_banner -re -f lavfi -i testsrc=size=64x64:rate=30  -c:v "
                           "libx264 -preset ultrafast -y " +
                           QuoteArgument(output));
        cmd.Execute();
        QTRY_VERIFY_WITH_TIMEOUT(cmd.Lines().filter("time=").size() >= 2, 5000);
        QVERIFY(cmd.IsRunning());
        cmd.SendLine("q", false);
        QVERIFY(log.WaitTerminated(10000));
        QCOMPARE(cmd.EndStatus(), TEndStatus::esProcess);
        QCOMPARE(cmd.ExitCode(), 0u);
        QVERIFY(QFileInfo(output).size() > 0);
    }

    void EndStatusAndExitCode_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("stopAfterMs");
        QTest::addColumn<TEndStatus>("status");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("own exit code") << "exit 7" << -1 << TEndStatus::esProcess << 7;
        QTest::newRow("own signal") << "kill -TERM $$" << -1 << TEndStatus::esProcess << 143;
        QTest::newRow("stopped") << "sleep 100" << 200 << TEndStatus::esStop << 259;
        QTest::newRow("stopped at once") << "sleep 100" << 0 << TEndStatus::esStop << 259;
    }

    void EndStatusAndExitCode()
    {
        QFETCH(QString, script);
        QFETCH(int, stopAfterMs);
        QFETCH(TEndStatus, status);
        QFETCH(int, exitCode);
        TDosCommand cmd;
        TRunLog log(cmd);
        QCOMPARE(cmd.EndStatus(), TEndStatus::esNone);
        cmd.SetCommandLine(Shell(script));
        QElapsedTimer clock;
        clock.start();
        cmd.Execute();
        QVERIFY(cmd.IsRunning());
        QCOMPARE(cmd.EndStatus(), TEndStatus::esStill_Active);
        if (stopAfterMs >= 0) {
            QTest::qWait(stopAfterMs);
            cmd.Stop();
        }
        QVERIFY(log.WaitTerminated());
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(log.EndStatusAtEnd, status);
        QCOMPARE(cmd.ExitCode(), static_cast<std::uint32_t>(exitCode));
        QVERIFY(!cmd.IsRunning());
        QVERIFY(NoChildLeft());
    }

    void TimeLimits_data()
    {
        QTest::addColumn<int>("afterBeginning");
        QTest::addColumn<int>("afterLastOutput");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        // Killed at the third tick: the counter must exceed the limit.
        QTest::newRow("2 s after the beginning") << 2 << 0 << "sleep 100" << 0 << 2700 << 4500;
        // Lines keep the child alive past the point where a limit counted
        // from the beginning would have ended it.
        QTest::newRow("1 s after the last line")
            << 0 << 1 << "for i in 1 2 3 4; do echo $i; sleep 0.4; done; sleep 100" << 4 << 2700
            << 5000;
    }

    void TimeLimits()
    {
        QFETCH(int, afterBeginning);
        QFETCH(int, afterLastOutput);
        QFETCH(QString, script);
        QFETCH(int, lines);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetMaxTimeAfterBeginning(afterBeginning);
        cmd.SetMaxTimeAfterLastOutput(afterLastOutput);
        cmd.SetCommandLine(Shell(script));
        QElapsedTimer clock;
        clock.start();
        cmd.Execute();
        QVERIFY(log.WaitTerminated(8000));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, QByteArray::number(elapsed));
        QCOMPARE(cmd.EndStatus(), TEndStatus::esTime);
        QCOMPARE(cmd.ExitCode(), 259u);
        QCOMPARE(cmd.Lines().size(), lines);
        QCOMPARE(log.Events.mid(log.Events.size() - 2), (QStringList{"P", "T"}));
    }

    void ProcessGroupKilled()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(Shell("sleep 100 & echo $!; wait"));
        cmd.Execute();
        QTRY_COMPARE(cmd.Lines().size(), 1);
        const pid_t grandchild = cmd.Lines().first().toInt();
        const pid_t child = cmd.ProcessInformation().ProcessId;
        QVERIFY(grandchild > 0 && child > 0);
        QVERIFY(!ProcessIsDead(grandchild));
        QCOMPARE(::getpgid(grandchild), child);
        QCOMPARE(::getsid(child), child);
        cmd.Stop();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.EndStatus(), TEndStatus::esStop);
        QTRY_VERIFY(ProcessIsDead(grandchild));
        QVERIFY(ProcessIsDead(child));
        QVERIFY(NoChildLeft());
    }

    void EnvironmentAndDirectory()
    {
        qputenv("VORANTU_INHERITED", "kept");
        qputenv("VORANTU_REPLACED", "old");
        QTemporaryDir dir;
        const QString script =
            "echo \"$VORANTU_INHERITED|$VORANTU_REPLACED|$VORANTU_EXTRA\"; pwd -P";
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(Shell(script));
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.Lines(), (QStringList{"kept|old|", QDir::current().canonicalPath()}));

        log.Terminated = false;
        cmd.Environment() << "VORANTU_EXTRA=one  two"
                          << "VORANTU_REPLACED=new";
        cmd.SetCurrentDir(dir.path());
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.Lines(), (QStringList{"kept|new|one  two", QDir(dir.path()).canonicalPath()}));
    }

    void Priority_data()
    {
        QTest::addColumn<int>("priorityClass");
        QTest::addColumn<int>("nice");
        const int own = ::getpriority(PRIO_PROCESS, 0);
        QTest::newRow("idle") << IdlePriorityClass << 19;
        QTest::newRow("below normal") << BelowNormalPriorityClass << 10;
        QTest::newRow("normal keeps the caller's") << NormalPriorityClass << own;
        if (::geteuid() == 0)
            QTest::newRow("high (privileged)") << HighPriorityClass << -10;
    }

    void Priority()
    {
        QFETCH(int, priorityClass);
        QFETCH(int, nice);
        TDosCommand cmd;
        TRunLog log(cmd);
        QCOMPARE(cmd.Priority(), NormalPriorityClass);
        cmd.SetPriority(priorityClass);
        cmd.SetCommandLine("nice");
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.Lines(), QStringList{QString::number(nice)});
    }

    void StartErrors_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("currentDir");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing program")
            << "no-such-program-vorantu -x"
            << ""
            << "X:ECreateProcessError:Error creating Process: no-such-program-vorantu -x - (No "
               "such file or directory)";
        QTest::newRow("missing program with a path")
            << "\"/nonexistent dir/prog\""
            << ""
            << "X:ECreateProcessError:Error creating Process: \"/nonexistent dir/prog\" - (No "
               "such file or directory)";
        QTest::newRow("program not executable")
            << "./plain.txt"
            << ""
            << "X:ECreateProcessError:Error creating Process: ./plain.txt - (Permission denied)";
        QTest::newRow("missing working directory")
            << "true"
            << "/nonexistent-vorantu-dir"
            << "X:ECreateProcessError:Error creating Process: true - (No such file or directory)";
    }

    void StartErrors()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, currentDir);
        QFETCH(QString, error);
        // A program path with a slash is found from the caller's directory.
        QTemporaryDir dir;
        QFile plain(dir.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("echo never\n");
        plain.close();
        const QString caller = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const auto back = qScopeGuard([&] { QDir::setCurrent(caller); });
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine(commandLine);
        cmd.SetCurrentDir(currentDir);
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(log.Events, (QStringList{error, "T"}));
        QCOMPARE(cmd.EndStatus(), TEndStatus::esError);
        QCOMPARE(cmd.ExitCode(), 0u);
        QVERIFY(NoChildLeft());
        // The runner is usable again after a failed run.
        log.Events.clear();
        log.Terminated = false;
        cmd.SetCommandLine("true");
        cmd.SetCurrentDir(QString());
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.EndStatus(), TEndStatus::esProcess);
    }

    void ErrorBox_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("boxText");
        QTest::addColumn<TEndStatus>("status");
        const QString missing =
            "ECreateProcessError\nError creating Process: no-such-program-vorantu - (No such "
            "file or directory)";
        QTest::newRow("no handler") << "none"
                                    << "no-such-program-vorantu" << missing << TEndStatus::esError;
        QTest::newRow("handler leaves it unhandled")
            << "unhandled"
            << "no-such-program-vorantu" << missing << TEndStatus::esError;
        QTest::newRow("handler raises") << "raises"
                                        << "no-such-program-vorantu"
                                        << "EDosCommand\nfrom the handler" << TEndStatus::esError;
        QTest::newRow("line handler raises, the run goes on")
            << "line"
            << "echo x"
            << "EDosCommand\nfrom the line handler" << TEndStatus::esProcess;
    }

    void ErrorBox()
    {
        QFETCH(QString, handler);
        QFETCH(QString, commandLine);
        QFETCH(QString, boxText);
        QFETCH(TEndStatus, status);
        TBoxAnswer boxes;
        TDosCommand cmd;
        TRunLog log(cmd, false, false);
        bool handlerCalled = false;
        if (handler == "unhandled")
            cmd.SetOnExecuteError(
                [&](TDosCommand*, const std::exception&, bool&) { handlerCalled = true; });
        if (handler == "raises")
            cmd.SetOnExecuteError([&](TDosCommand*, const std::exception&, bool&) {
                handlerCalled = true;
                throw EDosCommand("from the handler");
            });
        if (handler == "line")
            cmd.SetOnNewLine([&](TDosCommand*, const QString&, TOutputType) {
                handlerCalled = true;
                throw EDosCommand("from the line handler");
            });
        cmd.SetCommandLine(commandLine);
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(handlerCalled, handler != "none");
        QCOMPARE(boxes.Texts, QStringList{boxText});
        QCOMPARE(boxes.Caption, QStringLiteral("tst_DosCommand"));
        QCOMPARE(boxes.Icon, QMessageBox::Critical);
        QCOMPARE(cmd.EndStatus(), status);
    }

    void ErrorBoxOfAnEndlessMessageFitsTheScreen()
    {
        TBoxAnswer boxes;
        QRect boxFrame;
        boxes.OnBox = [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (qobject_cast<QMessageBox*>(w) && w->isVisible())
                    boxFrame = w->frameGeometry();
            }
        };
        QElapsedTimer timer;
        timer.start();
        TDosCommand::ShowExecuteError(std::runtime_error(std::string(20'000'000, 'x')));
        qInfo("a 20 MB message answered in %lld ms, box %dx%d", timer.elapsed(), boxFrame.width(),
              boxFrame.height());
        QCOMPARE(boxes.Count, 1);
        QVERIFY(boxes.Text.contains("\nxxxx"));
        QVERIFY(boxes.Text.endsWith(" [...]"));
        QVERIFY(boxes.Text.size() < 4000);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(boxFrame.width() <= screen.width() && boxFrame.height() <= screen.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(boxFrame.width()).arg(boxFrame.height())));
    }

    void UsageErrors()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        QCOMPARE(ThrownMessage([&] { cmd.Execute(); }), QString("No Commandline to execute"));
        QCOMPARE(ThrownMessage([&] { cmd.SendLine("q", false); }),
                 QString("DosCommand not running"));
        cmd.Stop();
        cmd.SetCommandLine("sleep 100");
        cmd.Execute();
        QCOMPARE(ThrownMessage([&] { cmd.Execute(); }), QString("DosCommand still running"));
        QCOMPARE(ThrownMessage([&] { cmd.SetOnCharDecoding({}); }),
                 QString("DosCommand still running"));
        QCOMPARE(ThrownMessage([&] { cmd.SetOnCharEncoding({}); }),
                 QString("DosCommand still running"));
        QVERIFY(cmd.IsRunning());
        cmd.Stop();
        QVERIFY(log.WaitTerminated());
        QCOMPARE(log.Events, (QStringList{"P", "T"}));
        QCOMPARE(cmd.EndStatus(), TEndStatus::esStop);
        QCOMPARE(ThrownMessage([&] { cmd.SendLine("q", false); }),
                 QString("DosCommand not running"));
    }

    void CustomCodecs()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetOnCharDecoding(
            [](TDosCommand*, const QByteArray& buf) { return QString::fromLatin1(buf).toUpper(); });
        cmd.SetOnCharEncoding([](TDosCommand*, const QString& chars, QByteArray& out) {
            out.append(chars.toLatin1().toLower());
        });
        cmd.SetCommandLine(Shell("head -c 4; echo"));
        cmd.Execute();
        cmd.SendLine("AbCd", false);
        QVERIFY(log.WaitTerminated());
        QCOMPARE(cmd.Lines(), QStringList{"ABCD"});
    }

    void DestroyedWhileRunning()
    {
        pid_t child = 0;
        {
            TDosCommand cmd;
            TRunLog log(cmd);
            cmd.SetCommandLine("sleep 100");
            cmd.Execute();
            QTRY_VERIFY(cmd.ProcessInformation().ProcessId > 0);
            child = cmd.ProcessInformation().ProcessId;
        }
        QVERIFY(ProcessIsDead(child));
        QVERIFY(NoChildLeft());
        QTest::qWait(100);
    }

    void NoLeakAfterManyRuns()
    {
        TDosCommand cmd;
        TRunLog log(cmd);
        cmd.SetCommandLine("true");
        cmd.Execute();
        QVERIFY(log.WaitTerminated());
        const int descriptors = OpenDescriptors();
        const int threads = Threads();

        for (int run = 0; run < 200; ++run) {
            log.Terminated = false;
            cmd.Execute();
            QVERIFY(log.WaitTerminated());
            QCOMPARE(cmd.EndStatus(), TEndStatus::esProcess);
        }
        // One of each other ending.
        const QStringList others{"sleep 100", "no-such-program-vorantu", "cat"};
        for (const QString& commandLine : others) {
            log.Terminated = false;
            cmd.SetCommandLine(commandLine);
            cmd.Execute();
            if (commandLine == "cat")
                cmd.SendLine("x", true);
            QTest::qWait(50);
            cmd.Stop();
            QVERIFY(log.WaitTerminated());
        }
        QCOMPARE(OpenDescriptors(), descriptors);
        QCOMPARE(Threads(), threads);
        QVERIFY(NoChildLeft());
    }
};

VORANTU_TEST_MAIN(TTestDosCommand)
#include "tst_DosCommand.moc"
