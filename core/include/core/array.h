// Growable arrays: a record of a data pointer and an end pointer. The storage grows in
// steps of `align` bytes (0 = a default step); readers may walk from data to end directly.
#pragma once

#include <cstddef>

struct Array {
    char* data;  // first byte, null while no storage
    char* end;   // behind the last byte in use
};

#define ARRAYBEGIN(a, T) (reinterpret_cast<T*>((a).data))
#define ARRAYEND(a, T) (reinterpret_cast<T*>((a).end))
#define ARRAYCOUNT(a, T) (static_cast<size_t>(ARRAYEND(a, T) - ARRAYBEGIN(a, T)))
#define ARRAYEMPTY(a) ((a).data == (a).end)

inline size_t ArraySize(const Array* p) { return static_cast<size_t>(p->end - p->data); }

// Reserves `total` bytes (the array stays as long as it is): true on success.
bool ArrayAlloc(Array* p, size_t total, int align);
// Appends `length` bytes (data null: reserves them, uninitialised): the new bytes, or
// null when memory runs out (the array is then unchanged).
void* ArrayAppend(Array* p, const void* data, size_t length, int align);
// The data pointer.
void* ArrayLock(Array* p);
// Empties the array and keeps its storage.
void ArrayDrop(Array* p);
// Frees the storage; the record is zero afterwards.
void ArrayClear(Array* p);
