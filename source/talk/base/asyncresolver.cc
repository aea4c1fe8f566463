#include "talk/base/asyncresolver.h"

#include "talk/base/nethelpers.h"

namespace talk_base {

AsyncResolver::AsyncResolver() : ai_(nullptr), error_(0) {}

AsyncResolver::~AsyncResolver() { FreeHostEnt(ai_); }

void AsyncResolver::DoWork() {
  FreeHostEnt(ai_);  // from an earlier run
  error_ = 0;
  ai_ = SafeGetHostByName(addr_.hostname().c_str(), &error_);
}

void AsyncResolver::OnWorkDone() {
  if (!ai_) return;
  IPAddress ip;
  if (IPFromHostEnt(ai_, &ip)) {
    addr_.SetIP(ip);
  } else {
    // An entry without a usable address: never report the any address as
    // a result.
    error_ = NO_DATA;
  }
}

}  // namespace talk_base
