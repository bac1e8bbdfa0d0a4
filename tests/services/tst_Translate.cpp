#include "TestEnvironment.h"
#include "services/Translate.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

namespace {

const QStringList BlockOrderFirst = {"ko", "en", "ja", "zh", "ru", "it", "fr"};
const QStringList BlockOrderOthers = {"ko", "en", "ja", "ru", "zh", "it", "fr"};

// The text of `entry` (1-based) in `lang`, straight from the table.
QString Entry(int entry, const QString& lang)
{
    const QStringList& table = TranslationTable();
    int block = 1;
    for (const QString& line : table) {
        if (line.isEmpty()) {
            ++block;
            continue;
        }
        if (block == entry && line.startsWith(lang + '='))
            return line.mid(lang.size() + 1);
    }
    return QString();
}

} // namespace

class TTestTranslate : public QObject
{
    Q_OBJECT
private slots:
    void TableFileLayout()
    {
        QFile file(":/TRANSLATE");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.endsWith("\r\n\r\n"));
        QVERIFY(!bytes.endsWith("\r\n\r\n\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));

        const QStringList blocks =
            QString::fromUtf8(bytes.mid(3)).split("\r\n\r\n", Qt::SkipEmptyParts);
        // The first 68 rows are fixed; new texts are appended after them.
        QVERIFY(blocks.size() >= 68);
        QHash<QString, int> entryOfText;
        for (int i = 0; i < blocks.size(); ++i) {
            const QStringList lines = blocks[i].split("\r\n");
            QStringList codes;
            for (const QString& line : lines) {
                QVERIFY2(line.contains('='), qPrintable(line));
                codes << line.section('=', 0, 0);
                // The lookup goes by text: a text of an added entry that
                // another entry also holds would translate into the wrong one.
                const QString text = line.section('=', 1);
                const int other = entryOfText.value(text, i);
                QVERIFY2(i < 68 || other == i, qPrintable(text));
                entryOfText.insert(text, i);
            }
            QCOMPARE(codes, i == 0 ? BlockOrderFirst : BlockOrderOthers);
        }
    }

    void FixedEntries()
    {
        for (const QString& lang : BlockOrderFirst) {
            QCOMPARE(Entry(1, lang), QStringLiteral("Vorantu"));
            if (lang != "ko") {
                QCOMPARE(Entry(36, lang), QStringLiteral("OK"));
                QCOMPARE(Entry(39, lang), QStringLiteral("OK"));
            }
            QVERIFY2(!Entry(16, lang).isEmpty(), qPrintable(lang));
        }
        QCOMPARE(Entry(56, "ru"), QStringLiteral("OK"));
        QCOMPARE(Entry(12, "ko"), QStringLiteral("클립보드"));
        QCOMPARE(Entry(12, "en"), QStringLiteral("Clipboard"));
    }

    void Lookups_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected");

        QTest::newRow("into English") << "클립보드"
                                      << "en"
                                      << "Clipboard";
        QTest::newRow("unknown language falls back to English") << "클립보드"
                                                                << "de"
                                                                << "Clipboard";
        QTest::newRow("into Korean") << "클립보드"
                                     << "ko"
                                     << "클립보드";
        QTest::newRow("ASCII case ignored") << "clipboard"
                                            << "ja" << Entry(12, "ja");
        QTest::newRow("unknown text, escape resolved") << "no\\nentry"
                                                       << "en"
                                                       << "no\rentry";
        QTest::newRow("escapes in the table resolved")
            << "알수없는 프로그램이 단축키를 사용중입니다.\\n\\n단축키를 변경해주세요."
            << "en"
            << "An unknown program is using the shortcut key.\r\rPlease change the shortcut key.";
        QTest::newRow("shared value resolves to the first entry") << "Open Folder"
                                                                  << "ko"
                                                                  << "폴더열기";
        QTest::newRow("OK resolves to entry 36") << "OK"
                                                 << "ko"
                                                 << "확인";
        QTest::newRow("Setting resolves to entry 44") << "Setting"
                                                      << "ko"
                                                      << "설정";
        QTest::newRow("Russian apply reads OK, then entry 36") << "OK"
                                                               << "fr" << Entry(36, "fr");
        QTest::newRow("already translated text") << Entry(29, "ru") << "it" << Entry(29, "it");
        QTest::newRow("empty stays empty") << ""
                                           << "en"
                                           << "";
        QTest::newRow("code lines never match") << "en"
                                                << "ko"
                                                << "en";
    }

    void Lookups()
    {
        QFETCH(QString, text);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        TranslateComponent(nullptr, current);
        QCOMPARE(CurrentLanguage(), current);
        QCOMPARE(Translate(text), expected);
    }

    void ExplicitLanguageWins()
    {
        TranslateComponent(nullptr, "ko");
        QCOMPARE(Translate("클립보드", "fr"), Entry(12, "fr"));
        QCOMPARE(CurrentLanguage(), QStringLiteral("ko"));
    }

    void ComponentTree()
    {
        QDialog window;
        window.setWindowTitle("단축키 설정");
        auto* label = new QLabel("넓이 :", &window);
        auto* button = new QPushButton("확인", &window);
        auto* combo = new QComboBox(&window);
        combo->addItems({"전체화면 캡쳐", "영역화면 캡쳐", "드래그영역 캡쳐"});
        combo->setCurrentIndex(2);
        int changes = 0;
        connect(combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
        auto* menu = new QMenu(&window);
        QAction* quit = menu->addAction("종료하기");
        QMenu* sub = menu->addMenu("캡쳐 소리");
        QAction* none = sub->addAction("없음");

        TranslateComponent(&window, "ja");
        QCOMPARE(window.windowTitle(), QStringLiteral("Hotkey setting"));
        QCOMPARE(label->text(), Entry(54, "ja"));
        QCOMPARE(button->text(), QStringLiteral("OK"));
        QCOMPARE(combo->itemText(0), Entry(3, "ja"));
        QCOMPARE(combo->currentIndex(), 2);
        QCOMPARE(changes, 0);
        QCOMPARE(quit->text(), Entry(35, "ja"));
        QCOMPARE(sub->title(), Entry(29, "ja"));
        QCOMPARE(none->text(), Entry(30, "ja"));

        TranslateComponent(&window, "ko");
        QCOMPARE(window.windowTitle(), QStringLiteral("단축키 설정"));
        QCOMPARE(button->text(), QStringLiteral("확인"));
        QCOMPARE(combo->itemText(2), QStringLiteral("드래그영역 캡쳐"));
        QCOMPARE(combo->currentIndex(), 2);
        QCOMPARE(none->text(), QStringLiteral("없음"));
    }

    void TranslateStringsInPlace()
    {
        TranslateComponent(nullptr, "en");
        QStringList lines = {"없음", "unknown", ""};
        TranslateStrings(lines);
        QCOMPARE(lines, QStringList({"None", "unknown", ""}));
    }
};

VORANTU_TEST_MAIN(TTestTranslate)
#include "tst_Translate.moc"
