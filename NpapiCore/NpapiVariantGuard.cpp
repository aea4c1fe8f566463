#include "NpapiVariantGuard.h"

#include "NpapiBrowserHost.h"

namespace FB {
namespace Npapi {

namespace {

// Only strings and objects own anything; the rest need no browser call.
void release(const NpapiBrowserHost& host, NPVariant* value)
{
    if (value->type == NPVariantType_String || value->type == NPVariantType_Object)
        host.ReleaseVariantValue(value);
}

} // namespace

NpapiVariantGuard::NpapiVariantGuard(const NpapiBrowserHost& host) : m_host(host)
{
    setVoid(&m_value);
}

NpapiVariantGuard::~NpapiVariantGuard() { release(m_host, &m_value); }

NpapiVariantArray::NpapiVariantArray(const NpapiBrowserHost& host, size_t count)
    : m_host(host), m_values(count)
{
    for (NPVariant& value : m_values)
        setVoid(&value);
}

NpapiVariantArray::~NpapiVariantArray()
{
    for (NPVariant& value : m_values)
        release(m_host, &value);
}

} // namespace Npapi
} // namespace FB
