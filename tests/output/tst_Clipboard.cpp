#include "Boxes.h"
#include "Pictures.h"
#include "TestEnvironment.h"
#include "output/Save.h"
#include "services/Translate.h"

#include <QClipboard>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <xcb/xcb.h>

namespace {

// Another X client that takes the clipboard and keeps it until destroyed.
class TForeignOwner
{
public:
    TForeignOwner()
    {
        FConnection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(FConnection))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(FConnection)).data;
        FWindow = xcb_generate_id(FConnection);
        xcb_create_window(FConnection, XCB_COPY_FROM_PARENT, FWindow, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char name[] = "CLIPBOARD";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            FConnection, xcb_intern_atom(FConnection, 0, sizeof name - 1, name), nullptr);
        if (atom) {
            FClipboard = atom->atom;
            free(atom);
        }
        xcb_set_selection_owner(FConnection, FWindow, FClipboard, XCB_CURRENT_TIME);
        xcb_flush(FConnection);
    }

    ~TForeignOwner() { xcb_disconnect(FConnection); }

    bool OwnsClipboard() const
    {
        xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
            FConnection, xcb_get_selection_owner(FConnection, FClipboard), nullptr);
        const bool owns = reply && reply->owner == FWindow && FWindow != 0;
        free(reply);
        return owns;
    }

private:
    xcb_connection_t* FConnection;
    xcb_window_t FWindow = 0;
    xcb_atom_t FClipboard = 0;
};

// Runs xclip to read the clipboard while this process keeps serving it: the
// owner answers from its event loop.
QByteArray ReadClipboard(const QString& target)
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", target, "-o"});
    QDeadlineTimer deadline(10000);
    while (xclip.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        xclip.waitForFinished(5);
    }
    if (xclip.state() != QProcess::NotRunning) {
        xclip.kill();
        xclip.waitForFinished();
        return QByteArray();
    }
    return xclip.readAllStandardOutput();
}

QStringList Targets()
{
    return QString::fromUtf8(ReadClipboard("TARGETS")).split('\n', Qt::SkipEmptyParts);
}

QImage Translucent(const QImage& source)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = (row[x] & 0x00FFFFFF) | (quint32((x * 5 + y) & 0x7F) << 24);
    }
    return image;
}

} // namespace

class TTestClipboard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Vorantu"));
    }

    void Text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("a six-digit colour code") << "1A2B3C";
        QTest::newRow("Korean") << QString::fromUtf8("캡쳐 완료: 화면 ✓");
        QTest::newRow("line breaks") << "first\r\nsecond";
    }

    void Text()
    {
        QFETCH(QString, text);
        TBoxAnswer boxes;
        TextToClipboard(text);
        QCOMPARE(boxes.Count, 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        const QStringList targets = Targets();
        QVERIFY2(targets.contains("UTF8_STRING"), qPrintable(targets.join(' ')));
        QVERIFY2(targets.contains("text/plain;charset=utf-8"), qPrintable(targets.join(' ')));
        QCOMPARE(ReadClipboard("UTF8_STRING"), text.toUtf8());
        QCOMPARE(ReadClipboard("text/plain;charset=utf-8"), text.toUtf8());
    }

    void Image_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::newRow("screenshot") << ScreenshotLike(320, 200);
        QTest::newRow("fourth byte is not transparency") << Translucent(Gradient(64, 40));
        QTest::newRow("indexed") << Gradient(50, 30).convertToFormat(QImage::Format_Indexed8);
    }

    void Image()
    {
        QFETCH(QImage, picture);
        TBoxAnswer boxes;
        BitmapToClipboard(picture);
        QCOMPARE(boxes.Count, 0);
        const QStringList targets = Targets();
        QVERIFY2(targets.contains("image/png"), qPrintable(targets.join(' ')));
        QVERIFY2(targets.contains("image/bmp"), qPrintable(targets.join(' ')));

        const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
        const QImage png = QImage::fromData(ReadClipboard("image/png"), "PNG");
        QCOMPARE(png.size(), picture.size());
        QCOMPARE(MeanError(png, expected), 0.0);
        for (int y = 0; y < png.height(); ++y)
            for (int x = 0; x < png.width(); ++x)
                QCOMPARE(qAlpha(png.pixel(x, y)), 255);
        QCOMPARE(MeanError(QGuiApplication::clipboard()->image(), expected), 0.0);
    }

    void HeldClipboardIsToldOnceAndNotRaised_data()
    {
        QTest::addColumn<bool>("image");
        QTest::newRow("text") << false;
        QTest::newRow("image") << true;
    }

    void HeldClipboardIsToldOnceAndNotRaised()
    {
        QFETCH(bool, image);
        TextToClipboard(QStringLiteral("before"));
        QCoreApplication::processEvents();
        // The other program's claim must be later than anything this process
        // has seen from the server, as it would be for a real program.
        QTest::qSleep(100);
        TForeignOwner other;
        QVERIFY(other.OwnsClipboard());

        TBoxAnswer boxes;
        if (image)
            BitmapToClipboard(ScreenshotLike(64, 64));
        else
            TextToClipboard(QStringLiteral("1A2B3C"));
        QCOMPARE(boxes.Count, 1);
        QCOMPARE(boxes.Text,
                 Translate(QStringLiteral("클립보드 사용을 방지하는 프로그램이 실행중입니다.")));
        QCOMPARE(boxes.Caption, QString("Vorantu"));
        QCOMPARE(boxes.Icon, QMessageBox::Information);
        QVERIFY(other.OwnsClipboard());
    }
};

VORANTU_TEST_MAIN(TTestClipboard)
#include "tst_Clipboard.moc"
