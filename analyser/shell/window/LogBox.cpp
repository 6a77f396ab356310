// The log box: the log's text kept exactly beside the widget, handed to the
// widget in batches when it paints.
#include "shell/window/LogBox.h"

#include <algorithm>

#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>

#include "platform/Text.h"

namespace ketch {
namespace {

// The widget shows lines; the log's CR LF pairs become line breaks and a lone
// CR or LF breaks the line too, as it would in the box.
QString ForDisplay(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      shown += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      shown += c;
    }
  }
  return QString::fromStdString(Cp1252ToUtf8(shown));
}

// Repaints at most this often: a person cannot see more, and a run that logs
// a hundred thousand lines must not spend its time painting.
constexpr qint64 kPaintIntervalMs = 30;

}  // namespace

LogBox::LogBox(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  // A multi-line box with a vertical bar only: long lines wrap, at a blank
  // where there is one. Wrapping only shows the text; it adds no characters.
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setUndoRedoEnabled(false);
  sincePaint_.start();
}

void LogBox::AppendText(const std::string& text) {
  text_ += text;
  pending_ += text;
  // Text that no repaint follows (the notice that the log file could not be
  // written) must still reach the screen.
  ShowLater();
}

void LogBox::KeepFrom(size_t from) {
  from = std::min(from, text_.size());
  // A run trims the box dozens of times a second: the widget loses the same
  // start rather than taking the whole text anew and laying it out again.
  // Unless the cut reaches text it has not got, or parts a CR from its LF.
  const size_t inWidget = text_.size() - pending_.size();
  const bool splitsLineEnd = from > 0 && from < text_.size() && text_[from - 1] == '\r' && text_[from] == '\n';
  if (!reset_ && from <= inWidget && !splitsLineEnd) {
    dropped_ += static_cast<int>(ForDisplay(text_.substr(0, from)).size());
  } else {
    pending_.clear();
    reset_ = true;
  }
  text_.erase(0, from);
}

void LogBox::Flush() {
  if (reset_) {
    setPlainText(ForDisplay(text_));
    reset_ = false;
    dropped_ = 0;
    pending_.clear();
    return;
  }
  if (dropped_ > 0) {
    QTextCursor cursor(document());
    cursor.setPosition(dropped_, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    dropped_ = 0;
  }
  if (!pending_.empty()) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ForDisplay(pending_));
  }
  pending_.clear();
}

void LogBox::ShowEnd(bool now) {
  if (!now && sincePaint_.elapsed() < kPaintIntervalMs) {
    ShowLater();
    return;
  }
  Flush();
  moveCursor(QTextCursor::End);
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  viewport()->repaint();
  sincePaint_.start();
}

void LogBox::ShowLater() {
  // The last lines of a burst reach the screen once events run.
  if (endPending_) return;
  endPending_ = true;
  QTimer::singleShot(kPaintIntervalMs, this, [this] {
    endPending_ = false;
    if (reset_ || !pending_.empty()) ShowEnd(true);
  });
}

}  // namespace ketch
