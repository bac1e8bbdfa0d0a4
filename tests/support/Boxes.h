#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// Answers the next message box the code under test shows (they are modal and
// would block the test) and remembers what it said.
class TBoxAnswer : public QObject
{
public:
    explicit TBoxAnswer(QMessageBox::StandardButton button = QMessageBox::Ok) : FButton(button)
    {
        FTimer.setInterval(20);
        connect(&FTimer, &QTimer::timeout, this, [this] { Poll(); });
        FTimer.start();
    }

    // Runs while the box is up, before it is answered.
    std::function<void()> OnBox;

    int Count = 0;
    QStringList Texts; // every box's text, in order
    QString Text;      // the last box's
    QString Caption;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;

private:
    void Poll()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            ++Count;
            Texts << box->text();
            Text = box->text();
            Caption = box->windowTitle();
            Icon = box->icon();
            if (OnBox)
                OnBox();
            QAbstractButton* button = box->button(FButton);
            if (button)
                button->click();
            else
                box->reject();
        }
    }

    QMessageBox::StandardButton FButton;
    QTimer FTimer;
};
