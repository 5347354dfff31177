#ifndef HITSIEVE_UI_ANCHOR_LAYOUT_H_
#define HITSIEVE_UI_ANCHOR_LAYOUT_H_

#include <vector>

#include <QRect>

class QWidget;

namespace hitsieve {

// Keeps a window's controls attached to its edges as it is resized. Each control's rectangle
// at Add time is remembered; Apply moves every control for the parent's current size, so the
// result depends only on that size, never on the sequence of resizes. UI thread only.
class AnchorLayout {
 public:
  enum Flags {
    ANCHOR_TOP = 1,     // the top edge keeps its distance from the top; else moves by dH
    ANCHOR_BOTTOM = 2,  // the bottom edge moves by dH
    ANCHOR_LEFT = 4,    // the left edge keeps its distance from the left; else moves by dW
    ANCHOR_RIGHT = 8,   // the right edge moves by dW
    ANCHOR_ALL = ANCHOR_TOP | ANCHOR_BOTTOM | ANCHOR_LEFT | ANCHOR_RIGHT,  // grows with the parent
  };

  // Remembers `parent` and its current size; forgets earlier entries.
  void Init(QWidget* parent);

  // REQUIRES: `control` is a child of the parent given to Init.
  void Add(QWidget* control, int flags);

  // Moves every recorded control; does nothing before Init.
  void Apply();

 private:
  struct Entry {
    QWidget* control;
    QRect rect;  // in the parent's coordinates at Add time
    int flags;
  };

  QWidget* parent_ = nullptr;
  int initialWidth_ = 0;
  int initialHeight_ = 0;
  std::vector<Entry> entries_;
};

// Converts dialog units into pixels with the metrics of `widget`'s font: a horizontal unit is a
// quarter of the average character width, a vertical unit an eighth of the character height.
class DialogUnits {
 public:
  explicit DialogUnits(const QWidget* widget);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int baseX_;
  int baseY_;
};

}  // namespace hitsieve

#endif  // HITSIEVE_UI_ANCHOR_LAYOUT_H_
