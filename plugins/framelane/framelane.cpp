// The framelane plug-in file: video overlay output on the Intel 2700G chip (270G) and its
// IDCT face (270I).
#include "g270.h"

namespace {

// The output's destroy releases what an object deleted while in use still holds.
const NodeClassDef kOutputClass = {NODE_CLASS_SIZE(sizeof(framelane::Output), NODE_FLAGS_OVERLAY), G270_CLASS,
                                   OVERLAY_CLASS, 1210, framelane::Create, framelane::Destroy};
const NodeClassDef kFaceClass = {NODE_CLASS_SIZE(0, NODE_FLAGS_IDCT), I270_CLASS, IDCT_CLASS, 1050, nullptr, nullptr};

}  // namespace

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    NodeRegisterClass(&kOutputClass);
    NodeRegisterClass(&kFaceClass);
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(G270_CLASS);
    return NodeUnRegisterClass(I270_CLASS);
}
