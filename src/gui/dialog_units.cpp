#include "gui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>

// The resources live in a static library: register them before their first use.
static void InitPageLoomResources() { Q_INIT_RESOURCE(pageloom); }

namespace pageloom {

namespace {

constexpr int kDialogPointSize = 9;
const char* const kCjkFallback = "WenQuanYi Micro Hei";

// Multiplies and divides with rounding half away from zero, as dialog layouts do.
int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

}  // namespace

QFont DialogFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(kDialogPointSize);
  QStringList families{font.family()};
  if (font.family() != QLatin1String(kCjkFallback)) families << QString::fromLatin1(kCjkFallback);
  font.setFamilies(families);
  return font;
}

QIcon AppIcon() {
  static const bool registered = (InitPageLoomResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/pageloom.png"));
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = std::max(1, (letters / 26 + 1) / 2);
  m_baseY = std::max(1, metrics.height());
}

DialogUnits::DialogUnits(int baseX, int baseY)
    : m_baseX(std::max(1, baseX)), m_baseY(std::max(1, baseY)) {}

int DialogUnits::X(int units) const { return MulDiv(units, m_baseX, 4); }

int DialogUnits::Y(int units) const { return MulDiv(units, m_baseY, 8); }

QRect DialogUnits::Rect(int left, int top, int width, int height) const {
  return QRect(X(left), Y(top), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

}  // namespace pageloom
