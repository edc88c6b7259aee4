// The splitter plug-in file: the container readers for MP4/QuickTime and FLV. It also
// holds the ASF reader, whose registration routine DLLRegister does not call.
#include "asf.h"
#include "flv.h"
#include "mp4.h"
#include "plugin/frame.h"

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // In this order; results are not looked at.
    NodeRegisterClass(&Mp4Class);
    FlvRegister();
#ifdef SPLITTER_REGISTERS_ASF
    // The build that registers the ASF reader (splitter-asf.plg).
    AsfRegister();
#endif
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(MP4_CLASS);
#ifdef SPLITTER_REGISTERS_ASF
    FlvUnRegister();
    return AsfUnRegister();
#else
    return FlvUnRegister();
#endif
}
