#include "type_names.h"

#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include "JSObject.h"
#include "script_error.h"
#include "variant.h"

namespace FB {

namespace {

struct NamedType {
    const std::type_info& type;
    const char* name;
};

const NamedType kNamedTypes[] = {
    {typeid(void), "v"},
    {typeid(bool), "b"},
    {typeid(char), "c"},
    {typeid(unsigned char), "h"},
    {typeid(short), "s"},
    {typeid(unsigned short), "t"},
    {typeid(int), "i"},
    {typeid(unsigned int), "j"},
    {typeid(long), "l"},
    {typeid(unsigned long), "m"},
    {typeid(long long), "x"},
    {typeid(unsigned long long), "y"},
    {typeid(float), "f"},
    {typeid(double), "d"},
    {typeid(std::string), "Ss"},
    {typeid(std::wstring), "SbIwSt11char_traitsIwESaIwEE"},
    {typeid(VariantList), "St6vectorIN2FB7variantESaIS1_EE"},
    {typeid(VariantMap), "St3mapISsN2FB7variantESt4lessISsESaISt4pairIKSsS1_EEE"},
    {typeid(variant_detail::null), "N2FB14variant_detail4nullE"},
    {typeid(variant_detail::empty), "N2FB14variant_detail5emptyE"},
    {typeid(JSObject), "N2FB8JSObjectE"},
    {typeid(JSAPIPtr), "N5boost10shared_ptrIN2FB5JSAPIEEE"},
    {typeid(JSAPIWeakPtr), "N5boost8weak_ptrIN2FB5JSAPIEEE"},
    {typeid(JSObjectPtr), "N5boost10shared_ptrIN2FB8JSObjectEEE"},
    {typeid(ScriptErrorPtr), "N5boost10shared_ptrIN2FB12script_errorEEE"},
};

typedef std::unordered_map<std::type_index, const char*> NameMap;

const NameMap& nameMap()
{
    static const NameMap names = [] {
        NameMap m;
        for (const NamedType& t : kNamedTypes)
            m.emplace(std::type_index(t.type), t.name);
        return m;
    }();
    return names;
}

} // namespace

const char* typeName(const std::type_info& type)
{
    const NameMap& names = nameMap();
    NameMap::const_iterator it = names.find(std::type_index(type));
    if (it != names.end())
        return it->second;
    const char* raw = type.name();
    return raw[0] == '*' ? raw + 1 : raw;
}

} // namespace FB
