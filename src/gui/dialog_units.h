// Dialog units: the window positions its controls in units of the dialog font, a quarter
// of the average character width across and an eighth of the character height down, so
// the layout keeps its proportions at any font size.
#pragma once

#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>

namespace pageloom {

// The font of both dialogs: the system's UI font at 9 pt, falling back to a CJK font for
// the Chinese texts.
QFont DialogFont();

// The application icon, from the program's resources.
QIcon AppIcon();

class DialogUnits {
 public:
  // Base units of `font`: the average width of the Latin letters and the line height.
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY);

  int BaseX() const { return m_baseX; }
  int BaseY() const { return m_baseY; }
  int X(int units) const;  // rounded to the nearest pixel
  int Y(int units) const;
  QRect Rect(int left, int top, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int m_baseX;
  int m_baseY;
};

}  // namespace pageloom
