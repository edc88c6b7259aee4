#include "audioPageDlg.h"

#include "driverPage.h"
#include "registry.h"
#include "videoPageDlg.h"

namespace {

const DriverPageKind kAudioPage = {
    false, IDC_AUDIO_DRIVER_FIRST, L"音频驱动", L"not enough memory : aDriverNum=%d", L"GetAudioDriverReg failed",
    L"SetAudioDriverReg failed", GetAudioDriverReg, SetAudioDriverReg, CallSetAudioOutput,
};
DriverPage g_audioPage;

}  // namespace

INT_PTR AudioPageDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DriverPageProc(kAudioPage, g_audioPage, hwnd, msg, wParam, lParam);
}
