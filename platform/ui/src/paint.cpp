// Update regions, paint messages, window DCs and the composition of top-level windows.
// Every top-level window keeps its pixels in a surface of its own size; its children draw
// into that surface at their place, parents before children.
#include <algorithm>

#include "platform/gdi.h"
#include "platform/lasterror.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

RECT ClientOf(const std::shared_ptr<Window>& w) {
    return RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
}

// Where the window's client area lies in its top-level surface, and the part of it that
// is visible there (cut by every ancestor). Caller holds M().mu.
void SurfaceGeometry(const std::shared_ptr<Window>& w, POINT* origin, RECT* clip,
                     std::shared_ptr<Window>* top) {
    POINT o{0, 0};
    RECT c = ClientOf(w);
    bool shown = (w->style & WS_VISIBLE) != 0;
    auto cur = w;
    while (cur->parent) {
        auto p = FindLocked(cur->parent);
        if (!p) break;
        o.x += cur->rect.left;
        o.y += cur->rect.top;
        OffsetRect(&c, cur->rect.left, cur->rect.top);
        RECT pc = ClientOf(p);
        IntersectRect(&c, &c, &pc);
        if (!(p->style & WS_VISIBLE)) shown = false;
        cur = p;
    }
    if (!shown) c = RECT{0, 0, 0, 0};
    // c is now in the top-level window's client coordinates, which are its surface's.
    *origin = o;
    *clip = c;
    if (top) *top = cur;
}

void CollectPreOrder(const std::shared_ptr<Window>& w, std::vector<std::shared_ptr<Window>>* out) {
    out->push_back(w);
    for (HWND c : w->children)
        if (auto cw = FindLocked(c)) CollectPreOrder(cw, out);
}

}  // namespace

void InvalidateInternal(const std::shared_ptr<Window>& w, const RECT* rc, bool erase) {
    if (!w || w->remote) return;
    std::shared_ptr<ThreadQueue> q;
    {
        std::lock_guard lk(M().mu);
        RECT client = ClientOf(w);
        RECT r = rc ? *rc : client;
        IntersectRect(&r, &r, &client);
        if (IsRectEmpty(&r)) return;
        UnionRect(&w->update, &w->update, &r);
        w->erase = w->erase || erase;
        // What a parent paints there covers its children: they paint again after it.
        for (HWND c : w->children) {
            auto cw = FindLocked(c);
            if (!cw || !(cw->style & WS_VISIBLE)) continue;
            RECT inChild = r;
            OffsetRect(&inChild, -cw->rect.left, -cw->rect.top);
            InvalidateInternal(cw, &inChild, true);
        }
        q = w->queue;
    }
    std::lock_guard ql(q->mu);
    q->Wake();
}

void InvalidateScreenArea(const RECT& screenRc) {
    std::vector<std::pair<std::shared_ptr<Window>, RECT>> hits;
    {
        std::lock_guard lk(M().mu);
        for (HWND t : M().topLevel) {
            auto w = FindLocked(t);
            if (!w || w->remote || !(w->style & WS_VISIBLE)) continue;
            RECT r;
            if (!IntersectRect(&r, &screenRc, &w->rect)) continue;
            OffsetRect(&r, -w->rect.left, -w->rect.top);
            hits.emplace_back(w, r);
        }
    }
    for (auto& [w, r] : hits) InvalidateInternal(w, &r, true);
    MarkScreenDirty();
}

bool FindPaintWindow(DWORD threadId, HWND filter, HWND* out) {
    std::lock_guard lk(M().mu);
    std::vector<std::shared_ptr<Window>> order;
    for (HWND t : M().topLevel)
        if (auto w = FindLocked(t)) CollectPreOrder(w, &order);
    for (auto& w : order) {
        if (w->threadId != threadId || IsRectEmpty(&w->update) || !IsShown(w)) continue;
        if (filter && w->h != filter) continue;
        *out = w->h;
        return true;
    }
    return false;
}

void OnTopLevelResized(const std::shared_ptr<Window>& w) {
    int width, height;
    {
        std::lock_guard lk(M().mu);
        width = w->rect.right - w->rect.left;
        height = w->rect.bottom - w->rect.top;
    }
    {
        std::lock_guard g(GdiMutex());
        if (!w->surface) w->surface = std::make_shared<Surface>();
        if (w->surface->width() != width || w->surface->height() != height)
            w->surface->Resize(width, height, 0xFFFFFF);
    }
    UpdateDCGeometry(w);
}

void UpdateDCGeometry(const std::shared_ptr<Window>& w) {
    std::lock_guard lk(M().mu);
    std::vector<std::shared_ptr<Window>> tree;
    CollectPreOrder(w, &tree);
    for (auto& t : tree) {
        if (t->dcs.empty()) continue;
        POINT o;
        RECT c;
        SurfaceGeometry(t, &o, &c, nullptr);
        for (HDC dc : t->dcs) SetSurfaceDCGeometry(dc, o, c);
    }
}

static HDC MakeWindowDC(const std::shared_ptr<Window>& w, const RECT* limit, bool track) {
    std::lock_guard lk(M().mu);
    POINT o;
    RECT c;
    std::shared_ptr<Window> top;
    SurfaceGeometry(w, &o, &c, &top);
    if (limit) {
        RECT l = *limit;
        OffsetRect(&l, o.x, o.y);
        IntersectRect(&c, &c, &l);
    }
    HDC dc = CreateSurfaceDC(top->surface, o, c);
    if (dc && track) w->dcs.push_back(dc);
    return dc;
}

LRESULT EraseWithClassBrush(HWND hwnd, HDC dc) {
    auto w = Find(hwnd);
    if (!w || !dc || !w->cls->wc.hbrBackground) return 0;
    RECT r = ClientOf(w);
    FillRect(dc, &r, w->cls->wc.hbrBackground);
    return 1;
}

namespace {

std::mutex& DirtyMu() {
    static auto* m = new std::mutex;
    return *m;
}
std::function<void()>& DirtyListener() {
    static auto* f = new std::function<void()>;
    return *f;
}

}  // namespace

void MarkScreenDirty() {
    std::function<void()> f;
    {
        std::lock_guard lk(DirtyMu());
        f = DirtyListener();
    }
    if (f) f();
}

void SetScreenDirtyListener(std::function<void()> f) {
    std::lock_guard lk(DirtyMu());
    DirtyListener() = std::move(f);
}

void Composite(Surface& screen) {
    std::lock_guard g(GdiMutex());
    std::lock_guard lk(M().mu);
    screen.Fill(0x202020);
    for (HWND t : M().topLevel) {
        auto w = FindLocked(t);
        if (!w || w->remote || !(w->style & WS_VISIBLE) || !w->surface) continue;
        const Surface& s = *w->surface;
        int x0 = std::max<int>(0, w->rect.left), y0 = std::max<int>(0, w->rect.top);
        int x1 = std::min<int>(screen.width(), w->rect.left + s.width());
        int y1 = std::min<int>(screen.height(), w->rect.top + s.height());
        for (int y = y0; y < y1; ++y) {
            const uint32_t* src = s.row(y - w->rect.top) + (x0 - w->rect.left);
            std::copy(src, src + std::max(0, x1 - x0), screen.row(y) + x0);
        }
    }
    screen.Touch();
}

void InstallDCHooks() {
    WindowDCHooks hooks;
    hooks.getDC = [](HWND hwnd) -> HDC {
        if (!hwnd) {
            // The screen itself: what is drawn there lasts until the next composition.
            auto screen = ScreenSurface();
            std::lock_guard g(GdiMutex());
            return CreateSurfaceDC(screen, POINT{0, 0}, RECT{0, 0, screen->width(), screen->height()});
        }
        auto w = Find(hwnd);
        if (!w || w->remote) return nullptr;
        return MakeWindowDC(w, nullptr, true);
    };
    hooks.releaseDC = [](HWND hwnd, HDC dc) {
        if (auto w = Find(hwnd)) {
            std::lock_guard lk(M().mu);
            std::erase(w->dcs, dc);
        }
        MarkScreenDirty();
    };
    SetWindowDCHooks(std::move(hooks));
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
    if (!hwnd) {
        // The whole screen.
        std::vector<HWND> tops;
        {
            std::lock_guard lk(M().mu);
            tops = M().topLevel;
        }
        for (HWND t : tops) InvalidateInternal(Find(t), nullptr, erase != FALSE);
        return TRUE;
    }
    auto w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    InvalidateInternal(w, rect, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard lk(M().mu);
    ++w->validations;
    if (!rect) {
        w->update = RECT{0, 0, 0, 0};
        w->erase = false;
        return TRUE;
    }
    // The update area is kept as one rectangle: it is cleared only when fully covered.
    RECT u;
    UnionRect(&u, &w->update, rect);
    if (EqualRect(&u, rect)) {
        w->update = RECT{0, 0, 0, 0};
        w->erase = false;
    }
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::lock_guard lk(M().mu);
    if (rect) *rect = w->update;
    return !IsRectEmpty(&w->update);
}

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT ps) {
    auto w = Find(hwnd);
    if (!w || !ps) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    *ps = PAINTSTRUCT{};
    bool erase;
    {
        std::lock_guard lk(M().mu);
        ps->rcPaint = w->update;
        ++w->validations;
        erase = w->erase;
        w->update = RECT{0, 0, 0, 0};
        w->erase = false;
    }
    // Children are clipped out on the device: what the parent paints here now covers a child
    // that painted before it, so that child paints again after it.
    std::vector<std::pair<std::shared_ptr<Window>, RECT>> covered;
    {
        std::lock_guard lk(M().mu);
        for (HWND c : w->children) {
            auto cw = FindLocked(c);
            if (!cw || !(cw->style & WS_VISIBLE)) continue;
            RECT r;
            if (!IntersectRect(&r, &ps->rcPaint, &cw->rect)) continue;
            OffsetRect(&r, -cw->rect.left, -cw->rect.top);
            covered.emplace_back(cw, r);
        }
    }
    for (auto& [cw, r] : covered) InvalidateInternal(cw, &r, true);
    ps->hdc = MakeWindowDC(w, &ps->rcPaint, false);
    ps->fErase = TRUE;
    if (erase && ps->hdc) ps->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ps->hdc), 0) ? FALSE : TRUE;
    return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps) {
    if (ps && ps->hdc) DeleteDC(ps->hdc);
    MarkScreenDirty();
    return TRUE;
}

HDC GetWindowDC(HWND hwnd) { return GetDC(hwnd); }

BOOL UpdateWindow(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w) return FALSE;
    std::vector<HWND> todo;
    {
        std::lock_guard lk(M().mu);
        std::vector<std::shared_ptr<Window>> tree;
        CollectPreOrder(w, &tree);
        for (auto& t : tree)
            if (!IsRectEmpty(&t->update) && IsShown(t)) todo.push_back(t->h);
    }
    // Synchronous, on the window's own thread (the sender waits when that is another).
    for (HWND h : todo) {
        auto t = Find(h);
        if (!t) continue;
        bool dirty;
        {
            std::lock_guard lk(M().mu);
            dirty = !IsRectEmpty(&t->update);
        }
        if (dirty) SendMessageW(h, WM_PAINT, 0, 0);
    }
    return TRUE;
}
