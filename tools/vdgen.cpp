// vdgen: writes a whole sample game of Vandrel for the demo, the oracle test
// and the benchmarks. The lines are derived from the rule base, so that they
// conform, and then faults are planted at a fixed rate; the manifest lists
// every planted fault and the expected file what the analyser must store.
//
//   vdgen [--preset small|large] [--seed N] [--rules KETCH.MDB] DIR
//
// Written into DIR: the game (EXE\vandrel.ini, DATA\...), manifest.tsv and
// expected.tsv (formats in docs/rulebase.md, "The sample game"). The same
// preset, seed and rule base give the same bytes on every run.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "KrunWriter.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- helpers

// splitmix64: the standard distributions differ between library versions,
// and the bytes must not.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Range(int lo, int hi) { return hi <= lo ? lo : lo + static_cast<int>(Next() % uint64_t(hi - lo + 1)); }
  bool Chance(int percent) { return static_cast<int>(Next() % 100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) { return v[Next() % v.size()]; }

 private:
  uint64_t s_;
};

uint64_t Fnv(std::string_view s, uint64_t h = 14695981039346656037ull) {
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What the analyser stores for a float: the shortest text of the double.
std::string DoubleText(double d) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  std::string out(buf, r.ptr);
  for (char& c : out)
    if (c == 'e') c = 'E';
  return out;
}

std::string Num(long long v) { return std::to_string(v); }

// ---------------------------------------------------------------- rule base

enum Type { kInteger = 1, kFloat = 2, kText = 3, kBoolean = 4, kNull = 5 };

struct ValueRule {
  std::string name;
  int type = 0;
};
struct EntryRule {
  std::string name;
  int fixed = 0;
  bool multiLine = false, varArgs = false, mandatory = false;
  int id = 0;
  std::vector<ValueRule> values;  // fixed ones, then the repeating one
  const ValueRule& At(size_t i) const { return values[std::min(i, values.size() - 1)]; }
  bool HasType(int t) const {
    return std::any_of(values.begin(), values.end(), [t](const ValueRule& v) { return v.type == t; });
  }
};
struct SectionRule {
  std::string name;
  std::vector<EntryRule> entries;
  const EntryRule* Find(const std::string& key) const {
    for (const auto& e : entries)
      if (Upper(e.name) == Upper(key)) return &e;
    return nullptr;
  }
};

class Rules {
 public:
  explicit Rules(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      throw std::runtime_error("cannot open rule base " + path);
    }
    Query(db,
          "SELECT SectionName, EntryName, FixedArgsNo, IsMultiLine, HasVarArgs, IsMandatory, DB_ID, "
          "ValueName, Type FROM _bc_ListSections",
          [&](sqlite3_stmt* st) {
            auto text = [&](int i) {
              auto p = sqlite3_column_text(st, i);
              return std::string(p ? reinterpret_cast<const char*>(p) : "");
            };
            std::string section = text(0), entry = text(1);
            if (sections_.empty() || sections_.back().name != section) {
              sections_.push_back({section, {}});
              allNames_.insert(Upper(section));
            }
            auto& es = sections_.back().entries;
            if (es.empty() || es.back().name != entry) {
              EntryRule e;
              e.name = entry;
              e.fixed = sqlite3_column_int(st, 2);
              e.multiLine = sqlite3_column_int(st, 3);
              e.varArgs = sqlite3_column_int(st, 4);
              e.mandatory = sqlite3_column_int(st, 5);
              e.id = sqlite3_column_int(st, 6);
              es.push_back(e);
            }
            es.back().values.push_back({text(7), sqlite3_column_int(st, 8)});
          });
    Query(db, "SELECT Value FROM _bc_OtherINI", [&](sqlite3_stmt* st) {
      otherIni_.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    });
    sqlite3_close(db);
  }

  const SectionRule& Get(const std::string& name) const {
    for (const auto& s : sections_)
      if (s.name == name) return s;
    throw std::runtime_error("the rule base has no section " + name);
  }
  bool Known(const std::string& name) const { return allNames_.count(Upper(name)) != 0; }
  const std::vector<std::string>& OtherIni() const { return otherIni_; }

 private:
  template <typename F>
  static void Query(sqlite3* db, const char* sql, F row) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("rule base: ") + sqlite3_errmsg(db));
    while (sqlite3_step(st) == SQLITE_ROW) row(st);
    sqlite3_finalize(st);
  }
  std::vector<SectionRule> sections_;
  std::set<std::string> allNames_;
  std::vector<std::string> otherIni_;
};

// The entry rules whose values name other data files, in the order the
// analyser follows them; 74 names files below Data\Universe\.
constexpr int kRefIds[] = {74, 101, 871, 877, 879, 64, 824, 1034, 1040, 1055, 1107, 1169, 872};
bool IsRef(int id) { return std::find(std::begin(kRefIds), std::end(kRefIds), id) != std::end(kRefIds); }

// ---------------------------------------------------------------- presets

struct Preset {
  int systems, bases, ships, catalogs, guns, cargos, overrides, effects;
  double sections;  // scale of section counts
  double lines;     // scale of the lengths of multi-line entries
};
// small: the demo and the oracle test (a few hundred files, seconds);
// large: the benchmarks (about 2,000 files, 60 MB, over a million lines).
const std::map<std::string, Preset> kPresets = {
    {"small", {14, 24, 30, 12, 18, 18, 12, 16, 0.22, 0.22}},
    {"large", {120, 150, 200, 100, 150, 150, 100, 150, 1.45, 2.9}},
};

// ---------------------------------------------------------------- faults

// Every kLineRate-th entry line schedules the next line fault of kLineCycle,
// every kSectionRate-th section the next section fault. A fault waits for
// the first line (section) that it fits.
constexpr int kLineRate = 100;
constexpr int kSectionRate = 150;
const std::vector<std::string> kLineCycle = {"10101", "10104", "10205", "10212", "10302",
                                             "10209", "10102", "bare",  "split"};
const std::vector<std::string> kSectionCycle = {"10305", "10301"};

struct Manifest {
  std::ofstream out;
  std::map<std::string, int> counts;
  void Add(const std::string& file, long line, const std::string& code, const std::string& note) {
    out << file << '\t' << line << '\t' << code << '\t' << note << '\n';
    ++counts[code.substr(0, code.find(':'))];
  }
};

// ---------------------------------------------------------------- the plan

enum class Kind {
  Universe, System, Field, Nebula, Rocks, BaseFile, Solar, Constants, Fonts, Sounds, Voices, Explosions,
  Debris, AsteroidArch, Weapons, Engines, Shields, MiscEquip, Commodities, Projectiles, Ships, Hull,
  Wreck, Goods, Catalog, Loadouts, Cargo, Costumes, Petal, Effects, Particles, Textures, EffectShapes,
  Fuses, Groups, Stars, Markets, MarketOverride, WeaponMod, MissionBases, NpcPeople, NpcShips, News
};

struct GameFile {
  std::string rel;          // as named: relative to DATA, or to Data\Universe for 74
  bool universe = false;    // named by 74
  Kind kind{};
  std::string area;         // as stored (lower case)
  bool binary = false;
  bool missing = false;     // named, never written
  std::string stem;         // prefix of its nicknames
  std::map<int, std::vector<int>> children;  // reference id -> files it names
  std::string Key() const { return (universe ? "Data\\Universe\\" : "DATA\\") + rel; }
};

// ---------------------------------------------------------------- names

const std::vector<std::string> kSyl = {"ka", "ve", "ro", "tal", "mir", "os", "dun", "ael", "bri", "cor",
                                       "sen", "ul", "ith", "var", "no", "res", "qua", "lem", "tor", "ysa"};
const std::vector<std::string> kFactions = {"tovar", "orrin", "sella", "marhaven", "quill", "drennic"};
const std::vector<std::string> kHulls = {"skiff", "lancer", "warden", "heron", "pike", "talon", "vireo",
                                         "grebe", "hauler", "barge", "cutter", "ketch", "sloop", "brig"};

std::string Word(Rng& r, int syllables) {
  std::string w;
  for (int i = 0; i < syllables; ++i) w += r.Pick(kSyl);
  return w;
}
std::string Pad(int n, int width = 2) {
  std::string s = std::to_string(n);
  return std::string(s.size() < size_t(width) ? width - s.size() : 0, '0') + s;
}

// ---------------------------------------------------------------- one file

// How entries of a section are shaped, keyed "Section.entry".
struct Shape {
  int minLines = 1, maxLines = 3;  // multi-line entries
  int minVar = 0, maxVar = 3;      // repeating values
  int percent = 75;                // optional entries
};
const std::map<std::string, Shape> kShapes = {
    {"Cube.asteroid", {40, 600, 0, 1, 100}},
    {"BaseGood.MarketGood", {30, 180, 0, 0, 100}},
    {"Group.rep", {20, 60, 0, 0, 100}},
    {"Voice.msg", {30, 140, 0, 2, 100}},
    {"ObjectTable.room", {40, 160, 0, 0, 100}},
    {"ObjectTable.prop", {80, 400, 0, 0, 100}},
    {"ObjectTable.cart", {10, 60, 0, 0, 100}},
    {"LockedGates.locked_gate", {20, 80, 0, 0, 100}},
    {"Spines.spine", {4, 24, 0, 0, 100}},
    {"Zone.encounter", {1, 4, 0, 0, 60}},
    {"Zone.faction", {1, 4, 0, 0, 60}},
    {"Zone.size", {1, 1, 0, 2, 100}},
    {"GF_NPC.rumor", {2, 12, 0, 0, 90}},
    {"GF_NPC.know", {1, 6, 0, 0, 70}},
    {"MissionBase.mission_type", {3, 12, 0, 0, 100}},
    {"Loadout.equip", {4, 16, 0, 1, 100}},
    {"Loadout.cargo", {1, 6, 0, 0, 80}},
    {"Cargo.good", {4, 30, 0, 0, 100}},
    {"MarketOverride.good", {6, 40, 0, 0, 100}},
    {"Ship.hp_type", {4, 20, 1, 6, 100}},
    {"Ship.LODranges", {1, 1, 2, 4, 100}},
    {"Gun.LODranges", {1, 1, 1, 3, 100}},
    {"Hull.hardpoint", {6, 30, 0, 0, 100}},
    {"Room.hotspot", {3, 14, 0, 1, 100}},
    {"Room.scene", {1, 4, 0, 1, 100}},
    {"Ship.camera_offset", {1, 1, 0, 0, 75}},
    {"GlobalConsts.reserved_flags", {1, 1, 0, 0, 100}},
    {"Solar.obsolete_lod", {1, 1, 0, 0, 10}},
};
Shape ShapeOf(const SectionRule& s, const EntryRule& e) {
  auto it = kShapes.find(s.name + "." + e.name);
  if (it != kShapes.end()) return it->second;
  Shape d;
  // A constants file sets every constant.
  if (e.mandatory || s.name.find("Consts") != std::string::npos) d.percent = 100;
  return d;
}

// One planned entry line.
struct Item {
  const EntryRule* rule = nullptr;  // null: a key the section does not know
  std::string key;
  std::vector<std::string> values;
  bool good = true;      // stored by the analyser
  bool ref = false;      // names data files: never faulted
  std::string code;      // warning it causes
  std::string repair;    // "bare" or "split" (merged with the next line)
  std::string note;
  std::vector<int> missingChildren;  // values naming files that do not exist
};

class Game;

class FileWriter {
 public:
  FileWriter(Game& game, const GameFile& file);
  // Writes one occurrence of the section.
  void Section(const std::string& name);
  void Sections(const std::string& name, int count) {
    for (int i = 0; i < count; ++i) Section(name);
  }
  // Writes as many occurrences as the children of the reference need.
  void RefSections(const std::string& name, int id) {
    while (Left(id) > 0) Section(name);
  }
  int Count(int n) const;
  int Left(int id) const {
    auto it = file_.children.find(id);
    return it == file_.children.end() ? 0 : static_cast<int>(it->second.size() - next_.at(id));
  }
  void Finish();
  Rng& R() { return rng_; }
  const GameFile& File() const { return file_; }

 private:
  std::vector<Item> PlanEntries(const SectionRule& s, bool withRefs);
  std::string Value(const SectionRule& s, const EntryRule& e, const ValueRule& v);
  bool TryFault(const std::string& kind, const SectionRule& s, std::vector<Item>& items, size_t i);
  void Render(const std::string& header, const SectionRule* s, std::vector<Item>& items, bool stored,
              const std::string& sectionCode);
  void Line(const std::string& text) {
    body_ += text;
    body_ += "\r\n";
    ++physical_;
  }
  void Noise();
  std::string Canon(const Item& it) const;

  Game& game_;
  const GameFile& file_;
  Rng rng_;
  std::string body_;
  long physical_ = 0;
  std::map<int, size_t> next_;  // reference id -> children already named
  int nick_ = 0;
  // expected rows
  long sections_ = 0, entries_ = 0, values_ = 0;
  uint64_t digest_ = Fnv("");
};

class Game {
 public:
  Game(const Rules& rules, const Preset& preset, uint64_t seed, const fs::path& dir)
      : rules_(rules), preset_(preset), seed_(seed), dir_(dir) {}

  void Plan();
  void Write();

  const Rules& rules_;
  const Preset& preset_;
  uint64_t seed_;
  fs::path dir_;
  std::vector<GameFile> files_;
  std::vector<std::pair<std::string, int>> data_;  // [Data] kind and file index
  Manifest manifest_;
  std::ofstream expected_;
  long lineCounter_ = 0, sectionCounter_ = 0;
  long lineRate_ = kLineRate;  // --fault-every
  std::map<std::string, int> pendingLine_, pendingSection_;
  size_t lineCycle_ = 0, sectionCycle_ = 0;
  bool longValuePlanted_ = false;
  long totalEntries_ = 0, totalBytes_ = 0, binaryFiles_ = 0;

 private:
  int Add(GameFile f) {
    files_.push_back(std::move(f));
    return static_cast<int>(files_.size()) - 1;
  }
  int AddData(const std::string& kind, const std::string& rel, Kind k, const std::string& stem, int binaryPct);
  int Child(int parent, int id, const std::string& rel, Kind k, const std::string& stem, bool universe = false);
  void WriteMain();
  void WriteFile(int index);
  std::vector<int> shared_;  // files named twice by references
  Rng planRng_{0};
};

// ---------------------------------------------------------------- plan

int Game::AddData(const std::string& kind, const std::string& rel, Kind k, const std::string& stem,
                  int binaryPct) {
  GameFile f;
  f.rel = rel;
  f.kind = k;
  f.area = Lower(kind);
  f.stem = stem;
  f.binary = planRng_.Chance(binaryPct);
  int i = Add(f);
  data_.push_back({kind, i});
  return i;
}

int Game::Child(int parent, int id, const std::string& rel, Kind k, const std::string& stem, bool universe) {
  GameFile f;
  f.rel = rel;
  f.universe = universe;
  f.kind = k;
  f.area = files_[parent].area;
  f.stem = stem;
  f.binary = planRng_.Chance(40);
  int i = Add(f);
  files_[parent].children[id].push_back(i);
  return i;
}

void Game::Plan() {
  planRng_ = Rng(seed_ * 7919 + 17);
  Rng& r = planRng_;
  const Preset& p = preset_;

  // [Data] files, in the order of the configuration.
  AddData("solar", "solar\\solararch.ini", Kind::Solar, "sol", 0);
  int universe = AddData("universe", "universe\\universe.ini", Kind::Universe, "uni", 0);
  AddData("constants", "constants.ini", Kind::Constants, "con", 0);
  AddData("fonts", "fonts\\fonts.ini", Kind::Fonts, "fnt", 50);
  for (auto s : {"ambience", "interface", "engine"})
    AddData("sounds", std::string("audio\\") + s + "_sounds.ini", Kind::Sounds, std::string("snd_") + s, 35);
  for (auto s : {"space", "bar"})
    AddData("voices", std::string("audio\\voices_") + s + ".ini", Kind::Voices, std::string("vo_") + s, 35);
  AddData("explosions", "fx\\explosions.ini", Kind::Explosions, "exp", 35);
  AddData("debris", "fx\\debris.ini", Kind::Debris, "deb", 35);
  AddData("asteroids", "solar\\asteroid_arch.ini", Kind::AsteroidArch, "ast", 35);
  int weapons = AddData("equipment", "equipment\\weapon_equip.ini", Kind::Weapons, "wpn", 35);
  AddData("equipment", "equipment\\engine_equip.ini", Kind::Engines, "eng", 35);
  AddData("equipment", "equipment\\shield_equip.ini", Kind::Shields, "shd", 35);
  AddData("equipment", "equipment\\misc_equip.ini", Kind::MiscEquip, "msc", 0);
  AddData("equipment", "equipment\\commodities.ini", Kind::Commodities, "com", 35);
  // Hand-edited by modders: text, where the two repairable forms turn up.
  int ships = AddData("ships", "ships\\shiparch.ini", Kind::Ships, "shp", 0);
  int goods = AddData("goods", "equipment\\goods.ini", Kind::Goods, "gd", 35);
  int loadouts = AddData("loadouts", "ships\\loadouts.ini", Kind::Loadouts, "ld", 35);
  AddData("costumes", "characters\\costumes.ini", Kind::Costumes, "cos", 35);
  AddData("PetalDB", "petaldb.ini", Kind::Petal, "ptl", 35);
  int effects = AddData("effects", "fx\\effects.ini", Kind::Effects, "fx", 35);
  AddData("effect_shapes", "fx\\effect_shapes.ini", Kind::EffectShapes, "shape", 35);
  AddData("fuses", "fx\\fuse.ini", Kind::Fuses, "fuse", 35);
  AddData("groups", "initialworld.ini", Kind::Groups, "grp", 35);
  AddData("stars", "solar\\stararch.ini", Kind::Stars, "star", 35);
  std::vector<int> markets;
  for (auto s : {"commodities", "ships", "misc"})
    markets.push_back(AddData("markets", std::string("equipment\\market_") + s + ".ini", Kind::Markets,
                              std::string("mkt_") + s, 35));
  AddData("WeaponModDB", "equipment\\weaponmoddb.ini", Kind::WeaponMod, "wmd", 35);

  // Files named by no configuration entry: the rule base lists them.
  const Kind hardcoded[] = {Kind::MissionBases, Kind::NpcPeople, Kind::NpcShips, Kind::News};
  int npcShips = -1;
  for (size_t i = 0; i < rules_.OtherIni().size(); ++i) {
    const std::string& rel = rules_.OtherIni()[i];
    Kind k = hardcoded[i % 4];
    if (rel.find("mission_bases") != std::string::npos) k = Kind::MissionBases;
    if (rel.find("npc_people") != std::string::npos) k = Kind::NpcPeople;
    if (rel.find("npc_ships") != std::string::npos) k = Kind::NpcShips;
    if (rel.find("news") != std::string::npos) k = Kind::News;
    GameFile f;
    f.rel = rel;
    f.kind = k;
    f.area = "hardcoded";
    f.stem = "hc" + Pad(int(i));
    // The missions file is edited by hand too (the offer_missions repairs).
    f.binary = k != Kind::MissionBases && r.Chance(35);
    int idx = Add(f);
    if (k == Kind::NpcShips) npcShips = idx;
  }

  // Reference chains. Systems (74) name fields (877) and nebulae (879);
  // fields name rock files (64): four levels below the configuration.
  std::vector<int> fields;
  for (int s = 0; s < p.systems; ++s) {
    std::string code = r.Pick(kSyl) + Pad(s + 1);
    int sys = Child(universe, 74, "systems\\" + code + "\\" + code + ".ini", Kind::System, code, true);
    int nFields = r.Range(0, 3);
    for (int f = 0; f < nFields; ++f) {
      std::string rel = "solar\\asteroids\\" + code + "_field_" + Pad(f + 1) + ".ini";
      int fi = Child(sys, 877, rel, Kind::Field, code + "_fld" + Pad(f + 1));
      fields.push_back(fi);
      int nRocks = r.Range(1, 3);
      for (int k = 0; k < nRocks; ++k)
        Child(fi, 64, "solar\\asteroids\\rocks\\" + code + "_" + Pad(f + 1) + "_rock" + Pad(k + 1) + ".ini",
              Kind::Rocks, code + "_rk" + Pad(f + 1) + Pad(k + 1));
    }
    if (r.Chance(60))
      Child(sys, 879, "solar\\nebula\\" + code + "_cloud.ini", Kind::Nebula, code + "_neb");
    // A field named by a second system as well: read once, then skipped.
    if (s % 5 == 4 && !fields.empty()) {
      files_[sys].children[877].push_back(fields[fields.size() / 2]);
      shared_.push_back(fields[fields.size() / 2]);
    }
  }
  for (int b = 0; b < p.bases; ++b) {
    std::string code = r.Pick(kSyl) + Pad(b + 1) + "_base";
    Child(universe, 872, "universe\\bases\\" + code + ".ini", Kind::BaseFile, code);
  }
  // Ships (101) name hulls, hulls name wrecks (824).
  for (int s = 0; s < p.ships; ++s) {
    std::string code = r.Pick(kHulls) + Pad(s + 1);
    int hull = Child(ships, 101, "ships\\hulls\\" + code + "_hull.ini", Kind::Hull, code);
    if (r.Chance(50)) Child(hull, 824, "fx\\wrecks\\" + code + "_wreck.ini", Kind::Wreck, code + "_wr");
  }
  for (int c = 0; c < p.catalogs; ++c)
    Child(goods, 871, "equipment\\catalog\\page_" + Pad(c + 1, 3) + ".ini", Kind::Catalog, "cat" + Pad(c + 1));
  for (int g = 0; g < p.guns; ++g)
    Child(weapons, 1034, "equipment\\projectiles\\proj_" + Pad(g + 1, 3) + ".ini", Kind::Projectiles,
          "prj" + Pad(g + 1));
  for (int c = 0; c < p.cargos; ++c) {
    // Some cargo lists hang off the missions' ship file, read as "Hardcoded".
    int parent = (c % 5 == 0 && npcShips >= 0) ? npcShips : loadouts;
    Child(parent, 1040, "ships\\cargo\\cargo_" + Pad(c + 1, 3) + ".ini", Kind::Cargo, "crg" + Pad(c + 1));
  }
  for (int m = 0; m < p.overrides; ++m)
    Child(markets[m % markets.size()], 1055, "equipment\\markets\\override_" + Pad(m + 1, 3) + ".ini",
          Kind::MarketOverride, "ovr" + Pad(m + 1));
  // Effects name particle files (1107), particle files name textures (1169).
  for (int e = 0; e < p.effects; ++e) {
    int part = Child(effects, 1107, "fx\\particles\\emit_" + Pad(e + 1, 3) + ".ini", Kind::Particles,
                     "emt" + Pad(e + 1));
    int nTex = r.Range(1, 2);
    for (int t = 0; t < nTex; ++t)
      Child(part, 1169, "fx\\textures\\emit_" + Pad(e + 1, 3) + "_" + Pad(t + 1) + ".ini", Kind::Textures,
            "tex" + Pad(e + 1) + Pad(t + 1));
  }

  // Referred files that are missing: one in every 150 named, at least one.
  int named = 0;
  for (auto& f : files_)
    for (auto& [id, kids] : f.children) named += static_cast<int>(kids.size());
  int every = std::max(2, std::min(150, named / 2));
  int seen = 0;
  for (auto& f : files_)
    for (auto& [id, kids] : f.children)
      for (int k : kids)
        if (++seen % every == every / 2 && files_[k].children.empty()) files_[k].missing = true;
}

// ---------------------------------------------------------------- writing

void Game::Write() {
  fs::create_directories(dir_);
  manifest_.out.open(dir_ / "manifest.tsv", std::ios::binary | std::ios::trunc);
  manifest_.out << "# file\tline\tcode\tnote\n";
  expected_.open(dir_ / "expected.tsv", std::ios::binary | std::ios::trunc);
  expected_ << "# file\tarea\tbinary\tsections\tentries\tvalues\tdigest\n";
  WriteMain();
  for (int f : shared_) manifest_.Add(files_[f].Key(), 0, "skipped", "named by a second system");
  for (size_t i = 0; i < files_.size(); ++i)
    if (!files_[i].missing) WriteFile(static_cast<int>(i));
  if (!manifest_.out || !expected_) throw std::runtime_error("cannot write the manifest");
}

// Where a file named by rel lies on disk: the analyser matches letter case
// of folders that do not exist as spelled, so DATA serves Data as well.
fs::path DiskPath(const fs::path& dir, const GameFile& f) {
  std::string rel = (f.universe ? "DATA/universe/" : "DATA/") + f.rel;
  std::replace(rel.begin(), rel.end(), '\\', '/');
  return dir / rel;
}

void Game::WriteMain() {
  Rng r(seed_ ^ 0xA5A5);
  std::string t;
  long line = 0;
  auto L = [&](const std::string& s) {
    t += s + "\r\n";
    ++line;
  };
  L("; Vandrel main configuration");
  L("");
  L("[Startup]");
  L("movie = movies\\intro_" + Word(r, 2) + ".bik");
  L("skip_intro = false");
  L("");
  L("[Resources]");
  for (auto d : {"resources.dll", "infocards.dll", "names.dll", "equipment.dll"}) L(std::string("dll = ") + d);
  L("");
  L("[Display]");
  L("width = 1280");
  L("height = 800");
  L("");
  L("[Data]");
  const long header = line;
  int i = 0;
  auto D = [&](const std::string& k, const std::string& v) {
    L(k + " = " + v);
    return header + ++i;
  };
  // An unknown kind and the empty bases entry are logged, not warned.
  D("bases", "");
  int dupAt = static_cast<int>(data_.size()) / 2;
  for (size_t k = 0; k < data_.size(); ++k) {
    D(data_[k].first, files_[data_[k].second].rel);
    if (static_cast<int>(k) == dupAt) {
      // The same file named twice: read once, then "Already parsed".
      D(data_[k].first, files_[data_[k].second].rel);
      manifest_.Add(files_[data_[k].second].Key(), 0, "skipped", "named twice in [Data]");
    }
    if (k == 3) D("interface", "interface\\hud_layout.ini");
    if (k == 9) D("cutscenes", "cutscenes\\cutscene_list.ini");
  }
  long at = D("equipment", "equipment\\prototype_equip.ini");
  manifest_.Add("EXE\\vandrel.ini", at, "10306", "[Data] names a missing file");
  at = D("fuses", "");
  manifest_.Add("EXE\\vandrel.ini", at, "10304", "[Data] entry without a value");
  L("");
  L("[data]");
  L("note = not the [Data] section: letter case counts");
  fs::create_directories(dir_ / "EXE");
  std::ofstream(dir_ / "EXE" / "vandrel.ini", std::ios::binary | std::ios::trunc) << t;
  totalBytes_ += static_cast<long>(t.size());
}

int FileWriter::Count(int n) const {
  return std::max(1, static_cast<int>(n * game_.preset_.sections + 0.5));
}

FileWriter::FileWriter(Game& game, const GameFile& file)
    : game_(game), file_(file), rng_(game.seed_ * 1000003 + Fnv(file.Key())) {
  for (auto& [id, kids] : file.children) next_[id] = 0;
  if (!file_.binary) {
    Line("; " + file_.rel + " - Vandrel game data");
    Line("; edited " + Pad(rng_.Range(1, 28)) + "/" + Pad(rng_.Range(1, 12)) + "/31");
    if (rng_.Chance(10)) Line("version = " + Num(rng_.Range(2, 5)));  // above any header: ignored
    Line("");
  }
}

std::string FileWriter::Value(const SectionRule& s, const EntryRule& e, const ValueRule& v) {
  Rng& r = rng_;
  const std::string& n = v.name;
  switch (v.type) {
    case kInteger:
      if (n == "strid") return Num(r.Range(200000, 299999));
      if (n == "r" || n == "g" || n == "b") return Num(r.Range(0, 255));
      if (n == "hash") return Num(static_cast<long long>(r.Next() % 4000000000ull) - 2000000000);
      if (n == "flags" || n == "level" || n == "rank") return Num(r.Range(0, 64));
      if (n == "rx" || n == "ry" || n == "rz") return Num(r.Range(0, 359));
      return Num(r.Range(0, 5000));
    case kFloat: {
      double d = r.Range(0, 40000) / 4.0;
      if (n == "x" || n == "y" || n == "z") d = r.Range(-400000, 400000) / 8.0;
      if (n == "fraction" || n == "chance" || n == "alpha" || n == "variance") d = r.Range(0, 100) / 100.0;
      std::string text = DoubleText(d);
      // Modders write "12.500000" as often as "12.5"; both store 12.5.
      if (r.Chance(15)) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.6f", d);
        text = buf;
      }
      return text;
    }
    case kBoolean: {
      static const std::vector<std::string> forms = {"true", "false", "true", "false", "True", "1", "0"};
      return r.Pick(forms);
    }
    case kText:
      if (n == "nickname" || n == "name" || (n == "shape" && e.name == "shape_name") ||
          (e.name == "obj" && s.name == "CollisionGroup"))
        return file_.stem + "_" + Lower(s.name).substr(0, 4) + "_" + Pad(++nick_, 3);
      if (n == "faction") return r.Pick(kFactions);
      if (n == "file") return "data\\" + Word(r, 2) + "\\" + Word(r, 2) + ".dat";
      if (n == "hardpoint") return "Hp" + Word(r, 1) + Pad(r.Range(1, 12));
      if (n == "gender") return r.Chance(50) ? "female" : "male";
      return n.substr(0, std::min<size_t>(n.size(), 4)) + "_" + Word(r, 2) + "_" + Pad(r.Range(1, 40));
    default:
      return "";  // type 5 takes no value
  }
}

// What the analyser stores for a good line, values joined by \x1f.
std::string FileWriter::Canon(const Item& it) const {
  std::string out;
  for (size_t i = 0; i < it.values.size(); ++i) {
    if (i) out += '\x1f';
    const std::string& v = it.values[i];
    switch (it.rule->At(i).type) {
      case kFloat: out += DoubleText(std::strtod(v.c_str(), nullptr)); break;
      case kBoolean: out += (Lower(v) == "false" || v == "0") ? "False" : "True"; break;
      default: out += v;
    }
  }
  return out;
}

std::vector<Item> FileWriter::PlanEntries(const SectionRule& s, bool withRefs) {
  std::vector<Item> items;
  const double scale = game_.preset_.lines;
  for (const EntryRule& e : s.entries) {
    Shape sh = ShapeOf(s, e);
    if (IsRef(e.id)) {
      if (!withRefs || Left(e.id) == 0) continue;
      auto& kids = file_.children.at(e.id);
      Item it;
      it.rule = &e;
      it.key = e.name;
      it.ref = true;
      int per = e.varArgs ? rng_.Range(1, 3) : 1;
      for (int k = 0; k < per && Left(e.id) > 0; ++k) {
        int child = kids[next_[e.id]++];
        it.values.push_back(game_.files_[child].rel);
        if (game_.files_[child].missing) it.missingChildren.push_back(child);
      }
      items.push_back(it);
      continue;
    }
    if (!e.mandatory && !rng_.Chance(sh.percent)) continue;
    // A type-5 entry without fixed values is written bare: text files only.
    if (e.fixed == 0 && file_.binary) continue;
    int lines = 1;
    if (e.multiLine) {
      int lo = std::max(1, static_cast<int>(sh.minLines * scale)), hi = std::max(lo, int(sh.maxLines * scale));
      // The analyser holds 2048 lines of a section; faults may add a few.
      lines = std::max(1, std::min(rng_.Range(lo, hi), 1900 - static_cast<int>(items.size())));
    }
    for (int l = 0; l < lines; ++l) {
      Item it;
      it.rule = &e;
      it.key = e.name;
      for (int k = 0; k < e.fixed; ++k) it.values.push_back(Value(s, e, e.values[k]));
      if (e.varArgs && e.values.back().type != kNull) {
        int extra = rng_.Range(sh.minVar, sh.maxVar);
        for (int k = 0; k < extra; ++k) it.values.push_back(Value(s, e, e.values.back()));
      }
      items.push_back(it);
    }
  }
  return items;
}

// A key the section does not know: a letter dropped or two letters swapped.
std::string Misspell(Rng& r, const SectionRule& s, const std::string& key) {
  for (int tries = 0; tries < 20; ++tries) {
    std::string k = key;
    size_t i = r.Next() % (k.size() - 1);
    if (r.Chance(50))
      std::swap(k[i], k[i + 1]);
    else
      k.erase(i, 1);
    if (!k.empty() && k != key && !s.Find(k) && k.find('=') == std::string::npos) return k;
  }
  return key + "_old";
}

bool FileWriter::TryFault(const std::string& kind, const SectionRule& s, std::vector<Item>& items, size_t i) {
  Item& it = items[i];
  if (it.ref || !it.good || it.rule == nullptr || !it.repair.empty()) return false;
  const EntryRule& e = *it.rule;
  auto typedAt = [&](std::initializer_list<int> types) -> int {
    for (size_t k = 0; k < it.values.size(); ++k)
      for (int t : types)
        if (e.At(k).type == t) return static_cast<int>(k);
    return -1;
  };
  if (kind == "10101") {
    int k = typedAt({kInteger, kFloat, kBoolean});
    if (k < 0) return false;
    static const std::vector<std::string> words = {"high", "n/a", "tbd", "none", "x12", "default"};
    it.values[k] = rng_.Pick(words);
    it.note = e.name + " value " + Num(k + 1) + " is no " + (e.At(k).type == kBoolean ? "boolean" : "number");
  } else if (kind == "10104") {
    int k = typedAt({kInteger});
    if (!game_.longValuePlanted_ && !file_.binary && e.fixed == 1 && !e.varArgs && e.At(0).type == kText) {
      // The other overflow, once per game: a value text past the 16-bit
      // position limit of the value splitter.
      game_.longValuePlanted_ = true;
      it.values[0] = std::string(33000, 'w');
      it.note = e.name + " value longer than 32766 characters";
    } else if (k >= 0) {
      it.values[k] = rng_.Chance(50) ? "4294967296" : "-2147483649";
      it.note = e.name + " value " + Num(k + 1) + " beyond 32 bits";
    } else {
      return false;
    }
  } else if (kind == "10205") {
    if (e.varArgs) return false;
    it.values.push_back(it.values.empty() ? "0" : it.values.back());
    it.note = e.name + " has " + Num(e.fixed) + " values, given " + Num(it.values.size());
  } else if (kind == "10212") {
    if (e.fixed == 0) return false;
    if (e.fixed == 1 && (file_.binary || e.name == "separable" || e.name == "offer_missions")) return false;
    it.values.resize(e.fixed - 1);
    it.note = e.name + " short of values";
  } else if (kind == "10102") {
    if (!e.varArgs || e.values.back().type != kNull || (e.fixed == 0 && file_.binary)) return false;
    it.values.resize(e.fixed);
    it.values.push_back(Num(rng_.Range(1, 9)));
    it.note = e.name + " gives a value to a null value rule";
  } else if (kind == "10302") {
    Item bad = it;
    bad.rule = nullptr;
    bad.key = Misspell(rng_, s, it.key);
    bad.good = false;
    bad.code = "10302";
    bad.note = "misspelt " + it.key;
    items.insert(items.begin() + static_cast<long>(i) + 1, bad);
    return true;
  } else if (kind == "10209") {
    if (e.multiLine) return false;
    Item again = it;
    again.good = false;
    again.code = "10209";
    again.note = e.name + " given twice";
    items.insert(items.begin() + static_cast<long>(i) + 1, again);
    return true;
  } else if (kind == "bare" || kind == "split") {
    if (file_.binary || (e.name != "separable" && e.name != "offer_missions")) return false;
    if (kind == "split") {
      if (i + 1 >= items.size()) return false;
      const Item& n = items[i + 1];
      if (!n.good || n.ref || n.rule == nullptr || n.values.empty() || !n.repair.empty()) return false;
    }
    it.values = {"true"};
    it.repair = kind;
    return true;
  } else {
    return false;
  }
  it.good = false;
  it.code = kind;
  return true;
}

void FileWriter::Noise() {
  if (file_.binary) return;
  int roll = rng_.Range(0, 99);
  if (roll < 3)
    Line("");
  else if (roll < 5)
    Line("; " + Word(rng_, 3) + " " + Word(rng_, 2));
}

void FileWriter::Render(const std::string& header, const SectionRule* s, std::vector<Item>& items, bool stored,
                        const std::string& sectionCode) {
  Manifest& m = game_.manifest_;
  const std::string key = file_.Key();
  Line(header);
  const long head = physical_;
  if (!sectionCode.empty())
    m.Add(key, head + 1, sectionCode, sectionCode == "10301" ? "unclosed header " + header : "unknown " + header);
  if (stored) {
    ++sections_;
    digest_ = Fnv("S\t" + file_.area + "\t" + Num(head) + "\t" + Lower(s->name) + "\n", digest_);
  }
  long pos = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    Item& it = items[i];
    Noise();
    std::string text;
    std::string joined;
    for (size_t k = 0; k < it.values.size(); ++k) joined += (k ? ", " : "") + it.values[k];
    if (it.repair == "bare") {
      text = it.key;
      m.Add(key, physical_ + 1, "repair:" + it.key + ":bare", "bare " + it.key);
    } else if (it.repair == "split") {
      // The next line is written on this one; the analyser pushes it back.
      const Item& n = items[i + 1];
      std::string rest;
      for (size_t k = 0; k < n.values.size(); ++k) rest += (k ? ", " : "") + n.values[k];
      bool withTrue = rng_.Chance(50);
      text = it.key + " = " + (withTrue ? "true = " : "") + n.key + " = " + rest;
      m.Add(key, physical_ + 1, "repair:" + it.key + (withTrue ? ":true" : ":other"), "joined with " + n.key);
    } else if (file_.binary) {
      text = it.key + " = " + joined;
    } else {
      if (it.values.empty())
        text = it.key + (rng_.Chance(50) ? "" : " =");
      else if (it.values.size() == 1 && it.values[0].size() > 1000)
        text = it.key + " = " + joined;
      else {
        int style = rng_.Range(0, 99);
        if (style < 4)
          text = it.key + "\t= " + joined;
        else if (style < 7)
          text = "  " + it.key + " = " + joined + "   ; " + Word(rng_, 2);
        else if (style < 9)
          text = it.key + "=" + joined;
        else
          text = it.key + " = " + joined;
      }
    }
    // Both lines of a split go in under their own positions.
    int taken = it.repair == "split" ? 2 : 1;
    for (int t = 0; t < taken; ++t) {
      Item& cur = items[i + t];
      ++pos;
      if (!cur.code.empty() && stored) m.Add(key, head + pos, cur.code, cur.note);
      for (int child : cur.missingChildren)
        m.Add(key, head + pos, "10306", "names missing " + game_.files_[child].Key());
      if (stored && cur.good) {
        ++entries_;
        values_ += static_cast<long>(cur.values.size());
        digest_ = Fnv("E\t" + Num(head) + "\t" + Num(head + pos) + "\t" + Lower(cur.rule->name) + "\t" +
                          Canon(cur) + "\n",
                      digest_);
      }
      ++game_.totalEntries_;
    }
    Line(text);
    i += static_cast<size_t>(taken - 1);
  }
  if (file_.binary) Line("");
}

void FileWriter::Section(const std::string& name) {
  const SectionRule& s = game_.rules_.Get(name);
  std::vector<Item> items = PlanEntries(s, true);

  // Section faults.
  if (++game_.sectionCounter_ % kSectionRate == 0)
    ++game_.pendingSection_[kSectionCycle[game_.sectionCycle_++ % kSectionCycle.size()]];
  std::string sectionCode;
  if (game_.pendingSection_["10305"] > 0) {
    // A misspelt copy before the real section; nothing of it is stored.
    std::string bogus = Misspell(rng_, SectionRule{}, s.name);
    if (!game_.rules_.Known(bogus)) {
      --game_.pendingSection_["10305"];
      std::vector<Item> copy = PlanEntries(s, false);
      Render("[" + bogus + "]", nullptr, copy, false, "10305");
    }
  } else if (game_.pendingSection_["10301"] > 0 && !file_.binary) {
    --game_.pendingSection_["10301"];
    sectionCode = "10301";
  }

  // Line faults.
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].ref || !items[i].good) continue;
    if (++game_.lineCounter_ % game_.lineRate_ == 0)
      ++game_.pendingLine_[kLineCycle[game_.lineCycle_++ % kLineCycle.size()]];
    for (const std::string& kind : kLineCycle) {
      if (game_.pendingLine_[kind] > 0 && TryFault(kind, s, items, i)) {
        --game_.pendingLine_[kind];
        break;
      }
    }
    if (items[i].repair == "split") ++i;  // the joined line stays as it is
  }
  Render(sectionCode.empty() ? "[" + s.name + "]" : "[" + s.name, &s, items, true, sectionCode);
}

void FileWriter::Finish() {
  Game& g = game_;
  fs::path path = DiskPath(g.dir_, file_);
  fs::create_directories(path.parent_path());
  if (file_.binary) {
    krun::WriteBinaryIniFile(path, body_);
    ++g.binaryFiles_;
  } else {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << body_;
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
  g.totalBytes_ += static_cast<long>(body_.size());
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest_));
  g.expected_ << file_.Key() << '\t' << file_.area << '\t' << (file_.binary ? 1 : 0) << '\t' << sections_
              << '\t' << entries_ << '\t' << values_ << '\t' << hex << '\n';
  for (auto& [id, n] : next_)
    if (n != file_.children.at(id).size())
      throw std::logic_error(file_.Key() + " does not name all its files for " + Num(id));
}

// ---------------------------------------------------------------- templates

void Game::WriteFile(int index) {
  const GameFile& f = files_[index];
  FileWriter w(*this, f);
  Rng& r = w.R();
  auto C = [&](int n) { return w.Count(n); };
  auto Some = [&](int lo, int hi) { return r.Range(lo, hi); };
  switch (f.kind) {
    case Kind::Universe:
      w.Section("Time");
      w.RefSections("System", 74);
      w.RefSections("Base", 872);
      break;
    case Kind::System:
      w.Section("SystemInfo");
      w.Section("Music");
      w.Section("Dust");
      w.Sections("LightSource", Some(1, 3));
      for (int i = 0, n = C(Some(40, 140)); i < n; ++i) w.Section(i % 3 == 2 ? "Zone" : "Object");
      w.RefSections("Asteroids", 877);
      w.RefSections("Nebula", 879);
      w.Sections("EncounterParameters", Some(1, 6));
      break;
    case Kind::Field:
      w.Section("TexturePanels");
      w.Section("Field");
      w.Sections("Cube", Some(1, 2));
      w.Section("Band");
      w.Section("ExclusionZones");
      w.Section("AsteroidBillboards");
      w.RefSections("RockArch", 64);
      break;
    case Kind::Nebula:
      w.Section("Fog");
      w.Sections("Clouds", Some(1, 3));
      w.Section("NebulaLight");
      w.Section("ExclusionZones");
      break;
    case Kind::Rocks: w.Sections("Rock", C(Some(20, 80))); break;
    case Kind::BaseFile:
      w.Section("BaseInfo");
      w.Sections("Room", Some(3, 8));
      break;
    case Kind::Solar: w.Sections("Solar", C(300)); break;
    case Kind::Constants:
      for (auto s : {"PhysicsConsts", "CameraConsts", "GlobalConsts"}) w.Section(s);
      break;
    case Kind::Fonts:
      w.Section("TrueType");
      w.Sections("FontMap", C(40));
      break;
    case Kind::Sounds: w.Sections("Sound", C(Some(150, 250))); break;
    case Kind::Voices:
      for (int i = 0, n = C(30); i < n; ++i) {
        w.Section("Voice");
        if (r.Chance(40)) w.Section("VoiceProps");
      }
      break;
    case Kind::Explosions: w.Sections("Explosion", C(150)); break;
    case Kind::Debris: w.Sections("Debris", C(100)); break;
    case Kind::AsteroidArch:
      w.Sections("Asteroid", C(100));
      w.Sections("DynamicAsteroid", C(40));
      break;
    case Kind::Weapons:
      w.RefSections("Gun", 1034);
      for (int i = 0, n = C(150); i < n; ++i) w.Section(i % 2 ? "Munition" : "Gun");
      break;
    case Kind::Engines:
      w.Sections("Engine", C(80));
      w.Sections("Power", C(60));
      break;
    case Kind::Shields: w.Sections("ShieldGenerator", C(120)); break;
    case Kind::MiscEquip:
      w.Sections("Thruster", C(40));
      w.Sections("Scanner", C(30));
      w.Sections("Tractor", C(30));
      break;
    case Kind::Commodities: w.Sections("Commodity", C(200)); break;
    case Kind::Projectiles: w.Sections("Projectile", C(Some(10, 40))); break;
    case Kind::Ships:
      while (w.Left(101) > 0) {
        w.Section("Ship");
        w.Sections("CollisionGroup", Some(1, 5));
      }
      break;
    case Kind::Hull:
      w.Sections("Hull", Some(1, 3));
      break;
    case Kind::Wreck: w.Sections("Wreck", C(Some(10, 40))); break;
    case Kind::Goods:
      w.RefSections("Good", 871);
      w.Sections("Good", C(250));
      break;
    case Kind::Catalog: w.Sections("CatalogEntry", C(Some(20, 80))); break;
    case Kind::Loadouts:
      w.RefSections("Loadout", 1040);
      w.Sections("Loadout", C(200));
      break;
    case Kind::Cargo: w.Sections("Cargo", C(Some(5, 20))); break;
    case Kind::Costumes: w.Sections("Costume", C(120)); break;
    case Kind::Petal: w.Sections("ObjectTable", 3); break;
    case Kind::Effects:
      w.RefSections("Effect", 1107);
      w.Sections("VisEffect", C(200));
      break;
    case Kind::Particles: w.RefSections("Emitter", 1169); break;
    case Kind::Textures: w.Sections("TextureSet", C(Some(10, 40))); break;
    case Kind::EffectShapes: w.Sections("EffectShape", C(150)); break;
    case Kind::Fuses:
      for (int i = 0, n = C(120); i < n; ++i) {
        w.Section("Fuse");
        w.Sections("StartEffect", Some(1, 3));
        if (r.Chance(50)) w.Section("DestroyGroup");
        if (r.Chance(30)) w.Section("DestroyHpAttachment");
        if (r.Chance(30)) w.Section("ImpulseEvent");
      }
      break;
    case Kind::Groups:
      w.Sections("Group", C(40));
      w.Section("LockedGates");
      break;
    case Kind::Stars:
      w.Section("Texture");
      w.Sections("Star", C(40));
      w.Sections("StarGlow", C(40));
      w.Sections("Spines", C(20));
      break;
    case Kind::Markets:
      w.RefSections("BaseGood", 1055);
      w.Sections("BaseGood", C(Some(30, 60)));
      break;
    case Kind::MarketOverride: w.Sections("MarketOverride", C(Some(5, 20))); break;
    case Kind::WeaponMod: w.Sections("WeaponType", C(60)); break;
    case Kind::MissionBases:
      for (int i = 0, n = C(200); i < n; ++i) {
        w.Section("MissionBase");
        w.Sections("BaseFaction", Some(1, 3));
      }
      break;
    case Kind::NpcPeople: w.Sections("GF_NPC", C(300)); break;
    case Kind::NpcShips:
      w.RefSections("Loadout", 1040);
      w.Sections("NPCShipArch", C(250));
      break;
    case Kind::News: w.Sections("NewsItem", C(150)); break;
  }
  w.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  std::string preset = "small", rules = VDGEN_DEFAULT_RULES, dir;
  uint64_t seed = 1;
  long faultEvery = kLineRate;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    try {
      if (a == "--preset")
        preset = value();
      else if (a == "--seed")
        seed = std::stoull(value());
      else if (a == "--rules")
        rules = value();
      else if (a == "--fault-every") {
        faultEvery = std::stol(value());
        if (faultEvery < 1) throw std::invalid_argument("--fault-every takes a number of lines from 1 up");
      }
      else if (!a.empty() && a[0] != '-' && dir.empty())
        dir = a;
      else
        throw std::invalid_argument("unknown argument " + a);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vdgen: %s\n", e.what());
      dir.clear();
      break;
    }
  }
  if (dir.empty() || !kPresets.count(preset)) {
    std::fprintf(stderr, "usage: vdgen [--preset small|large] [--seed N] [--rules KETCH.MDB] [--fault-every LINES] DIR\n");
    return 1;
  }
  try {
    Rules r(rules);
    Game g(r, kPresets.at(preset), seed, dir);
    g.lineRate_ = faultEvery;
    g.Plan();
    g.Write();
    long files = 0;
    for (const auto& f : g.files_) files += f.missing ? 0 : 1;
    std::printf("vdgen: %s preset, seed %llu: %ld data files (%ld binary), %.1f MB, %ld entry lines\n",
                preset.c_str(), static_cast<unsigned long long>(seed), files, g.binaryFiles_,
                g.totalBytes_ / 1e6, g.totalEntries_);
    std::printf("vdgen: planted");
    for (const auto& [code, n] : g.manifest_.counts) std::printf(" %s:%d", code.c_str(), n);
    std::printf("\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vdgen: %s\n", e.what());
    return 2;
  }
  return 0;
}
