// The framelane plug-in file: video overlay output on the Intel 2700G chip.
#include "plugin/frame.h"

#define G270_CLASS FOURCC('2', '7', '0', 'G')
#define I270_CLASS FOURCC('2', '7', '0', 'I')

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // In this order: 270G (the overlay's NodeRegisterClass(&its class record)), then
    // 270I (the IDCT face, no create of its own) go here.
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(G270_CLASS);
    return NodeUnRegisterClass(I270_CLASS);
}
