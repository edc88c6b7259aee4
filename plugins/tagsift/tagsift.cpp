// The tagsift plug-in file: the FLV reader alone (its source is the splitter's).
#include "plugin/frame.h"

#include "flv.h"

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    FlvRegister();
    return 0;
}

int DLLUnRegister() { return FlvUnRegister(); }
