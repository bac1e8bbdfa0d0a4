#include "output/Quantize.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

constexpr int MaxDepth = 8;

// Colours are inserted one run of equal pixels at a time; whenever there are
// more leaves than wanted, the deepest inner node with the fewest pixels is
// folded into a leaf. Nodes live in one pool and are recycled, so memory stays
// bounded by the palette size times the depth however many colours come in.
class TOctree
{
public:
    explicit TOctree(int maxLeaves) : FMaxLeaves(maxLeaves)
    {
        FReducible.fill(-1);
        NewNode(0);
    }

    void Insert(QRgb colour, std::uint32_t count)
    {
        const int r = qRed(colour), g = qGreen(colour), b = qBlue(colour);
        int node = 0;
        for (int level = 0;; ++level) {
            TNode& n = FNodes[node];
            n.Pixels += count;
            if (n.Leaf) {
                n.SumR += std::uint64_t(r) * count;
                n.SumG += std::uint64_t(g) * count;
                n.SumB += std::uint64_t(b) * count;
                break;
            }
            const int shift = 7 - level;
            const int child =
                (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
            int next = n.Children[child];
            if (next < 0) {
                next = NewNode(level + 1);
                FNodes[node].Children[child] = next;
            }
            node = next;
        }
        while (FLeaves > FMaxLeaves && Reduce()) {
        }
    }

    // The leaves' mean colours.
    QList<QRgb> Palette()
    {
        QList<QRgb> palette;
        CollectLeaves(0, palette);
        return palette;
    }

    bool Reduced() const { return FReduced; }

private:
    struct TNode
    {
        std::uint64_t SumR = 0, SumG = 0, SumB = 0;
        std::uint64_t Pixels = 0;
        std::array<int, 8> Children;
        int NextReducible = -1;
        int Level = 0;
        bool Leaf = false;
    };

    int NewNode(int level)
    {
        int index;
        if (!FFree.empty()) {
            index = FFree.back();
            FFree.pop_back();
            FNodes[index] = TNode();
        } else {
            index = int(FNodes.size());
            FNodes.emplace_back();
        }
        TNode& n = FNodes[index];
        n.Children.fill(-1);
        n.Level = level;
        if (level == MaxDepth) {
            n.Leaf = true;
            ++FLeaves;
        } else {
            n.NextReducible = FReducible[level];
            FReducible[level] = index;
        }
        return index;
    }

    bool Reduce()
    {
        int level = MaxDepth - 1;
        while (level > 0 && FReducible[level] < 0)
            --level;
        // Folding the node with the fewest pixels keeps the colours of large
        // areas (backgrounds, text) exact as long as possible.
        int best = -1, bestPrev = -1;
        for (int prev = -1, i = FReducible[level]; i >= 0; prev = i, i = FNodes[i].NextReducible) {
            if (best < 0 || FNodes[i].Pixels < FNodes[best].Pixels) {
                best = i;
                bestPrev = prev;
            }
        }
        if (best < 0)
            return false;
        if (bestPrev < 0)
            FReducible[level] = FNodes[best].NextReducible;
        else
            FNodes[bestPrev].NextReducible = FNodes[best].NextReducible;

        TNode& n = FNodes[best];
        int merged = 0;
        for (int& child : n.Children) {
            if (child < 0)
                continue;
            // Children of a node on the deepest reducible level are leaves.
            const TNode& c = FNodes[child];
            n.SumR += c.SumR;
            n.SumG += c.SumG;
            n.SumB += c.SumB;
            FFree.push_back(child);
            child = -1;
            ++merged;
        }
        n.Leaf = true;
        n.NextReducible = -1;
        FLeaves -= merged - 1;
        FReduced = true;
        return true;
    }

    void CollectLeaves(int node, QList<QRgb>& palette)
    {
        TNode& n = FNodes[node];
        if (n.Leaf) {
            if (n.Pixels == 0)
                return;
            const auto mean = [&](std::uint64_t sum) {
                return int((sum + n.Pixels / 2) / n.Pixels);
            };
            palette.append(qRgb(mean(n.SumR), mean(n.SumG), mean(n.SumB)));
            return;
        }
        for (int child : n.Children) {
            if (child >= 0)
                CollectLeaves(child, palette);
        }
    }

    std::vector<TNode> FNodes;
    std::vector<int> FFree;
    std::array<int, MaxDepth> FReducible;
    int FMaxLeaves;
    int FLeaves = 0;
    bool FReduced = false;
};

// Exact palette colours by value: a picture with few colours maps without
// any error, so flat areas stay flat.
class TExactIndex
{
public:
    explicit TExactIndex(const QList<QRgb>& palette)
    {
        FKeys.fill(Empty);
        for (int i = 0; i < palette.size(); ++i) {
            const std::uint32_t key = palette[i] & 0xFFFFFF;
            std::uint32_t slot = Hash(key);
            while (FKeys[slot] != Empty && FKeys[slot] != key)
                slot = (slot + 1) & (Size - 1);
            if (FKeys[slot] == Empty) {
                FKeys[slot] = key;
                FValues[slot] = std::uint8_t(i);
            }
        }
    }

    // The index of `rgb` (0xRRGGBB), or -1.
    int Find(std::uint32_t rgb) const
    {
        for (std::uint32_t slot = Hash(rgb);; slot = (slot + 1) & (Size - 1)) {
            if (FKeys[slot] == rgb)
                return FValues[slot];
            if (FKeys[slot] == Empty)
                return -1;
        }
    }

private:
    static constexpr std::uint32_t Size = 1024;
    static constexpr std::uint32_t Empty = 0xFFFFFFFF;
    static std::uint32_t Hash(std::uint32_t key) { return (key * 2654435761u) >> 22; }

    std::array<std::uint32_t, Size> FKeys;
    std::array<std::uint8_t, Size> FValues;
};

// The nearest palette colour for any colour, looked up once per cell of a
// 64 x 64 x 64 grid and remembered.
class TNearestIndex
{
public:
    explicit TNearestIndex(const QList<QRgb>& palette) : FPalette(palette), FCells(64 * 64 * 64, -1)
    {}

    int Find(int r, int g, int b)
    {
        const int cell = ((r >> 2) << 12) | ((g >> 2) << 6) | (b >> 2);
        std::int16_t& cached = FCells[cell];
        if (cached < 0)
            cached = std::int16_t(Search((r & ~3) + 2, (g & ~3) + 2, (b & ~3) + 2));
        return cached;
    }

private:
    int Search(int r, int g, int b) const
    {
        int best = 0, bestDistance = INT_MAX;
        for (int i = 0; i < FPalette.size(); ++i) {
            const int dr = qRed(FPalette[i]) - r, dg = qGreen(FPalette[i]) - g,
                      db = qBlue(FPalette[i]) - b;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best;
    }

    const QList<QRgb>& FPalette;
    std::vector<std::int16_t> FCells;
};

QImage Truecolour(const QImage& picture)
{
    if (picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32)
        return picture;
    return picture.convertToFormat(QImage::Format_RGB32);
}

int Clamp(int value)
{
    return std::clamp(value, 0, 255);
}

} // namespace

QImage QuantizeOctree(const QImage& picture, int maxColours)
{
    const QImage source = Truecolour(picture);
    const int width = source.width(), height = source.height();
    QImage result(width, height, QImage::Format_Indexed8);
    if (source.isNull() || result.isNull())
        return QImage();

    TOctree tree(std::clamp(maxColours, 2, 256));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        int x = 0;
        while (x < width) {
            const QRgb colour = row[x] & 0xFFFFFF;
            int end = x + 1;
            while (end < width && (row[end] & 0xFFFFFF) == colour)
                ++end;
            tree.Insert(colour, std::uint32_t(end - x));
            x = end;
        }
    }
    const QList<QRgb> palette = tree.Palette();
    result.setColorTable(palette);

    const TExactIndex exact(palette);
    if (!tree.Reduced()) {
        // Every colour has a leaf of its own: a straight lookup, no error to spread.
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            uchar* out = result.scanLine(y);
            for (int x = 0; x < width; ++x)
                out[x] = uchar(exact.Find(row[x] & 0xFFFFFF));
        }
        return result;
    }

    // Serpentine Floyd-Steinberg; errors are kept in sixteenths, with one
    // spare cell at each end of the row so the edges need no tests.
    TNearestIndex nearest(palette);
    std::vector<int> current((width + 2) * 3, 0), next((width + 2) * 3, 0);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        uchar* out = result.scanLine(y);
        const bool leftToRight = (y % 2) == 0;
        const int step = leftToRight ? 1 : -1;
        std::fill(next.begin(), next.end(), 0);
        for (int i = 0; i < width; ++i) {
            const int x = leftToRight ? i : width - 1 - i;
            int* err = &current[(x + 1) * 3];
            const int r = Clamp(qRed(row[x]) + (err[0] + 8 * (err[0] > 0) - 8 * (err[0] < 0)) / 16);
            const int g =
                Clamp(qGreen(row[x]) + (err[1] + 8 * (err[1] > 0) - 8 * (err[1] < 0)) / 16);
            const int b =
                Clamp(qBlue(row[x]) + (err[2] + 8 * (err[2] > 0) - 8 * (err[2] < 0)) / 16);
            int index = exact.Find(std::uint32_t(r << 16 | g << 8 | b));
            if (index < 0)
                index = nearest.Find(r, g, b);
            out[x] = uchar(index);
            const QRgb chosen = palette[index];
            const int er = r - qRed(chosen), eg = g - qGreen(chosen), eb = b - qBlue(chosen);
            int* ahead = &current[(x + 1 + step) * 3];
            int* below = &next[(x + 1) * 3];
            int* belowBehind = &next[(x + 1 - step) * 3];
            int* belowAhead = &next[(x + 1 + step) * 3];
            const int e[3] = {er, eg, eb};
            for (int c = 0; c < 3; ++c) {
                ahead[c] += e[c] * 7;
                belowBehind[c] += e[c] * 3;
                below[c] += e[c] * 5;
                belowAhead[c] += e[c];
            }
        }
        std::swap(current, next);
    }
    return result;
}
