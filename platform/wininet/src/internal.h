// Shared pieces of the WinINet layer's sources.
#pragma once

#include <curl/curl.h>

#include "platform/wininet.h"

namespace wininet {

void RegisterTexts();
// The WinINet code of a failed transfer. `inBody`: the answer's headers had arrived.
DWORD MapCurlResult(CURLcode code, bool inBody, bool async);

}  // namespace wininet
