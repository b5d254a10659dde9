// The About box: the icon, the version line and an OK button.
#pragma once

#include <QDialog>
#include <QtGlobal>

class QLabel;
class QPushButton;

namespace pageloom {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  // As written; shown in the language in effect.
  // %1: the program's version.
  static constexpr const char* kVersionText =
      QT_TRANSLATE_NOOP("pageloom::CAboutDlg", "pageLoom，version %1");

  explicit CAboutDlg(QWidget* parent = nullptr);

  QLabel* IconLabel() const { return m_icon; }
  QLabel* TextLabel() const { return m_text; }
  QPushButton* OkButton() const { return m_ok; }

 private:
  QLabel* m_icon = nullptr;
  QLabel* m_text = nullptr;
  QPushButton* m_ok = nullptr;
};

}  // namespace pageloom
