// FB::AddressMap: a hashed map from object addresses to values, for the
// browser host's tables that see an insertion and an erasure on every page
// call (a function object's browser object made, then freed by the page).
//
// Open addressing with linear probing in a power-of-two table: a lookup
// costs a multiplication and a mask, not a division, and an entry costs no
// heap allocation of its own (the table grows by doubling, at half load).
// Erasure shifts the following entries back, so no tombstones accumulate.
// An erased entry's value is moved out (or reset) at once: the table holds
// nothing alive that is not in it. Values move when the table grows or an
// entry is erased, so no reference to a value outlives the next change.
// The null address is not a key. No lock: the owner serialises access.
#ifndef FB_ADDRESSMAP_H
#define FB_ADDRESSMAP_H

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace FB {

template <class Key, class Value>
class AddressMap {
public:
    AddressMap() : m_size(0) {}

    // The value stored under key, or null; valid until the next change.
    Value* find(Key key)
    {
        if (m_slots.empty())
            return nullptr;
        for (std::size_t i = home(key);; i = next(i)) {
            if (m_slots[i].key == key)
                return &m_slots[i].value;
            if (!m_slots[i].key)
                return nullptr;
        }
    }

    // Stores value under key, replacing an earlier value.
    void assign(Key key, Value value)
    {
        if ((m_size + 1) * 2 > m_slots.size())
            grow();
        std::size_t i = home(key);
        while (m_slots[i].key && m_slots[i].key != key)
            i = next(i);
        if (!m_slots[i].key) {
            m_slots[i].key = key;
            ++m_size;
        }
        m_slots[i].value = std::move(value);
    }

    // Erases the entry of key, moving its value to *out when out is given.
    // False when there is none.
    bool erase(Key key, Value* out = nullptr)
    {
        if (m_slots.empty())
            return false;
        std::size_t hole = home(key);
        while (m_slots[hole].key != key) {
            if (!m_slots[hole].key)
                return false;
            hole = next(hole);
        }
        Value taken(std::move(m_slots[hole].value));
        // Shift back every following entry whose probe passes the hole.
        for (std::size_t i = next(hole); m_slots[i].key; i = next(i)) {
            const std::size_t wanted = home(m_slots[i].key);
            if (distance(wanted, i) >= distance(hole, i)) {
                m_slots[hole].key = m_slots[i].key;
                m_slots[hole].value = std::move(m_slots[i].value);
                hole = i;
            }
        }
        m_slots[hole].key = Key();
        m_slots[hole].value = Value();
        --m_size;
        if (out)
            *out = std::move(taken);
        return true;
    }

    // Calls f (key, value) for every entry, in no particular order; f must
    // not change the map.
    template <class F>
    void forEach(F f) const
    {
        for (const Slot& slot : m_slots) {
            if (slot.key)
                f(slot.key, slot.value);
        }
    }

    // Moves every value out (in no particular order) and empties the map.
    std::vector<Value> takeAll()
    {
        std::vector<Value> values;
        values.reserve(m_size);
        for (Slot& slot : m_slots) {
            if (slot.key) {
                values.push_back(std::move(slot.value));
                slot.value = Value();
                slot.key = Key();
            }
        }
        m_size = 0;
        return values;
    }

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

private:
    struct Slot {
        Key key = Key();
        Value value = Value();
    };

    static std::size_t slotOf(Key key, std::size_t mask)
    {
        // Addresses are aligned and clustered: mix the bits first.
        std::uint64_t h = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 33;
        return static_cast<std::size_t>(h) & mask;
    }
    std::size_t home(Key key) const { return slotOf(key, m_slots.size() - 1); }
    std::size_t next(std::size_t i) const { return (i + 1) & (m_slots.size() - 1); }
    // Steps from a slot forward to another, around the end.
    std::size_t distance(std::size_t from, std::size_t to) const
    {
        return (to - from) & (m_slots.size() - 1);
    }

    // The new table is made before anything moves: a failed allocation
    // leaves the map as it was.
    void grow()
    {
        std::vector<Slot> bigger(m_slots.empty() ? 16 : m_slots.size() * 2);
        const std::size_t mask = bigger.size() - 1;
        for (Slot& slot : m_slots) {
            if (!slot.key)
                continue;
            std::size_t i = slotOf(slot.key, mask);
            while (bigger[i].key)
                i = (i + 1) & mask;
            bigger[i].key = slot.key;
            bigger[i].value = std::move(slot.value);
        }
        m_slots.swap(bigger);
    }

    std::vector<Slot> m_slots;
    std::size_t m_size;
};

} // namespace FB

#endif
