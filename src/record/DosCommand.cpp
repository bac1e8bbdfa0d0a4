#include "record/DosCommand.h"

#include "record/DosThread.h"
#include "record/ProcessTimer.h"
#include "services/MessageBox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

TDosCommand::TDosCommand(QObject* owner) : QObject(owner) {}

TDosCommand::~TDosCommand()
{
    if (FThread) {
        FThread->Terminate();
        FThread->Join();
        FThread.reset();
    }
    if (FTimer) {
        try {
            FTimer->Ending();
        } catch (const EProcessTimer&) {
            // Nobody is left to tell; closing the timer's descriptor below
            // stops it anyway.
        }
    }
}

void TDosCommand::Execute()
{
    if (FThread)
        throw EDosCommand("DosCommand still running");
    if (FCommandLine.isEmpty())
        throw EDosCommand("No Commandline to execute");
    if (!FTimer)
        FTimer = std::make_unique<TProcessTimer>();
    FLines.clear();
    FTimer->Beginning();
    FDecoder = QStringDecoder(QStringDecoder::Utf8);

    TDosThread::TSettings settings;
    settings.CommandLine = FCommandLine;
    settings.CurrentDir = FCurrentDir;
    settings.Environment = FEnvironment.isEmpty()
                               ? ProcessEnvironment()
                               : MergeEnvironment(ProcessEnvironment(), FEnvironment);
    settings.OutputLines = FOutputLines;
    settings.MaxTimeAfterBeginning = FMaxTimeAfterBeginning;
    settings.MaxTimeAfterLastOutput = FMaxTimeAfterLastOutput;
    settings.Priority = FPriority;
    settings.InputToOutput = FInputToOutput;
    try {
        FThread = std::make_unique<TDosThread>(*this, std::move(settings), *FTimer);
    } catch (...) {
        FTimer->Ending();
        throw;
    }
}

void TDosCommand::SendLine(const QString& value, bool eol)
{
    if (!FThread)
        throw EDosCommand("DosCommand not running");
    FThread->InputLines().Add((eol ? QStringLiteral("_") : QStringLiteral(" ")) + value);
}

void TDosCommand::Stop()
{
    if (FThread)
        FThread->Terminate();
}

void TDosCommand::SetOnCharDecoding(TCharDecoding handler)
{
    if (FThread)
        throw EDosCommand("DosCommand still running");
    FOnCharDecoding = std::move(handler);
}

void TDosCommand::SetOnCharEncoding(TCharEncoding handler)
{
    if (FThread)
        throw EDosCommand("DosCommand still running");
    FOnCharEncoding = std::move(handler);
}

QString TDosCommand::DecodeOutputChunk(const QByteArray& buf)
{
    if (FOnCharDecoding)
        return FOnCharDecoding(this, buf);
    if (buf.isEmpty())
        return {};
    // One decoder for the whole run: a character split between two reads
    // is completed by the next chunk instead of becoming two bad ones.
    return FDecoder.decode(buf);
}

void TDosCommand::EncodeInputLine(const QString& chars, QByteArray& outBuf)
{
    if (FOnCharEncoding) {
        FOnCharEncoding(this, chars, outBuf);
        return;
    }
    if (!chars.isEmpty())
        outBuf.append(chars.toUtf8());
}

void TDosCommand::AddLine(const QString& line)
{
    FLines.append(line);
    if (FLines.size() > MaxKeptLines)
        FLines.removeFirst();
    if (FOutputLines) {
        FOutputLines->append(line);
        if (FOutputLines->size() > MaxKeptLines)
            FOutputLines->removeFirst();
    }
}

void TDosCommand::ThreadTerminated()
{
    std::unique_ptr<TDosThread> thread = std::move(FThread);
    thread->Join();
    FExitCode = thread->ExitCode();
    std::exception_ptr error = thread->Error();
    thread.reset();
    try {
        FTimer->Ending();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }

    // The error box and the handlers run nested event loops or user code
    // that may delete the runner.
    QPointer<TDosCommand> self(this);
    if (error)
        ReportError(error);
    if (!self)
        return;
    const TNotifyEvent onTerminated = FOnTerminated;
    if (onTerminated)
        RunHandler([&] { onTerminated(this); });
}

void TDosCommand::ReportError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        const TErrorEvent onExecuteError = FOnExecuteError;
        if (!onExecuteError) {
            ShowExecuteError(e);
            return;
        }
        bool handled = false;
        try {
            onExecuteError(this, e, handled);
        } catch (const std::exception& inner) {
            ShowExecuteError(inner);
            return;
        } catch (...) {
            ShowExecuteError(std::runtime_error("unknown exception"));
            return;
        }
        if (!handled)
            ShowExecuteError(e);
    } catch (...) {
        ShowExecuteError(std::runtime_error("unknown exception"));
    }
}

void TDosCommand::RunHandler(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& e) {
        ShowExecuteError(e);
    } catch (...) {
        ShowExecuteError(std::runtime_error("unknown exception"));
    }
}

QString TDosCommand::ExceptionClassName(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    const QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    return name;
}

void TDosCommand::ShowExecuteError(const std::exception& e)
{
    const QString caption = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    // One line break between class name and message, as the box lays it out.
    const QString text = ExceptionClassName(e) + u'\n' + QString::fromUtf8(e.what());
    ShowMessageBox(caption, text, TBoxIcon::Error, QMessageBox::Ok, TBoxPlacement::Normal);
}
