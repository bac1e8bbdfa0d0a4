// Text recognition as a capture to a TXT file does it: a fixed set of
// rendered 1920x1080 screens of known English and Korean text, each
// recognised as the program gives it to the engine, without enlargement and
// with other enlargements. Reports the time from the capture to the
// recognised text and the character error rate (edit distance over the
// reference length, with every run of white space counted as one space, and
// once more without any spaces).
//   bench_ocr [--choices=program,no,3x,s2x] [SCREEN-NAME...]   (no names: every screen)
#include "output/ocr/Enlarge.h"
#include "output/ocr/RtOcr.h"
#include "output/ocr/ScaleBox.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TScreen
{
    const char* Name;
    const char* LanguageTag;
    const char* Family;
    int PixelSize;
    bool Korean;
    QRgb Ink = qRgb(25, 25, 25);
    QRgb Paper = qRgb(255, 255, 255);
    // Fixed lines, with a blank line's height between them, instead of a
    // screen filled with words.
    const char* Text = nullptr;
};

// Screens of a document, of small interface text (one of them grey on grey)
// and of large text, in the fonts a Debian desktop shows these scripts in.
const TScreen Screens[] = {
    {"english-16px", "en", "DejaVu Sans", 16, false},
    {"english-10px", "en", "DejaVu Sans", 10, false},
    {"english-12px", "en", "DejaVu Sans", 12, false},
    {"english-14px", "en", "DejaVu Sans", 14, false},
    {"english-grey", "en", "DejaVu Sans", 11, false, qRgb(90, 90, 90), qRgb(236, 236, 232)},
    {"english-24px", "en", "DejaVu Sans", 24, false},
    {"korean-16px", "ko", "Noto Sans CJK KR", 16, true},
    {"korean-10px", "ko", "Noto Sans CJK KR", 10, true},
    {"korean-12px", "ko", "Noto Sans CJK KR", 12, true},
    {"korean-14px", "ko", "Noto Sans CJK KR", 14, true},
    {"korean-24px", "ko", "Noto Sans CJK KR", 24, true},
    // Two short lines, of which the page layout once dropped the first.
    {"korean-2lines", "ko", "Noto Sans CJK KR", 32, true, qRgb(25, 25, 25), qRgb(255, 255, 255),
     "한국어 문자 인식 시험\n두 번째 줄입니다"},
};

const char* const EnglishWords[] = {
    "the",      "capture", "window",    "screen",  "file",      "settings",  "of",
    "and",      "to",      "picture",   "region",  "saved",     "folder",    "clipboard",
    "printer",  "upload",  "recording", "text",    "in",        "is",        "for",
    "with",     "on",      "that",      "menu",    "select",    "open",      "close",
    "report",   "monday",  "quarter",   "budget",  "meeting",   "review",    "project",
    "2026",     "version", "update",    "page",    "network",   "service",   "address",
    "server",   "request", "answer",    "error",   "message",   "desktop",   "monitor",
    "display",  "colour",  "value",     "number",  "total",     "amount",    "price",
    "customer", "order",   "delivery",  "invoice", "account",   "balance",   "December",
    "Tuesday",  "London",  "Berlin",    "Seoul",   "morning",   "evening",   "library",
    "history",  "science", "question",  "example", "important", "different", "following",
    "without",  "between", "because",   "through", "another",   "however",   "should",
    "could",    "would",   "before",    "after",   "3.14",      "1,250",     "42%",
    "user",     "name",    "password",  "email",   "phone",     "status",    "active"};

const char* const KoreanWords[] = {
    "화면",   "캡쳐",   "파일",     "저장", "설정",     "창",     "영역",     "클립보드", "프린터",
    "업로드", "녹화",   "텍스트",   "폴더", "메뉴",     "선택",   "열기",     "닫기",     "보고서",
    "회의",   "예산",   "프로젝트", "버전", "업데이트", "페이지", "네트워크", "서비스",   "주소",
    "서버",   "요청",   "응답",     "오류", "메시지",   "모니터", "색상",     "숫자",     "합계",
    "가격",   "고객",   "주문",     "배송", "계정",     "잔액",   "서울",     "부산",     "아침",
    "저녁",   "도서관", "역사",     "과학", "질문",     "예시",   "중요한",   "다른",     "다음",
    "사용자", "이름",   "비밀번호", "전화", "상태",     "오늘",   "내일",     "학교",     "회사",
    "사람",   "시간",   "문서",     "그림", "작업"};

// The same pseudo-random text on every run.
class TRandom
{
public:
    explicit TRandom(quint32 seed) : FState(seed) {}
    int Next(int bound)
    {
        FState = FState * 1103515245u + 12345u;
        return int((FState >> 16) % quint32(bound));
    }

private:
    quint32 FState;
};

// Lines of words filling the screen; their text is the reference.
QImage Render(const TScreen& screen, QStringList& lines)
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(screen.Paper));
    QPainter painter(&image);
    QFont font(QString::fromLatin1(screen.Family));
    font.setPixelSize(screen.PixelSize);
    painter.setFont(font);
    painter.setPen(QColor(screen.Ink));
    const QFontMetrics metrics(font);
    const int margin = 40;
    const int lineHeight = metrics.height() * 3 / 2;
    TRandom random(20261210u + quint32(screen.PixelSize));
    if (screen.Text) {
        const QStringList fixed = QString::fromUtf8(screen.Text).split(QLatin1Char('\n'));
        for (int i = 0; i < fixed.size(); ++i)
            painter.drawText(margin, margin + metrics.ascent() + i * 2 * lineHeight, fixed[i]);
        lines = fixed;
        return image;
    }
    const int wordCount =
        screen.Korean ? int(std::size(KoreanWords)) : int(std::size(EnglishWords));
    for (int y = margin + metrics.ascent(); y + metrics.descent() < image.height() - margin;
         y += lineHeight) {
        QString line;
        for (;;) {
            const int index = random.Next(wordCount);
            const QString word =
                QString::fromUtf8(screen.Korean ? KoreanWords[index] : EnglishWords[index]);
            const QString longer = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(longer) > image.width() - 2 * margin)
                break;
            line = longer;
        }
        painter.drawText(margin, y, line);
        lines << line;
    }
    return image;
}

int EditDistance(const QString& a, const QString& b)
{
    std::vector<int> row(size_t(b.size()) + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[size_t(j)] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = std::min(
                {above + 1, row[size_t(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
}

QString Normalized(const QString& text)
{
    return text.simplified();
}

// Korean spacing is loose, and the engine's spaces between Hangul words often
// differ from the text's; the rate without any spaces shows the letters alone.
QString WithoutSpaces(const QString& text)
{
    QString letters;
    for (const QChar c : text) {
        if (!c.isSpace())
            letters += c;
    }
    return letters;
}

double ErrorRate(const QString& reference, const QString& text)
{
    return reference.isEmpty() ? 0.0 : 100.0 * EditDistance(reference, text) / reference.size();
}

bool Recognize(TRtOcr& ocr, const RtOcr::TLanguage& language, const QImage& picture,
               RtOcr::TResult& result)
{
    ocr.SetPicture(picture);
    QEventLoop loop;
    bool done = false;
    ocr.Recognize(language, [&](const RtOcr::TResult& r) {
        result = r;
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    return result.Status == RtOcr::stCompleted;
}

// The resident memory of this process in megabytes: what the kept engines
// and their models hold shows in it.
double ResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

// What the engine is given of a capture: "program" as the program does it,
// "no" the capture itself, "Nx" the box enlargement by N (repeated pixels),
// "sNx" a smooth (bilinear) enlargement by N.
QImage Enlarged(const QImage& capture, const QString& choice, const QString& script)
{
    if (choice == QLatin1String("program"))
        return PictureForRecognition(capture, script, TRtOcr::MaxImageDimension());
    const bool smooth = choice.startsWith(QLatin1Char('s'));
    const int factor = choice.mid(smooth ? 1 : 0).chopped(1).toInt();
    if (factor < 2)
        return capture;
    if (!smooth)
        return ScaleBox(capture, capture.width() * factor, capture.height() * factor);
    QImage picture =
        capture.scaled(capture.size() * factor, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.setDotsPerMeterX(capture.dotsPerMeterX() * factor);
    picture.setDotsPerMeterY(capture.dotsPerMeterY() * factor);
    return picture;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    QStringList choices = {QStringLiteral("program"), QStringLiteral("no"), QStringLiteral("3x")};
    for (const QString& arg : QStringList(wanted)) {
        if (arg.startsWith(QLatin1String("--choices="))) {
            choices = arg.mid(10).split(QLatin1Char(','), Qt::SkipEmptyParts);
            wanted.removeAll(arg);
        }
    }
    const RtOcr::TLanguages languages = TRtOcr::AvailableLanguages();
    TRtOcr ocr;
    int status = 0;
    QString loadedTag;
    std::printf("%-14s %-9s %9s %9s %8s %7s %12s %7s %9s\n", "screen", "enlarged", "enlarge",
                "to text", "chars", "CER", "w/o spaces", "exact", "resident");
    std::printf("%-14s resident %.1f MB before the first recognition\n", "", ResidentMb());
    for (const TScreen& screen : Screens) {
        if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(screen.Name)))
            continue;
        const auto language =
            std::find_if(languages.begin(), languages.end(), [&](const RtOcr::TLanguage& l) {
                return l.LanguageTag == QLatin1String(screen.LanguageTag);
            });
        if (language == languages.end()) {
            std::printf("%-14s no trained data for \"%s\"\n", screen.Name, screen.LanguageTag);
            status = 1;
            continue;
        }
        QStringList lines;
        const QImage capture = Render(screen, lines);
        const QString reference = Normalized(lines.join(QLatin1Char('\n')));
        std::printf("%-14s text height %d px\n", screen.Name, TextHeight(capture));
        if (loadedTag != language->LanguageTag) {
            // The model loads on first use; that is paid once, not per capture.
            QImage tiny(64, 32, QImage::Format_RGB32);
            tiny.fill(Qt::white);
            RtOcr::TResult ignored;
            QElapsedTimer load;
            load.start();
            Recognize(ocr, *language, tiny, ignored);
            std::printf("%-14s model for \"%s\" loaded in %lld ms\n", "", screen.LanguageTag,
                        load.elapsed());
            loadedTag = language->LanguageTag;
        }
        for (const QString& choice : std::as_const(choices)) {
            QElapsedTimer clock;
            clock.start();
            const QImage picture = Enlarged(capture, choice, language->Script);
            QByteArray label = choice.toUtf8();
            if (choice == QLatin1String("program"))
                label = picture.size() == capture.size() ? "prog:no" : "prog:2x";
            const qint64 enlargeMs = clock.elapsed();
            RtOcr::TResult result;
            if (!Recognize(ocr, *language, picture, result)) {
                std::printf("%-14s %-9s recognition failed\n", screen.Name, label.constData());
                status = 1;
                continue;
            }
            const qint64 totalMs = clock.elapsed();
            const QString text = Normalized(result.Text);
            // Lines of the reference found whole in the text, spaces aside: a
            // lost line costs little CER on a full screen but all of its text.
            int lost = 0;
            for (const QString& line : std::as_const(lines))
                lost += WithoutSpaces(text).contains(WithoutSpaces(line)) ? 0 : 1;
            std::printf("%-14s %-9s %6lld ms %6lld ms %8lld %6.2f%% %11.2f%% %3lld/%lld %6.1f MB\n",
                        screen.Name, label.constData(), enlargeMs, totalMs,
                        static_cast<long long>(reference.size()), ErrorRate(reference, text),
                        ErrorRate(WithoutSpaces(reference), WithoutSpaces(text)),
                        static_cast<long long>(lines.size() - lost),
                        static_cast<long long>(lines.size()), ResidentMb());
            std::fflush(stdout);
        }
    }
    // What stays of it once the component has dropped its engines.
    if (ocr.EngineLoaded()) {
        ocr.SetEngineKeepTime(0);
        QImage tiny(64, 32, QImage::Format_RGB32);
        tiny.fill(Qt::white);
        RtOcr::TResult ignored;
        Recognize(ocr, languages.first(), tiny, ignored);
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        std::printf("%-14s resident %.1f MB once the engines were dropped\n", "", ResidentMb());
    }
    return status;
}
