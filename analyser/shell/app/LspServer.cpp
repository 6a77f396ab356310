// The language server: the protocol's life cycle, the open documents and,
// per change, check's findings of the text as diagnostics. The engine reads
// code page 1252 bytes in lines ended by CR; the editor counts lines at any
// line end and columns in UTF-16 units. Every position crosses between the two
// through the byte offset in the document.
#include "shell/app/LspServer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>
#include <vector>

#include "ini/mINI.h"
#include "platform/App.h"
#include "platform/Text.h"
#include "rules/mParse.h"
#include "rules/mUtils.h"
#include "shell/app/FindingsOutput.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace lsp {
namespace {

// What the end hook throws while the server runs: the engine's "end the
// program at once" ends the work on one document or one load instead.
struct Ended {
  int status;
};

// The last error report, for the diagnostic or message that tells of it.
std::string& LastReport() {
  static std::string report;
  return report;
}

// A request whose params do not fit its method.
struct BadParams {
  std::string what;
};

const json& Member(const json& object, const char* name) {
  static const json none;
  if (!object.is_object()) throw BadParams{"params must be an object"};
  auto it = object.find(name);
  return it == object.end() ? none : *it;
}

std::string StringMember(const json& object, const char* name) {
  const json& v = Member(object, name);
  if (!v.is_string()) throw BadParams{std::string(name) + " must be a string"};
  return v.get<std::string>();
}

int64_t UnsignedMember(const json& object, const char* name) {
  const json& v = Member(object, name);
  if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
    throw BadParams{std::string(name) + " must be a non-negative integer"};
  return v.get<int64_t>();
}

std::string UriOf(const json& params) { return StringMember(Member(params, "textDocument"), "uri"); }

// A document's text as the engine reads it, with the editor's positions.
class Text {
 public:
  explicit Text(const std::string& utf8) {
    size_t characters = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
      const auto c = static_cast<unsigned char>(utf8[i]);
      if ((c & 0xC0) == 0x80) continue;
      // A character past U+FFFF takes two UTF-16 units.
      if (c >= 0xF0) astral_.push_back(characters);
      ++characters;
    }
    bytes_ = Utf8ToCp1252(utf8);
    // One byte per character is what the columns rest on; malformed input
    // (which the JSON reader lets through to no one) would break it.
    if (bytes_.size() != characters) astral_.clear();
    lines_.push_back(0);
    for (size_t i = 0; i < bytes_.size(); ++i) {
      if (bytes_[i] == '\n' || (bytes_[i] == '\r' && (i + 1 == bytes_.size() || bytes_[i + 1] != '\n')))
        lines_.push_back(i + 1);
    }
  }

  const std::string& Bytes() const { return bytes_; }
  size_t LineCount() const { return lines_.size(); }

  // The editor's line (without its end), clamped to the last.
  std::string_view Line(size_t line) const {
    line = std::min(line, lines_.size() - 1);
    size_t start = lines_[line];
    size_t end = line + 1 < lines_.size() ? lines_[line + 1] : bytes_.size();
    while (end > start && (bytes_[end - 1] == '\n' || bytes_[end - 1] == '\r')) --end;
    return std::string_view(bytes_).substr(start, end - start);
  }
  size_t LineStart(size_t line) const { return lines_[std::min(line, lines_.size() - 1)]; }

  json Position(size_t offset) const {
    offset = std::min(offset, bytes_.size());
    size_t line = static_cast<size_t>(std::upper_bound(lines_.begin(), lines_.end(), offset) - lines_.begin()) - 1;
    size_t start = lines_[line];
    size_t wide = static_cast<size_t>(std::lower_bound(astral_.begin(), astral_.end(), offset) -
                                      std::lower_bound(astral_.begin(), astral_.end(), start));
    return {{"line", line}, {"character", offset - start + wide}};
  }

  // The byte offset of an editor position, clamped to its line.
  size_t Offset(size_t line, size_t character) const {
    if (line >= lines_.size()) return bytes_.size();
    const size_t start = lines_[line];
    const size_t length = Line(line).size();
    size_t units = 0, i = 0;
    auto astral = std::lower_bound(astral_.begin(), astral_.end(), start);
    for (; i < length && units < character; ++i) {
      bool wide = astral != astral_.end() && *astral == start + i;
      if (wide) ++astral;
      units += wide ? 2 : 1;
    }
    return start + i;
  }

 private:
  std::string bytes_;
  std::vector<size_t> astral_;  // character offsets of characters past U+FFFF
  std::vector<size_t> lines_;   // starts of the editor's lines
};

bool Blank(char c) { return c == ' ' || c == '\t'; }

// [begin, end) without outer blanks.
void Trim(std::string_view text, size_t& begin, size_t& end) {
  while (begin < end && Blank(text[begin])) ++begin;
  while (end > begin && Blank(text[end - 1])) --end;
}

// Findings about a value rather than the key.
bool AboutValues(int16_t code) {
  switch (code) {
    case errValueTypeMismatch:
    case errValueOverflow:
    case errValuePositionMismatch:
    case errTooManyValues:
    case errMultiValueInFixedPosition:
    case errFixedValueInMultiPosition:
    case errValueTypesNotSet:
    case errTooFewValues:
      return true;
    default:
      return false;
  }
}

// The value of the line that its rule refuses, as offsets into the value
// text: found by giving each value to a copy of its rule, as the check does.
bool OffendingValue(const Finding& f, size_t& begin, size_t& end) {
  if (f.Code != errValueTypeMismatch && f.Code != errValueOverflow) return false;
  cSection* section = RuleBase().Find(f.Section);
  if (!section) return false;
  const cEntry* rule = nullptr;
  for (const cEntry& e : *section)
    if (SameIgnoringCase(e.EntryName(), f.Key)) rule = &e;
  if (!rule) return false;
  const cSingleEntry& values = rule->ValueRules();
  size_t start = 0;
  for (int16_t p = 1;; ++p) {
    size_t comma = f.Value.find(',', start);
    size_t stop = comma == std::string::npos ? f.Value.size() : comma;
    int16_t rulePos = values.HasVariableValues() && p > values.FixedValuesNo()
                          ? static_cast<int16_t>(values.FixedValuesNo() + 1)
                          : p;
    try {
      std::unique_ptr<cValue> v = values.Value(rulePos).Clone(p);
      v->Value(std::string(TrimBlanks(std::string_view(f.Value).substr(start, stop - start))));
    } catch (const Error&) {
      begin = start;
      end = stop;
      Trim(f.Value, begin, end);
      return true;
    }
    if (comma == std::string::npos) return false;
    start = comma + 1;
  }
}

// The range of a finding: the key, the offending value or all values, or the
// header, on the physical line it is about; the whole line when none of them
// can be found there.
json RangeOf(const Text& text, const std::vector<size_t>& physical, const Finding& f) {
  const std::string& bytes = text.Bytes();
  int32_t line = f.PhysicalLine > 0 ? f.PhysicalLine : f.Line;
  size_t index = static_cast<size_t>(std::clamp<int32_t>(line, 1, static_cast<int32_t>(physical.size())) - 1);
  size_t s = physical[index];
  size_t e = index + 1 < physical.size() ? physical[index + 1] : bytes.size();
  while (e > s && (bytes[e - 1] == '\r' || bytes[e - 1] == '\n')) --e;
  std::string_view seg = std::string_view(bytes).substr(s, e - s);
  size_t b = std::string::npos, n = 0;
  if (f.Code == errSectionNoClosingBracket || f.Code == errUnknownSection) {
    b = seg.find('[');
    if (b != std::string::npos) {
      size_t close = seg.find(']', b);
      size_t stop = close == std::string::npos ? seg.size() : close + 1;
      Trim(seg, b, stop);
      n = stop - b;
    }
  } else if (AboutValues(f.Code)) {
    size_t eq = seg.find('=');
    if (eq != std::string::npos) {
      size_t at = f.Value.empty() ? std::string::npos : seg.find(f.Value, eq + 1);
      size_t vb = 0, ve = f.Value.size();
      if (at != std::string::npos) {
        if (OffendingValue(f, vb, ve)) {
          b = at + vb;
          n = ve - vb;
        } else {
          b = at;
          n = f.Value.size();
        }
      } else {
        b = eq;
        n = 1;
      }
    }
  }
  if (b == std::string::npos && !f.Key.empty()) {
    b = seg.find(f.Key);
    n = f.Key.size();
  }
  if (b == std::string::npos || n == 0) {
    // The whole line, or as much of it as the editor's first line holds.
    size_t stop = seg.size(), first = 0;
    for (size_t i = 0; i < seg.size(); ++i)
      if (seg[i] == '\n' || seg[i] == '\r') {
        stop = i;
        break;
      }
    Trim(seg, first, stop);
    b = first;
    n = stop - first;
  }
  return {{"start", text.Position(s + b)}, {"end", text.Position(s + b + n)}};
}

// Starts of the engine's physical lines: a line ends at CR, and a line feed
// right after it belongs to that end; a lone line feed ends nothing.
std::vector<size_t> PhysicalLines(const std::string& bytes) {
  std::vector<size_t> starts{0};
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r') continue;
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    if (i + 1 < bytes.size()) starts.push_back(i + 1);
  }
  return starts;
}

// After a failure in the middle of a section, rules may hold its lines: the
// next document must start from clean rules.
void ClearRules() {
  for (cSection& s : RuleBase()) s.Clear();
}

const char* TypeName(int32_t type) {
  switch (type) {
    case 1: return "Integer";
    case 2: return "Float";
    case 3: return "String";
    case 4: return "Boolean";
    case 5: return "Null";
    default: return "unknown type";
  }
}

std::string Utf8(std::string_view bytes) { return Cp1252ToUtf8(bytes); }

// "single-line, 2 fixed values, then repeating"
std::string Summary(const cEntry& e) {
  const cSingleEntry& v = e.ValueRules();
  std::string text = e.IsMultiLine() ? "multi-line" : "single-line";
  int16_t fixed = v.FixedValuesNo();
  text += ", " + std::to_string(fixed) + (fixed == 1 ? " fixed value" : " fixed values");
  if (v.HasVariableValues()) text += ", then repeating";
  if (e.IsMandatory()) text += ", mandatory";
  return text;
}

std::string EntryHover(const cSection& section, const cEntry& e) {
  const cSingleEntry& v = e.ValueRules();
  std::string md = "**" + Utf8(e.EntryName()) + "** in section **[" + Utf8(section.SectionName()) + "]**\n\n" +
                   Summary(e) + "\n\n";
  auto valueLine = [&](int16_t p, const char* prefix) {
    try {
      const cValue& value = v.Value(p);
      std::string name = value.ValueName().empty() ? "(unnamed)" : Utf8(value.ValueName());
      md += std::string(prefix) + "`" + name + "`: " + TypeName(value.ValueType()) + "\n";
    } catch (const Error&) {
      md += std::string(prefix) + "(no rule)\n";
    }
  };
  for (int16_t p = 1; p <= v.FixedValuesNo(); ++p) valueLine(p, (std::to_string(p) + ". ").c_str());
  if (v.HasVariableValues()) {
    md += "\nrepeating value:\n";
    valueLine(static_cast<int16_t>(v.FixedValuesNo() + 1), "- ");
  }
  return md;
}

std::string SectionHover(const cSection& section) {
  std::string md = "**[" + Utf8(section.SectionName()) + "]**: " + std::to_string(section.Count()) +
                   (section.Count() == 1 ? " entry" : " entries") + "\n\n";
  for (const cEntry& e : section) md += "- `" + Utf8(e.EntryName()) + "`: " + Summary(e) + "\n";
  return md;
}

// A line without its comment and outer blanks, as offsets into it.
void Content(std::string_view line, size_t& begin, size_t& end) {
  begin = 0;
  end = line.find(';');
  if (end == std::string_view::npos) end = line.size();
  Trim(line, begin, end);
}

// The name of the section header on the line, or false for another line.
bool HeaderName(std::string_view line, std::string& name) {
  size_t b, e;
  Content(line, b, e);
  if (b == e || line[b] != '[') return false;
  size_t close = line.find(']', b);
  if (close == std::string_view::npos || close > e) close = e;
  name = std::string(TrimBlanks(line.substr(b + 1, close - b - 1)));
  return true;
}

// The editor line of the header above line, or false when there is none.
bool HeaderAbove(const Text& text, size_t line, size_t& header, std::string& name) {
  for (size_t l = line + 1; l-- > 0;) {
    if (HeaderName(text.Line(l), name)) {
      header = l;
      return true;
    }
  }
  return false;
}

std::string KeyOf(std::string_view line) {
  size_t b, e;
  Content(line, b, e);
  std::string_view content = line.substr(b, e - b);
  size_t eq = content.find('=');
  return std::string(TrimBlanks(content.substr(0, eq)));
}

const cEntry* EntryOf(const cSection& section, const std::string& key) {
  for (const cEntry& e : section)
    if (SameIgnoringCase(e.EntryName(), key)) return &e;
  return nullptr;
}

bool KeyCharacter(char c) { return c != '=' && c != ';' && c != '[' && !Blank(c); }

}  // namespace

Server::Server(Writer writer, std::string rulesPath) : writer_(std::move(writer)), rulesPath_(std::move(rulesPath)) {}

Server::~Server() {
  if (settings_ && Settings() == settings_.get()) SetSettings(nullptr);
}

void Server::Send(const json& message) { writer_(Frame(Serialize(message))); }

bool Server::LoadRules(std::string& error) {
  auto settings = std::make_unique<cSettings>();
  settings->SaveOnClose(false);
  cSettings* before = Settings();
  LastReport().clear();
  try {
    SetSettings(settings.get());
    settings->SettingsDBName(rulesPath_);
    InitParse(false);
  } catch (const Ended&) {
    SetSettings(before);
    error = LastReport().empty() ? "the rule base could not be loaded" : LastReport();
    if (!RuleBaseLoaded()) rulesError_ = error;
    return false;
  }
  settings_ = std::move(settings);
  rulesError_.clear();
  return true;
}

void Server::BadFrame(const std::string& problem) {
  std::fprintf(stderr, "ketch lsp: skipped a message: %s\n", problem.c_str());
}

void Server::Handle(const std::string& body) {
  Incoming in = ParseMessage(body);
  switch (in.kind) {
    case Incoming::Invalid:
      Send(ErrorResponse(in.id, in.code, in.message));
      return;
    case Incoming::Response:
      return;  // the answer to our registration: nothing to do
    case Incoming::Notification:
      try {
        Notify(in);
      } catch (const std::exception& e) {
        // Nothing can be answered to a notification; the server goes on.
        std::fprintf(stderr, "ketch lsp: %s failed: %s\n", in.method.c_str(), e.what());
      }
      return;
    case Incoming::Request:
      break;
  }
  try {
    Request(in);
  } catch (const BadParams& e) {
    Send(ErrorResponse(in.id, kInvalidParams, "Invalid params: " + e.what));
  } catch (const json::exception& e) {
    Send(ErrorResponse(in.id, kInvalidParams, std::string("Invalid params: ") + e.what()));
  } catch (const Ended&) {
    Send(ErrorResponse(in.id, kInternalError, LastReport()));
  } catch (const std::exception& e) {
    Send(ErrorResponse(in.id, kInternalError, e.what()));
  }
}

void Server::Request(const Incoming& in) {
  const json& p = in.params;
  if (in.method == "initialize") {
    if (initialized_) {
      Send(ErrorResponse(in.id, kInvalidRequest, "initialize was already sent"));
      return;
    }
    if (!p.is_object()) throw BadParams{"params must be an object"};
    const json caps = p.value("capabilities", json::object());
    watchRegistration_ = caps.is_object() && caps.contains("workspace") && caps["workspace"].is_object() &&
                         caps["workspace"].value("didChangeWatchedFiles", json::object()).is_object() &&
                         caps["workspace"].value("didChangeWatchedFiles", json::object())
                                 .value("dynamicRegistration", false) == true;
    initialized_ = true;
    json result = {{"capabilities",
                    {{"positionEncoding", "utf-16"},
                     {"textDocumentSync", {{"openClose", true}, {"change", 1}}},
                     {"hoverProvider", true},
                     {"completionProvider", {{"triggerCharacters", {"["}}}}}},
                   {"serverInfo", {{"name", "ketch"}, {"version", App::VersionText()}}}};
    Send(ResultResponse(in.id, std::move(result)));
    return;
  }
  if (!initialized_) {
    Send(ErrorResponse(in.id, kServerNotInitialized, "Server not initialized"));
    return;
  }
  if (shutdown_) {
    Send(ErrorResponse(in.id, kInvalidRequest, "the server was shut down"));
    return;
  }
  if (in.method == "shutdown") {
    shutdown_ = true;
    Send(ResultResponse(in.id, nullptr));
  } else if (in.method == "textDocument/hover") {
    Send(ResultResponse(in.id, Hover(p)));
  } else if (in.method == "textDocument/completion") {
    Send(ResultResponse(in.id, Completion(p)));
  } else {
    Send(ErrorResponse(in.id, kMethodNotFound, "Method not found: " + in.method));
  }
}

void Server::Notify(const Incoming& in) {
  if (in.method == "exit") {
    exited_ = true;
    return;
  }
  // Before initialize notifications are dropped; after shutdown only exit counts.
  if (!initialized_ || shutdown_) return;
  const json& p = in.params;
  try {
    if (in.method == "initialized") {
      if (!watchRegistration_) return;
      json watcher = {{"globPattern", NativePath(rulesPath_)}};
      json registration = {{"id", "ketch-rule-base"},
                           {"method", "workspace/didChangeWatchedFiles"},
                           {"registerOptions", {{"watchers", {watcher}}}}};
      Send({{"jsonrpc", "2.0"},
            {"id", "ketch-" + std::to_string(nextRequestId_++)},
            {"method", "client/registerCapability"},
            {"params", {{"registrations", {registration}}}}});
    } else if (in.method == "textDocument/didOpen") {
      const json& doc = Member(p, "textDocument");
      Document d;
      d.text = StringMember(doc, "text");
      const json& version = Member(doc, "version");
      d.version = version.is_number_integer() ? version.get<int64_t>() : 0;
      const std::string uri = StringMember(doc, "uri");
      documents_[uri] = std::move(d);
      Publish(uri);
    } else if (in.method == "textDocument/didChange") {
      const std::string uri = UriOf(p);
      auto it = documents_.find(uri);
      if (it == documents_.end()) throw BadParams{"the document is not open"};
      const json& changes = Member(p, "contentChanges");
      if (!changes.is_array()) throw BadParams{"contentChanges must be an array"};
      // Full sync: each change is the whole text, the last one counts.
      const json* last = nullptr;
      for (const json& c : changes) {
        if (c.is_object() && c.contains("range")) throw BadParams{"only whole texts are taken (change 1)"};
        StringMember(c, "text");
        last = &c;
      }
      if (!last) return;
      it->second.text = (*last)["text"].get<std::string>();
      const json& version = Member(Member(p, "textDocument"), "version");
      if (version.is_number_integer()) it->second.version = version.get<int64_t>();
      Publish(uri);
    } else if (in.method == "textDocument/didClose") {
      const std::string uri = UriOf(p);
      if (documents_.erase(uri))
        Send(Notification("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}}));
    } else if (in.method == "workspace/didChangeWatchedFiles") {
      std::string error;
      if (!LoadRules(error)) {
        Send(Notification("window/showMessage",
                          {{"type", 1}, {"message", "ketch: the rule base was not reloaded: " + error}}));
        return;
      }
      for (const auto& [uri, doc] : documents_) Publish(uri);
    }
    // Other notifications ($/cancelRequest, $/setTrace, ...) need nothing.
  } catch (const BadParams& e) {
    std::fprintf(stderr, "ketch lsp: %s ignored: %s\n", in.method.c_str(), e.what.c_str());
  } catch (const json::exception& e) {
    std::fprintf(stderr, "ketch lsp: %s ignored: %s\n", in.method.c_str(), e.what());
  }
}

void Server::Publish(const std::string& uri) {
  const Document& doc = documents_.at(uri);
  json diagnostics = json::array();
  if (!RuleBaseLoaded()) {
    diagnostics.push_back({{"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}}},
                           {"severity", 1},
                           {"source", "ketch"},
                           {"message", "ketch has no rule base: " + rulesError_}});
  } else {
    LastReport().clear();
    std::string failure;
    try {
      const Text text(doc.text);
      std::vector<Finding> findings = CheckText(uri, text.Bytes());
      const std::vector<size_t> physical = PhysicalLines(text.Bytes());
      for (const Finding& f : findings) {
        diagnostics.push_back({{"range", RangeOf(text, physical, f)},
                               {"severity", 2},
                               {"code", f.Code},
                               {"source", "ketch"},
                               {"message", FindingMessage(f)}});
      }
    } catch (const Ended&) {
      failure = LastReport().empty() ? "the check ended" : Cp1252ToUtf8(LastReport());
    } catch (const std::exception& e) {
      failure = std::string("internal error: ") + e.what();
    }
    if (!failure.empty()) {
      ClearRules();
      diagnostics = json::array();
      diagnostics.push_back(
          {{"range", {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}}},
           {"severity", 1},
           {"source", "ketch"},
           {"message", "ketch could not check this file: " + failure}});
    }
  }
  Send(Notification("textDocument/publishDiagnostics",
                    {{"uri", uri}, {"version", doc.version}, {"diagnostics", std::move(diagnostics)}}));
}

json Server::Hover(const json& params) const {
  const std::string uri = UriOf(params);
  const json& position = Member(params, "position");
  const size_t line = static_cast<size_t>(UnsignedMember(position, "line"));
  UnsignedMember(position, "character");
  auto it = documents_.find(uri);
  if (it == documents_.end() || !RuleBaseLoaded()) return nullptr;
  const Text text(it->second.text);
  if (line >= text.LineCount()) return nullptr;
  const std::string_view here = text.Line(line);
  size_t b, e;
  Content(here, b, e);
  if (b == e) return nullptr;
  std::string name;
  std::string md;
  size_t rangeEnd = e;
  if (HeaderName(here, name)) {
    const cSection* section = RuleBase().Find(name);
    if (!section) return nullptr;
    md = SectionHover(*section);
  } else {
    size_t header;
    if (!HeaderAbove(text, line, header, name)) return nullptr;
    const cSection* section = RuleBase().Find(name);
    if (!section) return nullptr;
    const std::string key = KeyOf(here);
    const cEntry* entry = EntryOf(*section, key);
    if (!entry) return nullptr;
    md = EntryHover(*section, *entry);
    rangeEnd = b + key.size();
  }
  const size_t start = text.LineStart(line);
  return {{"contents", {{"kind", "markdown"}, {"value", md}}},
          {"range", {{"start", text.Position(start + b)}, {"end", text.Position(start + rangeEnd)}}}};
}

json Server::Completion(const json& params) const {
  const std::string uri = UriOf(params);
  const json& position = Member(params, "position");
  const size_t line = static_cast<size_t>(UnsignedMember(position, "line"));
  const size_t character = static_cast<size_t>(UnsignedMember(position, "character"));
  json items = json::array();
  auto it = documents_.find(uri);
  if (it == documents_.end() || !RuleBaseLoaded()) return items;
  const Text text(it->second.text);
  if (line >= text.LineCount()) return items;
  const size_t start = text.LineStart(line);
  const std::string_view prefix = std::string_view(text.Bytes()).substr(start, text.Offset(line, character) - start);
  size_t b = 0;
  while (b < prefix.size() && Blank(prefix[b])) ++b;
  std::string_view typed = prefix.substr(b);
  if (!typed.empty() && typed.front() == '[') {
    for (const cSection& s : RuleBase())
      items.push_back({{"label", Utf8(s.SectionName())}, {"kind", 9}, {"detail", std::to_string(s.Count()) + (s.Count() == 1 ? " entry" : " entries")}});
    return items;
  }
  if (!std::all_of(typed.begin(), typed.end(), KeyCharacter)) return items;
  size_t header;
  std::string name;
  if (!HeaderAbove(text, line, header, name) || header == line) return items;
  const cSection* section = RuleBase().Find(name);
  if (!section) return items;
  // Keys already in this occurrence of the section, the line typed on aside.
  std::vector<std::string> used;
  std::string other;
  for (size_t l = header + 1; l < text.LineCount(); ++l) {
    if (HeaderName(text.Line(l), other)) break;
    if (l != line) used.push_back(UpperCase(KeyOf(text.Line(l))));
  }
  for (const cEntry& e : *section) {
    const bool taken = std::find(used.begin(), used.end(), UpperCase(e.EntryName())) != used.end();
    if (taken && !e.IsMultiLine()) continue;
    items.push_back({{"label", Utf8(e.EntryName())},
                     {"kind", 10},
                     {"detail", Summary(e)},
                     {"insertText", Utf8(e.EntryName()) + " = "},
                     {"documentation", {{"kind", "markdown"}, {"value", EntryHover(*section, e)}}}});
  }
  return items;
}

}  // namespace lsp

namespace {

// Writes all of it to standard output; false once the client is gone.
bool WriteOut(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int RunLsp() {
  // A client that closes its end must not kill the server mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  LogView view;
  // Standard output is the protocol's: the log goes nowhere, error reports
  // are kept for the diagnostic that tells of them.
  view.ShowError = [](const std::string& report) { lsp::LastReport() += report; };
  view.ShowFatal = [](const std::string& message) { lsp::LastReport() += message; };
  SetLogView(view);
  SetLogFileOn(false);
  SetEndHook([](int status) { throw lsp::Ended{status}; });

  bool clientGone = false;
  lsp::Server server(
      [&clientGone](const std::string& framed) {
        if (!clientGone && !WriteOut(framed)) clientGone = true;
      },
      App::Path() + "\\KETCH.MDB");
  std::string error;
  if (!server.LoadRules(error)) std::fprintf(stderr, "ketch lsp: no rule base: %s\n", error.c_str());

  lsp::MessageReader reader([](char* buffer, size_t capacity) -> size_t {
    for (;;) {
      ssize_t n = ::read(STDIN_FILENO, buffer, capacity);
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? 0 : static_cast<size_t>(n);
    }
  });
  std::string body, problem;
  while (!server.Exited() && !clientGone) {
    auto result = reader.Next(body, problem);
    if (result == lsp::MessageReader::Result::End) break;
    if (result == lsp::MessageReader::Result::BadFrame)
      server.BadFrame(problem);
    else
      server.Handle(body);
  }
  SetEndHook(nullptr);
  return server.ExitStatus();
}

}  // namespace ketch
