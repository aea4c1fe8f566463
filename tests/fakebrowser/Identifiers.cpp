#include "Identifiers.h"

#include <map>
#include <mutex>
#include <set>

namespace fakebrowser {

namespace {

struct Identifier {
    bool isString;
    std::string text;
    int32_t value;
};

// Leaked on purpose: identifiers live as long as the process.
struct Table {
    std::mutex mutex;
    std::map<std::string, Identifier*> strings;
    std::map<int32_t, Identifier*> ints;
    std::set<const void*> known;
};

Table& table()
{
    static Table* t = new Table;
    return *t;
}

const Identifier* get(NPIdentifier id)
{
    return static_cast<const Identifier*>(id);
}

} // namespace

NPIdentifier stringIdentifier(const std::string& name)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Identifier*& slot = t.strings[name];
    if (!slot) {
        slot = new Identifier{true, name, 0};
        t.known.insert(slot);
    }
    return slot;
}

NPIdentifier intIdentifier(int32_t value)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    Identifier*& slot = t.ints[value];
    if (!slot) {
        slot = new Identifier{false, std::string(), value};
        t.known.insert(slot);
    }
    return slot;
}

bool isKnownIdentifier(NPIdentifier id)
{
    Table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.known.count(id) != 0;
}

bool identifierIsString(NPIdentifier id)
{
    return get(id)->isString;
}

const std::string& identifierString(NPIdentifier id)
{
    return get(id)->text;
}

int32_t identifierInt(NPIdentifier id)
{
    return get(id)->value;
}

std::string identifierText(NPIdentifier id)
{
    if (!isKnownIdentifier(id))
        return "<unknown identifier>";
    return identifierIsString(id) ? identifierString(id) : std::to_string(identifierInt(id));
}

} // namespace fakebrowser
