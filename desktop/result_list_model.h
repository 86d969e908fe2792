#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QString>
#include <string>
#include <vector>

#include "engine/result_line.h"
#include "res/message_table.h"

namespace quarn::window {

// The result list as the view sees it: row n is slot n of the scan session's result list,
// read from the session's own storage, with the icon that came with the line.
//
// Threads: the session appends lines on the scan thread, and this model is read on the
// window's thread whenever the view paints. The session reserves all of its slots up front,
// so a stored line never moves; this model shows only the rows it was told about in
// LineAdded, which runs while the scan thread waits for it, and so never reads a line that
// is being written. The one slot the session rewrites in place (the last, once a scan has
// sent more lines than fit) is read only inside LineAdded and kept here. Reset is called
// before a scan thread starts, while no thread writes.
class ResultListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  ResultListModel(Language language, QObject* parent);

  // The session's result list; none until the databases are loaded.
  void Attach(const std::vector<std::string>* lines);
  // The session stored a line and waits: shows what the list holds now.
  void LineAdded(ResultIcon icon);
  // The session's list was emptied for a new scan.
  void Reset();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Lines may be edited in place, but an edit is never kept.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  QString TextOf(int row) const;

  Language language_;
  std::vector<QIcon> pictures_;  // by list picture index
  const std::vector<std::string>* lines_ = nullptr;
  std::vector<ResultIcon> icons_;  // one per row shown
  QString rewritten_last_slot_;
  bool last_slot_rewritten_ = false;
};

}  // namespace quarn::window
