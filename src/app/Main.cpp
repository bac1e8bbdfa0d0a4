#include "app/Main.h"

#include "Version.h"
#include "app/AutoStart.h"
#include "app/ColorCard.h"
#include "app/Controller.h"
#include "capture/HotKey.h"
#include "capture/Size.h"
#include "platform/NativeWindow.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Text.h"
#include "services/Translate.h"
#include "services/Update.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>

TFrmVorantu::TFrmVorantu(TPlatform& platform, bool install)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FPlatform(platform)
{
    setObjectName(QStringLiteral("FrmVorantu"));
    setWindowTitle(QStringLiteral("Vorantu"));
    setWindowIcon(QIcon(QStringLiteral(":/vorantu.svg")));
    setFixedSize(162, 191);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);

    FControls = new TMainControls(*this, *FPlatform.Screen);
    if (install)
        SetAutoStart(QStringLiteral("Vorantu"), true);
    FControls->LoadConfig();

    TrayIcon = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(QStringLiteral("Vorantu"));
    TrayIcon->setContextMenu(FControls->Menu);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ShowMainWindow();
            });
    TrayIcon->show();

    SetSnippingPrintScreen(0);

    FFrmHotKey =
        new TFrmHotKey(FPlatform.CreateHotKey ? FPlatform.CreateHotKey(nullptr) : nullptr, this);
    connect(FFrmHotKey, &TFrmHotKey::StartRequested, this, &TFrmVorantu::Start);
    // A key that registers is grabbed at once. A conflict shows a box and the
    // key dialog; those wait for the event loop, so that the command socket,
    // opened once the window exists, already answers while they are up.
    const auto stored = quint16(FFrmHotKey->LoadHotKey());
    if (TFrmHotKey::TypesText(stored) || !FFrmHotKey->RegisterKey(stored))
        QMetaObject::invokeMethod(FFrmHotKey, &TFrmHotKey::Initialize, Qt::QueuedConnection);
    FFrmSize = new TFrmSize(this);
    FController = new TController(FPlatform, *FControls, *FFrmSize, *this, *this, *this);

    connect(FControls->ChkArea, &QComboBox::currentIndexChanged, FController,
            &TController::ChkAreaChange);
    connect(FControls, &TMainControls::LanguageChanged, this, &TFrmVorantu::ChkLang);
    connect(FControls, &TMainControls::CopyrightClicked, this, &TFrmVorantu::LblCopyrightClick);
    connect(FControls->BtnOpenDir, &QPushButton::clicked, this, &TFrmVorantu::BtnOpenDirClick);
    connect(FControls->N12, &QAction::triggered, this, &TFrmVorantu::BtnOpenDirClick);
    connect(FControls->N4, &QAction::triggered, this, &TFrmVorantu::N4Click);
    connect(FControls->N1, &QAction::triggered, this, &TFrmVorantu::N1Click);
    connect(FControls->ChkRegStart, &QAction::triggered, this, &TFrmVorantu::ChkRegStartClick);
    connect(FControls->N9, &QAction::triggered, this, &TFrmVorantu::LblCopyrightClick);
    connect(FControls->N10, &QAction::triggered, this, &TFrmVorantu::N10Click);

    FController->ChkAreaChange();
    FControls->ChkSaveToChange();

    // Until the start-up call of the web service has answered (up to six
    // attempts ten seconds apart), the tray hint reads "Vorantu".
    CheckUpdate(
        StartupAddress(),
        [this](bool accepted, const QString&) {
            if (accepted)
                Quit();
            if (TrayIcon)
                TrayIcon->setToolTip(Translate(windowTitle()) + QLatin1Char(' ') +
                                     VersionText(QStringLiteral("%d.%d.%d")));
        },
        0, this);
}

TFrmVorantu::~TFrmVorantu()
{
    if (TrayIcon)
        TrayIcon->hide();
    delete FController;
}

QString TFrmVorantu::Version4()
{
    return QStringLiteral(VORANTU_VERSION);
}

void TFrmVorantu::Start()
{
    FController->Start();
}

void TFrmVorantu::CaptureStart()
{
    FController->CaptureStart();
}

void TFrmVorantu::Capture(QImage& bitmap, QRect& rect)
{
    FController->Capture(bitmap, rect);
}

void TFrmVorantu::CaptureColor()
{
    FControls->Card2->CaptureColor();
}

QString TFrmVorantu::NewFilename(const QString& ext)
{
    return FControls->NewFilename(ext);
}

bool TFrmVorantu::IsRecording() const
{
    return FController && FController->IsRecording();
}

void TFrmVorantu::RecordStop()
{
    FController->RecordStop();
}

void TFrmVorantu::AreaClosed()
{
    FController->AreaClosed();
}

TStatus TFrmVorantu::Status() const
{
    return FController->Status();
}

QString TFrmVorantu::JpegQualityText() const
{
    return FControls->ChkJPEG_qual->currentText();
}

QString TFrmVorantu::WebPQualityText() const
{
    return FControls->ChkWebP_qual->currentText();
}

QString TFrmVorantu::ProductPageAddress() const
{
    return ServiceAddress(QStringLiteral("/vorantu?v=") + Version4());
}

QString TFrmVorantu::HelpPageAddress(const QString& query) const
{
    return FControls->HelpPageAddress(query);
}

void TFrmVorantu::ChkLang()
{
    if (TFrmArea* region = FController->RegionWindow())
        TranslateComponent(region);
    TranslateComponent(FFrmHotKey);
    TranslateComponent(FFrmSize);
    ApplyTitles(Version4());
}

void TFrmVorantu::ApplyTitles(const QString& version)
{
    const QString caption = Translate(windowTitle());
    QGuiApplication::setApplicationDisplayName(caption);
    if (TrayIcon)
        TrayIcon->setToolTip(caption + QLatin1Char(' ') + version);
    setWindowTitle(caption);
}

// Registers or removes the program's start with the desktop session.
void TFrmVorantu::ChkRegStartClick()
{
    const bool enable = FControls->ChkRegStart->isChecked();
    if (!SetAutoStart(QStringLiteral("Vorantu"), enable)) {
        ShowMessageBox(windowTitle(),
                       Translate(QStringLiteral(
                           "잘못된 백신 또는 악성 프로그램이 부팅시 실행을 차단하였습니다.")),
                       TBoxIcon::Error);
        FControls->ChkRegStart->setChecked(false);
    }
}

// Opens the hot key dialog, or brings it forward when it is open already.
void TFrmVorantu::N1Click()
{
    if (FFrmHotKey->isVisible()) {
        FFrmHotKey->raise();
        FFrmHotKey->activateWindow();
    } else {
        FFrmHotKey->exec();
    }
}

// Lets the user choose the save folder and stores it.
void TFrmVorantu::N4Click()
{
    QFileDialog dialog(nullptr, Translate(QStringLiteral("폴더 선택")), FControls->FSavePath);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, Translate(QStringLiteral("선택")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    FControls->FSavePath = QDir::cleanPath(dialog.selectedFiles().first());
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::Path, FControls->FSavePath);
}

// Quits after the user confirms.
void TFrmVorantu::N10Click()
{
    if (ShowMessageBox(QGuiApplication::applicationDisplayName(),
                       Translate(QStringLiteral("정말 종료하시겠습니까?")), TBoxIcon::Question,
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        Quit();
}

// Opens the save folder in the file manager (the button and N12).
void TFrmVorantu::BtnOpenDirClick()
{
    ShellOpen(FControls->FSavePath);
}

void TFrmVorantu::LblCopyrightClick()
{
    ShellOpen(ProductPageAddress());
}

void TFrmVorantu::ShowMainWindow()
{
    if (!FShownOnce) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = frameGeometry();
            frame.moveCenter(WorkArea(screen).center());
            move(frame.topLeft());
        }
    }
    if (QGuiApplication::screens().isEmpty())
        return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TFrmVorantu::showEvent(QShowEvent* event)
{
    FShownOnce = true;
    QWidget::showEvent(event);
}

void TFrmVorantu::HideMainWindow()
{
    hide();
}

void TFrmVorantu::Quit()
{
    FCanClose = true;
    close();
}

void TFrmVorantu::closeEvent(QCloseEvent* event)
{
    if (!FCanClose) {
        HideMainWindow();
        event->ignore();
        return;
    }
    if (IsRecording()) {
        ShowMessageBox(Translate(windowTitle()), Translate(QStringLiteral("녹화중입니다.")),
                       TBoxIcon::Information);
        event->ignore();
        return;
    }
    event->accept();
    if (TrayIcon)
        TrayIcon->hide();
    FFrmHotKey->hide();
    // Leave the event loop once the current handler (maybe a command whose
    // reply is still to be written) has returned.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}
