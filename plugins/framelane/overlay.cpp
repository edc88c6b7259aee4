// The 2700G overlay output (class 270G): the driver's start, the frames in video memory,
// the overlay's attributes and colour conversion, the display query and frame timing.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/win.h"
#include "g270.h"

namespace framelane {

const char* const kDriverNames[kDriverEntries] = {
    "M24VA_FrameDimensions", "M24VA_FrameAllocate", "M24VA_FrameFree", "M24VA_BeginFrame", "M24VA_EndFrame",
    "M24VA_SetReferenceFrameAddress", "M24VA_FCFrameAllocate", "M24VA_FrameConvert", "M24VA_FrameBeginAccess",
    "M24VA_FrameEndAccess", "M24VA_WriteIZZBlock", "M24VA_WriteIZZData", "M24VA_SetIZZMode",
    "M24VA_WriteResidualDifferenceData", "M24VA_WriteMCCmdData", "M24VA_Initialise", "M24VA_Deinitialise",
    "M24VA_Reset", "VDISP_Initialise", "VDISP_Deinitialise", "VDISP_OverlaySetAttributes", "VDISP_OverlayFlipSurface",
    "VDISP_OverlayContrast", "VDISP_OverlayGamma", "VDISP_OverlayBrightness", "VDISP_OverlaySetColorspaceConversion",
};

namespace {

const ParamInfo kParams[] = {
    {kParamOldDriver, PARAM_BOOL, 0x402, 0, 0},
    {kParamRotateInCopy, PARAM_BOOL, 0x402, 0, 0},
    {kParamCloseMediaPlayer, PARAM_BOOL, 0x402, 0, 0},
    {static_cast<int>(G270_CLASS), PARAM_END, 0, 0, 0},
};

constexpr uint32_t kColorKey = 0x200020;
constexpr int kLateTicks = 655;      // 40 ms
constexpr int kAllowanceTicks = 131; // 8 ms
constexpr int kRefreshTicks = 273;   // one 60 Hz refresh
constexpr int kDriverTries = 4;
constexpr int kRegisterWindowMask = 0xFFFFF;
constexpr size_t kChipIdOffset = 0x3FE0FF0;
constexpr size_t kVerticalTotalOffset = 0x3FE2164;
constexpr size_t kFirstVisibleOffset = 0x3FE2168;
constexpr size_t kLastVisibleOffset = 0x3FE216C;
constexpr size_t kScanLineOffset = 0x3FE2308;

Output* Self(void* p) { return static_cast<Output*>(p); }

int Now() { return GetTimeTick(); }

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// --- The driver's start and end ---

BOOL FindMediaPlayer(HWND hwnd, LPARAM data) {
    wchar_t title[64] = {};
    if (GetWindowLongW(hwnd, GWL_STYLE) >= 0 && GetWindowTextW(hwnd, title, 64) > 0 &&
        wcscmp(title, L"Windows Media") == 0)
        *reinterpret_cast<HWND*>(data) = hwnd;  // the last one found wins
    return TRUE;
}

bool TryInitialise(Output* o) {
    for (int i = 0; i < kDriverTries; ++i) {
        if (i) ThreadSleep(50);
        if (o->drv.initialise(0) == 0) {
            o->driverUp = 1;
            return true;
        }
    }
    return false;
}

// Starts the video driver, asking a media player that holds the chip to close when the
// option allows it, once for the object rather than at every start.
bool DriverStart(Output* o) {
    if (TryInitialise(o)) return true;
    if (o->closeMediaPlayer && !o->mediaPlayerAsked) {
        HWND found = nullptr;
        EnumWindows(FindMediaPlayer, reinterpret_cast<LPARAM>(&found));
        if (found) {
            o->mediaPlayerAsked = 1;
            PostMessageW(found, WM_CLOSE, 0, 0);
            if (TryInitialise(o)) return true;
        }
    }
    ShowError(G270_CLASS, G270_CLASS, 1024);
    return false;
}

void FreeFrames(Output* o, int from) {
    for (int i = from; i < kMaxFrames; ++i) {
        if (o->frames[i]) o->drv.frameFree(&o->frames[i], 1);
        o->frames[i] = nullptr;
        o->frameNumber[i] = -1;
    }
    o->frameCount = std::min(o->frameCount, from);
    if (o->current >= o->frameCount) o->current = -1;
    if (o->previous >= o->frameCount) o->previous = -1;
    if (o->showIndex >= o->frameCount) o->showIndex = -1;
    if (o->heldBack >= o->frameCount) o->heldBack = -1;
    if (o->decoding >= o->frameCount) o->decoding = -1;
}

int DoneOutput(void* self) {
    Output* o = Self(self);
    if (o->displayUp) o->drv.vdispDeinitialise();
    o->displayUp = 0;
    if (o->module) FreeFrames(o, 0);
    o->frameCount = o->showFrames = o->extraFrames = 0;
    o->current = o->previous = o->showIndex = o->heldBack = o->decoding = -1;
    if (o->driverUp) o->drv.deinitialise();
    o->driverUp = 0;
    BlitRelease(o->base.blitter);
    o->base.blitter = nullptr;
    return 0;
}

// --- The display query ---

int ReadRegister(uintptr_t window, size_t offset, uint32_t* value) {
    return ReadGuarded(reinterpret_cast<const void*>(window + offset), value, sizeof(*value));
}

int QueryDisplay(void* self) {
    Output* o = Self(self);
    o->scanLine = nullptr;
    o->verticalTotal = o->lastUsableLine = o->linesPerMs = 0;
    HDC dc = GetDC(nullptr);
    RawFrameBufferInfo fb{};
    int got = dc ? ExtEscape(dc, GETRAWFRAMEBUFFER, 0, nullptr, sizeof(fb), reinterpret_cast<LPSTR>(&fb)) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    if (got > 0 && fb.frame) {
        int width = fb.width, height = fb.height;
        if (std::abs(static_cast<int64_t>(fb.yStride)) < std::abs(static_cast<int64_t>(width) * fb.xStride))
            std::swap(width, height);
        int flags;
        if (std::abs(fb.yStride) < std::abs(fb.xStride))
            flags = DIR_SWAPXY | (fb.xStride < 0 ? DIR_MIRRORY : 0) | (fb.yStride < 0 ? DIR_MIRRORX : 0);
        else
            flags = (fb.xStride < 0 ? DIR_MIRRORX : 0) | (fb.yStride < 0 ? DIR_MIRRORY : 0);
        o->queryDirection = CombineDir(0, flags, GetOrientation());
        // The chip's registers lie at a fixed offset from the megabyte that holds the frame.
        uintptr_t window = reinterpret_cast<uintptr_t>(fb.frame) & ~static_cast<uintptr_t>(kRegisterWindowMask);
        uint32_t id = 0, total = 0, first = 0, last = 0;
        if (ReadRegister(window, kChipIdOffset, &id) == 0 && (id & 0xFFFFFF) == 0x727189) {
            o->refreshPeriod = kRefreshTicks;
            // A fault ends the reads; what was read is still judged.
            if (ReadRegister(window, kVerticalTotalOffset, &total) == 0 &&
                ReadRegister(window, kFirstVisibleOffset, &first) == 0)
                ReadRegister(window, kLastVisibleOffset, &last);
            total &= 0xFFF, first &= 0xFFF, last &= 0xFFF;
            o->verticalTotal = static_cast<int>(total);
            o->linesPerMs = static_cast<int>(static_cast<int64_t>(total) * 0x4000 / 273000);
            if (total >= last && static_cast<int>(last) - static_cast<int>(first) >= height && last >= 16) {
                o->lastUsableLine = static_cast<int>(last) - 16;
                o->scanLine = reinterpret_cast<const volatile uint32_t*>(window + kScanLineOffset);
            }
        }
    }
    QueryDesktop(&o->base.screen);
    return 0;
}

// --- Colour settings and the frame layout ---

void ApplyColour(Output* o, bool force) {
    const VideoEffects& fx = o->base.fx;
    bool same = o->colourApplied && fx.brightness == o->fxBrightness && fx.contrast == o->fxContrast &&
                fx.saturation == o->fxSaturation && fx.rgbAdjust[0] == o->fxAdjust[0] &&
                fx.rgbAdjust[1] == o->fxAdjust[1] && fx.rgbAdjust[2] == o->fxAdjust[2];
    if (same && !force) return;
    o->drv.overlayBrightness(Clamp(fx.brightness + 128, 0, 255));
    o->drv.overlayContrast(Clamp(fx.contrast + 128, 0, 255));
    int s = fx.saturation < 0 ? fx.saturation >> 1 : fx.saturation;
    int r = fx.rgbAdjust[0] + 256, g = fx.rgbAdjust[1] + 256, b = fx.rgbAdjust[2] + 256;
    auto c = [](int v) { return static_cast<int16_t>(Clamp(v, -1024, 1023)); };
    ColorConversion cc{};
    cc.coeff[0] = c((r * 298) >> 8);
    cc.coeff[2] = c((r * (((s + 64) * 1632) >> 8)) >> 8);
    cc.coeff[3] = c((g * 298) >> 8);
    cc.coeff[4] = c((g * (((-s - 64) * 400) >> 8)) >> 8);
    cc.coeff[5] = c((g * (((-s - 64) * 832) >> 8)) >> 8);
    cc.coeff[6] = c((b * 298) >> 8);
    cc.coeff[7] = c((b * (((s + 64) * 2068) >> 8)) >> 8);
    o->drv.overlaySetColorspaceConversion(&cc);
    o->fxBrightness = fx.brightness;
    o->fxContrast = fx.contrast;
    o->fxSaturation = fx.saturation;
    for (int i = 0; i < 3; ++i) o->fxAdjust[i] = fx.rgbAdjust[i];
    o->colourApplied = 1;
}

// Sends the record to the first two frames; the first of a first or visible send carries
// the visible flag as a third word. False when the chip refused a send.
bool SendAttributes(Output* o, const Attributes& a, bool withVisibleWord) {
    bool taken = true;
    for (int i = 0; i < 2 && i < o->frameCount; ++i)
        if (o->drv.overlaySetAttributes(&a, o->frames[i], i == 0 && withVisibleWord ? static_cast<int>(a.visible) : 0) != 0)
            taken = false;
    return taken;
}

bool Swaps(int direction) { return direction & DIR_SWAPXY; }

void FillBlack(Output* o, int index) {
    void* planes[3];
    int pitch = 0;
    if (o->drv.frameBeginAccess(o->frames[index], planes, &pitch, 1) != 0) return;
    int pitches[3] = {pitch, pitch, pitch};
    FillColor(&o->frameFormat, planes, pitches, nullptr, 8, 0x008080);
    o->drv.frameEndAccess(o->frames[index]);
}

int AllocateFrames(Output* o, int count, int minimum);

// Cuts a destination that passes the screen to it, and the source in proportion: the
// source is seen turned by `direction` in the destination.
bool ClipToScreen(VRect* dst, VRect* src, int direction, int screenW, int screenH) {
    if (dst->width <= 0 || dst->height <= 0 || src->width <= 0 || src->height <= 0) return false;
    int x0 = std::max(dst->x, 0), y0 = std::max(dst->y, 0);
    int x1 = std::min(dst->x + dst->width, screenW), y1 = std::min(dst->y + dst->height, screenH);
    if (x1 <= x0 || y1 <= y0) return false;
    if (x0 == dst->x && y0 == dst->y && x1 == dst->x + dst->width && y1 == dst->y + dst->height) return true;
    // The kept part in the turned source, then back in the source.
    int tw = Swaps(direction) ? src->height : src->width, th = Swaps(direction) ? src->width : src->height;
    auto scale = [](int v, int num, int den) { return static_cast<int>(static_cast<int64_t>(v) * num / den); };
    int tx0 = scale(x0 - dst->x, tw, dst->width), tx1 = scale(x1 - dst->x, tw, dst->width);
    int ty0 = scale(y0 - dst->y, th, dst->height), ty1 = scale(y1 - dst->y, th, dst->height);
    VRect part{tx0, ty0, std::max(tx1 - tx0, 1), std::max(ty1 - ty0, 1)};
    TurnRect(&part, CombineDir(direction, 0, 0), tw, th);
    *src = VRect{src->x + part.x, src->y + part.y, part.width, part.height};
    *dst = VRect{x0, y0, x1 - x0, y1 - y0};
    return true;
}

// Turns the frames to a new rotation, keeping their pictures.
int ApplyLayout(Output* o) {
    const VideoFormat& video = o->base.format.format;
    // The picture as the panel must hold it: the video's own turn undone, the effects',
    // then the screen laid on the panel as the viewport is (VirtToPhy).
    int toPanel = CombineDir(video.direction, o->base.fx.direction, CombineDir(o->base.screen.direction, 0, 0));
    int frameRotation, overlayRotation;
    if (o->idctMode && !(o->rotateInCopy && !o->is422)) {
        frameRotation = 0;  // the overlay turns the picture
        overlayRotation = toPanel;
    } else {
        frameRotation = toPanel;  // written turned: the overlay turns nothing more
        overlayRotation = 0;
    }
    o->overlayRotation = overlayRotation;
    o->dropAtOnce = !(o->oldDriver &&
                      !Swaps(CombineDir(overlayRotation, o->base.screen.direction, o->queryDirection)));
    o->layoutChanged = 0;
    if (frameRotation == o->frameRotation) return 0;
    o->layoutChanged = 1;
    int count = o->frameCount;
    if (o->lastAttributes.visible && count) {
        ThreadSleep(50);
        Attributes hidden = o->lastAttributes;
        hidden.visible = 0;
        if (SendAttributes(o, hidden, false)) o->lastAttributes = hidden;
        ThreadSleep(20);
    }
    // Save the pictures, make the frames anew at the turned size, turn the pictures back in.
    VideoFormat oldFormat = o->frameFormat;
    int oldRotation = o->frameRotation;
    void* saved[kMaxFrames][3] = {};
    for (int i = 0; i < count; ++i) {
        void* planes[3];
        int pitch = 0;
        if (SurfaceAlloc(saved[i], &oldFormat) != 0) continue;
        if (o->drv.frameBeginAccess(o->frames[i], planes, &pitch, 1) == 0) {
            VideoFormat f = oldFormat;
            f.pitch = pitch;
            SurfaceCopy(&f, &oldFormat, planes, saved[i], nullptr);
            o->drv.frameEndAccess(o->frames[i]);
        } else {
            SurfaceFree(saved[i]);
        }
    }
    int numbers[kMaxFrames];
    std::copy(o->frameNumber, o->frameNumber + kMaxFrames, numbers);
    // The pictures keep their indexes, so the roles stay: the frame on screen stays on screen.
    int current = o->current, previous = o->previous, show = o->showIndex, heldBack = o->heldBack;
    FreeFrames(o, 0);
    o->frameRotation = frameRotation;
    int w = o->planWidth + 16, h = o->planHeight + 16;
    if (Swaps(o->base.format.format.direction) != Swaps(frameRotation)) std::swap(w, h);
    o->frameFormat.direction = frameRotation;
    o->frameFormat.width = w;
    o->frameFormat.height = h;
    o->frameFormat.pitch = DefaultPitch(&o->frameFormat);
    int r = o->drv.frameDimensions(h, w);
    if (r == 0) r = AllocateFrames(o, count, count);
    for (int i = 0; i < count; ++i) {
        if (!saved[i][0]) continue;
        if (r == 0 && i < o->frameCount) {
            void* planes[3];
            int pitch = 0;
            if (o->drv.frameBeginAccess(o->frames[i], planes, &pitch, 1) == 0) {
                VideoFormat f = o->frameFormat;
                f.pitch = pitch;
                SurfaceRotate(&oldFormat, &f, saved[i], planes, oldRotation < 0 ? 0 : CombineDir(oldRotation, frameRotation, 0));
                o->drv.frameEndAccess(o->frames[i]);
            }
            o->frameNumber[i] = numbers[i];
        }
        SurfaceFree(saved[i]);
    }
    auto kept = [&](int index) { return index < o->frameCount ? index : -1; };
    o->current = kept(current), o->previous = kept(previous), o->showIndex = kept(show), o->heldBack = kept(heldBack);
    if (o->current >= 0) o->reflip = 1;  // its picture lies in a new frame, to be flipped onto the overlay
    if (r == kDriverLost) return DriverLost(o);
    return r == 0 ? 0 : r < 0 ? r : ERR_DEVICE_ERROR;
}

// Makes frames up to `count`; frames below `minimum` are about to receive a restored
// picture (IDCT mode) and are not filled. The frames keep no copy in system memory:
// the pictures are saved where they are read back, by the layout change and the backup.
int AllocateFrames(Output* o, int count, int minimum) {
    for (int i = o->frameCount; i < count; ++i) {
        int r = o->drv.frameAllocate(&o->frames[i], 1);
        if (r != 0) {
            o->frames[i] = nullptr;
            return r == kDriverLost && !o->inInit ? kDriverLost : ERR_OUT_OF_MEMORY;
        }
        if (!(o->idctMode && i < minimum)) FillBlack(o, i);
        o->frameNumber[i] = -1;
        o->frameCount = i + 1;
    }
    return 0;
}

}  // namespace

int ElapsedMs(int fromTick) {
    int freq = GetTimeFreq();
    return static_cast<int>(static_cast<int64_t>(Now() - fromTick) * 1000 / (freq > 0 ? freq : 1000));
}

int RotationIndex(int direction) {
    if (direction & DIR_SWAPXY) return (direction & DIR_MIRRORY) ? 1 : 3;
    return (direction & DIR_MIRRORY) ? 2 : 0;
}

// The place of rect r of a width x height picture once the picture is turned by `direction`.
void TurnRect(VRect* r, int direction, int width, int height) {
    auto turn = [&](int x, int y, int* ox, int* oy) {
        int tw = width, th = height;
        if (direction & DIR_SWAPXY) std::swap(x, y), std::swap(tw, th);
        if (direction & DIR_MIRRORX) x = tw - 1 - x;
        if (direction & DIR_MIRRORY) y = th - 1 - y;
        *ox = x, *oy = y;
    };
    int x0, y0, x1, y1;
    turn(r->x, r->y, &x0, &y0);
    turn(r->x + r->width - 1, r->y + r->height - 1, &x1, &y1);
    r->x = std::min(x0, x1);
    r->y = std::min(y0, y1);
    r->width = std::abs(x1 - x0) + 1;
    r->height = std::abs(y1 - y0) + 1;
}

int SetFrameCount(Output* o, int show, int extra, int minimum) {
    if (show < 0 || extra < 0 || minimum < 0) return ERR_INVALID_PARAM;
    int total = show + extra + (show == 1 && extra == 0 ? 1 : 0);
    if (total > kMaxFrames) return ERR_INVALID_PARAM;
    if (!o->driverUp) return ERR_DEVICE_ERROR;
    int before = o->frameCount;
    FreeFrames(o, total);
    int r = AllocateFrames(o, total, minimum);
    if (r == kDriverLost) {
        r = DriverLost(o);
        if (r == 0) r = AllocateFrames(o, total, minimum);
        if (r == kDriverLost) r = ERR_DEVICE_ERROR;
    }
    if (r != 0) {
        // A count that cannot be had changes nothing: the frames made for it go again, and
        // the counts stay those of the frames held, which the next growth starts from.
        FreeFrames(o, before);
        return r;
    }
    o->showFrames = show;
    o->extraFrames = extra;
    return 0;
}

int FrameAccess(Output* o, int index, void* planes[3], int* pitch) {
    if (index < 0 || index >= o->frameCount || !o->frames[index]) return ERR_INVALID_PARAM;
    int r = o->drv.frameBeginAccess(o->frames[index], planes, pitch, 1);
    if (r == kDriverLost && DriverLost(o) == 0 && index < o->frameCount)
        r = o->drv.frameBeginAccess(o->frames[index], planes, pitch, 1);
    return r == 0 ? 0 : ERR_DEVICE_ERROR;
}

void Flip(Output* o, int index) {
    if (index < 0 || index >= o->frameCount) return;
    o->drv.overlayFlipSurface(o->frames[index], 0);
    o->lastFlipTick = Now();
    o->reflip = 0;
}

namespace {

// Shows the current frame again; before any was shown the first that is not being decoded
// goes on screen, and is then the current one.
void FlipCurrent(Output* o) {
    for (int i = 0; o->current < 0 && i < o->frameCount; ++i)
        if (i != o->decoding) o->current = i;
    Flip(o, o->current);
}

int InitOutput(void* self);

// Builds the started state again after the driver lost it: the frames' pictures are gone.
int Restart(Output* o) {
    int count = std::max(o->frameCount, 3 - (o->idctMode ? 1 : 0));
    if (o->displayUp) o->drv.vdispDeinitialise();
    o->displayUp = 0;
    FreeFrames(o, 0);
    if (o->driverUp) o->drv.deinitialise();
    o->driverUp = 0;
    if (!DriverStart(o)) return ERR_NOT_SUPPORTED;
    if (o->drv.vdispInitialise(0) != 0) return ERR_DEVICE_ERROR;
    o->displayUp = 1;
    o->lastAttributes = Attributes{};
    o->firstShow = 1;
    o->lastShowTick = Now() - 10000;
    ApplyColour(o, true);
    o->frameRotation = -1;
    int r = ApplyLayout(o);
    if (r == 0) r = AllocateFrames(o, count, 0);
    return r == kDriverLost ? ERR_DEVICE_ERROR : r;
}

int InitOutput(void* self) {
    Output* o = Self(self);
    const VideoFormat& video = o->base.format.format;
    o->dropAtOnce = !o->oldDriver;
    o->is422 = 0;
    if (o->idctMode) {
        if (PlanarYUV422(&video.pixel))
            o->is422 = 1;
        else if (!PlanarYUV420(&video.pixel))
            return ERR_NOT_SUPPORTED;
    } else if (!PlanarYUV(&video.pixel)) {
        return ERR_NOT_SUPPORTED;  // the frames are filled from planar YUV only
    }
    int r = 0;
    o->inInit = 1;
    if (!DriverStart(o)) {
        r = ERR_NOT_SUPPORTED;
    } else if (o->drv.vdispInitialise(0) != 0) {
        r = ERR_DEVICE_ERROR;
    } else {
        o->displayUp = 1;
        o->lastAttributes = Attributes{};
        Face& f = o->face;
        f.block = 0;
        for (int& s : f.chromaSet) s = 0;
        o->firstShow = 1;
        int w = o->idctMode ? f.idctWidth : video.width, h = o->idctMode ? f.idctHeight : video.height;
        o->planWidth = std::max(((w + 15) & ~15) - 16, 0);
        o->planHeight = std::max(((h + 15) & ~15) - 16, 0);
        if (Swaps(video.direction)) std::swap(o->planWidth, o->planHeight);
        f.width = o->planWidth;
        f.height = o->planHeight;
        QueryDisplay(o);
        o->frameFormat = VideoFormat{};
        o->frameFormat.aspect = 0x10000;
        o->frameFormat.pixel.flags = PF_FOURCC | PF_PLANAR;
        o->frameFormat.pixel.fourcc = IMC4_FOURCC;
        o->frameFormat.pixel.bitCount = 8;
        o->frameRotation = -1;  // the first layout sets the frames' size
        ApplyColour(o, true);
        r = ApplyLayout(o);
        if (r == 0) r = SetFrameCount(o, std::max(3 - (o->idctMode ? 1 : 0), o->framesToRestore), 0, o->framesToRestore);
    }
    o->inInit = 0;
    if (r != 0) DoneOutput(o);
    return r;
}

// --- Showing ---

int UpdateOutput(void* self) {
    Output* o = Self(self);
    if (!o->driverUp || !o->displayUp) return 0;
    int r = ApplyLayout(o);
    if (r != 0) return r;
    ApplyColour(o, false);
    Overlay& b = o->base;
    const VideoFormat& video = b.format.format;
    b.colorKey = kColorKey;
    VRect dst;
    VirtToPhy(&b.viewport, &dst, &b.screen);
    // The picture as stored, and where it lies in the frames once turned into them.
    VRect src = o->idctMode ? VRect{0, 0, o->face.idctWidth, o->face.idctHeight} : VRect{0, 0, video.width, video.height};
    int canvasW = o->planWidth + 16, canvasH = o->planHeight + 16;
    if (Swaps(video.direction)) std::swap(canvasW, canvasH);
    VRect frameSrc = src;
    if (o->idctMode)
        TurnRect(&frameSrc, o->frameRotation, canvasW, canvasH);  // the decoder fills the whole frame, turned
    else
        TurnRect(&frameSrc, o->frameRotation, src.width, src.height);  // the blit writes it turned at the origin
    if (!o->idctMode) {
        BlitRelease(b.blitter);
        VideoEffects blitFx = b.fx;
        blitFx.direction = o->frameRotation;
        blitFx.brightness = 0;  // the overlay applies it
        b.blitter = BlitCreate(&o->frameFormat, &video, &blitFx);
        if (!b.blitter) return ERR_OUT_OF_MEMORY;
        BlitAlign(b.blitter, &frameSrc, &src);
    }
    b.fx.flags |= 0x1E;
    VideoEffects alignFx = b.fx;
    alignFx.direction = o->overlayRotation;
    // The scale limits only: rounding to even sizes and places would cut an odd picture's
    // last column and row, leave the viewport's in the key colour and take a 1x1 picture.
    AnyAlign(&dst, &frameSrc, &alignFx, 1, 1, 0x4000, 0x80000);
    b.fx.scaleX = alignFx.scaleX;
    b.fx.scaleY = alignFx.scaleY;
    OverlayUpdateShow(o, 1);
    WinInvalidate(&b.viewport, 1);

    if (o->frameCount <= 1) return 0;
    bool visible = b.visible && (!o->idctMode || (o->face.idctWidth >= 1 && o->face.idctHeight >= 1));
    // The screen record holds the physical size, as VirtToPhy reads it.
    if (!ClipToScreen(&dst, &frameSrc, o->overlayRotation, b.screen.width, b.screen.height)) {
        // Nothing of it is on screen: hidden, at the nearest place the chip takes.
        visible = false;
        int w = std::max(b.screen.width, 1), h = std::max(b.screen.height, 1);
        int x0 = Clamp(dst.x, 0, w - 1), y0 = Clamp(dst.y, 0, h - 1);
        int x1 = Clamp(static_cast<int>(std::min<int64_t>(static_cast<int64_t>(dst.x) + dst.width, INT32_MAX)), x0 + 1, w);
        int y1 = Clamp(static_cast<int>(std::min<int64_t>(static_cast<int64_t>(dst.y) + dst.height, INT32_MAX)), y0 + 1, h);
        dst = VRect{x0, y0, x1 - x0, y1 - y0};
    }

    Attributes a{};
    a.magic = 0x77;
    a.dstTop = static_cast<uint16_t>(std::max(dst.y, 0));
    a.dstLeft = static_cast<uint16_t>(std::max(dst.x, 0));
    a.dstBottom = static_cast<uint16_t>(std::max(dst.y + dst.height, 1));
    a.dstRight = static_cast<uint16_t>(std::max(dst.x + dst.width, 1));
    a.srcLeft = static_cast<uint16_t>(frameSrc.x);
    a.srcTop = static_cast<uint16_t>(frameSrc.y);
    a.srcRight = static_cast<uint16_t>(frameSrc.x + frameSrc.width);
    a.srcBottom = static_cast<uint16_t>(frameSrc.y + frameSrc.height);
    a.one = 1;
    a.colorKey = RGBToFormat(kColorKey, &b.screen);
    a.visible = visible ? 1 : 0;
    int rot = o->overlayRotation;
    a.rotation = static_cast<uint16_t>(Swaps(rot) ? ((rot & DIR_MIRRORY) ? 90 : 270) : (rot & DIR_MIRRORY) ? 180 : 0);
    if (memcmp(&a, &o->lastAttributes, sizeof(a)) == 0) return 0;
    if (!o->layoutChanged && !o->firstShow) ThreadSleep(50);
    // What the chip took last: a refused send leaves the overlay as it was.
    bool taken = true;
    auto send = [&](const Attributes& record, bool withVisibleWord) {
        if (!taken) return;
        taken = SendAttributes(o, record, withVisibleWord);
        if (taken) o->lastAttributes = record;
    };
    if (visible && o->firstShow) {
        // The frame to show goes onto the overlay before anything makes it visible, so the
        // overlay never scans out a frame the decoder is writing.
        FlipCurrent(o);
        if (ElapsedMs(o->lastShowTick) > 500) {
            Attributes small = a;
            small.dstLeft = small.dstTop = small.srcLeft = small.srcTop = 0;
            small.dstRight = small.dstBottom = small.srcRight = small.srcBottom = 16;
            small.visible = QueryPlatform(25) > 499 ? 1 : 0;
            send(small, true);
            ThreadSleep(50);
        }
        send(a, true);
        if (taken) {
            o->firstShow = 0;
            o->lastShowTick = Now();
        }
    } else if (visible) {
        if (o->lastAttributes.visible || o->lastAttributes.rotation != a.rotation) {
            Attributes hidden = a;
            hidden.visible = 0;
            send(hidden, false);
            if (taken) FlipCurrent(o);
            ThreadSleep(50);
        } else if (o->reflip) {
            FlipCurrent(o);
            ThreadSleep(50);
        }
        send(a, true);
        if (taken) o->lastShowTick = Now();
    } else {
        send(a, false);
    }
    ThreadSleep(20);
    return taken ? 0 : ERR_DEVICE_ERROR;
}

int ShowOverlay(void* self, int) {
    UpdateOutput(self);
    return 0;
}

int BlitFrame(void* self, Planes src, const int* srcPitches) {
    Output* o = Self(self);
    if (!o->driverUp || o->frameCount <= 0 || !o->base.blitter) return ERR_DEVICE_ERROR;
    int index = (o->current + 1) % o->frameCount;
    o->previous = o->current;
    o->current = index;
    void* planes[3];
    int pitch = 0;
    if (FrameAccess(o, index, planes, &pitch) != 0) return ERR_DEVICE_ERROR;
    o->current = index;  // a driver restarted by the access made new frames, none current
    BlitImage(o->base.blitter, planes, src, srcPitches, pitch, -1);
    o->drv.frameEndAccess(o->frames[index]);
    if (o->base.lastShownTime < 0 && o->base.lastCurrentTime >= 0 && ElapsedMs(o->lastFlipTick) < 16) {
        o->reflip = 1;  // the frame stays drawn; the next update shows it
        return 0;
    }
    if (o->lastAttributes.visible) Flip(o, o->current);
    return 0;
}

// --- Parameters ---

int* OwnParam(Output* o, int id) {
    switch (id) {
        case kParamOldDriver: return &o->oldDriver;
        case kParamRotateInCopy: return &o->rotateInCopy;
        case kParamCloseMediaPlayer: return &o->closeMediaPlayer;
        default: return nullptr;
    }
}

int EnumParams(void* self, int index, ParamInfo* out) {
    if (OverlayEnum(self, index, out) == 0) return 0;
    return NodeEnumTable(index - OVERLAY_PARAM_COUNT, out, kParams);
}

int GetParam(void* self, int id, void* data, int size) {
    int r = OverlayGet(self, id, data, size);
    int* own = OwnParam(Self(self), id);
    if (!own) return r;
    if (!data || size < static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
    memcpy(data, own, sizeof(int));
    return 0;
}

int SetParam(void* self, int id, const void* data, int size) {
    Output* o = Self(self);
    if (id == OVERLAY_OUTPUT) o->idctMode = 0;  // the face sets it through its own parameter
    int r = OverlaySet(self, id, data, size);
    if (id == OVERLAY_RELEASE) {
        DoneOutput(o);
        return r;
    }
    int* own = OwnParam(o, id);
    if (!own) return r;
    if (!data || size != static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
    memcpy(own, data, sizeof(int));
    if (id != kParamCloseMediaPlayer) OverlayUpdateFX(o, 0, *own);
    return 0;
}

}  // namespace

// The driver lost its state (a frame call gave 5): start it again in place.
int DriverLost(Output* o) {
    if (o->inInit) return ERR_DEVICE_ERROR;
    o->inInit = 1;
    int r = Restart(o);
    o->inInit = 0;
    return r;
}

// Frame timing: 0 shows the frame, -1 refuses it.
int FrameShowTiming(Output* o, int timeNow, int frameTime) {
    Overlay& b = o->base;
    if (frameTime < 0) {
        b.lastCurrentTime = timeNow;
        return 0;
    }
    if (frameTime == b.lastShownTime && !b.repeat) return ERR_READ;
    int late = timeNow - frameTime;
    if (late >= kLateTicks) {
        if (o->dropAtOnce || !o->scanLine || late > kLateTicks + 327) return ERR_READ;
        int line = static_cast<int>(*o->scanLine & 0xFFF);
        if (o->verticalTotal > 0 && (o->lastUsableLine - line) * kRefreshTicks / o->verticalTotal > kAllowanceTicks)
            return ERR_READ;
        // Show it as the scan reaches the last usable line.
        int last = line, same = 0, wraps = 0;
        int began = Now();
        while (true) {
            int v = static_cast<int>(*o->scanLine & 0xFFF);
            if (v == last) {
                if (++same >= 9999999) break;
            } else {
                same = 0;
                if (v < last && ++wraps >= 2) break;  // wrapped below its start a second time
            }
            last = v;
            if (v >= o->lastUsableLine) break;
            if (ElapsedMs(began) > 100) break;  // a stalled clock cannot hold the frame
            int left = o->lastUsableLine - v;
            if (o->linesPerMs > 0 && left > 2 * o->linesPerMs) ThreadSleep(left / o->linesPerMs - 1);
        }
    }
    return 0;
}

int Create(void* object) {
    Output* o = Self(object);
    o->module = LoadModule(L"PVRVADD.DLL");
    auto* slots = reinterpret_cast<void**>(&o->drv);
    for (int i = 0; i < kDriverEntries; ++i) GetProc(&o->module, &slots[i], kDriverNames[i], 0);
    if (!o->module) return ERR_NOT_SUPPORTED;
    wchar_t path[512] = {};
    if (GetModuleFileNameW(o->module, path, 512) > 0 && FileDate(path) < 20041205) o->oldDriver = 1;
    o->base.node.enumParams = EnumParams;
    o->base.node.getParam = GetParam;
    o->base.node.setParam = SetParam;
    o->base.initOutput = InitOutput;
    o->base.doneOutput = DoneOutput;
    o->base.blitFrame = BlitFrame;
    o->base.updateOutput = UpdateOutput;
    o->base.showOverlay = ShowOverlay;
    o->base.refreshDisplayMode = QueryDisplay;
    FaceSetUp(o);
    o->base.idctFace = &o->face.slots;
    o->base.available = 1;
    o->base.overlay = 1;
    o->lastShowTick = Now() - 10000;
    o->rotateInCopy = 1;
    o->closeMediaPlayer = 1;
    o->frameRotation = -1;
    o->current = o->previous = o->showIndex = o->heldBack = o->decoding = -1;
    for (int& n : o->frameNumber) n = -1;
    QueryDisplay(o);
    return 0;
}

// Releases what an object still holds when the core deletes it.
void Destroy(void* object) {
    Output* o = Self(object);
    if (o->module) DoneOutput(o);
    FreeSaved(o);
}

}  // namespace framelane
