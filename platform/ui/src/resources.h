// Menus and the resource store, shared by the pop-up menu, the soft-key bar and dialogs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/winuser.h"

#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif

namespace platform::ui::detail {

struct Menu;
struct MenuItem {
    UINT id = 0;
    std::wstring text;
    bool separator = false;
    bool grayed = false;
    std::shared_ptr<Menu> sub;
};
struct Menu {
    bool popup = false;
    std::vector<MenuItem> items;
};

std::wstring ResourceKey(LPCWSTR name);
std::shared_ptr<Menu> MenuFromHandle(HMENU h);
HMENU NewMenuHandle(std::shared_ptr<Menu> m);

// Shows `menu` at screen point (x, y) and runs its modal loop on this thread. The chosen
// command, or 0 when the menu was dismissed.
UINT RunPopupMenu(const std::shared_ptr<Menu>& menu, int x, int y, HWND owner, bool alignBottom);

}  // namespace platform::ui::detail
