#pragma once

#include <QString>

// The short manual shipped inside the program, one page per user-interface
// language, opened while no web service is set. The page is written to the
// cache folder first, so the desktop's browser can open it as a file.
// `topic` is a section of the page ("ffmpeg", "webp", "ocr") or empty.
// Returns the page's file:// address, or an empty string when it cannot be
// written. User-interface thread.
QString LocalManualAddress(const QString& language, const QString& topic = QString());

// The section of the manual that answers a help request of the web
// service ("?app=vorantu&msg=ffmpegnotfound" gives "ffmpeg"); empty when
// none does.
QString ManualTopic(const QString& helpQuery);
