#include "app/MainControls.h"

#include "app/AutoStart.h"
#include "app/ColorCard.h"
#include "app/Manual.h"
#include "app/OcrChoice.h"
#include "app/RecordControl.h"
#include "app/ServerDialog.h"
#include "output/Save.h"
#include "services/Config.h"
#include "services/MessageBox.h"
#include "services/Text.h"
#include "services/Translate.h"
#include "services/Update.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <exception>

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
    QStringLiteral("프린터"), QStringLiteral("플러팅"),   QStringLiteral("편집")};

const QStringList QualityItems = {"100", "90", "80", "70", "60"};

const QString CreditLine = QStringLiteral("ⓒ Vorantu 개발자");

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

template <typename T> void Store(const TSetting<T>& setting, const T& value)
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, setting, value);
}

} // namespace

TMainControls::TMainControls(QWidget& window, TScreen& screen) : QObject(&window), FWindow(window)
{
    BuildControls(screen);
    BuildMenu();
    PnlMain->setCurrentWidget(Card1);
}

void TMainControls::BuildControls(TScreen& screen)
{
    QWidget* window = &FWindow;
    LblArea = new QLabel(QStringLiteral("캡쳐영역"), window);
    LblArea->setObjectName(QStringLiteral("LblArea"));
    LblArea->setGeometry(8, 8, 146, 17);

    ChkArea = new QComboBox(window);
    ChkArea->setObjectName(QStringLiteral("ChkArea"));
    ChkArea->setGeometry(9, 29, 145, 24);
    ChkArea->addItems(AreaItems);

    PnlMain = new QStackedWidget(window);
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

    Card2 = new TColorCard(screen, PnlMain);
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

    LblCopyright = new QLabel(CreditLine, window);
    LblCopyright->setObjectName(QStringLiteral("LblCopyright"));
    LblCopyright->setGeometry(8, 168, 146, 17);
    LblCopyright->setAlignment(Qt::AlignCenter);
    LblCopyright->setStyleSheet(QStringLiteral("color: blue;"));
    LblCopyright->setCursor(Qt::PointingHandCursor);

    connect(ChkSaveTo, &QComboBox::currentIndexChanged, this, &TMainControls::ChkSaveToChange);
    connect(ChkJPEG_qual, &QComboBox::currentIndexChanged, this,
            [](int index) { Store(Setting::JpegQuality, index); });
    connect(ChkWebP_qual, &QComboBox::currentIndexChanged, this,
            [](int index) { Store(Setting::WebpQuality, index); });
    connect(ChkOCR_lang, &QComboBox::currentIndexChanged, this, [this](int index) {
        Store(Setting::LanguageOcr, index);
        if (index >= 0 && index < Languages.size())
            Store(Setting::OcrLanguage, Languages.at(index).DisplayName);
        ChkOCR_lang->setToolTip(ChkOCR_lang->currentText());
    });

    // A right click on the background or a label opens the menu; a left
    // click on the credit line opens the product page.
    for (QWidget* w :
         {window, static_cast<QWidget*>(LblArea), static_cast<QWidget*>(LblCopyright), Card1,
          static_cast<QWidget*>(LblSaveTo), static_cast<QWidget*>(Card2),
          static_cast<QWidget*>(Card2->LblColor), static_cast<QWidget*>(Card2->ShpColor), ShpRec,
          static_cast<QWidget*>(Label1), static_cast<QWidget*>(LvlRecTime)})
        w->installEventFilter(this);
}

void TMainControls::BuildMenu()
{
    Menu = new QMenu(&FWindow);
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
    QMenu* n19 = AddSubMenu(n14, "N19", QStringLiteral("지연 시간"));
    DelayItems << AddCheckItem(n19, "ChkDelay0", QStringLiteral("지연 없음"))
               << AddCheckItem(n19, "ChkDelay3", QStringLiteral("3초"))
               << AddCheckItem(n19, "ChkDelay5", QStringLiteral("5초"))
               << AddCheckItem(n19, "ChkDelay10", QStringLiteral("10초"));
    ChkNotify = AddCheckItem(n14, "ChkNotify", QStringLiteral("캡쳐 알림"));

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
    Menu->addSeparator()->setObjectName(QStringLiteral("N16"));
    N17 = AddItem(Menu, "N17", QStringLiteral("업로드 서버 설정…"));
    N18 = AddItem(Menu, "N18", QStringLiteral("사용 설명서"));
    // Where files go shows on the folder items.
    Menu->setToolTipsVisible(true);

    const QList<QAction*> sounds = {ChkSound1, ChkSound2, ChkSound3};
    for (QAction* item : sounds)
        connect(item, &QAction::triggered, this, [this, item, sounds] {
            GroupClick(item, sounds, Setting::Sound, QStringLiteral("ChkSound"));
        });
    const QList<QAction*> naming = {ChkAppend1, ChkAppend2, ChkAppend3};
    for (QAction* item : naming)
        connect(item, &QAction::triggered, this, [this, item, naming] {
            GroupClick(item, naming, Setting::Append, QStringLiteral("ChkAppend"));
        });
    for (QAction* item : RecLimitItems)
        connect(item, &QAction::triggered, this, [this, item] {
            GroupClick(item, RecLimitItems, Setting::RecordLimit, QStringLiteral("ChkRecLimit"));
        });
    for (QAction* item : DelayItems)
        connect(item, &QAction::triggered, this, [this, item] {
            GroupClick(item, DelayItems, Setting::CaptureDelay, QStringLiteral("ChkDelay"));
        });
    for (QAction* item : LangItems)
        connect(item, &QAction::triggered, this,
                [this, item] { SetLanguage(item->objectName().mid(7).toLower()); });

    // The action has already flipped its own tick.
    const std::pair<QAction*, const TSetting<bool>*> toggles[] = {
        {ChkMouse, &Setting::Mouse},        {ChkAutoCopy, &Setting::AutoCopy},
        {ChkMouse_Rec, &Setting::MouseRec}, {ChkAudio, &Setting::Audio},
        {ChkLog, &Setting::FfmpegLog},      {ChkNotify, &Setting::Notify}};
    for (const auto& [item, setting] : toggles) {
        QAction* action = item;
        const TSetting<bool>* stored = setting;
        connect(action, &QAction::triggered, this,
                [action, stored] { Store(*stored, action->isChecked()); });
    }
}

void TMainControls::GroupClick(QAction* item, const QList<QAction*>& group,
                               const TSetting<int>& setting, const QString& prefix)
{
    bool ok = false;
    const int number = item->objectName().mid(prefix.size()).toInt(&ok);
    for (QAction* member : group)
        member->setChecked(false);
    item->setChecked(true);
    if (ok)
        Store(setting, number);
}

bool TMainControls::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            PopupAtCursor();
            return true;
        }
        if (mouse->button() == Qt::LeftButton && watched == LblCopyright) {
            emit CopyrightClicked();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TMainControls::PopupAtCursor()
{
    Menu->popup(QCursor::pos());
}

void TMainControls::LoadConfig()
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
        QString uiLanguage = ReadSetting(config, Setting::Language);
        if (!LanguageCodes.contains(uiLanguage))
            uiLanguage = QStringLiteral("en");
        const bool indexStored = config.Exists(QLatin1String(Setting::LanguageOcr.Name));
        ChkOCR_lang->setCurrentIndex(ChooseOcrLanguage(
            Languages, ReadSetting(config, Setting::OcrLanguage),
            indexStored ? ReadSetting(config, Setting::LanguageOcr) : -1, uiLanguage));
        // The box is narrow; its list and its hint show whole names.
        ChkOCR_lang->view()->setMinimumWidth(ChkOCR_lang->view()->sizeHintForColumn(0) + 24);
        ChkOCR_lang->setToolTip(ChkOCR_lang->currentText());
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
    ChkNotify->setChecked(ReadSetting(config, Setting::Notify));
    const int delay = ReadSetting(config, Setting::CaptureDelay);
    for (QAction* item : DelayItems)
        item->setChecked(item->objectName() == QStringLiteral("ChkDelay%1").arg(delay));
    ShowSavePath();

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

    TranslateComponent(&FWindow, Language);
    TranslateComponent(ChkArea);
    TranslateComponent(ChkSaveTo);
    FWindow.setWindowTitle(Translate(FWindow.windowTitle()));
    QGuiApplication::setApplicationDisplayName(FWindow.windowTitle());
}

void TMainControls::SetLanguage(const QString& code)
{
    Language = code;
    for (int i = 0; i < LangItems.size(); ++i)
        LangItems[i]->setChecked(LanguageCodes[i] == Language);
    TranslateComponent(&FWindow, Language);
    TranslateComponent(ChkArea);
    TranslateComponent(ChkSaveTo);
    emit LanguageChanged();
    Store(Setting::Language, Language);
}

void TMainControls::ChkSaveToChange()
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
        if (WebPLibraryAvailable()) {
            ChkSaveTo->resize(82, ChkSaveTo->height());
            ChkWebP_qual->show();
        } else {
            ShowMissingFile(QStringLiteral("libwebp.so.7"),
                            QStringLiteral("?app=vorantu&msg=webpnotfound"));
            fallBack();
        }
        break;
    case CaptureDestination::Mp4:
        if (EncoderPath().isEmpty()) {
            ShowMissingEncoder();
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
    Store(Setting::SaveTo, ChkSaveTo->currentIndex());
}

void TMainControls::ShowMissingFile(const QString& fileName, const QString& helpQuery)
{
    ShowMessageBox(Translate(Caption()),
                   Translate(QStringLiteral("\"%s\" 파일이 없습니다."))
                       .replace(QStringLiteral("%s"), fileName),
                   TBoxIcon::Information);
    ShellOpen(HelpPageAddress(helpQuery));
}

void TMainControls::ShowMissingEncoder()
{
    ShowMissingFile(QStringLiteral("ffmpeg"), QStringLiteral("?app=vorantu&msg=ffmpegnotfound"));
}

QString TMainControls::NewFilename(const QString& ext) const
{
    const int append = ChkAppend1->isChecked() ? 1 : ChkAppend3->isChecked() ? 3 : 2;
    return ::NewFilename(FSavePath, NamingModeFromSetting(append), ext);
}

int TMainControls::RecordLimitSeconds() const
{
    int seconds = 0;
    for (QAction* item : RecLimitItems) {
        if (item->isChecked())
            seconds = item->objectName().mid(11).toInt() * 60;
    }
    return seconds;
}

QString TMainControls::Caption() const
{
    return FWindow.windowTitle();
}

void TMainControls::ShowFailure(const QString& message)
{
    ShowMessageBox(Caption(),
                   Translate(QStringLiteral("캡쳐가 실패하였습니다.")) + QStringLiteral("\r\r") +
                       message,
                   TBoxIcon::Error);
}

QString TMainControls::HelpPageAddress(const QString& query) const
{
    if (!WebServiceSet())
        return LocalManualAddress(Language, ManualTopic(query));
    return ServiceAddress(QStringLiteral("/help") + query);
}

int TMainControls::CaptureDelaySeconds() const
{
    for (QAction* item : DelayItems) {
        if (item->isChecked())
            return item->objectName().mid(8).toInt();
    }
    return 0;
}

void TMainControls::ShowSavePath()
{
    const QString path = QDir::toNativeSeparators(FSavePath);
    BtnOpenDir->setToolTip(path);
    N12->setToolTip(path);
    N4->setToolTip(path);
}
