// FB::RecyclingMap: a hashed map that keeps the nodes of erased entries for
// later insertions.
//
// The browser host's tables see one insertion and one erasure per page call
// (a function object's browser object made, then freed by the page); reusing
// the node makes that pair cost no heap allocation once the map has warmed
// up. An erased entry's value is moved out (or reset) before its node is
// kept, so a spare node holds nothing alive. At most kMaxSpare nodes are
// kept. Lookup, insertion and erasure take constant time.
// No lock: the owner serialises access.
#ifndef FB_RECYCLINGMAP_H
#define FB_RECYCLINGMAP_H

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace FB {

template <class Key, class Value, class Hash = std::hash<Key> >
class RecyclingMap {
public:
    typedef std::unordered_map<Key, Value, Hash> Map;
    static const std::size_t kMaxSpare = 8;

    RecyclingMap() { m_spare.reserve(kMaxSpare); }

    // The value stored under key, or null.
    Value* find(const Key& key)
    {
        const typename Map::iterator it = m_map.find(key);
        return it == m_map.end() ? nullptr : &it->second;
    }

    // Stores value under key, replacing an earlier value; answers the stored value.
    Value& assign(const Key& key, Value value)
    {
        const typename Map::iterator it = m_map.find(key);
        if (it != m_map.end()) {
            it->second = std::move(value);
            return it->second;
        }
        if (m_spare.empty())
            return m_map.emplace(key, std::move(value)).first->second;
        typename Map::node_type node(std::move(m_spare.back()));
        m_spare.pop_back();
        node.key() = key;
        node.mapped() = std::move(value);
        typename Map::insert_return_type inserted = m_map.insert(std::move(node));
        return inserted.position->second;
    }

    // Erases the entry of key, moving its value to *out when out is given.
    // False when there is none.
    bool erase(const Key& key, Value* out = nullptr)
    {
        const typename Map::iterator it = m_map.find(key);
        if (it == m_map.end())
            return false;
        typename Map::node_type node(m_map.extract(it));
        if (out)
            *out = std::move(node.mapped());
        node.mapped() = Value();
        if (m_spare.size() < kMaxSpare)
            m_spare.push_back(std::move(node));
        return true;
    }

    // Moves every value out (in no particular order) and empties the map.
    std::vector<Value> takeAll()
    {
        std::vector<Value> values;
        values.reserve(m_map.size());
        for (typename Map::iterator it = m_map.begin(); it != m_map.end(); ++it)
            values.push_back(std::move(it->second));
        m_map.clear();
        return values;
    }

    const Map& entries() const { return m_map; }
    std::size_t size() const { return m_map.size(); }
    bool empty() const { return m_map.empty(); }

private:
    Map m_map;
    std::vector<typename Map::node_type> m_spare;
};

} // namespace FB

#endif
