#include "engine/sql/key_set.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace dalimor {
namespace {

// Keys of every length up to 40, many sharing prefixes or differing only in
// their last byte, with zero bytes inside, against std::map as reference:
// each key keeps the number it got first, and only added keys are found.
TEST(KeySet, NumbersKeysInOrderOfFirstInsertAndFindsOnlyThose) {
  std::mt19937 random(11);
  KeySet set;
  std::map<std::string, uint32_t> reference;
  auto make = [&] {
    std::string key(random() % 41, '\0');
    for (char& c : key) c = static_cast<char>(random() % 4 == 0 ? 0 : 'a' + random() % 3);
    return key;
  };
  for (int i = 0; i < 20000; ++i) {
    const std::string key = make();
    const auto [id, inserted] = set.Insert(key);
    const auto [it, fresh] = reference.try_emplace(key, static_cast<uint32_t>(reference.size()));
    ASSERT_EQ(inserted, fresh) << i;
    ASSERT_EQ(id, it->second) << i;
  }
  EXPECT_EQ(set.size(), reference.size());
  for (const auto& [key, id] : reference) ASSERT_EQ(set.Find(key), id);
  for (int i = 0; i < 20000; ++i) {
    const std::string key = make() + "x";
    EXPECT_EQ(set.Contains(key), reference.count(key) > 0);
  }
  EXPECT_FALSE(KeySet().Contains(""));
}

}  // namespace
}  // namespace dalimor
