#include "TestEnvironment.h"
#include "platform/Activation.h"
#include "platform/x11/X11Activation.h"
#include "platform/x11/Xcb.h"

#include <QProcess>
#include <QWidget>

namespace {

// Another program's window, which takes the focus when asked to.
struct TOtherProgram
{
    QProcess Process;
    xcb_window_t Window = XCB_WINDOW_NONE;

    bool Start()
    {
        Process.start(QStringLiteral(VORANTU_CSD_WINDOW), {});
        if (!Process.waitForStarted() ||
            !QTest::qWaitFor([this] { return Process.canReadLine(); }, 10000))
            return false;
        Window = xcb_window_t(Process.readLine().trimmed().toULong());
        return Window != XCB_WINDOW_NONE;
    }
    ~TOtherProgram()
    {
        Process.closeWriteChannel();
        if (!Process.waitForFinished(5000))
            Process.kill();
    }
};

} // namespace

class TTestActivation : public QObject
{
    Q_OBJECT
private slots:
    void ServerTimeIsReal() { QVERIFY(X11ServerTime() != XCB_CURRENT_TIME); }

    // Our window must come to the front while another program holds the
    // focus, both through the whole procedure and through its last resort
    // alone (which is what a refusing window manager leaves).
    void TakesFocusFromAnotherProgram_data()
    {
        QTest::addColumn<bool>("lastResortOnly");
        QTest::newRow("force") << false;
        QTest::newRow("last resort") << true;
    }
    void TakesFocusFromAnotherProgram()
    {
        QFETCH(bool, lastResortOnly);
        xcb_connection_t* connection = QtXcbConnection();
        QWidget ours;
        ours.setWindowTitle("activation probe");
        ours.setGeometry(300, 200, 300, 200);
        ours.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ours));
        TOtherProgram other;
        QVERIFY(other.Start());
        X11RequestActivation(connection, other.Window, X11ServerTime());
        QTRY_COMPARE(X11ActiveWindow(connection), other.Window);
        QVERIFY(!IsForegroundWindow(&ours));
        if (lastResortOnly)
            X11RequestActivation(connection, xcb_window_t(ours.winId()), X11ServerTime());
        else
            ForceForegroundWindow(&ours);
        QTRY_VERIFY(IsForegroundWindow(&ours));
    }

    void RestoresAMinimisedWindow()
    {
        QWidget ours;
        ours.setGeometry(300, 200, 300, 200);
        ours.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ours));
        ours.showMinimized();
        QTRY_VERIFY(!IsForegroundWindow(&ours));
        ForceForegroundWindow(&ours);
        QTRY_VERIFY(IsForegroundWindow(&ours));
        QVERIFY(!ours.isMinimized());
    }
};

VORANTU_TEST_MAIN(TTestActivation)
#include "tst_Activation.moc"
