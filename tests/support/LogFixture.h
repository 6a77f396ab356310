// A log for tests: a fresh engine (EngineState), a settings object pointing
// LogPath at a temporary folder, a box that records what the log shows, and an
// end of the program that throws instead of ending the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "EngineState.h"
#include "TestUtil.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch::test {

struct ProgramEnded {
  int status;
};

class LogFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_.emplace();
    settings_ = std::make_unique<cSettings>();
    settings_->LogPath(dir_.Path());
    SetSettings(settings_.get());
    LogView view;
    view.Append = [this](const std::string& text) { box_ += text; };
    view.Length = [this] { return box_.size(); };
    view.KeepFrom = [this](size_t from) { box_.erase(0, from); };
    view.Repaint = [this] { ++repaints_; };
    view.ShowFatal = [this](const std::string& message) { fatal_ = message; };
    SetLogView(view);
    SetEndHook([](int status) { throw ProgramEnded{status}; });
  }
  void TearDown() override { engine_.reset(); }
  std::string LogFile() const { return ReadFile(dir_ / "ketch.log"); }

  // The status f ended the program with, or -1 when it did not end it.
  template <typename F>
  static int EndStatus(F f) {
    try {
      f();
    } catch (const ProgramEnded& e) {
      return e.status;
    }
    return -1;
  }

  TempDir dir_;
  std::unique_ptr<cSettings> settings_;
  std::string box_;
  std::string fatal_;
  int repaints_ = 0;

 private:
  std::optional<EngineState> engine_;
};

}  // namespace ketch::test
