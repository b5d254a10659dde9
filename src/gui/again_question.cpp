#include "gui/again_question.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include "base/fixed_text.h"
#include "store/download_record.h"

namespace pageloom {

namespace {

QString Tr(const char* source) {
  return QCoreApplication::translate("pageloom::AgainQuestion", source);
}

AgainChoice AskOne(QWidget* parent, const DownloadedBefore& task) {
  const QString text =
      Tr(QT_TRANSLATE_NOOP("pageloom::AgainQuestion", "已下载过：%1（%2）。仍然下载？"))
          .arg(QString::fromStdU16String(task.title),
               QString::fromStdString(RecordDate(task.when)));
  QMessageBox box(QMessageBox::Question, QStringLiteral("pageLoom"), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);  // a title is page text, never markup
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes ? AgainChoice::kAll : AgainChoice::kNone;
}

AgainChoice AskChain(QWidget* parent, int before, int total) {
  const QString text = Tr(QT_TRANSLATE_NOOP("pageloom::AgainQuestion", "%2话中有%1话已下载过。"))
                           .arg(before)
                           .arg(total);
  QMessageBox box(QMessageBox::Question, QStringLiteral("pageLoom"), text, QMessageBox::NoButton,
                  parent);
  box.setTextFormat(Qt::PlainText);
  QPushButton* onlyNew = box.addButton(
      Tr(QT_TRANSLATE_NOOP("pageloom::AgainQuestion", "只下载新的")), QMessageBox::AcceptRole);
  QPushButton* all = box.addButton(Tr(QT_TRANSLATE_NOOP("pageloom::AgainQuestion", "全部下载")),
                                   QMessageBox::YesRole);
  QPushButton* none = box.addButton(Tr(QT_TRANSLATE_NOOP("pageloom::AgainQuestion", "都不下载")),
                                    QMessageBox::RejectRole);
  box.setDefaultButton(onlyNew);
  box.setEscapeButton(none);
  box.exec();
  if (box.clickedButton() == onlyNew) return AgainChoice::kNewOnly;
  if (box.clickedButton() == all) return AgainChoice::kAll;
  return AgainChoice::kNone;
}

}  // namespace

AgainChoice RunAgainQuestion(QWidget* parent, const std::vector<DownloadedBefore>& before,
                             int total) {
  if (before.empty()) return AgainChoice::kAll;
  if (total <= 1) return AskOne(parent, before.front());
  return AskChain(parent, static_cast<int>(before.size()), total);
}

}  // namespace pageloom
