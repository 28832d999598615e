// The access library as the update jobs use it: a controller whose job was stopped gets no
// further register access (reads give all ones, writes go nowhere), so a stopped job fails
// fast and never touches the hardware again; and the calls still inside the library are
// counted, so the run knows whether the library may be unloaded.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "pci/vlmio_access.h"
#include "util/controller_info.h"

namespace flash {

inline constexpr uint32_t kStoppedRead = 0xFFFFFFFF;

class CStoppableVlmIo final : public pci::IVlmIo {
public:
    explicit CStoppableVlmIo(pci::IVlmIo& inner) : m_inner(inner) {}

    // Every further access to the controller at that address is a no-op reading all ones.
    void StopController(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction);
    bool IsStopped(uint32_t bus, uint32_t device, uint32_t function) const;
    // Lets every controller be accessed again (a new run).
    void ClearStops();
    // The library it wraps, for what must still reach a stopped controller (its closing
    // end of command and write disable).
    pci::IVlmIo& Inner() { return m_inner; }
    // How many calls are inside the wrapped library at this moment.
    uint32_t CallsInside() const { return m_dwCallsInside.load(std::memory_order_acquire); }
    // How many calls went into any such library since the process started: a front end's sign
    // that the hardware is being worked on.
    static uint64_t CallsMade() { return s_ullCallsMade.load(std::memory_order_relaxed); }

    uint32_t LoadVlmIODriver() override;
    void UnloadVlmIODriver() override;
    uint32_t PCI_Read_BYTE(uint32_t bus, uint32_t device, uint32_t function,
                           uint32_t offset) override;
    uint32_t PCI_Read_DWORD(uint32_t bus, uint32_t device, uint32_t function,
                            uint32_t offset) override;
    void PCI_Write_Byte(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                        uint32_t value) override;
    void PCI_Write_DWORD(uint32_t bus, uint32_t device, uint32_t function, uint32_t offset,
                         uint32_t value) override;
    bool IsEmulated() override;
    int AccessError(uint32_t bus, uint32_t device, uint32_t function) override;
    int WritesRefused() override;

private:
    // Counts one call inside the library for its lifetime.
    class Inside {
    public:
        explicit Inside(std::atomic<uint32_t>& count) : m_count(count) {
            m_count.fetch_add(1, std::memory_order_acq_rel);
            s_ullCallsMade.fetch_add(1, std::memory_order_relaxed);
        }
        ~Inside() { m_count.fetch_sub(1, std::memory_order_acq_rel); }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        std::atomic<uint32_t>& m_count;
    };

    // A stopped controller's address packed as bus << 8 | device << 3 | function, plus one so
    // that 0 marks a free slot.
    static uint32_t Key(uint32_t bus, uint32_t device, uint32_t function) {
        return ((bus & 0xFFu) << 8 | (device & 0x1Fu) << 3 | (function & 0x7u)) + 1;
    }

    static inline std::atomic<uint64_t> s_ullCallsMade{0};
    pci::IVlmIo& m_inner;
    std::atomic<uint32_t> m_dwCallsInside{0};
    std::mutex m_stopMutex;  // serialises StopController's slot search
    std::array<std::atomic<uint32_t>, kMaxControllers> m_stopped{};
};

}  // namespace flash
