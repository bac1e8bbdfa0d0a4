#include "Boxes.h"
#include "Desktop.h"
#include "MainWindowFixture.h"
#include "NetTestSupport.h"
#include "Notices.h"
#include "TestEnvironment.h"
#include "TextWindow.h"
#include "app/Controller.h"
#include "app/Main.h"
#include "app/OcrChoice.h"
#include "app/ServerDialog.h"
#include "output/ocr/Languages.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <utility>

namespace {

QStringList Files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// What the screen shows in `area`, written where people look at test pictures.
void SaveScreen(const QRect& area, const QString& name)
{
    QDir().mkpath(QStringLiteral(VORANTU_ARTIFACTS));
    TPlatform platform = LoadPlatform();
    // A window just shown or changed may still have paints queued: the
    // picture is taken once two looks in a row show the same pixels.
    QImage shot, previous;
    QTRY_VERIFY([&] {
        shot = QImage(area.size(), QImage::Format_RGB32);
        shot.fill(Qt::black);
        platform.Screen->Grab(area, shot);
        return shot == std::exchange(previous, shot);
    }());
    QVERIFY(shot.save(QStringLiteral(VORANTU_ARTIFACTS "/") + name));
}

// The notification daemon's window, found as any X client would.
QRect NoticeWindow()
{
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--classname", "Dunst"});
    search.waitForFinished(5000);
    const QString id = QString::fromUtf8(search.readAllStandardOutput()).section('\n', 0, 0);
    if (id.isEmpty())
        return {};
    QProcess geometry;
    geometry.start("xdotool", {"getwindowgeometry", "--shell", id});
    geometry.waitForFinished(5000);
    const QString text = QString::fromUtf8(geometry.readAllStandardOutput());
    auto value = [&text](const char* name) {
        return text.section(QLatin1String(name) + '=', 1).section('\n', 0, 0).toInt();
    };
    return QRect(value("X"), value("Y"), value("WIDTH"), value("HEIGHT"));
}

// Links a few installed recognition languages into a folder of its own.
void LinkTrainedData(const QString& folder, const QStringList& codes)
{
    QDir().mkpath(folder);
    const QString system = QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/");
    for (const QString& code : codes)
        QFile::link(system + code + ".traineddata", folder + '/' + code + ".traineddata");
}

} // namespace

// Everyday use from the tray and the desktop: capturing from the tray menu,
// notifications, the upload server, the local manual, the recognition
// language and the recording's tray state.
class TTestEveryday : public QObject, private TMainWindowFixture
{
    Q_OBJECT
private:
    template <typename T> T* FindIn(QObject* parent, const char* name)
    {
        T* child = parent->findChild<T*>(QLatin1String(name));
        if (!child)
            qFatal("no component %s", name);
        return child;
    }

    void Trigger(const char* name) { Find<QAction>(name)->trigger(); }
    void Select(const char* selector, int index)
    {
        Find<QComboBox>(selector)->setCurrentIndex(index);
    }

    void RemakeWindow()
    {
        FWindow.reset();
        FWindow = std::make_unique<TFrmVorantu>(FPlatform, false);
    }

    // Runs `inside` once the upload server dialog is up, from the event loop.
    void WithServerDialog(const std::function<void(QDialog*)>& inside)
    {
        QTimer::singleShot(0, this, [this, inside] {
            QDialog* dialog = nullptr;
            (void)QTest::qWaitFor([&] {
                dialog = FWindow->findChild<QDialog*>("FrmServer");
                return dialog && dialog->isVisible();
            });
            if (dialog && QTest::qWaitForWindowExposed(dialog))
                inside(dialog);
        });
    }

private slots:
    void initTestCase()
    {
        KeepRequestsLocal();
        FNotices = std::make_unique<TNoticeDaemon>();
        QVERIFY(FNotices->WaitReady());
        QDir().mkpath(QDir::homePath() + "/no-tessdata");
        qputenv("TESSDATA_PREFIX", (QDir::homePath() + "/no-tessdata").toLocal8Bit());
        MakeMainWindow([](TConfig& config) {
            WriteSetting(config, Setting::Notify, true);
            WriteSetting(config, Setting::Mouse, false);
        });
        FWindow->ShowMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
    }

    void cleanupTestCase()
    {
        FWindow.reset();
        FNotices.reset();
    }

    void init()
    {
        for (const QString& name : Files(FSave))
            QFile::remove(FSave + '/' + name);
        Select("ChkArea", CaptureArea::FullScreen);
        Select("ChkSaveTo", CaptureDestination::Png);
    }

    void TrayCaptureComesFirstAndSaves()
    {
        QMenu* menu = FWindow->TrayMenu();
        QCOMPARE(FWindow->Tray()->contextMenu(), menu);
        QCOMPARE(menu->actions().first()->objectName(), QStringLiteral("NCapture"));
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Capture now"));
        // The window's own menu follows, whole.
        QVERIFY(menu->actions().contains(Find<QAction>("N10")));

        Trigger("ChkDelay0");
        FindIn<QAction>(menu, "NCapture")->trigger();
        QTRY_COMPARE(Files(FSave), QStringList{"V-001.png"});

        Trigger("ChkDelay3");
        QCOMPARE(ReadSetting(TConfig(ProgramConfigPath), Setting::CaptureDelay), 3);
        QElapsedTimer clock;
        clock.start();
        FindIn<QAction>(menu, "NCapture")->trigger();
        QVERIFY2(FWindow->Tray()->toolTip().contains("3"), qPrintable(FWindow->Tray()->toolTip()));
        QTRY_COMPARE_WITH_TIMEOUT(Files(FSave).size(), 2, 10000);
        QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!FWindow->Tray()->toolTip().contains("Capture in"));
        Trigger("ChkDelay0");
    }

    void TrayMenuScreenshots()
    {
        for (const char* language : {"En", "Ko"}) {
            Trigger(QByteArray("ChkLang") + language);
            QMenu* menu = FWindow->TrayMenu();
            menu->popup(QPoint(1500, 500));
            QVERIFY(QTest::qWaitForWindowExposed(menu));
            SaveScreen(menu->geometry().adjusted(-4, -4, 4, 4),
                       QStringLiteral("tray-menu-%1.png").arg(QString(language).toLower()));
            menu->hide();
        }
        Trigger("ChkLangEn");
    }

    void SavedPictureIsAnnounced()
    {
        // Where files go shows before any capture, too.
        QCOMPARE(Find<QPushButton>("BtnOpenDir")->toolTip(), FSave);
        QCOMPARE(Find<QAction>("N4")->toolTip(), FSave);
        ClosedNotices();
        FWindow->Start();
        QCOMPARE(Files(FSave), QStringList{"V-001.png"});
        QTRY_COMPARE(DisplayedNotices(), 1);
        SaveScreen(NoticeWindow().adjusted(-8, -8, 8, 8), "notification-en.png");
        QList<TNotice> notices = ClosedNotices();
        QVERIFY(!notices.isEmpty());
        QCOMPARE(notices.first().Summary, QStringLiteral("V-001.png"));
        QCOMPARE(notices.first().Body, FSave.toHtmlEscaped());

        // The Korean interface names the folder action in Korean; the picture
        // is the same.
        Trigger("ChkLangKo");
        Select("ChkSaveTo", CaptureDestination::Clipboard);
        FWindow->Start();
        QTRY_COMPARE(DisplayedNotices(), 1);
        SaveScreen(NoticeWindow().adjusted(-8, -8, 8, 8), "notification-ko.png");
        notices = ClosedNotices();
        QCOMPARE(notices.first().Summary, QStringLiteral("클립보드에 복사했습니다."));
        Trigger("ChkLangEn");

        // Switched off: nothing more is shown.
        Select("ChkSaveTo", CaptureDestination::Png);
        Trigger("ChkNotify");
        QVERIFY(!ReadSetting(TConfig(ProgramConfigPath), Setting::Notify));
        FWindow->Start();
        QCOMPARE(Files(FSave).size(), 2);
        QCOMPARE(ClosedNotices().first().Summary, QStringLiteral("클립보드에 복사했습니다."));
        Trigger("ChkNotify");
    }

    void WithoutTheServiceCapturesDoNotWait()
    {
        TEmptyBus bus;
        QVERIFY(bus.WaitListening());
        const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
        RemakeWindow();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 3; ++i)
            FWindow->Start();
        QCOMPARE(Files(FSave).size(), 3);
        qInfo("three captures without a notification service: %lld ms", clock.elapsed());
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
        RemakeWindow();
    }

    void UploadAnnouncesAndCopiesItsLink()
    {
        QTemporaryDir storage;
        TServiceProcess service;
        QVERIFY(service.Start({"--storage", storage.path()}));
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::UploadHost, service.Host());
        TOpenedUrls opened;
        ClosedNotices();

        Select("ChkSaveTo", CaptureDestination::Upload);
        FWindow->Start();
        QCOMPARE(opened.Urls.size(), 1);
        const QString link = opened.Urls.first().toString();
        QTRY_COMPARE(DisplayedNotices(), 1);
        QGuiApplication::clipboard()->setText("something else");
        ClickNewestNotice();
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), link);
        const QList<TNotice> notices = ClosedNotices();
        QCOMPARE(notices.first().Summary, QStringLiteral("Uploaded."));
        QCOMPARE(notices.first().Body, link);
        WriteSetting(config, Setting::UploadHost, Setting::UploadHost.Default());
    }

    void UploadWithoutServerAsksForOne()
    {
        TConfig config(ProgramConfigPath);
        WriteSetting(config, Setting::UploadHost, Setting::UploadHost.Default());
        Select("ChkSaveTo", CaptureDestination::Upload);
        TOpenedUrls opened;
        bool asked = false;
        WithServerDialog([&](QDialog* dialog) {
            asked = true;
            FindIn<QPushButton>(dialog, "BtnNo")->click();
        });
        TBoxAnswer answer;
        FWindow->Start();
        QVERIFY(asked);
        QCOMPARE(opened.Urls.size(), 0);
        QCOMPARE(answer.Count, 0); // a choice not to set one is no failure
        QCOMPARE(FWindow->Status(), stIdle);
    }

    void ServerDialogTestsAndStores()
    {
        QTemporaryDir storage;
        TServiceProcess service;
        QVERIFY(service.Start({"--storage", storage.path()}));
        const QString refusing = QStringLiteral("127.0.0.1:%1").arg(RefusingPort());

        for (const char* language : {"En", "Ko"}) {
            Trigger(QByteArray("ChkLang") + language);
            QString good;
            QString bad;
            WithServerDialog([&](QDialog* dialog) {
                auto* host = FindIn<QLineEdit>(dialog, "EdtUploadHost");
                auto* address = FindIn<QLineEdit>(dialog, "EdtServiceUrl");
                auto* result = FindIn<QLabel>(dialog, "LblResult");
                host->setText(refusing);
                address->setText("http://" + refusing);
                FindIn<QPushButton>(dialog, "BtnTest")->click();
                bad = result->text();
                host->setText(service.Host());
                address->setText(service.BaseAddress());
                FindIn<QPushButton>(dialog, "BtnTest")->click();
                good = result->text();
                SaveScreen(dialog->frameGeometry().adjusted(-4, -4, 4, 4),
                           QStringLiteral("server-dialog-%1.png").arg(QString(language).toLower()));
                FindIn<QPushButton>(dialog, "BtnYes")->click();
            });
            Trigger("N17");
            if (QByteArray(language) == "En") {
                QCOMPARE(good, QStringLiteral("The upload server answered.\n"
                                              "The web service answered."));
                QVERIFY2(bad.startsWith("The upload server could not be reached: ") &&
                             bad.contains("The web service could not be reached: "),
                         qPrintable(bad));
            } else {
                QVERIFY2(good.contains("응답했습니다"), qPrintable(good));
            }
        }
        Trigger("ChkLangEn");
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::UploadHost), service.Host());
        QCOMPARE(ReadSetting(config, Setting::ServiceUrl), service.BaseAddress());
        QVERIFY(UploadServerSet() && WebServiceSet());

        // A set service serves the product page again.
        TOpenedUrls opened;
        Trigger("N9");
        QCOMPARE(opened.Urls.value(0).toString(),
                 service.BaseAddress() + "/vorantu?v=" + TFrmVorantu::Version4());

        TConfig writable(ProgramConfigPath);
        WriteSetting(writable, Setting::UploadHost, Setting::UploadHost.Default());
        WriteSetting(writable, Setting::ServiceUrl, Setting::ServiceUrl.Default());
    }

    void ServerAddressesThatCannotBeUsed_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("set");
        QTest::newRow("fresh default host") << Setting::UploadHost.Default() << false;
        QTest::newRow("fresh default service") << Setting::ServiceUrl.Default() << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("fresh default, trailing slash") << "HTTP://www.dastrane.example/" << false;
        QTest::newRow("another name") << "http://svc.example" << true;
        QTest::newRow("host and port") << "127.0.0.1:8080" << true;
        QTest::newRow("service") << "https://shots.example.org" << true;
    }

    void ServerAddressesThatCannotBeUsed()
    {
        QFETCH(QString, value);
        QFETCH(bool, set);
        QCOMPARE(IsServiceAddressSet(value), set);
    }

    void WithoutServiceTheManualIsLocal()
    {
        QVERIFY(!WebServiceSet());
        TOpenedUrls opened;
        Trigger("N9");
        QCOMPARE(opened.Urls.size(), 1);
        QVERIFY2(opened.Urls.first().isLocalFile() &&
                     opened.Urls.first().fileName() == "vorantu-en.html",
                 qPrintable(opened.Urls.first().toString()));

        const QUrl help(FWindow->HelpPageAddress("?app=vorantu&msg=ffmpegnotfound"));
        QCOMPARE(help.fragment(), QStringLiteral("ffmpeg"));
        QFile page(help.toLocalFile());
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QByteArray text = page.readAll();
        QVERIFY(text.contains("id=\"ffmpeg\"") && text.contains("sudo apt install ffmpeg"));

        Trigger("ChkLangKo");
        Trigger("N18");
        QCOMPARE(opened.Urls.last().fileName(), QStringLiteral("vorantu-ko.html"));
        Trigger("ChkLangEn");
    }

    void OcrLanguageChoice_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("storedName");
        QTest::addColumn<int>("storedIndex");
        QTest::addColumn<QString>("ui");
        QTest::addColumn<int>("chosen");
        const QStringList all = {"chi_sim", "eng", "fra", "ita", "jpn", "kor", "rus"};
        QTest::newRow("English interface") << all << "" << -1 << "en" << 1;
        QTest::newRow("Korean interface") << all << "" << -1 << "ko" << 5;
        QTest::newRow("Chinese interface") << all << "" << -1 << "zh" << 0;
        QTest::newRow("no data for it") << QStringList{"chi_sim", "eng"} << "" << -1 << "ru" << 1;
        QTest::newRow("no English either") << QStringList{"kor", "rus"} << "" << -1 << "fr" << 0;
        QTest::newRow("stored name wins") << all << "Russian" << 1 << "en" << 6;
        QTest::newRow("stored name gone")
            << QStringList{"eng", "kor"} << "Russian" << -1 << "ko" << 1;
        QTest::newRow("older store's index") << all << "" << 4 << "en" << 4;
        QTest::newRow("nothing installed") << QStringList{} << "" << -1 << "en" << -1;
    }

    void OcrLanguageChoice()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, storedName);
        QFETCH(int, storedIndex);
        QFETCH(QString, ui);
        QFETCH(int, chosen);
        RtOcr::TLanguages languages;
        for (const QString& code : installed)
            languages.append(RtOcr::LanguageOfTrainedData(code));
        QCOMPARE(ChooseOcrLanguage(languages, storedName, storedIndex, ui), chosen);
    }

    void EnglishTextIsReadAsEnglish()
    {
        // Chinese sorts first among the data the project installs.
        qputenv("TESSDATA_PREFIX", "/usr/share/tesseract-ocr/5/tessdata");
        {
            QSettings stored(TConfig::FileFor(ProgramConfigPath), QSettings::IniFormat);
            stored.remove("language_ocr");
            stored.remove("ocr_language");
        }
        RemakeWindow();
        QCOMPARE(Find<QComboBox>("ChkOCR_lang")->currentText(), QStringLiteral("English"));

        Select("ChkArea", CaptureArea::ActiveWindow);
        Select("ChkSaveTo", CaptureDestination::Txt);
        TTextWindow target({"The quick brown fox", "jumps over the lazy dog"}, QSize(620, 200));
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));
        target.activateWindow();
        QTRY_VERIFY(target.isActiveWindow());
        // The capture asks the window manager, not what Qt last heard.
        QTRY_COMPARE(TestDesktop::ActiveWindow(), quint64(target.winId()));
        FWindow->Start();
        QTRY_COMPARE_WITH_TIMEOUT(FWindow->Status(), stIdle, 60000);
        const QStringList texts = QDir(FSave).entryList({"*.txt"}, QDir::Files);
        QCOMPARE(texts.size(), 1);
        QFile file(FSave + '/' + texts.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains("quick brown fox") && text.contains("lazy dog"), qPrintable(text));
    }

    void StoredLanguageSurvivesNewData()
    {
        const QString folder = QDir::homePath() + "/tessdata-changing";
        LinkTrainedData(folder, {"eng", "kor", "rus"});
        qputenv("TESSDATA_PREFIX", folder.toLocal8Bit());
        RemakeWindow();
        auto* box = Find<QComboBox>("ChkOCR_lang");
        box->setCurrentIndex(box->findText("Korean"));
        QCOMPARE(box->currentIndex(), 1);

        // Chinese arrives and takes the first place in the list.
        LinkTrainedData(folder, {"chi_sim"});
        RemakeWindow();
        QCOMPARE(Find<QComboBox>("ChkOCR_lang")->currentText(), QStringLiteral("Korean"));
        QCOMPARE(Find<QComboBox>("ChkOCR_lang")->currentIndex(), 2);
        qputenv("TESSDATA_PREFIX", (QDir::homePath() + "/no-tessdata").toLocal8Bit());
        RemakeWindow();
    }

    void RecordingShowsInTheTray()
    {
        const qint64 idleIcon = FWindow->Tray()->icon().cacheKey();
        auto* stop = FindIn<QAction>(FWindow->TrayMenu(), "NStopRec");
        QVERIFY(!stop->isVisible());
        ClosedNotices();

        Select("ChkSaveTo", CaptureDestination::Mp4);
        FWindow->Start();
        QVERIFY(FWindow->IsRecording());
        QVERIFY(stop->isVisible());
        QVERIFY(FWindow->Tray()->icon().cacheKey() != idleIcon);
        QVERIFY(FWindow->Tray()->toolTip().contains("Stop recording"));
        QTRY_VERIFY_WITH_TIMEOUT(Find<QLabel>("LvlRecTime")->text() >= "00:00:01", 20000);
        stop->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->IsRecording(), 20000);
        QVERIFY(!stop->isVisible());
        QTRY_COMPARE(DisplayedNotices(), 1);
        const QList<TNotice> notices = ClosedNotices();
        QCOMPARE(notices.first().Summary, QStringLiteral("V-001.mp4"));
        QVERIFY2(notices.first().Body.startsWith("Length 00:00:0"),
                 qPrintable(notices.first().Body));
        Select("ChkSaveTo", CaptureDestination::Png);
    }

private:
    std::unique_ptr<TNoticeDaemon> FNotices;
};

VORANTU_TEST_MAIN(TTestEveryday)
#include "tst_Everyday.moc"
