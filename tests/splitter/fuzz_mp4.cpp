// libFuzzer target: the MP4/QuickTime reader over the core's memory stream. Opens the
// input, reads its packets, seeks once and reads again.
#include <cstddef>
#include <cstdint>

#include "core/common.h"
#include "core/host.h"
#include "mp4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool registered = (NodeRegisterClass(&Mp4Class), true);
    (void)registered;
    if (size > (16u << 20))
        return 0;
    core::Host host;
    if (host.OpenStream(MemStreamCreate(data, int(size))) != 0)
        return 0;
    Packet p{};
    for (int pass = 0; pass < 2; ++pass) {
        for (int n = 0; n < 100000 && host.ReadPacket(&p) == 0; ++n) {
            Format_ReleaseRef(p.data);
            p = Packet{};
        }
        Format* f = host.reader();
        if (pass == 0 && f->seekFormat(f, 16384, -1, 1) != 0)
            break;
    }
    return 0;
}
