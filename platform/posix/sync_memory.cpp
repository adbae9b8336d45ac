// Critical sections (recursive, as in Win32) and global memory blocks.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/win32.h"

void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}
void EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(&cs->mutex); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return pthread_mutex_trylock(&cs->mutex) == 0 ? TRUE : FALSE;
}
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(&cs->mutex); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_destroy(&cs->mutex); }

namespace {
// A global memory block: its size, a lock count, then the bytes.
struct Block {
  SIZE_T size;
  unsigned locks;
  alignas(std::max_align_t) unsigned char data[1];
};
}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  const SIZE_T total = offsetof(Block, data) + (dwBytes == 0 ? 1 : dwBytes);
  void* raw = std::malloc(total);
  if (raw == nullptr) return nullptr;
  if ((uFlags & GMEM_ZEROINIT) != 0) std::memset(raw, 0, total);
  auto* b = static_cast<Block*>(raw);
  b->size = dwBytes;
  b->locks = 0;
  return b;
}

LPVOID GlobalLock(HGLOBAL hMem) {
  if (hMem == nullptr) return nullptr;
  auto* b = static_cast<Block*>(hMem);
  ++b->locks;
  return b->data;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  if (hMem == nullptr) return FALSE;
  auto* b = static_cast<Block*>(hMem);
  if (b->locks > 0) --b->locks;
  return b->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  std::free(hMem);
  return nullptr;
}
