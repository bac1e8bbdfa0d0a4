#pragma once

#include "InitConfig.h"

#include <QByteArray>
#include <QString>

// The product page Vorantu's credit line opens, for the version given in
// its "v" query (shown only when it reads as a version).
QByteArray ProductPage(const QString& version, const TInitConfig& config);

// The help page Vorantu opens when a file it needs is missing; `reason` is
// the "msg" query ("ffmpegnotfound", "webpnotfound"). Other reasons get the
// list of topics.
QByteArray HelpPage(const QString& reason);
