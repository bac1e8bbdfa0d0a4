#include "output/ocr/ScaleBox.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct TShare
{
    int Source;
    std::int64_t Weight;
};

// For each of `to` result pixels along one axis, the source pixels it covers
// and by how much. Measured in units of 1/(from*to) of the axis, a source
// pixel is `to` units long and a result pixel `from` units, so the weights
// of one result pixel add up to `from`.
std::vector<std::vector<TShare>> Shares(int from, int to)
{
    std::vector<std::vector<TShare>> shares(static_cast<std::size_t>(to));
    for (int d = 0; d < to; ++d) {
        const std::int64_t begin = std::int64_t(d) * from;
        const std::int64_t end = begin + from;
        for (std::int64_t s = begin / to; s < from && s * to < end; ++s) {
            const std::int64_t overlap = std::min(end, (s + 1) * to) - std::max(begin, s * to);
            if (overlap > 0)
                shares[std::size_t(d)].push_back({int(s), overlap});
        }
    }
    return shares;
}

QImage Repeat(const QImage& source, int factorX, int factorY, QImage::Format format)
{
    QImage result(source.width() * factorX, source.height() * factorY, format);
    if (result.isNull())
        return result;
    for (int y = 0; y < source.height(); ++y) {
        const auto* in = reinterpret_cast<const quint32*>(source.constScanLine(y));
        auto* out = reinterpret_cast<quint32*>(result.scanLine(y * factorY));
        for (int x = 0; x < source.width(); ++x)
            for (int i = 0; i < factorX; ++i)
                *out++ = in[x];
        for (int i = 1; i < factorY; ++i)
            std::memcpy(result.scanLine(y * factorY + i), result.constScanLine(y * factorY),
                        std::size_t(result.bytesPerLine()));
    }
    return result;
}

QImage Average(const QImage& source, int width, int height, QImage::Format format)
{
    QImage result(width, height, format);
    if (result.isNull())
        return result;
    const auto columns = Shares(source.width(), width);
    const auto rows = Shares(source.height(), height);
    const std::uint64_t total = std::uint64_t(source.width()) * std::uint64_t(source.height());
    std::vector<std::uint64_t> rowSum(std::size_t(source.width()) * 4);
    for (int y = 0; y < height; ++y) {
        std::fill(rowSum.begin(), rowSum.end(), 0);
        for (const TShare& row : rows[std::size_t(y)]) {
            const uchar* in = source.constScanLine(row.Source);
            for (std::size_t i = 0; i < rowSum.size(); ++i)
                rowSum[i] += in[i] * std::uint64_t(row.Weight);
        }
        uchar* out = result.scanLine(y);
        for (int x = 0; x < width; ++x) {
            std::uint64_t sum[4] = {0, 0, 0, 0};
            for (const TShare& column : columns[std::size_t(x)])
                for (int c = 0; c < 4; ++c)
                    sum[c] +=
                        rowSum[std::size_t(column.Source) * 4 + c] * std::uint64_t(column.Weight);
            for (int c = 0; c < 4; ++c)
                out[x * 4 + c] = uchar((sum[c] + total / 2) / total);
        }
    }
    return result;
}

} // namespace

QImage ScaleBox(const QImage& picture, int width, int height)
{
    if (picture.isNull() || width < 1 || height < 1)
        return QImage();
    // Averaging premultiplied values keeps a transparent pixel's colour from
    // bleeding into its neighbours.
    const QImage::Format format =
        picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    const QImage source = picture.convertToFormat(format);
    QImage result = width % source.width() == 0 && height % source.height() == 0
                        ? Repeat(source, width / source.width(), height / source.height(), format)
                        : Average(source, width, height, format);
    if (!result.isNull()) {
        result.setDotsPerMeterX(
            int(std::int64_t(picture.dotsPerMeterX()) * width / picture.width()));
        result.setDotsPerMeterY(
            int(std::int64_t(picture.dotsPerMeterY()) * height / picture.height()));
    }
    return result;
}

QImage ScaleBox3x(const QImage& picture)
{
    return ScaleBox(picture, picture.width() * 3, picture.height() * 3);
}
