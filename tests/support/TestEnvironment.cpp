#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

TTestEnvironment::TTestEnvironment()
    : FRoot(QDir::tempPath() + QStringLiteral("/vorantu-test-XXXXXX"))
{
    if (!FRoot.isValid())
        qFatal("cannot create the test folder");
    for (const QString& dir : {Home(), ConfigHome(), RuntimeDir(), Desktop()})
        QDir().mkpath(dir);
    QFile::setPermissions(RuntimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", Home().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", ConfigHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", RuntimeDir().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (Root() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (Root() + QStringLiteral("/cache")).toLocal8Bit());
    qunsetenv("XDG_DESKTOP_DIR");
}
