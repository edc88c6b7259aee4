// The network plug-in file: the HTTP byte stream and its "mms://" twin.
#include "http_stream.h"
#include "plugin/frame.h"

// MMS_ adds nothing to HTTP: the HTTP stream turns "mms://" into "http://" itself.
static const NodeClassDef kMmsClass = {NODE_CLASS_SIZE(0, 0), MMS_CLASS, HTTP_CLASS, 1, nullptr, nullptr};

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    NodeRegisterClass(&kHttpClass);
    NodeRegisterClass(&kMmsClass);
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(MMS_CLASS);
    return NodeUnRegisterClass(HTTP_CLASS);
}
