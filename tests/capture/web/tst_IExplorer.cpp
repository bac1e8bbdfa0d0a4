#include "PageServer.h"
#include "TestEnvironment.h"
#include "capture/web/IExplorer.h"
#include "capture/web/WebBrowser.h"
#include "capture/web/WebEngine.h"
#include "capture/web/engine/PageCapture.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QToolButton>
#include <QWebEngineView>
#include <QtTest>

namespace {

// 1200 x 5000 CSS pixels: a red band at the top, green in the middle, blue
// at the bottom, white between.
const QByteArray BandsPage = R"(<!DOCTYPE html>
<html><head><title>Bands</title><style>
html, body { margin: 0; }
#page { position: relative; width: 1200px; height: 5000px; background: #ffffff; }
.band { position: absolute; left: 0; width: 1200px; height: 200px; }
</style></head><body><div id="page">
<div class="band" style="top: 0; background: #ff0000"></div>
<div class="band" style="top: 2400px; background: #00ff00"></div>
<div class="band" style="top: 4800px; background: #0000ff"></div>
</div></body></html>)";

// A short page whose frames hold documents far taller than the page. The
// first frame is of another origin (another port) and cannot be measured;
// the second, of the page's own origin, can.
QByteArray FramedPage(const QString& foreignFrame)
{
    return QStringLiteral("<!DOCTYPE html><html><head><title>Framed</title>"
                          "<style>html, body { margin: 0; } iframe { display: block; "
                          "width: 400px; height: 100px; border: 0; }</style></head><body>"
                          "<iframe src='%1'></iframe><iframe src='/inner'></iframe></body></html>")
        .arg(foreignFrame)
        .toUtf8();
}
const QByteArray InnerPage = R"(<!DOCTYPE html>
<html><head><style>html, body { margin: 0; }</style></head>
<body><div style="width: 300px; height: 3000px; background: #808080"></div></body></html>)";

// Pages measured below 100 CSS pixels in one or both directions. In quirks
// mode (no doctype) the root and a scrolling body report their own extents
// rather than the window's.
QByteArray TinyPage(int width, int height)
{
    return QStringLiteral("<html><head><style>html { width: %1px; height: %2px; overflow: hidden; }"
                          "body { margin: 0; width: %1px; height: %2px; overflow: hidden; }"
                          "</style></head><body></body></html>")
        .arg(width)
        .arg(height)
        .toUtf8();
}

// Taller than any graphics system paints in one piece: black and white
// stripes 50 pixels high.
constexpr int StripesHeight = 20000;
const QByteArray StripesPage =
    QStringLiteral(
        "<!DOCTYPE html><html><head><style>html, body { margin: 0; }</style></head><body>"
        "<div style='width: 800px; height: %1px; background: repeating-linear-gradient("
        "#000000 0, #000000 50px, #ffffff 50px, #ffffff 100px)'></div></body></html>")
        .arg(StripesHeight)
        .toUtf8();

const QByteArray LinksPage = R"(<!DOCTYPE html>
<html><head><title>Links</title><style>html, body { margin: 0; }
a { display: block; width: 600px; height: 150px; }</style></head><body>
<a id="blank" href="/popup" target="_blank">new window</a>
<a id="same" href="/followed">same window</a>
</body></html>)";

QByteArray TitledPage(const QByteArray& title)
{
    return "<!DOCTYPE html><html><head><title>" + title + "</title></head><body>" + title +
           "</body></html>";
}

bool Near(QRgb actual, QRgb expected)
{
    return std::abs(qRed(actual) - qRed(expected)) <= 2 &&
           std::abs(qGreen(actual) - qGreen(expected)) <= 2 &&
           std::abs(qBlue(actual) - qBlue(expected)) <= 2;
}

} // namespace

class TestIExplorer : public QObject
{
    Q_OBJECT

private:
    TPageServer FServer;
    TPageServer FForeignServer;
    QPointer<TFrmIExplorer> FWindow;

    QWebEngineView* View() const
    {
        return FWindow->findChild<QWebEngineView*>(QStringLiteral("WB"));
    }
    QLineEdit* Edit1() const { return FWindow->findChild<QLineEdit*>(QStringLiteral("Edit1")); }
    QToolButton* Button(const char* name) const
    {
        return FWindow->findChild<QToolButton*>(QLatin1String(name));
    }

    // Types `address` into the address field and presses Enter, as the user
    // would; true once the top-level page finished loading.
    bool Type(const QString& address)
    {
        QSignalSpy loaded(View(), &QWebEngineView::loadFinished);
        Edit1()->setText(address);
        QTest::keyClick(Edit1(), Qt::Key_Return);
        return loaded.wait(15000);
    }

    bool Open(const QByteArray& path) { return Type(FServer.Address(path)); }

    // The window manager may refuse an application's own activation
    // request; a pager's (what xdotool sends) it grants.
    static bool Activate(QWidget* window)
    {
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("windowactivate"), QString::number(window->winId())});
        return QTest::qWaitForWindowActive(window);
    }

    QVariant Eval(const QString& script)
    {
        QVariant result;
        bool done = false;
        View()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value;
            done = true;
        });
        (void)QTest::qWaitFor([&done] { return done; }, 10000);
        return result;
    }

private slots:
    void initTestCase()
    {
        FServer.Serve("/bands", BandsPage);
        FForeignServer.Serve("/inner", InnerPage);
        FServer.Serve("/framed", FramedPage(FForeignServer.Address("/inner")));
        FServer.Serve("/inner", InnerPage);
        FServer.Serve("/links", LinksPage);
        FServer.Serve("/stripes", StripesPage);
        FServer.Serve("/followed", TitledPage("Followed"));
        FServer.Serve("/popup", TitledPage("Popup"));
        FServer.Serve("/one", TitledPage("One"));
        FServer.Serve("/two", TitledPage("Two"));
        FServer.Serve("/tiny-both", TinyPage(50, 50));
        FServer.Serve("/tiny-width", TinyPage(50, 3000));
        FServer.Serve("/tiny-height", TinyPage(2000, 50));

        QString error;
        FWindow = TFrmIExplorer::Create(&error);
        QVERIFY2(FWindow, qPrintable(error));
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow));
        QTRY_VERIFY_WITH_TIMEOUT(View()->url() == QUrl(QStringLiteral("about:blank")), 15000);
    }

    void cleanupTestCase() { delete FWindow; }

    void blankWindowCapturesNothing()
    {
        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        QVERIFY(bitmap.isNull());
        QCOMPARE(Edit1()->text(), QStringLiteral("https://"));
        QVERIFY(!Button("BtnBack")->isEnabled());
        QVERIFY(!Button("BtnForward")->isEnabled());
    }

    void capturesTheWholePage()
    {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(Open("/bands"));
        const qint64 loadedMs = clock.elapsed();
        // The user scrolled down before the capture.
        Eval(QStringLiteral("window.scrollTo(0, 1000)"));
        QTRY_COMPARE(Eval(QStringLiteral("window.scrollY")).toInt(), 1000);
        const QRect place = View()->geometry();

        clock.restart();
        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        qInfo("1200 x 5000 page: loaded in %lld ms, captured in %lld ms", loadedMs,
              clock.elapsed());

        // Measured: the body's 1200 plus the room for border and scroll bar
        // plus 6; the room is cut off again.
        QCOMPARE(bitmap.size(), QSize(1200 + WidthMargin, 5000));
        QCOMPARE(bitmap.format(), QImage::Format_RGB32);
        const struct
        {
            int Y;
            QRgb Colour;
        } samples[] = {{0, 0xff0000},    {199, 0xff0000},  {200, 0xffffff},  {2399, 0xffffff},
                       {2400, 0x00ff00}, {2599, 0x00ff00}, {2600, 0xffffff}, {4799, 0xffffff},
                       {4800, 0x0000ff}, {4999, 0x0000ff}};
        for (const auto& sample : samples) {
            for (int x : {0, 600, 1199}) {
                QVERIFY2(Near(bitmap.pixel(x, sample.Y), sample.Colour),
                         qPrintable(QStringLiteral("(%1, %2) is %3")
                                        .arg(x)
                                        .arg(sample.Y)
                                        .arg(bitmap.pixel(x, sample.Y), 8, 16)));
            }
        }
        QVERIFY(Near(bitmap.pixel(1200 + WidthMargin - 1, 100), 0xffffff));

        // The view is back in its place, scrolled where the user left it.
        QCOMPARE(View()->geometry(), place);
        QTRY_COMPARE(Eval(QStringLiteral("window.scrollY")).toInt(), 1000);
    }

    void capturesAMinimizedWindow()
    {
        QVERIFY(Open("/bands"));
        FWindow->showMinimized();
        QTRY_VERIFY(FWindow->isMinimized());
        QTest::qWait(500);
        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        QCOMPARE(bitmap.size(), QSize(1200 + WidthMargin, 5000));
        QVERIFY(Near(bitmap.pixel(600, 4900), 0x0000ff));
        // Minimized again, on the screen too.
        QVERIFY(FWindow->isMinimized());
        QTRY_VERIFY(!FWindow->windowHandle()->isExposed());
        FWindow->showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow));
    }

    void capturesAFrameTallerThanThePage()
    {
        QVERIFY(Open("/framed"));
        QTRY_COMPARE(Eval(QStringLiteral("window.frames[1].document.readyState")).toString(),
                     QStringLiteral("complete"));
        QVERIFY(FForeignServer.WasRequested("/inner"));
        // The field shows the top-level address, not the frame's.
        QCOMPARE(Edit1()->text(), FServer.Address("/framed"));

        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        QVERIFY2(bitmap.height() >= 3000, qPrintable(QString::number(bitmap.height())));
        QVERIFY(Near(bitmap.pixel(100, 150), 0x808080));
    }

    void fallsBackForTinyPages_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QSize>("size");
        const int fallbackWidth = FallbackWidth - EdgeWidth - ScrollBarWidth;
        QTest::newRow("both") << QByteArray("/tiny-both") << QSize(fallbackWidth, FallbackHeight);
        QTest::newRow("width only") << QByteArray("/tiny-width") << QSize(fallbackWidth, 3000);
        QTest::newRow("height only")
            << QByteArray("/tiny-height") << QSize(2000 + WidthMargin, FallbackHeight);
    }

    void fallsBackForTinyPages()
    {
        QFETCH(QByteArray, path);
        QFETCH(QSize, size);
        QVERIFY(Open(path));
        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        QCOMPARE(bitmap.size(), size);
    }

    void trimsTheAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("navigated");
        QTest::newRow("blanks") << QStringLiteral("  http://a/b  ") << QStringLiteral("http://a/b");
        QTest::newRow("controls") << QStringLiteral("\t\x01http://a/b c\r\n\x7f")
                                  << QStringLiteral("http://a/b c");
        QTest::newRow("no scheme")
            << QStringLiteral(" example.com ") << QStringLiteral("example.com");
        QTest::newRow("only blanks") << QStringLiteral(" \t ") << QString();
    }

    void trimsTheAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, navigated);
        QCOMPARE(TFrmIExplorer::TrimAddress(typed), navigated);
    }

    void followsHistoryAndTitle()
    {
        const QString one = FServer.Address("/one");
        const QString two = FServer.Address("/two");
        QVERIFY(Open("/one"));
        QVERIFY(Type(QStringLiteral(" \t") + two + QStringLiteral("  ")));
        QCOMPARE(FWindow->WB().LocationURL(), two);
        QCOMPARE(Edit1()->text(), two);
        QTRY_COMPARE(FWindow->windowTitle(), QStringLiteral("Two"));
        QTRY_VERIFY(Button("BtnBack")->isEnabled());
        QVERIFY(!Button("BtnForward")->isEnabled());

        QSignalSpy loaded(View(), &QWebEngineView::loadFinished);
        Button("BtnBack")->click();
        QVERIFY(loaded.wait(15000));
        QCOMPARE(Edit1()->text(), one);
        QTRY_COMPARE(FWindow->windowTitle(), QStringLiteral("One"));
        QTRY_VERIFY(Button("BtnForward")->isEnabled());
        QVERIFY(Button("BtnBack")->isEnabled());

        Button("BtnForward")->click();
        QVERIFY(loaded.wait(15000));
        QCOMPARE(Edit1()->text(), two);
        QTRY_VERIFY(!Button("BtnForward")->isEnabled());
    }

    void sendsItsUserAgent()
    {
        QVERIFY(Open("/one"));
        bool seen = false;
        for (const TPageServer::TRequest& request : FServer.Requests()) {
            QCOMPARE(QString::fromLatin1(request.UserAgent), IExplorerUserAgent);
            seen = true;
        }
        QVERIFY(seen);
    }

    void opensNoNewWindow()
    {
        QVERIFY(Open("/links"));
        const QWidgetList before = QApplication::topLevelWidgets();
        QWidget* surface = View()->focusProxy();
        QVERIFY(surface);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(100, 75));
        QTest::qWait(1500);
        QVERIFY(!FServer.WasRequested("/popup"));
        QCOMPARE(FWindow->WB().LocationURL(), FServer.Address("/links"));
        QCOMPARE(QApplication::topLevelWidgets(), before);

        // The same click on a link into the same window is followed, so the
        // clicks do reach the page.
        QSignalSpy loaded(View(), &QWebEngineView::loadFinished);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(100, 225));
        QVERIFY(loaded.wait(15000));
        QVERIFY(FServer.WasRequested("/followed"));
    }

    void altDFocusesTheAddressField()
    {
        // Elsewhere in the program Alt+D is a shortcut that must not fire
        // while the web page window exists; Alt+E shows that shortcuts do
        // reach that window.
        QWidget other;
        QAction altD(&other);
        altD.setShortcut(QKeySequence(Qt::ALT | Qt::Key_D));
        QAction altE(&other);
        altE.setShortcut(QKeySequence(Qt::ALT | Qt::Key_E));
        other.addActions({&altD, &altE});
        QSignalSpy firedD(&altD, &QAction::triggered);
        QSignalSpy firedE(&altE, &QAction::triggered);

        QVERIFY(Activate(FWindow));
        View()->setFocus();
        QTRY_VERIFY(!Edit1()->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_D, Qt::AltModifier);
        QTRY_VERIFY(Edit1()->hasFocus());

        FWindow->hide();
        other.show();
        QVERIFY(Activate(&other));
        QTest::keyClick(&other, Qt::Key_D, Qt::AltModifier);
        QTest::keyClick(&other, Qt::Key_E, Qt::AltModifier);
        QCOMPARE(firedE.count(), 1);
        QCOMPARE(firedD.count(), 0);
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow));
    }

    void capturesAPageBeyondThePaintLimitInPieces()
    {
        QVERIFY(Open("/stripes"));
        QElapsedTimer clock;
        clock.start();
        QImage bitmap;
        CaptureWebPage(bitmap, *FWindow);
        qInfo("%d pixel page: captured in %lld ms", StripesHeight, clock.elapsed());
        QCOMPARE(bitmap.size(), QSize(800 + WidthMargin, StripesHeight));
        // Every piece sits where it belongs: the stripes run on unbroken.
        for (int y = 0; y < StripesHeight; ++y) {
            if (y % 50 == 0 || y % 50 == 49)
                continue;
            const QRgb expected = y % 100 < 50 ? 0x000000 : 0xffffff;
            for (int x : {0, 799}) {
                if (!Near(bitmap.pixel(x, y), expected))
                    QFAIL(qPrintable(QStringLiteral("(%1, %2) is %3")
                                         .arg(x)
                                         .arg(y)
                                         .arg(bitmap.pixel(x, y), 8, 16)));
            }
        }
    }

    void closingTellsTheMainWindow()
    {
        QSignalSpy closed(FWindow.data(), &TFrmIExplorer::Closed);
        QVERIFY(FWindow->close());
        QCOMPARE(closed.count(), 1);
        QTRY_VERIFY(FWindow.isNull());
    }
};

int main(int argc, char* argv[])
{
    TTestEnvironment environment;
    PrepareWebEngine();
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestIExplorer tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_IExplorer.moc"
