// NPVariants that the plugin owns, released on every way out.
//
// A guard starts as void and hands its variant to the browser's release
// function when it goes: a string's buffer and an object's reference are
// given back also when a conversion or a call throws midway. Use them for
// everything the plugin fills or receives in its own browser calls; never
// for a result it hands back to the browser. Main thread.
#ifndef FB_NPAPI_NPAPIVARIANTGUARD_H
#define FB_NPAPI_NPAPIVARIANTGUARD_H

#include <vector>

#include <boost/noncopyable.hpp>

#include "NpapiTypes.h"

namespace FB {
namespace Npapi {

class NpapiBrowserHost;

inline void setVoid(NPVariant* value)
{
    value->type = NPVariantType_Void;
    value->value.objectValue = nullptr;
}

class NpapiVariantGuard : private boost::noncopyable {
public:
    explicit NpapiVariantGuard(const NpapiBrowserHost& host);
    ~NpapiVariantGuard();

    NPVariant* get() { return &m_value; }

private:
    const NpapiBrowserHost& m_host;
    NPVariant m_value;
};

class NpapiVariantArray : private boost::noncopyable {
public:
    NpapiVariantArray(const NpapiBrowserHost& host, size_t count);
    ~NpapiVariantArray();

    NPVariant* data() { return m_values.empty() ? nullptr : &m_values[0]; }
    NPVariant& operator[](size_t i) { return m_values[i]; }
    uint32_t size() const { return static_cast<uint32_t>(m_values.size()); }

private:
    const NpapiBrowserHost& m_host;
    std::vector<NPVariant> m_values;
};

} // namespace Npapi
} // namespace FB

#endif
