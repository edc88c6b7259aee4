// The classes of the core itself: the root, the bases the plug-ins derive from, and the
// core's own streams.
#include <initializer_list>

#include "core/format.h"
#include "core/stream.h"
#include "internal.h"
#include "streams.h"
#include "formatbase.h"
#include "overlaybase.h"
#include "core/overlay.h"

namespace {

int NodeBaseEnum(void*, int, ParamInfo*) { return ERR_INVALID_PARAM; }
int NodeBaseGet(void*, int, void*, int) { return ERR_INVALID_PARAM; }
int NodeBaseSet(void*, int, const void*, int) { return ERR_INVALID_PARAM; }

int NodeSetUp(void* object) {
    auto* n = static_cast<Node*>(object);
    n->enumParams = NodeBaseEnum;
    n->getParam = NodeBaseGet;
    n->setParam = NodeBaseSet;
    return 0;
}

// Classes with parent 0 end the chain; everything derives from NODE.
const NodeClassDef kNode = {NODE_CLASS_SIZE(sizeof(Node), 0), NODE_CLASS, 0, 0, NodeSetUp, nullptr};
const NodeClassDef kStream = {NODE_CLASS_SIZE(sizeof(Stream), 0), STREAM_CLASS, NODE_CLASS, 0,
                              core::StreamSetUp, nullptr};
const NodeClassDef kFormat = {NODE_CLASS_SIZE(sizeof(Format), 0), FORMAT_CLASS, NODE_CLASS, 0,
                              core::FormatSetUp, core::FormatTearDown};
const NodeClassDef kOverlay = {NODE_CLASS_SIZE(sizeof(Overlay), NODE_FLAGS_OVERLAY), OVERLAY_CLASS, NODE_CLASS,
                               0, core::OverlaySetUp, nullptr};
const NodeClassDef kIdct = {NODE_CLASS_SIZE(sizeof(IdctFace), NODE_FLAGS_IDCT), IDCT_CLASS, NODE_CLASS, 0,
                            core::IdctSetUp, nullptr};
const NodeClassDef kFile = {NODE_CLASS_SIZE(sizeof(core::FileStream), 0), FILE_CLASS, STREAM_CLASS, 0,
                            core::FileStreamSetUp, core::FileStreamTearDown};
const NodeClassDef kMem = {NODE_CLASS_SIZE(sizeof(core::MemStream), 0), MEMSTREAM_CLASS, STREAM_CLASS, 0,
                           core::MemStreamSetUp, core::MemStreamTearDown};
const NodeClassDef kHead = {NODE_CLASS_SIZE(sizeof(core::HeadStream), 0), HEAD_CLASS, STREAM_CLASS, 0,
                            core::HeadStreamSetUp, core::HeadStreamTearDown};

}  // namespace

namespace core {

const NodeClassDef* CoreClass(fourcc_t id) {
    for (const NodeClassDef* d : {&kNode, &kStream, &kFormat, &kOverlay, &kIdct, &kFile, &kMem, &kHead})
        if (d->classId == id) return d;
    return nullptr;
}

}  // namespace core
