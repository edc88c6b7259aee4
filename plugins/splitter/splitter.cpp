// The splitter plug-in file: the container readers for MP4/QuickTime and FLV. It also
// holds the ASF reader, whose registration routine DLLRegister does not call.
#include "plugin/frame.h"

#define MP4F_CLASS FOURCC('M', 'P', '4', 'F')
#define FLV_CLASS FOURCC('F', 'L', 'V', '_')

int DLLRegister(int version) {
    if (version != CORE_INTERFACE_VERSION) return ERR_INVALID_VERSION;
    // In this order; results are not looked at.
    // MP4F: the MP4 reader's NodeRegisterClass(&its class record) goes here.
    // FLV_: the FLV reader's three StringAdd texts, then its NodeRegisterClass, go here.
    return 0;
}

int DLLUnRegister() {
    NodeUnRegisterClass(MP4F_CLASS);
    return NodeUnRegisterClass(FLV_CLASS);
}
