#pragma once

#include <QString>
#include <stdexcept>

// A conversion that cannot read its input (a bad hexadecimal escape).
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The part of `source` between the first `startTag` and the first `endTag`
// after it; ASCII letters match without regard to case, the result keeps the
// letters of `source`. An empty tag means the start or end of `source`; a
// missing tag gives an empty result. When `endTag` is a quotation mark or an
// apostrophe, an escaped one (backslash before it) does not end the value.
// Safe on any thread.
QString TextBetween(const QString& source, const QString& startTag, const QString& endTag,
                    bool keepTags = false);

// Resolves the backslash escapes of a JSON string value. A bad \u escape
// throws EConvertError; an unknown escape (or a lone final backslash) is
// dropped with its character. Safe on any thread.
QString JsonUnescape(const QString& value);

// Hands an address or a file to the desktop's default handler; the result is
// not examined. For trusted targets only: the program's own pages and folders.
void ShellOpen(const QString& target);

// Opens an address that came from a server reply, only when its scheme is
// http or https; anything else is refused (returns false) and not opened.
bool ShellOpenServerAddress(const QString& address);

// True when `address` parses as an http or https address with a host.
bool IsWebAddress(const QString& address);
