#include "Boxes.h"
#include "Desktop.h"
#include "MainWindowFixture.h"
#include "NetTestSupport.h"
#include "TestEnvironment.h"
#include "Version.h"
#include "app/Main.h"
#include "app/Program.h"
#include "capture/Capture.h"
#include "capture/HotKey.h"
#include "platform/Instance.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QUrl>
#include <xcb/xcb.h>

using namespace TestDesktop;

namespace {

QStringList Files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// The first quantisation value of a JPEG's luminance table: 16 scaled by the
// library's quality factor, so it identifies the quality used.
int JpegFirstQuant(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    const qsizetype dqt = bytes.indexOf("\xFF\xDB");
    return dqt < 0 ? -1 : quint8(bytes[dqt + 5]);
}

// Another X client holding a key, as a program that got there first would.
class TOtherClient
{
public:
    TOtherClient() : FConnection(xcb_connect(nullptr, nullptr))
    {
        FRoot = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data->root;
    }
    ~TOtherClient() { xcb_disconnect(FConnection); }

    xcb_keycode_t KeyCode(quint32 keysym) const
    {
        const xcb_setup_t* setup = xcb_get_setup(FConnection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
            FConnection, xcb_get_keyboard_mapping(FConnection, setup->min_keycode, uint8_t(count)),
            nullptr);
        xcb_keycode_t code = 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
        for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(reply); ++i) {
            if (syms[i] == keysym) {
                code = xcb_keycode_t(setup->min_keycode + i / reply->keysyms_per_keycode);
                break;
            }
        }
        free(reply);
        return code;
    }

    bool Grab(xcb_keycode_t key, uint16_t modifiers)
    {
        xcb_generic_error_t* error = xcb_request_check(
            FConnection, xcb_grab_key_checked(FConnection, true, FRoot, modifiers, key,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        free(error);
        return !error;
    }

private:
    xcb_connection_t* FConnection;
    xcb_window_t FRoot;
};

// What the screen shows of `window`, frame and all, with an 8-pixel margin.
QImage ScreenOf(QWidget* window)
{
    TPlatform platform = LoadPlatform();
    const QRect frame = window->frameGeometry().adjusted(-8, -8, 8, 8);
    QImage shot(frame.size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    platform.Screen->Grab(frame, shot);
    return shot;
}

// The window's inside in `shot` is drawn: mostly its white background, with
// enough other pixels for its controls and texts.
bool LooksDrawn(const QImage& shot, QWidget* window)
{
    const QRect inside =
        window->geometry().translated(-(window->frameGeometry().topLeft() - QPoint(8, 8)));
    qint64 white = 0;
    qint64 other = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            (shot.pixel(x, y) == qRgb(255, 255, 255) ? white : other) += 1;
    const qint64 all = white + other;
    return all > 0 && white * 2 > all && other * 20 > all;
}

// The screen shows the window's inside as the window draws it now.
bool ShowsOnScreen(const QImage& shot, QWidget* window)
{
    const QRect inside =
        window->geometry().translated(-(window->frameGeometry().topLeft() - QPoint(8, 8)));
    return shot.copy(inside) == window->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Screenshots are kept for people to look at.
void SaveArtifact(const QImage& shot, const QString& name)
{
    QDir().mkpath(QStringLiteral(VORANTU_ARTIFACTS));
    QVERIFY(shot.save(QStringLiteral(VORANTU_ARTIFACTS "/") + name));
}

// Stands in for the capture sound and notes, at each play, what had
// happened by then.
class TSoundLog : public TSound
{
public:
    explicit TSoundLog(std::function<QString()> state) : FState(std::move(state)) {}
    void Play() override { Plays << FState(); }
    QStringList Plays;

private:
    std::function<QString()> FState;
};

} // namespace

class TTestMain : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
    void Select(const char* selector, int index)
    {
        Find<QComboBox>(selector)->setCurrentIndex(index);
    }

    void Trigger(const char* item) { Find<QAction>(item)->trigger(); }

private slots:
    void initTestCase()
    {
        // No recognition data here, so the TXT destination is refused.
        QDir().mkpath(QDir::homePath() + "/no-tessdata");
        qputenv("TESSDATA_PREFIX", (QDir::homePath() + "/no-tessdata").toLocal8Bit());
        MakeMainWindow();
        FWindow->ShowMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    }

    void cleanupTestCase() { FWindow.reset(); }

    void init()
    {
        for (const QString& name : Files(FSave))
            QFile::remove(FSave + '/' + name);
        Select("ChkArea", CaptureArea::FullScreen);
        Select("ChkSaveTo", CaptureDestination::Png);
    }

    void FirstStartLooksAsDesigned()
    {
        QCOMPARE(FWindow->size(), QSize(162, 191));
        QCOMPARE(FWindow->windowTitle(), QStringLiteral("Vorantu"));
        QVERIFY(FWindow->Tray()->isVisible());
        QCOMPARE(Find<QComboBox>("ChkArea")->count(), 7);
        // The design's eleven destinations, then the editor.
        QCOMPARE(Find<QComboBox>("ChkSaveTo")->count(), 12);
        // Centred on the primary monitor at its first show.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(FWindow->frameGeometry().center().x() - screen.center().x()) <= 2);
        for (const char* name : {"N12",
                                 "N4",
                                 "N14",
                                 "N3",
                                 "ChkSound1",
                                 "ChkSound2",
                                 "ChkSound3",
                                 "ChkMouse",
                                 "ChkAutoCopy",
                                 "N6",
                                 "N13",
                                 "ChkRecLimit0",
                                 "ChkRecLimit240",
                                 "ChkMouse_Rec",
                                 "ChkAudio",
                                 "ChkLog",
                                 "N11",
                                 "ChkLangKo",
                                 "ChkLangZh",
                                 "N2",
                                 "ChkAppend1",
                                 "ChkAppend2",
                                 "ChkAppend3",
                                 "N1",
                                 "ChkRegStart",
                                 "N9",
                                 "N10"})
            QVERIFY2(FWindow->findChild<QAction*>(QLatin1String(name)), name);
        QVERIFY(Find<QAction>("ChkMouse")->isChecked());
        QVERIFY(Find<QAction>("ChkAppend1")->isChecked());
        QVERIFY(!Find<QAction>("ChkAutoCopy")->isChecked());
    }

    void MenuSettingsAreStoredAtOnce()
    {
        Trigger("ChkAppend3");
        QVERIFY(ConfigText().contains("append=3"));
        QVERIFY(Find<QAction>("ChkAppend3")->isChecked());
        QVERIFY(!Find<QAction>("ChkAppend1")->isChecked());
        Trigger("ChkRecLimit120");
        QVERIFY(ConfigText().contains("record_limit=120"));
        Trigger("ChkAudio");
        QVERIFY(ConfigText().contains("audio=1"));
        Trigger("ChkAudio");
        QVERIFY(ConfigText().contains("audio=0"));
        Select("ChkArea", CaptureArea::WindowControl);
        QVERIFY(ConfigText().contains("area=0"));
        Select("ChkArea", CaptureArea::ActiveWindow);
        QVERIFY(ConfigText().contains("area=3"));
        Trigger("ChkAppend1");
    }

    void LanguageSwitchTranslatesEverything()
    {
        Trigger("ChkLangEn");
        QCOMPARE(Find<QLabel>("LblArea")->text(), QStringLiteral("Capture"));
        QCOMPARE(Find<QComboBox>("ChkArea")->itemText(0), QStringLiteral("Full Screen"));
        QCOMPARE(Find<QAction>("N10")->text(), QStringLiteral("Quit"));
        QCOMPARE(Find<QAction>("ChkLangKo")->text(), QStringLiteral("한국어"));
        QVERIFY(FWindow->Tray()->toolTip().startsWith("Vorantu "));
        QVERIFY(ConfigText().contains("language=en"));
        Trigger("ChkLangKo");
        QCOMPARE(Find<QLabel>("LblArea")->text(), QStringLiteral("캡쳐영역"));
        QCOMPARE(Find<QAction>("N10")->text(), QStringLiteral("종료하기"));
        QVERIFY(Find<QAction>("ChkLangKo")->isChecked());
        QVERIFY(!Find<QAction>("ChkLangEn")->isChecked());
    }

    void Screenshots()
    {
        Trigger("ChkLangKo");
        FWindow->ShowMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        QImage ko;
        QTRY_VERIFY(ShowsOnScreen(ko = ScreenOf(FWindow.get()), FWindow.get()));
        QVERIFY(LooksDrawn(ko, FWindow.get()));
        QCOMPARE(ko.size(), FWindow->frameGeometry().size() + QSize(16, 16));
        SaveArtifact(ko, "main-ko.png");
        // The other language shows on screen, not only in the components.
        Trigger("ChkLangEn");
        QImage en;
        QTRY_VERIFY(ShowsOnScreen(en = ScreenOf(FWindow.get()), FWindow.get()));
        QVERIFY(en != ko);
        QVERIFY(LooksDrawn(en, FWindow.get()));
        SaveArtifact(en, "main-en.png");
        Trigger("ChkLangKo");
    }

    void SettingsSurviveARestart()
    {
        Trigger("ChkAppend2");
        Trigger("ChkSound3");
        Trigger("ChkLangFr");
        Select("ChkSaveTo", CaptureDestination::Jpg);
        Find<QComboBox>("ChkJPEG_qual")->setCurrentIndex(4);
        FWindow.reset(); // one main window, one hot key grab
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
        FWindow->ShowMainWindow();
        QVERIFY(Find<QAction>("ChkAppend2")->isChecked());
        QVERIFY(!Find<QAction>("ChkAppend1")->isChecked());
        QVERIFY(Find<QAction>("ChkSound3")->isChecked());
        QVERIFY(Find<QAction>("ChkLangFr")->isChecked());
        QCOMPARE(Find<QComboBox>("ChkSaveTo")->currentIndex(), CaptureDestination::Jpg);
        QCOMPARE(Find<QComboBox>("ChkJPEG_qual")->currentText(), QStringLiteral("60"));
        QCOMPARE(Find<QLabel>("LblArea")->text(), Translate(QStringLiteral("캡쳐영역"), "fr"));
        Trigger("ChkAppend1");
        Trigger("ChkSound1");
        Trigger("ChkLangKo");
    }

    void PrintKeyCapturesTheMonitorUnderThePointer()
    {
        MovePointer({2600, 300});
        Key("Print");
        QTRY_COMPARE(Files(FSave), QStringList{"V-001.png"});
        QCOMPARE(QImage(FSave + "/V-001.png").size(), QSize(1280, 1024));
    }

    void HotKeyDialogStoresAndGrabs()
    {
        auto* dialog = FWindow->findChild<TFrmHotKey*>();
        QVERIFY(dialog);
        QTimer::singleShot(0, this, [&] {
            dialog->findChild<QCheckBox*>("ChkCtrl")->setChecked(true);
            dialog->findChild<QCheckBox*>("ChkShift")->setChecked(true);
            auto* keys = dialog->findChild<QComboBox*>("ChkHotKey");
            keys->setCurrentIndex(keys->findText("F5"));
            dialog->findChild<QPushButton*>("BtnYes")->click();
        });
        Trigger("N1");
        QCOMPARE(ReadSetting(TConfig(ProgramConfigPath), Setting::HotKey), 0x6074);
        QVERIFY(ConfigText().contains("hotkey=24692"));

        Key("ctrl+shift+F5");
        QTRY_COMPARE(Files(FSave), QStringList{"V-001.png"});
        Key("Print");
        // Nothing may happen: the old key gets the time a capture takes.
        QTest::qWait(300);
        QCOMPARE(Files(FSave).size(), 1);

        // A key another client holds: the box, and no grab of ours left.
        TOtherClient other;
        const xcb_keycode_t f6 = other.KeyCode(0xFFC3);
        QVERIFY(other.Grab(f6, XCB_MOD_MASK_CONTROL));
        TBoxAnswer answer;
        QTimer::singleShot(0, this, [&] {
            dialog->findChild<QCheckBox*>("ChkShift")->setChecked(false);
            auto* keys = dialog->findChild<QComboBox*>("ChkHotKey");
            keys->setCurrentIndex(keys->findText("F6"));
            dialog->findChild<QPushButton*>("BtnYes")->click();
            QTimer::singleShot(200, dialog,
                               [dialog] { dialog->findChild<QPushButton*>("BtnNo")->click(); });
        });
        Trigger("N1");
        QCOMPARE(answer.Count, 1);
        QCOMPARE(answer.Text, QStringLiteral("단축키가 다른 프로그램에서 사용중입니다."));
        // Cancel brought the stored key back.
        QCOMPARE(ReadSetting(TConfig(ProgramConfigPath), Setting::HotKey), 0x6074);
        Key("ctrl+shift+F5");
        QTRY_COMPARE(Files(FSave).size(), 2);

        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::HotKey, 44);
        QVERIFY(dialog->RegisterKey(44));
    }

    void HotKeyCodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        QTest::newRow("PrintScreen") << "PrintScreen" << 0x2C;
        QTest::newRow("DEL") << "DEL" << 0x2E;
        QTest::newRow("del") << "del" << 0x2E;
        QTest::newRow("0") << "0" << 0x30;
        QTest::newRow("1") << "1" << 0x31;
        QTest::newRow("Z") << "Z" << 0x5A;
        QTest::newRow("F12") << "F12" << 0x7B;
        QTest::newRow("not in the list") << "Home" << 0;
    }

    void HotKeyCodes()
    {
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(int(TFrmHotKey::KeyCode(text)), code);
        if (code)
            QCOMPARE(TFrmHotKey::KeyText(quint16(code | 0x6000)).toUpper(), text.toUpper());
    }

    void AreaWindows()
    {
        Select("ChkArea", CaptureArea::Region);
        TFrmArea* region = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* a = qobject_cast<TFrmArea*>(w))
                region = a;
        QVERIFY(region);
        QTRY_VERIFY(region->isVisible());
        QVERIFY(ConfigText().contains("area=1"));
        region->SetMove(300, 200);
        region->SetSize(400, 300, 0);
        QTRY_COMPARE(region->GetRect().size(), QSize(400, 300));
        Trigger("ChkMouse");
        FWindow->Start();
        Trigger("ChkMouse");
        QCOMPARE(QImage(FSave + "/V-001.png").size(), QSize(400, 300));

        // The window-control picker replaces it, and goes when the area changes.
        Select("ChkArea", CaptureArea::WindowControl);
        QTRY_VERIFY(!region->isVisible());
        auto picker = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->inherits("TFrmLine") && w->isVisible())
                    return w;
            return static_cast<QWidget*>(nullptr);
        };
        QTRY_VERIFY(picker());
        Select("ChkArea", CaptureArea::FullScreen);
        QTRY_VERIFY(!picker());
    }

    void DragSelection()
    {
        Select("ChkArea", CaptureArea::Drag);
        Trigger("ChkMouse");
        QProcess::startDetached("xdotool", {"sleep", "0.8", "mousemove", "1800", "200", "mousedown",
                                            "1", "mousemove", "1900", "260", "mousemove", "2050",
                                            "330", "mouseup", "1"});
        FWindow->Start();
        Trigger("ChkMouse");
        QCOMPARE(Files(FSave), QStringList{"V-001.png"});
        QCOMPARE(QImage(FSave + "/V-001.png").size(), QSize(250, 130));
        QCOMPARE(FWindow->Status(), stIdle);

        // Escape cancels: no file, no box, and the controller is free again.
        QProcess::startDetached("xdotool", {"sleep", "0.8", "key", "Escape"});
        FWindow->Start();
        QCOMPARE(Files(FSave).size(), 1);
        QCOMPARE(FWindow->Status(), stIdle);
    }

    void FloatingWindowAtTheCapturedPlace()
    {
        TTarget target(QRect(500, 400, 200, 120), QColor(250, 200, 0));
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        target.activateWindow();
        QTRY_VERIFY(target.isActiveWindow());
        Select("ChkArea", CaptureArea::ActiveWindow);
        Select("ChkSaveTo", CaptureDestination::Floating);
        FWindow->Start();
        QPointer<TFrmFloating> floating;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<TFrmFloating*>(w); f && f->isVisible())
                floating = f;
        QVERIFY(floating);
        QTRY_COMPARE(floating->geometry().topLeft(), target.frameGeometry().topLeft());
        QCOMPARE(floating->Picture().size(), target.frameGeometry().size());
        QVERIFY(Files(FSave).isEmpty());
        floating->BtnDeleteAll->trigger();
        QTRY_VERIFY(!floating || !floating->isVisible());
    }

    void SaveToOptions()
    {
        auto* saveTo = Find<QComboBox>("ChkSaveTo");
        Select("ChkSaveTo", CaptureDestination::Jpg);
        QCOMPARE(saveTo->width(), 82);
        QVERIFY(Find<QComboBox>("ChkJPEG_qual")->isVisible());
        Select("ChkSaveTo", CaptureDestination::Png);
        QCOMPARE(saveTo->width(), 145);
        QVERIFY(!Find<QComboBox>("ChkJPEG_qual")->isVisible());

        // No recognition languages: TXT is refused with its own box.
        TBoxAnswer answer;
        Select("ChkSaveTo", CaptureDestination::Txt);
        QCOMPARE(answer.Count, 1);
        QCOMPARE(saveTo->currentIndex(), CaptureDestination::Png);
        QVERIFY(ConfigText().contains("saveto=0"));
    }

    void FullScreenCapturesTheMonitorUnderThePointer()
    {
        Trigger("ChkMouse"); // off
        MovePointer({2500, 500});
        FWindow->Start();
        QStringList files = Files(FSave);
        QCOMPARE(files, QStringList{"V-001.png"});
        QImage right(FSave + "/V-001.png");
        QCOMPARE(right.size(), QSize(1280, 1024));

        MovePointer({100, 100});
        FWindow->Start();
        QCOMPARE(QImage(FSave + "/V-002.png").size(), QSize(1920, 1080));
        Trigger("ChkMouse"); // on again
        QCOMPARE(FWindow->Status(), stIdle);
    }

    void ActiveWindowByItsVisibleFrame()
    {
        TTarget target(QRect(400, 300, 300, 200), QColor(0, 200, 0));
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        target.activateWindow();
        QTRY_VERIFY(target.isActiveWindow());
        QVERIFY(WindowManagerRoundTrip());
        Trigger("ChkMouse");
        Select("ChkArea", CaptureArea::ActiveWindow);
        FWindow->Start();
        Trigger("ChkMouse");
        const QImage shot(FSave + "/V-001.png");
        QCOMPARE(shot.size(), target.frameGeometry().size());
        const QPoint inside = target.geometry().topLeft() - target.frameGeometry().topLeft();
        QCOMPARE(shot.pixelColor(inside + QPoint(50, 50)), QColor(0, 200, 0));
        QCOMPARE(shot.pixelColor(inside + QPoint(15, 15)), QColor(0, 0, 255));
    }

    void WindowUnderTheCursorWithTheCursorDrawn()
    {
        TTarget target(QRect(900, 300, 200, 150), QColor(200, 0, 0));
        target.setCursor(Qt::CrossCursor);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        MovePointer({1000, 375});
        Settle();
        Select("ChkArea", CaptureArea::WindowControl);
        FWindow->Start();
        const QImage with(FSave + "/V-001.png");
        QCOMPARE(with.size(), target.frameGeometry().size());
        const QPoint cursorInShot = QPoint(1000, 375) - target.frameGeometry().topLeft();
        QVERIFY(with.pixelColor(cursorInShot) != QColor(200, 0, 0));

        Trigger("ChkMouse");
        FWindow->Start();
        Trigger("ChkMouse");
        const QImage without(FSave + "/V-002.png");
        QCOMPARE(without.pixelColor(cursorInShot), QColor(200, 0, 0));
    }

    void JpegQualityFromTheSelector()
    {
        Select("ChkSaveTo", CaptureDestination::Jpg);
        Find<QComboBox>("ChkJPEG_qual")->setCurrentIndex(3); // "70"
        FWindow->Start();
        QCOMPARE(JpegFirstQuant(FSave + "/V-001.jpg"), (16 * 60 + 50) / 100);
        Find<QComboBox>("ChkJPEG_qual")->setCurrentIndex(-1);
        FWindow->Start();
        QCOMPARE(JpegFirstQuant(FSave + "/V-002.jpg"), (16 * 20 + 50) / 100);
    }

    void EveryExistingFileDestination_data()
    {
        QTest::addColumn<int>("destination");
        QTest::addColumn<QString>("file");
        QTest::newRow("png") << CaptureDestination::Png << "V-001.png";
        QTest::newRow("gif") << CaptureDestination::Gif << "V-001.gif";
        QTest::newRow("bmp") << CaptureDestination::Bmp << "V-001.bmp";
        QTest::newRow("webp") << CaptureDestination::WebP << "V-001.webp";
    }

    void EveryExistingFileDestination()
    {
        QFETCH(int, destination);
        QFETCH(QString, file);
        Select("ChkSaveTo", destination);
        FWindow->Start();
        QCOMPARE(Files(FSave), QStringList{file});
        QImageReader reader(FSave + '/' + file);
        if (reader.canRead()) // Qt may lack a WebP reader; the writer's tests cover it
            QCOMPARE(reader.size(), QSize(1920, 1080));
    }

    void ClipboardAndAutomaticCopy()
    {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText("before");
        Select("ChkSaveTo", CaptureDestination::Clipboard);
        FWindow->Start();
        QTRY_COMPARE(clipboard->image().size(), QSize(1920, 1080));
        QVERIFY(Files(FSave).isEmpty());

        clipboard->setText("before");
        Select("ChkSaveTo", CaptureDestination::Png);
        Trigger("ChkAutoCopy");
        FWindow->Start();
        Trigger("ChkAutoCopy");
        QCOMPARE(Files(FSave), QStringList{"V-001.png"});
        QTRY_COMPARE(clipboard->image().size(), QSize(1920, 1080));
    }

    void UnwritableFolderReportsAndRecovers()
    {
        const QString missing = QDir::homePath() + "/gone";
        QSettings(TConfig::FileFor(ProgramConfigPath), QSettings::IniFormat)
            .setValue("path", missing);
        // The folder is read at start; reach it the way the user does.
        FWindow.reset();
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
        FWindow->ShowMainWindow();
        {
            // A trigger that arrives while the first capture is still busy
            // (its failure box is up) is answered but dropped.
            TBoxAnswer answer;
            int busyReply = -1;
            TStatus busyStatus = stIdle;
            answer.OnBox = [&] {
                busyStatus = FWindow->Status();
                busyReply = HandleCommand(
                    *FWindow, ParseCommandRequest("WM_COPYDATA 1\n{\"command\":\"capture\"}"));
            };
            FWindow->Start();
            QCOMPARE(answer.Count, 1);
            QCOMPARE(busyStatus, stBusy);
            QCOMPARE(busyReply, 1);
            QVERIFY(answer.Text.startsWith(QStringLiteral("캡쳐가 실패하였습니다.\n\n")));
            QCOMPARE(answer.Icon, QMessageBox::Critical);
        }
        QCOMPARE(FWindow->Status(), stIdle);
        QDir().mkpath(missing);
        FWindow->Start();
        QCOMPARE(Files(missing), QStringList{"V-001.png"});
        QDir(missing).removeRecursively();
        QSettings(TConfig::FileFor(ProgramConfigPath), QSettings::IniFormat)
            .setValue("path", FSave);
        FWindow.reset();
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
        FWindow->ShowMainWindow();
    }

    void UploadDestinationThroughTheService()
    {
        KeepRequestsLocal();
        QTemporaryDir storage;
        TServiceProcess service;
        QVERIFY(service.Start({"--storage", storage.path()}));
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::UploadHost, service.Host());
        TOpenedUrls opened;

        Select("ChkSaveTo", CaptureDestination::Upload);
        Trigger("ChkMouse");
        FWindow->Start();
        Trigger("ChkMouse");
        QCOMPARE(FWindow->Status(), stIdle);
        QCOMPARE(opened.Urls.size(), 1);
        const QUrl link = opened.Urls.first();
        QCOMPARE(link.authority(), service.Host());
        QVERIFY2(link.path().startsWith("/i/") && link.path().endsWith(".png"),
                 qPrintable(link.toString()));
        QVERIFY(Files(FSave).isEmpty());

        // A refused connection shows the upload's failure box; the controller is free again.
        service.Stop();
        TBoxAnswer answer;
        FWindow->Start();
        QCOMPARE(answer.Count, 1);
        QCOMPARE(answer.Text, QStringLiteral("이미지 업로드를 실패하였습니다."));
        QCOMPARE(FWindow->Status(), stIdle);
        WriteSetting(config, Setting::UploadHost, Setting::UploadHost.Default());
    }

    void UnsupportedCombinationIsRefused()
    {
        Select("ChkArea", CaptureArea::Drag);
        Select("ChkSaveTo", CaptureDestination::Mp4);
        TBoxAnswer answer;
        FWindow->Start();
        QCOMPARE(answer.Count, 1);
        QCOMPARE(answer.Text, QStringLiteral("지원하지 않는 캡쳐영역입니다."));
        QVERIFY(Files(FSave).isEmpty());
    }

    void ColourPicker()
    {
        TTarget target(QRect(1300, 600, 120, 120), QColor(0x12, 0x34, 0x56));
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        Select("ChkArea", CaptureArea::ColorPicker);
        QCOMPARE(Find<QStackedWidget>("PnlMain")->currentWidget()->objectName(),
                 QStringLiteral("Card2"));
        MovePointer({1360, 680});
        QTRY_COMPARE(Find<QLabel>("LblColor")->text(), QStringLiteral("123456"));
        FWindow->Start();
        FWindow->Start();
        auto* list = Find<QListWidget>("LstColor");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("123456"));
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("123456"));
        QVERIFY(Files(FSave).isEmpty());

        list->setCurrentRow(0);
        Trigger("N7");
        QCOMPARE(list->count(), 1);
        Select("ChkArea", CaptureArea::FullScreen);
        QCOMPARE(Find<QStackedWidget>("PnlMain")->currentWidget()->objectName(),
                 QStringLiteral("Card1"));
    }

    // When the capture sound plays, told by what has happened at that moment.
    void CaptureSounds_data()
    {
        QTest::addColumn<QString>("sound");
        QTest::addColumn<int>("area");
        QTest::addColumn<int>("destination");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("plays");
        const QString before = "files=0 overlay=0 colours=0 links=0";
        QTest::newRow("none") << "ChkSound1" << CaptureArea::FullScreen << CaptureDestination::Png
                              << "" << QStringList();
        QTest::newRow("before") << "ChkSound2" << CaptureArea::FullScreen << CaptureDestination::Png
                                << "" << QStringList{before};
        QTest::newRow("after") << "ChkSound3" << CaptureArea::FullScreen << CaptureDestination::Png
                               << "" << QStringList{"files=1 overlay=0 colours=0 links=0"};
        QTest::newRow("before a drag: once it is selected")
            << "ChkSound2" << CaptureArea::Drag << CaptureDestination::Png << "drag"
            << QStringList{"files=0 overlay=1 colours=0 links=0"};
        QTest::newRow("cancelled drag: none")
            << "ChkSound2" << CaptureArea::Drag << CaptureDestination::Png << "escape"
            << QStringList();
        QTest::newRow("after a drag")
            << "ChkSound3" << CaptureArea::Drag << CaptureDestination::Png << "drag"
            << QStringList{"files=1 overlay=0 colours=0 links=0"};
        QTest::newRow("before a colour") << "ChkSound2" << CaptureArea::ColorPicker
                                         << CaptureDestination::Png << "" << QStringList{before};
        QTest::newRow("after a colour: none") << "ChkSound3" << CaptureArea::ColorPicker
                                              << CaptureDestination::Png << "" << QStringList();
        QTest::newRow("after: before the upload")
            << "ChkSound3" << CaptureArea::FullScreen << CaptureDestination::Upload << ""
            << QStringList{before};
    }

    void CaptureSounds()
    {
        QFETCH(QString, sound);
        QFETCH(int, area);
        QFETCH(int, destination);
        QFETCH(QString, input);
        QFETCH(QStringList, plays);

        auto* colours = Find<QListWidget>("LstColor");
        colours->clear();
        KeepRequestsLocal();
        QTemporaryDir storage;
        TServiceProcess service;
        TConfig config(ProgramConfigPath);
        if (destination == CaptureDestination::Upload) {
            QVERIFY(service.Start({"--storage", storage.path()}));
            WriteSetting(config, Setting::UploadHost, service.Host());
        }
        TOpenedUrls opened;
        auto* log = new TSoundLog([&] {
            bool overlay = false;
            for (QWidget* w : QApplication::topLevelWidgets())
                overlay = overlay || w->inherits("TFrmDrag");
            return QStringLiteral("files=%1 overlay=%2 colours=%3 links=%4")
                .arg(Files(FSave).size())
                .arg(int(overlay))
                .arg(colours->count())
                .arg(opened.Urls.size());
        });
        std::unique_ptr<TSound> real = std::exchange(FPlatform.Sound, std::unique_ptr<TSound>(log));
        const auto restore = qScopeGuard([&] {
            FPlatform.Sound = std::move(real);
            Trigger("ChkSound1");
            WriteSetting(config, Setting::UploadHost, Setting::UploadHost.Default());
        });

        Trigger(sound.toLatin1().constData());
        Select("ChkArea", area);
        Select("ChkSaveTo", destination);
        if (input == "drag")
            QProcess::startDetached("xdotool",
                                    {"sleep", "0.8", "mousemove", "1800", "200", "mousedown", "1",
                                     "mousemove", "1900", "260", "mouseup", "1"});
        else if (input == "escape")
            QProcess::startDetached("xdotool", {"sleep", "0.8", "key", "Escape"});
        FWindow->Start();
        QCOMPARE(log->Plays, plays);
        QCOMPARE(FWindow->Status(), stIdle);
        if (destination == CaptureDestination::Upload)
            QCOMPARE(opened.Urls.size(), 1);
    }

    void QuitAsksFirst_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("quits");
        QTest::newRow("No") << int(QMessageBox::No) << false;
        QTest::newRow("Yes") << int(QMessageBox::Yes) << true;
    }

    void QuitAsksFirst()
    {
        QFETCH(int, button);
        QFETCH(bool, quits);
        FWindow->ShowMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        {
            TBoxAnswer answer{QMessageBox::StandardButton(button)};
            Trigger("N10");
            QCOMPARE(answer.Count, 1);
            QCOMPARE(answer.Text, QStringLiteral("정말 종료하시겠습니까?"));
            QCOMPARE(answer.Icon, QMessageBox::Question);
        }
        QCOMPARE(FWindow->CanClose(), quits);
        QCOMPARE(FWindow->isVisible(), !quits);
        QCOMPARE(FWindow->Tray()->isVisible(), !quits);
        if (quits) {
            FWindow.reset(); // one main window, one hot key grab
            FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
            FWindow->ShowMainWindow();
        }
    }

    void RunAtStartUp()
    {
        const QString entry =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            "/autostart/Vorantu.desktop";
        QFile::remove(entry);
        Trigger("ChkRegStart");
        QVERIFY(Find<QAction>("ChkRegStart")->isChecked());
        QVERIFY(QFile::exists(entry));
        Trigger("ChkRegStart");
        QVERIFY(!Find<QAction>("ChkRegStart")->isChecked());
        QVERIFY(!QFile::exists(entry));

        // A file where the autostart folder belongs: the entry cannot be
        // written, the user is told and the item stays unticked.
        const QString folder = QFileInfo(entry).path();
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        {
            TBoxAnswer answer;
            Trigger("ChkRegStart");
            QCOMPARE(answer.Count, 1);
            QCOMPARE(
                answer.Text,
                QStringLiteral("잘못된 백신 또는 악성 프로그램이 부팅시 실행을 차단하였습니다."));
            QCOMPARE(answer.Icon, QMessageBox::Critical);
        }
        QVERIFY(!Find<QAction>("ChkRegStart")->isChecked());
        QVERIFY(QFile::remove(folder));
    }

    // Without an encoder MP4 is refused: the box names it, its help page
    // opens and the destination goes back to PNG.
    void MissingEncoder()
    {
        QTemporaryDir empty;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", empty.path().toLocal8Bit());
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::ServiceUrl, QStringLiteral("http://svc.example/"));
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            WriteSetting(config, Setting::ServiceUrl, Setting::ServiceUrl.Default());
        });
        TOpenedUrls opened;
        TBoxAnswer answer;
        Select("ChkSaveTo", CaptureDestination::Mp4);
        QCOMPARE(answer.Count, 1);
        QCOMPARE(answer.Text, QStringLiteral("\"ffmpeg\" 파일이 없습니다."));
        QCOMPARE(opened.Urls,
                 QList<QUrl>{QUrl("http://svc.example/help?app=vorantu&msg=ffmpegnotfound")});
        QCOMPARE(Find<QComboBox>("ChkSaveTo")->currentIndex(), CaptureDestination::Png);
        QVERIFY(ConfigText().contains("saveto=0"));
    }

    // "about" opens the product page with the four-part version, whatever
    // blanks and slashes the stored base address carries.
    void AboutOpensTheProductPage()
    {
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::ServiceUrl, QStringLiteral(" http://svc.example// "));
        const auto restore = qScopeGuard(
            [&] { WriteSetting(config, Setting::ServiceUrl, Setting::ServiceUrl.Default()); });
        TOpenedUrls opened;
        QCOMPARE(
            HandleCommand(*FWindow, ParseCommandRequest("WM_COPYDATA 1\n{\"command\":\"about\"}")),
            1);
        QCOMPARE(opened.Urls.size(), 1);
        QCOMPARE(opened.Urls.first().toString(),
                 QStringLiteral("http://svc.example/vorantu?v=" VORANTU_VERSION));
        QVERIFY(QRegularExpression(R"(v=\d+\.\d+\.\d+\.\d+$)")
                    .match(opened.Urls.first().toString())
                    .hasMatch());
    }

    // Stored values the menus have no item for: shown as the program acts
    // on them, and left as they are in the store.
    void UnknownStoredValues()
    {
        {
            TConfig config(ProgramConfigPath);
            WriteSetting(config, Setting::Language, QStringLiteral("de"));
            WriteSetting(config, Setting::Append, 7);
        }
        FWindow.reset(); // one main window, one hot key grab
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
        FWindow->ShowMainWindow();
        const auto restore = qScopeGuard([&] {
            Trigger("ChkAppend1");
            Trigger("ChkLangKo");
        });
        for (QAction* item : Find<QMenu>("N11")->actions())
            QCOMPARE(item->isChecked(), item->objectName() == "ChkLangEn");
        QCOMPARE(Find<QLabel>("LblArea")->text(), QStringLiteral("Capture"));
        QVERIFY(ConfigText().contains("language=de"));
        for (const char* item : {"ChkAppend1", "ChkAppend2", "ChkAppend3"})
            QVERIFY2(!Find<QAction>(item)->isChecked(), item);
        QVERIFY(ConfigText().contains("append=7"));
        FWindow->Start();
        const QStringList files = Files(FSave);
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(R"(^V-\d{8}-\d{9}\.png$)").match(files.first()).hasMatch(),
                 qPrintable(files.first()));
    }

    void CommandMessages_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("reply");
        QTest::addColumn<int>("files");
        QTest::newRow("capture") << QByteArray("WM_COPYDATA 1\n{\"command\":\"capture\"}") << 1
                                 << 1;
        QTest::newRow("capital C")
            << QByteArray("WM_COPYDATA 1\n{\"command\":\"Capture\"}") << 0 << 0;
        QTest::newRow("wrong dwData")
            << QByteArray("WM_COPYDATA 2\n{\"command\":\"capture\"}") << 0 << 0;
        QTest::newRow("missing member")
            << QByteArray("WM_COPYDATA 1\n{\"cmd\":\"capture\"}") << 0 << 0;
        QTest::newRow("not a string")
            << QByteArray("WM_COPYDATA 1\n{\"command\":[\"capture\"]}") << 0 << 0;
        QTest::newRow("array") << QByteArray("WM_COPYDATA 1\n[\"capture\"]") << 0 << 0;
        QTest::newRow("broken json")
            << QByteArray("WM_COPYDATA 1\n{\"command\":\"capture\"") << 0 << 0;
        QTest::newRow("text after NUL ignored")
            << QByteArray("WM_COPYDATA 1\n{\"command\":\"capture\"}\0garbage", 44) << 1 << 1;
        QTest::newRow("end of session") << QByteArray("WM_QUERYENDSESSION\n") << 1 << 0;
    }

    void CommandMessages()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, reply);
        QFETCH(int, files);
        const bool endsSession = request.startsWith("WM_QUERYENDSESSION");
        QCOMPARE(HandleCommand(*FWindow, ParseCommandRequest(request)), reply);
        QCOMPARE(Files(FSave).size(), files);
        if (endsSession) {
            QVERIFY(FWindow->CanClose());
            FWindow.reset(); // one main window, one hot key grab
            FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
            FWindow->ShowMainWindow();
        }
    }

    void CloseOnlyHides()
    {
        FWindow->ShowMainWindow();
        FWindow->close();
        QVERIFY(!FWindow->isVisible());
        QVERIFY(FWindow->Tray()->isVisible());
        HandleCommand(*FWindow, ParseCommandRequest("WM_USER 1\n"));
        QTRY_VERIFY(FWindow->isVisible());
    }
};

VORANTU_TEST_MAIN(TTestMain)
#include "tst_Main.moc"
