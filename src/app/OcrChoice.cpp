#include "app/OcrChoice.h"

namespace {

int IndexOfTag(const RtOcr::TLanguages& installed, const QString& tag)
{
    for (qsizetype i = 0; i < installed.size(); ++i) {
        if (installed.at(i).LanguageTag == tag)
            return int(i);
    }
    return -1;
}

QString RecognitionTagFor(const QString& uiLanguage)
{
    // The user-interface languages name Chinese without its script; its
    // interface text is Simplified Chinese.
    if (uiLanguage == QLatin1String("zh"))
        return QStringLiteral("zh-Hans");
    for (const char* code : {"ko", "ja", "ru", "it", "fr"}) {
        if (uiLanguage == QLatin1String(code))
            return uiLanguage;
    }
    return QStringLiteral("en");
}

} // namespace

int ChooseOcrLanguage(const RtOcr::TLanguages& installed, const QString& storedName,
                      int storedIndex, const QString& uiLanguage)
{
    if (installed.isEmpty())
        return -1;
    if (!storedName.isEmpty()) {
        for (qsizetype i = 0; i < installed.size(); ++i) {
            if (installed.at(i).DisplayName == storedName)
                return int(i);
        }
    } else if (storedIndex >= 0 && storedIndex < installed.size()) {
        return storedIndex;
    }
    for (const QString& tag : {RecognitionTagFor(uiLanguage), QStringLiteral("en")}) {
        const int index = IndexOfTag(installed, tag);
        if (index >= 0)
            return index;
    }
    return 0;
}
