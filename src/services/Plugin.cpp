#include "services/Plugin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>
#include <memory>
#include <mutex>
#include <vector>

QStringList PluginCandidates(const QString& fileName, const QString& installDir,
                             const QString& buildDir, const QString& buildPath)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    QStringList candidates = {
        programDir + QLatin1Char('/') + fileName,
        QDir::cleanPath(programDir + QLatin1Char('/') + installDir + QLatin1Char('/') + fileName)};
    if (programDir.startsWith(QDir::cleanPath(buildDir) + QLatin1Char('/')))
        candidates << buildPath;
    return candidates;
}

QFunctionPointer ResolvePluginEntry(const QStringList& candidates, const char* symbol,
                                    const QString& fileName, QString& error)
{
    static std::mutex mutex;
    static QHash<QByteArray, QFunctionPointer> resolved;
    // Destroying a QLibrary does not unload it; the ones that loaded stay
    // owned here.
    static std::vector<std::unique_ptr<QLibrary>> loaded;
    const std::lock_guard lock(mutex);
    if (const QFunctionPointer entry = resolved.value(symbol))
        return entry;
    QStringList failures;
    for (const QString& candidate : candidates) {
        if (!QFileInfo::exists(candidate))
            continue;
        auto library = std::make_unique<QLibrary>(candidate);
        if (const QFunctionPointer entry = library->resolve(symbol)) {
            resolved.insert(symbol, entry);
            loaded.push_back(std::move(library));
            return entry;
        }
        failures << library->errorString();
    }
    error = failures.isEmpty() ? QStringLiteral("\"%1\" not found").arg(fileName)
                               : failures.join(QLatin1Char('\n'));
    return nullptr;
}
