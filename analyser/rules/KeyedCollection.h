// The keyed collection that holds the rule base, a section rule's entry rules
// and the set of files already read: items keep their insertion order, are
// found by 1-based position or by a text key compared without regard to
// letter case, and may be added without a key. A hash map from the folded key
// to the position keeps lookups by key constant-time, since every entry line
// of a run is looked up this way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/Text.h"

namespace ketch {

template <typename T>
class KeyedCollection {
 public:
  // Appends the item; an empty key adds it without a key. Raises 457 when the
  // key (in any letter case) is already present; the item is then not added.
  T& Add(std::unique_ptr<T> item, const std::string& key = {}) {
    std::string folded = key.empty() ? std::string() : UpperCase(key);
    if (!folded.empty()) {
      auto [it, inserted] = index_.try_emplace(folded, items_.size());
      if (!inserted) throw PlatformErrorOf(errKeyExists);
    }
    items_.push_back(std::move(item));
    keys_.push_back(std::move(folded));
    return *items_.back();
  }

  // The item at 1-based position; raises 9 outside 1..Count().
  T& Item(int32_t position) const { return *items_[Slot(position)]; }
  // The item under the key, any letter case; raises 5 when absent.
  T& Item(const std::string& key) const {
    T* found = Find(key);
    if (!found) throw PlatformErrorOf(errInvalidArgument);
    return *found;
  }
  // The item under the key, or null when absent (no error).
  T* Find(const std::string& key) const {
    auto it = index_.find(UpperCase(key));
    return it == index_.end() ? nullptr : items_[it->second].get();
  }
  bool Contains(const std::string& key) const { return Find(key) != nullptr; }

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  // Removes the item at 1-based position; raises 9 outside 1..Count().
  void Remove(int32_t position) { Erase(Slot(position)); }
  // Removes the item under the key; raises 5 when absent.
  void Remove(const std::string& key) {
    auto it = index_.find(UpperCase(key));
    if (it == index_.end()) throw PlatformErrorOf(errInvalidArgument);
    Erase(it->second);
  }

  // Enumeration in collection order (NewEnum), yielding T&.
  class iterator {
   public:
    using Base = typename std::vector<std::unique_ptr<T>>::const_iterator;
    explicit iterator(Base it) : it_(it) {}
    T& operator*() const { return **it_; }
    T* operator->() const { return it_->get(); }
    iterator& operator++() {
      ++it_;
      return *this;
    }
    bool operator==(const iterator& other) const { return it_ == other.it_; }

   private:
    Base it_;
  };
  iterator begin() const { return iterator(items_.begin()); }
  iterator end() const { return iterator(items_.end()); }

 private:
  size_t Slot(int32_t position) const {
    if (position < 1 || position > Count()) throw PlatformErrorOf(errSubscript);
    return static_cast<size_t>(position - 1);
  }
  void Erase(size_t slot) {
    if (!keys_[slot].empty()) index_.erase(keys_[slot]);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(slot));
    keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(slot));
    // Later items moved down by one; removal is rare (never on the hot path).
    for (auto& [k, pos] : index_)
      if (pos > slot) --pos;
  }

  std::vector<std::unique_ptr<T>> items_;
  std::vector<std::string> keys_;  // folded key per item, empty for none
  std::unordered_map<std::string, size_t> index_;
};

}  // namespace ketch
