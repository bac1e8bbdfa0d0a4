#pragma once

#include "platform/GlobalHotKey.h"

#include <QDialog>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// The global hot key and the small dialog that picks it. It lives, hidden,
// for the program's whole life: it holds the grab, and each press asks for a
// capture through StartRequested(). The key is stored as "hotkey" in the
// shortcut format of GlobalHotKey.h.
class TFrmHotKey : public QDialog
{
    Q_OBJECT
public:
    TFrmHotKey(std::unique_ptr<TGlobalHotKey> hotKey, QWidget* owner);
    ~TFrmHotKey() override;

    // Grabs the stored key. When another program holds it, reports that and
    // shows the dialog modally at once so the user can pick another key.
    // Where the desktop lets no program take a key, it says once (a desktop
    // notification, until one was shown) how to bind the desktop's own
    // shortcut instead, and opens nothing.
    void Initialize();

    // What the dialog and the notice say where no key can be taken.
    static QString DesktopShortcutText();

    // The key list's text of a shortcut code's key ("PrintScreen", "A", "F5",
    // "DEL", ...); empty for a key the list does not hold.
    static QString KeyText(quint16 code);
    // The key code of a list text (compared without regard to case); 0 when none.
    static quint16 KeyCode(const QString& text);
    static QStringList KeyList();
    // True for a key that types text (a letter or a digit) held with none of
    // Shift, Ctrl and Alt: grabbed for the whole desktop it would turn every
    // such character typed in any program into a capture.
    static bool TypesText(quint16 code);

    int LoadHotKey();
    quint16 GetHotKey() const;
    void SaveHotKey();
    bool RegisterKey(quint16 code);

signals:
    void StartRequested();

private:
    void BtnYesClick();
    void BtnNoClick();
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

    bool CanGrab() const { return !FHotKey || FHotKey->CanGrab(); }
    void NoticeDesktopShortcut();

    std::unique_ptr<TGlobalHotKey> FHotKey;
    QGroupBox* GrpConfig;
    QCheckBox* ChkShift;
    QCheckBox* ChkCtrl;
    QCheckBox* ChkAlt;
    QComboBox* ChkHotKey;
    QPushButton* BtnYes;
    QPushButton* BtnNo;
    QLabel* LblHelp;
};
