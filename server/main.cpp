#include "Options.h"
#include "Service.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <csignal>
#include <cstdio>
#include <exception>

// Serves until SIGINT or SIGTERM. The signals are blocked before the
// service starts its threads, so they all inherit the mask and only the
// sigwait below ever takes them.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();

    TServiceOptions options;
    try {
        options = ParseServiceOptions(arguments);
    } catch (const EOptionError& error) {
        std::fprintf(stderr, "vorantu-service: %s\n", error.what());
        return 2;
    }
    if (options.ShowHelp) {
        std::fputs(qPrintable(ServiceUsage()), stdout);
        return 0;
    }

    // A client that hangs up mid-reply must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        TService service(options);
        if (!options.ListenAddress.isLoopback())
            std::fprintf(stderr,
                         "vorantu-service: listening beyond this machine: anyone who "
                         "reaches %s can upload pictures\n",
                         qPrintable(options.ListenAddress.toString()));
        std::fprintf(stderr, "vorantu-service: listening on %s, storing in %s\n",
                     qPrintable(service.BaseAddress()), qPrintable(options.StorageDir));
        int received = 0;
        sigwait(&stopSignals, &received);
        std::fprintf(stderr, "vorantu-service: stopping\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vorantu-service: %s\n", error.what());
        return 1;
    }
    return 0;
}
