// The module's memory allocator: a function table over the C heap.
#include "module/services.h"

#include <cstdlib>

struct ko_MemoryAllocator_s {
  void *(*alloc)(void *ctx, size_t size);
  void *(*realloc)(void *ctx, void *ptr, size_t size);
  void (*free)(void *ctx, void *ptr);
  void *ctx;
};

namespace {
void *heapAlloc(void *, size_t size) { return std::malloc(size ? size : 1); }
void *heapRealloc(void *, void *ptr, size_t size) { return std::realloc(ptr, size); }
void heapFree(void *, void *ptr) { std::free(ptr); }

ko_MemoryAllocator_s defaultHeap = {heapAlloc, heapRealloc, heapFree, nullptr};

int noMemory() {
  if (PyGILState_Check()) PyErr_NoMemory();
  return -1;
}
}  // namespace

ko_MemoryAllocator_s *ko_MemoryAllocator_DefaultHeap = &defaultHeap;

int ko_MemoryAllocator_Alloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size) {
  void *p = a->alloc(a->ctx, size);
  if (!p) return noMemory();
  *(void **)pptr = p;
  return 0;
}

int ko_MemoryAllocator_Realloc_Untyped(ko_MemoryAllocator_s *a, void *pptr, size_t size) {
  void **slot = (void **)pptr;
  if (size == 0) return ko_MemoryAllocator_Free_Untyped(a, pptr);
  void *p = *slot ? a->realloc(a->ctx, *slot, size) : a->alloc(a->ctx, size);
  if (!p) return noMemory();   // the old block stays valid and owned by the caller
  *slot = p;
  return 0;
}

int ko_MemoryAllocator_Free_Untyped(ko_MemoryAllocator_s *a, void *pptr) {
  void **slot = (void **)pptr;
  if (*slot) {
    a->free(a->ctx, *slot);
    *slot = nullptr;
  }
  return 0;
}
