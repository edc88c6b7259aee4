// The overlay base (OVLA) and the IDCT face base (IDCT).
#include <cstring>
#include <map>
#include <mutex>

#include "core/overlay.h"
#include "overlaybase.h"

namespace {

struct BaseParam {
    int id;
    int type;
    int size;  // byte size of the value (0: format, either form)
};

const BaseParam kOverlayParams[OVERLAY_PARAM_COUNT] = {
    {OVERLAY_OUTPUT, 0, 0},
    {OVERLAY_VISIBLE, PARAM_BOOL, sizeof(int)},
    {OVERLAY_FULLSCREEN, PARAM_BOOL, sizeof(int)},
    {OVERLAY_VIEWPORT, 0, sizeof(VRect)},
    {OVERLAY_EFFECTS, 0, sizeof(VideoEffects)},
    {OVERLAY_COLORKEY, PARAM_INT, sizeof(uint32_t)},
    {OVERLAY_REPEAT, PARAM_BOOL, sizeof(int)},
    {OVERLAY_FULLYVISIBLE, PARAM_BOOL, sizeof(int)},
    {OVERLAY_DROPPED, PARAM_INT, sizeof(int)},
    {OVERLAY_SHOWN, PARAM_INT, sizeof(int)},
};

void* Field(Overlay* o, int id) {
    switch (id) {
        case OVERLAY_VISIBLE: return &o->visible;
        case OVERLAY_FULLSCREEN: return &o->fullScreen;
        case OVERLAY_VIEWPORT: return &o->viewport;
        case OVERLAY_EFFECTS: return &o->fx;
        case OVERLAY_COLORKEY: return &o->colorKey;
        case OVERLAY_REPEAT: return &o->repeat;
        case OVERLAY_FULLYVISIBLE: return &o->fullyVisible;
        case OVERLAY_DROPPED: return &o->droppedFrames;
        case OVERLAY_SHOWN: return &o->shownFrames;
        default: return nullptr;
    }
}

int ParamSize(int id) {
    for (const auto& p : kOverlayParams)
        if (p.id == id) return p.size;
    return -1;
}

bool ReadOnly(int id) { return id == OVERLAY_COLORKEY || id == OVERLAY_DROPPED || id == OVERLAY_SHOWN; }

int RunDone(Overlay* o) {
    int r = 0;
    if (o->initialised && o->doneOutput) r = o->doneOutput(o);
    o->initialised = 0;
    return r;
}

int OverlayBaseEnum(void* self, int index, ParamInfo* out) { return OverlayEnum(self, index, out); }
int OverlayBaseGet(void* self, int id, void* data, int size) { return OverlayGet(self, id, data, size); }
int OverlayBaseSet(void* self, int id, const void* data, int size) { return OverlaySet(self, id, data, size); }

// --- IDCT ---

const ParamInfo kIdctParams[IDCT_PARAM_COUNT] = {
    {IDCT_MODE, PARAM_BOOL, 0, 0, 0},   {IDCT_FORMAT, PARAM_INT, 0, 0, 0}, {IDCT_OWNER_INFO, PARAM_INT, 0, 0, 0},
    {IDCT_COUNT, PARAM_INT, 0, 0, 0},   {IDCT_SHOW, PARAM_INT, 0, 0, 0},   {IDCT_WIDTH, PARAM_INT, 0, 0, 0},
    {IDCT_HEIGHT, PARAM_INT, 0, 0, 0},  {IDCT_BACKUP, PARAM_INT, 0, 0, 0},
};

int IdctBaseEnum(void* self, int index, ParamInfo* out) { return IDCTEnum(self, index, out); }
int IdctBaseGet(void*, int, void*, int) { return ERR_INVALID_PARAM; }
int IdctBaseSet(void*, int, const void*, int) { return ERR_INVALID_PARAM; }

// Saved pictures by handle.
struct SavedPicture {
    VideoFormat format;
    void* planes[3];
};

struct Pictures {
    std::mutex lock;
    std::map<int, SavedPicture> byHandle;
    int next = 1;
};

Pictures& SavedPictures() {
    static Pictures p;
    return p;
}

int Keep(const SavedPicture& p) {
    auto& s = SavedPictures();
    std::lock_guard<std::mutex> g(s.lock);
    int h = s.next++;
    if (s.next <= 0) s.next = 1;
    s.byHandle[h] = p;
    return h;
}

bool Take(int handle, SavedPicture* out) {
    auto& s = SavedPictures();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.byHandle.find(handle);
    if (it == s.byHandle.end()) return false;
    *out = it->second;
    s.byHandle.erase(it);
    return true;
}

int GetInt(IdctFace* f, int id, int32_t* v) { return f->getParam ? f->getParam(f, id, v, sizeof(*v)) : ERR_INVALID_PARAM; }
int SetInt(IdctFace* f, int id, int32_t v) { return f->setParam ? f->setParam(f, id, &v, sizeof(v)) : ERR_INVALID_PARAM; }

void FreeSaved(const IdctBackupRecord* r) {
    for (int i = 0; i < IDCT_BACKUP_BUFFERS; ++i) {
        SavedPicture p;
        if (r->picture[i] && Take(r->picture[i], &p)) SurfaceFree(p.planes);
    }
}

}  // namespace

int OverlayEnum(void*, int index, ParamInfo* out) {
    if (index < 0 || index >= OVERLAY_PARAM_COUNT || !out) return ERR_INVALID_PARAM;
    *out = ParamInfo{kOverlayParams[index].id, kOverlayParams[index].type, 0, 0, 0};
    return 0;
}

int OverlayGet(void* object, int id, void* data, int size) {
    auto* o = static_cast<Overlay*>(object);
    if (!o || !data) return ERR_INVALID_PARAM;
    if (id == OVERLAY_OUTPUT) {
        if (size >= static_cast<int>(sizeof(VideoFormatEx))) {
            memcpy(data, &o->format, sizeof(VideoFormatEx));
            return 0;
        }
        if (size >= static_cast<int>(sizeof(VideoFormat))) {
            memcpy(data, &o->format.format, sizeof(VideoFormat));
            return 0;
        }
        return ERR_INVALID_PARAM;
    }
    void* field = Field(o, id);
    int n = ParamSize(id);
    if (!field || size < n) return ERR_INVALID_PARAM;
    memcpy(data, field, static_cast<size_t>(n));
    return 0;
}

int OverlaySet(void* object, int id, const void* data, int size) {
    auto* o = static_cast<Overlay*>(object);
    if (!o) return ERR_INVALID_PARAM;
    if (id == OVERLAY_OUTPUT) {
        if (!data || size == 0) {
            RunDone(o);
            o->format = VideoFormatEx{};
            return 0;
        }
        if (size != static_cast<int>(sizeof(VideoFormat)) && size != static_cast<int>(sizeof(VideoFormatEx)))
            return ERR_INVALID_PARAM;
        VideoFormatEx f{};
        memcpy(&f, data, static_cast<size_t>(size));
        RunDone(o);
        o->format = f;
        int r = o->initOutput ? o->initOutput(o) : ERR_NOT_SUPPORTED;
        o->initialised = r == 0;
        return r;
    }
    if (id == OVERLAY_RELEASE) {
        // The plug-in's setParam runs doneOutput after this.
        o->initialised = 0;
        return 0;
    }
    void* field = Field(o, id);
    int n = ParamSize(id);
    if (!field || ReadOnly(id)) return ERR_INVALID_PARAM;
    if (!data || size != n) return ERR_INVALID_PARAM;
    memcpy(field, data, static_cast<size_t>(n));
    if (o->initialised && o->updateOutput) return o->updateOutput(o);
    return 0;
}

void OverlayUpdateFX(void* object, int flagMask, int value) {
    auto* o = static_cast<Overlay*>(object);
    if (!o) return;
    o->fx.flags = value ? (o->fx.flags | flagMask) : (o->fx.flags & ~flagMask);
    o->fx.scaleX = o->fx.scaleY = 0x10000;
    if (o->initialised && o->updateOutput) o->updateOutput(o);
}

void OverlayUpdateShow(void* object, int) {
    auto* o = static_cast<Overlay*>(object);
    if (!o) return;
    o->shown = o->visible && o->initialised;
    o->keyShown = o->shown && o->colorKey != COLORKEY_NONE;
}

int IDCTEnum(void*, int index, ParamInfo* out) {
    if (index < 0 || index >= IDCT_PARAM_COUNT || !out) return ERR_INVALID_PARAM;
    *out = kIdctParams[index];
    return 0;
}

int IDCTBackup(void* face, IdctBackupRecord* r) {
    auto* f = static_cast<IdctFace*>(face);
    if (!f || !r || !f->getParam) return ERR_INVALID_PARAM;
    *r = IdctBackupRecord{};
    int e = f->getParam(f, IDCT_FORMAT, &r->format, sizeof(r->format));
    if (e == 0) e = GetInt(f, IDCT_WIDTH, &r->width);
    if (e == 0) e = GetInt(f, IDCT_HEIGHT, &r->height);
    if (e == 0) e = GetInt(f, IDCT_COUNT, &r->count);
    if (e == 0) e = GetInt(f, IDCT_SHOW, &r->showIndex);
    if (e != 0) return e;
    if (r->count < 0 || r->count > IDCT_BACKUP_BUFFERS) return ERR_NOT_SUPPORTED;
    for (int i = 0; i < r->count && e == 0; ++i) {
        e = GetInt(f, IDCT_FRAME_NUMBER + i, &r->frameNumber[i]);
        if (e != 0 || !f->lockBuffer || !f->unlockBuffer) break;
        SavedPicture p{};
        void* planes[3] = {};
        int brightness = 0;
        if (f->lockBuffer(f, i, planes, &brightness, &p.format) != 0) continue;  // no picture to keep
        e = SurfaceAlloc(p.planes, &p.format);
        if (e == 0) {
            SurfaceCopy(&p.format, &p.format, planes, p.planes, nullptr);
            r->picture[i] = Keep(p);
        }
        f->unlockBuffer(f, i);
    }
    if (e != 0) {
        FreeSaved(r);
        *r = IdctBackupRecord{};
    }
    return e;
}

int IDCTRestore(void* face, const IdctBackupRecord* r) {
    auto* f = static_cast<IdctFace*>(face);
    if (!f || !r || !f->setParam) return ERR_INVALID_PARAM;
    int e = f->setParam(f, IDCT_FORMAT, &r->format, sizeof(r->format));
    if (e == 0) e = SetInt(f, IDCT_WIDTH, r->width);
    if (e == 0) e = SetInt(f, IDCT_HEIGHT, r->height);
    if (e == 0) e = SetInt(f, IDCT_COUNT, r->count);
    int count = r->count < 0 ? 0 : r->count > IDCT_BACKUP_BUFFERS ? IDCT_BACKUP_BUFFERS : r->count;
    for (int i = 0; i < count && e == 0; ++i) {
        e = SetInt(f, IDCT_FRAME_NUMBER + i, r->frameNumber[i]);
        SavedPicture p;
        if (e != 0 || !r->picture[i] || !Take(r->picture[i], &p)) continue;
        void* planes[3] = {};
        int brightness = 0;
        VideoFormat bufFormat{};
        if (f->lockBuffer && f->unlockBuffer && f->lockBuffer(f, i, planes, &brightness, &bufFormat) == 0) {
            SurfaceCopy(&p.format, &bufFormat, p.planes, planes, nullptr);
            f->unlockBuffer(f, i);
        }
        SurfaceFree(p.planes);
    }
    if (e == 0) e = SetInt(f, IDCT_SHOW, r->showIndex);
    FreeSaved(r);  // whatever a failure left unused
    return e;
}

namespace core {

int OverlaySetUp(void* object) {
    auto* o = static_cast<Overlay*>(object);
    o->node.enumParams = OverlayBaseEnum;
    o->node.getParam = OverlayBaseGet;
    o->node.setParam = OverlayBaseSet;
    o->fx.scaleX = o->fx.scaleY = 0x10000;
    o->colorKey = COLORKEY_NONE;
    o->lastShownTime = -1;
    o->lastCurrentTime = -1;
    return 0;
}

void OverlayRelease(void* object) { RunDone(static_cast<Overlay*>(object)); }

int IdctSetUp(void* object) {
    auto* f = static_cast<IdctFace*>(object);
    f->enumParams = IdctBaseEnum;
    f->getParam = IdctBaseGet;
    f->setParam = IdctBaseSet;
    return 0;
}

}  // namespace core
