// Writes a sample firmware image: by default the demonstration's, a 64 KiB PCI option ROM for the
// whole 270X family (the identifiers of the controller table); the other kinds are the images the
// tests use (another device, a device list, an x86 and EFI chain, and ill-formed ones).
//   make_sample_image OUTPUT [KIND]
#include <cstdio>
#include <string>
#include <vector>

#include "tools/option_rom_builder.h"

int main(int argc, char** argv) {
    const std::string kind = argc == 3 ? argv[2] : "demo";
    std::vector<uint8_t> image;
    if ((argc != 2 && argc != 3) || !romtools::MakeSample(kind, image)) {
        std::fprintf(stderr, "usage: %s OUTPUT [KIND]\nKIND is one of:\n", argv[0]);
        for (const romtools::SampleKind& k : romtools::SampleKinds()) {
            std::fprintf(stderr, "  %-15s %s\n", k.pszName, k.pszDescription);
        }
        return 2;
    }
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
