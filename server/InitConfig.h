#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>

// A configuration file that cannot be read or holds something unexpected.
class EConfigError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What the start-up call answers, from the operator's JSON file.
struct TInitConfig
{
    QString Latest; // newest version, "a.b.c.d"; empty: offer to every version
    QString Update; // download page of the newest version
    QString Notify; // notice page
    QString InfoStyle;
    QString InfoText;
    QString InfoFlag;
    QString InfoUrl;

    bool HasInfo() const
    {
        return !InfoStyle.isEmpty() || !InfoText.isEmpty() || !InfoFlag.isEmpty() ||
               !InfoUrl.isEmpty();
    }
};

// Reads and checks the file: a JSON object with the optional string members
// "latest", "update", "notify" and "info" (an object with the optional string
// members "style", "text", "flag", "url"). Addresses must be http or https.
// An empty path gives the empty configuration. Throws EConfigError.
TInitConfig LoadInitConfig(const QString& path);

// Up to four dot-separated numbers, missing ones 0; nullopt when `text` is
// not such a version.
std::optional<quint64> ParseVersion(QStringView text);

// True when `config` offers its update to a program of `clientVersion`: an
// update address exists and the version is older than "latest" (or either
// version is missing or unreadable).
bool OffersUpdate(const TInitConfig& config, QStringView clientVersion);

// `text` as a JSON string with its quotes. Slashes are escaped as services
// commonly write them; braces are escaped too, because Vorantu reads the
// info object only up to its first closing brace.
QByteArray JsonQuote(QStringView text);

// The start-up answer: {"update":"...","notify":"...","info":{...}} with no
// spaces, so Vorantu's marker search ("update":" and so on) finds each value.
// The info object is sent only with an update offer.
QByteArray InitReply(const TInitConfig& config, bool offerUpdate);
