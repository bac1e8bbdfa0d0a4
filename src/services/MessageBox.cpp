#include "services/MessageBox.h"

#include <QApplication>

QMessageBox::StandardButton ShowMessageBox(const QString& caption, const QString& text,
                                           TBoxIcon icon, QMessageBox::StandardButtons buttons,
                                           TBoxPlacement placement)
{
    QMessageBox box;
    box.setObjectName(QStringLiteral("VorantuMessageBox"));
    box.setWindowTitle(caption);
    // The texts use CR as their line break; Qt lays out LF.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
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
