#pragma once

#include "platform/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QList>
#include <xcb/xcb.h>

// A passive key grab on the root window of an X11 display.
class TX11GlobalHotKey : public TGlobalHotKey, private QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // `connection` is Qt's own (its events carry the presses) and must
    // outlive this object.
    explicit TX11GlobalHotKey(xcb_connection_t* connection, QObject* parent = nullptr);
    ~TX11GlobalHotKey() override;

    bool Register(quint16 code) override;
    void Unregister() override;

    // The X keysym of a stored code's key; 0 for a key outside the list.
    static quint32 KeySym(quint16 code);

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    xcb_connection_t* FConnection;
    xcb_window_t FRoot;
    xcb_keycode_t FKeyCode = 0;
    quint16 FModifiers = 0;
    // Every modifier bit that is not a lock: what a press must match exactly.
    quint16 FSignificant = 0;
    // The modifier sets grabbed, FModifiers with each combination of locks.
    QList<quint16> FGrabbed;
};
