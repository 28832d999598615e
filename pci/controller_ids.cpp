#include "pci/controller_ids.h"

// The target hardware's identifiers: the maker's PCI vendor identifier and the device
// identifiers of the seven 270X family members. Set these for the hardware to be updated; the
// vendor identifier chosen here is not assigned to any maker in the public PCI identifier list,
// so the program can never match another maker's device.
const std::array<ControllerId, kControllerIdCount> g_ControllerIds = {{
    {0x1F7C, 0x2700},
    {0x1F7C, 0x2701},
    {0x1F7C, 0x2702},
    {0x1F7C, 0x2703},
    {0x1F7C, 0x2704},
    {0x1F7C, 0x2705},
    {0x1F7C, 0x2706},
}};
