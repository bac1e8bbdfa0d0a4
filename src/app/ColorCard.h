#pragma once

#include <QWidget>

class QAction;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class TScreen;

// The colour picker's card: the colour under the mouse cursor, read ten
// times a second while the card shows, and the list of colours taken, each
// drawn beside its own swatch, with a menu to copy or delete one.
// User-interface thread only.
class TColorCard : public QWidget
{
    Q_OBJECT
public:
    // `screen` must outlive the card.
    TColorCard(TScreen& screen, QWidget* parent);

    // Follows the cursor while `active`; stands still otherwise.
    void SetActive(bool active);
    // Puts the colour shown at the top of the list and on the clipboard.
    void CaptureColor();

    QFrame* ShpColor;
    QLabel* LblColor;
    QListWidget* LstColor;
    QTimer* TmrColor;
    QMenu* Pick;
    QAction* N5;
    QAction* N7;

private:
    void TmrColorTimer();
    // Copies the selected colour to the clipboard.
    void N5Click();
    // Deletes the selected colour from the list.
    void N7Click();

    TScreen& FScreen;
};
