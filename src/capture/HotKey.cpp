#include "capture/HotKey.h"

#include "platform/Notifications.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Translate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

struct TKeyName
{
    quint16 Code;
    const char* Text;
};

QList<TKeyName> KeyNames()
{
    QList<TKeyName> names;
    names.append({HotKeyCode::PrintScreen, "PrintScreen"});
    static const char* const letters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",
                                          "J", "K", "L", "M", "N", "O", "P", "Q", "R",
                                          "S", "T", "U", "V", "W", "X", "Y", "Z"};
    for (int i = 0; i < 26; ++i)
        names.append({quint16(0x41 + i), letters[i]});
    static const char* const digits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    for (int i = 1; i <= 9; ++i)
        names.append({quint16(0x30 + i), digits[i]});
    names.append({0x30, "0"});
    static const char* const functions[] = {"F1", "F2", "F3", "F4",  "F5",  "F6",
                                            "F7", "F8", "F9", "F10", "F11", "F12"};
    for (int i = 0; i < 12; ++i)
        names.append({quint16(0x70 + i), functions[i]});
    names.append({HotKeyCode::Delete, "DEL"});
    return names;
}

} // namespace

QStringList TFrmHotKey::KeyList()
{
    QStringList list;
    for (const TKeyName& name : KeyNames())
        list << QLatin1String(name.Text);
    return list;
}

QString TFrmHotKey::KeyText(quint16 code)
{
    const quint16 key = code & HotKeyCode::KeyMask;
    for (const TKeyName& name : KeyNames()) {
        if (name.Code == key)
            return QLatin1String(name.Text);
    }
    return QString();
}

bool TFrmHotKey::TypesText(quint16 code)
{
    if (code & (HotKeyCode::Shift | HotKeyCode::Ctrl | HotKeyCode::Alt))
        return false;
    const quint16 key = code & HotKeyCode::KeyMask;
    return (key >= 0x41 && key <= 0x5A) || (key >= 0x30 && key <= 0x39);
}

quint16 TFrmHotKey::KeyCode(const QString& text)
{
    for (const TKeyName& name : KeyNames()) {
        if (text.compare(QLatin1String(name.Text), Qt::CaseInsensitive) == 0)
            return name.Code;
    }
    return 0;
}

TFrmHotKey::TFrmHotKey(std::unique_ptr<TGlobalHotKey> hotKey, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint),
      FHotKey(std::move(hotKey))
{
    setObjectName(QStringLiteral("FrmHotKey"));
    setWindowTitle(QStringLiteral("단축키 설정"));
    setFixedSize(299, 121);
    setModal(true);

    GrpConfig = new QGroupBox(QStringLiteral("설정"), this);
    GrpConfig->setObjectName(QStringLiteral("GrpConfig"));
    GrpConfig->setGeometry(8, 6, 283, 64);
    ChkShift = new QCheckBox(QStringLiteral("Shift"), GrpConfig);
    ChkShift->setObjectName(QStringLiteral("ChkShift"));
    ChkShift->setGeometry(12, 26, 56, 22);
    ChkCtrl = new QCheckBox(QStringLiteral("Ctrl"), GrpConfig);
    ChkCtrl->setObjectName(QStringLiteral("ChkCtrl"));
    ChkCtrl->setGeometry(72, 26, 50, 22);
    ChkAlt = new QCheckBox(QStringLiteral("Alt"), GrpConfig);
    ChkAlt->setObjectName(QStringLiteral("ChkAlt"));
    ChkAlt->setGeometry(126, 26, 44, 22);
    ChkHotKey = new QComboBox(GrpConfig);
    ChkHotKey->setObjectName(QStringLiteral("ChkHotKey"));
    ChkHotKey->setGeometry(174, 24, 97, 26);
    ChkHotKey->addItems(KeyList());
    ChkHotKey->setMaxVisibleItems(16);

    BtnYes = new QPushButton(QStringLiteral("확인"), this);
    BtnYes->setObjectName(QStringLiteral("BtnYes"));
    BtnYes->setGeometry(134, 82, 75, 28);
    BtnYes->setDefault(true);
    BtnNo = new QPushButton(QStringLiteral("취소"), this);
    BtnNo->setObjectName(QStringLiteral("BtnNo"));
    BtnNo->setGeometry(216, 82, 75, 28);
    // For desktops that keep the wanted key for themselves: their own
    // keyboard settings can run the command-line client instead.
    LblHelp = new QLabel(QStringLiteral("단축키 대신 데스크톱의 키보드 설정에서 \"vorantuctl "
                                        "capture\" 명령을 키에 지정할 수도 있습니다."),
                         this);
    LblHelp->setObjectName(QStringLiteral("LblHelp"));
    LblHelp->setWordWrap(true);
    LblHelp->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LblHelp->setGeometry(8, 118, 283, 44);
    setFixedSize(299, 166);
    if (!CanGrab()) {
        // Nothing to pick here: the key is the desktop's to bind.
        GrpConfig->setEnabled(false);
        LblHelp->setText(DesktopShortcutText());
        LblHelp->setGeometry(8, 118, 283, 96);
        setFixedSize(299, 222);
    }

    connect(BtnYes, &QPushButton::clicked, this, &TFrmHotKey::BtnYesClick);
    connect(BtnNo, &QPushButton::clicked, this, &TFrmHotKey::BtnNoClick);

    if (FHotKey)
        connect(FHotKey.get(), &TGlobalHotKey::Activated, this, &TFrmHotKey::StartRequested);

    TranslateComponent(this);
}

TFrmHotKey::~TFrmHotKey()
{
    if (FHotKey)
        FHotKey->Unregister();
}

QString TFrmHotKey::DesktopShortcutText()
{
    return QStringLiteral(
        "이 데스크톱에서는 프로그램이 단축키를 직접 등록할 수 없습니다. 데스크톱의 "
        "키보드 설정에서 원하는 키에 \"vorantuctl capture\" 명령을 지정하면 "
        "그 키로 캡쳐합니다.");
}

void TFrmHotKey::NoticeDesktopShortcut()
{
    TConfig config(ProgramConfigPath);
    if (ReadSetting(config, Setting::ShortcutNotice))
        return;
    // Counted as given only once a notification service showed it, so a
    // session whose service is not up yet hears it next time.
    auto* notifications = new TNotifications(this);
    connect(notifications, &TNotifications::Shown, this, [notifications] {
        TConfig shown(ProgramConfigPath);
        WriteSetting(shown, Setting::ShortcutNotice, true);
        notifications->deleteLater();
    });
    connect(notifications, &TNotifications::Failed, notifications, &QObject::deleteLater);
    notifications->Show(Translate(windowTitle()), Translate(DesktopShortcutText()));
}

void TFrmHotKey::Initialize()
{
    if (!CanGrab()) {
        NoticeDesktopShortcut();
        return;
    }
    const quint16 stored = quint16(LoadHotKey());
    if (TypesText(stored)) {
        // Left ungrabbed: the user is told why and picks another key, as for
        // a key another program holds.
        if (FHotKey)
            FHotKey->Unregister();
        ShowMessageBox(Translate(windowTitle()),
                       Translate(QStringLiteral("저장된 단축키 \"%s\"는 입력하는 글자마다 "
                                                "캡쳐하게 되므로 사용하지 않았습니다.\n\n"
                                                "단축키를 변경해주세요."))
                           .replace(QLatin1String("%s"), KeyText(stored)),
                       TBoxIcon::Error, QMessageBox::Ok, TBoxPlacement::Normal);
        exec();
        return;
    }
    if (RegisterKey(stored))
        return;
    ShowMessageBox(
        Translate(windowTitle()),
        Translate(QStringLiteral("알수없는 프로그램이 단축키를 사용중입니다.\\n\\n단축키를 "
                                 "변경해주세요.")),
        TBoxIcon::Error, QMessageBox::Ok, TBoxPlacement::Normal);
    exec();
}

int TFrmHotKey::LoadHotKey()
{
    const int code = ReadSetting(TConfig(ProgramConfigPath), Setting::HotKey);
    ChkHotKey->setCurrentIndex(ChkHotKey->findText(KeyText(quint16(code)), Qt::MatchFixedString));
    ChkAlt->setChecked(code & HotKeyCode::Alt);
    ChkCtrl->setChecked(code & HotKeyCode::Ctrl);
    ChkShift->setChecked(code & HotKeyCode::Shift);
    return code;
}

quint16 TFrmHotKey::GetHotKey() const
{
    quint16 code = KeyCode(ChkHotKey->currentText());
    if (ChkAlt->isChecked())
        code |= HotKeyCode::Alt;
    if (ChkCtrl->isChecked())
        code |= HotKeyCode::Ctrl;
    if (ChkShift->isChecked())
        code |= HotKeyCode::Shift;
    return code;
}

void TFrmHotKey::SaveHotKey()
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::HotKey, GetHotKey());
}

bool TFrmHotKey::RegisterKey(quint16 code)
{
    if (!FHotKey || !FHotKey->CanGrab())
        return false;
    // Release first, so a refused key leaves no hot key at all rather than
    // the old one.
    FHotKey->Unregister();
    return FHotKey->Register(code);
}

void TFrmHotKey::BtnYesClick()
{
    if (!CanGrab()) {
        done(QDialog::Accepted);
        return;
    }
    if (TypesText(GetHotKey())) {
        ShowMessageBox(Translate(windowTitle()),
                       Translate(QStringLiteral("글자나 숫자 키는 Shift, Ctrl 또는 Alt와 함께 "
                                                "사용해야 합니다.\n\n그렇지 않으면 입력하는 "
                                                "글자마다 캡쳐됩니다.")),
                       TBoxIcon::Information);
        return;
    }
    if (RegisterKey(GetHotKey())) {
        SaveHotKey();
        done(QDialog::Accepted);
        return;
    }
    ShowMessageBox(Translate(windowTitle()),
                   Translate(QStringLiteral("단축키가 다른 프로그램에서 사용중입니다.")),
                   TBoxIcon::Information);
}

void TFrmHotKey::BtnNoClick()
{
    if (!CanGrab()) {
        done(QDialog::Rejected);
        return;
    }
    const quint16 stored = quint16(LoadHotKey());
    if (TypesText(stored) || !RegisterKey(stored)) {
        if (FHotKey)
            FHotKey->Unregister();
        ShowMessageBox(
            Translate(windowTitle()),
            Translate(QStringLiteral("단축키가 설정되지 못해 캡쳐기능이 작동하지 않습니다.")),
            TBoxIcon::Error);
    }
    done(QDialog::Rejected);
}

void TFrmHotKey::reject()
{
    // Escape and the close button behave as Cancel: the stored key comes back.
    BtnNoClick();
}

void TFrmHotKey::closeEvent(QCloseEvent* event)
{
    event->ignore();
    BtnNoClick();
}
