#include "TestEnvironment.h"
#include "platform/EffectSound.h"
#include "platform/NativeWindow.h"
#include "platform/Platform.h"
#include "platform/Session.h"
#include "platform/null/NullPlatform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSoundEffect>
#include <QWidget>
#include <QtEndian>

namespace {

// Display-server answers a test chooses; everything it is not told declines.
class TFakeNativeWindows : public TNativeWindows
{
public:
    std::optional<QList<QRect>> FStruts;
    std::optional<bool> FFocus;
    int FShapes = 0;

    std::optional<QPoint> Origin(const QWidget*) override { return std::nullopt; }
    std::optional<QRect> Rect(const QWidget*) override { return std::nullopt; }
    bool Place(QWidget*, const QRect&) override { return false; }
    bool SetShape(QWidget*, const QRegion&) override { return ++FShapes, false; }
    std::optional<QList<QRect>> Struts() override { return FStruts; }
    std::optional<bool> Focus(QWidget*) override { return FFocus; }
    bool CompositorRunning() override { return true; }
};

} // namespace

// The loader off a desktop, the stand-ins it gives, and the capture sound.
class TTestPlatform : public QObject
{
    Q_OBJECT
private slots:
    void OffscreenGivesTheStandIns()
    {
        TPlatform platform = LoadPlatform();
        QVERIFY(dynamic_cast<TNullScreen*>(platform.Screen.get()));
        QVERIFY(dynamic_cast<TNullWindows*>(platform.Windows.get()));
        QVERIFY(dynamic_cast<TNullSound*>(platform.Sound.get()));
        QVERIFY(dynamic_cast<TNullNativeWindows*>(platform.NativeWindows.get()));
        QVERIFY(platform.CreateHotKey);
        QObject owner;
        const std::unique_ptr<TGlobalHotKey> hotKey = platform.CreateHotKey(&owner);
        QVERIFY(dynamic_cast<TNullGlobalHotKey*>(hotKey.get()));
        QCOMPARE(hotKey->parent(), &owner);
    }

    void QtPlatformForTheSession_data()
    {
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("choice");
        const QString none;
        QTest::newRow("X11 session")
            << none << "x11"
            << ":0" << none << QStringList() << int(TQtPlatformChoice::AsIs);
        QTest::newRow("Wayland with XWayland")
            << "wayland-0" << none << ":1" << none << QStringList() << int(TQtPlatformChoice::Xcb);
        QTest::newRow("Wayland by session type only")
            << none << "wayland"
            << ":1" << none << QStringList() << int(TQtPlatformChoice::Xcb);
        QTest::newRow("Wayland without XWayland")
            << "wayland-0" << none << none << none << QStringList()
            << int(TQtPlatformChoice::NoXWayland);
        QTest::newRow("the user chose by variable")
            << "wayland-0" << none << none << "wayland" << QStringList()
            << int(TQtPlatformChoice::AsIs);
        QTest::newRow("the user chose by argument")
            << "wayland-0" << none << none << none << QStringList{"-platform", "wayland"}
            << int(TQtPlatformChoice::AsIs);
    }

    void QtPlatformForTheSession()
    {
        QFETCH(QString, wayland);
        QFETCH(QString, sessionType);
        QFETCH(QString, display);
        QFETCH(QString, chosen);
        QFETCH(QStringList, arguments);
        QFETCH(int, choice);
        const QByteArrayList names{"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "DISPLAY",
                                   "QT_QPA_PLATFORM"};
        QList<QByteArray> saved;
        for (const QByteArray& name : names)
            saved.append(qgetenv(name.constData()));
        auto restore = qScopeGuard([&] {
            for (int i = 0; i < names.size(); ++i)
                qputenv(names[i].constData(), saved[i]);
        });
        const QStringList values{wayland, sessionType, display, chosen};
        for (int i = 0; i < names.size(); ++i)
            qputenv(names[i].constData(), values[i].toUtf8());
        QByteArrayList storage{"vorantu"};
        for (const QString& argument : arguments)
            storage.append(argument.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& argument : storage)
            argv.push_back(argument.data());
        QCOMPARE(int(ChooseQtPlatform(int(argv.size()), argv.data())), choice);
    }

    void WorkAreaTakesEachPanelsEdge_data()
    {
        // The offscreen screen: 800x800 at the origin.
        QTest::addColumn<QList<QRect>>("struts");
        QTest::addColumn<QRect>("area");
        QTest::newRow("no panel") << QList<QRect>{} << QRect(0, 0, 800, 800);
        QTest::newRow("left dock") << QList<QRect>{{0, 0, 50, 800}} << QRect(50, 0, 750, 800);
        QTest::newRow("right dock") << QList<QRect>{{760, 0, 40, 800}} << QRect(0, 0, 760, 800);
        QTest::newRow("top and bottom panels")
            << QList<QRect>{{0, 0, 800, 24}, {0, 770, 800, 30}} << QRect(0, 24, 800, 746);
        QTest::newRow("panel of another monitor")
            << QList<QRect>{{800, 0, 1920, 30}} << QRect(0, 0, 800, 800);
        QTest::newRow("more than half the screen")
            << QList<QRect>{{0, 0, 500, 800}} << QRect(0, 0, 800, 800);
    }
    void WorkAreaTakesEachPanelsEdge()
    {
        QFETCH(QList<QRect>, struts);
        QFETCH(QRect, area);
        QScreen* screen = QGuiApplication::primaryScreen();
        QCOMPARE(screen->geometry(), QRect(0, 0, 800, 800));
        TFakeNativeWindows fake;
        fake.FStruts = struts;
        UseNativeWindows(&fake);
        QCOMPARE(WorkArea(screen), area);
    }

    void DeclinedRequestsFallBackToQt()
    {
        QWidget window;
        window.setGeometry(10, 20, 100, 80);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        {
            TFakeNativeWindows fake;
            UseNativeWindows(&fake);
            QVERIFY(CompositorRunning());
            QCOMPARE(WorkArea(window.screen()), window.screen()->availableGeometry());
            QCOMPARE(WindowRectOnScreen(&window), QRect(10, 20, 100, 80));
            SetWindowShape(&window, QRegion(0, 0, 30, 30));
            QCOMPARE(fake.FShapes, 1);
            QCOMPARE(window.mask(), QRegion(0, 0, 30, 30));
            QVERIFY(FocusWindow(&window));
            fake.FFocus = false;
            QVERIFY(!FocusWindow(&window));
        }
        // A destroyed one is no longer asked.
        QVERIFY(!CompositorRunning());
    }

    void NullScreenGrabsItsPattern()
    {
        TNullScreen screen;
        QCOMPARE(screen.Monitors(), QList<QRect>{QRect(0, 0, 1920, 1080)});
        // Reaches past the right and bottom edge: those pixels are black,
        // whatever the picture held before.
        QImage target(40, 30, QImage::Format_RGB32);
        target.fill(0xFF010203);
        QVERIFY(screen.Grab(QRect(1900, 1060, 40, 30), target));
        QCOMPARE(target.pixel(0, 0), TNullScreen::PatternAt({1900, 1060}));
        QCOMPARE(target.pixel(19, 19), TNullScreen::PatternAt({1919, 1079}));
        QCOMPARE(target.pixel(20, 0), 0xFF000000u);
        QCOMPARE(target.pixel(0, 20), 0xFF000000u);
        target.fill(0xFF010203);
        QVERIFY(screen.Grab(QRect(1920, 0, 10, 10), target));
        QCOMPARE(target.pixel(9, 9), 0xFF000000u);
        QCOMPARE(target.pixel(10, 10), 0xFF010203u);
        QVERIFY(!screen.Grab(QRect(0, 0, 41, 30), target));
        QCOMPARE(screen.Pixel({5, 7}), std::optional<QRgb>(TNullScreen::PatternAt({5, 7})));
        QCOMPARE(screen.Pixel({-1, 7}), std::nullopt);
    }

    void NullHotKeyFiresOnlyWhenPressed()
    {
        TNullGlobalHotKey hotKey;
        QSignalSpy activated(&hotKey, &TGlobalHotKey::Activated);
        hotKey.Press();
        QVERIFY(!hotKey.Register(0x4000 | 0x7C)); // F13 is not in the list
        QVERIFY(hotKey.Register(0x6074));
        hotKey.Press();
        hotKey.Unregister();
        hotKey.Press();
        QCOMPARE(activated.count(), 1);
    }

    void SoundIsTheStatedWave()
    {
        QFile file(":/SOUND");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wave = file.readAll();
        QVERIFY(wave.size() >= 44);
        auto u16 = [&](int at) {
            return qFromLittleEndian<quint16>(wave.constData() + at);
        };
        auto u32 = [&](int at) {
            return qFromLittleEndian<quint32>(wave.constData() + at);
        };
        QCOMPARE(wave.first(4), QByteArray("RIFF"));
        QCOMPARE(wave.sliced(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(u16(20), quint16(1));     // PCM
        QCOMPARE(u16(22), quint16(1));     // one channel
        QCOMPARE(u32(24), quint32(11025)); // samples per second
        QCOMPARE(u16(34), quint16(8));     // bits per sample
        QCOMPARE(wave.sliced(36, 4), QByteArray("data"));
        QCOMPARE(u32(40), quint32(5480));
        QCOMPARE(wave.size(), 44 + 5480);

        // Qt Multimedia reads it, device or not.
        QSoundEffect effect;
        effect.setSource(QUrl("qrc:/SOUND"));
        QTRY_COMPARE(effect.status(), QSoundEffect::Ready);
    }

    void SoundNeverBlocks()
    {
        // This machine has no audio output: Play stays silent and returns at once.
        TEffectSound sound;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 3; ++i)
            sound.Play();
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    }
};

VORANTU_TEST_MAIN(TTestPlatform)
#include "tst_Platform.moc"
