// Thin wrappers of the system's address conversion and host lookup.
//
// SafeGetHostByName resolves a name with gethostbyname_r into one heap
// block: the hostent at its start, the lookup's work buffer after it. The
// block grows (1024, 2048, 4096, 8192 bytes) while the lookup asks for more
// room; FreeHostEnt frees it whole. A null answer always comes with a
// non-zero error (an h_errno value): the lookup's own, HOST_NOT_FOUND when
// the name has no entry, NO_RECOVERY when memory ran out or the entry did
// not fit.
//
// Threads: any thread; the lookup is the reentrant one.
#ifndef TALK_BASE_NETHELPERS_H_
#define TALK_BASE_NETHELPERS_H_

#include <netdb.h>
#include <stddef.h>

namespace talk_base {

hostent* SafeGetHostByName(const char* hostname, int* herrno);
void FreeHostEnt(hostent* host);

int InetPton(int af, const char* src, void* dst);
const char* InetNtop(int af, const void* src, char* dst, socklen_t size);

// Test seam: the lookup SafeGetHostByName calls (gethostbyname_r by
// default; null restores it). Meant to be set while no lookup runs.
typedef int (*GetHostByNameFunction)(const char* name, hostent* ret,
                                     char* buf, size_t buflen,
                                     hostent** result, int* h_errnop);
void SetGetHostByNameForTesting(GetHostByNameFunction function);

}  // namespace talk_base

#endif  // TALK_BASE_NETHELPERS_H_
