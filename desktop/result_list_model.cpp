// SPDX-License-Identifier: Apache-2.0
#include "desktop/result_list_model.h"

#include "res/pictures/pictures.h"

namespace quarn::window {
namespace {

constexpr int kColumnTitle = 1;

// The list pictures in their order: computer, hard disk, blank, virus, floppy, CD-ROM,
// network drive.
int ListImageOf(ResultIcon icon) {
  switch (icon) {
    case ResultIcon::kComputer:
      return 0;
    case ResultIcon::kHardDisk:
      return 1;
    case ResultIcon::kBlank:
      return 2;
    case ResultIcon::kVirus:
      return 3;
    case ResultIcon::kFloppy:
      return 4;
    case ResultIcon::kCdRom:
      return 5;
    case ResultIcon::kNetwork:
      return 6;
  }
  return 6;
}

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

ResultListModel::ResultListModel(Language language, QObject* parent)
    : QAbstractListModel(parent), language_(language) {
  for (int image = 0; image < pictures::kListImageCount; ++image)
    pictures_.emplace_back(pictures::ListImage(image));
}

void ResultListModel::Attach(const std::vector<std::string>* lines) {
  beginResetModel();
  lines_ = lines;
  icons_.clear();
  last_slot_rewritten_ = false;
  endResetModel();
}

void ResultListModel::LineAdded(ResultIcon icon) {
  if (lines_ == nullptr) return;
  const size_t stored = lines_->size();
  if (stored > icons_.size()) {
    const int first = static_cast<int>(icons_.size());
    beginInsertRows(QModelIndex(), first, static_cast<int>(stored) - 1);
    icons_.resize(stored, icon);
    endInsertRows();
    return;
  }
  if (stored == 0) return;
  // The list is full: the session rewrote its last slot.
  rewritten_last_slot_ = FromUtf8(lines_->back());
  last_slot_rewritten_ = true;
  icons_.back() = ResultIcon::kBlank;
  const QModelIndex last = index(static_cast<int>(stored) - 1);
  emit dataChanged(last, last);
}

void ResultListModel::Reset() {
  beginResetModel();
  icons_.clear();
  last_slot_rewritten_ = false;
  endResetModel();
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(icons_.size());
}

QString ResultListModel::TextOf(int row) const {
  if (last_slot_rewritten_ && row + 1 == rowCount()) return rewritten_last_slot_;
  return FromUtf8((*lines_)[row]);
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() != 0 || index.row() >= rowCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
      return TextOf(index.row());
    case Qt::DecorationRole:
      return pictures_[ListImageOf(icons_[index.row()])];
    default:
      return {};
  }
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const std::string_view title = LoadText(language_, kColumnTitle + section);
  return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
}

Qt::ItemFlags ResultListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

bool ResultListModel::setData(const QModelIndex&, const QVariant&, int) {
  return false;
}

}  // namespace quarn::window
