// Growable arrays. The capacity is kept in a small header in front of the data.
#include <cstdlib>
#include <cstring>

#include "core/array.h"

namespace {

struct Header {
    size_t capacity;
    alignas(std::max_align_t) char data[1];
};
constexpr size_t kHeader = offsetof(Header, data);
constexpr size_t kDefaultStep = 256;

Header* HeaderOf(Array* p) { return p->data ? reinterpret_cast<Header*>(p->data - kHeader) : nullptr; }

bool Grow(Array* p, size_t total, int align) {
    Header* h = HeaderOf(p);
    if (h && h->capacity >= total) return true;
    size_t step = align > 0 ? static_cast<size_t>(align) : kDefaultStep;
    size_t cap = (total + step - 1) / step * step;
    if (cap < total) return false;
    size_t used = ArraySize(p);
    auto* n = static_cast<Header*>(std::realloc(h, kHeader + cap));
    if (!n) return false;
    n->capacity = cap;
    p->data = n->data;
    p->end = n->data + used;
    return true;
}

}  // namespace

bool ArrayAlloc(Array* p, size_t total, int align) { return Grow(p, total, align); }

void* ArrayAppend(Array* p, const void* data, size_t length, int align) {
    size_t used = ArraySize(p);
    if (used + length < used) return nullptr;
    if (!Grow(p, used + length, align)) return nullptr;
    char* at = p->end;
    if (data && length) std::memcpy(at, data, length);
    p->end += length;
    return at;
}

void* ArrayLock(Array* p) { return p->data; }

void ArrayDrop(Array* p) { p->end = p->data; }

void ArrayClear(Array* p) {
    std::free(HeaderOf(p));
    p->data = p->end = nullptr;
}
