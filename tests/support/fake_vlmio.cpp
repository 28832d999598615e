// A small access library for the loader's tests: configuration space as a table that writes
// fill and reads give back (all ones where nothing was written), and a count of loads.
// Built once whole and once without PCI_Write_DWORD (FAKE_VLMIO_WITHOUT_WRITE_DWORD), and once
// with VlmIoIsEmulated (FAKE_VLMIO_EMULATED).
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

#include "pci/vlmio.h"

namespace {

using Key = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;
std::mutex g_mutex;
std::map<Key, uint32_t> g_cells;  // by bus, device, function, offset: one byte each
uint32_t g_loads = 0;

uint32_t ReadBytes(uint32_t b, uint32_t d, uint32_t f, uint32_t offset, int count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        auto it = g_cells.find(Key{b, d, f, offset + static_cast<uint32_t>(i)});
        value = (value << 8) | (it == g_cells.end() ? 0xFFu : it->second);
    }
    return value;
}

void WriteBytes(uint32_t b, uint32_t d, uint32_t f, uint32_t offset, int count, uint32_t value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int i = 0; i < count; ++i) {
        g_cells[Key{b, d, f, offset + static_cast<uint32_t>(i)}] = (value >> (8 * i)) & 0xFFu;
    }
}

}  // namespace

extern "C" {

// The number of loads so far, so a test sees that each entry reaches this library.
VLMIO_API uint32_t VLMIO_CALL LoadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return ++g_loads;
}

VLMIO_API void VLMIO_CALL UnloadVlmIODriver(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cells.clear();
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_BYTE(uint32_t b, uint32_t d, uint32_t f, uint32_t o) {
    return ReadBytes(b, d, f, o, 1);
}

VLMIO_API uint32_t VLMIO_CALL PCI_Read_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o) {
    return ReadBytes(b, d, f, o, 4);
}

VLMIO_API void VLMIO_CALL PCI_Write_Byte(uint32_t b, uint32_t d, uint32_t f, uint32_t o,
                                         uint32_t v) {
    WriteBytes(b, d, f, o, 1, v);
}

#ifndef FAKE_VLMIO_WITHOUT_WRITE_DWORD
VLMIO_API void VLMIO_CALL PCI_Write_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o,
                                          uint32_t v) {
    WriteBytes(b, d, f, o, 4, v);
}
#endif

#ifdef FAKE_VLMIO_EMULATED
VLMIO_API uint32_t VLMIO_CALL VlmIoIsEmulated(void) {
    return 1;
}
#endif

}  // extern "C"
