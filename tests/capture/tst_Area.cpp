#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/Area.h"
#include "capture/Capture.h"
#include "capture/Size.h"
#include "platform/Platform.h"
#include "services/Config.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <memory>

using namespace TestDesktop;

namespace {

class TOwner : public TAreaOwner
{
public:
    bool Recording = false;
    int Stops = 0;
    int Closes = 0;
    bool IsRecording() const override { return Recording; }
    void RecordStop() override
    {
        ++Stops;
        Recording = false;
    }
    void AreaClosed() override { ++Closes; }
};

// A window of known pixels that counts the presses it receives.
class TBehind : public TPictureWindow
{
public:
    using TPictureWindow::TPictureWindow;
    int Presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++Presses; }
};

void Store(int left, int top, int width, int height)
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::Left, left);
    WriteSetting(config, Setting::Top, top);
    WriteSetting(config, Setting::Width, width);
    WriteSetting(config, Setting::Height, height);
}

QRect Stored()
{
    const TConfig config(ProgramConfigPath);
    return QRect(ReadSetting(config, Setting::Left), ReadSetting(config, Setting::Top),
                 ReadSetting(config, Setting::Width), ReadSetting(config, Setting::Height));
}

} // namespace

class TTestArea : public QObject
{
    Q_OBJECT
private:
    TPlatform FPlatform;
    TOwner FOwner;
    std::unique_ptr<TFrmSize> FSize;
    std::unique_ptr<TFrmArea> FArea;

    template <typename T> T* Find(QObject* parent, const char* name)
    {
        T* child = parent->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no component %s", name);
        return child;
    }

    // A new region window as at program start, shown on the desktop.
    void Open()
    {
        FArea.reset();
        FArea = std::make_unique<TFrmArea>(*FSize, FOwner);
        FArea->show();
        QVERIFY(QTest::qWaitForWindowExposed(FArea.get()));
        QVERIFY(WindowManagerRoundTrip());
    }

    // Where the window manager really has the window (what a capture sees).
    QRect OnScreen() { return FPlatform.Windows->VisibleFrame(FArea->winId()).value_or(QRect()); }

    // The border and the header in physical pixels at the scale Qt applies:
    // 6 and 25 at 96 DPI.
    QSize Chrome() const
    {
        const qreal ratio = FArea->devicePixelRatioF();
        return QSize(qRound(6 * ratio), qRound(25 * ratio));
    }
    // The window where it should be; at a fractional scale the window
    // manager may keep it a pixel narrower or lower on the right and the
    // bottom, which only the border shows (the hole is cut exactly).
    bool Near(const QRect& actual, const QRect& expected) const
    {
        const qreal ratio = FArea->devicePixelRatioF();
        const int slack = ratio == std::floor(ratio) ? 0 : 1;
        return actual.topLeft() == expected.topLeft() &&
               qAbs(actual.width() - expected.width()) <= slack &&
               qAbs(actual.height() - expected.height()) <= slack;
    }
    // The outer rectangle around a physical interior.
    QRect Around(const QRect& interior) const
    {
        const int b = Chrome().width();
        return interior.adjusted(-b, -b - Chrome().height(), b, b);
    }

private slots:
    void initTestCase()
    {
        FPlatform = LoadPlatform();
        FSize = std::make_unique<TFrmSize>();
        MovePointer({3100, 1000});
    }

    void cleanupTestCase()
    {
        FArea.reset();
        FSize.reset();
        FPlatform = TPlatform();
    }

    void init()
    {
        // A window still open would store its geometry over the test's.
        FArea.reset();
        FOwner = TOwner();
        QFile::remove(TConfig::FileFor(ProgramConfigPath));
    }

    void OpensCentredOnThePrimaryMonitorAtFirstStart()
    {
        Open();
        // The header is 25 pixels at 96 DPI in Qt's units; everything the
        // user sees and stores is physical pixels at any scale.
        QCOMPARE(FArea->HeaderHeight(), 25);
        const QRect interior(720 + Chrome().width(), 360 + Chrome().width() + Chrome().height(),
                             480, 360);
        QCOMPARE(FArea->GetRect(), interior);
        QTRY_VERIFY(Near(OnScreen(), Around(interior)));
        QCOMPARE(Stored(), QRect(720, 360, 480, 360));
        QCOMPARE(Find<QLabel>(FArea.get(), "LblSize")->text(), QStringLiteral("480x360"));
        QCOMPARE(FArea->windowTitle(), QStringLiteral("영역지정 - Vorantu"));
    }

    void LoadsOrResetsTheStoredGeometry_data()
    {
        QTest::addColumn<QRect>("stored");
        QTest::addColumn<QRect>("interior");
        const QRect centred(726, 391, 480, 360);
        QTest::newRow("inside the desktop") << QRect(100, 50, 300, 200) << QRect(106, 81, 300, 200);
        QTest::newRow("on the second monitor")
            << QRect(2500, 600, 400, 300) << QRect(2506, 631, 400, 300);
        QTest::newRow("touching the left edge") << QRect(0, 50, 300, 200) << centred;
        QTest::newRow("touching the top edge") << QRect(100, 0, 300, 200) << centred;
        QTest::newRow("reaching the right edge") << QRect(2900, 50, 300, 200) << centred;
        QTest::newRow("below the desktop") << QRect(100, 900, 300, 200) << centred;
    }
    void LoadsOrResetsTheStoredGeometry()
    {
        QFETCH(QRect, stored);
        QFETCH(QRect, interior);
        Store(stored.left(), stored.top(), stored.width(), stored.height());
        TFrmArea area(*FSize, FOwner);
        QCOMPARE(area.GetRect(), interior);
        // A reset is stored at once.
        QCOMPARE(Stored(), QRect(interior.topLeft() - QPoint(6, 31), interior.size()));
    }

    void GeometrySurvivesARestart()
    {
        Open();
        FArea->SetMove(300, 200);
        FArea->SetSize(500, 300, 0);
        const QRect interior = FArea->GetRect();
        QCOMPARE(interior.size(), QSize(500, 300));
        QCOMPARE(Around(interior).topLeft(), QPoint(300, 200));
        QTRY_VERIFY(Near(OnScreen(), Around(interior)));
        FArea.reset();
        QCOMPARE(Stored(), QRect(300, 200, 500, 300));
        Open();
        QCOMPARE(FArea->GetRect(), interior);
        QTRY_VERIFY(Near(OnScreen(), Around(interior)));
    }

    // The hole is not part of the window: a click there reaches the window
    // below, and a capture of GetRect holds exactly what lies below.
    void TheInsideIsARealHole()
    {
        Store(400, 300, 300, 200);
        TBehind behind(QRect(350, 250, 500, 400), QImage(), Managed);
        behind.show();
        QVERIFY(QTest::qWaitForWindowExposed(&behind));
        QTRY_VERIFY(FPlatform.Windows->VisibleFrame(behind.winId())
                        .value_or(QRect())
                        .contains(QRect(390, 290, 420, 320)));
        TCapture capture(*FPlatform.Screen, *FPlatform.Windows);
        capture.FShowCursor = false;
        QImage before;
        QTRY_VERIFY((capture.Capture(before, QRect(350, 250, 500, 400)),
                     before.pixel(20, 20) == qRgb(255, 255, 255)));

        Open();
        FArea->raise();
        Settle();
        QVERIFY(WindowManagerRoundTrip());
        const QRect hole = FArea->GetRect();
        QCOMPARE(hole, QRect(400 + Chrome().width(), 300 + Chrome().width() + Chrome().height(),
                             300, 200));
        // Exactly what lies below, and nothing of the window's own border,
        // once the window manager has the window in place.
        QImage bitmap;
        const QImage below = before.copy(hole.translated(-QPoint(350, 250)));
        QTRY_VERIFY((capture.Capture(bitmap, hole), bitmap == below));
        Shot(*FPlatform.Screen, QStringLiteral("area over pattern ") + ScaleName(),
             QRect(340, 240, 520, 420));
        QCOMPARE(Find<QLabel>(FArea.get(), "LblSize")->text(), QStringLiteral("300x200"));

        Click(hole.center());
        QTRY_COMPARE(behind.Presses, 1);
        Click(QPoint(hole.left() - 3, hole.center().y())); // on the left border
        Settle();
        QCOMPARE(behind.Presses, 1);
        Xdotool({"mouseup", "1"});
    }

    void HeaderPartsShowByWidth_data()
    {
        QTest::addColumn<int>("interiorWidth");
        QTest::addColumn<bool>("clock");
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("size");
        QTest::addColumn<QString>("label");
        QTest::newRow("wide") << 400 << true << true << true << "400x100";
        QTest::newRow("outer 293") << 281 << true << true << true << "281x100";
        QTest::newRow("outer 292") << 280 << false << true << true << "280x100";
        QTest::newRow("outer 113") << 101 << false << true << true << "101x100";
        QTest::newRow("outer 112") << 100 << false << false << true << "100x100";
        QTest::newRow("outer 65, clamped label") << 53 << false << false << true << "64x100";
        QTest::newRow("outer 64") << 52 << false << false << false << "64x100";
        QTest::newRow("interior 30") << 30 << false << false << false << "64x100";
    }
    void HeaderPartsShowByWidth()
    {
        QFETCH(int, interiorWidth);
        QFETCH(bool, clock);
        QFETCH(bool, close);
        QFETCH(bool, size);
        QFETCH(QString, label);
        if (!FArea)
            Open();
        FArea->SetSize(interiorWidth, 100, 0);
        QTRY_COMPARE(FArea->width(), interiorWidth + 12);
        QCOMPARE(Find<QWidget>(FArea.get(), "PnlRec")->isVisible(), clock);
        QCOMPARE(Find<QWidget>(FArea.get(), "PnlClose")->isVisible(), close);
        auto* lblSize = Find<QLabel>(FArea.get(), "LblSize");
        QCOMPARE(lblSize->isVisible(), size);
        QCOMPARE(lblSize->text(), label);
        if (clock)
            QCOMPARE(FArea->LvlRecTime->width(), Find<QWidget>(FArea.get(), "PnlRec")->width());
    }

    void NeverSmallerThanTwoByTwo()
    {
        Open();
        FArea->resize(3, 3);
        QTRY_COMPARE(FArea->size(), QSize(14, 39));
        QCOMPARE(FArea->GetRect().size(), QSize(2, 2));
        FArea->SetSize(0, 1, 0);
        QTRY_COMPARE(FArea->GetRect().size(), QSize(2, 2));
    }

    void KeyboardMovesAndResizes_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QRect>("change"); // of the outer geometry: dx, dy, dwidth, dheight
        QTest::newRow("up moves") << "Up" << QRect(0, -1, 0, 0);
        QTest::newRow("right moves") << "Right" << QRect(1, 0, 0, 0);
        QTest::newRow("shift+down grows") << "shift+Down" << QRect(0, 0, 0, 1);
        QTest::newRow("shift+left shrinks") << "shift+Left" << QRect(0, 0, -1, 0);
        QTest::newRow("ctrl+right grows by 10") << "ctrl+Right" << QRect(0, 0, 10, 0);
        QTest::newRow("ctrl+up shrinks by 10") << "ctrl+Up" << QRect(0, 0, 0, -10);
        QTest::newRow("alt+F4 does not close") << "alt+F4" << QRect(0, 0, 0, 0);
    }
    void KeyboardMovesAndResizes()
    {
        QFETCH(QString, keys);
        QFETCH(QRect, change);
        Store(500, 300, 300, 200);
        Open();
        FArea->activateWindow();
        QTRY_VERIFY(FArea->isActiveWindow());
        const QRect before = FArea->geometry();
        Key(keys);
        const QRect expected(before.x() + change.x(), before.y() + change.y(),
                             before.width() + change.width(), before.height() + change.height());
        QTRY_COMPARE(FArea->geometry(), expected);
        Settle();
        QVERIFY(FArea->isVisible());
        QCOMPARE(FOwner.Closes, 0);
    }

    void WindowManagerMovesAndResizes()
    {
        Store(500, 300, 300, 200);
        Open();
        // The header drags the window.
        Drag({600, 310}, {700, 360});
        QTRY_COMPARE(FArea->geometry().topLeft(), QPoint(600, 350));
        QTRY_COMPARE(Stored().topLeft(), QPoint(600, 350));
        // The right border resizes it.
        const QRect outer = FArea->geometry();
        Drag({outer.right() - 2, outer.center().y()}, {outer.right() + 48, outer.center().y()});
        QTRY_COMPARE(FArea->width(), outer.width() + 50);
        QTRY_COMPARE(Stored().width(), 350);
        QCOMPARE(OnScreen(), FArea->geometry());
    }

    void WhileRecordingTheBorderIsFrozenButTheHeaderDrags()
    {
        Store(500, 300, 300, 200);
        Open();
        FOwner.Recording = true;
        const QRect outer = FArea->geometry();
        Drag({outer.right() - 2, outer.center().y()}, {outer.right() + 48, outer.center().y()});
        QVERIFY(WindowManagerRoundTrip());
        Settle();
        QCOMPARE(FArea->geometry(), outer);
        Drag({600, 310}, {650, 330});
        QTRY_COMPARE(FArea->geometry().topLeft(), QPoint(550, 320));
    }

    void PresetsAndTheSizeDialog()
    {
        Open();
        auto* popSize1 = Find<QAction>(FArea.get(), "PopSize_1");
        QCOMPARE(popSize1->text(), QStringLiteral("320x240"));

        TFrmSize::SetFieldValue(FSize->EditWidth_1, 1024);
        TFrmSize::SetFieldValue(FSize->EditHeight_1, 768);
        Find<QPushButton>(FSize.get(), "BtnApply_1")->click();
        QTRY_COMPARE(FArea->GetRect().size(), QSize(1024, 768));
        QCOMPARE(popSize1->text(), QStringLiteral("1024x768"));
        QCOMPARE(ReadSetting(TConfig(ProgramConfigPath), Setting::Width1), 1024);
        QCOMPARE(ReadSetting(TConfig(ProgramConfigPath), Setting::Height1), 768);
        // The size dialog follows the window.
        QCOMPARE(TFrmSize::FieldValue(FSize->EditWidth), 1024);

        // The menu item applies the fields as they are now, renaming nothing.
        TFrmSize::SetFieldValue(FSize->EditWidth_1, 800);
        popSize1->trigger();
        QTRY_COMPARE(FArea->GetRect().size(), QSize(800, 768));
        QCOMPARE(popSize1->text(), QStringLiteral("1024x768"));

        Find<QAction>(FArea.get(), "PopSize_3")->trigger();
        QTRY_COMPARE(FArea->GetRect().size(), QSize(720, 480));

        TFrmSize::SetFieldValue(FSize->EditWidth, 333);
        TFrmSize::SetFieldValue(FSize->EditHeight, 222);
        Find<QPushButton>(FSize.get(), "BtnApply")->click();
        QTRY_COMPARE(FArea->GetRect().size(), QSize(333, 222));
        QCOMPARE(popSize1->text(), QStringLiteral("1024x768"));

        Find<QAction>(FArea.get(), "PopConfig")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(FSize.get()));
        QVERIFY(WindowManagerRoundTrip());
        Shot(QStringLiteral("size-dialog"), FSize->frameGeometry());
        FSize->hide();
    }

    void SizeFieldsClamp_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("in range") << "640" << 640;
        QTest::newRow("below") << "10" << 64;
        QTest::newRow("above") << "12345" << 9999;
        QTest::newRow("not a number") << "abc" << 64;
        QTest::newRow("empty") << "" << 64;
    }
    void SizeFieldsClamp()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QSpinBox* field = FSize->EditHeight_2;
        field->findChild<QLineEdit*>()->setText(text);
        QCOMPARE(TFrmSize::FieldValue(field), value);
        bool number = false;
        const int written = text.toInt(&number);
        if (number) {
            TFrmSize::SetFieldValue(field, written);
            QCOMPARE(field->value(), value);
        }
    }

    void TheCloseButtonReturnsToFullScreenAndHideDoesNot()
    {
        Open();
        Find<QAction>(FArea.get(), "PopClose")->trigger();
        QVERIFY(!FArea->isVisible());
        QCOMPARE(FOwner.Closes, 0);

        FArea->show();
        QVERIFY(QTest::qWaitForWindowExposed(FArea.get()));
        QVERIFY(WindowManagerRoundTrip());
        FOwner.Recording = true;
        auto* close = Find<QLabel>(FArea.get(), "BtnClose");
        Click(close->mapToGlobal(close->rect().center()));
        QTRY_VERIFY(!FArea->isVisible());
        QCOMPARE(FOwner.Closes, 1);
        QCOMPARE(FOwner.Stops, 1);
    }

    // The border pulses from full red to 55 % and back, 5 % a tick.
    void BorderPulses()
    {
        FArea = std::make_unique<TFrmArea>(*FSize, FOwner);
        auto* timer = Find<QTimer>(FArea.get(), "TmrColor");
        QVERIFY(!timer->isActive());
        FArea->show();
        QVERIFY(timer->isActive());
        timer->stop();
        QList<int> reds;
        for (int tick = 0; tick < 21; ++tick) {
            QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
            reds.append(FArea->BorderColor().red());
            QCOMPARE(FArea->BorderColor().green(), 0);
        }
        QCOMPARE(reds, (QList<int>{255, 242, 229, 217, 204, 191, 178, 166, 153, 140, 153,
                                   166, 178, 191, 204, 217, 229, 242, 255, 242, 229}));
        FArea->hide();
        QVERIFY(!timer->isActive());
    }
};

VORANTU_TEST_MAIN(TTestArea)
#include "tst_Area.moc"
