// Decoder of binary INI files: one pass over the records, values formatted
// without the C locale's help (to_chars), and every offset taken from the file
// checked before it is used.
#include "KrunDecoder.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <type_traits>

namespace krun {

namespace {

std::uint16_t U16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t U32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

class StringTable {
 public:
  StringTable(const unsigned char* data, std::size_t size) : data_(data), size_(size) {
    // A string is terminated exactly when some zero byte lies at or after its
    // start, so the last zero byte answers that for every offset at once.
    terminatedBelow_ = size;
    while (terminatedBelow_ > 0 && data[terminatedBelow_ - 1] != 0) --terminatedBelow_;
  }

  bool Inside(std::uint64_t offset) const { return offset < size_; }
  bool Terminated(std::uint64_t offset) const { return offset < terminatedBelow_; }

  // Only for offsets that are Inside and Terminated.
  std::string_view At(std::uint64_t offset) const {
    const auto* start = reinterpret_cast<const char*>(data_ + offset);
    const auto* end = static_cast<const char*>(std::memchr(start, 0, size_ - offset));
    // Only a file changed under a running krun lacks the zero found before.
    return {start, end != nullptr ? static_cast<std::size_t>(end - start) : size_ - offset};
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t terminatedBelow_;
};

// Swallows text: the checking pass runs the same code as the writing pass.
struct NoText {
  void Append(const char*, std::size_t) {}
};

template <class Out>
void Put(Out& out, std::string_view text) {
  out.Append(text.data(), text.size());
}

// Numbers are formatted straight into the sink's buffer when it has room.
template <class Out>
void PutInteger(Out& out, std::int32_t value) {
  if constexpr (!std::is_same_v<Out, NoText>) {
    constexpr std::size_t kSize = 11;  // "-2147483648"
    char local[kSize];
    char* text = out.Reserve(kSize);
    char* start = text != nullptr ? text : local;
    char* end = std::to_chars(start, start + kSize, value).ptr;
    if (text != nullptr) {
      out.Commit(end);
    } else {
      out.Append(local, static_cast<std::size_t>(end - local));
    }
  }
}

template <class Out>
void PutFloat(Out& out, float value) {
  if constexpr (!std::is_same_v<Out, NoText>) {
    char local[detail::kFixedFloatSize];
    char* text = out.Reserve(detail::kFixedFloatSize);
    char* start = text != nullptr ? text : local;
    const std::size_t size = detail::FormatFixed(value, start);
    if (text != nullptr) {
      out.Commit(start + size);
    } else {
      out.Append(local, size);
    }
  }
}

Result Inconsistent(Problem problem, std::uint64_t offset) {
  return {Outcome::Inconsistent, offset, 0, problem};
}

template <class Out>
Result Walk(std::span<const unsigned char> file, Out& out) {
  const std::size_t size = file.size();
  if (size < kHeaderSize) return Inconsistent(Problem::HeaderTruncated, size);
  const unsigned char* const bytes = file.data();
  const std::size_t tableStart = U32(bytes + 8);
  if (tableStart < kHeaderSize) return Inconsistent(Problem::TableBeforeRecords, 8);
  if (tableStart > size) return Inconsistent(Problem::TableBeyondEnd, 8);
  const StringTable table(bytes + tableStart, size - tableStart);

  std::size_t pos = kHeaderSize;
  while (pos < tableStart) {
    if (tableStart - pos < kSectionHeaderSize) return Inconsistent(Problem::SectionPastTable, pos);
    const std::uint16_t sectionName = U16(bytes + pos);
    const std::uint16_t entryCount = U16(bytes + pos + 2);
    if (!table.Inside(sectionName)) return Inconsistent(Problem::SectionNameOutside, pos);
    if (!table.Terminated(sectionName)) return Inconsistent(Problem::SectionNameUnterminated, pos);
    Put(out, "[");
    Put(out, table.At(sectionName));
    Put(out, "]\r\n");
    pos += kSectionHeaderSize;

    for (unsigned entry = 0; entry < entryCount; ++entry) {
      if (tableStart - pos < kEntryHeaderSize) return Inconsistent(Problem::EntryPastTable, pos);
      const std::uint16_t entryName = U16(bytes + pos);
      const unsigned valueCount = bytes[pos + 2];
      if (!table.Inside(entryName)) return Inconsistent(Problem::EntryNameOutside, pos);
      if (!table.Terminated(entryName)) return Inconsistent(Problem::EntryNameUnterminated, pos);
      Put(out, table.At(entryName));
      pos += kEntryHeaderSize;
      if (valueCount == 0) {
        Put(out, " = true\r\n");
        continue;
      }
      Put(out, " = ");

      for (unsigned value = 0; value < valueCount; ++value) {
        if (tableStart - pos < kValueSize) return Inconsistent(Problem::ValuePastTable, pos);
        const unsigned type = bytes[pos];
        const std::uint32_t data = U32(bytes + pos + 1);
        switch (type) {
          case kInteger:
            PutInteger(out, static_cast<std::int32_t>(data));
            break;
          case kFloat: {
            float single;
            std::memcpy(&single, &data, sizeof single);
            PutFloat(out, single);
            break;
          }
          case kString:
            if (!table.Inside(data)) return Inconsistent(Problem::StringOutside, pos);
            if (!table.Terminated(data)) return Inconsistent(Problem::StringUnterminated, pos);
            Put(out, table.At(data));
            break;
          default:
            return {Outcome::UnrecognizedType, pos, static_cast<int>(type), Problem::None};
        }
        pos += kValueSize;
        Put(out, value + 1 < valueCount ? std::string_view(", ") : std::string_view("\r\n"));
      }
    }
    Put(out, "\r\n");
  }
  return {};
}

}  // namespace

namespace detail {

std::size_t FormatFixed(float single, char* out) {
  std::uint32_t bits;
  std::memcpy(&bits, &single, sizeof bits);
  const bool negative = bits >> 31;
  const int biased = static_cast<int>(bits >> 23 & 0xFF);
  std::uint64_t mantissa = bits & 0x7FFFFF;
  if (biased == 0xFF) {
    const char* text = mantissa != 0 ? (negative ? "-nan" : "nan") : (negative ? "-inf" : "inf");
    const std::size_t size = std::strlen(text);
    std::memcpy(out, text, size);
    return size;
  }
  // value = mantissa * 2^exponent exactly.
  const int exponent = biased == 0 ? -149 : biased - 150;
  if (biased != 0) mantissa |= 0x800000;
  if (exponent > 40) {
    // Beyond 64-bit integers; rare enough to leave to the library.
    const auto [end, ec] = std::to_chars(out, out + kFixedFloatSize, static_cast<double>(single),
                                         std::chars_format::fixed, 6);
    return static_cast<std::size_t>(end - out);
  }
  std::uint64_t whole = 0;
  std::uint32_t fraction = 0;
  if (exponent >= 0) {
    whole = mantissa << exponent;
  } else if (exponent >= -63) {
    // Millionths, rounded half to even as printf rounds: mantissa * 10^6 < 2^44,
    // so this is exact. Below 2^-63 the value is far under half a millionth.
    const int shift = -exponent;
    const std::uint64_t scaled = mantissa * 1000000;
    std::uint64_t millionths = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1))) ++millionths;
    whole = millionths / 1000000;
    fraction = static_cast<std::uint32_t>(millionths % 1000000);
  }

  char* p = out;
  if (negative) *p++ = '-';
  p = std::to_chars(p, out + kFixedFloatSize, whole).ptr;
  *p++ = '.';
  for (int digit = 5; digit >= 0; --digit) {
    p[digit] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return static_cast<std::size_t>(p + 6 - out);
}

}  // namespace detail

HeaderCheck CheckHeader(std::span<const unsigned char> file) {
  if (file.size() < 4 || !std::equal(kMagic.begin(), kMagic.end(), file.begin())) {
    return HeaderCheck::NotKrun;
  }
  if (file.size() < 8 || U32(file.data() + 4) != kVersion) return HeaderCheck::WrongVersion;
  return HeaderCheck::Ok;
}

const char* ProblemText(Problem problem) {
  switch (problem) {
    case Problem::None: return "no problem";
    case Problem::HeaderTruncated: return "file ends inside the header";
    case Problem::TableBeforeRecords: return "string table offset lies inside the header";
    case Problem::TableBeyondEnd: return "string table offset lies beyond the end of the file";
    case Problem::SectionPastTable: return "section record runs past the string table";
    case Problem::EntryPastTable: return "entry record runs past the string table";
    case Problem::ValuePastTable: return "value record runs past the string table";
    case Problem::SectionNameOutside: return "section name offset lies outside the string table";
    case Problem::EntryNameOutside: return "entry name offset lies outside the string table";
    case Problem::StringOutside: return "string offset lies outside the string table";
    case Problem::SectionNameUnterminated: return "section name has no terminating zero";
    case Problem::EntryNameUnterminated: return "entry name has no terminating zero";
    case Problem::StringUnterminated: return "string has no terminating zero";
  }
  return "unknown problem";
}

TextSink::TextSink(std::size_t capacity)
    : buffer_(new char[std::max<std::size_t>(capacity, 1)]),
      capacity_(std::max<std::size_t>(capacity, 1)) {}

TextSink::~TextSink() = default;

void TextSink::Flush() {
  if (used_ == 0) return;
  Emit(buffer_.get(), used_);
  used_ = 0;
}

void TextSink::Spill(const char* text, std::size_t size) {
  Flush();
  if (size >= capacity_) {
    Emit(text, size);
  } else {
    std::char_traits<char>::copy(buffer_.get(), text, size);
    used_ = size;
  }
}

Result Decode(std::span<const unsigned char> file, TextSink* out) {
  if (out == nullptr) {
    NoText none;
    return Walk(file, none);
  }
  Result result = Walk(file, *out);
  out->Flush();
  return result;
}

}  // namespace krun
