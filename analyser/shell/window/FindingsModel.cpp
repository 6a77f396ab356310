// The findings table and its filter.
#include "shell/window/FindingsModel.h"

#include "platform/Text.h"

namespace ketch {
namespace {

QString FromBytes(const std::string& bytes) { return QString::fromStdString(Cp1252ToUtf8(bytes)); }

}  // namespace

void FindingsModel::Add(const Finding& finding, const QString& file) {
  pending_.push_back(Row{finding, file, FromBytes(finding.Section), FromBytes(finding.Key), FromBytes(finding.Text)});
}

void FindingsModel::Flush() {
  if (pending_.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
  for (Row& row : pending_) {
    ++counts_[row.finding.Code];
    rows_.push_back(std::move(row));
  }
  pending_.clear();
  endInsertRows();
}

void FindingsModel::Clear() {
  beginResetModel();
  rows_.clear();
  pending_.clear();
  counts_.clear();
  endResetModel();
}

int FindingsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FindingsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FindingsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
  const Row& row = rows_[static_cast<size_t>(index.row())];
  // Line and code are numbers, so that they sort as numbers.
  switch (index.column()) {
    case colFile: return row.file;
    case colLine: return row.finding.Line;
    case colSection: return row.section;
    case colKey: return row.key;
    case colCode: return static_cast<int>(row.finding.Code);
    case colText: return row.text;
  }
  return {};
}

QVariant FindingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const names[kColumns] = {"File", "Line", "Section", "Key", "Code", "Text"};
  return section >= 0 && section < kColumns ? QString(names[section]) : QVariant();
}

FindingsFilter::FindingsFilter(QObject* parent) : QSortFilterProxyModel(parent) {
  setSortCaseSensitivity(Qt::CaseInsensitive);
}

void FindingsFilter::SetCode(int code) {
  code_ = code;
  invalidateFilter();
}

void FindingsFilter::SetText(const QString& text) {
  text_ = text;
  invalidateFilter();
}

bool FindingsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  const auto* model = static_cast<const FindingsModel*>(sourceModel());
  if (code_ != 0 && model->FindingAt(sourceRow).Code != code_) return false;
  if (text_.isEmpty()) return true;
  return model->FileAt(sourceRow).contains(text_, Qt::CaseInsensitive) ||
         model->data(model->index(sourceRow, FindingsModel::colSection)).toString().contains(text_, Qt::CaseInsensitive);
}

}  // namespace ketch
