// The findings of a run as a table: one row per finding (file, line,
// section, key, code, text), filled in batches while the run goes on, and
// the filter the list shows it through (a code, a text in file or section).
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <map>
#include <vector>

#include "shell/Records.h"

namespace ketch {

class FindingsModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { colFile, colLine, colSection, colKey, colCode, colText, kColumns };

  explicit FindingsModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // Keeps a finding for the next Flush; file is its path as the list shows it.
  void Add(const Finding& finding, const QString& file);
  // Shows what was added since the last flush, as one insertion.
  void Flush();
  // Empties the list (a new run).
  void Clear();

  // The finding of a row, and the path the list shows for it.
  const Finding& FindingAt(int row) const { return rows_[static_cast<size_t>(row)].finding; }
  const QString& FileAt(int row) const { return rows_[static_cast<size_t>(row)].file; }
  // Findings shown per code, in code order.
  const std::map<int, int>& CountByCode() const { return counts_; }
  bool HasPending() const { return !pending_.empty(); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  struct Row {
    Finding finding;
    QString file, section, key, text;
  };
  std::vector<Row> rows_, pending_;
  std::map<int, int> counts_;
};

// Rows of one code (0: every code) whose file or section holds a text
// (letter case aside; empty: every row).
class FindingsFilter : public QSortFilterProxyModel {
  Q_OBJECT
 public:
  explicit FindingsFilter(QObject* parent = nullptr);

  void SetCode(int code);
  void SetText(const QString& text);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  int code_ = 0;
  QString text_;
};

}  // namespace ketch
