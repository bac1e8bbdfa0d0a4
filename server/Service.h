#pragma once

#include "Options.h"

#include <QString>
#include <memory>
#include <stdexcept>

// The service could not start (address taken, folder or log not writable,
// configuration unreadable).
class EServiceError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TServiceCore;

// The running web service: listens from construction to destruction. Its
// requests are handled on a few threads of its own; the creating thread only
// has to keep the object alive.
class TService
{
public:
    // Throws EServiceError (and the storage, log and configuration errors).
    explicit TService(const TServiceOptions& options);
    ~TService();
    TService(const TService&) = delete;
    TService& operator=(const TService&) = delete;

    // The port actually bound (the chosen one when the options asked for 0).
    quint16 Port() const;

    // "http://ADDRESS:PORT".
    QString BaseAddress() const;

private:
    std::unique_ptr<TServiceCore> FCore;
};
