#include "platform/com.h"

namespace {
thread_local int t_count = 0;
thread_local DWORD t_model = 0;
}  // namespace

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    const DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
    if (reserved || (coInit & ~known)) return E_INVALIDARG;
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (t_count > 0) {
        if (model != t_model) return RPC_E_CHANGED_MODE;
        ++t_count;
        return S_FALSE;
    }
    t_model = model;
    t_count = 1;
    return S_OK;
}

void CoUninitialize() {
    if (t_count > 0) --t_count;
}
