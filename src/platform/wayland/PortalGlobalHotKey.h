#pragma once

#include "platform/GlobalHotKey.h"

#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>
#include <optional>

// The hot key of a Wayland session, where an X11 grab fires only while an
// X11 window has the focus: one shortcut bound through the desktop portal's
// GlobalShortcuts interface, in a session of its own. Where the portal lacks
// that interface (xdg-desktop-portal before 1.17, or a back end without it)
// CanGrab() is false and nothing is grabbed: the user binds the desktop's own
// shortcut to "vorantuctl capture".
class TPortalGlobalHotKey : public TGlobalHotKey
{
    Q_OBJECT
public:
    explicit TPortalGlobalHotKey(QObject* parent = nullptr);
    ~TPortalGlobalHotKey() override;

    // Asks the portal once, on first use.
    bool CanGrab() const override;
    // Binds `code` as the shortcut's preferred trigger. The desktop may ask
    // the user first (hence the long limit) and may bind another key than
    // the one preferred; what counts is that the shortcut is bound.
    bool Register(quint16 code) override;
    void Unregister() override;

    // The trigger in the shortcut notation of the portal ("CTRL+SHIFT+a",
    // "Print"); empty for a code no key of the stored format maps to.
    static QString Trigger(quint16 code);

    // How long Register waits for the desktop (it may show a dialog).
    static constexpr int BindTimeoutMs = 120000;
    static constexpr int SessionTimeoutMs = 10000;

private slots:
    void OnActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);

private:
    mutable std::optional<bool> FAvailable;
    QString FSession;
};
