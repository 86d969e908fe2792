#pragma once

#include <QFrame>
#include <QLabel>
#include <span>
#include <vector>

namespace quarn::window {

// A status bar split into parts, each showing one text, with the parts' right edges set by
// the window's layout.
class PartsStatusBar : public QFrame {
  Q_OBJECT

 public:
  PartsStatusBar(int part_count, QWidget* parent);

  // Right edges in the bar's coordinates, one per part; kToBarEnd runs to the bar's end.
  // Missing edges leave their parts without room.
  void SetEdges(std::span<const int> edges);

  // Out-of-range parts are ignored, as a status bar ignores them.
  void SetText(int part, const QString& text);
  QString Text(int part) const;
  int part_count() const { return static_cast<int>(parts_.size()); }
  // The geometry of a part, for tests of the layout.
  QRect PartGeometry(int part) const;

  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceParts();

  std::vector<QLabel*> parts_;
  std::vector<int> edges_;
};

}  // namespace quarn::window
