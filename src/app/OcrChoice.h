#pragma once

#include "output/ocr/RtOcr.h"

#include <QString>

// The recognition language the selector starts with, as an index into
// `installed`: the stored name (the language's fixed English name) while
// that language is installed; else the stored index of an older version's
// store (-1: none stored); else the language of the user interface
// (`uiLanguage`, one of the seven codes), then English, then the first.
// -1 when nothing is installed.
int ChooseOcrLanguage(const RtOcr::TLanguages& installed, const QString& storedName,
                      int storedIndex, const QString& uiLanguage);
