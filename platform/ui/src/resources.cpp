// The program's resources: strings, accelerators, icons, menus and raw blocks (dialog
// templates, soft-key bars), registered by the program as C++ tables.
#include <algorithm>
#include <cstring>

#include "platform/codepage.h"
#include "platform/lasterror.h"
#include "resources.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

struct Store {
    std::mutex mu;
    std::map<UINT, std::wstring> strings;
    std::map<UINT, std::vector<ACCEL>> accels;
    std::map<std::wstring, std::vector<MenuItemDef>> menus;
    std::map<std::pair<std::wstring, std::wstring>, std::shared_ptr<std::vector<BYTE>>> raw;
    std::vector<std::shared_ptr<Menu>> liveMenus;
    std::vector<std::shared_ptr<std::vector<ACCEL>>> liveAccels;
};

Store& S() {
    static auto* s = new Store;
    return *s;
}

}  // namespace

std::wstring ResourceKey(LPCWSTR name) {
    if (!name) return L"";
    if (IS_INTRESOURCE(name)) return L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name));
    if (name[0] == L'#') return name;
    return Lower(name);
}

std::shared_ptr<Menu> MenuFromHandle(HMENU h) {
    std::lock_guard lk(S().mu);
    for (auto& m : S().liveMenus)
        if (reinterpret_cast<HMENU>(m.get()) == h) return m;
    return nullptr;
}

static std::shared_ptr<Menu> BuildMenu(const std::vector<MenuItemDef>& items, bool popup) {
    auto m = std::make_shared<Menu>();
    m->popup = popup;
    for (auto& d : items) {
        MenuItem it;
        it.id = d.id;
        it.text = d.text;
        it.separator = d.id == 0 && d.text.empty() && d.popup.empty();
        if (!d.popup.empty()) it.sub = BuildMenu(d.popup, true);
        m->items.push_back(std::move(it));
    }
    return m;
}

static void Keep(const std::shared_ptr<Menu>& m) {
    S().liveMenus.push_back(m);
    for (auto& it : m->items)
        if (it.sub) Keep(it.sub);
}

HMENU NewMenuHandle(std::shared_ptr<Menu> m) {
    std::lock_guard lk(S().mu);
    Keep(m);
    return reinterpret_cast<HMENU>(m.get());
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

namespace platform::ui {

void AddString(UINT id, const std::wstring& text) {
    std::lock_guard lk(S().mu);
    S().strings[id] = text;
}

void AddAccelerators(UINT id, const std::vector<ACCEL>& entries) {
    std::lock_guard lk(S().mu);
    S().accels[id] = entries;
}

void AddIcon(UINT id) { AddResource(RT_ICON, MAKEINTRESOURCEW(id), {0}); }

void AddMenu(LPCWSTR name, const std::vector<MenuItemDef>& items) {
    std::lock_guard lk(S().mu);
    S().menus[ResourceKey(name)] = items;
}

void AddResource(LPCWSTR type, LPCWSTR name, std::vector<BYTE> bytes) {
    std::lock_guard lk(S().mu);
    S().raw[{ResourceKey(type), ResourceKey(name)}] = std::make_shared<std::vector<BYTE>>(std::move(bytes));
}

static void PutWord(std::vector<BYTE>* out, WORD w) {
    out->push_back(static_cast<BYTE>(w & 0xFF));
    out->push_back(static_cast<BYTE>(w >> 8));
}

std::vector<BYTE> BuildDialogTemplate(DWORD style, DWORD exStyle, short x, short y, short cx, short cy, WORD fontSize,
                                      const std::wstring& face, const std::wstring& title) {
    DLGTEMPLATE t{style, exStyle, 0, x, y, cx, cy};
    std::vector<BYTE> out(sizeof t);
    std::memcpy(out.data(), &t, sizeof t);
    PutWord(&out, 0);  // no menu
    PutWord(&out, 0);  // the dialog class
    for (char16_t c : platform::WideToUtf16(title)) PutWord(&out, static_cast<WORD>(c));
    PutWord(&out, 0);
    if (style & DS_SETFONT) {
        PutWord(&out, fontSize);
        for (char16_t c : platform::WideToUtf16(face)) PutWord(&out, static_cast<WORD>(c));
        PutWord(&out, 0);
    }
    return out;
}

std::vector<BYTE> BuildMenuBar(WORD menuId, const std::vector<MenuBarButtonDef>& buttons) {
    std::vector<BYTE> out;
    PutWord(&out, menuId);
    PutWord(&out, static_cast<WORD>(buttons.size()));
    for (auto& b : buttons) {
        for (WORD w : {WORD(0xFFFE), b.command, WORD(4), b.style, b.stringId, WORD(0), b.popupIndex}) PutWord(&out, w);
    }
    return out;
}

}  // namespace platform::ui

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int capacity) {
    std::lock_guard lk(S().mu);
    auto it = S().strings.find(id);
    if (it == S().strings.end()) {
        if (buffer && capacity > 0) buffer[0] = 0;
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    if (!buffer) return 0;
    if (capacity == 0) {
        // The phone hands out a read-only pointer to the text in this case.
        *reinterpret_cast<const wchar_t**>(buffer) = it->second.c_str();
        return static_cast<int>(it->second.size());
    }
    int n = std::min<int>(static_cast<int>(it->second.size()), capacity - 1);
    std::copy_n(it->second.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

HACCEL LoadAcceleratorsW(HINSTANCE, LPCWSTR name) {
    std::vector<ACCEL> entries;
    {
        std::lock_guard lk(S().mu);
        UINT id = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<uintptr_t>(name)) : 0;
        auto it = S().accels.find(id);
        if (it == S().accels.end()) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        entries = it->second;
    }
    return CreateAcceleratorTableW(entries.data(), static_cast<int>(entries.size()));
}

HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count) {
    if (!entries || count <= 0) return nullptr;
    auto t = std::make_shared<std::vector<ACCEL>>(entries, entries + count);
    std::lock_guard lk(S().mu);
    S().liveAccels.push_back(t);
    return reinterpret_cast<HACCEL>(t.get());
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    std::lock_guard lk(S().mu);
    auto n = std::erase_if(S().liveAccels, [&](auto& t) { return reinterpret_cast<HACCEL>(t.get()) == table; });
    return n ? TRUE : FALSE;
}

int TranslateAcceleratorW(HWND hwnd, HACCEL table, LPMSG msg) {
    if (!msg || !table || msg->message != WM_KEYDOWN) return 0;
    std::vector<ACCEL> entries;
    {
        std::lock_guard lk(S().mu);
        for (auto& t : S().liveAccels)
            if (reinterpret_cast<HACCEL>(t.get()) == table) entries = *t;
    }
    bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    for (auto& a : entries) {
        if (!(a.fVirt & FVIRTKEY) || a.key != msg->wParam) continue;
        if (((a.fVirt & FCONTROL) != 0) != ctrl) continue;
        // The command goes to the window the key was meant for, which may be a child.
        SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}

HRSRC FindResourceW(HMODULE, LPCWSTR name, LPCWSTR type) {
    std::lock_guard lk(S().mu);
    auto it = S().raw.find({ResourceKey(type), ResourceKey(name)});
    if (it == S().raw.end()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HRSRC>(it->second.get());
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) { return resource; }
LPVOID LockResource(HGLOBAL data) {
    return data ? static_cast<std::vector<BYTE>*>(data)->data() : nullptr;
}
DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource ? static_cast<DWORD>(reinterpret_cast<std::vector<BYTE>*>(resource)->size()) : 0;
}

HICON LoadIconW(HINSTANCE, LPCWSTR name) {
    // Icons are not drawn anywhere; a registered id (or a system icon) gives a handle.
    if (IS_INTRESOURCE(name) && reinterpret_cast<uintptr_t>(name) >= 32512) return reinterpret_cast<HICON>(0x5000);
    if (!FindResourceW(nullptr, name, RT_ICON)) return nullptr;
    return reinterpret_cast<HICON>(0x5000 + (reinterpret_cast<uintptr_t>(name) & 0xFFFF) * 4);
}
BOOL DestroyIcon(HICON) { return TRUE; }

namespace {
HCURSOR g_cursor = nullptr;
}
HCURSOR LoadCursorW(HINSTANCE, LPCWSTR name) {
    return reinterpret_cast<HCURSOR>(0x6000 + (reinterpret_cast<uintptr_t>(name) & 0xFFFF) * 4);
}
HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR old = g_cursor;
    g_cursor = cursor;
    return old;
}

HMENU LoadMenuW(HINSTANCE, LPCWSTR name) {
    std::vector<platform::ui::MenuItemDef> items;
    {
        std::lock_guard lk(S().mu);
        auto it = S().menus.find(ResourceKey(name));
        if (it == S().menus.end()) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        items = it->second;
    }
    return NewMenuHandle(BuildMenu(items, false));
}

HMENU CreateMenu() { return NewMenuHandle(std::make_shared<Menu>()); }
HMENU CreatePopupMenu() {
    auto m = std::make_shared<Menu>();
    m->popup = true;
    return NewMenuHandle(m);
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCWSTR text) {
    auto m = MenuFromHandle(menu);
    if (!m) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    MenuItem it;
    it.separator = (flags & MF_SEPARATOR) != 0;
    it.grayed = (flags & (MF_GRAYED | MF_DISABLED)) != 0;
    if (flags & MF_POPUP) {
        it.sub = MenuFromHandle(reinterpret_cast<HMENU>(idOrPopup));
    } else {
        it.id = static_cast<UINT>(idOrPopup);
    }
    if (text && !it.separator) it.text = text;
    m->items.push_back(std::move(it));
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    auto m = MenuFromHandle(menu);
    if (!m) return FALSE;
    std::lock_guard lk(S().mu);
    std::function<void(const std::shared_ptr<Menu>&)> drop = [&](const std::shared_ptr<Menu>& x) {
        for (auto& it : x->items)
            if (it.sub) drop(it.sub);
        std::erase(S().liveMenus, x);
    };
    drop(m);
    return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
    auto m = MenuFromHandle(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return nullptr;
    auto& sub = m->items[static_cast<size_t>(position)].sub;
    return sub ? reinterpret_cast<HMENU>(sub.get()) : nullptr;
}

int GetMenuItemCount(HMENU menu) {
    auto m = MenuFromHandle(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    auto m = MenuFromHandle(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return 0xFFFFFFFFu;
    auto& it = m->items[static_cast<size_t>(position)];
    return it.sub ? 0xFFFFFFFFu : it.id;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    auto m = MenuFromHandle(menu);
    if (!m) return -1;
    for (size_t i = 0; i < m->items.size(); ++i) {
        bool match = (flags & MF_BYPOSITION) ? i == item : m->items[i].id == item;
        if (match) {
            BOOL old = m->items[i].grayed ? MF_GRAYED : MF_ENABLED;
            m->items[i].grayed = (flags & (MF_GRAYED | MF_DISABLED)) != 0;
            return old;
        }
    }
    return -1;
}
