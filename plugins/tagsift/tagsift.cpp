// The tagsift plug-in file: the FLV reader alone (its source is the splitter's).
#include "plugin/frame.h"

#define FLV_CLASS FOURCC('F', 'L', 'V', '_')

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // FLV_: the FLV reader's three StringAdd texts, then its NodeRegisterClass, go here.
    return 0;
}

int DLLUnRegister() { return NodeUnRegisterClass(FLV_CLASS); }
