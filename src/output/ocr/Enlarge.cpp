#include "output/ocr/Enlarge.h"

#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Narrow enough that a strip holds a few letters of one line rather than
// the ragged ends of lines at different heights; wide enough that a row
// through letters seldom repeats the row above.
constexpr int StripWidth = 64;
// Shorter runs are rules, borders and stray marks; taller ones pictures.
constexpr int ShortestRun = 4;
constexpr int TallestRun = 80;
// Fewer runs than this are too few to tell a text height from.
constexpr std::size_t FewestRuns = 8;

} // namespace

int TextHeight(const QImage& picture)
{
    if (picture.isNull() || picture.height() < 2)
        return 0;
    const QImage pixels =
        picture.depth() == 32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
    std::vector<int> runs;
    for (int left = 0; left < pixels.width(); left += StripWidth) {
        const std::size_t bytes = std::size_t(std::min(StripWidth, pixels.width() - left)) * 4;
        const auto row = [&](int y) {
            return pixels.constScanLine(y) + left * 4;
        };
        // The strip's background: the last row between lines. A row through
        // letters differs from it even where it repeats the row above, as in
        // the stems of large letters.
        const uchar* background = row(0);
        int run = 0;
        for (int y = 1; y < pixels.height(); ++y) {
            if (std::memcmp(row(y), background, bytes) != 0) {
                // A new background below a panel's edge or a picture: taken
                // once a few rows repeat, so that the strip reads on.
                if (++run > TallestRun && std::memcmp(row(y), row(y - 1), bytes) == 0 &&
                    std::memcmp(row(y - 1), row(y - 2), bytes) == 0) {
                    background = row(y);
                    run = 0;
                }
                continue;
            }
            if (run >= ShortestRun && run <= TallestRun)
                runs.push_back(run);
            run = 0;
        }
    }
    if (runs.size() < FewestRuns)
        return 0;
    const auto middle = runs.begin() + std::ptrdiff_t(runs.size() / 2);
    std::nth_element(runs.begin(), middle, runs.end());
    return *middle;
}

int SmallTextHeight(const QString& script)
{
    // Measured on full screens of text at 10 to 24 pixels per letter (and
    // TextHeight of them): Hangul of 14 px (height 15) read with 1.2 % of
    // characters wrong, 0.1 % enlarged; of 16 px (height 16) 0.1 % either
    // way. Latin of 10 px (height 10) 0.26 %, 0.08 % enlarged; of 14 px
    // (height 11) and larger, at most 0.02 % either way.
    static const QStringList dense = {QStringLiteral("Kore"), QStringLiteral("Hang"),
                                      QStringLiteral("Jpan"), QStringLiteral("Hans"),
                                      QStringLiteral("Hant"), QStringLiteral("Hani")};
    return dense.contains(script) ? 16 : 11;
}

QImage PictureForRecognition(const QImage& capture, const QString& script, int maxDimension)
{
    const int longest = std::max(capture.width(), capture.height());
    if (capture.isNull() || longest * 2 > maxDimension)
        return capture;
    const int height = TextHeight(capture);
    if (height >= SmallTextHeight(script))
        return capture;
    QImage enlarged =
        capture.scaled(capture.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // The engine sizes its noise and line thresholds by the stated resolution.
    enlarged.setDotsPerMeterX(capture.dotsPerMeterX() * 2);
    enlarged.setDotsPerMeterY(capture.dotsPerMeterY() * 2);
    return enlarged;
}
