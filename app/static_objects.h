// The process-wide objects built before the application starts (see static_objects.cpp).
#pragma once

#include "flash/interctl.h"
#include "flash/spi_ctl.h"

class CVLM270FWUpdateApp;

// The update engine, over the utility object's controller table and the SPI layer.
extern CInterctl g_Interctl;
// The application object.
extern CVLM270FWUpdateApp theApp;
// The SPI layer, on the process-wide access library and clock.
extern flash::CSPICtl g_SPICtl;
