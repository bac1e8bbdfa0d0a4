#include "services/MessageBox.h"

#include <QApplication>

namespace {

// A box shows a message, not a log: texts from outside (a program's output,
// a server's reply) can be megabytes on one line, which would give a box
// far larger than the screen with its buttons out of reach.
constexpr qsizetype MaxShownChars = 2000;
constexpr int MaxUnbrokenChars = 100;

QString Presentable(const QString& text)
{
    QString shown =
        text.size() > MaxShownChars ? text.left(MaxShownChars) + QStringLiteral(" [...]") : text;
    // The texts use CR as their line break; Qt lays out LF.
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Offer a break (a zero-width space) inside runs with no space, so a
    // long path or token wraps instead of widening the box.
    QString wrapped;
    wrapped.reserve(shown.size() + shown.size() / MaxUnbrokenChars);
    int run = 0;
    for (const QChar c : std::as_const(shown)) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > MaxUnbrokenChars) {
            wrapped.append(QChar(0x200B));
            run = 1;
        }
        wrapped.append(c);
    }
    return wrapped;
}

} // namespace

QMessageBox::StandardButton ShowMessageBox(const QString& caption, const QString& text,
                                           TBoxIcon icon, QMessageBox::StandardButtons buttons,
                                           TBoxPlacement placement)
{
    QMessageBox box;
    box.setObjectName(QStringLiteral("VorantuMessageBox"));
    box.setWindowTitle(caption);
    box.setText(Presentable(text));
    box.setStandardButtons(buttons);
    switch (icon) {
    case TBoxIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case TBoxIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case TBoxIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (buttons.testFlag(QMessageBox::No))
        box.setDefaultButton(QMessageBox::No);
    if (placement == TBoxPlacement::TopMost)
        box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.show();
    box.raise();
    box.activateWindow();
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
