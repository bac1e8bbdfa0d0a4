#include "Boxes.h"
#include "Desktop.h"
#include "MainWindowFixture.h"
#include "TestEnvironment.h"
#include "app/Main.h"
#include "app/MainControls.h"
#include "editor/Editor.h"
#include "output/Floating.h"
#include "output/Save.h"
#include "platform/Platform.h"
#include "platform/ScreenScale.h"
#include "services/Translate.h"

#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
#include <utility>
#include <xcb/xcb.h>

using namespace TestDesktop;

namespace {

// Where the X server has the window's top-left pixel. Qt's own geometry is
// in its units and loses a pixel wherever the window manager placed the
// window between two of them at a scale.
QPoint NativeOrigin(const QWidget* window)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        connection,
        xcb_translate_coordinates(connection, xcb_window_t(window->winId()), root, 0, 0), nullptr);
    const QPoint origin = reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint();
    free(reply);
    xcb_disconnect(connection);
    return origin;
}

// The physical screen pixel under a point of `widget` (in its own units).
QPoint PhysicalAt(const QWidget* widget, const QPointF& local)
{
    const QWidget* window = widget->window();
    return NativeOrigin(window) + PhysicalFromLocal(window, widget->mapTo(window, local));
}

// What the screen shows of the physical rectangle `area`.
QImage ScreenPixels(const QRect& area)
{
    TPlatform platform = LoadPlatform();
    QImage shot(area.size(), QImage::Format_RGB32);
    shot.fill(Qt::black);
    if (!platform.Screen->Grab(area, shot))
        return QImage();
    return shot.convertToFormat(QImage::Format_RGB32);
}

// A capture with smooth colours and fine detail: every pixel differs from
// its neighbours, so a shape drawn one pixel off or a stray change shows.
QImage Capture()
{
    return Pattern(QSize(360, 260));
}

// What a password looks like to the filters: one-pixel black and white
// cells, so any original pixel left behind is either pure black or pure white.
QImage Checker()
{
    QImage image(360, 260, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, ((x + y) & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

QImage Load(const QString& fileName)
{
    return QImage(fileName).convertToFormat(QImage::Format_RGB32);
}

// Pixels of `a` and `b` (same size) that differ inside `area`.
// How far, in picture pixels at 1:1, a pointer position may land from the
// intended one: Qt 6.4 hands widgets pointer positions in its own units, so
// at a display scale a press is only as exact as one of them.
int PointerSlack(const QWidget* widget)
{
    return int(std::ceil(widget->devicePixelRatioF())) - 1;
}

bool Near(const QRect& actual, const QRect& expected, int slack)
{
    return qAbs(actual.left() - expected.left()) <= slack &&
           qAbs(actual.top() - expected.top()) <= slack &&
           qAbs(actual.right() - expected.right()) <= slack &&
           qAbs(actual.bottom() - expected.bottom()) <= slack;
}

int Differences(const QImage& a, const QImage& b, const QRect& area)
{
    int count = 0;
    const QRect clipped = area & a.rect();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

// Pixels that differ outside `area`.
int DifferencesOutside(const QImage& a, const QImage& b, const QRect& area)
{
    return Differences(a, b, a.rect()) - Differences(a, b, area);
}

// An editor on `picture` whose Send writes a PNG file with the program's writer.
class TEditorUnderTest
{
public:
    explicit TEditorUnderTest(const QImage& picture)
    {
        File = Folder.filePath(QStringLiteral("sent.png"));
        Editor = new TFrmEditor(picture, QRect(), QStringLiteral("Vorantu"),
                                {{0, QStringLiteral("PNG")}}, 0,
                                [this](int, const QImage& sent, const QRect&) {
                                    BitmapToPNGFile(sent, File);
                                    return true;
                                });
        Editor->show();
        Editor->activateWindow();
        if (!QTest::qWaitForWindowActive(Editor, 2000)) {
            Editor->activateWindow();
            if (!QTest::qWaitForWindowActive(Editor))
                qWarning("the editor did not become active");
        }
    }
    ~TEditorUnderTest()
    {
        if (Editor) {
            TBoxAnswer discard(QMessageBox::Yes);
            Editor->close();
        }
    }
    TEditorCanvas* Canvas() const { return Editor->Canvas(); }
    // The screen position of picture pixel `at`.
    QPoint At(const QPointF& at) const { return PhysicalAt(Canvas(), Canvas()->ToCanvas(at)); }
    QImage SendAndLoad()
    {
        Key(QStringLiteral("ctrl+Return"));
        if (!QTest::qWaitFor([this] { return !Editor; }, 5000)) {
            const QWidget* focus = QApplication::focusWidget();
            qWarning("not sent; active window %s, focus %s, X active %llu, editor %llu",
                     QApplication::activeWindow()
                         ? QApplication::activeWindow()->metaObject()->className()
                         : "none",
                     focus ? qPrintable(focus->objectName()) : "none", ActiveWindow(),
                     quint64(Editor->winId()));
            return QImage();
        }
        return Load(File);
    }

    QTemporaryDir Folder;
    QString File;
    QPointer<TFrmEditor> Editor;
};

} // namespace

class TTestEditor : public QObject, private TMainWindowFixture
{
    Q_OBJECT

    // Triggers a capture into the editor and gives the editor once it has
    // the focus; null when no editor opened or it never became active.
    TFrmEditor* CaptureIntoEditor()
    {
        FWindow->Start();
        TFrmEditor* editor = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* e = qobject_cast<TFrmEditor*>(w); e && e->isVisible())
                editor = e;
        if (!editor)
            return nullptr;
        // The window manager may keep the focus on the window the user last
        // typed in; the user would click into the editor.
        if (!QTest::qWaitForWindowActive(editor, 2000)) {
            editor->activateWindow();
            if (!QTest::qWaitForWindowActive(editor))
                return nullptr;
        }
        return editor;
    }

private slots:
    void init() { TranslateComponent(nullptr, QStringLiteral("en")); }

    // Each shape changes the picture where it is drawn and nowhere else.
    void ShapesChangeOnlyTheirPlace_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QString>("typed");
        // Where the shape may paint, and a pixel it must change.
        QTest::addColumn<QRect>("reach");
        QTest::addColumn<QPoint>("probe");
        QTest::newRow("rectangle") << "r" << QPoint(60, 50) << QPoint(200, 150) << QString()
                                   << QRect(QPoint(56, 46), QPoint(204, 154)) << QPoint(60, 100);
        QTest::newRow("ellipse") << "e" << QPoint(60, 50) << QPoint(200, 150) << QString()
                                 << QRect(QPoint(56, 46), QPoint(204, 154)) << QPoint(130, 50);
        QTest::newRow("line") << "l" << QPoint(60, 50) << QPoint(200, 150) << QString()
                              << QRect(QPoint(56, 46), QPoint(204, 154)) << QPoint(130, 100);
        QTest::newRow("arrow") << "a" << QPoint(60, 50) << QPoint(200, 150) << QString()
                               << QRect(QPoint(44, 34), QPoint(216, 166)) << QPoint(196, 147);
        QTest::newRow("pen") << "p" << QPoint(60, 50) << QPoint(200, 150) << QString()
                             << QRect(QPoint(56, 46), QPoint(204, 154)) << QPoint(130, 100);
        QTest::newRow("highlighter")
            << "h" << QPoint(60, 120) << QPoint(260, 120) << QString()
            << QRect(QPoint(48, 108), QPoint(272, 132)) << QPoint(160, 125);
        QTest::newRow("text") << "t" << QPoint(80, 80) << QPoint() << "Ab"
                              << QRect(80 - 6, 80 - 6, 60, 45) << QPoint();
        QTest::newRow("step") << "n" << QPoint(150, 120) << QPoint() << QString()
                              << QRect(150 - 25, 120 - 25, 51, 51) << QPoint(150, 110);
    }
    void ShapesChangeOnlyTheirPlace()
    {
        QFETCH(QString, key);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QString, typed);
        QFETCH(QRect, reach);
        QFETCH(QPoint, probe);
        const QImage original = Capture();
        TEditorUnderTest editor(original);
        Key(key);
        if (!to.isNull()) {
            Drag(editor.At(from), editor.At(to));
        } else {
            Click(editor.At(from));
            if (!typed.isEmpty()) {
                QTRY_VERIFY(editor.Canvas()->findChild<QWidget*>("TextEntry"));
                Xdotool({"type", "--delay", "30", typed});
                Key(QStringLiteral("Return"));
            }
        }
        QTRY_COMPARE(editor.Canvas()->Shapes().size(), size_t(1));
        const int slack = PointerSlack(editor.Canvas());
        const QImage sent = editor.SendAndLoad();
        QCOMPARE(sent.size(), original.size());
        reach.adjust(-slack, -slack, slack, slack);
        QCOMPARE(DifferencesOutside(sent, original, reach), 0);
        QVERIFY2(Differences(sent, original, reach) > 40,
                 qPrintable(QString::number(Differences(sent, original, reach))));
        if (!probe.isNull())
            QVERIFY(sent.pixel(probe) != original.pixel(probe));
    }

    // Undo and redo bring back the exact pictures; a shape stays selectable,
    // movable and deletable, each as one step.
    void UndoRedoMoveDelete()
    {
        const QImage original = Capture();
        TEditorUnderTest editor(original);
        TEditorCanvas* canvas = editor.Canvas();
        QCOMPARE(canvas->Flatten(), original);
        Key("r");
        Drag(editor.At({40, 40}), editor.At({140, 120}));
        QTRY_COMPARE(canvas->Shapes().size(), size_t(1));
        const QImage one = canvas->Flatten();
        Key("e");
        Drag(editor.At({180, 60}), editor.At({300, 200}));
        QTRY_COMPARE(canvas->Shapes().size(), size_t(2));
        const QImage two = canvas->Flatten();
        QVERIFY(one != original && two != one);

        Key("ctrl+z");
        QTRY_COMPARE(canvas->Flatten(), one);
        Key("ctrl+z");
        QTRY_COMPARE(canvas->Flatten(), original);
        QVERIFY(!canvas->Modified());
        Key("ctrl+y");
        QTRY_COMPARE(canvas->Flatten(), one);
        Key("ctrl+shift+z");
        QTRY_COMPARE(canvas->Flatten(), two);

        // Pick the rectangle by its left edge and drag it 30 pixels right.
        Key("v");
        Drag(editor.At({40, 80}), editor.At({70, 80}));
        QTRY_VERIFY(canvas->Shapes()[0].Box().left() > 60);
        QVERIFY(qAbs(canvas->Shapes()[0].Box().left() - 70) <= PointerSlack(canvas));
        QCOMPARE(canvas->Selected(), 0);
        QCOMPARE(Differences(canvas->Flatten(), original, QRect(30, 30, 10, 100)), 0);
        Key("Delete");
        QTRY_COMPARE(canvas->Shapes().size(), size_t(1));
        QCOMPARE(canvas->Shapes()[0].Kind, TTool::Ellipse);
        Key("ctrl+z");
        QTRY_COMPARE(canvas->Shapes().size(), size_t(2));
        Key("ctrl+z");
        QTRY_COMPARE(canvas->Flatten(), two);
    }

    // The hidden area keeps none of its pixels, in the file and on the screen.
    void FiltersLeaveNoOriginalPixel_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("pixelate") << "x";
        QTest::newRow("blur") << "b";
    }
    void FiltersLeaveNoOriginalPixel()
    {
        QFETCH(QString, key);
        const QImage original = Checker();
        TEditorUnderTest editor(original);
        Key(key);
        // An odd size, so the blocks cannot all come out even.
        const QRect area(QPoint(41, 33), QPoint(41 + 150, 33 + 73));
        Drag(editor.At(area.topLeft()), editor.At(area.bottomRight()));
        QTRY_COMPARE(editor.Canvas()->Shapes().size(), size_t(1));
        QVERIFY(Near(editor.Canvas()->Shapes()[0].Bounds(), area, PointerSlack(editor.Canvas())));
        const QRect hidden = editor.Canvas()->Shapes()[0].Bounds();

        // At 1:1 a picture pixel is a screen pixel, whatever the display scale.
        const QRect shown(editor.At(QPoint(0, 0)), original.size());
        QImage onScreen;
        QTRY_VERIFY((onScreen = ScreenPixels(shown)).size() == original.size() &&
                    DifferencesOutside(onScreen, original, hidden) == 0);
        const QImage sent = editor.SendAndLoad();
        QCOMPARE(sent.size(), original.size());
        QCOMPARE(DifferencesOutside(sent, original, hidden), 0);
        for (const QImage* image : {&sent, static_cast<const QImage*>(&onScreen)}) {
            for (int y = hidden.top(); y <= hidden.bottom(); ++y)
                for (int x = hidden.left(); x <= hidden.right(); ++x) {
                    const QRgb pixel = image->pixel(x, y);
                    if (pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255))
                        QFAIL(qPrintable(
                            QStringLiteral("original pixel left at %1,%2").arg(x).arg(y)));
                }
        }
    }

    void CropGivesTheCroppedPart()
    {
        const QImage original = Capture();
        TEditorUnderTest editor(original);
        Key("c");
        Drag(editor.At({50, 40}), editor.At({249, 189}));
        QTRY_VERIFY(editor.Canvas()->Crop() != original.rect());
        const QRect crop = editor.Canvas()->Crop();
        QVERIFY(Near(crop, QRect(50, 40, 200, 150), PointerSlack(editor.Canvas())));
        // Drawing after the crop lands where it is drawn on the cropped picture.
        Key("r");
        Drag(editor.At({100, 100}), editor.At({150, 150}));
        QTRY_COMPARE(editor.Canvas()->Shapes().size(), size_t(1));
        const QImage sent = editor.SendAndLoad();
        QCOMPARE(sent.size(), crop.size());
        const QRect reach = QRect(QPoint(95, 95), QPoint(155, 155)).translated(-crop.topLeft());
        QCOMPARE(DifferencesOutside(sent, original.copy(crop), reach), 0);
        QVERIFY(sent.pixel(QPoint(100, 120) - crop.topLeft()) != original.pixel(100, 120));
    }

    // Escape asks before edits are lost; without edits it just closes.
    void EscapeAsksBeforeDiscarding()
    {
        {
            TEditorUnderTest editor(Capture());
            Key("Escape");
            QTRY_VERIFY(!editor.Editor);
        }
        TEditorUnderTest editor(Capture());
        Key("r");
        Drag(editor.At({40, 40}), editor.At({140, 120}));
        QTRY_COMPARE(editor.Canvas()->Shapes().size(), size_t(1));
        {
            TBoxAnswer keep(QMessageBox::No);
            Key("Escape");
            QTRY_COMPARE(keep.Count, 1);
            QCOMPARE(keep.Text, QStringLiteral("Discard your edits?"));
        }
        QVERIFY(editor.Editor && editor.Editor->isVisible());
        // The keys reach the editor again once the window manager has given
        // it back the focus the box took.
        if (!QTest::qWaitForWindowActive(editor.Editor, 2000)) {
            editor.Editor->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(editor.Editor));
        }
        TBoxAnswer discard(QMessageBox::Yes);
        Key("Escape");
        QTRY_VERIFY(!editor.Editor);
        QVERIFY(!QFile::exists(editor.File));
    }

    // Through the controller: the edited picture reaches the clipboard and a
    // floating window; the capture stays busy while the editor is open.
    void ControllerSendsTheEditedPicture()
    {
        MakeMainWindow();
        TPictureWindow target(QRect(700, 300, 300, 200), Pattern(QSize(300, 200)), Managed);
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        auto* area = Find<QComboBox>("ChkArea");
        auto* saveTo = Find<QComboBox>("ChkSaveTo");
        area->setCurrentIndex(CaptureArea::ActiveWindow);
        saveTo->setCurrentIndex(CaptureDestination::Edit);
        QCOMPARE(saveTo->itemText(CaptureDestination::Edit), QStringLiteral("Edit"));

        for (const int destination :
             {CaptureDestination::Clipboard, CaptureDestination::Floating}) {
            target.activateWindow();
            // What the capture asks the window manager, not what Qt last heard.
            QTRY_COMPARE(ActiveWindow(), quint64(target.winId()));
            QPointer<TFrmEditor> editor = CaptureIntoEditor();
            QVERIFY(editor);
            QCOMPARE(FWindow->Status(), stBusy);
            QCOMPARE(editor->Canvas()->Picture().size(), PhysicalGeometry(&target).size());
            // A second trigger starts no capture into the edit.
            FWindow->Start();
            QCOMPARE(FWindow->Status(), stBusy);
            QCOMPARE(editor->Canvas()->Picture().size(), PhysicalGeometry(&target).size());

            Key("r");
            TEditorCanvas* canvas = editor->Canvas();
            Drag(PhysicalAt(canvas, canvas->ToCanvas({30, 30})),
                 PhysicalAt(canvas, canvas->ToCanvas({120, 90})));
            QTRY_COMPARE(canvas->Shapes().size(), size_t(1));
            const QImage edited = canvas->Flatten();
            QVERIFY(edited != canvas->Picture().convertToFormat(QImage::Format_RGB32));
            editor->SetDestination(destination);
            Key("ctrl+Return");
            QTRY_VERIFY(!editor);
            QCOMPARE(FWindow->Status(), stIdle);
            if (destination == CaptureDestination::Clipboard) {
                QTRY_COMPARE(
                    QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
                    edited);
            } else {
                TFrmFloating* floating = nullptr;
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* f = qobject_cast<TFrmFloating*>(w); f && f->isVisible())
                        floating = f;
                QVERIFY(floating);
                QCOMPARE(floating->Picture().convertToFormat(QImage::Format_RGB32), edited);
                QCOMPARE(floating->Picture().size(), PhysicalGeometry(&target).size());
                floating->BtnDeleteAll->trigger();
            }
        }
        QVERIFY(QDir(FSave).isEmpty());

        // A file that cannot be written loses no edit: the failure is shown
        // as for any capture, the editor stays with its shapes, and the next
        // Send writes the edited picture.
        target.activateWindow();
        QTRY_COMPARE(ActiveWindow(), quint64(target.winId()));
        QPointer<TFrmEditor> editor = CaptureIntoEditor();
        QVERIFY(editor);
        TEditorCanvas* canvas = editor->Canvas();
        canvas->SetTool(TTool::Ellipse);
        Drag(PhysicalAt(canvas, canvas->ToCanvas({20, 20})),
             PhysicalAt(canvas, canvas->ToCanvas({150, 120})));
        QTRY_COMPARE(canvas->Shapes().size(), size_t(1));
        const QImage edited = canvas->Flatten();
        editor->SetDestination(CaptureDestination::Png);
        QVERIFY(QDir(FSave).removeRecursively());
        {
            TBoxAnswer failure;
            QVERIFY(!editor->Send());
            QCOMPARE(failure.Count, 1);
            QVERIFY(failure.Text.startsWith(QStringLiteral("Capture failed.")));
        }
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(canvas->Shapes().size(), size_t(1));
        QCOMPARE(FWindow->Status(), stBusy);
        QVERIFY(QDir().mkpath(FSave));
        QVERIFY(editor->Send());
        QTRY_VERIFY(!editor);
        QCOMPARE(FWindow->Status(), stIdle);
        const QStringList files = QDir(FSave).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QCOMPARE(Load(FSave + '/' + files[0]), edited);
    }

    // Screenshots of the editor for people to look at, in two languages.
    void Screenshots_data()
    {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << "en";
        QTest::newRow("ko") << "ko";
    }
    void Screenshots()
    {
        QFETCH(QString, language);
        TranslateComponent(nullptr, language);
        QImage picture = Pattern(QSize(520, 340));
        {
            QPainter painter(&picture);
            painter.fillRect(QRect(20, 20, 480, 300), QColor(245, 245, 245));
            QFont font;
            font.setPixelSize(18);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPoint(40, 60), QStringLiteral("user: someone@example.org"));
            painter.drawText(QPoint(40, 100), QStringLiteral("password: hunter2-hunter2"));
            painter.drawText(QPoint(40, 160), QStringLiteral("Click Save to continue"));
        }
        TEditorUnderTest editor(picture);
        Key("x");
        Drag(editor.At({130, 82}), editor.At({300, 106}));
        Key("a");
        Drag(editor.At({420, 260}), editor.At({260, 170}));
        Key("n");
        Click(editor.At({440, 270}));
        Key("h");
        Drag(editor.At({40, 155}), editor.At({235, 155}));
        Key("e");
        Drag(editor.At({30, 40}), editor.At({280, 72}));
        QTRY_COMPARE(editor.Canvas()->Shapes().size(), size_t(5));
        QDir().mkpath(QStringLiteral(VORANTU_ARTIFACTS));
        const QWidget* window = editor.Editor;
        const qreal ratio = window->devicePixelRatioF();
        const QMargins frame(window->geometry().left() - window->frameGeometry().left(),
                             window->geometry().top() - window->frameGeometry().top(),
                             window->frameGeometry().right() - window->geometry().right(),
                             window->frameGeometry().bottom() - window->geometry().bottom());
        const QRect area =
            QRect(NativeOrigin(window), PhysicalGeometry(window).size()) + frame * ratio;
        // The last shape's paint may still be queued: take the window once
        // two looks in a row show the same pixels.
        QImage shot, previous;
        QTRY_VERIFY(!(shot = ScreenPixels(area)).isNull() && shot == std::exchange(previous, shot));
        // Scaled runs write beside the plain ones instead of over them.
        const QString scale = ratio == 1 ? QString() : QStringLiteral("@%1x").arg(ratio);
        QVERIFY(
            shot.save(QStringLiteral(VORANTU_ARTIFACTS "/editor-%1%2.png").arg(language, scale)));
    }
};

VORANTU_TEST_MAIN(TTestEditor)
#include "tst_Editor.moc"
