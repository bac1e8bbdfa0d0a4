#include "TestEnvironment.h"
#include "app/AutoStart.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

QString ConfigFile()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Dastrane/Vorantu.conf";
}

void WriteRaw(const QByteArray& iniBody)
{
    QDir().mkpath(QFileInfo(ConfigFile()).absolutePath());
    QFile file(ConfigFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\n" + iniBody);
}

} // namespace

class TTestConfig : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(ConfigFile()); }

    void FileLocations()
    {
        const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
        QCOMPARE(TConfig::FileFor(ProgramConfigPath), base + "/Dastrane/Vorantu.conf");
        QCOMPARE(TConfig::FileFor(MakerConfigPath), base + "/Dastrane/Dastrane.conf");
    }

    void DefaultsOfAnEmptyStore()
    {
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::Area), 0);
        QCOMPARE(ReadSetting(config, Setting::SaveTo), 0);
        QCOMPARE(ReadSetting(config, Setting::JpegQuality), 1);
        QCOMPARE(ReadSetting(config, Setting::WebpQuality), 1);
        QCOMPARE(ReadSetting(config, Setting::Append), 1);
        QCOMPARE(ReadSetting(config, Setting::Sound), 2);
        QCOMPARE(ReadSetting(config, Setting::RecordLimit), 0);
        QCOMPARE(ReadSetting(config, Setting::Mouse), true);
        QCOMPARE(ReadSetting(config, Setting::MouseRec), true);
        QCOMPARE(ReadSetting(config, Setting::AutoCopy), false);
        QCOMPARE(ReadSetting(config, Setting::Audio), false);
        QCOMPARE(ReadSetting(config, Setting::FfmpegLog), false);
        QCOMPARE(ReadSetting(config, Setting::HotKey), 44);
        QCOMPARE(ReadSetting(config, Setting::Width), 480);
        QCOMPARE(ReadSetting(config, Setting::Height), 360);
        QCOMPARE(ReadSetting(config, Setting::Width3), 720);
        QCOMPARE(ReadSetting(config, Setting::Height3), 480);
        QCOMPARE(ReadSetting(config, Setting::Path), QDir::homePath() + "/Desktop");
        QCOMPARE(ReadSetting(config, Setting::Language), GetUserLanguage().left(2));
        QVERIFY(!QFile::exists(ConfigFile()));
        QCOMPARE(ReadSetting(config, Setting::Notify), true);
        QCOMPARE(ReadSetting(config, Setting::CaptureDelay), 0);
        QCOMPARE(ReadSetting(config, Setting::OcrLanguage), QString());
    }

    void ValuesRoundTrip()
    {
        {
            TConfig config(ProgramConfigPath);
            WriteSetting(config, Setting::Area, 3);
            WriteSetting(config, Setting::AutoCopy, true);
            WriteSetting(config, Setting::Path, QStringLiteral("/data/shots, 2026 = \"new\""));
            QCOMPARE(config.WriteInteger("left", -12), -12);
        }
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::Area), 3);
        QCOMPARE(ReadSetting(config, Setting::AutoCopy), true);
        QCOMPARE(ReadSetting(config, Setting::Path), QStringLiteral("/data/shots, 2026 = \"new\""));
        QCOMPARE(ReadSetting(config, Setting::Left), -12);

        QFile file(ConfigFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("area=3"));
        QVERIFY(text.contains("autocopy=1"));
    }

    void UnreadableValuesGiveDefaults_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("text for an integer") << QByteArray("area=abc\nsound=two\nmouse=maybe\n");
        QTest::newRow("out of range") << QByteArray("area=99999999999\nsound=\nmouse=\n");
        QTest::newRow("list for an integer") << QByteArray("area=1,2\nsound=3.5\nmouse=0x1\n");
    }

    void UnreadableValuesGiveDefaults()
    {
        QFETCH(QByteArray, stored);
        WriteRaw(stored);
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::Area), 0);
        QCOMPARE(ReadSetting(config, Setting::Sound), 2);
        QCOMPARE(ReadSetting(config, Setting::Mouse), true);
    }

    void ValuesOutsideTheirRangeGiveDefaults_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, const char* stored, int expected) {
            QTest::newRow(name) << QByteArray(stored) << expected;
        };
        row("hotkey negative", "hotkey=-1", 44);
        row("hotkey without a key", "hotkey=16384", 44);
        row("hotkey with unknown bits", "hotkey=65836", 44);
        row("hotkey Ctrl+Alt+F5 kept", "hotkey=49268", 0xC074);
        row("area negative", "area=-1", 0);
        row("area past the list", "area=7", 0);
        row("area web page kept", "area=5", 5);
        row("saveto negative", "saveto=-3", 0);
        row("saveto past the list", "saveto=12", 0);
        row("saveto floating kept", "saveto=10", 10);
        row("saveto edit kept", "saveto=11", 11);
        row("jpeg_quality past the list", "jpeg_quality=5", 1);
        row("webp_quality negative", "webp_quality=-1", 1);
        row("language_ocr negative", "language_ocr=-2", 0);
    }

    void ValuesOutsideTheirRangeGiveDefaults()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        // QSettings keeps a file it has read while its size and time stay the
        // same; rows written within one millisecond differ in size instead.
        static int row = 0;
        WriteRaw(stored + "\npad=" + QByteArray(++row, 'x') + '\n');
        const TConfig config(ProgramConfigPath);
        const QByteArray name = stored.left(stored.indexOf('='));
        for (const TSetting<int>* setting :
             {&Setting::HotKey, &Setting::Area, &Setting::SaveTo, &Setting::JpegQuality,
              &Setting::WebpQuality, &Setting::LanguageOcr}) {
            if (name == setting->Name)
                QCOMPARE(ReadSetting(config, *setting), expected);
        }
    }

    void ReadableVariants()
    {
        WriteRaw("append=7\nmouse=0\naudio=5\nautocopy=true\nlanguage=de\npath=/a,b\n");
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::Append), 7);
        QCOMPARE(ReadSetting(config, Setting::Mouse), false);
        QCOMPARE(ReadSetting(config, Setting::Audio), true);
        QCOMPARE(ReadSetting(config, Setting::AutoCopy), true);
        QCOMPARE(ReadSetting(config, Setting::Language), QStringLiteral("de"));
        QCOMPARE(ReadSetting(config, Setting::Path), QStringLiteral("/a,b"));
    }

    void CorruptFileLosesNothingElse()
    {
        WriteRaw("area=2\n\x01\x02garbage without equals\n[[[\nsaveto=4\n");
        const TConfig config(ProgramConfigPath);
        QCOMPARE(ReadSetting(config, Setting::Area), 2);
    }

    void WriteFailureIsSwallowed()
    {
        // The store's folder is a file: nothing can be written, nothing throws.
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Blocked";
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TConfig config("Blocked\\Vorantu");
        QCOMPARE(config.WriteInteger("area", 4), 4);
        QCOMPARE(config.WriteString("path", "x"), QStringLiteral("x"));
        QFile::remove(folder);
    }

    void AutoStartEntry()
    {
        const QString file = AutoStartFile("Vorantu");
        QVERIFY(!IsAutoStart("Vorantu"));
        QVERIFY(SetAutoStart("Vorantu", true));
        QVERIFY(IsAutoStart("Vorantu"));

        QSettings entry(file, QSettings::IniFormat);
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(raw.readAll());
        const QString exec = "Exec=\"" + QCoreApplication::applicationFilePath() + "\" /start\n";
        QVERIFY2(text.contains(exec), qPrintable(text));
        QVERIFY(text.contains("TryExec=" + QCoreApplication::applicationFilePath() + "\n"));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        QVERIFY(text.contains("Type=Application\n"));

        QVERIFY(SetAutoStart("Vorantu", false));
        QVERIFY(!QFile::exists(file));
        QVERIFY(!IsAutoStart("Vorantu"));
        QVERIFY(SetAutoStart("Vorantu", false));
    }

    void AutoStartRefreshesAnOldPath()
    {
        const QString file = AutoStartFile("Vorantu");
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile old(file);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("[Desktop Entry]\nType=Application\nExec=\"/old/place/vorantu\" /start\n");
        old.close();
        QVERIFY(IsAutoStart("Vorantu"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        const QByteArray text = old.readAll();
        QVERIFY(!text.contains("/old/place"));
        QVERIFY(text.contains(QCoreApplication::applicationFilePath().toUtf8()));
        SetAutoStart("Vorantu", false);
    }

    void AutoStartUnwritable()
    {
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + "/autostart";
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!SetAutoStart("Vorantu", true));
        QFile::remove(folder);
    }

    void ExecQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "/usr/bin/vorantu"
                               << "\"/usr/bin/vorantu\"";
        QTest::newRow("space") << "/opt/my apps/vorantu"
                               << "\"/opt/my apps/vorantu\"";
        QTest::newRow("quote dollar backtick") << "/a\"b$c`d"
                                               << "\"/a\\\\\"b\\\\$c\\\\`d\"";
        QTest::newRow("backslash") << "/a\\b"
                                   << "\"/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/100%/v"
                                 << "\"/100%%/v\"";
    }

    void ExecQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, quoted);
        QCOMPARE(QuoteExecArgument(path), quoted);
    }

    void SpecialFolders()
    {
        QCOMPARE(GetSpecialFolder(CSIDL_DESKTOP), QDir::homePath() + "/Desktop");
        QDir(QDir::homePath() + "/Desktop").removeRecursively();
        QCOMPARE(GetSpecialFolder(CSIDL_DESKTOP), QDir::homePath());
        QDir().mkpath(QDir::homePath() + "/Desktop");
        QCOMPARE(GetSpecialFolder(5), QString());
        SetSnippingPrintScreen(0);
    }
};

VORANTU_TEST_MAIN(TTestConfig)
#include "tst_Config.moc"
