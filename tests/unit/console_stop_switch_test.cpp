// The stop switch between the jobs and the access library: a stopped controller gets no
// further register access, every other one is untouched, and calls inside are counted.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "flash/stoppable_vlmio.h"

namespace {

// A library that records what reaches it and can hold a call inside until released.
class RecordingIo final : public pci::IVlmIo {
public:
    uint32_t LoadVlmIODriver() override { return 1; }
    void UnloadVlmIODriver() override {}
    uint32_t PCI_Read_BYTE(uint32_t, uint32_t, uint32_t, uint32_t) override {
        reads.fetch_add(1);
        return 0x12;
    }
    uint32_t PCI_Read_DWORD(uint32_t, uint32_t, uint32_t, uint32_t) override {
        reads.fetch_add(1);
        while (hold.load()) std::this_thread::yield();
        return 0x12345678;
    }
    void PCI_Write_Byte(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {
        writes.fetch_add(1);
    }
    void PCI_Write_DWORD(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) override {
        writes.fetch_add(1);
    }
    bool IsEmulated() override { return true; }
    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    std::atomic<bool> hold{false};
};

TEST(StopSwitch, StoppedControllersReadAllOnesAndWritesGoNowhere) {
    RecordingIo io;
    flash::CStoppableVlmIo sw(io);
    sw.StopController(3, 0, 1);
    EXPECT_EQ(sw.PCI_Read_BYTE(3, 0, 1, 0xF4), 0xFFFFFFFFu);
    EXPECT_EQ(sw.PCI_Read_DWORD(3, 0, 1, 0xF0), 0xFFFFFFFFu);
    sw.PCI_Write_Byte(3, 0, 1, 0xF4, 0x10);
    sw.PCI_Write_DWORD(3, 0, 1, 0xF0, 0x06);
    EXPECT_EQ(io.reads.load(), 0);
    EXPECT_EQ(io.writes.load(), 0);
    // Neighbours on the same device, bus or function number still pass.
    struct Address {
        uint32_t bus, device, function;
    } others[] = {{3, 0, 0}, {3, 1, 1}, {2, 0, 1}, {0x103, 0, 1}};
    for (const Address& a : others) {
        EXPECT_EQ(sw.PCI_Read_BYTE(a.bus, a.device, a.function, 0xF4), 0x12u);
        sw.PCI_Write_DWORD(a.bus, a.device, a.function, 0xF0, 1);
    }
    EXPECT_EQ(io.reads.load(), 4);
    EXPECT_EQ(io.writes.load(), 4);
    EXPECT_TRUE(sw.IsEmulated());
    sw.ClearStops();
    EXPECT_EQ(sw.PCI_Read_BYTE(3, 0, 1, 0xF4), 0x12u);
}

TEST(StopSwitch, FourControllersCanBeStoppedAndStoppingTwiceTakesOneSlot) {
    RecordingIo io;
    flash::CStoppableVlmIo sw(io);
    for (int i = 0; i < 2; ++i) {
        for (uint8_t bus = 1; bus <= 4; ++bus) sw.StopController(bus, 0, 0);
    }
    for (uint32_t bus = 1; bus <= 4; ++bus) EXPECT_TRUE(sw.IsStopped(bus, 0, 0)) << bus;
    EXPECT_FALSE(sw.IsStopped(5, 0, 0));
}

TEST(StopSwitch, CountsTheCallsInsideTheLibrary) {
    RecordingIo io;
    flash::CStoppableVlmIo sw(io);
    io.hold.store(true);
    std::thread caller([&] { sw.PCI_Read_DWORD(1, 0, 0, 0); });
    while (sw.CallsInside() == 0) std::this_thread::yield();
    EXPECT_EQ(sw.CallsInside(), 1u);
    io.hold.store(false);
    caller.join();
    EXPECT_EQ(sw.CallsInside(), 0u);
}

}  // namespace
