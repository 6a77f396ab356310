// Game-like binary INI content for the benchmarks: ship, weapon and
// equipment sections whose keys each keep one value signature, as game data
// does ("s" string, "i" integer, "f" float), with names drawn from a pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KrunWriter.h"

namespace krun::bench {

// Sections until the encoded file reaches about targetBytes.
inline BinaryIni MakeBenchIni(std::size_t targetBytes) {
  struct Key {
    const char* name;
    const char* signature;
  };
  static const Key kKeys[] = {
      {"nickname", "s"},        {"ids_name", "i"},          {"ids_info", "i"},
      {"hit_pts", "i"},         {"mass", "f"},              {"explosion_resistance", "f"},
      {"hp_type", "ss"},        {"separable", ""},          {"lodranges", "ffff"},
      {"material_library", "s"}, {"fuse", "sfi"},           {"linear_drag", "f"},
      {"rotation_inertia", "fff"}, {"DA_archetype", "s"},   {"cargo_limit", "i"},
      {"volume", "f"},          {"LODranges", "iiii"},      {"shield_link", "ssi"},
  };
  static const char* const kSections[] = {"Ship", "Gun", "Engine", "Power", "Shield", "Armor"};
  constexpr std::size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];
  BinaryIni ini;
  std::uint32_t state = 12345;
  auto next = [&state] { return (state = state * 1664525u + 1013904223u) >> 8; };
  std::size_t bytes = 12;
  for (std::size_t n = 0; bytes < targetBytes; ++n) {
    BinarySection section{kSections[n % 6], {}};
    bytes += 4;
    for (std::size_t e = 0; e < kKeyCount; ++e) {
      const Key& key = kKeys[(e + n) % kKeyCount];
      BinaryEntry entry{key.name, {}};
      for (const char* type = key.signature; *type != '\0'; ++type) {
        switch (*type) {
          case 'i':
            entry.values.push_back(BinaryValue::Integer(static_cast<std::int32_t>(next() % 600000) - 1000));
            break;
          case 'f':
            entry.values.push_back(BinaryValue::Float(static_cast<float>(next() % 100000) / 64.0f));
            break;
          default:
            entry.values.push_back(BinaryValue::String("li_item_" + std::to_string(next() % 20000)));
        }
        bytes += 5;
      }
      bytes += 3;
      section.entries.push_back(std::move(entry));
    }
    ini.push_back(std::move(section));
  }
  return ini;
}

}  // namespace krun::bench
