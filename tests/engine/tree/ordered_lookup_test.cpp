// OrderedLookup answers every ascending run of keys exactly as map::find does.
#include "engine/tree/ordered_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine/base/tree_types.h"

using namespace torquelin;

TEST(OrderedLookup, AnswersSortedKeysAsFindDoes) {
  // A parent, a name that sorts between it and its child ('-' is below
  // '\\'), and code units above every ASCII one.
  const AttributeMap map = {{u"\\a", 1}, {u"\\a\\b", 2},   {u"\\a-", 3},
                            {u"\\b", 0}, {u"\\\u00e9", 5}, {u"\\\uFFFF", 6}};
  const PathList runs[] = {
      {},                                                              // nothing asked
      {u"\\a", u"\\a-", u"\\a\\b", u"\\b", u"\\\u00e9", u"\\\uFFFF"},  // every key
      {u"\\", u"\\a", u"\\a", u"\\a\\a", u"\\b", u"\\c"},  // gaps, a repeat, past the end
      {u"\\\u00e9"},                                       // one deep in the map
      {u"\\zzz", u"\\\uFFFF\\x"},                          // all absent, after the last
  };
  for (const PathList& run : runs) {
    ASSERT_TRUE(std::is_sorted(run.begin(), run.end()));
    OrderedLookup lookup(map);
    for (const std::u16string& key : run) {
      const auto it = map.find(key);
      const uint32_t* found = lookup.Find(key);
      ASSERT_EQ(found != nullptr, it != map.end()) << run.size();
      if (found != nullptr) {
        EXPECT_EQ(found, &it->second);
      }
    }
  }
}
