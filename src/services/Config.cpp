#include "services/Config.h"

#include "services/Translate.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QStringList>

namespace {

// The text of a stored value whatever QSettings made of it: an unquoted value
// with commas comes back as a list.
QString StoredText(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

int PrimaryScreenExtent(bool width)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 0;
    // In physical pixels, as the region window is placed and stored.
    const QSize size = screen->geometry().size() * screen->devicePixelRatio();
    return width ? size.width() : size.height();
}

} // namespace

TConfig::TConfig(const QString& path) : FReg(FileFor(path), QSettings::IniFormat) {}

QString TConfig::FileFor(const QString& path)
{
    QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        parts << QStringLiteral("Vorantu");
    if (parts.size() == 1)
        parts << parts.first();
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + parts.join(QLatin1Char('/')) + QStringLiteral(".conf");
}

bool TConfig::Exists(const QString& name) const
{
    return FReg.contains(name);
}

bool TConfig::ReadBoolean(const QString& name, bool defaultValue) const
{
    if (!FReg.contains(name))
        return defaultValue;
    const QString text = StoredText(FReg.value(name)).trimmed();
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok)
        return number != 0;
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

int TConfig::ReadInteger(const QString& name, int defaultValue) const
{
    if (!FReg.contains(name))
        return defaultValue;
    bool ok = false;
    const int number = StoredText(FReg.value(name)).trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

QString TConfig::ReadString(const QString& name, const QString& defaultValue) const
{
    if (!FReg.contains(name))
        return defaultValue;
    return StoredText(FReg.value(name));
}

void TConfig::Flush()
{
    // Written at once, not at exit; a failure leaves the old file in place
    // (QSettings writes through a temporary file) and is deliberately not
    // reported: the setting stays in effect for this run.
    FReg.sync();
}

bool TConfig::WriteBoolean(const QString& name, bool value)
{
    FReg.setValue(name, value ? 1 : 0);
    Flush();
    return value;
}

int TConfig::WriteInteger(const QString& name, int value)
{
    FReg.setValue(name, value);
    Flush();
    return value;
}

QString TConfig::WriteString(const QString& name, const QString& value)
{
    FReg.setValue(name, value);
    Flush();
    return value;
}

int ReadSetting(const TConfig& config, const TSetting<int>& setting)
{
    const QString name = QLatin1String(setting.Name);
    if (!config.Exists(name))
        return setting.Default();
    const int value = config.ReadInteger(name, setting.Default());
    return !setting.Valid || setting.Valid(value) ? value : setting.Default();
}

bool IsValidHotKey(int code)
{
    constexpr int Modifiers = 0x2000 | 0x4000 | 0x8000;
    return (code & 0xFF) != 0 && (code & ~(0xFF | Modifiers)) == 0;
}

bool ReadSetting(const TConfig& config, const TSetting<bool>& setting)
{
    const QString name = QLatin1String(setting.Name);
    return config.Exists(name) ? config.ReadBoolean(name, setting.Default()) : setting.Default();
}

QString ReadSetting(const TConfig& config, const TSetting<QString>& setting)
{
    const QString name = QLatin1String(setting.Name);
    return config.Exists(name) ? config.ReadString(name, QString()) : setting.Default();
}

void WriteSetting(TConfig& config, const TSetting<int>& setting, int value)
{
    config.WriteInteger(QLatin1String(setting.Name), value);
}

void WriteSetting(TConfig& config, const TSetting<bool>& setting, bool value)
{
    config.WriteBoolean(QLatin1String(setting.Name), value);
}

void WriteSetting(TConfig& config, const TSetting<QString>& setting, const QString& value)
{
    config.WriteString(QLatin1String(setting.Name), value);
}

int DefaultRegionLeft()
{
    return (PrimaryScreenExtent(true) - 480) / 2;
}

int DefaultRegionTop()
{
    return (PrimaryScreenExtent(false) - 360) / 2;
}

QString DefaultLanguage()
{
    return GetUserLanguage().left(2);
}

QString DefaultSavePath()
{
    return GetSpecialFolder(CSIDL_DESKTOP);
}

void SetSnippingPrintScreen(int value)
{
    Q_UNUSED(value);
}

QString GetSpecialFolder(int folder)
{
    if (folder != CSIDL_DESKTOP)
        return QString();
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return QDir::cleanPath(desktop);
    return QDir::homePath();
}
