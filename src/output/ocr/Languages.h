#pragma once

#include "output/ocr/RtOcr.h"

#include <QString>

namespace RtOcr {

// The language a trained-data file recognises, from the file's base name
// ("kor", "chi_sim", "jpn_vert"). Every field is fixed text, so a language
// reads the same in every run and whatever the user's locale. A base name
// this table does not know is shown as it stands, with the tag "und"
// (undetermined) and the script "Zzzz" (unknown).
TLanguage LanguageOfTrainedData(const QString& baseName);

} // namespace RtOcr
