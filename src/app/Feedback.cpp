#include "app/Feedback.h"

#include "platform/Notifications.h"
#include "services/Config.h"
#include "services/Text.h"
#include "services/Translate.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

TFeedback::TFeedback(QObject* parent) : QObject(parent), FNotifications(new TNotifications(this)) {}

bool TFeedback::Enabled() const
{
    return ReadSetting(TConfig(ProgramConfigPath), Setting::Notify);
}

void TFeedback::ShowFile(const QString& fileName, const QString& body, const QImage& picture)
{
    const QFileInfo file(fileName);
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    FNotifications->Show(file.fileName(), body.isEmpty() ? folder : body, picture,
                         {{Translate(QStringLiteral("폴더열기")), [folder] {
                               ShellOpen(folder);
                           }}});
}

void TFeedback::Saved(const QString& fileName, const QImage& picture)
{
    if (Enabled())
        ShowFile(fileName, QString(), picture);
}

void TFeedback::Copied(const QImage& picture)
{
    if (Enabled())
        FNotifications->Show(Translate(QStringLiteral("클립보드에 복사했습니다.")), QString(),
                             picture);
}

void TFeedback::Printed(const QImage& picture)
{
    if (Enabled())
        FNotifications->Show(Translate(QStringLiteral("프린터로 보냈습니다.")), QString(), picture);
}

void TFeedback::Uploaded(const QString& link, const QImage& picture)
{
    if (!Enabled())
        return;
    FNotifications->Show(Translate(QStringLiteral("업로드했습니다.")), link, picture,
                         {{Translate(QStringLiteral("링크 복사")), [link] {
                               QGuiApplication::clipboard()->setText(link);
                           }}});
}

void TFeedback::Recognised(const QString& fileName, const QString& text)
{
    if (!Enabled())
        return;
    QString firstLine;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        firstLine = line.trimmed();
        if (!firstLine.isEmpty())
            break;
    }
    if (firstLine.isEmpty())
        firstLine = Translate(QStringLiteral("(인식된 글자가 없습니다)"));
    ShowFile(fileName, firstLine, QImage());
}

void TFeedback::Recorded(const QString& fileName, const QString& length)
{
    if (!Enabled())
        return;
    const QFileInfo file(fileName);
    ShowFile(fileName,
             Translate(QStringLiteral("길이 %s")).replace(QLatin1String("%s"), length) +
                 QLatin1Char('\n') + QDir::toNativeSeparators(file.absolutePath()),
             QImage());
}
