#include "capture/web/WebEngine.h"

#include "capture/web/WebBrowser.h"
#include "services/Plugin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QPluginLoader>
#include <unistd.h>

// Qt's own hooks for the application-wide shared OpenGL context; Qt WebEngine
// uses the same pair.
QT_BEGIN_NAMESPACE
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE

namespace {

// The engine shares textures between its contexts and the view's through
// the application's shared OpenGL context, and crashes without one. Qt makes
// that context only for an application started with AA_ShareOpenGLContexts,
// which would load the OpenGL driver at every start (about 60 MB resident
// with a software driver) whether or not a web page is ever shown. So it is
// made here, as Qt would have made it, just before the engine first loads;
// no other OpenGL context exists in the program before then. (The attribute
// itself is not needed once the context exists, and setting it late only
// draws a warning.)
void ShareOpenGLContexts()
{
    if (qt_gl_global_share_context())
        return;
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    if (context->create())
        qt_gl_set_global_share_context(context);
    else
        delete context;
}

bool HasGpuRenderNode()
{
    const QDir dri(QStringLiteral("/dev/dri"));
    const QStringList nodes = dri.entryList({QStringLiteral("renderD*")}, QDir::System);
    for (const QString& node : nodes) {
        if (access(QFile::encodeName(dri.filePath(node)).constData(), R_OK | W_OK) == 0)
            return true;
    }
    return false;
}

void AppendChromiumFlag(const QByteArray& flag)
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.split(' ').contains(flag))
        return;
    if (!flags.isEmpty())
        flags += ' ';
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + flag);
}

// Joins the user's own --disable-features list, if any: of two such
// switches the engine would only keep the last.
void DisableChromiumFeature(const QByteArray& feature)
{
    const QByteArray prefix = "--disable-features=";
    QList<QByteArray> flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ');
    flags.removeAll(QByteArray());
    for (QByteArray& flag : flags) {
        if (flag.startsWith(prefix)) {
            if (!flag.mid(prefix.size()).split(',').contains(feature))
                flag += ',' + feature;
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.join(' '));
            return;
        }
    }
    flags.append(prefix + feature);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.join(' '));
}

TWebEngineFactory* Factory(QString* error)
{
    static TWebEngineFactory* factory = nullptr;
    if (factory)
        return factory;
    ShareOpenGLContexts();
    QStringList failures;
    for (const QString& candidate : WebEnginePluginCandidates()) {
        if (!QFileInfo::exists(candidate))
            continue;
        // The loader is left loaded for the rest of the run: browsers made
        // by the plugin may exist until the application object goes.
        auto* loader = new QPluginLoader(candidate, QCoreApplication::instance());
        QObject* instance = loader->instance();
        if (auto* found = qobject_cast<TWebEngineFactory*>(instance)) {
            factory = found;
            return factory;
        }
        failures << (instance ? QStringLiteral("%1: not a Vorantu web engine").arg(candidate)
                              : loader->errorString());
        delete loader;
    }
    if (error) {
        *error = failures.isEmpty() ? QStringLiteral("\"%1\" not found").arg(WebEnginePluginName())
                                    : failures.join(QLatin1Char('\n'));
    }
    return nullptr;
}

} // namespace

void PrepareWebEngine()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!HasGpuRenderNode())
        AppendChromiumFlag("--disable-gpu");
    DisableChromiumFeature("PaintHolding");
}

QString WebEnginePluginName()
{
    return QStringLiteral(VORANTU_WEBENGINE_FILE_NAME);
}

QStringList WebEnginePluginCandidates()
{
    return PluginCandidates(WebEnginePluginName(), QStringLiteral(VORANTU_WEBENGINE_INSTALL_DIR),
                            QStringLiteral(VORANTU_BUILD_DIR),
                            QStringLiteral(VORANTU_WEBENGINE_BUILD_PATH));
}

TWebBrowser* CreateWebBrowser(QWidget* parent, QString* error)
{
    TWebEngineFactory* factory = Factory(error);
    return factory ? factory->CreateWebBrowser(parent) : nullptr;
}
