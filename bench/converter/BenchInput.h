// Game-like binary INI content for the benchmarks: ship and weapon sections
// with a few values per entry, mostly strings and integers, some floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KrunWriter.h"

namespace krun::bench {

// Sections until the encoded file reaches about targetBytes.
inline BinaryIni MakeBenchIni(std::size_t targetBytes) {
  static const char* const kKeys[] = {"nickname", "ids_name", "hit_pts", "mass", "explosion_resistance",
                                      "fuse", "hp_type", "separable", "lodranges", "material_library"};
  BinaryIni ini;
  std::uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  std::size_t bytes = 12;
  for (std::size_t n = 0; bytes < targetBytes; ++n) {
    BinarySection section{n % 3 ? "Ship" : "Weapon", {}};
    bytes += 4;
    for (int e = 0; e < 24; ++e) {
      BinaryEntry entry{kKeys[next() % 10], {}};
      const unsigned count = next() % 5;
      for (unsigned v = 0; v < count; ++v) {
        switch (next() % 4) {
          case 0:
            entry.values.push_back(BinaryValue::Integer(static_cast<std::int32_t>(next() % 200000) - 1000));
            break;
          case 1:
            entry.values.push_back(BinaryValue::Float(static_cast<float>(next() % 100000) / 64.0f));
            break;
          default:
            entry.values.push_back(BinaryValue::String("li_item_" + std::to_string(next() % 20000)));
        }
      }
      bytes += 3 + 5 * count;
      section.entries.push_back(std::move(entry));
    }
    ini.push_back(std::move(section));
  }
  return ini;
}

}  // namespace krun::bench
