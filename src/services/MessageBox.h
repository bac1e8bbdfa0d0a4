#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Message boxes as the program shows them: owned by the application (no
// parent window, so a hidden main window does not hide them), raised and
// activated, and by default kept above every other window.
enum class TBoxIcon
{
    Information,
    Error,
    Question
};

enum class TBoxPlacement
{
    TopMost,
    Normal
};

// Shows the box modally and returns the button pressed. With buttons Yes|No
// the default button is No.
QMessageBox::StandardButton ShowMessageBox(const QString& caption, const QString& text,
                                           TBoxIcon icon,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                           TBoxPlacement placement = TBoxPlacement::TopMost);
