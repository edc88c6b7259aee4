// Shared between the core's own sources.
#pragma once

#include "core/node.h"

namespace core {

// The record of a class of the core itself (NODE, STRM, FMTB, OVLA, IDCT, FILE, MEMS, HEAD), or null.
const NodeClassDef* CoreClass(fourcc_t classId);

}  // namespace core
