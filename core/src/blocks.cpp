// Data blocks and the references that chain views of them.
#include <cstdlib>
#include <cstring>

#include "core/format.h"

Block* Block_Alloc(int size) {
    if (size < 0) return nullptr;
    auto* b = static_cast<Block*>(std::malloc(sizeof(Block)));
    if (!b) return nullptr;
    b->data = static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
    if (!b->data) {
        std::free(b);
        return nullptr;
    }
    b->size = size;
    b->refCount = 1;
    return b;
}

void Block_Release(Block* b) {
    if (!b) return;
    if (--b->refCount > 0) return;
    std::free(b->data);
    std::free(b);
}

namespace {

BlockRef* NewRef(Block* block, uint8_t* data, int length) {
    auto* r = static_cast<BlockRef*>(std::malloc(sizeof(BlockRef)));
    if (!r) return nullptr;
    r->data = data;
    r->length = length;
    r->next = nullptr;
    r->block = block;
    ++block->refCount;
    return r;
}

}  // namespace

BlockRef* Format_AllocRef(int length) {
    Block* b = Block_Alloc(length);
    if (!b) return nullptr;
    BlockRef* r = NewRef(b, b->data, length);
    Block_Release(b);  // the reference holds it now
    return r;
}

BlockRef* Format_DupRef(const BlockRef* ref, int offset, int length) {
    if (!ref || offset < 0) return nullptr;
    int total = Format_RefLength(ref);
    if (offset > total) return nullptr;
    if (length < 0) length = total - offset;
    if (length > total - offset) return nullptr;
    BlockRef* head = nullptr;
    BlockRef** tail = &head;
    for (const BlockRef* p = ref; p; p = p->next) {
        if (offset >= p->length) {
            offset -= p->length;
            continue;
        }
        int take = p->length - offset;
        if (take > length) take = length;
        if (take > 0 || !head) {
            BlockRef* r = NewRef(p->block, p->data + offset, take);
            if (!r) {
                Format_ReleaseRef(head);
                return nullptr;
            }
            *tail = r;
            tail = &r->next;
        }
        length -= take;
        offset = 0;
        if (length == 0) break;
    }
    if (!head) {
        // An empty range at the very end of the chain.
        const BlockRef* last = ref;
        while (last->next) last = last->next;
        head = NewRef(last->block, last->data + last->length, 0);
    }
    return head;
}

void Format_ReleaseRef(BlockRef* ref) {
    while (ref) {
        BlockRef* next = ref->next;
        Block_Release(ref->block);
        std::free(ref);
        ref = next;
    }
}

int Format_RefLength(const BlockRef* ref) {
    long long n = 0;
    for (; ref; ref = ref->next) n += ref->length;
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}
