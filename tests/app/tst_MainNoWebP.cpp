#include "Boxes.h"
#include "MainWindowFixture.h"
#include "NetTestSupport.h"
#include "TestEnvironment.h"
#include "app/Main.h"
#include "output/Save.h"
#include "services/Config.h"

#include <QComboBox>
#include <unistd.h>

// The WebP destination on a system without the WebP library. The library is
// installed where the tests run, so the program runs in a mount namespace of
// its own with the library's file covered by an empty one; where that cannot
// be done (no privilege to mount) the test is skipped.
class TTestMainNoWebP : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (WebPLibraryAvailable())
            QSKIP("the WebP library cannot be hidden here");
    }

    void cleanupTestCase() { FWindow.reset(); }

    // The stored WebP destination is refused at start: the box names the
    // library, its help page opens and PNG is selected and stored.
    void RefusedWithTheHelpPage()
    {
        TOpenedUrls opened;
        TBoxAnswer answer;
        MakeMainWindow([](TConfig& config) {
            WriteSetting(config, Setting::Language, QStringLiteral("ko"));
            WriteSetting(config, Setting::SaveTo, CaptureDestination::WebP);
            WriteSetting(config, Setting::ServiceUrl, QStringLiteral("http://svc.example"));
        });
        QCOMPARE(answer.Count, 1);
        QCOMPARE(answer.Text, QStringLiteral("\"libwebp.so.7\" 파일이 없습니다."));
        QCOMPARE(opened.Urls,
                 QList<QUrl>{QUrl("http://svc.example/help?app=vorantu&msg=webpnotfound")});
        QCOMPARE(Find<QComboBox>("ChkSaveTo")->currentIndex(), CaptureDestination::Png);
        QVERIFY(ConfigText().contains("saveto=0"));

        // Chosen again from the selector: the same refusal.
        Find<QComboBox>("ChkSaveTo")->setCurrentIndex(CaptureDestination::WebP);
        QCOMPARE(answer.Count, 2);
        QCOMPARE(opened.Urls.size(), 2);
        QCOMPARE(Find<QComboBox>("ChkSaveTo")->currentIndex(), CaptureDestination::Png);
    }
};

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("VORANTU_TEST_WEBP_HIDDEN")) {
        qputenv("VORANTU_TEST_WEBP_HIDDEN", "1");
        // A failed mount still runs the test, which then skips.
        const char* script = "lib=$(ldconfig -p | awk '/libwebp\\.so\\.7 /{print $NF; exit}'); "
                             "[ -n \"$lib\" ] && mount --bind /dev/null \"$lib\"; "
                             "exec \"$0\" \"$@\"";
        std::vector<char*> arguments = {const_cast<char*>("unshare"), const_cast<char*>("-m"),
                                        const_cast<char*>("sh"), const_cast<char*>("-c"),
                                        const_cast<char*>(script)};
        for (int i = 0; i < argc; ++i)
            arguments.push_back(argv[i]);
        arguments.push_back(nullptr);
        execvp("unshare", arguments.data());
    }
    TTestEnvironment environment;
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TTestMainNoWebP tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_MainNoWebP.moc"
