#include "app/Main.h"

#include "Version.h"
#include "app/AutoStart.h"
#include "app/ColorCard.h"
#include "app/Controller.h"
#include "app/Feedback.h"
#include "app/Manual.h"
#include "app/ServerDialog.h"
#include "capture/HotKey.h"
#include "capture/Size.h"
#include "platform/Activation.h"
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
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

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
    // Capture comes first, where users of every tray tool look for it; the
    // window's own menu follows unchanged.
    FTrayMenu = new QMenu(this);
    FTrayMenu->setObjectName(QStringLiteral("TrayMenu"));
    NCapture = FTrayMenu->addAction(QStringLiteral("지금 캡쳐"));
    NCapture->setObjectName(QStringLiteral("NCapture"));
    NStopRec = FTrayMenu->addAction(QStringLiteral("녹화 중지"));
    NStopRec->setObjectName(QStringLiteral("NStopRec"));
    NStopRec->setVisible(false);
    FTrayMenu->addSeparator()->setObjectName(QStringLiteral("N20"));
    FTrayMenu->addActions(FControls->Menu->actions());
    FTrayMenu->setToolTipsVisible(true);
    TranslateComponent(FTrayMenu);
    TmrDelay = new QTimer(this);
    TmrDelay->setObjectName(QStringLiteral("TmrDelay"));
    TmrDelay->setInterval(1000);
    // A coarse timer may fire up to 5 % early, every second: a capture
    // announced for three seconds came up to 150 ms before them.
    TmrDelay->setTimerType(Qt::PreciseTimer);
    connect(TmrDelay, &QTimer::timeout, this, &TFrmVorantu::TmrDelayTimer);
    connect(NCapture, &QAction::triggered, this, &TFrmVorantu::NCaptureClick);
    TrayIcon->setContextMenu(FTrayMenu);
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
    FController->EnsureUploadServer = [this] {
        return EnsureUploadServer();
    };
    connect(FController, &TController::RecordingChanged, this, &TFrmVorantu::SetRecordingState);
    connect(NStopRec, &QAction::triggered, this, &TFrmVorantu::RecordStop);
    connect(FControls->N17, &QAction::triggered, this, &TFrmVorantu::N17Click);
    connect(FControls->N18, &QAction::triggered, this, &TFrmVorantu::N18Click);

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

    // With no web service set there is nobody to call: the hint is final now.
    if (!WebServiceSet()) {
        TrayIcon->setToolTip(Translate(windowTitle()) + QLatin1Char(' ') +
                             VersionText(QStringLiteral("%d.%d.%d")));
        return;
    }
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
    if (!WebServiceSet())
        return LocalManualAddress(FControls->Language);
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
    TranslateComponent(FTrayMenu);
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
        ForceForegroundWindow(FFrmHotKey);
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
    FControls->ShowSavePath();
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
    show();
    ForceForegroundWindow(this);
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

// The tray's Capture: the trigger of the hot key, after the chosen delay. A
// running recording stops at once.
void TFrmVorantu::NCaptureClick()
{
    if (IsRecording()) {
        Start();
        return;
    }
    if (TmrDelay->isActive())
        return;
    FDelayLeft = FControls->CaptureDelaySeconds();
    if (FDelayLeft <= 0) {
        // From the event loop, so the menu has left the screen first.
        QTimer::singleShot(0, this, &TFrmVorantu::Start);
        return;
    }
    FTrayHint = TrayIcon->toolTip();
    TrayIcon->setToolTip(Translate(QStringLiteral("%s초 후 캡쳐"))
                             .replace(QLatin1String("%s"), QString::number(FDelayLeft)));
    TmrDelay->start();
}

void TFrmVorantu::TmrDelayTimer()
{
    if (--FDelayLeft > 0) {
        TrayIcon->setToolTip(Translate(QStringLiteral("%s초 후 캡쳐"))
                                 .replace(QLatin1String("%s"), QString::number(FDelayLeft)));
        return;
    }
    TmrDelay->stop();
    TrayIcon->setToolTip(FTrayHint);
    Start();
}

// While a recorder exists the tray icon carries a red dot and its menu
// offers to stop, so a recording with the window hidden is never invisible.
void TFrmVorantu::SetRecordingState(bool recording)
{
    NStopRec->setVisible(recording);
    if (!TrayIcon)
        return;
    if (!recording) {
        TrayIcon->setIcon(windowIcon());
        TrayIcon->setToolTip(FTrayHint);
        return;
    }
    QPixmap icon = windowIcon().pixmap(64, 64);
    {
        QPainter painter(&icon);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 4));
        painter.setBrush(QColor(220, 0, 0));
        painter.drawEllipse(QRect(30, 30, 32, 32));
    }
    TrayIcon->setIcon(QIcon(icon));
    FTrayHint = TrayIcon->toolTip();
    TrayIcon->setToolTip(
        Translate(QStringLiteral("녹화 중 – 트레이 메뉴의 \"녹화 중지\" 또는 단축키로 멈춥니다.")));
}

// The upload server dialog.
void TFrmVorantu::N17Click()
{
    TFrmServer dialog(this);
    dialog.exec();
}

// The manual shipped with the program, whatever service is set.
void TFrmVorantu::N18Click()
{
    ShellOpen(LocalManualAddress(FControls->Language));
}

bool TFrmVorantu::EnsureUploadServer()
{
    if (UploadServerSet())
        return true;
    TFrmServer dialog(this);
    dialog.exec();
    return UploadServerSet();
}
