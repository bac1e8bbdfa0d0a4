#include "app/AutoStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString AutoStartFile(const QString& name)
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QString QuoteExecArgument(const QString& path)
{
    // Inside the quotes ", `, $ and \ take a backslash; the file's own string
    // escaping then doubles every backslash, and % is a field code unless
    // doubled.
    QString quoted;
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\") + c;
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("%%");
        else
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool SetAutoStart(const QString& name, bool enable)
{
    const QString file = AutoStartFile(name);
    if (!enable) {
        QFile::remove(file);
        return true;
    }
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    const QString exec =
        QuoteExecArgument(QCoreApplication::applicationFilePath()) + QStringLiteral(" /start");
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=") + name + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + exec + QLatin1Char('\n');
    // Once the program is removed the entry stays in the user's folder
    // (removal reaches into no home); desktops skip an entry whose TryExec
    // is gone instead of failing to start it at every log-in.
    QString program = QCoreApplication::applicationFilePath();
    program.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text += QStringLiteral("TryExec=") + program + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(text.toUtf8());
    return out.commit();
}

bool IsAutoStart(const QString& name)
{
    if (!QFileInfo::exists(AutoStartFile(name)))
        return false;
    SetAutoStart(name, true);
    return true;
}
