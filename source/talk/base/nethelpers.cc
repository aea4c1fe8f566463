#include "talk/base/nethelpers.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>

#include <atomic>

namespace talk_base {

namespace {

std::atomic<GetHostByNameFunction> g_lookup(nullptr);

// The hostent sits in the first bytes of the block, the work buffer after.
const size_t kHostEntSize = 32;
const size_t kFirstBlockSize = 1024;
const int kMaxGrowths = 3;  // 1024 -> 2048 -> 4096 -> 8192

static_assert(sizeof(hostent) <= kHostEntSize, "hostent must fit its slot");

}  // namespace

void SetGetHostByNameForTesting(GetHostByNameFunction function) {
  g_lookup.store(function);
}

hostent* SafeGetHostByName(const char* hostname, int* herrno) {
  if (!hostname || !herrno) return nullptr;
  GetHostByNameFunction lookup = g_lookup.load();
  if (!lookup) lookup = &gethostbyname_r;

  size_t size = kFirstBlockSize;
  char* block = static_cast<char*>(malloc(size));
  if (!block) {
    *herrno = NO_RECOVERY;
    return nullptr;
  }
  for (int growths = 0;; ++growths) {
    hostent* entry = reinterpret_cast<hostent*>(block);
    hostent* result = nullptr;
    *herrno = 0;
    const int ret = lookup(hostname, entry, block + kHostEntSize,
                           size - kHostEntSize, &result, herrno);
    if (ret == ERANGE) {
      if (growths == kMaxGrowths) {
        free(block);
        if (*herrno == 0) *herrno = NO_RECOVERY;
        return nullptr;
      }
      size *= 2;
      char* bigger = static_cast<char*>(realloc(block, size));
      if (!bigger) {
        free(block);  // realloc keeps the old block when it fails
        *herrno = NO_RECOVERY;
        return nullptr;
      }
      block = bigger;
      continue;
    }
    if (ret != 0 || result != entry) {
      free(block);
      if (*herrno == 0) *herrno = HOST_NOT_FOUND;
      return nullptr;
    }
    *herrno = 0;
    return entry;
  }
}

void FreeHostEnt(hostent* host) { free(host); }

int InetPton(int af, const char* src, void* dst) {
  return inet_pton(af, src, dst);
}

const char* InetNtop(int af, const void* src, char* dst, socklen_t size) {
  return inet_ntop(af, src, dst, size);
}

}  // namespace talk_base
