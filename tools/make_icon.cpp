// Draws the program icon (a flash chip with a green arrow writing into it) and writes it as a
// Windows .ico file with a 32x32 and a 16x16 image, 32 bits a pixel.
//   make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSizes[] = {32, 16};
constexpr uint16_t kIconType = 1;
constexpr uint32_t kDibHeaderBytes = 40;
constexpr uint16_t kBitsPerPixel = 32;
constexpr uint32_t kDirectoryEntryBytes = 16;
constexpr uint32_t kHeaderBytes = 6;

struct Pixel {
    uint8_t b, g, r, a;
};
constexpr Pixel kClear = {0, 0, 0, 0};
constexpr Pixel kBody = {0x40, 0x38, 0x30, 0xFF};
constexpr Pixel kEdge = {0x20, 0x1C, 0x18, 0xFF};
constexpr Pixel kPin = {0x60, 0xC0, 0xD8, 0xFF};
constexpr Pixel kArrow = {0x4B, 0x96, 0x00, 0xFF};  // the progress bar's green
constexpr Pixel kDot = {0xC0, 0xC0, 0xC0, 0xFF};

// The picture at size n, top row first, drawn in a 32-unit square scaled to n.
std::vector<Pixel> Draw(int n) {
    std::vector<Pixel> px(static_cast<std::size_t>(n * n), kClear);
    auto at = [&](int x, int y) -> Pixel& { return px[static_cast<std::size_t>(y * n + x)]; };
    auto unit = [n](int v) { return v * n / 32; };
    // Pins on the left and right.
    for (int i = 0; i < 4; ++i) {
        int y0 = unit(8 + i * 5), y1 = unit(10 + i * 5);
        for (int y = y0; y <= y1 && y < n; ++y) {
            for (int x = unit(3); x < unit(8); ++x) at(x, y) = kPin;
            for (int x = unit(24); x < unit(29); ++x) at(x, y) = kPin;
        }
    }
    // The body with its edge and the orientation dot.
    for (int y = unit(5); y < unit(29); ++y) {
        for (int x = unit(8); x < unit(24); ++x) {
            bool edge = y == unit(5) || y == unit(29) - 1 || x == unit(8) || x == unit(24) - 1;
            at(x, y) = edge ? kEdge : kBody;
        }
    }
    at(unit(11), unit(8)) = kDot;
    // A downward arrow into the chip.
    for (int y = unit(1); y < unit(16); ++y) {
        for (int x = unit(14); x < unit(18); ++x) at(x, y) = kArrow;
    }
    for (int row = 0; row < unit(7); ++row) {
        int y = unit(15) + row;
        int half = unit(7) - row;
        for (int x = unit(16) - half; x < unit(16) + half; ++x) {
            if (x >= 0 && x < n && y < n) at(x, y) = kArrow;
        }
    }
    return px;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

// One image as the icon format stores it: a bitmap header of double height, the pixels bottom
// row first, then the (all-zero) mask, each mask row padded to 32 bits.
std::vector<uint8_t> ImageData(int n) {
    std::vector<uint8_t> out;
    Put32(out, kDibHeaderBytes);
    Put32(out, static_cast<uint32_t>(n));
    Put32(out, static_cast<uint32_t>(2 * n));
    Put16(out, 1);
    Put16(out, kBitsPerPixel);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    std::vector<Pixel> px = Draw(n);
    for (int y = n - 1; y >= 0; --y) {
        for (int x = 0; x < n; ++x) {
            const Pixel& p = px[static_cast<std::size_t>(y * n + x)];
            out.insert(out.end(), {p.b, p.g, p.r, p.a});
        }
    }
    int maskRowBytes = ((n + 31) / 32) * 4;
    out.insert(out.end(), static_cast<std::size_t>(maskRowBytes * n), 0);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> images;
    for (int n : kSizes) images.push_back(ImageData(n));
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, kIconType);
    Put16(out, static_cast<uint16_t>(images.size()));
    uint32_t offset = kHeaderBytes + kDirectoryEntryBytes * static_cast<uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(kSizes[i]));
        out.push_back(static_cast<uint8_t>(kSizes[i]));
        out.push_back(0);  // no palette
        out.push_back(0);
        Put16(out, 1);
        Put16(out, kBitsPerPixel);
        Put32(out, static_cast<uint32_t>(images[i].size()));
        Put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size()) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        if (f != nullptr) std::fclose(f);
        return 1;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
