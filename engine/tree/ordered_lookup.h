// OrderedLookup: finds the entries of an ordered map for keys that come in
// ascending order, walking the map once instead of searching it per key.
#pragma once

#include <string>

namespace torquelin {

// Keeps a cursor into map (which must outlive it and stay unchanged). Each
// Find must pass a key not below the previous one, in the map's own order
// (std::u16string's '<'); then a pass over n sorted keys costs one walk of
// the map rather than n searches.
template <class Map>
class OrderedLookup {
 public:
  explicit OrderedLookup(const Map& map) : map_(map), cursor_(map.begin()) {}

  // The value stored for key, or nullptr when the map lacks it.
  const typename Map::mapped_type* Find(const typename Map::key_type& key) {
    while (cursor_ != map_.end() && cursor_->first < key) ++cursor_;
    return cursor_ != map_.end() && cursor_->first == key ? &cursor_->second : nullptr;
  }

 private:
  const Map& map_;
  typename Map::const_iterator cursor_;
};

}  // namespace torquelin
