// The log box tbLog: a plain text box that the log appends to. It keeps the
// box's text as the log sees it (code page 1252 characters, CR LF line ends)
// beside the widget, so that the trimming rule counts characters exactly, and
// hands the widget what was added only when it paints (at most every few
// hundredths of a second), so that a run logging a hundred thousand lines
// spends its time on the run, not on the widget.
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <string>

namespace ketch {

class LogBox : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit LogBox(QWidget* parent = nullptr);

  // Hooks for the log: append at the end, length in characters, keep the
  // text from a 0-based character on, show the end and repaint.
  void AppendText(const std::string& text);
  size_t TextLength() const { return text_.size(); }
  void KeepFrom(size_t from);
  void ShowEnd(bool now = false);
  // Brings the widget's text up to date with what the log added.
  void Flush();

  // The box's text as the log wrote it.
  const std::string& Text() const { return text_; }

 private:
  // Shows the end once events run, unless a repaint shows it first.
  void ShowLater();

  std::string text_;
  std::string pending_;  // added since the widget was last brought up to date
  bool reset_ = false;   // trimmed so that the widget must take the whole text
  int dropped_ = 0;      // characters to cut from the widget's start
  QElapsedTimer sincePaint_;
  bool endPending_ = false;
};

}  // namespace ketch
