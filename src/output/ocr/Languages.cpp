#include "output/ocr/Languages.h"

#include <algorithm>
#include <iterator>

namespace RtOcr {

namespace {

struct TKnownLanguage
{
    const char* BaseName;
    const char* LanguageTag;
    const char* DisplayName;
    const char* NativeName;
    const char* Script;
};

// The trained-data names the engine's published data uses, sorted by base
// name for the binary search. Display names are English so that they never
// change under a stored selection; scripts are ISO 15924 codes.
constexpr TKnownLanguage KnownLanguages[] = {
    {"afr", "af", "Afrikaans", "Afrikaans", "Latn"},
    {"amh", "am", "Amharic", "አማርኛ", "Ethi"},
    {"ara", "ar", "Arabic", "العربية", "Arab"},
    {"asm", "as", "Assamese", "অসমীয়া", "Beng"},
    {"aze", "az", "Azerbaijani", "azərbaycan", "Latn"},
    {"aze_cyrl", "az-Cyrl", "Azerbaijani (Cyrillic)", "азәрбајҹан", "Cyrl"},
    {"bel", "be", "Belarusian", "беларуская", "Cyrl"},
    {"ben", "bn", "Bengali", "বাংলা", "Beng"},
    {"bod", "bo", "Tibetan", "བོད་སྐད་", "Tibt"},
    {"bos", "bs", "Bosnian", "bosanski", "Latn"},
    {"bre", "br", "Breton", "brezhoneg", "Latn"},
    {"bul", "bg", "Bulgarian", "български", "Cyrl"},
    {"cat", "ca", "Catalan", "català", "Latn"},
    {"ceb", "ceb", "Cebuano", "Binisaya", "Latn"},
    {"ces", "cs", "Czech", "čeština", "Latn"},
    {"chi_sim", "zh-Hans", "Chinese (Simplified)", "简体中文", "Hans"},
    {"chi_sim_vert", "zh-Hans-x-vert", "Chinese (Simplified, vertical)", "简体中文（竖排）",
     "Hans"},
    {"chi_tra", "zh-Hant", "Chinese (Traditional)", "繁體中文", "Hant"},
    {"chi_tra_vert", "zh-Hant-x-vert", "Chinese (Traditional, vertical)", "繁體中文（直排）",
     "Hant"},
    {"chr", "chr", "Cherokee", "ᏣᎳᎩ", "Cher"},
    {"cos", "co", "Corsican", "corsu", "Latn"},
    {"cym", "cy", "Welsh", "Cymraeg", "Latn"},
    {"dan", "da", "Danish", "dansk", "Latn"},
    {"deu", "de", "German", "Deutsch", "Latn"},
    {"div", "dv", "Divehi", "ދިވެހިބަސް", "Thaa"},
    {"dzo", "dz", "Dzongkha", "རྫོང་ཁ", "Tibt"},
    {"ell", "el", "Greek", "Ελληνικά", "Grek"},
    {"eng", "en", "English", "English", "Latn"},
    {"enm", "enm", "Middle English", "Middle English", "Latn"},
    {"epo", "eo", "Esperanto", "esperanto", "Latn"},
    {"est", "et", "Estonian", "eesti", "Latn"},
    {"eus", "eu", "Basque", "euskara", "Latn"},
    {"fao", "fo", "Faroese", "føroyskt", "Latn"},
    {"fas", "fa", "Persian", "فارسی", "Arab"},
    {"fil", "fil", "Filipino", "Filipino", "Latn"},
    {"fin", "fi", "Finnish", "suomi", "Latn"},
    {"fra", "fr", "French", "français", "Latn"},
    {"frk", "de-Latf", "German (Fraktur)", "Deutsch (Fraktur)", "Latf"},
    {"frm", "frm", "Middle French", "moyen français", "Latn"},
    {"fry", "fy", "Western Frisian", "Frysk", "Latn"},
    {"gla", "gd", "Scottish Gaelic", "Gàidhlig", "Latn"},
    {"gle", "ga", "Irish", "Gaeilge", "Latn"},
    {"glg", "gl", "Galician", "galego", "Latn"},
    {"grc", "grc", "Ancient Greek", "Ἀρχαία Ἑλληνική", "Grek"},
    {"guj", "gu", "Gujarati", "ગુજરાતી", "Gujr"},
    {"hat", "ht", "Haitian Creole", "kreyòl ayisyen", "Latn"},
    {"heb", "he", "Hebrew", "עברית", "Hebr"},
    {"hin", "hi", "Hindi", "हिन्दी", "Deva"},
    {"hrv", "hr", "Croatian", "hrvatski", "Latn"},
    {"hun", "hu", "Hungarian", "magyar", "Latn"},
    {"hye", "hy", "Armenian", "հայերեն", "Armn"},
    {"iku", "iu", "Inuktitut", "ᐃᓄᒃᑎᑐᑦ", "Cans"},
    {"ind", "id", "Indonesian", "Indonesia", "Latn"},
    {"isl", "is", "Icelandic", "íslenska", "Latn"},
    {"ita", "it", "Italian", "italiano", "Latn"},
    {"ita_old", "it-x-old", "Italian (Old)", "italiano antico", "Latn"},
    {"jav", "jv", "Javanese", "Jawa", "Latn"},
    {"jpn", "ja", "Japanese", "日本語", "Jpan"},
    {"jpn_vert", "ja-x-vert", "Japanese (vertical)", "日本語（縦書き）", "Jpan"},
    {"kan", "kn", "Kannada", "ಕನ್ನಡ", "Knda"},
    {"kat", "ka", "Georgian", "ქართული", "Geor"},
    {"kat_old", "ka-x-old", "Georgian (Old)", "ძველი ქართული", "Geor"},
    {"kaz", "kk", "Kazakh", "қазақ тілі", "Cyrl"},
    {"khm", "km", "Khmer", "ខ្មែរ", "Khmr"},
    {"kir", "ky", "Kyrgyz", "кыргызча", "Cyrl"},
    {"kmr", "kmr", "Northern Kurdish", "Kurmancî", "Latn"},
    {"kor", "ko", "Korean", "한국어", "Kore"},
    {"kor_vert", "ko-x-vert", "Korean (vertical)", "한국어 (세로쓰기)", "Kore"},
    {"lao", "lo", "Lao", "ລາວ", "Laoo"},
    {"lat", "la", "Latin", "Latina", "Latn"},
    {"lav", "lv", "Latvian", "latviešu", "Latn"},
    {"lit", "lt", "Lithuanian", "lietuvių", "Latn"},
    {"ltz", "lb", "Luxembourgish", "Lëtzebuergesch", "Latn"},
    {"mal", "ml", "Malayalam", "മലയാളം", "Mlym"},
    {"mar", "mr", "Marathi", "मराठी", "Deva"},
    {"mkd", "mk", "Macedonian", "македонски", "Cyrl"},
    {"mlt", "mt", "Maltese", "Malti", "Latn"},
    {"mon", "mn", "Mongolian", "монгол", "Cyrl"},
    {"mri", "mi", "Maori", "te reo Māori", "Latn"},
    {"msa", "ms", "Malay", "Melayu", "Latn"},
    {"mya", "my", "Burmese", "မြန်မာ", "Mymr"},
    {"nep", "ne", "Nepali", "नेपाली", "Deva"},
    {"nld", "nl", "Dutch", "Nederlands", "Latn"},
    {"nor", "no", "Norwegian", "norsk", "Latn"},
    {"oci", "oc", "Occitan", "occitan", "Latn"},
    {"ori", "or", "Odia", "ଓଡ଼ିଆ", "Orya"},
    {"pan", "pa", "Punjabi", "ਪੰਜਾਬੀ", "Guru"},
    {"pol", "pl", "Polish", "polski", "Latn"},
    {"por", "pt", "Portuguese", "português", "Latn"},
    {"pus", "ps", "Pashto", "پښتو", "Arab"},
    {"que", "qu", "Quechua", "Runasimi", "Latn"},
    {"ron", "ro", "Romanian", "română", "Latn"},
    {"rus", "ru", "Russian", "русский", "Cyrl"},
    {"san", "sa", "Sanskrit", "संस्कृतम्", "Deva"},
    {"sin", "si", "Sinhala", "සිංහල", "Sinh"},
    {"slk", "sk", "Slovak", "slovenčina", "Latn"},
    {"slv", "sl", "Slovenian", "slovenščina", "Latn"},
    {"snd", "sd", "Sindhi", "سنڌي", "Arab"},
    {"spa", "es", "Spanish", "español", "Latn"},
    {"spa_old", "es-x-old", "Spanish (Old)", "español antiguo", "Latn"},
    {"sqi", "sq", "Albanian", "shqip", "Latn"},
    {"srp", "sr", "Serbian", "српски", "Cyrl"},
    {"srp_latn", "sr-Latn", "Serbian (Latin)", "srpski", "Latn"},
    {"sun", "su", "Sundanese", "Basa Sunda", "Latn"},
    {"swa", "sw", "Swahili", "Kiswahili", "Latn"},
    {"swe", "sv", "Swedish", "svenska", "Latn"},
    {"syr", "syr", "Syriac", "ܠܫܢܐ ܣܘܪܝܝܐ", "Syrc"},
    {"tam", "ta", "Tamil", "தமிழ்", "Taml"},
    {"tat", "tt", "Tatar", "татар", "Cyrl"},
    {"tel", "te", "Telugu", "తెలుగు", "Telu"},
    {"tgk", "tg", "Tajik", "тоҷикӣ", "Cyrl"},
    {"tgl", "tl", "Tagalog", "Tagalog", "Latn"},
    {"tha", "th", "Thai", "ไทย", "Thai"},
    {"tir", "ti", "Tigrinya", "ትግርኛ", "Ethi"},
    {"ton", "to", "Tongan", "lea fakatonga", "Latn"},
    {"tur", "tr", "Turkish", "Türkçe", "Latn"},
    {"uig", "ug", "Uyghur", "ئۇيغۇرچە", "Arab"},
    {"ukr", "uk", "Ukrainian", "українська", "Cyrl"},
    {"urd", "ur", "Urdu", "اردو", "Arab"},
    {"uzb", "uz", "Uzbek", "oʻzbek", "Latn"},
    {"uzb_cyrl", "uz-Cyrl", "Uzbek (Cyrillic)", "ўзбекча", "Cyrl"},
    {"vie", "vi", "Vietnamese", "Tiếng Việt", "Latn"},
    {"yid", "yi", "Yiddish", "ייִדיש", "Hebr"},
    {"yor", "yo", "Yoruba", "Èdè Yorùbá", "Latn"},
};

} // namespace

TLanguage LanguageOfTrainedData(const QString& baseName)
{
    const QByteArray key = baseName.toUtf8();
    const auto* end = std::end(KnownLanguages);
    const auto* found = std::lower_bound(
        std::begin(KnownLanguages), end, key,
        [](const TKnownLanguage& known, const QByteArray& name) { return name > known.BaseName; });
    if (found == end || key != found->BaseName)
        return {baseName, QStringLiteral("und"), baseName, QStringLiteral("Zzzz")};
    return {QString::fromUtf8(found->DisplayName), QString::fromLatin1(found->LanguageTag),
            QString::fromUtf8(found->NativeName), QString::fromLatin1(found->Script)};
}

} // namespace RtOcr
