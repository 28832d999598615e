#include "util/controller_info.h"

#include <cstdio>

std::string ControllerAddressText(uint8_t ucBus, uint8_t ucDevice, uint8_t ucFunction) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "0000:%02x:%02x.%x", static_cast<unsigned>(ucBus),
                  static_cast<unsigned>(ucDevice), static_cast<unsigned>(ucFunction));
    return text;
}
