// A recording stand-in for the access library: one SPI bridge whose control register and
// data register answer from scripts, and a configuration space of identifier words. Every
// access moves a virtual clock on, so the bridge's time limits pass without real time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <tuple>
#include <vector>

#include "framework/clock.h"
#include "pci/vlmio_access.h"
#include "tests/support/test_clocks.h"

namespace fake {

struct Access {
    uint32_t bus, device, function, offset;
    bool write;
    uint32_t value;
};

class FakeBridge final : public pci::IVlmIo {
public:
    explicit FakeBridge(testsupport::VirtualClock& clock, uint64_t usStep = 2)
        : usPerAccess(usStep), m_clock(clock) {}

    uint32_t LoadVlmIODriver() override { return 1; }
    void UnloadVlmIODriver() override {}
    uint32_t PCI_Read_BYTE(uint32_t b, uint32_t d, uint32_t f, uint32_t offset) override {
        const uint32_t value = offset == pci::kSpiControlRegister ? control() : 0xFFu;
        Record(b, d, f, offset, false, value);
        return value;
    }
    uint32_t PCI_Read_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t offset) override {
        uint32_t value = 0xFFFFFFFFu;
        if (offset == pci::kSpiDataRegister) {
            value = data();
        } else if (offset == pci::kPciIdOffset) {
            auto it = ids.find({b, d, f});
            if (it != ids.end()) value = it->second;
            ++idReads;
            maxBusRead = std::max(maxBusRead, b);
            return value;  // the walk's 28,672 reads are counted, not recorded
        }
        Record(b, d, f, offset, false, value);
        return value;
    }
    void PCI_Write_Byte(uint32_t b, uint32_t d, uint32_t f, uint32_t offset,
                        uint32_t value) override {
        Record(b, d, f, offset, true, value);
    }
    void PCI_Write_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t offset,
                         uint32_t value) override {
        Record(b, d, f, offset, true, value);
        if (offset == pci::kSpiDataRegister && onDataWrite) onDataWrite(value);
    }

    // The values written to one register, in order.
    std::vector<uint32_t> Writes(uint32_t offset) const {
        std::vector<uint32_t> out;
        for (const Access& a : log) {
            if (a.write && a.offset == offset) out.push_back(a.value);
        }
        return out;
    }
    std::vector<uint32_t> ControlWrites() const { return Writes(pci::kSpiControlRegister); }
    std::vector<uint32_t> DataWrites() const { return Writes(pci::kSpiDataRegister); }
    std::size_t Count(uint32_t offset, bool write) const {
        std::size_t n = 0;
        for (const Access& a : log) n += (a.offset == offset && a.write == write) ? 1 : 0;
        return n;
    }

    // Scripts: the control register's value (ready by default) and the data register's.
    std::function<uint32_t()> control = [] { return 0u; };
    std::function<uint32_t()> data = [] { return 0u; };
    // Told every value written to the data register, after the write.
    std::function<void(uint32_t)> onDataWrite;
    // Identifier words by bus, device, function; absent functions read all ones.
    std::map<std::tuple<uint32_t, uint32_t, uint32_t>, uint32_t> ids;
    std::vector<Access> log;
    bool recordControlReads = true;
    uint64_t usPerAccess;  // virtual time one access takes
    uint64_t idReads = 0;
    uint32_t maxBusRead = 0;

private:
    void Record(uint32_t b, uint32_t d, uint32_t f, uint32_t offset, bool write, uint32_t value) {
        m_clock.Elapse(usPerAccess);
        if (!write && offset == pci::kSpiControlRegister && !recordControlReads) return;
        log.push_back({b, d, f, offset, write, value});
    }

    testsupport::VirtualClock& m_clock;
};

}  // namespace fake
