#include "Boxes.h"
#include "Desktop.h"
#include "TestEnvironment.h"
#include "capture/HotKey.h"
#include "platform/Platform.h"
#include "services/Config.h"
#include "services/Translate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

namespace {

void PressKeys(const QString& keys)
{
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"key", keys}), 0);
}

void StoreHotKey(int code)
{
    TConfig config(ProgramConfigPath);
    WriteSetting(config, Setting::HotKey, code);
}

int StoredHotKey()
{
    return ReadSetting(TConfig(ProgramConfigPath), Setting::HotKey);
}

// Picks a key with the given modifiers in the dialog and presses OK.
void Choose(TFrmHotKey* dialog, const QString& key, bool shift, bool ctrl)
{
    dialog->findChild<QCheckBox*>("ChkShift")->setChecked(shift);
    dialog->findChild<QCheckBox*>("ChkCtrl")->setChecked(ctrl);
    dialog->findChild<QCheckBox*>("ChkAlt")->setChecked(false);
    auto* keys = dialog->findChild<QComboBox*>("ChkHotKey");
    keys->setCurrentIndex(keys->findText(key));
    dialog->findChild<QPushButton*>("BtnYes")->click();
}

// A desktop that lets no program take a key (a Wayland session without the
// portal's global shortcuts).
class TNoGrabHotKey : public TGlobalHotKey
{
public:
    bool CanGrab() const override { return false; }
    bool Register(quint16) override { return false; }
    void Unregister() override {}
};

} // namespace

class TTestHotKey : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { FPlatform = LoadPlatform(); }
    void cleanupTestCase() { FPlatform = {}; }

    void TypingKeys_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("typesText");
        QTest::newRow("A") << 0x41 << true;
        QTest::newRow("Z") << 0x5A << true;
        QTest::newRow("0") << 0x30 << true;
        QTest::newRow("9") << 0x39 << true;
        QTest::newRow("Shift+A") << 0x2041 << false;
        QTest::newRow("Ctrl+1") << 0x4031 << false;
        QTest::newRow("Alt+Q") << 0x8051 << false;
        QTest::newRow("PrintScreen") << 0x2C << false;
        QTest::newRow("F5") << 0x74 << false;
        QTest::newRow("DEL") << 0x2E << false;
    }

    void TypingKeys()
    {
        QFETCH(int, code);
        QFETCH(bool, typesText);
        QCOMPARE(TFrmHotKey::TypesText(quint16(code)), typesText);
    }

    // A bare letter found in the settings is never grabbed: the user is told,
    // and the dialog opens so another key can be picked.
    void StoredBareLetterIsNotGrabbed()
    {
        StoreHotKey(0x41);
        TFrmHotKey dialog(FPlatform.CreateHotKey(nullptr), nullptr);
        QSignalSpy starts(&dialog, &TFrmHotKey::StartRequested);
        TBoxAnswer answer;
        bool dialogShown = false;
        QTimer::singleShot(300, &dialog, [&] {
            dialogShown = dialog.isVisible();
            // Typing an "a" now must not capture.
            PressKeys("a");
            QTimer::singleShot(300, &dialog,
                               [&] { dialog.findChild<QPushButton*>("BtnNo")->click(); });
        });
        dialog.Initialize();
        QVERIFY(dialogShown);
        QCOMPARE(answer.Texts.size(), 2);
        QVERIFY2(answer.Texts.at(0).contains("\"A\""), qPrintable(answer.Texts.at(0)));
        // Cancel cannot fall back to the stored letter either.
        QCOMPARE(answer.Texts.at(1),
                 Translate(QStringLiteral("단축키가 설정되지 못해 캡쳐기능이 작동하지 않습니다.")));
        PressKeys("a");
        TestDesktop::Settle(); // the key has reached the program, if it was to
        QCOMPARE(starts.count(), 0);
        QCOMPARE(StoredHotKey(), 0x41);
    }

    void BareLetterRefusedWithModifiersAccepted()
    {
        StoreHotKey(0x7B); // F12, free on the test desktop
        TFrmHotKey dialog(FPlatform.CreateHotKey(nullptr), nullptr);
        dialog.Initialize();
        QSignalSpy starts(&dialog, &TFrmHotKey::StartRequested);

        TBoxAnswer answer;
        bool stayedOpen = false;
        QTimer::singleShot(0, &dialog, [&] {
            Choose(&dialog, "A", false, false);
            stayedOpen = dialog.isVisible();
            Choose(&dialog, "A", true, true);
        });
        dialog.exec();
        QVERIFY(stayedOpen);
        QCOMPARE(answer.Count, 1);
        QVERIFY2(answer.Text.contains("Shift, Ctrl"), qPrintable(answer.Text));
        QCOMPARE(StoredHotKey(), 0x6041);

        PressKeys("a");
        TestDesktop::Settle(); // the key has reached the program, if it was to
        QCOMPARE(starts.count(), 0);
        PressKeys("ctrl+shift+a");
        QTRY_COMPARE(starts.count(), 1);
    }

    // Where no key can be taken there is nothing to complain about or pick:
    // the start asks nothing, and the dialog explains the desktop's own
    // shortcut and closes without a word, the stored key kept.
    void WithoutGrabsTheDialogExplainsTheDesktopShortcut()
    {
        StoreHotKey(0x2C);
        {
            // The one-time notice goes to the desktop's shared notification
            // daemon; its own test is on the Wayland desktop.
            TConfig config(ProgramConfigPath);
            WriteSetting(config, Setting::ShortcutNotice, true);
        }
        TFrmHotKey dialog(std::make_unique<TNoGrabHotKey>(), nullptr);
        TBoxAnswer answer;
        bool looked = false;
        bool openedAtStart = false;
        QTimer::singleShot(500, &dialog, [&] {
            looked = true;
            openedAtStart = dialog.isVisible();
            if (openedAtStart)
                dialog.done(QDialog::Rejected);
        });
        dialog.Initialize();
        QTRY_VERIFY(looked);
        QVERIFY(!openedAtStart);
        QVERIFY(!dialog.RegisterKey(0x2C));

        QVERIFY(!dialog.findChild<QGroupBox*>("GrpConfig")->isEnabled());
        QCOMPARE(dialog.findChild<QLabel*>("LblHelp")->text(),
                 Translate(TFrmHotKey::DesktopShortcutText()));
        for (const char* button : {"BtnYes", "BtnNo"}) {
            QTimer::singleShot(0, &dialog,
                               [&] { dialog.findChild<QPushButton*>(button)->click(); });
            dialog.exec();
        }
        QCOMPARE(answer.Count, 0);
        QCOMPARE(StoredHotKey(), 0x2C);
    }

private:
    TPlatform FPlatform;
};

VORANTU_TEST_MAIN(TTestHotKey)
#include "tst_HotKey.moc"
