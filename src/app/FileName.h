#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <stdexcept>

// A path with a character no path may hold (NUL on Linux).
class EInvalidPath : public std::runtime_error
{
public:
    EInvalidPath() : std::runtime_error("Invalid characters in path") {}
};

// How output files are named; the numbers are the stored "append" values.
enum class TNamingMode
{
    Sequential1 = 1, // after the highest existing number, across extensions
    DateTime = 2,    // V-yyyyMMdd-hhmmsszzz
    Sequential2 = 3, // the first free number from 1, per extension
};

// The stored "append" value as a mode: anything but 1 or 3 names by date and time.
TNamingMode NamingModeFromSetting(int append);

using TClock = std::function<QDateTime()>;

QDateTime CurrentLocalTime();

// The full path of the next output file with extension `ext` (lower case, no
// dot) in `savePath`, which is used as it is and never created. Sequential
// names are "V-" and at least three digits; date-and-time names are "V-",
// eight date digits, a hyphen and nine time digits, from `now`. Throws
// EInvalidPath for a NUL in the folder or the name.
QString NewFilename(const QString& savePath, TNamingMode mode, const QString& ext,
                    const TClock& now = CurrentLocalTime);

// The highest number among the sequential names ("V-<number>.<anything>") in
// `folder`, 0 when there is none or the folder cannot be read.
int ScanHighestNumber(const QString& folder);

// `name` inside `folder`: the name alone for an empty folder, otherwise with
// exactly the separators needed. Throws EInvalidPath.
QString JoinPath(const QString& folder, const QString& name);
