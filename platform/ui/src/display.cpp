// The display: one screen surface composited from the top-level windows, shown in an SDL2
// window (mouse = stylus, keys = keypad and soft keys, F9 rotates) or kept in memory when
// headless. SDL runs on a thread of its own; input reaches the windows' queues.
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/codepage.h"
#include "platform/device.h"
#include "platform/gdi.h"
#include "platform/shellapi.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {
void Composite(Surface& screen);
void InstallDCHooks();
void SetScreenDirtyListener(std::function<void()> f);
void StopScript();
void ScriptQuit();
}  // namespace platform::ui::detail

namespace platform::ui {

using namespace detail;

namespace {

struct DisplayState {
    std::mutex mu;
    bool running = false;
    bool headless = true;
    bool scripted = false;
    std::shared_ptr<Surface> screen = std::make_shared<Surface>();
    std::atomic<bool> dirty{true};
    std::atomic<bool> stop{false};
    std::thread thread;
    int startW = 480, startH = 800;
};

DisplayState& D() {
    static auto* d = new DisplayState;
    return *d;
}

bool ParseSize(const std::string& s, int* w, int* h) {
    int a = 0, b = 0;
    char x = 0, extra = 0;
    if (std::sscanf(s.c_str(), "%d%c%d%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X')) return false;
    if (a < 64 || b < 64 || a > 4096 || b > 4096) return false;
    *w = a;
    *h = b;
    return true;
}

void ApplyEnv(DisplayOptions* o) {
    if (const char* s = std::getenv("LUMEO_SCREEN"); s && *s) {
        if (!ParseSize(s, &o->width, &o->height)) o->error = std::string("bad LUMEO_SCREEN value: ") + s;
    }
    if (const char* h = std::getenv("LUMEO_HEADLESS"); h && *h && std::strcmp(h, "0") != 0) o->headless = true;
}

void ParseArgs(const std::vector<std::string>& args, DisplayOptions* o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--headless") {
            o->headless = true;
        } else if (a == "--screen" || a == "--script") {
            if (i + 1 >= args.size()) {
                o->error = a + " needs a value";
                return;
            }
            const std::string& v = args[++i];
            if (a == "--screen") {
                if (!ParseSize(v, &o->width, &o->height)) o->error = "bad --screen value: " + v + " (WxH)";
            } else {
                o->script = v;
            }
        } else if (a.rfind("--screen=", 0) == 0) {
            if (!ParseSize(a.substr(9), &o->width, &o->height)) o->error = "bad --screen value: " + a.substr(9);
        } else if (a.rfind("--script=", 0) == 0) {
            o->script = a.substr(9);
        } else {
            o->rest.push_back(a);
        }
    }
    // A script is headless input.
    if (!o->script.empty()) o->headless = true;
}

void SetSize(int w, int h) {
    std::lock_guard lk(M().mu);
    M().screenW = w;
    M().screenH = h;
}

// Key names of the script and the SDL key map.
struct KeyName {
    const char* name;
    UINT vk;
};
const KeyName kKeys[] = {{"soft1", VK_TSOFT1}, {"soft2", VK_TSOFT2}, {"up", VK_UP},       {"down", VK_DOWN},
                         {"left", VK_LEFT},    {"right", VK_RIGHT},  {"enter", VK_RETURN}, {"back", VK_ESCAPE}};

void SdlLoop(int w, int h) {
    auto& d = D();
    SDL_Window* win = SDL_CreateWindow("Lumeo", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, 0);
    SDL_Renderer* ren = win ? SDL_CreateRenderer(win, -1, 0) : nullptr;
    if (!ren) ren = win ? SDL_CreateRenderer(win, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    SDL_Texture* tex = ren ? SDL_CreateTexture(ren, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h) : nullptr;
    if (!tex) {
        std::fprintf(stderr, "Lumeo: no display window (%s); running headless\n", SDL_GetError());
        d.headless = true;
        return;
    }
    SDL_StartTextInput();
    int texW = w, texH = h;
    bool penDown = false;
    uint64_t lastGeneration = 0;
    while (!d.stop) {
        SDL_Event e;
        while (SDL_WaitEventTimeout(&e, 15)) {
            switch (e.type) {
            case SDL_QUIT: {
                std::thread([] { ScriptQuit(); }).detach();
                break;
            }
            case SDL_MOUSEBUTTONDOWN:
                if (e.button.button == SDL_BUTTON_LEFT) {
                    penDown = true;
                    InjectPenDown(e.button.x, e.button.y);
                }
                break;
            case SDL_MOUSEBUTTONUP:
                if (e.button.button == SDL_BUTTON_LEFT && penDown) {
                    penDown = false;
                    InjectPenUp(e.button.x, e.button.y);
                }
                break;
            case SDL_MOUSEMOTION:
                if (penDown) InjectPenMove(e.motion.x, e.motion.y);
                break;
            case SDL_TEXTINPUT: InjectText(platform::Utf8ToWide(e.text.text)); break;
            case SDL_KEYDOWN: {
                auto sym = e.key.keysym.sym;
                bool ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
                if (sym == SDLK_F9) {
                    RotateScreen();
                } else if (ctrl && sym >= SDLK_0 && sym <= SDLK_9) {
                    InjectVirtualKey(static_cast<UINT>('0' + (sym - SDLK_0)), true);
                } else {
                    UINT vk = 0;
                    switch (sym) {
                    case SDLK_F1: vk = VK_TSOFT1; break;
                    case SDLK_F2: vk = VK_TSOFT2; break;
                    case SDLK_UP: vk = VK_UP; break;
                    case SDLK_DOWN: vk = VK_DOWN; break;
                    case SDLK_LEFT: vk = VK_LEFT; break;
                    case SDLK_RIGHT: vk = VK_RIGHT; break;
                    case SDLK_RETURN:
                    case SDLK_KP_ENTER: vk = VK_RETURN; break;
                    case SDLK_ESCAPE: vk = VK_ESCAPE; break;
                    case SDLK_BACKSPACE: vk = VK_BACK; break;
                    case SDLK_DELETE: vk = VK_DELETE; break;
                    case SDLK_HOME: vk = VK_HOME; break;
                    case SDLK_END: vk = VK_END; break;
                    default: break;
                    }
                    if (vk) InjectVirtualKey(vk, false);
                }
                break;
            }
            default: break;
            }
        }
        int sw = ScreenWidth(), sh = ScreenHeight();
        if (sw != texW || sh != texH) {
            SDL_SetWindowSize(win, sw, sh);
            SDL_DestroyTexture(tex);
            tex = SDL_CreateTexture(ren, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, sw, sh);
            texW = sw;
            texH = sh;
            d.dirty = true;
        }
        // Drawing that never ends in EndPaint or ReleaseDC (an animation thread keeping its
        // window DC) shows through the surfaces' drawing counters.
        uint64_t generation = 0;
        {
            std::lock_guard lk(M().mu);
            for (HWND t : M().topLevel)
                if (auto w = FindLocked(t); w && w->surface && (w->style & WS_VISIBLE))
                    generation += w->surface->generation() + reinterpret_cast<uintptr_t>(t);
        }
        if (generation != lastGeneration) {
            lastGeneration = generation;
            d.dirty = true;
        }
        if (d.dirty.exchange(false)) {
            std::lock_guard g(GdiMutex());
            Composite(*d.screen);
            if (d.screen->width() == texW && d.screen->height() == texH)
                SDL_UpdateTexture(tex, nullptr, d.screen->pixels(), d.screen->stride() * 4);
        }
        SDL_RenderClear(ren);
        SDL_RenderCopy(ren, tex, nullptr, nullptr);
        SDL_RenderPresent(ren);
    }
    SDL_DestroyTexture(tex);
    SDL_DestroyRenderer(ren);
    SDL_DestroyWindow(win);
}

}  // namespace

DisplayOptions ParseDisplayOptions(int argc, const char* const* argv) {
    DisplayOptions o;
    ApplyEnv(&o);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);
    ParseArgs(args, &o);
    return o;
}

DisplayOptions ParseDisplayOptions(const std::wstring& commandLine) {
    DisplayOptions o;
    ApplyEnv(&o);
    std::vector<std::string> args;
    std::wstring cur;
    bool quoted = false, any = false;
    for (wchar_t c : commandLine) {
        if (c == L'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == L' ' || c == L'\t') && !quoted) {
            if (any) args.push_back(platform::WideToUtf8(cur));
            cur.clear();
            any = false;
        } else {
            cur += c;
            any = true;
        }
    }
    if (any) args.push_back(platform::WideToUtf8(cur));
    ParseArgs(args, &o);
    return o;
}

// Programs started from here show their windows as ours: same mode, current screen size.
static void PublishToChildren() {
    int w, h;
    {
        std::lock_guard lk(M().mu);
        w = M().screenW;
        h = M().screenH;
    }
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    platform::SetChildEnvironment("LUMEO_SCREEN", size.c_str());
    platform::SetChildEnvironment("LUMEO_HEADLESS", D().headless ? "1" : "0");
}

int StartDisplay(const DisplayOptions& options) {
    auto& d = D();
    if (!options.error.empty()) {
        std::fprintf(stderr, "Lumeo: %s\n", options.error.c_str());
        return -1;
    }
    std::vector<ScriptCommand> script;
    if (!options.script.empty()) {
        FILE* f = std::fopen(options.script.c_str(), "rb");
        if (!f) {
            std::fprintf(stderr, "Lumeo: cannot read script %s\n", options.script.c_str());
            return -1;
        }
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
        std::string err;
        if (!ParseScript(text, &script, &err)) {
            std::fprintf(stderr, "Lumeo: %s: %s\n", options.script.c_str(), err.c_str());
            return -1;
        }
    }
    StopDisplay();
    InstallDCHooks();
    SetSize(options.width, options.height);
    d.startW = options.width;
    d.startH = options.height;
    {
        std::lock_guard lk(M().mu);
        M().rotation = 0;
    }
    platform::SetDisplayOrientation(DMDO_0);  // the orientation query answers from here on
    {
        std::lock_guard g(GdiMutex());
        d.screen->Resize(options.width, options.height, 0);
    }
    d.headless = options.headless;
    d.scripted = !script.empty();
    d.stop = false;
    d.dirty = true;
    SetScreenDirtyListener([] { D().dirty = true; });
    if (!d.headless) {
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "Lumeo: no display (%s); running headless\n", SDL_GetError());
            d.headless = true;
        } else {
            d.thread = std::thread([w = options.width, h = options.height] { SdlLoop(w, h); });
        }
    }
    d.running = true;
    PublishToChildren();
    if (!script.empty()) RunScript(script);
    return 0;
}

void StopDisplay() {
    auto& d = D();
    StopScript();
    d.stop = true;
    if (d.thread.joinable()) {
        d.thread.join();
        SDL_Quit();
    }
    d.running = false;
}

bool DisplayRunning() { return D().running; }
bool DisplayIsHeadless() { return D().headless; }
bool DisplayHasScript() { return D().scripted; }

void SetScreenSize(int width, int height) {
    SetSize(width, height);
    {
        std::lock_guard g(GdiMutex());
        D().screen->Resize(width, height, 0);
    }
    PublishToChildren();
}

int ScreenWidth() {
    std::lock_guard lk(M().mu);
    return M().screenW;
}

int ScreenHeight() {
    std::lock_guard lk(M().mu);
    return M().screenH;
}

int DisplayOrientation() {
    std::lock_guard lk(M().mu);
    static const int kOrient[] = {DMDO_0, DMDO_90, DMDO_180, DMDO_270};
    return kOrient[M().rotation & 3];
}

void RotateScreen() {
    int w, h;
    {
        std::lock_guard lk(M().mu);
        std::swap(M().screenW, M().screenH);
        M().rotation = (M().rotation + 1) & 3;
        w = M().screenW;
        h = M().screenH;
    }
    {
        std::lock_guard g(GdiMutex());
        D().screen->Resize(w, h, 0);
    }
    platform::SetDisplayOrientation(static_cast<DWORD>(DisplayOrientation()));
    PublishToChildren();
    ScreenChanged();
    MarkScreenDirty();
}

bool SaveScreenshot(const std::string& path) {
    auto& d = D();
    std::lock_guard g(GdiMutex());
    {
        std::lock_guard lk(M().mu);
        if (d.screen->width() != M().screenW || d.screen->height() != M().screenH)
            d.screen->Resize(M().screenW, M().screenH, 0);
    }
    Composite(*d.screen);
    return WritePng(*d.screen, path);
}

COLORREF ScreenPixel(int x, int y) {
    auto& d = D();
    std::lock_guard g(GdiMutex());
    {
        std::lock_guard lk(M().mu);
        if (d.screen->width() != M().screenW || d.screen->height() != M().screenH)
            d.screen->Resize(M().screenW, M().screenH, 0);
    }
    Composite(*d.screen);
    if (x < 0 || y < 0 || x >= d.screen->width() || y >= d.screen->height()) return CLR_INVALID;
    return ColorrefFromXrgb(d.screen->at(x, y));
}

bool InjectKey(const std::string& name) {
    for (auto& k : kKeys) {
        if (name == k.name) {
            InjectVirtualKey(k.vk, false);
            return true;
        }
    }
    if (name.size() == 6 && name.rfind("ctrl+", 0) == 0 && name[5] >= '0' && name[5] <= '9') {
        InjectVirtualKey(static_cast<UINT>(name[5]), true);
        return true;
    }
    return false;
}

}  // namespace platform::ui

std::shared_ptr<platform::Surface> platform::ui::detail::ScreenSurface() { return platform::ui::D().screen; }
