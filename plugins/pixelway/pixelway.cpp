// The pixelway plug-in file: video overlay output on the ATI 3200 chip.
#include "ahi.h"

namespace {

const NodeClassDef kOverlayClass = {NODE_CLASS_SIZE(sizeof(pixelway::Ahi), NODE_FLAGS_OVERLAY), AHI_CLASS,
                                    OVERLAY_CLASS, 1200, pixelway::OverlayCreate, pixelway::OverlayDestroy};

}  // namespace

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // AHII is registered by the overlay's create when the driver allows it.
    NodeRegisterClass(&kOverlayClass);
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(AHI_CLASS);
    return NodeUnRegisterClass(AHII_CLASS);
}
