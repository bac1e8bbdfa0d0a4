// The start-up call against the real vorantu-service and a scripted loopback
// server: the request, the retries, the offer dialog, the notice strip and
// the hold notice. Nothing leaves 127.0.0.1 and no browser is started.

#include "NetTestSupport.h"
#include "TestEnvironment.h"
#include "Version.h"
#include "services/Config.h"
#include "services/Translate.h"
#include "services/Update.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

using namespace std::chrono_literals;

namespace {

// Reply texts are written raw; they hold backslashes.
QString Json(const char* text)
{
    return QString::fromUtf8(text);
}

TUpdateOptions FastOptions(int attempts = 6)
{
    TUpdateOptions options;
    options.Attempts = attempts;
    options.Pause = 30ms;
    options.Limits.ConnectTimeout = 2000ms;
    options.Limits.StallTime = 1s;
    return options;
}

void SetLanguage(const QString& lang)
{
    QObject nothing;
    TranslateComponent(&nothing, lang);
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray ServiceConfig(const QByteArray& style, const QByteArray& text)
{
    return "{\"latest\":\"99.0.0.0\","
           "\"update\":\"https://downloads.test/vorantu/99\","
           "\"notify\":\"http://news.test/notice?id=1\","
           "\"info\":{\"style\":\"" +
           style + "\",\"text\":\"" + text +
           "\",\"flag\":\"stayontop\",\"url\":\"https://downloads.test/notes\"}}";
}

// The start-up calls the service logged, oldest first.
QList<QJsonObject> StartupCalls(const QString& log, bool hold)
{
    QList<QJsonObject> calls;
    for (const QJsonObject& entry : ServiceLog(log)) {
        if (entry.value(QStringLiteral("path")).toString() != QLatin1String("/api.init.php"))
            continue;
        bool isHold = false;
        for (const auto& [name, value] : LoggedHeaders(entry))
            isHold = isHold || name == QLatin1String("User-Command");
        if (isHold == hold)
            calls.append(entry);
    }
    return calls;
}

QStringList ProgramHeaders(const QJsonObject& entry)
{
    QStringList headers;
    for (const auto& [name, value] : LoggedHeaders(entry)) {
        if (name.startsWith(QLatin1String("User-")) && name != QLatin1String("User-Agent"))
            headers.append(name + QLatin1String(": ") + value);
    }
    return headers;
}

QString HeaderValue(const QJsonObject& entry, const QString& wanted)
{
    for (const auto& [name, value] : LoggedHeaders(entry)) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QString();
}

// One finished check: what the completion procedure was given.
struct TOutcome
{
    int Calls = 0;
    bool Accepted = false;
    QString Reply;
};

TUpdateProc Recorder(TOutcome& outcome)
{
    return [&outcome](bool accepted, const QString& reply) {
        ++outcome.Calls;
        outcome.Accepted = accepted;
        outcome.Reply = reply;
    };
}

QWidget* StatusBar(QWidget& window)
{
    return window.findChild<QWidget*>(QStringLiteral("StatusBar"));
}

} // namespace

class TTestUpdate : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;
    std::unique_ptr<QWidget> FWindow;

    QString Path(const QString& name) const { return FDir.filePath(name); }

    std::unique_ptr<TServiceProcess> StartService(const QByteArray& config)
    {
        auto service = std::make_unique<TServiceProcess>();
        QStringList arguments{QStringLiteral("--storage"), Path(QStringLiteral("storage")),
                              QStringLiteral("--log"), Path(QStringLiteral("service.log"))};
        if (!config.isEmpty()) {
            if (!WriteFile(Path(QStringLiteral("service.json")), config))
                return nullptr;
            arguments << QStringLiteral("--config") << Path(QStringLiteral("service.json"));
        }
        if (!service->Start(arguments))
            return nullptr;
        return service;
    }

    QString Log() const { return Path(QStringLiteral("service.log")); }

private slots:
    void initTestCase() { KeepRequestsLocal(); }

    void init()
    {
        QVERIFY(FDir.isValid());
        QFile::remove(Log());
        QFile::remove(Path(QStringLiteral("storage/holds.json")));
        SetLanguage(QStringLiteral("ko"));
        // The main window as the strip finds it: fixed in size, controls
        // placed by hand.
        FWindow = std::make_unique<QWidget>();
        FWindow->setFixedSize(162, 191);
        FWindow->show();
    }

    void cleanup() { FWindow.reset(); }

    // libcurl and its libraries cost memory from the moment they are mapped,
    // and most runs never send a request: nothing of them may be loaded
    // before the first request that can leave the machine. First of the
    // tests: later ones load it.
    void transferLoadsOnFirstRequest()
    {
        const auto curlMapped = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libcurl");
        };
        QVERIFY(!curlMapped());
        THttpRequest request;
        request.Url = "http://www.dastrane.example/api.init.php";
        QVERIFY(!HttpRequest(request).Received);
        QVERIFY(!curlMapped());

        request.Url = QStringLiteral("http://127.0.0.1:%1/").arg(RefusingPort()).toUtf8();
        request.Limits = FastOptions().Limits;
        const THttpReply reply = HttpRequest(request);
        QVERIFY(!reply.Received);
        // The transfer's own reason, not a plugin that failed to load.
        QVERIFY2(!reply.Error.isEmpty() && !reply.Error.contains(QLatin1String("plugin")),
                 qPrintable(reply.Error));
        QVERIFY(curlMapped());
    }

    void versionText()
    {
        QCOMPARE(VersionText(QStringLiteral("%d.%d.%d.%d")), QStringLiteral(VORANTU_VERSION));
        QCOMPARE(VersionText(QStringLiteral("%d.%d.%d")),
                 QStringLiteral(VORANTU_VERSION).section(QLatin1Char('.'), 0, 2));
    }

    // Every address of the web service comes from one base, read the same way.
    void serviceAddress_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "http://h.example"
                               << "http://h.example/help?q";
        QTest::newRow("trailing slashes") << "http://h.example//"
                                          << "http://h.example/help?q";
        QTest::newRow("blanks") << " \thttp://h.example/ \n"
                                << "http://h.example/help?q";
        QTest::newRow("with a path") << "http://h.example/v/"
                                     << "http://h.example/v/help?q";
    }

    void serviceAddress()
    {
        QFETCH(QString, base);
        QFETCH(QString, expected);
        TConfig program(ProgramConfigPath);
        const QString before = ReadSetting(program, Setting::ServiceUrl);
        WriteSetting(program, Setting::ServiceUrl, base);
        QCOMPARE(ServiceAddress(QStringLiteral("/help?q")), expected);
        QCOMPARE(StartupAddress(), ServiceAddress(QStringLiteral("/api.init.php")));
        WriteSetting(program, Setting::ServiceUrl, before);
    }

    // The request carries the four headers in order, the identifier is made
    // once, stored in the maker's store and sent again by the next start.
    void startupRequest()
    {
        QVERIFY(!TConfig(MakerConfigPath).Exists(QStringLiteral("DUID")));
        auto service = StartService({});
        QVERIFY(service);
        TConfig program(ProgramConfigPath);
        WriteSetting(program, Setting::ServiceUrl, service->BaseAddress() + QStringLiteral("//"));
        QCOMPARE(StartupAddress(), service->BaseAddress() + QStringLiteral("/api.init.php"));

        TBoxAnswers boxes(QMessageBox::No);
        for (int run = 0; run < 2; ++run) {
            TOutcome outcome;
            std::unique_ptr<TUpdateCheck> check(
                CheckUpdate(StartupAddress(), Recorder(outcome), 0, nullptr, FastOptions()));
            QTRY_COMPARE_WITH_TIMEOUT(outcome.Calls, 1, 10000);
            QVERIFY(!outcome.Accepted);
            QCOMPARE(check->AttemptCount(), 1);
            QVERIFY(outcome.Reply.startsWith(QLatin1String("{\"update\":\"\"")));
        }
        QVERIFY(boxes.Texts.isEmpty());
        QVERIFY(!StatusBar(*FWindow));

        const QList<QJsonObject> calls = StartupCalls(Log(), false);
        QCOMPARE(calls.size(), 2);
        const QString id = TConfig(MakerConfigPath).ReadString(QStringLiteral("DUID"), QString());
        static const QRegularExpression idForm(
            QStringLiteral("^[0-9A-F]{8}\\d{6}[0-9A-F]{4}\\d{6}[0-9A-F]{8}$"));
        QVERIFY2(idForm.match(id).hasMatch(), qPrintable(id));
        for (const QJsonObject& call : calls) {
            QCOMPARE(call.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
            QCOMPARE(HeaderValue(call, QStringLiteral("User-Agent")),
                     QStringLiteral("Mozilla/5.0 (Windows NT 10.0; Win64; x64)"));
            QCOMPARE(ProgramHeaders(call),
                     QStringList(
                         {QStringLiteral("User-Version: ") + QStringLiteral(VORANTU_VERSION),
                          QStringLiteral("User-Language: ko"), QStringLiteral("User-Debug: false"),
                          QStringLiteral("User-Union: ") + id}));
        }
        QCOMPARE(InstallId(), id);
        QVERIFY(NewInstallId() != id);
    }

    void installIdThatCannotBeStoredIsEmpty()
    {
        // A file where the maker's settings folder should be: nothing can be
        // written there, not even by root.
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane";
        const QString aside = folder + ".aside";
        QVERIFY(!QFileInfo::exists(aside));
        QVERIFY(!QFileInfo::exists(folder) || QFile::rename(folder, aside));
        const auto restore = qScopeGuard([&] {
            QFile::remove(folder);
            if (QFileInfo::exists(aside))
                QFile::rename(aside, folder);
        });
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(InstallId(), QString());
        QCOMPARE(InstallId(), QString());
    }

    // An offer with a note: the dialog with its texts and link; Yes opens the
    // update address (slashes unescaped) and reports acceptance, No does not.
    void offerWithNote_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<bool>("accepted");
        const QString notes = QStringLiteral("https://downloads.test/notes");
        QTest::newRow("no") << int(QMessageBox::No) << QStringList{notes} << false;
        QTest::newRow("yes") << int(QMessageBox::Yes)
                             << QStringList{notes,
                                            QStringLiteral("https://downloads.test/vorantu/99")}
                             << true;
    }

    void offerWithNote()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, opened);
        QFETCH(bool, accepted);
        auto service = StartService(ServiceConfig("note", "Release notes"));
        QVERIFY(service);

        TOpenedUrls urls;
        struct
        {
            QString Question, Yes, No, Note, NoteHint;
            bool Blue = false, Underlined = false, OnTop = false, Line = false;
        } seen;
        TBoxAnswers boxes(
            QMessageBox::StandardButton(answer),
            [&seen](QMessageBox* box) {
                seen.Question = box->text();
                seen.Yes = box->button(QMessageBox::Yes)->text();
                seen.No = box->button(QMessageBox::No)->text();
                seen.OnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
                seen.Line = box->findChild<QWidget*>(QStringLiteral("ShpLine")) != nullptr;
                auto* note = box->findChild<QLabel*>(QStringLiteral("LblNote"));
                if (!note)
                    return;
                seen.Note = note->text();
                seen.NoteHint = note->toolTip();
                seen.Blue = note->palette().color(QPalette::WindowText) == QColor(0, 0, 255);
                seen.Underlined = note->font().underline();
                QTest::mouseClick(note, Qt::LeftButton);
            },
            QStringLiteral("UpdateDialog"));

        TOutcome outcome;
        std::unique_ptr<TUpdateCheck> check(
            CheckUpdate(service->BaseAddress() + QStringLiteral("/api.init.php"), Recorder(outcome),
                        0, FWindow.get(), FastOptions()));
        QTRY_COMPARE_WITH_TIMEOUT(outcome.Calls, 1, 10000);

        QCOMPARE(boxes.Texts.size(), 1);
        QCOMPARE(seen.Question,
                 UpdateText(utQuestion).replace(QLatin1Char('\r'), QLatin1Char('\n')));
        QCOMPARE(seen.Yes, QStringLiteral("예"));
        QCOMPARE(seen.No, QStringLiteral("아니오"));
        QVERIFY(seen.OnTop);
        QVERIFY(seen.Line);
        QCOMPARE(seen.Note, QStringLiteral("Release notes"));
        QCOMPARE(seen.NoteHint, QStringLiteral("https://downloads.test/notes"));
        QVERIFY(seen.Blue);
        QVERIFY(seen.Underlined);

        QStringList openedNow;
        for (const QUrl& url : urls.Urls)
            openedNow.append(url.toString());
        QCOMPARE(openedNow, opened);
        QCOMPARE(outcome.Accepted, accepted);
        // The notice comes with the offer either way.
        QWidget* bar = StatusBar(*FWindow);
        QVERIFY(bar);
        QCOMPARE(bar->toolTip(), QStringLiteral("http://news.test/notice?id=1"));
    }

    // Ticking the box sends the hold notice even with the answer No, and the
    // service stops offering that update to this installation.
    void holdNotice()
    {
        auto service = StartService(ServiceConfig("hold", "Do not offer this version again"));
        QVERIFY(service);
        const QString url = service->BaseAddress() + QStringLiteral("/api.init.php");

        QString holdText;
        TBoxAnswers boxes(
            QMessageBox::No,
            [&holdText](QMessageBox* box) {
                auto* hold = box->findChild<QCheckBox*>(QStringLiteral("ChkHold"));
                if (!hold)
                    return;
                holdText = hold->text();
                hold->setChecked(true);
            },
            QStringLiteral("UpdateDialog"));
        {
            TOutcome outcome;
            std::unique_ptr<TUpdateCheck> check(
                CheckUpdate(url, Recorder(outcome), 0, FWindow.get(), FastOptions()));
            QTRY_COMPARE_WITH_TIMEOUT(outcome.Calls, 1, 10000);
            QVERIFY(!outcome.Accepted);
            QTRY_COMPARE_WITH_TIMEOUT(StartupCalls(Log(), true).size(), 1, 10000);
        }
        QCOMPARE(boxes.Texts.size(), 1);
        QCOMPARE(holdText, QStringLiteral("Do not offer this version again"));
        const QJsonObject hold = StartupCalls(Log(), true).first();
        QCOMPARE(HeaderValue(hold, QStringLiteral("User-Agent")),
                 QStringLiteral("Mozilla/5.0 (Windows NT 10.0; Win64; x64)"));
        QCOMPARE(ProgramHeaders(hold),
                 QStringList({QStringLiteral("User-Version: ") + QStringLiteral(VORANTU_VERSION),
                              QStringLiteral("User-Command: hold")}));

        TOutcome again;
        std::unique_ptr<TUpdateCheck> check(
            CheckUpdate(url, Recorder(again), 0, FWindow.get(), FastOptions()));
        QTRY_COMPARE_WITH_TIMEOUT(again.Calls, 1, 10000);
        QCOMPARE(boxes.Texts.size(), 1);
    }

    // A notice alone shows the strip and no dialog; a click opens it; a
    // second notice only changes the strip.
    void noticeStrip()
    {
        TOpenedUrls urls;
        TBoxAnswers boxes(QMessageBox::No);
        TUpdateCheck check(QStringLiteral("http://127.0.0.1:9/api.init.php"), {}, 0, FWindow.get());
        QVERIFY(!check.HandleReply(
            Json("{\"update\":\"\",\"notify\":\"http:\\/\\/news.test\\/today\"}")));
        QWidget* bar = StatusBar(*FWindow);
        QVERIFY(bar);
        QVERIFY(bar->isVisible());
        QCOMPARE(FWindow->size(), QSize(162, 191 + 28));
        QCOMPARE(bar->geometry(), QRect(0, 191, 162, 28));
        QCOMPARE(bar->accessibleName(), QStringLiteral("업데이트 가능"));
        QCOMPARE(bar->toolTip(), QStringLiteral("http://news.test/today"));
        QVERIFY(urls.Urls.isEmpty());
        QTest::mouseClick(bar, Qt::LeftButton);
        QCOMPARE(urls.Urls, QList<QUrl>{QUrl(QStringLiteral("http://news.test/today"))});

        check.HandleReply(Json("{\"notify\":\"https:\\/\\/news.test\\/tomorrow\"}"));
        QCOMPARE(FWindow->findChildren<QWidget*>(QStringLiteral("StatusBar")).size(), 1);
        QCOMPARE(FWindow->size(), QSize(162, 191 + 28));
        QCOMPARE(bar->toolTip(), QStringLiteral("https://news.test/tomorrow"));
        QTest::qWait(100);
        QVERIFY(boxes.Texts.isEmpty());
    }

    // Replies that are not offers, or whose addresses are not web addresses,
    // change nothing and open nothing.
    void repliesWithoutOffers_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::newRow("empty") << QString();
        QTest::newRow("error page") << QStringLiteral("<html><body>502 Bad Gateway</body></html>");
        QTest::newRow("script and file addresses") << Json(
            "{\"update\":\"javascript:alert(1)\",\"notify\":\"file:\\/\\/\\/etc\\/passwd\"}");
        QTest::newRow("other schemes")
            << Json("{\"update\":\"ftp:\\/\\/x.test\\/v\",\"notify\":\"mailto:a@x.test\"}");
        QTest::newRow("bad escapes")
            << Json("{\"update\":\"\\u12\",\"notify\":\"http:\\/\\/\\uZZZZ\"}");
        QTest::newRow("no host") << Json("{\"update\":\"http:\\/\\/\",\"notify\":\"https:\"}");
        QTest::newRow("unterminated") << Json("{\"update\":\"http:\\/\\/x.test");
    }

    void repliesWithoutOffers()
    {
        QFETCH(QString, reply);
        TOpenedUrls urls;
        TBoxAnswers boxes(QMessageBox::Yes);
        TUpdateCheck check(QStringLiteral("http://127.0.0.1:9/api.init.php"), {}, 0, FWindow.get());
        QVERIFY(!check.HandleReply(reply));
        QTest::qWait(50);
        QVERIFY(boxes.Texts.isEmpty());
        QVERIFY(!StatusBar(*FWindow));
        QCOMPARE(FWindow->size(), QSize(162, 191));
        QVERIFY(urls.Urls.isEmpty());
    }

    // The info object ends at its first closing brace, even inside a value:
    // members after it are not found.
    void infoEndsAtBrace_data()
    {
        QTest::addColumn<QString>("info");
        QTest::addColumn<bool>("hasNote");
        QTest::addColumn<bool>("hasHold");
        QTest::newRow("note text with brace")
            << Json(
                   "{\"style\":\"note\",\"text\":\"see } here\",\"url\":\"http:\\/\\/notes.test\"}")
            << true << false;
        QTest::newRow("style after brace")
            << Json("{\"text\":\"a}b\",\"style\":\"hold\"}") << false << false;
        QTest::newRow("whole") << Json("{\"style\":\"hold\",\"text\":\"ok\"}") << false << true;
    }

    void infoEndsAtBrace()
    {
        QFETCH(QString, info);
        QFETCH(bool, hasNote);
        QFETCH(bool, hasHold);
        TOpenedUrls urls;
        bool note = false, hold = false;
        QString noteText = QStringLiteral("unset"), noteHint = QStringLiteral("unset");
        TBoxAnswers boxes(QMessageBox::No, [&](QMessageBox* box) {
            hold = box->findChild<QCheckBox*>(QStringLiteral("ChkHold")) != nullptr;
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("LblNote"))) {
                note = true;
                noteText = label->text();
                noteHint = label->toolTip();
                QTest::mouseClick(label, Qt::LeftButton);
            }
        });
        TUpdateCheck check(QStringLiteral("http://127.0.0.1:9/api.init.php"), {}, 0, FWindow.get());
        QVERIFY(!check.HandleReply(Json("{\"update\":\"http:\\/\\/u.test\\/v\",\"info\":") + info +
                                   QLatin1Char('}')));
        QCOMPARE(boxes.Texts.size(), 1);
        QCOMPARE(note, hasNote);
        QCOMPARE(hold, hasHold);
        if (hasNote) {
            QCOMPARE(noteText, QString());
            QCOMPARE(noteHint, QString());
        }
        QVERIFY(urls.Urls.isEmpty());
    }

    void languages_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("yes");
        QTest::addColumn<QString>("no");
        QTest::addColumn<QString>("questionStart");
        QTest::newRow("ko") << "ko"
                            << "업데이트 가능"
                            << "예"
                            << "아니오"
                            << "업데이트 정보가";
        QTest::newRow("ja") << "ja"
                            << "アップデート可"
                            << "はい"
                            << "いいえ"
                            << "このプログラム";
        QTest::newRow("zh") << "zh"
                            << "可更新"
                            << "是"
                            << "否"
                            << "该程序";
        QTest::newRow("ru") << "ru"
                            << "Обновление"
                            << "Да"
                            << "Нет"
                            << "Данная";
        QTest::newRow("it") << "it"
                            << "Aggiornabile"
                            << "Sì"
                            << "No"
                            << "È disponibile";
        QTest::newRow("fr") << "fr"
                            << "Maj dispo"
                            << "Oui"
                            << "Non"
                            << "Ce programme";
        QTest::newRow("en") << "en"
                            << "Update available"
                            << "Yes"
                            << "No"
                            << "This program";
        QTest::newRow("other") << "de"
                               << "Update available"
                               << "Yes"
                               << "No"
                               << "This program";
    }

    void languages()
    {
        QFETCH(QString, lang);
        QFETCH(QString, status);
        QFETCH(QString, yes);
        QFETCH(QString, no);
        QFETCH(QString, questionStart);
        SetLanguage(lang);
        QCOMPARE(UpdateText(utStatus), status);
        QVERIFY(UpdateText(utQuestion).startsWith(questionStart));
        QCOMPARE(UpdateText(utQuestion).count(QStringLiteral("\r\r")), 2);

        QString shownYes, shownNo;
        TBoxAnswers boxes(QMessageBox::No, [&](QMessageBox* box) {
            shownYes = box->button(QMessageBox::Yes)->text();
            shownNo = box->button(QMessageBox::No)->text();
        });
        TUpdateCheck check(QStringLiteral("http://127.0.0.1:9/api.init.php"), {}, 0, FWindow.get());
        check.HandleReply(
            Json("{\"update\":\"http:\\/\\/u.test\\/v\",\"notify\":\"http:\\/\\/n.test\\/\"}"));
        QCOMPARE(shownYes, yes);
        QCOMPARE(shownNo, no);
        QVERIFY(StatusBar(*FWindow));
        QCOMPARE(StatusBar(*FWindow)->accessibleName(), status);
    }

    // Failed attempts are retried after the pause, up to the limit; any
    // response ends the trying; the completion comes either way.
    void attempts_data()
    {
        using TAction = TLoopbackServer::TAction;
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<QList<TLoopbackServer::TStep>>("script");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("attempts");
        QTest::addColumn<QString>("reply");
        const QByteArray huge(MaxReplyBytes + 1, 'x');
        QTest::newRow("unreachable") << true << QList<TLoopbackServer::TStep>{} << 6 << 6 << "";
        QTest::newRow("closed without reply")
            << false << QList<TLoopbackServer::TStep>{{TAction::Close, {}}} << 6 << 6 << "";
        QTest::newRow("stalls") << false << QList<TLoopbackServer::TStep>{{TAction::Stall, {}}} << 2
                                << 2 << "";
        QTest::newRow("answers on the third")
            << false
            << QList<TLoopbackServer::TStep>{{TAction::Close, {}},
                                             {TAction::Close, {}},
                                             {TAction::Reply, RawReply(200, "{}")}}
            << 6 << 3 << "{}";
        QTest::newRow("error page is an answer")
            << false << QList<TLoopbackServer::TStep>{{TAction::Reply, RawReply(500, "oops")}} << 6
            << 1 << "oops";
        QTest::newRow("oversized reply")
            << false << QList<TLoopbackServer::TStep>{{TAction::Reply, RawReply(200, huge)}} << 6
            << 1 << "";
    }

    void attempts()
    {
        QFETCH(bool, refuse);
        QFETCH(QList<TLoopbackServer::TStep>, script);
        QFETCH(int, limit);
        QFETCH(int, attempts);
        QFETCH(QString, reply);
        TLoopbackServer server(script);
        QVERIFY(server.Port() != 0);
        const quint16 port = refuse ? RefusingPort() : server.Port();
        TBoxAnswers boxes(QMessageBox::No);

        TOutcome outcome;
        std::unique_ptr<TUpdateCheck> check(
            CheckUpdate(QStringLiteral("http://127.0.0.1:%1/api.init.php").arg(port),
                        Recorder(outcome), 0, FWindow.get(), FastOptions(limit)));
        QTRY_COMPARE_WITH_TIMEOUT(outcome.Calls, 1, 20000);
        QCOMPARE(check->AttemptCount(), attempts);
        if (!refuse)
            QCOMPARE(server.Connections(), attempts);
        QCOMPARE(outcome.Reply, reply);
        QVERIFY(!outcome.Accepted);
        QVERIFY(boxes.Texts.isEmpty());
        QTest::qWait(100);
        QCOMPARE(outcome.Calls, 1);
        QCOMPARE(check->AttemptCount(), attempts);
    }

    // The defaults of a fresh installation name reserved hosts; nothing is
    // looked up or sent for them.
    void reservedNames_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("default service") << QByteArray("http://www.dastrane.example/api.init.php");
        QTest::newRow("upper case") << QByteArray("https://WWW.DASTRANE.EXAMPLE:8080/x");
        QTest::newRow("bare") << QByteArray("http://example/");
        QTest::newRow("invalid") << QByteArray("http://service.invalid/api.init.php");
    }

    void reservedNames()
    {
        QFETCH(QByteArray, url);
        THttpRequest request;
        request.Url = url;
        const THttpReply reply = HttpRequest(request);
        QVERIFY(!reply.Received);
        QVERIFY2(reply.Error.contains(QLatin1String("reserved")), qPrintable(reply.Error));
    }

    // The program ending during the pause ends the check at once; nothing is
    // handled afterwards.
    void stopDuringPause()
    {
        TOutcome outcome;
        TUpdateOptions options = FastOptions();
        options.Pause = 10s;
        std::unique_ptr<TUpdateCheck> check(
            CheckUpdate(QStringLiteral("http://127.0.0.1:%1/api.init.php").arg(RefusingPort()),
                        Recorder(outcome), 0, FWindow.get(), options));
        QTRY_COMPARE_WITH_TIMEOUT(check->AttemptCount(), 1, 5000);
        QTest::qWait(50);
        QElapsedTimer timer;
        timer.start();
        check.reset();
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QTest::qWait(100);
        QCOMPARE(outcome.Calls, 0);
    }

    // A service that accepts and then says nothing is abandoned after the
    // stall time, and the program ending meanwhile does not wait for it.
    void stopDuringRequest()
    {
        TLoopbackServer server({{TLoopbackServer::TAction::Stall, {}}});
        TOutcome outcome;
        TUpdateOptions options = FastOptions();
        options.Limits.StallTime = 60s;
        std::unique_ptr<TUpdateCheck> check(
            CheckUpdate(QStringLiteral("http://%1/api.init.php").arg(server.Host()),
                        Recorder(outcome), 0, FWindow.get(), options));
        QTRY_COMPARE_WITH_TIMEOUT(server.Connections(), 1, 5000);
        QElapsedTimer timer;
        timer.start();
        check.reset();
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(outcome.Calls, 0);
    }
};

VORANTU_TEST_MAIN(TTestUpdate)
#include "tst_Update.moc"
