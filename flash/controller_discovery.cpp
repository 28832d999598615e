#include "flash/controller_discovery.h"

#include "flash/update_engine.h"
#include "pci/controller_ids.h"
#include "util/result_codes.h"

// Walks every identifier row over buses 0-15, devices 0-31 and functions 0-7, recording each
// function whose identifier word matches the row, in that order; matches past the table's
// room are ignored.
int32_t flash::CInterctl::ScanControllers() {
    std::lock_guard<std::mutex> lock(m_csEngine);
    pci::IVlmIo& io = m_spi.Io();
    m_rucControllerCount = 0;
    for (std::size_t row = 0; row < g_ControllerIds.size(); ++row) {
        const uint32_t key = ControllerIdKey(g_ControllerIds[row]);
        for (uint32_t bus = 0; bus < kScanBusCount; ++bus) {
            for (uint32_t device = 0; device < kScanDeviceCount; ++device) {
                for (uint32_t function = 0; function < kScanFunctionCount; ++function) {
                    if (io.PCI_Read_DWORD(bus, device, function, pci::kPciIdOffset) != key) {
                        continue;
                    }
                    if (m_rucControllerCount >= kMaxControllers) continue;
                    ControllerInfo& record = m_pControllers[m_rucControllerCount];
                    record.ucBus = static_cast<uint8_t>(bus);
                    record.ucDevice = static_cast<uint8_t>(device);
                    record.ucFunction = static_cast<uint8_t>(function);
                    record.usPageSize = 0;  // set when this controller's part is identified
                    record.ucIdRow = static_cast<uint8_t>(row);
                    ++m_rucControllerCount;
                }
            }
        }
    }
    return m_rucControllerCount != 0 ? kResultSuccess : kResultTransferError;
}
