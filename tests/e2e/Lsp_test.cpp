// The real `ketch lsp` as an editor runs it, over pipes: a whole session on a
// game file that vdgen planted faults in (diagnostics against `ketch check` of
// the same file, hover, completion, a change, a changed rule base, shutdown
// and exit), and the messages a broken or hostile client sends, after each of
// which the server must still answer.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>

#include "GameFixture.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string Frame(const std::string& body) { return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body; }

// A language client on the pipes of a running `ketch lsp`.
class Client {
 public:
  explicit Client(const std::string& ketch) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      execl(ketch.c_str(), ketch.c_str(), "lsp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = in[1];
    from_ = out[0];
    signal(SIGPIPE, SIG_IGN);
  }
  ~Client() {
    CloseInput();
    if (from_ >= 0) close(from_);
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  void Raw(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(to_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<size_t>(n);
    }
  }
  // Writes what the server still takes.
  void TryRaw(const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = write(to_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void CloseOutput() {
    if (from_ >= 0) close(from_);
    from_ = -1;
  }
  void Send(const Json& message) { Raw(Frame(message.dump())); }
  void Notify(const std::string& method, Json params) {
    Json m = {{"jsonrpc", "2.0"}, {"method", method}};
    if (!params.is_null()) m["params"] = std::move(params);
    Send(m);
  }
  // Sends a request and returns its response; notifications that come
  // before it are kept for Next.
  Json Call(const std::string& method, Json params) {
    const int id = nextId_++;
    Json m = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}};
    if (!params.is_null()) m["params"] = std::move(params);
    Send(m);
    return Response(id);
  }
  Json Response(const Json& id) {
    for (;;) {
      Json m = Read();
      if (m.is_null()) return m;
      if (m.contains("id") && m["id"] == id && !m.contains("method")) return m;
      pending_.push_back(std::move(m));
    }
  }
  // The next message the server sent (null after 20 s or at its end).
  Json Next() {
    if (!pending_.empty()) {
      Json m = std::move(pending_.front());
      pending_.erase(pending_.begin());
      return m;
    }
    return Read();
  }
  // The next diagnostics published, skipping other messages.
  Json Diagnostics() {
    for (Json m = Next(); !m.is_null(); m = Next())
      if (m.value("method", "") == "textDocument/publishDiagnostics") return m["params"];
    return nullptr;
  }

  void CloseInput() {
    if (to_ >= 0) close(to_);
    to_ = -1;
  }
  // The exit status (or -signal), waiting up to 20 s.
  int Wait() {
    for (int i = 0; i < 2000; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
      }
      usleep(10000);
    }
    return -999;
  }

 private:
  bool Fill() {
    pollfd p{from_, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return false;
    char chunk[65536];
    ssize_t n = read(from_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buf_.append(chunk, static_cast<size_t>(n));
    return true;
  }
  Json Read() {
    for (;;) {
      size_t end = buf_.find("\r\n\r\n");
      if (end != std::string::npos) {
        const std::string header = buf_.substr(0, end);
        EXPECT_EQ(header.rfind("Content-Length: ", 0), 0u) << header;
        size_t length = std::stoul(header.substr(16));
        while (buf_.size() < end + 4 + length)
          if (!Fill()) return nullptr;
        Json m = Json::parse(buf_.substr(end + 4, length));
        buf_.erase(0, end + 4 + length);
        return m;
      }
      if (!Fill()) return nullptr;
    }
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  int nextId_ = 1;
  std::string buf_;
  std::vector<Json> pending_;
};

Json TextDocument(const std::string& uri) { return {{"uri", uri}}; }
Json At(const std::string& uri, int line, int character) {
  return {{"textDocument", TextDocument(uri)}, {"position", {{"line", line}, {"character", character}}}};
}
Json Open(const std::string& uri, const std::string& text, int version = 1) {
  return {{"textDocument", {{"uri", uri}, {"languageId", "ini"}, {"version", version}, {"text", text}}}};
}
Json Change(const std::string& uri, const std::string& text, int version) {
  return {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", {{{"text", text}}}}};
}

std::vector<std::string> Labels(const Json& items) {
  std::vector<std::string> labels;
  for (const Json& i : items) labels.push_back(i["label"]);
  return labels;
}

bool Has(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

// The editor's lines of a text.
std::vector<std::string> EditorLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' || text[i] == '\r')
      lines.emplace_back();
    else
      lines.back() += text[i];
  }
  return lines;
}

class LspTest : public test::GameFixture {
 protected:
  std::string Ketch() const { return bin_ + "/ketch"; }
  std::string Uri(const std::string& path) const { return "file://" + path; }
  Json Initialize(Client& c, bool registration = false) {
    Json caps = Json::object();
    if (registration) caps = {{"workspace", {{"didChangeWatchedFiles", {{"dynamicRegistration", true}}}}}};
    Json r = c.Call("initialize", {{"processId", nullptr}, {"rootUri", nullptr}, {"capabilities", caps}});
    c.Notify("initialized", Json::object());
    return r;
  }
};

TEST_F(LspTest, AWholeSessionOnAGameFileWithPlantedFaults) {
  // A game as vdgen makes it, with its faults; its ship file holds many.
  const std::string game = dir_.Path() + "/vd";
  auto gen = test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--rules", bin_ + "/KETCH.MDB", game}});
  ASSERT_EQ(gen.status, 0) << gen.err;
  const std::string file = game + "/DATA/ships/shiparch.ini";
  const std::string text = test::ReadFile(file);
  auto check = test::Run({.argv = {Ketch(), "check", "--format", "json", file}, .env = test::kNoDisplay});
  ASSERT_EQ(check.status, 0) << check.err;
  std::vector<Json> expected;
  std::istringstream lines(check.out);
  for (std::string line; std::getline(lines, line);) expected.push_back(Json::parse(line));
  ASSERT_GE(expected.size(), 5u);

  Client c(Ketch());
  Json init = Initialize(c, true);
  EXPECT_EQ(init["result"]["capabilities"]["textDocumentSync"]["change"], 1) << init;
  EXPECT_TRUE(init["result"]["capabilities"]["hoverProvider"].get<bool>());
  // The server asks to be told when the rule base changes.
  Json registration = c.Next();
  ASSERT_EQ(registration.value("method", ""), "client/registerCapability") << registration;
  EXPECT_EQ(registration["params"]["registrations"][0]["registerOptions"]["watchers"][0]["globPattern"],
            bin_ + "/KETCH.MDB");
  c.Send({{"jsonrpc", "2.0"}, {"id", registration["id"]}, {"result", nullptr}});

  const std::string uri = Uri(file);
  c.Notify("textDocument/didOpen", Open(uri, text));
  Json published = c.Diagnostics();
  ASSERT_TRUE(published.is_object());
  EXPECT_EQ(published["uri"], uri);
  const Json& diagnostics = published["diagnostics"];
  ASSERT_EQ(diagnostics.size(), expected.size()) << diagnostics.dump(1);
  const std::vector<std::string> editor = EditorLines(text);
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].dump());
    const Json& d = diagnostics[i];
    const std::string key = expected[i]["key"];
    EXPECT_EQ(d["code"], expected[i]["code"]);
    EXPECT_EQ(d["message"], std::to_string(expected[i]["code"].get<int>()) + " - " +
                                expected[i]["text"].get<std::string>() + " [" +
                                expected[i]["section"].get<std::string>() + "] " + key);
    EXPECT_EQ(d["severity"], 2);
    // The range lies on one line of the finding, and covers the key, a value
    // of it or the header.
    const int line = d["range"]["start"]["line"];
    ASSERT_EQ(d["range"]["end"]["line"], line);
    const std::string& at = editor.at(static_cast<size_t>(line));
    const int from = d["range"]["start"]["character"], to = d["range"]["end"]["character"];
    ASSERT_LT(from, to);
    const std::string covered = at.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
    const int code = d["code"];
    if (code == 10301 || code == 10305)
      EXPECT_EQ(covered[0], '[');
    else if ((code == 10101 || code == 10104 || code == 10205 || code == 10212) && at.find('=') != std::string::npos)
      EXPECT_GE(static_cast<size_t>(from), at.find('='));
    else
      EXPECT_EQ(covered, key);
    // check counts entry lines from the header, which blank, comment and
    // repaired lines put off; the diagnostic is on the key's own line.
    if (code == 10301 || code == 10305)
      EXPECT_EQ(line + 2, expected[i]["line"].get<int>());
    else
      EXPECT_NE(at.find(key), std::string::npos) << at;
  }

  // The rule of a key, and of the header above it.
  size_t massLine = 0;
  while (massLine < editor.size() && editor[massLine].rfind("mass =", 0) != 0) ++massLine;
  ASSERT_LT(massLine, editor.size());
  Json hover = c.Call("textDocument/hover", At(uri, static_cast<int>(massLine), 1));
  const std::string entryRule = hover["result"]["contents"]["value"];
  EXPECT_NE(entryRule.find("**mass** in section **[Ship]**"), std::string::npos) << entryRule;
  EXPECT_NE(entryRule.find("single-line, 1 fixed value"), std::string::npos) << entryRule;
  EXPECT_NE(entryRule.find("Float"), std::string::npos) << entryRule;
  hover = c.Call("textDocument/hover", At(uri, 3, 2));
  const std::string sectionRule = hover["result"]["contents"]["value"];
  EXPECT_EQ(sectionRule.rfind("**[Ship]**: ", 0), 0u) << sectionRule;
  EXPECT_NE(sectionRule.find("- `camera_offset`: single-line, 2 fixed values, then repeating"), std::string::npos);
  EXPECT_TRUE(c.Call("textDocument/hover", At(uri, 0, 2))["result"].is_null());

  // Completion on a new line of the first section: its keys not yet used,
  // and multi-line ones even when used.
  std::string edited = text;
  edited.insert(text.find("\r\n", text.find("nickname = shp_ship_001")) + 2, "\r\n");
  c.Notify("textDocument/didChange", Change(uri, edited, 2));
  EXPECT_EQ(c.Diagnostics()["version"], 2);
  auto keys = Labels(c.Call("textDocument/completion", At(uri, 5, 0))["result"]);
  EXPECT_FALSE(Has(keys, "nickname"));
  EXPECT_FALSE(Has(keys, "ship_class"));
  EXPECT_TRUE(Has(keys, "ids_info"));  // multi-line, used
  EXPECT_TRUE(Has(keys, "hit_pts"));   // not in the section yet
  auto sections = Labels(c.Call("textDocument/completion", At(uri, 3, 1))["result"]);
  EXPECT_TRUE(Has(sections, "Ship"));
  EXPECT_TRUE(Has(sections, "CollisionGroup"));

  // A change that mends the first fault takes its diagnostic away.
  std::string mended = text;
  const std::string bad = "[Ship\r\n";
  ASSERT_NE(mended.find(bad), std::string::npos);
  mended.replace(mended.find(bad), bad.size(), "[Ship]\r\n");
  c.Notify("textDocument/didChange", Change(uri, mended, 3));
  Json after = c.Diagnostics();
  EXPECT_EQ(after["version"], 3);
  EXPECT_EQ(after["diagnostics"].size(), expected.size() - 1);
  for (const Json& d : after["diagnostics"]) EXPECT_NE(d["code"], 10301);

  // A rule base without the entry mass: the watcher's notice reloads it.
  Sql("KETCH.MDB", "DELETE FROM _bc_values WHERE Entry IN (SELECT DB_ID FROM _bc_entries WHERE EntryName = 'mass');"
                   "DELETE FROM _bc_entries WHERE EntryName = 'mass'");
  c.Notify("workspace/didChangeWatchedFiles", {{"changes", {{{"uri", Uri(bin_ + "/KETCH.MDB")}, {"type", 2}}}}});
  Json reloaded = c.Diagnostics();
  size_t unknownMass = 0;
  for (const Json& d : reloaded["diagnostics"])
    if (d["code"] == 10302 && d["message"].get<std::string>().ends_with("] mass")) ++unknownMass;
  EXPECT_GT(unknownMass, 0u);

  c.Notify("textDocument/didClose", {{"textDocument", TextDocument(uri)}});
  EXPECT_TRUE(c.Diagnostics()["diagnostics"].empty());
  Json shutdown = c.Call("shutdown", nullptr);
  EXPECT_TRUE(shutdown.contains("result") && shutdown["result"].is_null()) << shutdown;
  // After shutdown requests are refused; exit ends with 0.
  EXPECT_EQ(c.Call("textDocument/hover", At(uri, 0, 0))["error"]["code"], -32600);
  c.Notify("exit", nullptr);
  EXPECT_EQ(c.Wait(), 0);
}

TEST_F(LspTest, BrokenMessagesAreAnsweredAsTheProtocolSaysAndTheServerGoesOn) {
  SetRules(kShipRules);
  Client c(Ketch());
  // Before initialize: refused, notifications dropped.
  EXPECT_EQ(c.Call("textDocument/hover", At("file:///a.ini", 0, 0))["error"]["code"], -32002);
  c.Notify("textDocument/didOpen", Open("file:///early.ini", "[Shp]\r\n"));
  Initialize(c);
  EXPECT_EQ(c.Call("initialize", {{"capabilities", Json::object()}})["error"]["code"], -32600);

  auto error = [&](const std::string& body) {
    c.Raw(Frame(body));
    Json m = c.Next();
    return m.contains("error") ? m["error"].value("code", 0) : 0;
  };
  EXPECT_EQ(error("{\"jsonrpc\":\"2.0\",\"id\":9,"), -32700);
  EXPECT_EQ(error("\xff\xfe{}"), -32700);
  EXPECT_EQ(error("[1,2]"), -32600);
  EXPECT_EQ(error("{\"id\":9,\"method\":\"shutdown\"}"), -32600);
  EXPECT_EQ(error("{\"jsonrpc\":\"2.0\",\"id\":9,\"method\":17}"), -32600);
  EXPECT_EQ(c.Call("workspace/frobnicate", Json::object())["error"]["code"], -32601);
  EXPECT_EQ(c.Call("textDocument/hover", {{"position", 3}})["error"]["code"], -32602);
  EXPECT_EQ(c.Call("textDocument/completion", At("file:///a.ini", -1, 0))["error"]["code"], -32602);

  // A Content-Length too short: the cut body is no JSON, the rest is garbage
  // before the next header; too long: the next message is eaten. Garbage and
  // a header without a length are skipped. After each the server answers.
  const std::string hover = Json{{"jsonrpc", "2.0"}, {"id", 50}, {"method", "textDocument/hover"},
                                 {"params", At("file:///none.ini", 0, 0)}}.dump();
  c.Raw("Content-Length: 10\r\n\r\n" + hover);
  EXPECT_EQ(c.Next()["error"]["code"], -32700);
  c.Raw("Content-Length: " + std::to_string(hover.size() + 30) + "\r\n\r\n" + hover + Frame(hover));
  EXPECT_EQ(c.Next()["error"]["code"], -32700);
  c.Raw(std::string("\x00\x01garbage\r\nX-Thing: 1\r\n\r\n", 24) + "Content-Length: x\r\n\r\n");
  EXPECT_TRUE(c.Call("textDocument/hover", At("file:///none.ini", 0, 0))["result"].is_null());

  // Documents of binary garbage, a 10 MB line, and a section too long to read.
  std::mt19937 random(21);
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(random() % 256);
  // As an editor would send it: each byte a character of its own.
  std::string utf8;
  for (unsigned char b : garbage) {
    if (b < 0x80) {
      utf8 += static_cast<char>(b);
    } else {
      utf8 += static_cast<char>(0xC0 | (b >> 6));
      utf8 += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  c.Notify("textDocument/didOpen", Open("file:///garbage.ini", "[Ship]\r\n" + utf8));
  Json g = c.Diagnostics();
  EXPECT_EQ(g["uri"], "file:///garbage.ini");
  c.Notify("textDocument/didOpen", Open("file:///long.ini", "[Ship]\r\nnickname = " + std::string(10 << 20, 'x') +
                                                                "\r\nmass = heavy\r\n"));
  // The text is too long for its value (as check says), and the line after it is read.
  Json longLine = c.Diagnostics();
  ASSERT_EQ(longLine["diagnostics"].size(), 2u) << longLine.dump().substr(0, 2000);
  EXPECT_EQ(longLine["diagnostics"][0]["code"], 10104);
  EXPECT_EQ(longLine["diagnostics"][0]["range"]["end"]["character"], 11 + (10 << 20));
  EXPECT_EQ(longLine["diagnostics"][1]["range"]["start"]["line"], 2);
  std::string tooMany = "[Ship]\r\n";
  for (int i = 0; i < 2049; ++i) tooMany += "hp = a, b\r\n";
  c.Notify("textDocument/didOpen", Open("file:///too_many.ini", tooMany));
  Json failed = c.Diagnostics();
  ASSERT_EQ(failed["diagnostics"].size(), 1u);
  EXPECT_EQ(failed["diagnostics"][0]["severity"], 1);
  EXPECT_NE(failed["diagnostics"][0]["message"].get<std::string>().find("could not check"), std::string::npos);
  // The next document is checked from clean rules.
  c.Notify("textDocument/didOpen", Open("file:///after.ini", "[Ship]\r\n\r\nnickname = a\r\n; c\r\n\r\nmass = x\r\n"));
  Json next = c.Diagnostics();
  ASSERT_EQ(next["diagnostics"].size(), 1u) << next;
  // The real line (blank and comment lines counted), and the value's column.
  EXPECT_EQ(next["diagnostics"][0]["range"],
            Json({{"start", {{"line", 5}, {"character", 7}}}, {"end", {{"line", 5}, {"character", 8}}}}));

  // Columns in UTF-16 units: a character past U+FFFF counts two.
  c.Notify("textDocument/didOpen", Open("file:///wide.ini", "[Ship]\r\nmass = \xF0\x9F\x98\x80\xC3\xA9, 1\r\n"));
  Json wide = c.Diagnostics();
  ASSERT_EQ(wide["diagnostics"].size(), 1u) << wide;
  EXPECT_EQ(wide["diagnostics"][0]["range"]["start"]["character"], 7);
  EXPECT_EQ(wide["diagnostics"][0]["range"]["end"]["character"], 10);

  // A changed rule base that cannot be read keeps the old one.
  fs::rename(bin_ + "/KETCH.MDB", bin_ + "/KETCH.MDB.away");
  c.Notify("workspace/didChangeWatchedFiles", {{"changes", Json::array()}});
  Json message = c.Next();
  EXPECT_EQ(message.value("method", ""), "window/showMessage") << message;
  c.Notify("textDocument/didChange", Change("file:///after.ini", "[Ship]\r\nmass = y\r\n", 2));
  EXPECT_EQ(c.Diagnostics()["diagnostics"].size(), 1u);

  // Exit without shutdown: status 1.
  c.Notify("exit", nullptr);
  EXPECT_EQ(c.Wait(), 1);
}

TEST_F(LspTest, TheEndOfTheInputEndsTheServerAndAGoneClientDoesNotKillIt) {
  {
    Client c(Ketch());
    Initialize(c);
    c.CloseInput();
    EXPECT_EQ(c.Wait(), 1);
  }
  // A client that stops reading while answers are due: the server ends
  // without dying of the broken pipe.
  Client c(Ketch());
  c.CloseOutput();
  const std::string req = Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "x"}}.dump();
  std::string many;
  for (int i = 0; i < 2000; ++i) many += Frame(req);
  c.TryRaw(many);
  c.CloseInput();
  EXPECT_EQ(c.Wait(), 1);
}

}  // namespace
}  // namespace ketch
