// The AHI_ object: create and destroy, its parameters, the driver's start and end, the
// display mode, initOutput and doneOutput.
#include <cstdio>
#include <cstring>

#include "ahi.h"

namespace pixelway {
namespace {

const ParamInfo kParams[] = {
    {0x111, PARAM_BOOL, 0x582, 0, 0},  {0x110, PARAM_BOOL, 0x402, 0, 0},   {0x113, PARAM_BOOL, 0x402, 0, 0},
    {0x114, PARAM_BOOL, 0x402, 0, 0},  {0x115, PARAM_BOOL, 0x402, 0, 0},   {0x116, PARAM_BOOL, 0x402, 0, 0},
    {0x100, PARAM_STRING, 0x8003, 0, 0}, {0x101, PARAM_STRING, 3, 0, 0},   {0x102, PARAM_INT, 3, 0, 0},
    {0x103, PARAM_INT, 0x803, 0, 0},   {0x104, PARAM_INT, 3, 0, 0},        {0x105, PARAM_INT, 3, 0, 0},
    {0x106, PARAM_INT, 3, 0, 0},       {0x10E, PARAM_INT, 3, 0, 0},        {0x107, PARAM_INT, 3, 0, 0},
    {0x10F, PARAM_INT, 3, 0, 0},       {0x108, PARAM_INT, 0x803, 0, 0},    {0x109, PARAM_INT, 0x803, 0, 0},
    {0x10A, PARAM_INT, 0x803, 0, 0},   {0x10B, PARAM_INT, 0x803, 0, 0},    {0x10C, PARAM_INT, 0x803, 0, 0},
    {static_cast<int>(AHI_CLASS), PARAM_END, 0, 0, 0},
};

const tchar kDriverFile[] = L"ACE_DDI.DLL";
const tchar kGdiKey[] = L"System\\GDI\\Drivers\\ATI";
const tchar kGdiValue[] = L"DisableDeviceBitmap";
const char kClientVersion[] = "1.29.031201.07700";

constexpr int kMaxDevices = 16;

// "major.minor" of a version text; false when it does not read so.
bool Version(const char* text, int* major, int* minor) {
    char buf[81];
    std::memcpy(buf, text, 80);
    buf[80] = 0;
    return std::sscanf(buf, "%d.%d", major, minor) == 2;
}

bool OlderThan(const char* text, int minor) {
    int major, m;
    if (!Version(text, &major, &m)) return false;
    return major < 1 || (major == 1 && m < minor);
}

bool LookUp(Ahi* a) {
    struct Entry {
        void* slot;
        const char* name;
        int optional;
    };
    Driver& d = a->drv;
    const Entry entries[] = {
        {&d.AhiInit, "AhiInit", 0},
        {&d.AhiTerm, "AhiTerm", 0},
        {&d.AhiDevEnum, "AhiDevEnum", 0},
        {&d.AhiDevOpen, "AhiDevOpen", 0},
        {&d.AhiDevClose, "AhiDevClose", 0},
        {&d.AhiDevClientVersion, "AhiDevClientVersion", 0},
        {&d.AhiDispModeGet, "AhiDispModeGet", 0},
        {&d.AhiDispModeEnum, "AhiDispModeEnum", 0},
        {&d.AhiDispSurfGet, "AhiDispSurfGet", 0},
        {&d.AhiSurfGetLargestFreeBlockSize, "AhiSurfGetLargestFreeBlockSize", 1},
        {&d.AhiSurfAlloc, "AhiSurfAlloc", 0},
        {&d.AhiSurfReuse, "AhiSurfReuse", 0},
        {&d.AhiSurfFree, "AhiSurfFree", 0},
        {&d.AhiSurfLock, "AhiSurfLock", 0},
        {&d.AhiSurfUnlock, "AhiSurfUnlock", 0},
        {&d.AhiSurfInfo, "AhiSurfInfo", 0},
        {&d.AhiSurfPlaneInfo, "AhiSurfPlaneInfo", 0},
        {&d.AhiDrawRopSet, "AhiDrawRopSet", 0},
        {&d.AhiDrawSurfSrcSet, "AhiDrawSurfSrcSet", 0},
        {&d.AhiDrawSurfDstSet, "AhiDrawSurfDstSet", 0},
        {&d.AhiDrawIdle, "AhiDrawIdle", 0},
        {&d.AhiDispWaitVBlank, "AhiDispWaitVBlank", 0},
        {&d.AhiDrawBitBlt, "AhiDrawBitBlt", 0},
        {&d.AhiDrawStretchBlt, "AhiDrawStretchBlt", 0},
        {&d.AhiDrawRotateBlt, "AhiDrawRotateBlt", 0},
        {&d.AhiDispOverlayCaps, "AhiDispOverlayCaps", 0},
        {&d.AhiDispOverlayState, "AhiDispOverlayState", 0},
        {&d.AhiDispOverlayPos, "AhiDispOverlayPos", 0},
        {&d.AhiDispOverlaySurf, "AhiDispOverlaySurf", 0},
        {&d.AhiIDCTOpen, "AhiIDCTOpen", 0},
        {&d.AhiIDCTClose, "AhiIDCTClose", 0},
        {&d.AhiIDCTPropGet, "AhiIDCTPropGet", 0},
        {&d.AhiIDCTPropSet, "AhiIDCTPropSet", 0},
        {&d.AhiIDCTFrameStart, "AhiIDCTFrameStart", 0},
        {&d.AhiIDCTFrameEnd, "AhiIDCTFrameEnd", 0},
        {&d.AhiIDCTMComp8x8, "AhiIDCTMComp8x8", 0},
        {&d.AhiIDCTMComp, "AhiIDCTMComp", 0},
        {&d.AhiIDCT8x8, "AhiIDCT8x8", 0},
    };
    a->module = LoadModule(kDriverFile);
    for (const Entry& e : entries) GetProc(&a->module, e.slot, e.name, e.optional);
    return a->module != nullptr;
}

// Looks for the driver's own power routine around AhiInit: a "mov r6, #0x6000" followed
// within seven words by "orr r6, r6, #2", whose routine starts at the nearest register-save
// entry within fifteen words before. Taken only when exactly one routine matches.
void ScanDriverCode(Ahi* a) {
    a->found = nullptr;
    uint8_t* start = nullptr;
    uint8_t* end = nullptr;
    if (CodeFindPages(reinterpret_cast<const void*>(a->drv.AhiInit), &start, &end, 0) != 0 || !start || end <= start)
        return;
    const auto* w = reinterpret_cast<const uint32_t*>(start);
    size_t n = static_cast<size_t>(end - start) / 4;
    if (n <= 8) return;
    n -= 8;
    const uint32_t* chosen = nullptr;
    bool ambiguous = false;
    for (size_t i = 0; i < n && !ambiguous; ++i) {
        if (w[i] != 0xE3A06A06u) continue;
        bool marker = false;
        for (size_t j = 1; j <= 7; ++j) marker = marker || w[i + j] == 0xE3866002u;
        if (!marker) continue;
        const uint32_t* entry = nullptr;
        for (size_t k = 1; k <= 15 && k <= i && !entry; ++k)
            if ((w[i - k] & 0xFFFF0000u) == 0xE92D0000u) entry = &w[i - k];
        if (!entry || entry == chosen) continue;
        if (chosen) ambiguous = true;
        else chosen = entry;
    }
    if (!ambiguous && chosen) a->found = reinterpret_cast<void (*)()>(const_cast<uint32_t*>(chosen));
}

// AhiDevEnum from index 0 until a device answers; false when there is none (a 5, or 16
// indexes that answered something else). With skipOlderThan > 0 a device whose version
// reads as older than 1.skipOlderThan is passed over.
bool FindDevice(Ahi* a, AhiHandle* device, int skipOlderThan) {
    for (int index = 0; index < kMaxDevices; ++index) {
        int r = a->drv.AhiDevEnum(device, &a->device, index);
        if (r == AHI_NO_MORE_DEVICES) return false;
        if (r != 0) continue;
        if (skipOlderThan && OlderThan(a->device.version, skipOlderThan)) continue;
        return true;
    }
    return false;
}

struct OpenCall {
    Ahi* a;
    AhiHandle device;
};

int OpenDevice(void* arg) {
    auto* o = static_cast<OpenCall*>(arg);
    return o->a->drv.AhiDevOpen(&o->a->context, o->device, "QUELM", 2);
}

// AhiDevOpen under a guard: a fault in the driver counts as a failed open.
bool Open(Ahi* a, AhiHandle device) {
    OpenCall call{a, device};
    a->context = nullptr;
    if (CallGuarded(OpenDevice, &call, -1) != 0 || !a->context) {
        a->context = nullptr;
        return false;
    }
    return true;
}

int OrientationHook(void* object) {
    auto* a = static_cast<Ahi*>(object);
    if (a->context) return a->base.screen.direction;
    bool initialised = true;
    if (a->termPending) a->termPending = false;
    else initialised = a->drv.AhiInit(0) == 0;
    a->base.screen.direction = -1;
    if (!initialised) return -1;
    AhiHandle device = 0;
    if (FindDevice(a, &device, 24) && Open(a, device)) {
        a->drv.AhiDevClientVersion(a->context, kClientVersion);
        ReadDisplayMode(a);
        a->drv.AhiDevClose(a->context);
        a->context = nullptr;
    }
    Terminate(a);
    return a->base.screen.direction;
}

void PixelFormatOf(int code, PixelFormat* p) {
    *p = PixelFormat{};
    switch (code) {
        case 1:
        case 2:
        case 12:
            p->flags = PF_PALETTE;
            p->bitCount = 2;
            break;
        case 3: DefaultRGB(p, 16, 4, 4, 4, 0, 0, 0); break;
        case 4: DefaultRGB(p, 16, 5, 5, 5, 0, 0, 0); break;
        case 5: DefaultRGB(p, 16, 5, 6, 5, 0, 0, 0); break;
        case 6: *p = PixelFormat{PF_FOURCC, FOURCC('Y', 'U', 'Y', 'V'), 16, {}}; break;
        case 7: *p = PixelFormat{PF_FOURCC, FOURCC('Y', 'V', 'Y', 'U'), 16, {}}; break;
        case 8: *p = PixelFormat{PF_FOURCC | PF_PLANAR, FOURCC('Y', 'V', '1', '6'), 8, {}}; break;
        case 9: *p = PixelFormat{PF_FOURCC | PF_PLANAR, FOURCC('I', '4', '2', '0'), 8, {}}; break;
        case 10: *p = PixelFormat{PF_FOURCC, FOURCC('U', 'Y', 'V', 'Y'), 16, {}}; break;
        case 11: *p = PixelFormat{PF_FOURCC, FOURCC('V', 'Y', 'U', 'Y'), 16, {}}; break;
        default: break;
    }
}

int GetOwn(Ahi* a, int id, void* data, int size, bool* handled) {
    *handled = true;
    auto putInt = [&](int32_t v) {
        if (!data || size < 4) return ERR_INVALID_PARAM;
        std::memcpy(data, &v, 4);
        return 0;
    };
    auto putText = [&](const char* text) {
        if (!data || size < static_cast<int>(sizeof(tchar))) return ERR_INVALID_PARAM;
        char buf[81];
        std::memcpy(buf, text, 80);
        buf[80] = 0;
        StrToTcs(static_cast<tchar*>(data), static_cast<size_t>(size) / sizeof(tchar), buf);
        return 0;
    };
    auto freeBlock = [&](int kind) {
        uint32_t bytes = 0;
        if (a->context && a->drv.AhiSurfGetLargestFreeBlockSize &&
            a->drv.AhiSurfGetLargestFreeBlockSize(a->context, kind, &bytes) != 0)
            bytes = 0;
        return putInt(static_cast<int32_t>(static_cast<uint64_t>(bytes) * 3 / 2));
    };
    switch (id) {
        case 0x111: {
            uint32_t v = 0;
            if (RegistryReadDword(HKEY_LOCAL_MACHINE, kGdiKey, kGdiValue, &v) != 0) v = 0;
            return putInt(v != 0);
        }
        case 0x110: return putInt(a->opt110);
        case 0x113: return putInt(a->opt113);
        case 0x114: return putInt(a->opt114);
        case 0x115: return putInt(a->opt115);
        case 0x116: return putInt(a->holdDriver);
        case 0x100: return putText(a->device.name);
        case 0x101: return putText(a->device.version);
        case 0x102: return putInt(static_cast<int32_t>(a->device.word[0]));
        case 0x103: return putInt(static_cast<int32_t>(a->device.word[1]));
        case 0x104: return putInt(static_cast<int32_t>(a->device.word[2]));
        case 0x105: return putInt(static_cast<int32_t>(a->device.word[3]));
        case 0x106: return putInt(static_cast<int32_t>(a->device.word[5]));
        case 0x107: return putInt(static_cast<int32_t>(a->device.word[6]));
        case 0x108:
        case 0x109:
        case 0x10A:
        case 0x10B: return putInt(static_cast<int32_t>(a->device.word[id - 0x108 + 7]));
        case 0x10E: return freeBlock(AHI_MEM_INTERNAL);
        case 0x10F: return freeBlock(AHI_MEM_EXTERNAL);
        case 0x10C: {
            // An address: pointer-sized.
            if (!data || size < static_cast<int>(sizeof(uintptr_t))) return ERR_INVALID_PARAM;
            uintptr_t v = reinterpret_cast<uintptr_t>(a->found);
            std::memcpy(data, &v, sizeof(v));
            return 0;
        }
        default: *handled = false; return ERR_INVALID_PARAM;
    }
}

int Enum(void* self, int index, ParamInfo* out) {
    if (OverlayEnum(self, index, out) == 0) return 0;
    if (index < OVERLAY_PARAM_COUNT) return ERR_INVALID_PARAM;
    return NodeEnumTable(index - OVERLAY_PARAM_COUNT, out, kParams);
}

int Get(void* self, int id, void* data, int size) {
    auto* a = static_cast<Ahi*>(self);
    int r = OverlayGet(self, id, data, size);
    bool handled;
    int own = GetOwn(a, id, data, size, &handled);
    return handled ? own : r;
}

int Set(void* self, int id, const void* data, int size) {
    auto* a = static_cast<Ahi*>(self);
    if (id == OVERLAY_OUTPUT) {
        // Only the face's output format turns IDCT mode on.
        a->idctMode = a->faceSetting;
        a->faceSetting = false;
    }
    int r = OverlaySet(self, id, data, size);
    if (id == OVERLAY_RELEASE) return Done(self);
    int v = 0;
    bool isBool = data && size == 4;
    if (isBool) std::memcpy(&v, data, 4);
    switch (id) {
        case 0x111:
            if (!isBool) return ERR_INVALID_PARAM;
            return RegistryWriteDword(HKEY_LOCAL_MACHINE, kGdiKey, kGdiValue, static_cast<uint32_t>(v));
        case 0x110:
            if (!isBool) return ERR_INVALID_PARAM;
            a->opt110 = v != 0;
            ChooseRoutines(a);
            return 0;
        case 0x113:
        case 0x114:
        case 0x115:
            if (!isBool) return ERR_INVALID_PARAM;
            (id == 0x113 ? a->opt113 : id == 0x114 ? a->opt114 : a->opt115) = v != 0;
            return 0;
        case 0x116:
            if (!isBool) return ERR_INVALID_PARAM;
            a->holdDriver = v != 0;
            if (!a->holdDriver && a->termPending && !a->context) {
                a->termPending = false;
                Terminate(a);
            }
            return 0;
        default: return r;
    }
}

int RefreshDisplayMode(void* self) {
    auto* a = static_cast<Ahi*>(self);
    return a->context ? ReadDisplayMode(a) : 0;
}

// The failures of initOutput after the driver was started.
int Fail(Ahi* a, int result, bool close) {
    if (close && a->context) {
        a->drv.AhiDevClose(a->context);
        a->context = nullptr;
    }
    Terminate(a);
    return result;
}

int Init(void* self) {
    auto* a = static_cast<Ahi*>(self);
    Overlay& b = a->base;
    for (SurfEntry& e : a->table) e = SurfEntry{0, 0, 0, -1, 0, 0};
    a->pos = AhiOverlayPos{};
    a->shownSurface = 0;
    a->context = nullptr;
    if (a->termPending) a->termPending = false;
    else if (a->drv.AhiInit(0) != 0) return ERR_DEVICE_ERROR;

    a->blitFx = b.fx;
    a->blitFx.scaleX = a->blitFx.scaleY = 0x10000;
    a->blitFx.direction = 0;
    const VideoFormat& video = b.format.format;
    // The decoder's picture size; the video's until the face has been told one.
    int w = a->idctMode && a->face.width > 0 ? a->face.width : video.width;
    int h = a->idctMode && a->face.height > 0 ? a->face.height : video.height;
    if (w <= 0 || h <= 0 || w > 2048 || h > 2048) return Fail(a, ERR_NOT_SUPPORTED, false);
    a->surf = VideoFormat{};
    a->surf.direction = a->idctMode ? 0 : video.direction;
    a->surf.aspect = 0x10000;
    a->surf.width = (w + 15) & ~15;
    a->surf.height = (h + 15) & ~15;
    if (a->idctMode && !PlanarYUV420(&video.pixel)) return Fail(a, ERR_NOT_SUPPORTED, false);

    a->wanted = FRAME_BUFFERS;
    a->allocated = 0;
    a->inUse = 0;
    a->showNext = 0;
    a->onScreen = 0;
    a->shownBefore = -1;
    a->heldBack = -1;
    a->flipNext = false;
    a->reuse = false;
    a->scaling = a->stretch = a->shrink = a->secondMode = false;
    a->coversScreen = false;
    a->intermediates = 0;
    a->shown512 = false;
    a->pictures = false;
    a->switchedOn = false;
    a->rgbWidth = a->rgbHeight = 0;
    a->rgbHalf = 0;
    WaitDisable(0);

    AhiHandle device = 0;
    if (!FindDevice(a, &device, 0)) return Fail(a, ERR_DEVICE_ERROR, false);
    if (OlderThan(a->device.version, a->idctMode ? 27 : 24)) {
        tchar text[81];
        char buf[81];
        std::memcpy(buf, a->device.version, 80);
        buf[80] = 0;
        StrToTcs(text, 81, buf);
        ShowError(AHI_CLASS, AHI_CLASS, 514, text);
        return Fail(a, ERR_NOT_SUPPORTED, false);
    }
    if (!Open(a, device)) {
        ShowError(AHI_CLASS, AHI_CLASS, 513);
        return Fail(a, ERR_NOT_SUPPORTED, false);
    }
    a->drv.AhiDevClientVersion(a->context, kClientVersion);
    a->drv.AhiDrawRopSet(a->context, AHI_ROP_SRCCOPY);
    a->drv.AhiDispOverlayState(a->context, 0, 0);
    a->display = 0;
    a->drv.AhiDispSurfGet(a->context, &a->display);
    ReadDisplayMode(a);

    a->yuvPath = a->device.word[6] > 0 && PlanarYUV(&video.pixel);
    if (a->yuvPath) {
        a->surfKind = AHI_FMT_YUV420;
        a->surf.pixel = PixelFormat{PF_FOURCC | PF_PLANAR, FOURCC('I', '4', '2', '0'), 8, {}};
        a->xShift = a->yShift = 1;
        a->planes[0] = AHI_PLANE_Y;
        a->planes[1] = AHI_PLANE_U;
        a->planes[2] = AHI_PLANE_V;
        b.blitFrame = BlitYuv;
        b.updateOutput = UpdateYuv;
        b.showOverlay = ShowOverlay;
        b.overlay = 1;
    } else {
        if (a->idctMode) return Fail(a, ERR_DEVICE_ERROR, true);
        a->surfKind = AHI_FMT_RGB565;
        DefaultRGB(&a->surf.pixel, 16, 5, 6, 5, 0, 0, 0);
        a->xShift = a->yShift = 0;
        a->planes[0] = a->planes[1] = a->planes[2] = 0;
        b.blitFrame = BlitRgb;
        b.updateOutput = UpdateRgb;
        b.showOverlay = nullptr;
        b.overlay = 0;
    }
    a->surf.pitch = DefaultPitch(&a->surf);
    a->rotated = a->yuvPath && (a->mode.orientation == 1 || a->mode.orientation == 3);

    if (a->idctMode) {
        AhiIdctOpenRec record{sizeof(AhiIdctOpenRec), 0, 0, 0, {}};
        a->face.idct = 0;
        a->drv.AhiIDCTOpen(a->context, &a->face.idct, 0, &record);
        if (!a->face.idct) {
            ShowError(AHI_CLASS, AHI_CLASS, 513);
            return Fail(a, ERR_NOT_SUPPORTED, true);
        }
        ChooseRoutines(a);
        a->face.property3 = 1;
        a->drv.AhiIDCTPropSet(a->face.idct, 3, &a->face.property3, 4);
        a->face.sequenceProperty = a->face.sequence;
        a->drv.AhiIDCTPropSet(a->face.idct, 2, &a->face.sequenceProperty, 4);
    }
    return 0;
}

}  // namespace

// Ends a use of the driver, or keeps it initialised while option 0x116 holds it.
void Terminate(Ahi* a) {
    if (a->holdDriver) {
        a->termPending = true;
        return;
    }
    a->termPending = false;
    a->drv.AhiTerm();
    if (a->found) a->found();
}

int ReadDisplayMode(Ahi* a) {
    AhiDispMode m{};
    if (a->drv.AhiDispModeGet(a->context, &m) != 0) return ERR_DEVICE_ERROR;
    a->mode = m;
    VideoFormat& s = a->base.screen;
    s.width = m.width;
    s.height = m.height;
    s.aspect = 0x10000;
    int dir = 0;
    if (m.orientation == 1 || m.orientation == 3) dir |= DIR_SWAPXY;
    if (m.orientation == 1) dir ^= DIR_MIRRORX;
    if (m.orientation == 2) dir ^= DIR_MIRRORX | DIR_MIRRORY;
    if (m.orientation == 3) dir ^= DIR_MIRRORY;
    if (m.mirror & 2) dir ^= DIR_MIRRORX;
    if (m.mirror & 1) dir ^= DIR_MIRRORY;
    s.direction = dir;
    PixelFormatOf(m.format, &s.pixel);
    FillInfo(&s.pixel);
    AdjustOrientation(&s, 0);
    return 0;
}

int Done(void* self) {
    auto* a = static_cast<Ahi*>(self);
    if (!a->context) return 0;
    FaceClose(a);
    // The overlay goes off before its surfaces are given back.
    RegisterSwitch(a, false);
    a->drv.AhiDispOverlayState(a->context, 0, 0);
    a->shownSurface = 0;
    FreeAll(a);
    a->wanted = 1;
    a->allocated = a->inUse = 0;
    if (a->base.blitter) {
        BlitRelease(a->base.blitter);
        a->base.blitter = nullptr;
    }
    a->drv.AhiDevClose(a->context);
    a->context = nullptr;
    a->base.initialised = 0;
    Terminate(a);
    return 0;
}

int OverlayCreate(void* self) {
    auto* a = static_cast<Ahi*>(self);
    Overlay& b = a->base;
    b.node.enumParams = Enum;
    b.node.getParam = Get;
    b.node.setParam = Set;
    b.initOutput = Init;
    b.doneOutput = Done;
    b.refreshDisplayMode = RefreshDisplayMode;
    FaceSetUp(a);
    a->opt113 = a->opt114 = a->opt115 = true;
    a->opt110 = false;
    a->holdDriver = false;
    a->heldBack = -1;
    for (SurfEntry& e : a->table) e.frame = -1;

    if (!LookUp(a)) return ERR_NOT_SUPPORTED;
    ScanDriverCode(a);
    std::memset(&a->device, 0, sizeof(a->device));
    bool started = true;
    if (a->termPending) a->termPending = false;
    else started = a->drv.AhiInit(0) == 0;
    if (started) {
        AhiHandle device = 0;
        if (FindDevice(a, &device, 0)) {
            if (a->device.word[1] == AHI_DEVICE_3200) a->opt110 = true;
            int major, minor;
            bool readable = Version(a->device.version, &major, &minor);
            if (a->device.word[6] > 0 && (!readable || major > 1 || (major == 1 && minor >= 27))) {
                b.idctFace = &a->face.base;
                // One registration serves every object.
                if (NodeFindClass(AHII_CLASS) != &kFaceClass) NodeRegisterClass(&kFaceClass);
            }
        }
        a->termPending = true;
    }
    b.available = 1;
    CoreContext* c = Context();
    c->orientationHook = OrientationHook;
    c->orientationHookObject = a;
    return 0;
}

void OverlayDestroy(void* self) {
    auto* a = static_cast<Ahi*>(self);
    FaceDestroy(a);
    CoreContext* c = Context();
    if (c->orientationHookObject == a) {
        c->orientationHook = nullptr;
        c->orientationHookObject = nullptr;
    }
    // The output is released by the core before destroy; what is left is the driver.
    if (a->termPending) {
        a->termPending = false;
        a->drv.AhiTerm();
        if (a->found) a->found();
    }
}

}  // namespace pixelway
