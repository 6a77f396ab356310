// The readers over files in memory: a store (StoreFixture) with a small rule
// base loaded, and game files that ReadINIFile opens from memory by path
// through its file opener (a path not given here opens as a real file would).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "ini/LineSource.h"
#include "ini/cFile.h"
#include "ini/mINI.h"
#include "ini/mSection.h"
#include "rules/mParse.h"

namespace ketch::test {

class ReaderFixture : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    ASSERT_TRUE(InitData());
    // Ship: nickname (text, mandatory), ids_name (integer), hp (text and
    // text multi values, multi-line).
    SetListing({"'Ship','nickname',1,1,0,0,1,1,'nickname',3,1,0,'String'",
                "'Ship','ids_name',2,1,0,0,0,2,'ids_name',1,1,0,'Integer'",
                "'Ship','hp',3,1,1,1,0,4,'hp',3,1,0,'String'",
                "'Ship','hp',3,1,1,1,0,4,'hardpoint',3,2,1,'String'"});
    InitParse();
    Files().clear();
    SetFileOpener(&OpenFromMemory);
    box_.clear();
  }

  // The bytes ReadINIFile reads at path.
  static std::map<std::string, std::string>& Files() {
    static std::map<std::string, std::string> files;
    return files;
  }
  static void OpenFromMemory(cFile& reader, const std::string& path) {
    auto it = Files().find(path);
    if (it == Files().end())
      reader.FileName(path);
    else
      reader.OpenSource(path, std::make_unique<MemoryLineSource>(it->second));
  }

  // A reader on bytes in memory.
  static std::unique_ptr<cFile> Reader(const std::string& bytes, const std::string& name = "C:\\g\\x.ini") {
    auto f = std::make_unique<cFile>();
    f->OpenSource(name, std::make_unique<MemoryLineSource>(bytes));
    return f;
  }

  // The finding lines of the box ("10302 - Unknown Entry !k!v!"), in order.
  std::vector<std::string> Findings() const {
    std::vector<std::string> out;
    for (const auto& line : TextLines(box_))
      if (line.starts_with("      1")) out.push_back(line.substr(6));
    return out;
  }

  // Sections stored ("area|section|file|line") and entry lines
  // ("  section's line|entry|line|values"), once the writes are done.
  std::vector<std::string> Stored() {
    DataDB()->WaitForWrites();
    std::vector<std::string> out = DataRows("SELECT Area, Section, File, Line FROM Sections ORDER BY DB_ID");
    for (const auto& e : DataRows("SELECT s.Line, e.Entry, e.Line, (SELECT group_concat(Value, ',') FROM (SELECT "
                                  "Value FROM [Values] v WHERE v.Link = e.DB_ID ORDER BY v.DB_ID)) FROM Entries e "
                                  "JOIN Sections s ON s.DB_ID = e.Link ORDER BY e.DB_ID"))
      out.push_back("  " + e);
    return out;
  }
};

}  // namespace ketch::test
