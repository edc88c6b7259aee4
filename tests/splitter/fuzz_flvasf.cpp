// libFuzzer target for one reader (FUZZ_READER: FLV_, RASF or RASH) over the core's
// memory stream: open, read everything, seek, read on. The sanitizers catch the faults.
#include <cstddef>
#include <cstdint>

#include "asf.h"
#include "core/common.h"
#include "flv.h"

#ifndef FUZZ_READER
#define FUZZ_READER FLV_CLASS
#endif
#ifndef FUZZ_STREAM_CLASS
#define FUZZ_STREAM_CLASS 0
#endif

namespace {

void ReadOn(Format* f, size_t calls) {
    for (size_t i = 0; i < calls; ++i) {
        Packet p{};
        int r = f->readPacket(f, &f->input[0], &p);
        if (r == ERR_NONE) {
            Format_ReleaseRef(p.data);
            continue;
        }
        if (r != ERR_NO_PACKET) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = (FlvRegister(), AsfRegister(), true);
    (void)registered;
    Stream* s = MemStreamCreate(data, static_cast<int>(size), FUZZ_STREAM_CLASS);
    auto* f = static_cast<Format*>(NodeCreate(FUZZ_READER));
    if (s && f) {
        Format_SetInput(f, 0, s);
        if (f->openFormat(f) == ERR_NONE) {
            ReadOn(f, size + 16);
            if (FUZZ_READER == FLV_CLASS)
                f->seekFormat(f, -1, static_cast<int>(size / 2), 0);
            else
                f->seekFormat(f, 16384, -1, 0);
            ReadOn(f, size + 16);
        }
        f->closeFormat(f);
    }
    NodeDelete(f);
    NodeDelete(s);
    return 0;
}
