// libFuzzer target: the MP4/QuickTime reader over the core's memory stream. Opens the
// input, reads its packets, seeks once and reads again.
#include <cstddef>
#include <cstdint>

#include "core/common.h"
#include "mp4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool registered = (NodeRegisterClass(&Mp4Class), true);
    (void)registered;
    if (size > (16u << 20))
        return 0;
    Stream* stream = MemStreamCreate(data, int(size));
    Format* f = static_cast<Format*>(NodeCreate(MP4_CLASS));
    if (stream && f) {
        Format_SetInput(f, 0, stream);
        if (f->openFormat(f) == 0) {
            Packet p{};
            for (int pass = 0; pass < 2; ++pass) {
                for (int n = 0; n < 100000 && f->readPacket(f, &f->input[0], &p) == 0; ++n) {
                    Format_ReleaseRef(p.data);
                    p = Packet{};
                }
                if (pass == 0 && f->seekFormat(f, 16384, -1, 1) != 0)
                    break;
            }
        }
    }
    NodeDelete(f);
    NodeDelete(stream);
    return 0;
}
