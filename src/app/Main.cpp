#include "app/Main.h"

#include "app/AutoStart.h"
#include "capture/Capture.h"
#include "capture/Drag.h"
#include "capture/HotKey.h"
#include "capture/Line.h"
#include "capture/Size.h"
#include "capture/web/IExplorer.h"
#include "output/Save.h"
#include "output/Upload.h"
#include "output/ocr/ScaleBox.h"
#include "record/Recorder.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Text.h"
#include "services/Translate.h"
#include "services/Update.h"
#include "services/Wait.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTimer>
#include <exception>
#include <nlohmann/json.hpp>

namespace {

const QStringList AreaItems = {
    QStringLiteral("전체화면 캡쳐"),      QStringLiteral("영역화면 캡쳐"),
    QStringLiteral("드래그영역 캡쳐"),    QStringLiteral("활성중인 화면 캡쳐"),
    QStringLiteral("윈도우 컨트롤 캡쳐"), QStringLiteral("웹페이지 캡쳐"),
    QStringLiteral("색상 추출")};

const QStringList SaveToItems = {
    QStringLiteral("PNG"),    QStringLiteral("JPG"),      QStringLiteral("GIF"),
    QStringLiteral("BMP"),    QStringLiteral("WebP"),     QStringLiteral("MP4(동영상)"),
    QStringLiteral("TXT"),    QStringLiteral("클립보드"), QStringLiteral("이미지창고"),
    QStringLiteral("프린터"), QStringLiteral("플러팅")};

const QStringList QualityItems = {"100", "90", "80", "70", "60"};

const QString CreditLine = QStringLiteral("ⓒ Vorantu 개발자");

// The colour list's rows: the colour text with its own swatch.
class TColorItemDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const QRect r = option.rect;
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(r, selected ? QColor(0x33, 0x99, 0xFF) : QColor(Qt::white));
        painter->setPen(selected ? Qt::white : Qt::black);
        const QString text = index.data().toString();
        painter->drawText(QRect(20, r.top(), r.width() - 20, r.height()),
                          Qt::AlignLeft | Qt::AlignTop, text);
        const QRect swatch(QPoint(r.left() + 2, r.top() + 2), QPoint(15, r.bottom() - 2));
        const QColor colour(QStringLiteral("#") + text);
        painter->fillRect(swatch, colour.isValid() ? colour : QColor(Qt::white));
        painter->setPen(Qt::black);
        painter->drawRect(swatch);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 15);
    }
};

// The recording card: a red circle with its two labels on white.
class TRecordingCard : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), Qt::white);
        painter.setBrush(QColor(Qt::red));
        painter.setPen(Qt::NoPen);
        const int side = qMin(width(), height());
        painter.drawEllipse(QRect((width() - side) / 2, (height() - side) / 2, side, side));
    }
};

QAction* AddCheckItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    action->setCheckable(true);
    return action;
}

QAction* AddItem(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QMenu* AddSubMenu(QMenu* menu, const char* name, const QString& caption)
{
    QMenu* sub = menu->addMenu(caption);
    sub->setObjectName(QLatin1String(name));
    sub->menuAction()->setObjectName(QLatin1String(name));
    return sub;
}

int QualityOf(const QComboBox* selector)
{
    bool ok = false;
    const int quality = selector->currentText().toInt(&ok);
    return ok ? quality : 90;
}

} // namespace

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

    BuildControls();
    BuildMenu();

    PnlMain->setCurrentWidget(Card1);
    if (install)
        SetAutoStart(QStringLiteral("Vorantu"), true);
    LoadConfig();

    TrayIcon = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(QStringLiteral("Vorantu"));
    TrayIcon->setContextMenu(Menu);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ShowMainWindow();
            });
    TrayIcon->show();

    FCapture = std::make_unique<TCapture>(*FPlatform.Screen, *FPlatform.Windows);
    FloatList = std::make_unique<TFloatList>(*this);
    FStatus = stIdle;
    FCanClose = false;

    SetSnippingPrintScreen(0);

    FFrmHotKey =
        new TFrmHotKey(FPlatform.CreateHotKey ? FPlatform.CreateHotKey(nullptr) : nullptr, this);
    connect(FFrmHotKey, &TFrmHotKey::StartRequested, this, &TFrmVorantu::Start);
    FFrmHotKey->Initialize();
    FFrmSize = new TFrmSize(this);

    ChkAreaChange();
    ChkSaveToChange();

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
    if (FFrmLine)
        delete FFrmLine.data();
    if (FFrmIExplorer) {
        const QSignalBlocker blocker(FFrmIExplorer.data());
        delete FFrmIExplorer.data();
    }
    FFrmArea.reset();
    FloatList.reset();
}

QString TFrmVorantu::Version4()
{
    return QStringLiteral(VORANTU_VERSION);
}

QString TFrmVorantu::Version3()
{
    return Version4().section(QLatin1Char('.'), 0, 2);
}

QString TFrmVorantu::Caption() const
{
    return windowTitle();
}

void TFrmVorantu::BuildControls()
{
    LblArea = new QLabel(QStringLiteral("캡쳐영역"), this);
    LblArea->setObjectName(QStringLiteral("LblArea"));
    LblArea->setGeometry(8, 8, 146, 17);

    ChkArea = new QComboBox(this);
    ChkArea->setObjectName(QStringLiteral("ChkArea"));
    ChkArea->setGeometry(9, 29, 145, 24);
    ChkArea->addItems(AreaItems);

    PnlMain = new QStackedWidget(this);
    PnlMain->setObjectName(QStringLiteral("PnlMain"));
    PnlMain->setGeometry(8, 60, 145, 96);

    Card1 = new QWidget(PnlMain);
    Card1->setObjectName(QStringLiteral("Card1"));
    LblSaveTo = new QLabel(QStringLiteral("저장형식"), Card1);
    LblSaveTo->setObjectName(QStringLiteral("LblSaveTo"));
    LblSaveTo->setGeometry(0, 0, 145, 17);
    ChkSaveTo = new QComboBox(Card1);
    ChkSaveTo->setObjectName(QStringLiteral("ChkSaveTo"));
    ChkSaveTo->setGeometry(0, 21, 145, 24);
    ChkSaveTo->addItems(SaveToItems);
    ChkJPEG_qual = new QComboBox(Card1);
    ChkJPEG_qual->setObjectName(QStringLiteral("ChkJPEG_qual"));
    ChkJPEG_qual->setGeometry(88, 21, 57, 24);
    ChkJPEG_qual->addItems(QualityItems);
    ChkJPEG_qual->hide();
    ChkWebP_qual = new QComboBox(Card1);
    ChkWebP_qual->setObjectName(QStringLiteral("ChkWebP_qual"));
    ChkWebP_qual->setGeometry(88, 21, 57, 24);
    ChkWebP_qual->addItems(QualityItems);
    ChkWebP_qual->hide();
    ChkOCR_lang = new QComboBox(Card1);
    ChkOCR_lang->setObjectName(QStringLiteral("ChkOCR_lang"));
    ChkOCR_lang->setGeometry(78, 21, 67, 24);
    ChkOCR_lang->hide();
    BtnOpenDir = new QPushButton(QStringLiteral("폴더열기"), Card1);
    BtnOpenDir->setObjectName(QStringLiteral("BtnOpenDir"));
    BtnOpenDir->setGeometry(0, 63, 145, 33);
    PnlMain->addWidget(Card1);

    Card2 = new QWidget(PnlMain);
    Card2->setObjectName(QStringLiteral("Card2"));
    ShpColor = new QFrame(Card2);
    ShpColor->setObjectName(QStringLiteral("ShpColor"));
    ShpColor->setGeometry(0, 0, 15, 15);
    ShpColor->setFrameShape(QFrame::Box);
    ShpColor->setAutoFillBackground(true);
    LblColor = new QLabel(QStringLiteral("FFFFFF"), Card2);
    LblColor->setObjectName(QStringLiteral("LblColor"));
    LblColor->setGeometry(23, 0, 120, 15);
    LstColor = new QListWidget(Card2);
    LstColor->setObjectName(QStringLiteral("LstColor"));
    LstColor->setGeometry(0, 21, 145, 75);
    LstColor->setItemDelegate(new TColorItemDelegate(LstColor));
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPointSize(9);
    LstColor->setFont(mono);
    LstColor->setUniformItemSizes(true);
    LstColor->setContextMenuPolicy(Qt::CustomContextMenu);
    PnlMain->addWidget(Card2);

    Card3 = new QWidget(PnlMain);
    Card3->setObjectName(QStringLiteral("Card3"));
    ShpRec = new TRecordingCard(Card3);
    ShpRec->setObjectName(QStringLiteral("ShpRec"));
    ShpRec->setGeometry(0, 0, 145, 96);
    Label1 = new QLabel(QStringLiteral("녹화중"), ShpRec);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 28, 145, 17);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setStyleSheet(QStringLiteral("color: yellow; font-weight: bold;"));
    LvlRecTime = new QLabel(QStringLiteral("00:00:00.00"), ShpRec);
    LvlRecTime->setObjectName(QStringLiteral("LvlRecTime"));
    LvlRecTime->setGeometry(0, 50, 145, 17);
    LvlRecTime->setAlignment(Qt::AlignCenter);
    LvlRecTime->setStyleSheet(QStringLiteral("color: white;"));
    PnlMain->addWidget(Card3);

    LblCopyright = new QLabel(CreditLine, this);
    LblCopyright->setObjectName(QStringLiteral("LblCopyright"));
    LblCopyright->setGeometry(8, 168, 146, 17);
    LblCopyright->setAlignment(Qt::AlignCenter);
    LblCopyright->setStyleSheet(QStringLiteral("color: blue;"));
    LblCopyright->setCursor(Qt::PointingHandCursor);

    TmrColor = new QTimer(this);
    TmrColor->setObjectName(QStringLiteral("TmrColor"));
    TmrColor->setInterval(100);
    connect(TmrColor, &QTimer::timeout, this, &TFrmVorantu::TmrColorTimer);
    FRtOcr = new TRtOcr(this);
    FRtOcr->setObjectName(QStringLiteral("RtOcr"));
    TmrRec = new QTimer(this);
    TmrRec->setObjectName(QStringLiteral("TmrRec"));
    TmrRec->setInterval(100);
    connect(TmrRec, &QTimer::timeout, this, &TFrmVorantu::TmrRecTimer);

    connect(ChkArea, &QComboBox::currentIndexChanged, this, &TFrmVorantu::ChkAreaChange);
    connect(ChkSaveTo, &QComboBox::currentIndexChanged, this, &TFrmVorantu::ChkSaveToChange);
    connect(ChkJPEG_qual, &QComboBox::currentIndexChanged, this,
            [this](int index) { SaveConfig(QStringLiteral("jpeg_quality"), index); });
    connect(ChkWebP_qual, &QComboBox::currentIndexChanged, this,
            [this](int index) { SaveConfig(QStringLiteral("webp_quality"), index); });
    connect(ChkOCR_lang, &QComboBox::currentIndexChanged, this,
            [this](int index) { SaveConfig(QStringLiteral("language_ocr"), index); });
    connect(BtnOpenDir, &QPushButton::clicked, this, &TFrmVorantu::BtnOpenDirClick);
    connect(LstColor, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { Pick->popup(LstColor->viewport()->mapToGlobal(at)); });

    // A right click on the background or a label opens the menu; a left
    // click on the credit line opens the product page.
    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(LblArea),
                       static_cast<QWidget*>(LblCopyright), Card1, static_cast<QWidget*>(LblSaveTo),
                       Card2, static_cast<QWidget*>(LblColor), static_cast<QWidget*>(ShpColor),
                       ShpRec, static_cast<QWidget*>(Label1), static_cast<QWidget*>(LvlRecTime)})
        w->installEventFilter(this);
}

void TFrmVorantu::BuildMenu()
{
    Menu = new QMenu(this);
    Menu->setObjectName(QStringLiteral("Menu"));
    N12 = AddItem(Menu, "N12", QStringLiteral("저장폴더 열기"));
    N4 = AddItem(Menu, "N4", QStringLiteral("저장폴더 설정"));

    QMenu* n14 = AddSubMenu(Menu, "N14", QStringLiteral("캡쳐 설정"));
    QMenu* n3 = AddSubMenu(n14, "N3", QStringLiteral("캡쳐 소리"));
    ChkSound1 = AddCheckItem(n3, "ChkSound1", QStringLiteral("없음"));
    ChkSound2 = AddCheckItem(n3, "ChkSound2", QStringLiteral("캡쳐 전 소리"));
    ChkSound3 = AddCheckItem(n3, "ChkSound3", QStringLiteral("캡쳐 후 소리"));
    ChkMouse = AddCheckItem(n14, "ChkMouse", QStringLiteral("마우스 커서 포함"));
    ChkAutoCopy = AddCheckItem(n14, "ChkAutoCopy", QStringLiteral("클립보드 자동복사"));

    QMenu* n6 = AddSubMenu(Menu, "N6", QStringLiteral("녹화 설정"));
    QMenu* n13 = AddSubMenu(n6, "N13", QStringLiteral("최대 녹화시간"));
    RecLimitItems << AddCheckItem(n13, "ChkRecLimit0", QStringLiteral("무제한"));
    n13->addSeparator()->setObjectName(QStringLiteral("N15"));
    RecLimitItems << AddCheckItem(n13, "ChkRecLimit30", QStringLiteral("30분"))
                  << AddCheckItem(n13, "ChkRecLimit60", QStringLiteral("1시간"))
                  << AddCheckItem(n13, "ChkRecLimit120", QStringLiteral("2시간"))
                  << AddCheckItem(n13, "ChkRecLimit240", QStringLiteral("4시간"));
    ChkMouse_Rec = AddCheckItem(n6, "ChkMouse_Rec", QStringLiteral("마우스 커서 포함"));
    ChkAudio = AddCheckItem(n6, "ChkAudio", QStringLiteral("사운드 포함"));
    ChkLog = AddCheckItem(n6, "ChkLog", QStringLiteral("로그 기록"));

    QMenu* n11 = AddSubMenu(Menu, "N11", QStringLiteral("언어 설정"));
    LangItems << AddCheckItem(n11, "ChkLangKo", QStringLiteral("한국어"))
              << AddCheckItem(n11, "ChkLangEn", QStringLiteral("English"))
              << AddCheckItem(n11, "ChkLangJa", QStringLiteral("日本語"))
              << AddCheckItem(n11, "ChkLangRu", QStringLiteral("русский"))
              << AddCheckItem(n11, "ChkLangIt", QStringLiteral("Italiano"))
              << AddCheckItem(n11, "ChkLangFr", QStringLiteral("Français"))
              << AddCheckItem(n11, "ChkLangZh", QStringLiteral("中文"));

    QMenu* n2 = AddSubMenu(Menu, "N2", QStringLiteral("파일명 설정"));
    ChkAppend1 = AddCheckItem(n2, "ChkAppend1", QStringLiteral("순차적 #1"));
    ChkAppend3 = AddCheckItem(n2, "ChkAppend3", QStringLiteral("순차적 #2"));
    ChkAppend2 = AddCheckItem(n2, "ChkAppend2", QStringLiteral("날짜시간"));

    N1 = AddItem(Menu, "N1", QStringLiteral("단축키 설정"));
    ChkRegStart = AddCheckItem(Menu, "ChkRegStart", QStringLiteral("부팅시 실행"));
    Menu->addSeparator()->setObjectName(QStringLiteral("N8"));
    N9 = AddItem(Menu, "N9", CreditLine);
    N10 = AddItem(Menu, "N10", QStringLiteral("종료하기"));

    Pick = new QMenu(this);
    Pick->setObjectName(QStringLiteral("Pick"));
    N5 = AddItem(Pick, "N5", QStringLiteral("복사"));
    N7 = AddItem(Pick, "N7", QStringLiteral("삭제"));

    const QList<QAction*> sounds = {ChkSound1, ChkSound2, ChkSound3};
    for (QAction* item : sounds)
        connect(item, &QAction::triggered, this, [this, item, sounds] {
            GroupClick(item, sounds, QStringLiteral("sound"), QStringLiteral("ChkSound"));
        });
    const QList<QAction*> naming = {ChkAppend1, ChkAppend2, ChkAppend3};
    for (QAction* item : naming)
        connect(item, &QAction::triggered, this, [this, item, naming] {
            GroupClick(item, naming, QStringLiteral("append"), QStringLiteral("ChkAppend"));
        });
    for (QAction* item : RecLimitItems)
        connect(item, &QAction::triggered, this, [this, item] {
            GroupClick(item, RecLimitItems, QStringLiteral("record_limit"),
                       QStringLiteral("ChkRecLimit"));
        });
    for (QAction* item : LangItems)
        connect(item, &QAction::triggered, this, [this, item] { ChkLang(item); });

    const std::pair<QAction*, const char*> toggles[] = {{ChkMouse, "mouse"},
                                                        {ChkAutoCopy, "autocopy"},
                                                        {ChkMouse_Rec, "mouse_rec"},
                                                        {ChkAudio, "audio"},
                                                        {ChkLog, "ffmpeg_log"}};
    for (const auto& [item, setting] : toggles) {
        const QString name = QLatin1String(setting);
        QAction* action = item;
        connect(action, &QAction::triggered, this,
                [this, action, name] { ToggleClick(action, name); });
    }

    connect(N12, &QAction::triggered, this, &TFrmVorantu::BtnOpenDirClick);
    connect(N4, &QAction::triggered, this, &TFrmVorantu::N4Click);
    connect(N1, &QAction::triggered, this, [this] {
        if (FFrmHotKey->isVisible()) {
            FFrmHotKey->raise();
            FFrmHotKey->activateWindow();
        } else {
            FFrmHotKey->exec();
        }
    });
    connect(ChkRegStart, &QAction::triggered, this, &TFrmVorantu::ChkRegStartClick);
    connect(N9, &QAction::triggered, this, &TFrmVorantu::LblCopyrightClick);
    connect(N10, &QAction::triggered, this, &TFrmVorantu::N10Click);
    connect(N5, &QAction::triggered, this, &TFrmVorantu::N5Click);
    connect(N7, &QAction::triggered, this, &TFrmVorantu::N7Click);
}

void TFrmVorantu::LoadConfig()
{
    const TConfig config(ProgramConfigPath);

    try {
        // Without any recognition data the list stays empty and the TXT
        // destination is refused.
        const QSignalBlocker blocker(ChkOCR_lang);
        Languages = TRtOcr::AvailableLanguages();
        ChkOCR_lang->clear();
        for (const RtOcr::TLanguage& language : Languages)
            ChkOCR_lang->addItem(language.DisplayName);
        const int index = ReadSetting(config, Setting::LanguageOcr);
        if (index >= 0 && index < ChkOCR_lang->count())
            ChkOCR_lang->setCurrentIndex(index);
    } catch (const std::exception&) {
        Languages.clear();
        ChkOCR_lang->clear();
    }

    Language = ReadSetting(config, Setting::Language);
    if (!LanguageCodes.contains(Language))
        Language = QStringLiteral("en");
    FSavePath = ReadSetting(config, Setting::Path);

    ChkAudio->setChecked(ReadSetting(config, Setting::Audio));
    ChkMouse->setChecked(ReadSetting(config, Setting::Mouse));
    ChkMouse_Rec->setChecked(ReadSetting(config, Setting::MouseRec));
    ChkAutoCopy->setChecked(ReadSetting(config, Setting::AutoCopy));
    ChkRegStart->setChecked(IsAutoStart(QStringLiteral("Vorantu")));
    ChkLog->setChecked(ReadSetting(config, Setting::FfmpegLog));

    {
        const QSignalBlocker blockArea(ChkArea);
        const QSignalBlocker blockSaveTo(ChkSaveTo);
        const QSignalBlocker blockJpeg(ChkJPEG_qual);
        const QSignalBlocker blockWebP(ChkWebP_qual);
        auto select = [](QComboBox* box, int index) {
            box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
        };
        ChkArea->setCurrentIndex(0);
        select(ChkArea, ReadSetting(config, Setting::Area));
        select(ChkSaveTo, ReadSetting(config, Setting::SaveTo));
        select(ChkJPEG_qual, ReadSetting(config, Setting::JpegQuality));
        select(ChkWebP_qual, ReadSetting(config, Setting::WebpQuality));
    }

    const int append = ReadSetting(config, Setting::Append);
    ChkAppend1->setChecked(append == 1);
    ChkAppend2->setChecked(append == 2);
    ChkAppend3->setChecked(append == 3);
    const int sound = ReadSetting(config, Setting::Sound);
    ChkSound1->setChecked(sound == 1);
    ChkSound2->setChecked(sound == 2);
    ChkSound3->setChecked(sound == 3);
    for (int i = 0; i < LangItems.size(); ++i)
        LangItems[i]->setChecked(LanguageCodes[i] == Language);
    const int limit = ReadSetting(config, Setting::RecordLimit);
    for (QAction* item : RecLimitItems)
        item->setChecked(item->objectName() == QStringLiteral("ChkRecLimit%1").arg(limit));

    TranslateComponent(this, Language);
    TranslateComponent(ChkArea);
    TranslateComponent(ChkSaveTo);
    setWindowTitle(Translate(windowTitle()));
    QGuiApplication::setApplicationDisplayName(windowTitle());
}

void TFrmVorantu::SaveConfig(const QString& name, int value)
{
    TConfig(ProgramConfigPath).WriteInteger(name, value);
}

void TFrmVorantu::SaveConfig(const QString& name, bool value)
{
    TConfig(ProgramConfigPath).WriteBoolean(name, value);
}

void TFrmVorantu::SaveConfig(const QString& name, const QString& value)
{
    TConfig(ProgramConfigPath).WriteString(name, value);
}

void TFrmVorantu::ApplyTitles(const QString& version)
{
    const QString caption = Translate(windowTitle());
    QGuiApplication::setApplicationDisplayName(caption);
    if (TrayIcon)
        TrayIcon->setToolTip(caption + QLatin1Char(' ') + version);
    setWindowTitle(caption);
}

QString TFrmVorantu::ProductPageAddress() const
{
    QString base = ReadSetting(TConfig(ProgramConfigPath), Setting::ServiceUrl);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/vorantu?v=") + Version4();
}

QString TFrmVorantu::HelpPageAddress(const QString& query) const
{
    QString base = ReadSetting(TConfig(ProgramConfigPath), Setting::ServiceUrl);
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QStringLiteral("/help") + query;
}

void TFrmVorantu::ShowMainWindow()
{
    if (!FShownOnce) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
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
        ShowMessageBox(Translate(Caption()), Translate(QStringLiteral("녹화중입니다.")),
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

bool TFrmVorantu::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            PopupAtCursor();
            return true;
        }
        if (mouse->button() == Qt::LeftButton && watched == LblCopyright) {
            LblCopyrightClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmVorantu::PopupAtCursor()
{
    Menu->popup(QCursor::pos());
}

int TFrmVorantu::HandleCommand(const TCommandRequest& request)
{
    switch (request.Kind) {
    case TCommandRequest::TKind::User:
        if (!TrayIcon)
            return 0;
        if (request.Param == 1)
            ShowMainWindow();
        else if (request.Param == 2)
            Quit();
        return 0;
    case TCommandRequest::TKind::QueryEndSession:
        Quit();
        return 1;
    case TCommandRequest::TKind::CopyData: {
        if (request.Param != 1)
            return 0;
        // The text ends at its first NUL, as a C string would.
        QByteArray text = request.Payload;
        const qsizetype nul = text.indexOf('\0');
        if (nul >= 0)
            text.truncate(nul);
        const nlohmann::json json =
            nlohmann::json::parse(text.constBegin(), text.constEnd(), nullptr, false);
        if (json.is_discarded() || !json.is_object())
            return 0;
        const auto member = json.find("command");
        if (member == json.end() || !member->is_string())
            return 0;
        const std::string& command = member->get_ref<const std::string&>();
        if (command == "about") {
            LblCopyrightClick();
            return 1;
        }
        if (command == "capture") {
            Start();
            return 1;
        }
        return 0;
    }
    case TCommandRequest::TKind::Invalid:
        break;
    }
    return 0;
}

void TFrmVorantu::ChkAreaChange()
{
    ChkArea->setEnabled(false);
    PnlMain->setCurrentWidget(Card1);
    CloseAreaWindows();
    const int area = ChkArea->currentIndex();
    if (area == CaptureArea::Region) {
        if (!FFrmArea)
            FFrmArea = std::make_unique<TFrmArea>(*FFrmSize, *this);
        FFrmArea->show();
    } else if (area == CaptureArea::WindowControl) {
        if (!FFrmLine)
            FFrmLine = new TFrmLine(
                *FPlatform.Screen, *FPlatform.Windows, [this] { return ChkArea->currentIndex(); },
                this);
        FFrmLine->show();
    } else if (area == CaptureArea::WebPage) {
        if (!FFrmIExplorer) {
            QString error;
            FFrmIExplorer = TFrmIExplorer::Create(&error);
            if (FFrmIExplorer) {
                connect(FFrmIExplorer.data(), &TFrmIExplorer::Closed, this,
                        &TFrmVorantu::AreaClosed);
            } else {
                ShowMessageBox(Translate(Caption()), error, TBoxIcon::Error);
            }
        }
        if (FFrmIExplorer)
            FFrmIExplorer->show();
    } else if (area == CaptureArea::ColorPicker) {
        PnlMain->setCurrentWidget(Card2);
    }
    if (PnlMain->currentWidget() == Card2)
        TmrColor->start();
    else
        TmrColor->stop();
    SaveConfig(QStringLiteral("area"), area >= 0 && area <= 3 ? area : 0);
    ChkArea->setEnabled(true);
}

void TFrmVorantu::CloseAreaWindows()
{
    if (FFrmArea && FFrmArea->isVisible())
        FFrmArea->close();
    if (FFrmLine && FFrmLine->isVisible())
        FFrmLine->close();
    if (FFrmIExplorer && FFrmIExplorer->isVisible()) {
        // Another area was chosen: the new one stays.
        const QSignalBlocker blocker(FFrmIExplorer.data());
        FFrmIExplorer->close();
    }
}

void TFrmVorantu::AreaClosed()
{
    {
        const QSignalBlocker blocker(ChkArea);
        ChkArea->setCurrentIndex(CaptureArea::FullScreen);
    }
    PnlMain->setCurrentWidget(Card1);
    TmrColor->stop();
    SaveConfig(QStringLiteral("area"), 0);
}

QString TFrmVorantu::JpegQualityText() const
{
    return ChkJPEG_qual->currentText();
}

QString TFrmVorantu::WebPQualityText() const
{
    return ChkWebP_qual->currentText();
}

bool TFrmVorantu::WebPLibraryPresent() const
{
    return WebPLibraryAvailable();
}

QString TFrmVorantu::EncoderPath() const
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

bool TFrmVorantu::EncoderPresent() const
{
    return !EncoderPath().isEmpty();
}

void TFrmVorantu::ShowMissingFile(const QString& fileName, const QString& helpQuery)
{
    ShowMessageBox(Translate(Caption()),
                   Translate(QStringLiteral("\"%s\" 파일이 없습니다."))
                       .replace(QStringLiteral("%s"), fileName),
                   TBoxIcon::Information);
    ShellOpen(HelpPageAddress(helpQuery));
}

void TFrmVorantu::ChkSaveToChange()
{
    ChkSaveTo->resize(145, ChkSaveTo->height());
    ChkJPEG_qual->hide();
    ChkWebP_qual->hide();
    ChkOCR_lang->hide();
    auto fallBack = [this] {
        const QSignalBlocker blocker(ChkSaveTo);
        ChkSaveTo->setCurrentIndex(CaptureDestination::Png);
    };
    switch (ChkSaveTo->currentIndex()) {
    case CaptureDestination::Jpg:
        ChkSaveTo->resize(82, ChkSaveTo->height());
        ChkJPEG_qual->show();
        break;
    case CaptureDestination::WebP:
        if (WebPLibraryPresent()) {
            ChkSaveTo->resize(82, ChkSaveTo->height());
            ChkWebP_qual->show();
        } else {
            ShowMissingFile(QStringLiteral("libwebp.so.7"),
                            QStringLiteral("?app=vorantu&msg=webpnotfound"));
            fallBack();
        }
        break;
    case CaptureDestination::Mp4:
        if (!EncoderPresent()) {
            ShowMissingFile(QStringLiteral("ffmpeg"),
                            QStringLiteral("?app=vorantu&msg=ffmpegnotfound"));
            fallBack();
        }
        break;
    case CaptureDestination::Txt:
        if (ChkOCR_lang->count() > 0) {
            ChkSaveTo->resize(72, ChkSaveTo->height());
            ChkOCR_lang->show();
        } else {
            ShowMessageBox(Translate(Caption()),
                           QStringLiteral("OCR 을 지원하지 않는 윈도우 환경입니다."),
                           TBoxIcon::Information);
            fallBack();
        }
        break;
    default:
        break;
    }
    SaveConfig(QStringLiteral("saveto"), ChkSaveTo->currentIndex());
}

void TFrmVorantu::GroupClick(QAction* item, const QList<QAction*>& group, const QString& setting,
                             const QString& prefix)
{
    bool ok = false;
    const int number = item->objectName().mid(prefix.size()).toInt(&ok);
    for (QAction* member : group)
        member->setChecked(false);
    item->setChecked(true);
    if (ok)
        SaveConfig(setting, number);
}

void TFrmVorantu::ToggleClick(QAction* item, const QString& setting)
{
    // The action has already flipped its own tick.
    SaveConfig(setting, item->isChecked());
}

void TFrmVorantu::ChkRegStartClick()
{
    const bool enable = ChkRegStart->isChecked();
    if (!SetAutoStart(QStringLiteral("Vorantu"), enable)) {
        ShowMessageBox(Caption(),
                       Translate(QStringLiteral(
                           "잘못된 백신 또는 악성 프로그램이 부팅시 실행을 차단하였습니다.")),
                       TBoxIcon::Error);
        ChkRegStart->setChecked(false);
    }
}

void TFrmVorantu::ChkLang(QAction* item)
{
    Language = item->objectName().mid(7).toLower();
    for (int i = 0; i < LangItems.size(); ++i)
        LangItems[i]->setChecked(LanguageCodes[i] == Language);
    TranslateComponent(this, Language);
    if (FFrmArea)
        TranslateComponent(FFrmArea.get());
    TranslateComponent(FFrmHotKey);
    TranslateComponent(FFrmSize);
    TranslateComponent(ChkArea);
    TranslateComponent(ChkSaveTo);
    ApplyTitles(Version4());
    SaveConfig(QStringLiteral("language"), Language);
}

void TFrmVorantu::N4Click()
{
    QFileDialog dialog(nullptr, Translate(QStringLiteral("폴더 선택")), FSavePath);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, Translate(QStringLiteral("선택")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    FSavePath = QDir::cleanPath(dialog.selectedFiles().first());
    SaveConfig(QStringLiteral("path"), FSavePath);
}

void TFrmVorantu::N10Click()
{
    if (ShowMessageBox(QGuiApplication::applicationDisplayName(),
                       Translate(QStringLiteral("정말 종료하시겠습니까?")), TBoxIcon::Question,
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        Quit();
}

void TFrmVorantu::BtnOpenDirClick()
{
    ShellOpen(FSavePath);
}

void TFrmVorantu::LblCopyrightClick()
{
    ShellOpen(ProductPageAddress());
}

void TFrmVorantu::TmrColorTimer()
{
    const QPoint at = FPlatform.Screen->CursorPosition();
    const std::optional<QRgb> pixel = FPlatform.Screen->Pixel(at);
    const QColor colour = pixel ? QColor::fromRgb(*pixel) : QColor(Qt::white);
    LblColor->setText(QStringLiteral("%1%2%3")
                          .arg(colour.red(), 2, 16, QLatin1Char('0'))
                          .arg(colour.green(), 2, 16, QLatin1Char('0'))
                          .arg(colour.blue(), 2, 16, QLatin1Char('0'))
                          .toUpper());
    QPalette swatch = ShpColor->palette();
    swatch.setColor(QPalette::Window, colour);
    ShpColor->setPalette(swatch);
}

void TFrmVorantu::CaptureColor()
{
    const QString text = LblColor->text();
    LstColor->insertItem(0, text);
    TextToClipboard(text);
}

void TFrmVorantu::N5Click()
{
    if (QListWidgetItem* item = LstColor->currentItem(); item && item->isSelected())
        TextToClipboard(item->text());
}

void TFrmVorantu::N7Click()
{
    if (QListWidgetItem* item = LstColor->currentItem(); item && item->isSelected())
        delete LstColor->takeItem(LstColor->row(item));
}

QString TFrmVorantu::NewFilename(const QString& ext)
{
    TNamingMode mode = TNamingMode::DateTime;
    if (ChkAppend1->isChecked())
        mode = TNamingMode::Sequential1;
    else if (ChkAppend3->isChecked())
        mode = TNamingMode::Sequential2;
    return ::NewFilename(FSavePath, mode, ext);
}

void TFrmVorantu::PlaySound()
{
    if (FPlatform.Sound)
        FPlatform.Sound->Play();
}

void TFrmVorantu::ShowFailure(const QString& message)
{
    ShowMessageBox(Caption(),
                   Translate(QStringLiteral("캡쳐가 실패하였습니다.")) + QStringLiteral("\r\r") +
                       message,
                   TBoxIcon::Error);
}

void TFrmVorantu::RecordStart()
{
    const QString encoder = EncoderPath();
    if (encoder.isEmpty())
        return;
    QString output;
    try {
        output = NewFilename(QStringLiteral("mp4"));
    } catch (const std::exception& e) {
        ShowFailure(QString::fromUtf8(e.what()));
        return;
    }

    FStatus = stBusy;
    ChkArea->setEnabled(false);
    PnlMain->setCurrentWidget(Card3);

    FRecorder = new TRecorder(this);
    FRecorder->FAudio = ChkAudio->isChecked();
    FRecorder->FMouse = ChkMouse_Rec->isChecked();
    FRecorder->FLogging = ChkLog->isChecked();
    FRecorder->FFFMpeg = encoder;
    FRecorder->FOutput = output;
    for (QAction* item : RecLimitItems) {
        if (item->isChecked())
            FRecorder->FLimitSeconds = item->objectName().mid(11).toInt() * 60;
    }
    if (ChkArea->currentIndex() == CaptureArea::Region && FFrmArea)
        FRecorder->Start(*FCapture, [this] { return FFrmArea ? FFrmArea->GetRect() : QRect(); });
    else
        FRecorder->Start(*FCapture);
    // A start that failed has already said why; the first tick tidies up.
    TmrRec->start();
}

void TFrmVorantu::RecordStop()
{
    if (FRecorder)
        FRecorder->Stop();
}

void TFrmVorantu::TmrRecTimer()
{
    if (!FRecorder)
        return;
    if (FRecorder->IsRunning()) {
        const QString time = FRecorder->RecTime().left(8);
        LvlRecTime->setText(time);
        if (FFrmArea) {
            FFrmArea->LvlRecTime->setText(QStringLiteral("[REC] ") + time);
            FFrmArea->LvlRecTime->setStyleSheet(
                QStringLiteral("color: rgb(255, 255, 0); font-weight: bold;"));
        }
        return;
    }
    TmrRec->stop();
    FRecorder->deleteLater();
    FRecorder = nullptr;
    ChkArea->setEnabled(true);
    PnlMain->setCurrentWidget(Card1);
    LvlRecTime->setText(QStringLiteral("00:00:00"));
    if (FFrmArea) {
        FFrmArea->LvlRecTime->setText(QStringLiteral("[REC] 00:00:00"));
        FFrmArea->LvlRecTime->setStyleSheet(
            QStringLiteral("color: rgb(128, 0, 0); font-weight: normal;"));
    }
    FStatus = stIdle;
}

void TFrmVorantu::BitmapToTXTFile(const QImage& bitmap)
{
    // The engine reads screen-sized letters poorly, so it gets the capture
    // three times larger, or as large as it accepts. Enlarging a full screen
    // takes a few hundred milliseconds: off the user-interface thread.
    const int limit = TRtOcr::MaxImageDimension();
    const int longest = qMax(bitmap.width(), bitmap.height());
    QImage enlarged;
    Wait([&] {
        if (longest * 3 <= limit)
            enlarged = ScaleBox3x(bitmap);
        else if (longest > 0)
            enlarged = ScaleBox(bitmap, int(qint64(bitmap.width()) * limit / longest),
                                int(qint64(bitmap.height()) * limit / longest));
    });
    FRtOcr->SetPicture(enlarged.isNull() ? bitmap : enlarged);
    int index = ChkOCR_lang->currentIndex();
    if (index < 0 || index >= Languages.size())
        index = 0;
    if (Languages.isEmpty())
        throw RtOcr::ERtOcrError(QStringLiteral("Language not available"));
    FRtOcr->Recognize(Languages[index],
                      [this](const RtOcr::TResult& result) { BitmapToTXTFileCompleted(result); });
}

void TFrmVorantu::BitmapToTXTFileCompleted(const RtOcr::TResult& result)
{
    try {
        if (result.Status != RtOcr::stCompleted) {
            ShowFailure(QStringLiteral("OCR failed."));
        } else {
            QByteArray text;
            for (const RtOcr::TLine& line : result.Lines)
                text += line.Text.toUtf8() + "\r\n";
            const QString fileName = NewFilename(QStringLiteral("txt"));
            QSaveFile file(fileName);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
                !file.commit())
                throw std::runtime_error(
                    QStringLiteral("%1: %2").arg(fileName, file.errorString()).toStdString());
            if (ChkSound3->isChecked())
                PlaySound();
        }
    } catch (const std::exception& e) {
        // A recognised text that cannot be written is reported, not lost silently.
        ShowFailure(QString::fromUtf8(e.what()));
    }
    FStatus = stIdle;
}

void TFrmVorantu::Start()
{
    const int area = ChkArea->currentIndex();
    const int destination = ChkSaveTo->currentIndex();
    if (area != CaptureArea::ColorPicker) {
        const bool unsupported =
            (destination == CaptureDestination::Mp4 && (area >= CaptureArea::Drag || area < 0)) ||
            (destination == CaptureDestination::Floating && area == CaptureArea::WebPage);
        if (unsupported) {
            ShowMessageBox(Translate(Caption()),
                           Translate(QStringLiteral("지원하지 않는 캡쳐영역입니다.")),
                           TBoxIcon::Information);
            return;
        }
    }
    if (destination == CaptureDestination::Mp4) {
        if (FStatus == stIdle)
            RecordStart();
        else
            RecordStop();
        return;
    }
    if (FStatus == stIdle)
        CaptureStart();
}

void TFrmVorantu::Capture(QImage& bitmap, QRect& rect)
{
    bitmap = QImage();
    FCapture->FShowCursor = ChkMouse->isChecked();
    switch (ChkArea->currentIndex()) {
    case CaptureArea::FullScreen:
        FCapture->Capture(bitmap, 0, rect);
        break;
    case CaptureArea::Region:
        if (FFrmArea) {
            rect = FFrmArea->GetRect();
            FCapture->Capture(bitmap, rect);
        }
        break;
    case CaptureArea::WebPage:
        if (FFrmIExplorer)
            CaptureWebPage(bitmap, *FFrmIExplorer);
        break;
    case CaptureArea::ActiveWindow:
        FCapture->Capture(bitmap, FPlatform.Windows->ActiveWindow(), rect);
        break;
    case CaptureArea::WindowControl:
        FCapture->Capture(bitmap, FPlatform.Windows->WindowAt(FPlatform.Screen->CursorPosition()),
                          rect);
        break;
    default:
        break;
    }
}

void TFrmVorantu::CaptureStart()
{
    FStatus = stBusy;
    const int area = ChkArea->currentIndex();
    const int destination = ChkSaveTo->currentIndex();
    if (ChkSound2->isChecked() && area != CaptureArea::Drag)
        PlaySound();

    QImage bitmap;
    QRect rect;
    try {
        if (area == CaptureArea::Drag) {
            TFrmDrag drag(*FPlatform.Screen);
            drag.Capture(bitmap, rect);
            drag.exec();
            if (bitmap.isNull()) {
                FStatus = stIdle;
                return;
            }
            if (ChkSound2->isChecked())
                PlaySound();
        } else if (area == CaptureArea::ColorPicker) {
            CaptureColor();
        } else {
            Capture(bitmap, rect);
        }
    } catch (const std::exception& e) {
        // A failure while the area is grabbed is reported like any other and
        // must not leave the controller busy.
        ShowFailure(QString::fromUtf8(e.what()));
        FStatus = stIdle;
        return;
    }

    if (!bitmap.isNull()) {
        try {
            switch (destination) {
            case CaptureDestination::Png:
                BitmapToPNGFile(bitmap, NewFilename(QStringLiteral("png")));
                break;
            case CaptureDestination::Jpg:
                BitmapToJPGFile(bitmap, NewFilename(QStringLiteral("jpg")),
                                std::uint8_t(qBound(0, QualityOf(ChkJPEG_qual), 100)));
                break;
            case CaptureDestination::Gif:
                BitmapToGIFFile(bitmap, NewFilename(QStringLiteral("gif")));
                break;
            case CaptureDestination::Bmp:
                BitmapToBMPFile(bitmap, NewFilename(QStringLiteral("bmp")));
                break;
            case CaptureDestination::WebP:
                BitmapToWebPFile(bitmap, NewFilename(QStringLiteral("webp")),
                                 QualityOf(ChkWebP_qual));
                break;
            case CaptureDestination::Clipboard:
                BitmapToClipboard(bitmap);
                break;
            case CaptureDestination::Printer:
                BitmapToPrinter(bitmap, logicalDpiX());
                break;
            case CaptureDestination::Txt:
                // The recognition finishes later on its own and returns the
                // controller to idle then.
                BitmapToTXTFile(bitmap);
                return;
            case CaptureDestination::Upload:
                break;
            case CaptureDestination::Floating:
                FloatList->FloatCreate(bitmap, rect);
                break;
            default:
                break;
            }
            if (ChkAutoCopy->isChecked() && destination != CaptureDestination::Clipboard)
                BitmapToClipboard(bitmap);
            if (ChkSound3->isChecked())
                PlaySound();
            if (destination == CaptureDestination::Upload)
                CaptureUpload(bitmap, this);
        } catch (const std::exception& e) {
            ShowFailure(QString::fromUtf8(e.what()));
        }
    }
    FStatus = stIdle;
}
