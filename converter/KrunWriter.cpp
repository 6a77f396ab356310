// Writer of binary INI files. Value typing asks the same formatting that krun
// uses whether the text would come back unchanged, which is what makes the
// round trip hold by construction rather than by a list of patterns.
#include "KrunWriter.h"

#include "KrunFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace krun {

namespace {

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool IsIntegerText(std::string_view text) {
  std::int32_t value;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  char back[16];
  const auto [backEnd, backEc] = std::to_chars(back, back + sizeof back, value);
  return std::string_view(back, static_cast<std::size_t>(backEnd - back)) == text;
}

bool IsFloatText(std::string_view text, float& value) {
  // The compare below refuses every spelling "%f" would not make; the length
  // limit only keeps the buffer small.
  if (text.empty() || text.size() > 60) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  char back[64];
  const auto [backEnd, backEc] = std::to_chars(back, back + sizeof back, static_cast<double>(value),
                                               std::chars_format::fixed, 6);
  return backEc == std::errc() &&
         std::string_view(back, static_cast<std::size_t>(backEnd - back)) == text;
}

void PutU16(std::string& out, std::uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8 & 0xFF));
}

void PutU32(std::string& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

class TableBuilder {
 public:
  std::uint32_t Add(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
      throw std::invalid_argument("binary INI text holds a zero byte: " + text);
    }
    const auto [it, added] = offsets_.try_emplace(text, 0);
    if (added) {
      if (table_.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("binary INI string table exceeds 4 GiB");
      }
      it->second = static_cast<std::uint32_t>(table_.size());
      table_.append(text).push_back('\0');
    }
    return it->second;
  }
  std::uint16_t AddName(const std::string& name) {
    const std::uint32_t offset = Add(name);
    if (offset > 0xFFFF) throw std::length_error("binary INI names exceed the first 64 KiB");
    return static_cast<std::uint16_t>(offset);
  }
  const std::string& Bytes() const { return table_; }

 private:
  std::unordered_map<std::string, std::uint32_t> offsets_;
  std::string table_;
};

}  // namespace

BinaryValue BinaryValue::Integer(std::int32_t value) {
  return {kInteger, static_cast<std::uint32_t>(value), {}};
}

BinaryValue BinaryValue::Float(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return {kFloat, bits, {}};
}

BinaryValue BinaryValue::String(std::string value) { return {kString, 0, std::move(value)}; }

BinaryValue BinaryValue::Raw(std::uint8_t type, std::uint32_t data) { return {type, data, {}}; }

BinaryValue TypeValue(std::string_view text) {
  if (IsIntegerText(text)) {
    std::int32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return BinaryValue::Integer(value);
  }
  if (float value; IsFloatText(text, value)) return BinaryValue::Float(value);
  return BinaryValue::String(std::string(text));
}

BinaryIni ParseTextIni(std::string_view text) {
  BinaryIni ini;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    const auto lineEnd = text.find('\n');
    std::string_view line = text.substr(0, lineEnd);
    text = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 1);
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty()) continue;

    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      ini.push_back({std::string(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      throw std::invalid_argument("line " + std::to_string(lineNo) + " has no \"=\": " +
                                  std::string(line));
    }
    if (ini.empty()) {
      throw std::invalid_argument("line " + std::to_string(lineNo) +
                                  " is an entry before the first section");
    }
    BinaryEntry entry{std::string(TrimBlanks(line.substr(0, equals))), {}};
    const std::string_view values = TrimBlanks(line.substr(equals + 1));
    if (values != "true") {
      std::size_t start = 0;
      while (true) {
        const auto comma = values.find(',', start);
        entry.values.push_back(TypeValue(TrimBlanks(values.substr(start, comma - start))));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
      }
    }
    ini.back().entries.push_back(std::move(entry));
  }
  return ini;
}

std::string EncodeBinaryIni(const BinaryIni& ini) {
  TableBuilder table;
  // Names first, so that they land in the 16-bit addressable start of the table.
  for (const auto& section : ini) {
    table.AddName(section.name);
    for (const auto& entry : section.entries) table.AddName(entry.name);
  }

  std::string out(kHeaderSize, '\0');
  for (const auto& section : ini) {
    if (section.entries.size() > 0xFFFF) {
      throw std::length_error("section " + section.name + " has more than 65535 entries");
    }
    PutU16(out, table.AddName(section.name));
    PutU16(out, static_cast<std::uint32_t>(section.entries.size()));
    for (const auto& entry : section.entries) {
      if (entry.values.size() > 0xFF) {
        throw std::length_error("entry " + entry.name + " has more than 255 values");
      }
      PutU16(out, table.AddName(entry.name));
      out.push_back(static_cast<char>(entry.values.size()));
      for (const auto& value : entry.values) {
        out.push_back(static_cast<char>(value.type));
        PutU32(out, value.type == kString ? table.Add(value.text) : value.data);
      }
    }
  }
  if (out.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("binary INI records exceed 4 GiB");
  }
  const auto tableStart = static_cast<std::uint32_t>(out.size());
  std::string header(kMagic);
  PutU32(header, 1);
  PutU32(header, tableStart);
  out.replace(0, kHeaderSize, header);
  out += table.Bytes();
  return out;
}

std::string TextToBinaryIni(std::string_view text) { return EncodeBinaryIni(ParseTextIni(text)); }

void WriteBinaryIniFile(const std::filesystem::path& path, std::string_view text) {
  const std::string bytes = TextToBinaryIni(text);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace krun
