// Writes the demonstration's sample firmware image: a 64 KiB PCI expansion ROM with the 0x55AA
// signature, a PCI data structure naming our controller, and a correct checksum.
//   make_sample_image OUTPUT [VENDOR_ID DEVICE_ID]   (identifiers in hex)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kImageBytes = 0x10000;
constexpr std::size_t kBlockBytes = 512;
constexpr std::size_t kPcirOffset = 0x40;
constexpr std::size_t kPcirPointerOffset = 0x18;
constexpr std::size_t kTextOffset = 0x80;
constexpr uint16_t kDefaultVendor = 0x1F7C;
constexpr uint16_t kDefaultDevice = 0x2700;
constexpr uint8_t kClassMassStorage = 0x01;
constexpr uint8_t kSubclassIde = 0x01;
constexpr uint8_t kProgIf = 0x85;
constexpr uint8_t kCodeTypeX86 = 0x00;
constexpr uint8_t kLastImage = 0x80;
constexpr uint8_t kFarReturn = 0xCB;

void Put16(std::vector<uint8_t>& b, std::size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s OUTPUT [VENDOR_ID DEVICE_ID]\n", argv[0]);
        return 2;
    }
    uint16_t vendor = kDefaultVendor;
    uint16_t device = kDefaultDevice;
    if (argc == 4) {
        vendor = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 16));
        device = static_cast<uint16_t>(std::strtoul(argv[3], nullptr, 16));
    }
    std::vector<uint8_t> image(kImageBytes, 0xFF);
    const uint16_t blocks = static_cast<uint16_t>(kImageBytes / kBlockBytes);
    image[0] = 0x55;
    image[1] = 0xAA;
    image[2] = static_cast<uint8_t>(blocks);  // size in 512-byte blocks (128 = 64 KiB)
    image[3] = kFarReturn;                    // initialisation entry: return at once
    std::memset(&image[4], 0, kPcirOffset - 4);
    Put16(image, kPcirPointerOffset, static_cast<uint16_t>(kPcirOffset));

    // PCI data structure.
    std::vector<uint8_t> pcir(0x18, 0);
    std::memcpy(pcir.data(), "PCIR", 4);
    Put16(pcir, 4, vendor);
    Put16(pcir, 6, device);
    Put16(pcir, 10, 0x18);  // structure length
    pcir[12] = 0;           // structure revision
    pcir[13] = kProgIf;
    pcir[14] = kSubclassIde;
    pcir[15] = kClassMassStorage;
    Put16(pcir, 16, blocks);
    Put16(pcir, 18, 0x0100);  // code revision
    pcir[20] = kCodeTypeX86;
    pcir[21] = kLastImage;
    std::memcpy(&image[kPcirOffset], pcir.data(), pcir.size());

    const char text[] =
        "Velmora 270X option ROM - demonstration image for the emulated PC. "
        "Not firmware: never write it to a real controller.";
    std::memcpy(&image[kTextOffset], text, sizeof text);
    // A recognisable pattern through the rest, so a misplaced byte shows in a comparison.
    for (std::size_t i = 0x200; i < kImageBytes - 1; ++i) {
        image[i] = static_cast<uint8_t>((i * 7 + (i >> 8)) & 0xFF);
    }
    // Checksum: every byte of the image sums to zero.
    unsigned sum = 0;
    for (std::size_t i = 0; i < kImageBytes - 1; ++i) sum += image[i];
    image[kImageBytes - 1] = static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);

    FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
