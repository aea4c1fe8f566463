#include "ObjectLedger.h"

namespace fakebrowser {

void ObjectLedger::add(NPObject* object, NPClass* cls, NPP npp, Origin origin, bool browserRef)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objects[object] = Entry{cls, npp, origin, browserRef ? 1u : 0u};
    ++m_created;
}

ObjectLedger::Status ObjectLedger::retain(NPObject* object, bool browserRef)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_objects.find(object);
    if (it == m_objects.end())
        return Status::Unknown;
    ++object->referenceCount;
    if (browserRef)
        ++it->second.browserReferences;
    return Status::Ok;
}

ObjectLedger::Status ObjectLedger::release(NPObject* object, bool browserRef, NPClass** cls)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_objects.find(object);
    if (it == m_objects.end())
        return Status::Unknown;
    Entry& entry = it->second;
    if (browserRef) {
        if (entry.browserReferences == 0 || object->referenceCount == 0)
            return Status::NotOwned;
        --entry.browserReferences;
    } else if (object->referenceCount <= entry.browserReferences) {
        return Status::NotOwned;
    }
    if (--object->referenceCount > 0)
        return Status::Ok;
    *cls = entry.cls;
    m_objects.erase(it);
    ++m_deallocated;
    return Status::Dead;
}

bool ObjectLedger::knows(NPObject* object) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_objects.count(object) != 0;
}

bool ObjectLedger::find(NPObject* object, ObjectRecord* record) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_objects.find(object);
    if (it == m_objects.end())
        return false;
    *record = ObjectRecord{object, it->second.cls, it->second.npp, it->second.origin, object->referenceCount,
                           it->second.browserReferences};
    return true;
}

std::vector<ObjectRecord> ObjectLedger::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ObjectRecord> records;
    for (const auto& item : m_objects)
        records.push_back(ObjectRecord{item.first, item.second.cls, item.second.npp, item.second.origin,
                                       item.first->referenceCount, item.second.browserReferences});
    return records;
}

std::vector<ObjectRecord> ObjectLedger::takeAll()
{
    std::vector<ObjectRecord> records = snapshot();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_objects.clear();
    return records;
}

std::size_t ObjectLedger::liveCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_objects.size();
}

std::size_t ObjectLedger::liveCount(Origin origin) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const auto& item : m_objects)
        n += item.second.origin == origin;
    return n;
}

uint64_t ObjectLedger::pluginHeldReferences() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t n = 0;
    for (const auto& item : m_objects)
        n += item.first->referenceCount - item.second.browserReferences;
    return n;
}

std::size_t ObjectLedger::createdCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_created;
}

std::size_t ObjectLedger::deallocatedCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deallocated;
}

} // namespace fakebrowser
