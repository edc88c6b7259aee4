// The program's resources: strings, menus, the accelerator table, the soft-key bars and
// the settings pages.
#include "lumeo.h"
#include "videoPageDlg.h"
#include "platform/ui.h"

namespace {
using platform::ui::MenuBarButtonDef;
using platform::ui::MenuItemDef;

const WORD kButton = 0x10, kDropDown = 0x18, kNoPopup = 0xFFFF;

void AddBar(int id, WORD menu, MenuBarButtonDef left, MenuBarButtonDef right) {
    platform::ui::AddResource(RT_RCDATA, MAKEINTRESOURCEW(id), platform::ui::BuildMenuBar(menu, {left, right}));
}
}  // namespace

void RegisterResources() {
    platform::ui::AddString(IDS_APP_TITLE, L"澜映");
    platform::ui::AddString(IDS_EXIT, L"退出");
    platform::ui::AddString(IDS_MENU, L"菜单");
    platform::ui::AddString(IDS_LIST, L"列表");
    platform::ui::AddString(IDS_BACK, L"返回");
    platform::ui::AddString(IDC_LUMEO, L"澜映");
    // String 107, the left key of bars 501 and 506, stays blank: its command does nothing.
    platform::ui::AddIcon(IDI_LUMEO);

    platform::ui::AddMenu(MAKEINTRESOURCEW(IDR_MENU_MAIN),
                          {MenuItemDef{0, L"菜单",
                                       {{IDM_TAB_HOT, L"推荐  (&1)", {}},
                                        {IDM_TAB_CLASSIFY, L"分类  (&2)", {}},
                                        {IDM_TAB_SEARCH, L"搜索  (&3)", {}},
                                        {IDM_TAB_RANK, L"排行  (&4)", {}},
                                        {IDM_HELP, L"帮助  (&5)", {}},
                                        {IDM_ABOUT, L"关于  (&6)", {}},
                                        {IDM_EXIT, L"退出  (&0)", {}}}}});
    platform::ui::AddMenu(L"IDR_MENU_LV", {MenuItemDef{0, L"",
                                                       {{IDM_PLAY, L"播放(&1)", {}},
                                                        {IDM_DETAIL, L"查看详情(&2)", {}},
                                                        {IDM_HELP, L"帮助(&3)", {}},
                                                        {0, L"", {}},
                                                        {IDM_CANCEL, L"取消(&0)", {}}}}});
    platform::ui::AddMenu(MAKEINTRESOURCEW(IDR_MENU_DETAIL), {MenuItemDef{0, L"",
                                                                          {{IDM_DETAIL_PLAY, L"播放(&1)", {}},
                                                                           {IDM_HELP, L"帮助(&2)", {}},
                                                                           {0, L"", {}},
                                                                           {IDM_CANCEL, L"取消(&0)", {}}}}});
    platform::ui::AddMenu(MAKEINTRESOURCEW(IDR_MENU_EXIT), {MenuItemDef{IDS_EXIT, L"退出(&0)", {}}});

    BYTE key = FVIRTKEY | FCONTROL;
    platform::ui::AddAccelerators(IDA_LUMEO, {{key, '1', IDM_TAB_HOT},
                                              {key, '2', IDM_TAB_CLASSIFY},
                                              {key, '3', IDM_TAB_SEARCH},
                                              {key, '4', IDM_TAB_RANK},
                                              {key, '5', IDM_ABOUT},
                                              {key, '6', IDM_HELP},
                                              {key, '0', IDM_EXIT}});

    AddBar(IDB_STARTUP, IDR_MENU_MAIN, {IDM_NONE, 107, kButton, kNoPopup}, {IDM_EXIT, IDS_EXIT, kButton, kNoPopup});
    AddBar(IDB_LIST, IDR_MENU_MAIN, {IDM_EXIT, IDS_EXIT, kButton, kNoPopup}, {IDM_MENU, IDS_MENU, kDropDown, 0});
    AddBar(IDB_DETAIL, IDR_MENU_MAIN, {IDM_DETAIL_BACK, IDS_BACK, kButton, kNoPopup},
           {IDM_MENU, IDS_MENU, kDropDown, 0});
    AddBar(IDB_HELP, IDR_MENU_MAIN, {IDM_HELP_BACK, IDS_BACK, kButton, kNoPopup}, {IDM_MENU, IDS_MENU, kDropDown, 0});
    AddBar(IDB_HELP_TEXT, IDR_MENU_MAIN, {IDM_HELP_TEXT_BACK, IDS_BACK, kButton, kNoPopup},
           {IDM_MENU, IDS_MENU, kDropDown, 0});
    // The wait dialog (placed from the skin when it is made, so its size never shows).
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(101),
                              platform::ui::BuildDialogTemplate(0x90000E48, 0, 0, 0, 110, 59, 8, L"MS Shell Dlg"));
    AddBar(IDB_SETTINGS, 0, {IDM_NONE, 107, kButton, kNoPopup}, {IDM_NONE, 107, kButton, kNoPopup});

    // The two pages of the settings sheet, without controls of their own.
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(IDD_VIDEO_PAGE),
                              platform::ui::BuildDialogTemplate(WS_CHILD | DS_SETFONT, 0, 0, 0, 240, 321, 8,
                                                                L"MS Shell Dlg", L"视频"));
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(IDD_AUDIO_PAGE),
                              platform::ui::BuildDialogTemplate(WS_CHILD | DS_SETFONT, 0, 0, 0, 241, 321, 8,
                                                                L"MS Shell Dlg", L"音频"));
}
