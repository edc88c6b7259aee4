// Nodes: the objects of the player core and its plug-ins, their class records and the
// class registry.
//
// An object is a record allocated by the core at its class's size. Word 0 holds the
// object's class FourCC; the words after it are function slots in a fixed order per
// parent class (see stream.h, format.h). Every word that holds a pointer or a function
// is pointer-sized. A new object is zero apart from word 0 and the slots and fields the
// core's base set-up fills, and the parent's create runs before the child's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wintypes.h"

// The core's character type.
using tchar = wchar_t;

// A FourCC: the four letters, lowest address first ('M' of "MP4F" in the lowest byte).
using fourcc_t = uint32_t;
#define FOURCC(a, b, c, d)                                                                  \
    ((fourcc_t)(uint8_t)(a) | ((fourcc_t)(uint8_t)(b) << 8) | ((fourcc_t)(uint8_t)(c) << 16) | \
     ((fourcc_t)(uint8_t)(d) << 24))

// Classes of the core itself.
#define NODE_CLASS FOURCC('N', 'O', 'D', 'E')    // root of every class
#define STREAM_CLASS FOURCC('S', 'T', 'R', 'M')  // byte stream
#define FORMAT_CLASS FOURCC('F', 'M', 'T', 'B')  // format reader
#define OVERLAY_CLASS FOURCC('O', 'V', 'L', 'A') // video overlay output
#define IDCT_CLASS FOURCC('I', 'D', 'C', 'T')    // hardware IDCT face
#define FILE_CLASS FOURCC('F', 'I', 'L', 'E')    // the core's local file stream
#define MEMSTREAM_CLASS FOURCC('M', 'E', 'M', 'S') // the core's memory stream
#define HEAD_CLASS FOURCC('H', 'E', 'A', 'D')    // the host's wrapper that keeps a stream's first bytes
#define ERR_CLASS FOURCC('E', 'R', 'R', '_')     // message class of the core's own error texts

// The interface version the core passes to DLLRegister.
#define CORE_INTERFACE_VERSION 528

// Result codes (int; 0 = success).
#define ERR_NONE 0
#define ERR_READ (-1)            // read failed, connection lost, frame refused
#define ERR_OUT_OF_MEMORY (-2)
#define ERR_INVALID_DATA (-3)    // bad or truncated header
#define ERR_INVALID_PARAM (-4)   // parameter not handled, index out of range, unknown class
#define ERR_NOT_SUPPORTED (-5)   // unsupported format or codec, or refused
#define ERR_NO_FRAME (-6)
#define ERR_OPEN_FAILED (-8)
#define ERR_END_OF_FILE (-9)
#define ERR_DEVICE_ERROR (-10)
#define ERR_NO_PACKET (-12)
#define ERR_NOT_DIRECTORY (-14)
#define ERR_INVALID_VERSION (-15)

// Class record, constant data of the plug-in; the core keeps the pointer.
struct NodeClassDef {
    uint32_t sizeAndFlags;  // low 24 bits object size (0 = the parent's), top 8 bits class flags
    fourcc_t classId;
    fourcc_t parentId;
    int32_t priority;       // preference among classes of one parent (higher first)
    int (*create)(void* object);    // 0 = success, negative refuses the object; may be null
    void (*destroy)(void* object);  // may be null
};

#define NODE_SIZE_MASK 0x00FFFFFFu
#define NODE_CLASS_SIZE(size, flags) ((uint32_t)(size) | ((uint32_t)(flags) << 24))
#define NODE_CLASS_FLAGS(sizeAndFlags) ((uint32_t)(sizeAndFlags) >> 24)
#define NODE_FLAGS_OVERLAY 3u
#define NODE_FLAGS_IDCT 8u

// Parameter description: enumParams' out record, and the rows of a parameter table
// walked by NodeEnumTable. A table ends with the row {class FourCC, -1}.
struct ParamInfo {
    int id;
    int type;   // PARAM_BOOL, PARAM_INT, PARAM_STRING (the terminator row: -1)
    int flags;
    int reserved1;
    int reserved2;
};
#define PARAM_BOOL 1
#define PARAM_INT 2
#define PARAM_STRING 4
#define PARAM_END (-1)

// Slots every node has (words 0-3). `self` is the object.
struct Node {
    uintptr_t classId;  // word 0: the object's class FourCC
    int (*enumParams)(void* self, int index, ParamInfo* out);
    int (*getParam)(void* self, int id, void* data, int size);
    int (*setParam)(void* self, int id, const void* data, int size);
};

// The class FourCC in word 0 of an object.
inline fourcc_t NodeClassId(const void* object) {
    return static_cast<fourcc_t>(static_cast<const Node*>(object)->classId);
}

// A receiver of texts: texts are delivered as node->setParam(node, param, text, size),
// where size is the byte size of the text buffer (capacity = size / sizeof(tchar)).
// Comment texts have the form "KEY=value".
struct CommentSink {
    void* node;
    int param;
};

// --- Registry (called by the plug-ins) ---

// Registers a class; keeps the pointer. The same record may be registered twice, and
// a create may register further classes. Result: 0.
int NodeRegisterClass(const NodeClassDef* def);
// Removes the most recent registration of the class: 0, or ERR_INVALID_PARAM when unknown.
int NodeUnRegisterClass(fourcc_t classId);
// Stores a text of a class: kind 1, ids NODE_NAME / NODE_CONTENTTYPE / NODE_EXTS.
int StringAdd(int kind, fourcc_t classId, int id, const tchar* text);
#define NODE_NAME 0          // display name
#define NODE_CONTENTTYPE 1   // content types, comma separated ("video/flv,video/x-flv")
#define NODE_EXTS 2          // extensions with kind letters ("flv:v")
// Fills `out` with row `index` of the table: 0, or ERR_INVALID_PARAM past the end.
int NodeEnumTable(int index, ParamInfo* out, const ParamInfo* table);

// --- Registry and objects (called by the host and by tests) ---

// The current record of a class, or null.
const NodeClassDef* NodeFindClass(fourcc_t classId);
// Whether `classId` is `ancestor` or derives from it.
bool NodeIsClass(fourcc_t classId, fourcc_t ancestor);
// The classes that derive from `ancestor` (not itself) and have a create of their own
// or an ancestor's below `ancestor`, highest priority first (ties: earlier registration
// first). Returns the count; writes at most `max` ids.
int NodeEnumClasses(fourcc_t ancestor, fourcc_t* out, int max);
// The classes registered now, one record each (the current one of a class registered more
// than once), in the order they were first registered. Returns the count; writes at most
// `max` records.
int NodeEnumRegistered(const NodeClassDef** out, int max);
// A text stored with StringAdd, or null.
const tchar* NodeString(fourcc_t classId, int id);

// Creates an object of the class: allocated at the class's size (the parent's when 0),
// zero but word 0, the base set-ups and creates run from the root class down. Null when
// the class is unknown, memory runs out or a create refuses (those that ran are undone).
void* NodeCreate(fourcc_t classId);
// Runs the destroys from the object's class up to the root, then frees it. Null is ignored.
void NodeDelete(void* object);
