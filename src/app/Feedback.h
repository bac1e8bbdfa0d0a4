#pragma once

#include <QImage>
#include <QObject>
#include <QString>

class TNotifications;

// What the user is told once a capture is done, as a desktop notification,
// while the capture settings' "Notifications" item is ticked. It never
// waits and never fails a capture: without a notification service nothing
// is shown. User-interface thread only.
class TFeedback : public QObject
{
    Q_OBJECT
public:
    explicit TFeedback(QObject* parent = nullptr);

    // A picture written to `fileName`; the notification offers its folder.
    void Saved(const QString& fileName, const QImage& picture);
    void Copied(const QImage& picture);
    void Printed(const QImage& picture);
    // The notification offers to copy `link`, also on a click.
    void Uploaded(const QString& link, const QImage& picture);
    void Recognised(const QString& fileName, const QString& text);
    void Recorded(const QString& fileName, const QString& length);

    TNotifications* Notifications() const { return FNotifications; }

private:
    bool Enabled() const;
    void ShowFile(const QString& fileName, const QString& body, const QImage& picture);

    TNotifications* FNotifications;
};
