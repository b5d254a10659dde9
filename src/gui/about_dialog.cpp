#include "gui/about_dialog.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "base/version.h"
#include "gui/dialog_units.h"

namespace pageloom {

namespace {
constexpr int kIconPixels = 32;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CAboutDlg"));
  setWindowTitle(tr("关于 pageLoom"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  setFont(DialogFont());
  const QIcon icon = AppIcon();
  setWindowIcon(icon);
  const DialogUnits units(font());

  m_icon = new QLabel(this);
  m_icon->setObjectName(QStringLiteral("aboutIcon"));
  m_icon->setPixmap(icon.pixmap(kIconPixels, kIconPixels));
  m_icon->setGeometry(units.X(14), units.Y(14), kIconPixels, kIconPixels);

  m_text = new QLabel(tr(kVersionText).arg(QLatin1String(kVersion)), this);
  m_text->setObjectName(QStringLiteral("aboutText"));
  m_text->setTextFormat(Qt::PlainText);
  QRect textRect = units.Rect(42, 14, 114, 8);
  textRect.setWidth(std::max(textRect.width(), m_text->sizeHint().width()));
  textRect.setHeight(std::max(textRect.height(), m_text->sizeHint().height()));
  m_text->setGeometry(textRect);

  m_ok = new QPushButton(tr("确定"), this);
  m_ok->setObjectName(QStringLiteral("ctl1"));
  m_ok->setDefault(true);
  m_ok->setGeometry(units.Rect(113, 41, 50, 14));
  connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

  QSize size = units.Size(170, 62);
  size.setWidth(std::max(size.width(), textRect.right() + units.X(14)));
  setFixedSize(size);
  m_ok->setFocus();
}

}  // namespace pageloom
