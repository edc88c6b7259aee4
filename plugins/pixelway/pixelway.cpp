// The pixelway plug-in file: video overlay output on the ATI 3200 chip.
#include "plugin/frame.h"

#define AHI_CLASS FOURCC('A', 'H', 'I', '_')
#define AHII_CLASS FOURCC('A', 'H', 'I', 'I')

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // AHI_: the overlay's NodeRegisterClass(&its class record) goes here. AHII is
    // registered by the overlay's create when the driver allows it.
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(AHI_CLASS);
    return NodeUnRegisterClass(AHII_CLASS);
}
