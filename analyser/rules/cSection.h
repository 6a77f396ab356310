// A section rule: the entry rules of one kind of section, kept in a keyed
// collection. It is also the collector of the section occurrence being read:
// the reader sets where it was found, Store writes it with its entry lines
// into the data database, and Clear empties it for the next occurrence.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Variant.h"
#include "rules/KeyedCollection.h"
#include "rules/cEntry.h"

namespace ketch {

class cSection {
 public:
  void Area(const std::string& v);
  const std::string& Area() const { return area_; }
  void LineNo(int32_t v) { lineNo_ = v; }
  int32_t LineNo() const { return lineNo_; }
  void File(const std::string& v) { file_ = v; }
  const std::string& File() const { return file_; }
  void SectionName(const std::string& v);
  const std::string& SectionName() const { return sectionName_; }
  // The DB_ID of the Sections row written by the last Store (0 before).
  int32_t SectionDB_ID() const { return dbId_; }

  // Appends the Sections row (area and section name in lower case, file as
  // set, line), then lets every entry rule store its lines under that row's
  // DB_ID; raises the store's errors (rows written so far stay).
  void Store();
  // Creates an entry rule for this section and adds it under sKey, or without
  // a key when sKey is empty; raises 457 for a key already present.
  cEntry& Add(const std::string& EntryName, int16_t FixedValuesNo, bool IsMultiLine, bool HasVariableValues,
              bool IsMandatory, int32_t lEntryID, const std::string& sKey = {});
  // Clears every entry rule, in collection order.
  void Clear();
  // The entry rule by 1-based position (raises 9) or by key (raises 5).
  cEntry& Item(int32_t position) const { return entries_.Item(position); }
  cEntry& Item(const std::string& key) const { return entries_.Item(key); }
  // The entry rule by key, or null when there is none.
  cEntry* Find(const std::string& key) const { return entries_.Find(key); }
  int32_t Count() const { return entries_.Count(); }
  // Removes the entry rule by position (raises 9) or by key (raises 5).
  void Remove(int32_t position) { entries_.Remove(position); }
  void Remove(const std::string& key) { entries_.Remove(key); }
  // Enumerates the entry rules in collection order.
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  KeyedCollection<cEntry> entries_;
  std::string area_, sectionName_, file_;
  int32_t lineNo_ = 0;
  int32_t dbId_ = 0;
  // Stored forms of the area and section name, lower-cased when they are set
  // rather than for every row.
  Variant lowerArea_{std::string()}, lowerName_{std::string()};
};

}  // namespace ketch
