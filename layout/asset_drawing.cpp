#include "layout/asset_drawing.h"

#include <QtEndian>

#include <array>
#include <cstdint>
#include <vector>

namespace layout {
namespace {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kBackground{236, 233, 216};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kGreen{0, 255, 0};

void put16(QByteArray& out, std::uint16_t v) {
    std::array<char, 2> b;
    qToLittleEndian(v, b.data());
    out.append(b.data(), 2);
}
void put32(QByteArray& out, std::uint32_t v) {
    std::array<char, 4> b;
    qToLittleEndian(v, b.data());
    out.append(b.data(), 4);
}

// BITMAPINFOHEADER, uncompressed.
void putInfoHeader(QByteArray& out, int width, int height, int bits, std::uint32_t imageSize,
                   std::uint32_t colours) {
    put32(out, 40);
    put32(out, std::uint32_t(width));
    put32(out, std::uint32_t(height));
    put16(out, 1);
    put16(out, std::uint16_t(bits));
    put32(out, 0); // BI_RGB
    put32(out, imageSize);
    put32(out, 2835); // 72 dpi, as the classic resource tools wrote
    put32(out, 2835);
    put32(out, colours);
    put32(out, 0);
}

constexpr int rowStride(int width, int bits) {
    return ((width * bits + 31) / 32) * 4;
}

// Is the pixel centre inside the ellipse that fills the box [x0, x1] x [y0, y1]?
bool insideDisc(int x, int y, int x0, int x1, int y0, int y1) {
    const double cx = (x0 + x1) / 2.0;
    const double cy = (y0 + y1) / 2.0;
    const double rx = (x1 - x0) / 2.0 + 0.5;
    const double ry = (y1 - y0) / 2.0 + 0.5;
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

} // namespace

QByteArray drawStatusBitmap(StatusLook look) {
    constexpr int W = 78, H = 39, Top = 7, Bottom = 31;
    constexpr std::array<std::pair<int, int>, 2> discs{{{7, 32}, {44, 69}}};
    const std::array<Rgb, 2> fills = look == StatusLook::Disconnected
                                         ? std::array<Rgb, 2>{kRed, kGrey}
                                         : std::array<Rgb, 2>{kGrey, kGreen};

    std::vector<Rgb> pixels(W * H, kBackground);
    for (std::size_t d = 0; d < discs.size(); ++d) {
        const int x0 = discs[d].first;
        const int x1 = discs[d].second;
        auto inside = [&](int x, int y) { return insideDisc(x, y, x0, x1, Top, Bottom); };
        for (int y = Top; y <= Bottom; ++y) {
            for (int x = x0; x <= x1; ++x) {
                if (!inside(x, y))
                    continue;
                const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) ||
                                  !inside(x, y + 1);
                pixels[y * W + x] = edge ? kBlack : fills[d];
            }
        }
    }

    const int stride = rowStride(W, 24);
    const auto imageSize = std::uint32_t(stride * H);
    QByteArray out;
    out.append("BM", 2);
    put32(out, 14 + 40 + imageSize);
    put32(out, 0);
    put32(out, 14 + 40);
    putInfoHeader(out, W, H, 24, imageSize, 0);
    for (int y = H - 1; y >= 0; --y) { // bottom-up rows
        const int start = int(out.size());
        for (int x = 0; x < W; ++x) {
            const Rgb& p = pixels[y * W + x];
            out.append(char(p.b)).append(char(p.g)).append(char(p.r));
        }
        out.append(QByteArray(stride - (int(out.size()) - start), '\0'));
    }
    return out;
}

namespace {

// The 16-colour palette in its classic order; the icon uses black (0), navy (4), white (15).
constexpr std::array<Rgb, 16> kPalette{{{0, 0, 0},
                                        {128, 0, 0},
                                        {0, 128, 0},
                                        {128, 128, 0},
                                        {0, 0, 128},
                                        {128, 0, 128},
                                        {0, 128, 128},
                                        {192, 192, 192},
                                        {128, 128, 128},
                                        {255, 0, 0},
                                        {0, 255, 0},
                                        {255, 255, 0},
                                        {0, 0, 255},
                                        {255, 0, 255},
                                        {0, 255, 255},
                                        {255, 255, 255}}};
constexpr std::uint8_t kBlackIndex = 0, kNavyIndex = 4, kWhiteIndex = 15;

struct Block {
    int x0, y0, x1, y1; // inclusive, on the 32 x 32 grid
    std::uint8_t colour;
};

// The upper-left half of the design; every block is repeated turned half a circle about the
// centre, with navy and black exchanged where the description asks for it.
struct PairedBlock {
    Block block;
    bool swapColourWhenTurned;
};

constexpr std::array<PairedBlock, 9> kDesign{{
    {{12, 2, 19, 5, kNavyIndex}, true},  // top block; the bottom one is black
    {{15, 6, 16, 11, kNavyIndex}, true}, // its stem towards the centre
    {{2, 2, 9, 4, kNavyIndex}, false},   // stepped L at top left; bottom right is navy too
    {{2, 5, 4, 13, kNavyIndex}, false},
    {{5, 5, 6, 7, kNavyIndex}, false},
    {{22, 2, 29, 4, kBlackIndex}, false}, // stepped L at top right; bottom left is black too
    {{27, 5, 29, 13, kBlackIndex}, false},
    {{25, 5, 26, 7, kBlackIndex}, false},
    {{8, 12, 10, 14, kNavyIndex}, false}, // small navy square left of the middle; turned, it
                                          // is the navy one below right
}};

constexpr std::array<Block, 3> kUnpaired{{
    {13, 13, 18, 18, kBlackIndex}, // the middle square, its own turn
    {8, 17, 10, 19, kBlackIndex},  // black below the small navy square on the left
    {21, 12, 23, 14, kBlackIndex}, // black above the small navy square on the right
}};

std::vector<std::uint8_t> iconDesign32() {
    constexpr int N = 32;
    std::vector<std::uint8_t> grid(N * N, kWhiteIndex);
    auto fill = [&](const Block& b) {
        for (int y = b.y0; y <= b.y1; ++y)
            for (int x = b.x0; x <= b.x1; ++x)
                grid[y * N + x] = b.colour;
    };
    for (const auto& [block, swap] : kDesign) {
        fill(block);
        std::uint8_t turned = block.colour;
        if (swap)
            turned = block.colour == kNavyIndex ? kBlackIndex : kNavyIndex;
        fill({N - 1 - block.x1, N - 1 - block.y1, N - 1 - block.x0, N - 1 - block.y0, turned});
    }
    for (const Block& b : kUnpaired)
        fill(b);
    return grid;
}

QByteArray iconImage(const std::vector<std::uint8_t>& grid, int size) {
    QByteArray out;
    const int xorStride = rowStride(size, 4);
    const int andStride = rowStride(size, 1);
    putInfoHeader(out, size, size * 2, 4, std::uint32_t((xorStride + andStride) * size), 16);
    for (const Rgb& c : kPalette)
        out.append(char(c.b)).append(char(c.g)).append(char(c.r)).append('\0');
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(xorStride, '\0');
        for (int x = 0; x < size; ++x) {
            const std::uint8_t index = grid[y * size + x];
            row[x / 2] = char(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
        }
        out.append(row);
    }
    out.append(QByteArray(andStride * size, '\0')); // all opaque
    return out;
}

} // namespace

QByteArray drawWindowIcon() {
    const std::vector<std::uint8_t> large = iconDesign32();
    std::vector<std::uint8_t> small(16 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            small[y * 16 + x] = large[(y * 2 + 1) * 32 + x * 2 + 1];

    const QByteArray images[] = {iconImage(large, 32), iconImage(small, 16)};
    const int sizes[] = {32, 16};
    QByteArray out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, 2);
    std::uint32_t offset = 6 + 2 * 16;
    for (int i = 0; i < 2; ++i) {
        out.append(char(sizes[i])).append(char(sizes[i])).append(char(16)).append('\0');
        put16(out, 1);
        put16(out, 4);
        put32(out, std::uint32_t(images[i].size()));
        put32(out, offset);
        offset += std::uint32_t(images[i].size());
    }
    for (const QByteArray& image : images)
        out.append(image);
    return out;
}

} // namespace layout
