#pragma once

#include <QSettings>
#include <QString>

// The settings store. `TConfig("Dastrane\\Vorantu")` reads and writes the INI
// file $XDG_CONFIG_HOME/Dastrane/Vorantu.conf, section [General]. A TConfig
// lives for one load or one write: create it, use it, let it go, so nothing
// is held open while the program idles. Integers are stored as decimal text,
// Booleans as 0 or 1; a stored text that does not read as the type asked for
// gives the default. Write failures are swallowed: the user's choice stays in
// effect for the rest of the run. User-interface thread only.
class TConfig
{
public:
    explicit TConfig(const QString& path);

    bool ReadBoolean(const QString& name, bool defaultValue) const;
    int ReadInteger(const QString& name, int defaultValue) const;
    QString ReadString(const QString& name, const QString& defaultValue) const;

    bool WriteBoolean(const QString& name, bool value);
    int WriteInteger(const QString& name, int value);
    QString WriteString(const QString& name, const QString& value);

    bool Exists(const QString& name) const;
    // False once a write of this store could not reach the file (its folder
    // cannot be made or written); the value then lives only in memory.
    bool Stored() const { return FReg.status() == QSettings::NoError; }

    // The file a store path maps to: "A\\B" is A/B.conf, a single name "A"
    // is A/A.conf, both under the XDG configuration folder.
    static QString FileFor(const QString& path);

private:
    void Flush();

    QSettings FReg;
};

inline const QString ProgramConfigPath = QStringLiteral("Dastrane\\Vorantu");
inline const QString MakerConfigPath = QStringLiteral("Dastrane");

// One row of the settings table. Defaults that depend on the machine (the
// locale, the desktop folder, the screen) are computed when read. `Valid`,
// when set, names the values the program can act on; anything else stored
// (a hand-edited file, an older version's leftovers) reads as the default, so
// a bad value can neither loop a dialog nor silence every capture.
template <typename T> struct TSetting
{
    const char* Name;
    T (*Default)();
    bool (*Valid)(T) = nullptr;
};

// A stored hot key the dialog can show and the desktop can register: a key in
// the low byte and nothing but the Shift, Ctrl and Alt bits above it.
bool IsValidHotKey(int code);

// The "left" and "top" defaults centre a 480 x 360 region on the primary screen.
int DefaultRegionLeft();
int DefaultRegionTop();
QString DefaultLanguage();
QString DefaultSavePath();

namespace Setting {
// clang-format off
inline constexpr TSetting<int>     LanguageOcr  {"language_ocr", [] { return 0; }, [](int v) { return v >= 0; }};
inline constexpr TSetting<QString> Language     {"language",     DefaultLanguage};
inline constexpr TSetting<QString> Path         {"path",         DefaultSavePath};
inline constexpr TSetting<bool>    Audio        {"audio",        [] { return false; }};
inline constexpr TSetting<bool>    Mouse        {"mouse",        [] { return true; }};
inline constexpr TSetting<bool>    MouseRec     {"mouse_rec",    [] { return true; }};
inline constexpr TSetting<bool>    AutoCopy     {"autocopy",     [] { return false; }};
inline constexpr TSetting<bool>    FfmpegLog    {"ffmpeg_log",   [] { return false; }};
inline constexpr TSetting<int>     Area         {"area",         [] { return 0; }, [](int v) { return v >= 0 && v <= 6; }};
inline constexpr TSetting<int>     SaveTo       {"saveto",       [] { return 0; }, [](int v) { return v >= 0 && v <= 11; }};
inline constexpr TSetting<int>     JpegQuality  {"jpeg_quality", [] { return 1; }, [](int v) { return v >= 0 && v <= 4; }};
inline constexpr TSetting<int>     WebpQuality  {"webp_quality", [] { return 1; }, [](int v) { return v >= 0 && v <= 4; }};
inline constexpr TSetting<int>     Append       {"append",       [] { return 1; }};
inline constexpr TSetting<int>     Sound        {"sound",        [] { return 2; }};
inline constexpr TSetting<int>     RecordLimit  {"record_limit", [] { return 0; }};
inline constexpr TSetting<int>     Width1       {"width_1",      [] { return 320; }};
inline constexpr TSetting<int>     Height1      {"height_1",     [] { return 240; }};
inline constexpr TSetting<int>     Width2       {"width_2",      [] { return 640; }};
inline constexpr TSetting<int>     Height2      {"height_2",     [] { return 480; }};
inline constexpr TSetting<int>     Width3       {"width_3",      [] { return 720; }};
inline constexpr TSetting<int>     Height3      {"height_3",     [] { return 480; }};
inline constexpr TSetting<int>     Left         {"left",         DefaultRegionLeft};
inline constexpr TSetting<int>     Top          {"top",          DefaultRegionTop};
inline constexpr TSetting<int>     Width        {"width",        [] { return 480; }};
inline constexpr TSetting<int>     Height       {"height",       [] { return 360; }};
inline constexpr TSetting<int>     HotKey       {"hotkey",       [] { return 44; }, IsValidHotKey};
// Where the maker's web service runs: the image host (port 80 unless the
// value names one) and the base address of the product page, the help page
// and the start-up call. The reserved .example names reach nothing, so a
// fresh installation sends nothing anywhere until its user points it at a
// service.
inline constexpr TSetting<QString> UploadHost   {"upload_host",  [] { return QStringLiteral("img.dastrane.example"); }};
inline constexpr TSetting<QString> ServiceUrl   {"service_url",  [] { return QStringLiteral("http://www.dastrane.example"); }};
// A desktop notification after each capture; the tray Capture item's
// delay in seconds; and the recognition language by its fixed English name,
// which keeps naming the same language when recognition data is added or
// removed ("language_ocr" is an index into that changing list and is kept
// beside it for older versions).
inline constexpr TSetting<bool>    Notify       {"notify",        [] { return true; }};
inline constexpr TSetting<int>     CaptureDelay {"capture_delay", [] { return 0; }, [](int v) { return v == 0 || v == 3 || v == 5 || v == 10; }};
inline constexpr TSetting<QString> OcrLanguage  {"ocr_language",  [] { return QString(); }};
// Whether a desktop notification has told the user once how to bind the
// desktop's own shortcut, where the desktop lets no program take a key.
inline constexpr TSetting<bool>    ShortcutNotice {"shortcut_notice", [] { return false; }};
// What the desktop's screen-cast portal gave to skip asking the user which
// monitor to share next time (Wayland sessions); empty: ask.
inline constexpr TSetting<QString> ScreenCastToken {"screencast_token", [] { return QString(); }};
// clang-format on
} // namespace Setting

// Typed access through the table: the row's default applies when the value is
// missing, unreadable or outside the row's range.
int ReadSetting(const TConfig& config, const TSetting<int>& setting);
bool ReadSetting(const TConfig& config, const TSetting<bool>& setting);
QString ReadSetting(const TConfig& config, const TSetting<QString>& setting);
void WriteSetting(TConfig& config, const TSetting<int>& setting, int value);
void WriteSetting(TConfig& config, const TSetting<bool>& setting, bool value);
void WriteSetting(TConfig& config, const TSetting<QString>& setting, const QString& value);

// Linux desktops have no switch that hands the Print key to a snipping tool;
// a Print key the desktop already holds shows up as a hot-key conflict.
// Kept so the start-up sequence reads the same on every platform.
void SetSnippingPrintScreen(int value);

inline constexpr int CSIDL_DESKTOP = 0;

// The desktop folder for CSIDL_DESKTOP (the home folder when the desktop
// folder does not exist); an empty string for any other identifier.
QString GetSpecialFolder(int folder);
