#include "capture/web/WebBrowser.h"
#include "capture/web/engine/EngineBrowser.h"

#include <QObject>

// The plugin's entry: the one object the program's loader asks for.
class TWebEnginePlugin : public QObject, public TWebEngineFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TWebEngineFactory_iid)
    Q_INTERFACES(TWebEngineFactory)
public:
    TWebBrowser* CreateWebBrowser(QWidget* parent) override { return new TEngineBrowser(parent); }
};

#include "EnginePlugin.moc"
