#include "admin/probe.h"

#include <algorithm>
#include <iterator>

#include "flash/controller_discovery.h"
#include "pci/controller_ids.h"
#include "util/result_codes.h"

namespace admin {

std::vector<FoundFunction> ScanAllBuses(pci::IVlmIo& io) {
    std::vector<FoundFunction> found;
    for (uint32_t bus = 0; bus < kAllBusCount; ++bus) {
        for (uint32_t device = 0; device < kScanDeviceCount; ++device) {
            for (uint32_t function = 0; function < kScanFunctionCount; ++function) {
                const uint32_t word = io.PCI_Read_DWORD(bus, device, function, pci::kPciIdOffset);
                for (std::size_t row = 0; row < g_ControllerIds.size(); ++row) {
                    if (word != ControllerIdKey(g_ControllerIds[row])) continue;
                    found.push_back({{static_cast<uint8_t>(bus), static_cast<uint8_t>(device),
                                      static_cast<uint8_t>(function)},
                                     static_cast<uint8_t>(row)});
                    break;
                }
            }
        }
    }
    // The walk's order: identifier row first, then the place.
    std::stable_sort(
        found.begin(), found.end(),
        [](const FoundFunction& a, const FoundFunction& b) { return a.ucIdRow < b.ucIdRow; });
    return found;
}

bool WalkCovers(const ControllerAddress& address) {
    return address.ucBus < kScanBusCount;
}

ProbeResult ProbeControllers(flash::CInterctl& engine, flash::CSPICtl& spi, uint8_t& rucCount,
                             ControllerInfo (&controllers)[kMaxControllers]) {
    ProbeResult result;
    result.bFound = engine.ScanControllers() == kResultSuccess;
    for (uint8_t i = 0; i < rucCount; ++i) {
        ProbedController probed;
        probed.part = spi.QueryFlashPart(controllers[i]);
        ControllerInfo& record = controllers[i];
        if (flash::IsIdentified(probed.part)) {
            std::copy(std::begin(probed.part.szVendor), std::end(probed.part.szVendor),
                      std::begin(record.szVendor));
            std::copy(std::begin(probed.part.szPartName), std::end(probed.part.szPartName),
                      std::begin(record.szPartName));
        }
        probed.ucIdOpcode =
            flash::IsIdentified(probed.part) ? probed.part.ucIdOpcode : kCommonIdOpcode;
        const uint8_t ucMode =
            flash::IsIdentified(probed.part) ? probed.part.ucIdMode : flash::kIdModeOpcodeOnly;
        uint32_t dwId = 0;
        probed.bIdRead = spi.ReadId(record, probed.ucIdOpcode, ucMode, &dwId) == kResultSuccess;
        probed.idBytes = {static_cast<uint8_t>(dwId), static_cast<uint8_t>(dwId >> 8),
                          static_cast<uint8_t>(dwId >> 16)};
        probed.record = record;
        result.controllers.push_back(probed);
    }
    for (const FoundFunction& f : ScanAllBuses(spi.Io())) {
        auto inTable = [&](const ProbedController& p) { return IsAt(p.record, f.address); };
        if (std::none_of(result.controllers.begin(), result.controllers.end(), inTable)) {
            result.leftOut.push_back(f);
        }
    }
    return result;
}

}  // namespace admin
