#include "gui/series_updates.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/task_controller.h"
#include "gui/main_dialog.h"
#include "store/download_record.h"

namespace pageloom {

namespace {

constexpr char kContext[] = "pageloom::SeriesUpdates";

QString Tr(const char* source) { return QCoreApplication::translate(kContext, source); }

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// The comics as table rows: comic, last chapter, last check, new chapters found.
void Fill(QTableWidget& table, const std::vector<FollowedComic>& comics) {
  table.setRowCount(static_cast<int>(comics.size()));
  for (int row = 0; row < table.rowCount(); ++row) {
    const FollowedComic& comic = comics[static_cast<std::size_t>(row)];
    const QString checked = comic.lastCheck == 0
                                ? Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "未检查"))
                                : QDateTime::fromSecsSinceEpoch(comic.lastCheck)
                                      .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    const QString cells[] = {Text(comic.title), Text(comic.lastChapter), checked,
                             QString::number(comic.newFound)};
    for (int column = 0; column < 4; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      table.setItem(row, column, item);
    }
  }
}

}  // namespace

SeriesUpdates::SeriesUpdates(CpageLoomDlg& dialog)
    : QObject(&dialog),
      m_dialog(dialog),
      m_check(new QAction(this)),
      m_auto(new QAction(this)),
      m_list(new QAction(this)) {
  setObjectName(QStringLiteral("seriesUpdates"));
  m_check->setObjectName(QStringLiteral("checkUpdatesAction"));
  m_auto->setObjectName(QStringLiteral("autoCheckUpdatesAction"));
  m_list->setObjectName(QStringLiteral("followedComicsAction"));
  m_auto->setCheckable(true);
  m_auto->setChecked(false);
  const bool recorded = dialog.Controller().Record() != nullptr;
  for (QAction* action : {m_check, m_auto, m_list}) action->setEnabled(recorded);
  m_timer.setInterval(kAutoIntervalMs);
  connect(m_check, &QAction::triggered, this, &SeriesUpdates::CheckNow);
  connect(m_list, &QAction::triggered, this, &SeriesUpdates::ShowFollowed);
  connect(m_auto, &QAction::toggled, this, &SeriesUpdates::AutoToggled);
  connect(&m_timer, &QTimer::timeout, this, &SeriesUpdates::CheckNow);
  Retranslate();
  dialog.installEventFilter(this);
}

bool SeriesUpdates::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &m_dialog && event->type() == QEvent::LanguageChange) Retranslate();
  return QObject::eventFilter(watched, event);
}

void SeriesUpdates::Retranslate() {
  m_check->setText(Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "检查更新")));
  m_auto->setText(Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "自动检查更新")));
  m_list->setText(Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "关注的漫画…")));
}

void SeriesUpdates::AutoToggled(bool on) {
  if (!on) {
    m_timer.stop();
    return;
  }
  m_timer.start();
  CheckNow();
}

void SeriesUpdates::CheckNow() {
  if (m_dialog.IsClosing()) return;
  AddRequest options = m_dialog.AddOptions();
  (void)m_dialog.Controller().Adding().QueueUpdateCheck(std::move(options), false);
}

void SeriesUpdates::ShowFollowed() {
  DownloadRecord* record = m_dialog.Controller().Record();
  if (record == nullptr) return;
  QDialog box(&m_dialog);
  box.setObjectName(QStringLiteral("followedComics"));
  box.setWindowTitle(Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "关注的漫画")));
  auto* table = new QTableWidget(0, 4, &box);
  table->setHorizontalHeaderLabels({Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "漫画")),
                                    Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "最后一话")),
                                    Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "上次检查")),
                                    Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "新章节"))});
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->horizontalHeader()->setStretchLastSection(true);
  std::vector<FollowedComic> comics = record->Followed();
  Fill(*table, comics);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &box);
  QPushButton* unfollow = buttons->addButton(
      Tr(QT_TRANSLATE_NOOP("pageloom::SeriesUpdates", "取消关注")), QDialogButtonBox::ActionRole);
  unfollow->setObjectName(QStringLiteral("unfollowButton"));
  connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  connect(unfollow, &QPushButton::clicked, &box, [&] {
    const int row = table->currentRow();
    if (row < 0 || row >= static_cast<int>(comics.size())) return;
    const FollowedComic& comic = comics[static_cast<std::size_t>(row)];
    (void)record->Unfollow(comic.site, comic.comic);
    comics = record->Followed();
    Fill(*table, comics);
  });
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(table);
  layout->addWidget(buttons);
  box.resize(560, 260);
  box.exec();
}

}  // namespace pageloom
