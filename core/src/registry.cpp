// The class registry and object creation.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/testing.h"
#include "core/text.h"
#include "internal.h"
#include "overlaybase.h"

namespace {

struct ClassEntry {
    const NodeClassDef* def;
    long order;  // registration order, for ties in priority
};

struct TextEntry {
    fourcc_t classId;
    int id;
    std::wstring text;
};

// The registry lock is never held while a create or destroy runs, so a create may
// register classes itself. None of these is destroyed: a player thread may still use
// them while the process ends.
std::recursive_mutex& Lock() {
    static auto* m = new std::recursive_mutex;
    return *m;
}
std::vector<ClassEntry>& Classes() {
    static auto* v = new std::vector<ClassEntry>;
    return *v;
}
std::vector<TextEntry>& Texts() {
    static auto* v = new std::vector<TextEntry>;
    return *v;
}
std::vector<core::RegistryEvent>& Log() {
    static auto* v = new std::vector<core::RegistryEvent>;
    return *v;
}
long g_order = 0;

const NodeClassDef* FindLocked(fourcc_t id) {
    auto& v = Classes();
    for (auto it = v.rbegin(); it != v.rend(); ++it)
        if (it->def->classId == id) return it->def;
    return core::CoreClass(id);
}

// The chain of class records from the object's class up to the root, or empty when a
// class on the way is unknown.
std::vector<const NodeClassDef*> ChainLocked(fourcc_t id) {
    std::vector<const NodeClassDef*> chain;
    while (id != 0 && chain.size() < 32) {
        const NodeClassDef* def = FindLocked(id);
        if (!def) return {};
        chain.push_back(def);
        if (def->classId == NODE_CLASS) break;
        id = def->parentId;
    }
    return chain;
}

// Hidden header in front of every object, so destroy does not depend on word 0 (which
// tests and readers may look at, and a test double may overwrite).
struct ObjectHeader {
    fourcc_t classId;
    uint32_t size;
    alignas(std::max_align_t) unsigned char object[1];
};
constexpr size_t kHeader = offsetof(ObjectHeader, object);

ObjectHeader* HeaderOf(void* object) {
    return reinterpret_cast<ObjectHeader*>(static_cast<unsigned char*>(object) - kHeader);
}

}  // namespace

int NodeRegisterClass(const NodeClassDef* def) {
    if (!def) return ERR_INVALID_PARAM;
    std::lock_guard<std::recursive_mutex> g(Lock());
    Classes().push_back({def, g_order++});
    Log().push_back({core::RegistryEvent::Register, def->classId, 0, {}, def});
    return 0;
}

int NodeUnRegisterClass(fourcc_t classId) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    auto& v = Classes();
    int result = ERR_INVALID_PARAM;
    for (auto it = v.rbegin(); it != v.rend(); ++it) {
        if (it->def->classId == classId) {
            v.erase(std::next(it).base());
            result = 0;
            break;
        }
    }
    Log().push_back({core::RegistryEvent::UnRegister, classId, result, {}, nullptr});
    return result;
}

int StringAdd(int kind, fourcc_t classId, int id, const tchar* text) {
    std::wstring t = text ? text : L"";
    std::lock_guard<std::recursive_mutex> g(Lock());
    Log().push_back({core::RegistryEvent::String, classId, id, t, nullptr});
    if (kind != 1) return ERR_INVALID_PARAM;
    for (auto& e : Texts())
        if (e.classId == classId && e.id == id) {
            e.text = t;
            return 0;
        }
    Texts().push_back({classId, id, t});
    return 0;
}

int NodeEnumTable(int index, ParamInfo* out, const ParamInfo* table) {
    if (!table || index < 0) return ERR_INVALID_PARAM;
    for (int i = 0; i <= index; ++i)
        if (table[i].type == PARAM_END) return ERR_INVALID_PARAM;
    if (out) {
        std::memset(out, 0, sizeof(*out));
        out->id = table[index].id;
        out->type = table[index].type;
        out->flags = table[index].flags;
    }
    return 0;
}

const NodeClassDef* NodeFindClass(fourcc_t classId) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    return FindLocked(classId);
}

bool NodeIsClass(fourcc_t classId, fourcc_t ancestor) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    for (const NodeClassDef* def : ChainLocked(classId))
        if (def->classId == ancestor) return true;
    return false;
}

int NodeEnumClasses(fourcc_t ancestor, fourcc_t* out, int max) {
    std::vector<ClassEntry> found;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        for (const ClassEntry& e : Classes()) {
            if (e.def->classId == ancestor || FindLocked(e.def->classId) != e.def) continue;
            bool derives = false, creates = false;
            for (const NodeClassDef* def : ChainLocked(e.def->classId)) {
                if (def->classId == ancestor) {
                    derives = true;
                    break;
                }
                if (def->create) creates = true;
            }
            if (derives && creates) found.push_back(e);
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const ClassEntry& a, const ClassEntry& b) {
        if (a.def->priority != b.def->priority) return a.def->priority > b.def->priority;
        return a.order < b.order;
    });
    for (int i = 0; i < static_cast<int>(found.size()) && i < max; ++i) out[i] = found[i].def->classId;
    return static_cast<int>(found.size());
}

int NodeEnumRegistered(const NodeClassDef** out, int max) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    std::vector<fourcc_t> seen;
    int n = 0;
    for (const ClassEntry& e : Classes()) {
        fourcc_t id = e.def->classId;
        if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
        seen.push_back(id);
        if (out && n < max) out[n] = FindLocked(id);
        ++n;
    }
    return n;
}

const tchar* NodeString(fourcc_t classId, int id) {
    std::lock_guard<std::recursive_mutex> g(Lock());
    for (auto& e : Texts())
        if (e.classId == classId && e.id == id) return e.text.c_str();
    return nullptr;
}

void* NodeCreate(fourcc_t classId) {
    std::vector<const NodeClassDef*> chain;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        chain = ChainLocked(classId);
    }
    if (chain.empty()) return nullptr;
    // A record smaller than a base the core fills would be overrun: the largest size on
    // the chain wins (0 means the parent's).
    uint32_t size = 0;
    for (const NodeClassDef* def : chain) size = std::max(size, def->sizeAndFlags & NODE_SIZE_MASK);
    if (size < sizeof(Node)) size = sizeof(Node);
    auto* header = static_cast<ObjectHeader*>(std::calloc(1, kHeader + size));
    if (!header) return nullptr;
    header->classId = classId;
    header->size = size;
    void* object = header->object;
    static_cast<Node*>(object)->classId = classId;
    // Root first, so each create finds its parent's slots filled.
    for (size_t i = chain.size(); i-- > 0;) {
        const NodeClassDef* def = chain[i];
        if (!def->create) continue;
        if (def->create(object) < 0) {
            for (size_t j = i + 1; j < chain.size(); ++j)
                if (chain[j]->destroy) chain[j]->destroy(object);
            std::free(header);
            return nullptr;
        }
    }
    return object;
}

void NodeDelete(void* object) {
    if (!object) return;
    ObjectHeader* header = HeaderOf(object);
    std::vector<const NodeClassDef*> chain;
    {
        std::lock_guard<std::recursive_mutex> g(Lock());
        chain = ChainLocked(header->classId);
    }
    // An overlay still initialised releases its output before any destroy runs, while the
    // plug-in's state (device, surfaces) is whole.
    for (const NodeClassDef* def : chain)
        if (def->classId == OVERLAY_CLASS) core::OverlayRelease(object);
    for (const NodeClassDef* def : chain)
        if (def->destroy) def->destroy(object);
    std::free(header);
}

namespace core {

std::vector<RegistryEvent> RegistryLog() {
    std::lock_guard<std::recursive_mutex> g(Lock());
    return Log();
}

void ClearRegistryLog() {
    std::lock_guard<std::recursive_mutex> g(Lock());
    Log().clear();
}

std::string FourCCText(fourcc_t f) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((f >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

}  // namespace core
