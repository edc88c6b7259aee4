// The channel and ranking pages' buttons (the list page's own window is the list view).
#pragma once

#include "tools.h"

extern const ButtonDef g_channelButtons[6];
extern const ButtonDef g_rankButtons[3];
extern HWND g_hChannelBtn[6];
extern HWND g_hRankBtn[3];
