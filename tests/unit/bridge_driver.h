// Drives one controller's SPI bridge of an emulated PC through its two registers, the way the
// host does: the data register at 0xF0, the control register at 0xF4.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "emulator/emulated_pc.h"

namespace testing_bridge {

inline constexpr uint32_t kData = 0xF0;
inline constexpr uint32_t kControl = 0xF4;
inline constexpr uint8_t kBusy = 0x20;
inline constexpr uint8_t kEnd = 0x10;

class BridgeDriver {
public:
    BridgeDriver(vlmio::emu::EmulatedPc& pc, uint8_t bus, uint8_t device, uint8_t function)
        : m_pc(pc), m_bus(bus), m_device(device), m_function(function) {}

    // Polls the control register until its busy bit clears; false after maxReads reads.
    bool WaitReady(int maxReads = 100000) {
        for (int i = 0; i < maxReads; ++i) {
            if ((m_pc.ReadByte(m_bus, m_device, m_function, kControl) & kBusy) == 0) return true;
        }
        return false;
    }
    // Sends bytes within the current command, up to four per transfer.
    void Send(const std::vector<uint8_t>& bytes) {
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            uint32_t value = 0;
            std::size_t n = bytes.size() - i < 4 ? bytes.size() - i : 4;
            for (std::size_t k = 0; k < n; ++k) value |= uint32_t{bytes[i + k]} << (8 * k);
            WaitReady();
            m_pc.WriteDword(m_bus, m_device, m_function, kData, value);
            m_pc.WriteByte(m_bus, m_device, m_function, kControl, 0x28 + static_cast<uint32_t>(n));
            WaitReady();
        }
    }
    // Receives n bytes within the current command, up to four per transfer.
    std::vector<uint8_t> Receive(std::size_t n) {
        std::vector<uint8_t> out;
        while (out.size() < n) {
            std::size_t k = n - out.size() < 4 ? n - out.size() : 4;
            WaitReady();
            m_pc.WriteByte(m_bus, m_device, m_function, kControl, 0x20 + static_cast<uint32_t>(k));
            WaitReady();
            uint32_t value = m_pc.ReadDword(m_bus, m_device, m_function, kData);
            for (std::size_t j = 0; j < k; ++j)
                out.push_back(static_cast<uint8_t>(value >> (8 * j)));
        }
        return out;
    }
    // Releases chip select: the command takes effect.
    void End() { m_pc.WriteByte(m_bus, m_device, m_function, kControl, kEnd); }
    // One whole command with no answer.
    void Command(const std::vector<uint8_t>& bytes) {
        Send(bytes);
        End();
    }
    // An opcode followed by a 24-bit address, most significant byte first.
    static std::vector<uint8_t> WithAddress(uint8_t opcode, uint32_t address) {
        return {opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                static_cast<uint8_t>(address)};
    }

    uint8_t ReadStatus() {
        Send({0x05});
        uint8_t status = Receive(1)[0];
        End();
        return status;
    }
    // Polls the status register until the chip is no longer busy; false after maxReads.
    bool WaitWhileBusy(int maxReads = 10000000) {
        for (int i = 0; i < maxReads; ++i) {
            if ((ReadStatus() & 0x01) == 0) return true;
        }
        return false;
    }
    void WriteEnable() { Command({0x06}); }
    void WriteDisable() { Command({0x04}); }
    void WriteStatus(uint8_t value) { Command({0x01, value}); }
    std::vector<uint8_t> Read(uint32_t address, std::size_t n) {
        Send(WithAddress(0x03, address));
        std::vector<uint8_t> out = Receive(n);
        End();
        return out;
    }
    // Page program (the caller sets write enable) and wait for the chip.
    void PageProgram(uint32_t address, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> bytes = WithAddress(0x02, address);
        bytes.insert(bytes.end(), data.begin(), data.end());
        Command(bytes);
        WaitWhileBusy();
    }
    // An identification command: the opcode alone (mode 0) or with three zero bytes (mode 3).
    std::array<uint8_t, 3> ReadId(uint8_t opcode, uint8_t mode) {
        if (mode == 3) {
            Send({opcode, 0, 0, 0});
        } else {
            Send({opcode});
        }
        std::vector<uint8_t> b = Receive(3);
        End();
        return {b[0], b[1], b[2]};
    }

private:
    vlmio::emu::EmulatedPc& m_pc;
    uint8_t m_bus;
    uint8_t m_device;
    uint8_t m_function;
};

}  // namespace testing_bridge
