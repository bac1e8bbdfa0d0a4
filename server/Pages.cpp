#include "Pages.h"

namespace {

QByteArray Page(const QString& title, const QString& body)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width\">\n"
                          "<title>%1</title>\n"
                          "<style>body{font-family:sans-serif;max-width:40em;margin:2em auto;"
                          "padding:0 1em;line-height:1.5}code{background:#eee;padding:0 .2em}"
                          "</style>\n</head>\n<body>\n%2</body>\n</html>\n")
        .arg(title.toHtmlEscaped(), body)
        .toUtf8();
}

QString Link(const QString& address, const QString& text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(address.toHtmlEscaped(), text.toHtmlEscaped());
}

} // namespace

QByteArray ProductPage(const QString& version, const TInitConfig& config)
{
    QString body = QStringLiteral(
        "<h1>Vorantu</h1>\n"
        "<p>Vorantu is a screen-capture utility for Linux desktops. It sits in the system tray "
        "and, on a hot key, captures the screen, a region, a window or a web page and saves it "
        "as a picture, a recording or recognised text, copies it, prints it or uploads it.</p>\n");

    const bool known = ParseVersion(version).has_value();
    if (known)
        body += QStringLiteral("<p>Your version: <strong>%1</strong></p>\n")
                    .arg(version.toHtmlEscaped());
    if (!config.Latest.isEmpty())
        body += QStringLiteral("<p>Newest version: <strong>%1</strong></p>\n")
                    .arg(config.Latest.toHtmlEscaped());
    if (!config.Update.isEmpty()) {
        if (known && !OffersUpdate(config, version))
            body += QStringLiteral("<p>Your version is up to date.</p>\n");
        else
            body += QStringLiteral("<p>%1</p>\n")
                        .arg(Link(config.Update, QStringLiteral("Download the newest version")));
    }
    if (!config.Notify.isEmpty())
        body += QStringLiteral("<p>%1</p>\n").arg(Link(config.Notify, QStringLiteral("News")));
    body += QStringLiteral("<p><a href=\"help\">Help</a></p>\n");
    return Page(QStringLiteral("Vorantu"), body);
}

QByteArray HelpPage(const QString& reason)
{
    struct TTopic
    {
        const char* Reason;
        const char* Title;
        const char* Body;
    };
    static const TTopic topics[] = {
        {"ffmpegnotfound", "ffmpeg was not found",
         "<p>Recording to MP4 needs the program <code>ffmpeg</code>. Vorantu looks for it "
         "beside its own program file first, then on your <code>PATH</code>.</p>\n"
         "<p>Install it with your package manager, for example "
         "<code>sudo apt install ffmpeg</code> on Debian or Ubuntu, then choose MP4 "
         "again.</p>\n"},
        {"webpnotfound", "libwebp.so.7 was not found",
         "<p>Saving WebP pictures needs the library <code>libwebp.so.7</code>. Vorantu looks "
         "for it beside its own program file first, then among the system's libraries.</p>\n"
         "<p>Install it with your package manager, for example "
         "<code>sudo apt install libwebp7</code> on Debian or Ubuntu, then choose WebP "
         "again.</p>\n"},
    };
    for (const TTopic& topic : topics) {
        if (reason == QLatin1String(topic.Reason))
            return Page(QLatin1String(topic.Title),
                        QStringLiteral("<h1>%1</h1>\n").arg(QLatin1String(topic.Title)) +
                            QLatin1String(topic.Body));
    }
    QString body = QStringLiteral("<h1>Vorantu help</h1>\n<ul>\n");
    for (const TTopic& topic : topics)
        body += QStringLiteral("<li><a href=\"help?app=vorantu&amp;msg=%1\">%2</a></li>\n")
                    .arg(QLatin1String(topic.Reason), QLatin1String(topic.Title));
    body += QStringLiteral("</ul>\n");
    return Page(QStringLiteral("Vorantu help"), body);
}
