// fakebrowser::ObjectLedger: every NPObject the browser knows, with who asked
// for it and how many of its references the browser itself holds.
//
// The object's own referenceCount is the count; the ledger adds the number of
// those references that belong to the browser (page structures and the
// test's ObjectRefs). The rest belong to the plugin, so after NPP_Destroy and
// NP_Shutdown "plugin-held references" must be zero. A release that would
// take the count below the browser's share is refused (NotOwned): the plugin
// released a reference it never owned. Deallocation is left to the caller,
// outside the lock, because it may run plugin code that calls back.
// Thread-safe (one mutex).
#ifndef FAKEBROWSER_OBJECTLEDGER_H
#define FAKEBROWSER_OBJECTLEDGER_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "NpapiAbi.h"

namespace fakebrowser {

// Who made the object: the plugin through NPN_CreateObject, or the browser
// (page objects, minimal objects).
enum class Origin { Plugin, Browser };

struct ObjectRecord {
    NPObject* object;
    NPClass* cls;
    NPP npp;
    Origin origin;
    uint32_t references;         // the object's referenceCount
    uint32_t browserReferences;  // of which the browser holds these
};

class ObjectLedger {
public:
    enum class Status { Ok, Unknown, NotOwned, Dead };

    // A new object whose referenceCount is 1; that reference is the browser's
    // when browserRef is set.
    void add(NPObject* object, NPClass* cls, NPP npp, Origin origin, bool browserRef);
    Status retain(NPObject* object, bool browserRef);
    // Dead: the count reached 0 and the record is gone; *cls tells the caller
    // how to deallocate.
    Status release(NPObject* object, bool browserRef, NPClass** cls);

    bool knows(NPObject* object) const;
    bool find(NPObject* object, ObjectRecord* record) const;
    std::vector<ObjectRecord> snapshot() const;
    // Empties the ledger (browser teardown).
    std::vector<ObjectRecord> takeAll();

    std::size_t liveCount() const;
    std::size_t liveCount(Origin origin) const;
    uint64_t pluginHeldReferences() const;
    std::size_t createdCount() const;
    std::size_t deallocatedCount() const;

private:
    struct Entry {
        NPClass* cls;
        NPP npp;
        Origin origin;
        uint32_t browserReferences;
    };

    mutable std::mutex m_mutex;
    std::unordered_map<NPObject*, Entry> m_objects;
    std::size_t m_created = 0;
    std::size_t m_deallocated = 0;
};

} // namespace fakebrowser

#endif
