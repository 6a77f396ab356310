// `ketch lsp`: a language server on standard input and output. It gives an
// editor check's findings for every open data file as it is typed, the rule
// of a key or section on hover, and the keys and section names that fit as
// completions, against the rule base of the KETCH.MDB beside the program.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "shell/app/LspWire.h"

namespace ketch {

class cSettings;

namespace lsp {

// The server's state and its answers, apart from the streams: Handle takes
// one message body, and whatever the server sends goes to the writer.
class Server {
 public:
  using Writer = std::function<void(const std::string& framedMessage)>;

  // rulesPath: the Windows-style path of the rule base (KETCH.MDB).
  Server(Writer writer, std::string rulesPath);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Answers or acts on one message body.
  void Handle(const std::string& body);
  // Told a frame the reader had to skip; nothing can be answered to it.
  void BadFrame(const std::string& problem);

  // True once exit came; the status the program then ends with (0 after
  // shutdown, 1 without).
  bool Exited() const { return exited_; }
  int ExitStatus() const { return shutdown_ ? 0 : 1; }

  // Loads the rule base anew from its file; false (the old one kept) with the
  // report in error when it cannot be loaded.
  bool LoadRules(std::string& error);

 private:
  struct Document {
    std::string text;  // UTF-8, as the editor sent it
    int64_t version = 0;
  };

  void Send(const json& message);
  void Request(const Incoming& in);
  void Notify(const Incoming& in);
  void Publish(const std::string& uri);
  json Hover(const json& params) const;
  json Completion(const json& params) const;

  Writer writer_;
  std::string rulesPath_;
  std::unique_ptr<cSettings> settings_;
  std::string rulesError_;  // why no rule base is loaded, "" when one is
  std::map<std::string, Document> documents_;
  bool initialized_ = false, shutdown_ = false, exited_ = false;
  bool watchRegistration_ = false;
  int64_t nextRequestId_ = 1;
};

}  // namespace lsp

// Runs the language server on standard input and output until exit or the end
// of the input; returns the exit status.
int RunLsp();

}  // namespace ketch
