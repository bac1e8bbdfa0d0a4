#pragma once

#include "services/Http.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <thread>

class QWidget;

// Called on the user-interface thread once the start-up reply has been
// handled (or all attempts failed, with an empty reply). `accepted` is true
// when the user took the update offer; the caller then ends the program.
using TUpdateProc = std::function<void(bool accepted, const QString& reply)>;

struct TUpdateOptions
{
    int Attempts = 6;
    // After every failed attempt, the last one included.
    std::chrono::milliseconds Pause{10000};
    // The start-up call is small; half a minute is plenty for each attempt.
    THttpLimits Limits{.TotalTime = std::chrono::seconds(30)};
};

enum TUpdateTextKind
{
    utQuestion = 0,
    utStatus = 1,
    utYes = 2,
    utNo = 3
};

// The service's own texts in the current language; English for every
// language without a row of its own.
QString UpdateText(TUpdateTextKind kind);

// The program version filled into `format`: each "%d" takes the next of the
// four numbers (major, minor, release, build), so "%d.%d.%d" gives three.
QString VersionText(const QString& format);

// A new per-installation identifier: 32 upper-case hexadecimal digits and
// date and time digits (random, yymmdd, random, hhnnss, random).
QString NewInstallId();

// The identifier stored as "DUID" in the maker's store, written first when
// missing. Empty when the store cannot be written. User-interface thread.
QString InstallId();

// `path` (which starts with "/") under the web service's base address, the
// "service_url" setting without surrounding blanks and trailing slashes.
QString ServiceAddress(const QString& path);

// `<service_url>/api.init.php` from the settings.
QString StartupAddress();

// The address that a reply's value holds, decoded; empty when the marker is
// missing or the value does not decode. Safe on any thread.
QString ReplyValue(const QString& source, const QString& startTag);

// One start-up call: the check thread, the reply handling and the hold
// notice. The thread sends the request with the version, language, debug
// flag and identifier, retries after failures, and hands the reply to the
// user-interface thread, where the update offer and the notice strip are
// shown and `proc` is called. Destroying the object stops the check at once
// (nothing is handled afterwards) and gives a hold notice in flight a short
// grace to finish. Lives on the user-interface thread.
class TUpdateCheck : public QObject
{
    Q_OBJECT
public:
    // `mainWindow` carries the notice strip and owns this object (may be
    // null in tests, then nothing owns it).
    TUpdateCheck(const QString& url, TUpdateProc proc, int layoutOffset, QWidget* mainWindow,
                 const TUpdateOptions& options = {});
    ~TUpdateCheck() override;

    // Starts the check thread; once only.
    void Start();

    // Handles a reply: the update offer, then the notice strip. True when the
    // user accepted the update (its address has been opened).
    bool HandleReply(const QString& reply);

    // Shows the update offer for `reply` modally; true when the user answered
    // Yes. Sends the hold notice when its box was ticked, whatever the answer.
    bool UpdateDialog(const QString& reply);

    // Tells the service to hold further offers, on a thread of its own.
    void SendHold();

    // Requests the check thread has sent so far.
    int AttemptCount() const { return FAttempts.load(); }

    QString Url() const { return FUrl; }

signals:
    // After `proc` has run (for the owner's bookkeeping and for tests).
    void Finished(bool accepted);

private:
    void Run(std::stop_token stop);
    void Deliver(const QString& reply);
    THttpRequest BaseRequest() const;

    const QString FUrl;
    const int FLayoutOffset;
    const TUpdateOptions FOptions;
    TUpdateProc FProc;
    QPointer<QWidget> FMainWindow;
    // Built on the user-interface thread before the check thread starts and
    // only read by it afterwards.
    QList<QPair<QByteArray, QByteArray>> FStartupHeaders;
    std::atomic<int> FAttempts{0};
    // Set by the destructor; hold notices still running get a grace period.
    std::atomic<std::chrono::steady_clock::rep> FClosingSince{0};
    std::jthread FCheck;
    std::list<std::jthread> FHolds;
};

// Starts the start-up call of the web service at `url` (see TUpdateCheck).
// The object belongs to `mainWindow` and ends with it.
TUpdateCheck* CheckUpdate(const QString& url, TUpdateProc proc, int layoutOffset,
                          QWidget* mainWindow, const TUpdateOptions& options = {});

// Creates the red notice strip "StatusBar" at the bottom of `mainWindow`
// (growing the window by its height) or updates it; a click opens `address`
// when it is an http or https address.
void ShowUpdateStatus(QWidget* mainWindow, const QString& address);
