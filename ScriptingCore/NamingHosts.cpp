#include "NamingHosts.h"

#include <cstddef>
#include <mutex>
#include <utility>

#include "AddressMap.h"

namespace FB {

namespace {

struct Named {
    JSAPIWeakPtr object;
    std::size_t hosts = 0;
};

struct Table {
    std::mutex mutex;
    AddressMap<const JSAPI*, Named> named;
};

// Never destroyed: a host may withdraw while the process ends.
Table& table()
{
    static Table* const instance = new Table;
    return *instance;
}

} // namespace

void NamingHosts::add(const JSAPIPtr& object)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Named* const entry = t.named.find(object.get());
    if (entry && sameOwner(entry->object, object)) {
        ++entry->hosts;
        return;
    }
    // An entry of a gone object at this address is replaced: its hosts
    // then withdraw into nothing.
    Named fresh;
    fresh.object = object;
    fresh.hosts = 1;
    t.named.assign(object.get(), std::move(fresh));
}

bool NamingHosts::withdraw(const JSAPI* address, const JSAPIWeakPtr& object)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Named* const entry = t.named.find(address);
    if (!entry)
        return true;
    if (!sameOwner(entry->object, object))
        return false;
    if (--entry->hosts > 0)
        return false;
    t.named.erase(address);
    return true;
}

bool NamingHosts::isNamed(const JSAPIPtr& object)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const Named* const entry = t.named.find(object.get());
    return entry && sameOwner(entry->object, object);
}

} // namespace FB
