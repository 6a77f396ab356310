// The keyed collection: order, case-insensitive keys, items without a key,
// removal, and the errors 457, 5 and 9.
#include "rules/KeyedCollection.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

#include <vector>

#include "platform/Error.h"

namespace ketch {
namespace {

using Strings = KeyedCollection<std::string>;

void Put(Strings& c, const std::string& item, const std::string& key = {}) {
  c.Add(std::make_unique<std::string>(item), key);
}

std::vector<std::string> Items(const Strings& c) {
  std::vector<std::string> out;
  for (const std::string& s : c) out.push_back(s);
  return out;
}

TEST(KeyedCollection, KeepsInsertionOrderFindsByPositionAndKeyAndItsItemsStayWhereTheyAre) {
  Strings c;
  Put(c, "b", "B");
  Put(c, "a", "A");
  Put(c, "c");
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(Items(c), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(c.Item(1), "b");
  EXPECT_EQ(c.Item(3), "c");
  EXPECT_EQ(c.Item("a"), "a");
  Strings big;
  std::string& first = big.Add(std::make_unique<std::string>("first"), "F");
  for (int i = 0; i < 1000; ++i) Put(big, std::to_string(i), "k" + std::to_string(i));
  EXPECT_EQ(&first, &big.Item("f"));
  EXPECT_EQ(big.Item("K999"), "999");
}

TEST(KeyedCollection, KeysIgnoreLetterCaseIncludingCodePage1252Letters) {
  Strings c;
  Put(c, "engine", "Engine");
  Put(c, "umlaut", "\xE4rger");  // a-umlaut, lower case
  EXPECT_EQ(c.Item("ENGINE"), "engine");
  EXPECT_EQ(c.Item("\xC4RGER"), "umlaut");
  EXPECT_EQ(ErrorOf([&] { Put(c, "x", "eNgInE"); }), 457);
  EXPECT_EQ(c.Count(), 2);
}

TEST(KeyedCollection, ErrorsForMissingKeyAndPositionOutsideAndItemsWithoutKey) {
  Strings c;
  Put(c, "a", "A");
  EXPECT_EQ(ErrorOf([&] { c.Item("B"); }), 5);
  EXPECT_EQ(ErrorOf([&] { c.Remove("B"); }), 5);
  for (int32_t p : {0, 2, -1}) {
    EXPECT_EQ(ErrorOf([&] { c.Item(p); }), 9) << p;
    EXPECT_EQ(ErrorOf([&] { c.Remove(p); }), 9) << p;
  }
  EXPECT_EQ(c.Find("b"), nullptr);
  EXPECT_FALSE(c.Contains("b"));
  EXPECT_TRUE(c.Contains("a"));
  Strings loose;
  Put(loose, "loose");
  Put(loose, "loose2", "");
  EXPECT_EQ(loose.Item(1), "loose");
  EXPECT_EQ(loose.Item(2), "loose2");
  EXPECT_EQ(ErrorOf([&] { loose.Item("loose"); }), 5);
  EXPECT_EQ(ErrorOf([&] { loose.Item(""); }), 5);
}

TEST(KeyedCollection, RemoveKeepsLaterKeysPointingAtTheirItems) {
  Strings c;
  Put(c, "a", "A");
  Put(c, "b", "B");
  Put(c, "n");
  Put(c, "d", "D");
  c.Remove("a");
  EXPECT_EQ(Items(c), (std::vector<std::string>{"b", "n", "d"}));
  EXPECT_EQ(c.Item("D"), "d");
  c.Remove(2);
  EXPECT_EQ(c.Item("d"), "d");
  EXPECT_EQ(c.Item(2), "d");
  Put(c, "a again", "a");  // a removed key can be used again
  EXPECT_EQ(c.Item("A"), "a again");
}

}  // namespace
}  // namespace ketch
