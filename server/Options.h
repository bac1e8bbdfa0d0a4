#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <stdexcept>

// A command line the service cannot run with; the text says which option.
class EOptionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

inline constexpr qint64 DefaultMaxBodyBytes = 32 * 1024 * 1024;

struct TServiceOptions
{
    QHostAddress ListenAddress{QHostAddress::LocalHost};
    quint16 ListenPort = 8080; // 0 asks the system for a free port
    QString StorageDir;        // pictures and the hold list
    QString ConfigFile;        // empty: no update, no notice
    QString LogFile;           // empty: standard output
    qint64 MaxBodyBytes = DefaultMaxBodyBytes;
    // A request body must arrive in full within this time once the headers
    // are in, so a trickling client cannot hold a connection and its memory
    // for ever.
    int RequestTimeoutSeconds = 300;
    // Concurrent connections one address may hold; a reverse proxy in front
    // of the service counts as one address.
    int ConnectionsPerAddress = 32;
    bool ShowHelp = false;
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after "=". Throws EOptionError for an unknown option,
// a missing or unreadable value.
TServiceOptions ParseServiceOptions(const QStringList& arguments);

// The text --help prints: how to run the service and point Vorantu at it.
QString ServiceUsage();
