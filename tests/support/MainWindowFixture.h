#pragma once

#include "TestEnvironment.h"
#include "app/Main.h"
#include "services/Config.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <functional>
#include <memory>

// The main window as the program makes it, for the tests that drive it: it
// saves into "shots" under the test's private home, with the quiet sound
// setting. A test class derives from it beside QObject.
class TMainWindowFixture
{
protected:
    // Writes the settings every such test shares, then `more`, and makes the window.
    void MakeMainWindow(const std::function<void(TConfig&)>& more = {})
    {
        FSave = QDir::homePath() + "/shots";
        QDir().mkpath(FSave);
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::Path, FSave);
        WriteSetting(config, Setting::Sound, 1);
        // Notifications would cover parts of the screen the tests compare.
        WriteSetting(config, Setting::Notify, false);
        if (more)
            more(config);
        FPlatform = LoadPlatform();
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
    }

    template <typename T> T* Find(const char* name) const
    {
        T* child = FWindow->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no component %s", name);
        return child;
    }

    // The settings file as it stands on disk.
    static QString ConfigText()
    {
        QFile file(TConfig::FileFor(ProgramConfigPath));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    TPlatform FPlatform;
    std::unique_ptr<TFrmVorantu> FWindow;
    QString FSave;
};
