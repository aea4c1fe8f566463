// The host's address tables: lookups, replacement and erasure agree with an
// ordered map through long random runs (collisions, wrap-around, growth),
// and an erased value is let go at once.
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "AddressMap.h"

namespace {

typedef FB::AddressMap<const int*, int> Map;

// Addresses that crowd into few slots: one array, neighbouring elements.
const int* address(const std::vector<int>& pool, int i) { return &pool[static_cast<size_t>(i)]; }

TEST(AddressMap, AgreesWithAnOrderedMapThroughRandomChanges)
{
    const std::vector<int> pool(300);
    std::mt19937 random(15);
    Map map;
    std::map<const int*, int> expected;
    for (int step = 0; step < 200000; ++step) {
        const int* key = address(pool, static_cast<int>(random() % pool.size()));
        switch (random() % 3) {
        case 0:
            map.assign(key, step);
            expected[key] = step;
            break;
        case 1: {
            int out = -1;
            const bool erased = map.erase(key, &out);
            const std::map<const int*, int>::iterator it = expected.find(key);
            ASSERT_EQ(it != expected.end(), erased) << step;
            if (erased) {
                EXPECT_EQ(it->second, out);
                expected.erase(it);
            }
            break;
        }
        default: {
            const int* found = map.find(key);
            const std::map<const int*, int>::iterator it = expected.find(key);
            ASSERT_EQ(it != expected.end(), found != nullptr) << step;
            if (found) {
                EXPECT_EQ(it->second, *found);
            }
        }
        }
        ASSERT_EQ(expected.size(), map.size());
    }
    std::map<const int*, int> listed;
    map.forEach([&](const int* key, int value) { listed[key] = value; });
    EXPECT_EQ(expected, listed);
}

TEST(AddressMap, AnEmptyMapFindsAndErasesNothing)
{
    Map map;
    int x = 0;
    EXPECT_EQ(nullptr, map.find(&x));
    EXPECT_FALSE(map.erase(&x));
    EXPECT_TRUE(map.empty());
    map.assign(&x, 1);
    map.assign(&x, 2);
    EXPECT_EQ(1u, map.size());
    EXPECT_EQ(2, *map.find(&x));
}

TEST(AddressMap, ErasingAndTakingLetTheValuesGo)
{
    FB::AddressMap<const int*, std::shared_ptr<int> > map;
    const std::vector<int> keys(40);
    std::vector<std::weak_ptr<int> > values;
    for (int i = 0; i < 40; ++i) {
        std::shared_ptr<int> value = std::make_shared<int>(i);
        values.push_back(value);
        map.assign(address(keys, i), std::move(value));
    }
    std::shared_ptr<int> out;
    ASSERT_TRUE(map.erase(address(keys, 3), &out));
    EXPECT_EQ(3, *out);
    out.reset();
    EXPECT_TRUE(values[3].expired());
    ASSERT_TRUE(map.erase(address(keys, 4)));
    EXPECT_TRUE(values[4].expired()) << "an erased value is not kept in the table";

    std::vector<std::shared_ptr<int> > taken = map.takeAll();
    EXPECT_EQ(38u, taken.size());
    EXPECT_TRUE(map.empty());
    EXPECT_EQ(nullptr, map.find(address(keys, 5)));
    taken.clear();
    for (const std::weak_ptr<int>& value : values)
        EXPECT_TRUE(value.expired());
}

} // namespace
