#include "LoopHold.h"
#include "TestEnvironment.h"
#include "output/ocr/Enlarge.h"
#include "output/ocr/RtOcr.h"
#include "output/ocr/ScaleBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>

using namespace RtOcr;

Q_DECLARE_METATYPE(RtOcr::TLanguage)

namespace {

const QColor Paper(250, 250, 246);
const QColor Ink(20, 20, 20);

struct TRendered
{
    QImage Picture;
    QStringList Lines;
    QList<QList<QRect>> Words; // per line, the box each word was drawn in
};

// Lines of text drawn at known places: each line `pixelSize` * 2 below the
// last, `margin` pixels from the left and top.
TRendered RenderLines(const QStringList& lines, const QString& family, int pixelSize,
                      int margin = 20)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    const QFontMetrics metrics(font);
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));

    TRendered rendered;
    rendered.Lines = lines;
    rendered.Picture = QImage(width + 2 * margin, margin * 2 + pixelSize * 2 * int(lines.size()),
                              QImage::Format_RGB32);
    rendered.Picture.fill(Paper);
    QPainter painter(&rendered.Picture);
    painter.setFont(font);
    painter.setPen(Ink);
    for (int i = 0; i < lines.size(); ++i) {
        const int baseline = margin + metrics.ascent() + i * pixelSize * 2;
        painter.drawText(margin, baseline, lines[i]);
        QList<QRect> words;
        int from = 0;
        for (const QString& word : lines[i].split(QLatin1Char(' '))) {
            const int left = margin + metrics.horizontalAdvance(lines[i].left(from));
            words.append(QRect(left, baseline - metrics.ascent(), metrics.horizontalAdvance(word),
                               metrics.height()));
            from += int(word.size()) + 1;
        }
        rendered.Words.append(words);
    }
    return rendered;
}

// A full screen of small dense text: seconds of work for the engine.
QImage DenseScreen()
{
    QImage screen(1920, 1080, QImage::Format_RGB32);
    screen.fill(Paper);
    QPainter painter(&screen);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(Ink);
    const QStringList words = QStringLiteral("capture window settings file open recording "
                                             "screen text region language picture format")
                                  .split(QLatin1Char(' '));
    quint32 seed = 12345;
    for (int y = 18; y < screen.height(); y += 18) {
        QString line;
        while (line.size() < 230) {
            seed = seed * 1103515245u + 12345u;
            line += words[int((seed >> 16) % words.size())] + QLatin1Char(' ');
        }
        painter.drawText(8, y, line);
    }
    return screen;
}

TLanguage Language(const QString& tag)
{
    for (const TLanguage& language : TRtOcr::AvailableLanguages())
        if (language.LanguageTag == tag)
            return language;
    return {};
}

// Waits for the completion that Recognize promised; fails the test when it
// does not come within a minute.
class TWaiter
{
public:
    TCompletionProc Proc()
    {
        return [this](const TResult& result) {
            FResult = result;
            FThreadWasUi = QThread::currentThread() == qApp->thread();
            FLoop.quit();
        };
    }
    std::optional<TResult> Wait()
    {
        if (!FResult) {
            QTimer::singleShot(60000, &FLoop, &QEventLoop::quit);
            FLoop.exec();
        }
        return FResult;
    }
    bool ThreadWasUi() const { return FThreadWasUi; }

private:
    QEventLoop FLoop;
    std::optional<TResult> FResult;
    bool FThreadWasUi = false;
};

TResult RecognizeAndWait(TRtOcr& ocr, const TLanguage& language, int left = 0, int top = 0,
                         int right = 0, int bottom = 0)
{
    TWaiter waiter;
    ocr.Recognize(language, waiter.Proc(), left, top, right, bottom);
    const std::optional<TResult> result = waiter.Wait();
    if (!result)
        qFatal("recognition never completed");
    return *result;
}

QString WithoutSpaces(QString text)
{
    return text.remove(QLatin1Char(' '));
}

// Sets TESSDATA_PREFIX for one scope.
class TTessdataPrefix
{
public:
    explicit TTessdataPrefix(const QString& folder)
    {
        qputenv("TESSDATA_PREFIX", folder.toLocal8Bit());
    }
    ~TTessdataPrefix() { qunsetenv("TESSDATA_PREFIX"); }
};

} // namespace

class TestRtOcr : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The system's data, whatever the calling environment says.
        qunsetenv("TESSDATA_PREFIX");
    }

    // The engine's libraries cost memory from the moment they are mapped, so
    // nothing of them may be loaded before the first recognition. First of
    // the tests: later ones load the engine.
    void engineLoadsOnFirstRecognition()
    {
        const auto engineMapped = [] {
            QFile maps(QStringLiteral("/proc/self/maps"));
            return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libtesseract");
        };
        TRtOcr ocr;
        QVERIFY(!TRtOcr::AvailableLanguages().isEmpty());
        QVERIFY(!engineMapped());
        QImage blank(64, 32, QImage::Format_RGB32);
        blank.fill(Qt::white);
        ocr.SetPicture(blank);
        QCOMPARE(RecognizeAndWait(ocr, Language("en")).Status, stCompleted);
        QVERIFY(engineMapped());
    }

    void languagesOfTheInstalledData()
    {
        const TLanguages languages = TRtOcr::AvailableLanguages();
        QCOMPARE(TRtOcr::AvailableLanguages(), languages);
        for (const TLanguage& expected :
             {TLanguage{"English", "en", "English", "Latn"},
              TLanguage{"Korean", "ko", QStringLiteral("한국어"), "Kore"},
              TLanguage{"Japanese", "ja", QStringLiteral("日本語"), "Jpan"},
              TLanguage{"Chinese (Simplified)", "zh-Hans", QStringLiteral("简体中文"), "Hans"},
              TLanguage{"Russian", "ru", QStringLiteral("русский"), "Cyrl"},
              TLanguage{"Italian", "it", "italiano", "Latn"},
              TLanguage{"French", "fr", QStringLiteral("français"), "Latn"}})
            QVERIFY2(languages.contains(expected), qPrintable(expected.DisplayName));
        for (int i = 1; i < languages.size(); ++i)
            QVERIFY(languages[i - 1].DisplayName < languages[i].DisplayName);
    }

    void languagesLeaveOutOrientationAndEquations()
    {
        QTemporaryDir folder;
        const QString system = TRtOcr::TessdataFolder();
        QVERIFY(QFile::link(system + "/eng.traineddata", folder.filePath("eng.traineddata")));
        for (const char* name : {"osd.traineddata", "equ.traineddata", "xyz.traineddata",
                                 "eng.traineddata.bak", "notes.txt"}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir(folder.path()).mkpath("script/Latin.traineddata"));

        const TTessdataPrefix prefix(folder.path());
        QCOMPARE(TRtOcr::TessdataFolder(), folder.path());
        QCOMPARE(TRtOcr::AvailableLanguages(),
                 (TLanguages{{"English", "en", "English", "Latn"}, {"xyz", "und", "xyz", "Zzzz"}}));

        QTemporaryDir empty;
        const TTessdataPrefix none(empty.path());
        QVERIFY(TRtOcr::AvailableLanguages().isEmpty());
    }

    void recognizesLinesAndWordsInPlace()
    {
        const TRendered rendered =
            RenderLines({"The quick brown fox", "jumps over the lazy dog"}, "DejaVu Sans", 40);
        TRtOcr ocr;
        ocr.SetPicture(rendered.Picture);
        const TResult result = RecognizeAndWait(ocr, Language("en"));

        QCOMPARE(result.Status, stCompleted);
        QCOMPARE(result.TextAngle, 0.0);
        QCOMPARE(result.Text, rendered.Lines.join('\n'));
        QCOMPARE(result.Lines.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const TLine& line = result.Lines[i];
            QCOMPARE(line.Text, rendered.Lines[i]);
            QCOMPARE(line.Words.size(), rendered.Words[i].size());
            for (int w = 0; w < line.Words.size(); ++w) {
                const TSRect& box = line.Words[w].Rect;
                const QRect found(qRound(box.X), qRound(box.Y), qRound(box.Width),
                                  qRound(box.Height));
                const QRect drawn = rendered.Words[i][w];
                QVERIFY2(drawn.adjusted(-3, -3, 3, 3).contains(found),
                         qPrintable(line.Words[w].Text));
                // The ink fills most of the word's advance.
                QVERIFY(found.width() > drawn.width() * 3 / 4);
            }
        }
    }

    // Boxes are in pixels of the rectangle, which starts at its own (0, 0).
    void recognizesARectangle()
    {
        const TRendered rendered =
            RenderLines({"The quick brown fox", "jumps over the lazy dog"}, "DejaVu Sans", 40);
        const QRect second = rendered.Words[1].first().united(rendered.Words[1].last());
        const QRect area = second.adjusted(-10, -10, 10, 10);
        TRtOcr ocr;
        ocr.SetPicture(rendered.Picture);
        const TResult result = RecognizeAndWait(ocr, Language("en"), area.left(), area.top(),
                                                area.right() + 1, area.bottom() + 1);
        QCOMPARE(result.Status, stCompleted);
        QCOMPARE(result.Lines.size(), 1);
        QCOMPARE(result.Lines[0].Text, rendered.Lines[1]);
        const TSRect& first = result.Lines[0].Words[0].Rect;
        const QRect drawn = rendered.Words[1][0].translated(-area.topLeft());
        QVERIFY(drawn.adjusted(-3, -3, 3, 3)
                    .contains(QRect(qRound(first.X), qRound(first.Y), qRound(first.Width),
                                    qRound(first.Height))));
    }

    // Screen-sized letters, enlarged the way captures are.
    void recognizesCapturedScripts_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("text");
        QTest::newRow("Korean") << "ko"
                                << "Noto Sans CJK KR"
                                << QStringLiteral("안녕하세요 화면 캡쳐 프로그램입니다");
        QTest::newRow("Japanese") << "ja"
                                  << "Noto Sans CJK JP" << QStringLiteral("日本語の文章を読みます");
    }

    void recognizesCapturedScripts()
    {
        QFETCH(QString, tag);
        QFETCH(QString, family);
        QFETCH(QString, text);
        TRtOcr ocr;
        ocr.SetPicture(ScaleBox3x(RenderLines({text}, family, 16).Picture));
        const TResult result = RecognizeAndWait(ocr, Language(tag));
        QCOMPARE(result.Status, stCompleted);
        QCOMPARE(result.Lines.size(), 1);
        QCOMPARE(WithoutSpaces(result.Lines[0].Text), WithoutSpaces(text));
    }

    // A short line of Hangul above another was dropped whole by the page
    // layout while each line alone was read; enlarged three times, it was
    // lost again. Read as a capture is given to the engine.
    void keepsEveryLineOfKorean_data()
    {
        QTest::addColumn<int>("pixelSize");
        QTest::newRow("12 px") << 12;
        QTest::newRow("16 px") << 16;
        QTest::newRow("24 px") << 24;
        QTest::newRow("32 px") << 32;
        QTest::newRow("48 px") << 48;
        QTest::newRow("64 px") << 64;
    }

    void keepsEveryLineOfKorean()
    {
        QFETCH(int, pixelSize);
        const QStringList lines = {QStringLiteral("한국어 문자 인식 시험"),
                                   QStringLiteral("두 번째 줄입니다")};
        TRtOcr ocr;
        ocr.SetPicture(
            PictureForRecognition(RenderLines(lines, "Noto Sans CJK KR", pixelSize).Picture,
                                  QStringLiteral("Kore"), TRtOcr::MaxImageDimension()));
        const TResult result = RecognizeAndWait(ocr, Language("ko"));
        QCOMPARE(result.Status, stCompleted);
        QStringList found;
        for (const TLine& line : result.Lines)
            found.append(WithoutSpaces(line.Text));
        QCOMPARE(found, QStringList({WithoutSpaces(lines[0]), WithoutSpaces(lines[1])}));
    }

    // Pages tall enough to be read in two halves side by side: every line
    // comes back once, in order, with its words where they were drawn. A
    // scroll bar leaves no row blank from edge to edge; the page is then cut
    // between the lines the page layout found.
    void readsATallPageInOrder_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("scrollBar");
        const QStringList english = {
            "Capture the whole screen",     "Save the picture to a file",
            "Copy it to the clipboard",     "Print it on the default printer",
            "Recognise the text in it",     "Upload it to the web service",
            "Record the region as a video", "Pin it in a floating window"};
        const QStringList korean = {
            QStringLiteral("화면 캡쳐 프로그램"), QStringLiteral("파일 저장 설정"),
            QStringLiteral("클립보드 복사"),      QStringLiteral("두 번째 줄입니다"),
            QStringLiteral("한국어 문자 인식"),   QStringLiteral("서울 부산 대구"),
            QStringLiteral("회의 보고서 예산"),   QStringLiteral("마지막 줄입니다")};
        QTest::newRow("Korean") << "ko"
                                << "Noto Sans CJK KR" << korean << false;
        QTest::newRow("Korean beside a scroll bar") << "ko"
                                                    << "Noto Sans CJK KR" << korean << true;
        QTest::newRow("English") << "en"
                                 << "DejaVu Sans" << english << false;
        QTest::newRow("English beside a scroll bar") << "en"
                                                     << "DejaVu Sans" << english << true;
    }

    void readsATallPageInOrder()
    {
        QFETCH(QString, tag);
        QFETCH(QString, family);
        QFETCH(QStringList, lines);
        QFETCH(bool, scrollBar);
        TRendered rendered = RenderLines(lines, family, 32);
        QVERIFY(rendered.Picture.height() >= 500);
        if (scrollBar) {
            rendered.Picture = rendered.Picture.copy(0, 0, rendered.Picture.width() + 16,
                                                     rendered.Picture.height());
            QPainter painter(&rendered.Picture);
            painter.fillRect(rendered.Picture.width() - 16, 0, 16, rendered.Picture.height(),
                             QColor(200, 200, 200));
            painter.fillRect(rendered.Picture.width() - 14, 60, 12, 300, QColor(120, 120, 120));
        }
        TRtOcr ocr;
        ocr.SetPicture(rendered.Picture);
        const TResult result = RecognizeAndWait(ocr, Language(tag));
        QCOMPARE(result.Status, stCompleted);
        QStringList found;
        for (const TLine& line : result.Lines)
            found.append(WithoutSpaces(line.Text));
        QStringList expected;
        for (const QString& line : lines)
            expected.append(WithoutSpaces(line));
        QCOMPARE(found, expected);
        for (int i = 0; i < lines.size(); ++i) {
            const TSRect& box = result.Lines[i].Words.first().Rect;
            const QRect drawn = rendered.Words[i].first();
            QVERIFY2(qAbs(box.Y + box.Height / 2 - drawn.center().y()) < 12,
                     qPrintable(QStringLiteral("line %1 at %2").arg(i).arg(box.Y)));
        }
        QCOMPARE(result.Text.split(QLatin1Char('\n')).size(), lines.size());
    }

    // Two columns side by side are read one after the other, as the page
    // layout reads them, never cut in two across.
    void readsColumnsOneAfterTheOther()
    {
        QStringList left, right;
        for (int i = 1; i <= 8; ++i) {
            left.append(QStringLiteral("Left column line %1").arg(i));
            right.append(QStringLiteral("Right side row %1").arg(i));
        }
        const TRendered leftPage = RenderLines(left, "DejaVu Sans", 28);
        const TRendered rightPage = RenderLines(right, "DejaVu Sans", 28);
        QImage page(leftPage.Picture.width() + 120 + rightPage.Picture.width(),
                    leftPage.Picture.height(), QImage::Format_RGB32);
        page.fill(Paper);
        {
            QPainter painter(&page);
            painter.drawImage(0, 0, leftPage.Picture);
            painter.drawImage(leftPage.Picture.width() + 120, 0, rightPage.Picture);
        }
        QVERIFY(page.height() >= 400);
        TRtOcr ocr;
        ocr.SetPicture(page);
        const TResult result = RecognizeAndWait(ocr, Language("en"));
        QCOMPARE(result.Status, stCompleted);
        QStringList found;
        for (const TLine& line : result.Lines)
            found.append(line.Text);
        QCOMPARE(found, left + right);
    }

    void blankPictureHasNoLines()
    {
        QImage blank(600, 300, QImage::Format_RGB32);
        blank.fill(Qt::white);
        TRtOcr ocr;
        ocr.SetPicture(blank);
        const TResult result = RecognizeAndWait(ocr, Language("en"));
        QCOMPARE(result.Status, stCompleted);
        QVERIFY(result.Lines.isEmpty());
        QVERIFY(result.Text.isEmpty());
        QCOMPARE(result.TextAngle, 0.0);
    }

    void reportsTheTextAngle()
    {
        QImage page(1400, 1000, QImage::Format_RGB32);
        page.fill(Qt::white);
        {
            QPainter painter(&page);
            QFont font(QStringLiteral("DejaVu Sans"));
            font.setPixelSize(30);
            painter.setFont(font);
            painter.translate(150, 100);
            painter.rotate(-2); // anticlockwise on the screen
            for (int i = 0; i < 24; ++i)
                painter.drawText(0, i * 36,
                                 QStringLiteral("Rotated text line number %1 with "
                                                "some more words to make it long")
                                     .arg(i));
        }
        TRtOcr ocr;
        ocr.SetPicture(page);
        const TResult result = RecognizeAndWait(ocr, Language("en"));
        QCOMPARE(result.Status, stCompleted);
        QVERIFY2(qAbs(result.TextAngle + 2.0) < 0.5, qPrintable(QString::number(result.TextAngle)));
    }

    void refusesBadRequests_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<TLanguage>("language");
        QTest::addColumn<QRect>("bounds"); // left, top, right, bottom as x1, y1, x2, y2
        QTest::addColumn<QString>("message");

        const TLanguage english = Language("en");
        TLanguage otherScript = english;
        otherScript.Script = "Cyrl";
        TLanguage otherName = english;
        otherName.DisplayName = "english";
        const QSize size(200, 100);
        const auto bounds = [](int l, int t, int r, int b) {
            return QRect(QPoint(l, t), QPoint(r, b));
        };

        QTest::newRow("empty picture")
            << QSize() << english << bounds(0, 0, 0, 0) << "Incorrect Right value";
        QTest::newRow("left -1") << size << english << bounds(-1, 0, 10, 10)
                                 << "Incorrect Left value";
        QTest::newRow("top -1") << size << english << bounds(0, -1, 10, 10)
                                << "Incorrect Top value";
        QTest::newRow("left before top")
            << size << english << bounds(-1, -1, 10, 10) << "Incorrect Left value";
        QTest::newRow("right past width")
            << size << english << bounds(0, 0, 201, 10) << "Incorrect Right value";
        QTest::newRow("right 0") << size << english << bounds(0, 0, 0, 10)
                                 << "Incorrect Right value";
        QTest::newRow("right at left")
            << size << english << bounds(10, 0, 10, 10) << "Incorrect Right value";
        QTest::newRow("bottom past height")
            << size << english << bounds(0, 0, 10, 101) << "Incorrect Bottom value";
        QTest::newRow("bottom 0") << size << english << bounds(0, 0, 10, 0)
                                  << "Incorrect Bottom value";
        QTest::newRow("bottom above top")
            << size << english << bounds(0, 20, 10, 10) << "Incorrect Bottom value";
        QTest::newRow("other script")
            << size << otherScript << bounds(0, 0, 10, 10) << "Language not available";
        QTest::newRow("language before bounds")
            << size << otherName << bounds(-1, 0, 10, 10) << "Language not available";
        QTest::newRow("no language")
            << size << TLanguage() << bounds(0, 0, 0, 0) << "Language not available";
        QTest::newRow("too wide") << QSize(TRtOcr::MaxImageDimension() + 1, 8) << english
                                  << bounds(0, 0, 0, 0) << "Image too large";
    }

    void refusesBadRequests()
    {
        QFETCH(QSize, size);
        QFETCH(TLanguage, language);
        QFETCH(QRect, bounds);
        QFETCH(QString, message);
        QImage picture;
        if (size.isValid()) {
            picture = QImage(size, QImage::Format_RGB32);
            picture.fill(Qt::white);
        }
        TRtOcr ocr;
        ocr.SetPicture(picture);
        bool completed = false;
        ocr.SetOnCompleted([&](TRtOcr*, const TResult&, void*) { completed = true; });
        for (int form = 0; form < 2; ++form) {
            try {
                if (form == 0)
                    ocr.Recognize(language, nullptr, bounds.left(), bounds.top(), bounds.right(),
                                  bounds.bottom());
                else
                    ocr.Recognize(
                        language, [&](const TResult&) { completed = true; }, bounds.left(),
                        bounds.top(), bounds.right(), bounds.bottom());
                QFAIL("Recognize did not refuse");
            } catch (const ERtOcrError& e) {
                QCOMPARE(QString::fromUtf8(e.what()), message);
            }
            QVERIFY(!ocr.Busy());
        }
        QCoreApplication::processEvents();
        QVERIFY(!completed);
    }

    // A page wider than any screen row, but within the engine's limit.
    void acceptsTheLargestDimension()
    {
        TRendered rendered = RenderLines({"Edge of the page"}, "DejaVu Sans", 30);
        QImage wide(TRtOcr::MaxImageDimension(), rendered.Picture.height(), QImage::Format_RGB32);
        wide.fill(Paper);
        QPainter(&wide).drawImage(0, 0, rendered.Picture);
        TRtOcr ocr;
        ocr.SetPicture(wide);
        const TResult result = RecognizeAndWait(ocr, Language("en"));
        QCOMPARE(result.Status, stCompleted);
        QCOMPARE(result.Text, QStringLiteral("Edge of the page"));
    }

    // The completion comes later, on the user-interface thread, with the
    // component idle and the custom data as given; and a handler may start
    // the next recognition at once.
    void completesOnTheUiThreadWhenIdle()
    {
        TRtOcr ocr;
        ocr.SetPicture(RenderLines({"Hello"}, "DejaVu Sans", 40).Picture);
        int data = 0;
        QList<TResult> results;
        bool onUiThread = true;
        bool idleInHandler = true;
        bool dataKept = true;
        QEventLoop loop;
        ocr.SetOnCompleted([&](TRtOcr* sender, const TResult& result, void* customData) {
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
            idleInHandler = idleInHandler && !sender->Busy() && sender == &ocr;
            dataKept = dataKept && customData == &data;
            results.append(result);
            if (results.size() == 1)
                sender->Recognize(Language("en"), customData);
            else
                loop.quit();
        });
        ocr.Recognize(Language("en"), &data);
        QVERIFY(ocr.Busy());
        QVERIFY(results.isEmpty());
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();

        QCOMPARE(results.size(), 2);
        QVERIFY(onUiThread);
        QVERIFY(idleInHandler);
        QVERIFY(dataKept);
        QCOMPARE(results[1].Text, QStringLiteral("Hello"));
        QVERIFY(!ocr.Busy());
    }

    void completionClosureTakesPrecedence()
    {
        TRtOcr ocr;
        ocr.SetPicture(RenderLines({"Hello"}, "DejaVu Sans", 40).Picture);
        bool eventRaised = false;
        ocr.SetOnCompleted([&](TRtOcr*, const TResult&, void*) { eventRaised = true; });
        TWaiter waiter;
        ocr.Recognize(Language("en"), waiter.Proc());
        const std::optional<TResult> result = waiter.Wait();
        QVERIFY(result);
        QVERIFY(waiter.ThreadWasUi());
        QCOMPARE(result->Text, QStringLiteral("Hello"));
        QCoreApplication::processEvents();
        QVERIFY(!eventRaised);
    }

    void failingHandlerLeavesTheComponentUsable()
    {
        TRtOcr ocr;
        ocr.SetPicture(RenderLines({"Hello"}, "DejaVu Sans", 40).Picture);
        bool thrown = false;
        ocr.SetOnCompleted([&](TRtOcr*, const TResult&, void*) {
            thrown = true;
            throw std::runtime_error("handler failed");
        });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("handler failed"));
        ocr.Recognize(Language("en"), nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(thrown, 60000);
        QVERIFY(!ocr.Busy());
        QCOMPARE(RecognizeAndWait(ocr, Language("en")).Text, QStringLiteral("Hello"));
    }

    // The engines work on their own threads: the user-interface thread's
    // event loop keeps turning while they read a full screen, on one engine
    // or on two. The longest gap between two ticks of a 10 ms timer is how
    // long it was held up, less the time the thread stood ready in the
    // system's run queue: on a machine shared with busy programs the
    // scheduler alone can hold any thread up for longer than that.
    void eventLoopKeepsTurning_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::newRow("English, page layout") << "en";
        QTest::newRow("Korean, two engines") << "ko";
    }

    void eventLoopKeepsTurning()
    {
        QFETCH(QString, tag);
        QImage page = DenseScreen();
        if (tag == QLatin1String("ko")) {
            QStringList lines;
            for (int i = 0; i < 20; ++i)
                lines.append(QStringLiteral("화면 캡쳐 프로그램 파일 저장 설정 %1").arg(i));
            page = RenderLines(lines, "Noto Sans CJK KR", 20).Picture;
        }
        TRtOcr ocr;
        ocr.SetPicture(page);
        TLoopHoldMeter meter;
        QVERIFY2(meter.SeesAHold(), "the event loop's holds cannot be measured here");
        const TResult result = RecognizeAndWait(ocr, Language(tag));
        meter.TurnOnce(); // the completion's own handling
        QCOMPARE(result.Status, stCompleted);
        QVERIFY(!result.Lines.isEmpty());
        QVERIFY2(meter.LongestMs() <= 50,
                 qPrintable(QStringLiteral("held up for %1 ms (and %2 ms in the run queue)")
                                .arg(meter.LongestMs())
                                .arg(meter.LongestQueuedMs())));
    }

    // Kept for the next recognition for a while, then dropped; the next
    // recognition loads them again.
    void dropsTheEngineWhenIdle()
    {
        const QString text = QStringLiteral("Keep the engine for a while");
        TRtOcr ocr;
        ocr.SetEngineKeepTime(300);
        ocr.SetPicture(RenderLines({text}, "DejaVu Sans", 32).Picture);
        QVERIFY(!ocr.EngineLoaded());
        QCOMPARE(RecognizeAndWait(ocr, Language("en")).Text, text);
        QVERIFY(ocr.EngineLoaded());
        QTRY_VERIFY_WITH_TIMEOUT(!ocr.EngineLoaded(), 10000);
        QCOMPARE(RecognizeAndWait(ocr, Language("en")).Text, text);
    }

    void refusesASecondRecognition()
    {
        TRtOcr ocr;
        ocr.SetPicture(DenseScreen());
        TWaiter waiter;
        ocr.Recognize(Language("en"), waiter.Proc());
        for (int form = 0; form < 2; ++form) {
            try {
                if (form == 0)
                    ocr.Recognize(Language("en"), nullptr);
                else
                    ocr.Recognize(Language("en"), [](const TResult&) {});
                QFAIL("a second recognition started");
            } catch (const ERtOcrError& e) {
                QCOMPARE(QString::fromUtf8(e.what()),
                         QStringLiteral("Recognition already started"));
            }
        }
        QVERIFY(ocr.Busy());
        ocr.Cancel();
        QVERIFY(waiter.Wait());
    }

    void cancelStopsTheEngine_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("at once, while the model loads") << 0;
        QTest::newRow("while recognising") << 1500;
    }

    void cancelStopsTheEngine()
    {
        QFETCH(int, delayMs);
        TRtOcr ocr;
        ocr.Cancel(); // idle: nothing happens
        QVERIFY(!ocr.Busy());
        ocr.SetPicture(DenseScreen());
        TWaiter waiter;
        ocr.Recognize(Language("fr"), waiter.Proc());
        QTest::qWait(delayMs);
        QVERIFY(ocr.Busy());
        QElapsedTimer sinceCancel;
        sinceCancel.start();
        ocr.Cancel();
        const std::optional<TResult> result = waiter.Wait();
        QVERIFY(result);
        QCOMPARE(result->Status, stCanceled);
        QVERIFY(result->Lines.isEmpty());
        // The whole screen takes several seconds; a cancelled one stops within a word.
        QVERIFY2(sinceCancel.elapsed() < 2000, qPrintable(QString::number(sinceCancel.elapsed())));
        QVERIFY(!ocr.Busy());
    }

    void closeWaitsForTheEngine()
    {
        TRtOcr ocr;
        ocr.SetPicture(DenseScreen());
        TWaiter waiter;
        ocr.Recognize(Language("en"), waiter.Proc());
        QTest::qWait(500);
        ocr.Close();
        QVERIFY(ocr.Busy()); // until the completion has run
        const std::optional<TResult> result = waiter.Wait();
        QVERIFY(result);
        QCOMPARE(result->Status, stCanceled);
        QVERIFY(!ocr.Busy());
    }

    void destroyingARunningComponentDropsTheCompletion()
    {
        bool completed = false;
        {
            auto ocr = std::make_unique<TRtOcr>();
            ocr->SetPicture(DenseScreen());
            ocr->SetOnCompleted([&](TRtOcr*, const TResult&, void*) { completed = true; });
            ocr->Recognize(Language("en"), nullptr);
            QTest::qWait(300);
        }
        QTest::qWait(200);
        QVERIFY(!completed);
    }

    void keepsThePictureItStartedWith()
    {
        TRtOcr ocr;
        ocr.SetPicture(RenderLines({"First picture"}, "DejaVu Sans", 40).Picture);
        TWaiter waiter;
        ocr.Recognize(Language("en"), waiter.Proc());
        ocr.SetPicture(RenderLines({"Second"}, "DejaVu Sans", 40).Picture);
        const std::optional<TResult> result = waiter.Wait();
        QVERIFY(result);
        QCOMPARE(result->Text, QStringLiteral("First picture"));
    }
};

VORANTU_TEST_MAIN(TestRtOcr)
#include "tst_RtOcr.moc"
