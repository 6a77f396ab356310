// The log box tbLog: a plain text box that the log appends to. It keeps the
// box's text as the log sees it (code page 1252 characters, CR LF line ends)
// beside the widget, so that appending costs the message's length and the
// trimming rule counts characters exactly, without copying the box per message.
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

  // The box's text as the log wrote it.
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  QElapsedTimer sincePaint_;
  bool endPending_ = false;
};

}  // namespace ketch
