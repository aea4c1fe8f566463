#include "JSObject.h"

namespace FB {

JSObject::JSObject(const BrowserHostPtr& host) : m_host(host) {}

JSObject::~JSObject() {}

void* JSObject::getHandlerIdentity() { return NULL; }

void* JSObject::getHandlerContext() { return NULL; }

bool JSObject::canBatchCalls() { return false; }

void JSObject::invokeHandlerBatch(const std::string&, const VariantList&,
                                  const std::vector<JSObjectPtr>&,
                                  const std::vector<JSObjectPtr>&) {}

} // namespace FB
