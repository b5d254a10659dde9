// The main dialog on the desktop: its language, its size, drops, the cookie commands, the
// bytes of pictures in flight and the tray's messages.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QInputDialog>
#include <QMimeData>
#include <QResizeEvent>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "app/task_controller.h"
#include "gui/dialog_units.h"
#include "gui/main_dialog.h"
#include "gui/status_line.h"
#include "gui/task_table_model.h"
#include "gui/tray_notifier.h"
#include "gui/ui_texts.h"

namespace pageloom {

namespace {

// The name column never gets narrower than this by a window that shrinks.
constexpr int kNameColumnMinimum = 40;

std::filesystem::path ToPath(const QString& name) {
  return std::filesystem::path(QFile::encodeName(name).toStdString());
}

QString ToQString(const std::filesystem::path& path) { return QFile::decodeName(path.c_str()); }

}  // namespace

void CpageLoomDlg::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  QDialog::changeEvent(event);
}

void CpageLoomDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOut(event->size());
}

void CpageLoomDlg::LayOut(QSize size) {
  if (m_autoRenameBox == nullptr || m_followNextBox == nullptr) return;  // not made yet
  const DialogUnits units(font());
  const QSize laid(std::max(size.width(), m_smallest.width()),
                   std::max(size.height(), m_smallest.height()));
  const int dx = laid.width() - m_smallest.width();
  const int dy = laid.height() - m_smallest.height();
  for (const Placement& placement : m_placements) {
    const QRect& u = placement.units;
    QRect rect = units.Rect(u.x(), u.y(), u.width(), u.height());
    if (placement.fitText) {
      // Texts that the font or the language make wider than their rectangle widen it (and
      // taller ones grow it about its middle), so that no caption is cut off.
      const QSize hint = placement.widget->sizeHint();
      if (hint.width() > rect.width()) rect.setWidth(hint.width());
      if (hint.height() > rect.height()) {
        const int grow = hint.height() - rect.height();
        rect.adjust(0, -(grow / 2), 0, grow - grow / 2);
      }
    }
    if (placement.anchor & kMoveRight) rect.translate(dx, 0);
    if (placement.anchor & kMoveDown) rect.translate(0, dy);
    if (placement.anchor & kGrowWide) rect.setWidth(rect.width() + dx);
    if (placement.anchor & kGrowTall) rect.setHeight(rect.height() + dy);
    placement.widget->setGeometry(rect);
  }
  // However long their texts, the second option starts after the first.
  const int clear = m_autoRenameBox->geometry().right() + units.X(4);
  if (m_followNextBox->x() < clear) m_followNextBox->move(clear, m_followNextBox->y());
  if (m_saveCbz != nullptr) {
    const int after = m_followNextBox->geometry().right() + units.X(4);
    if (m_saveCbz->x() < after) m_saveCbz->move(after, m_saveCbz->y());
  }

  QHeaderView* header = m_taskList->horizontalHeader();
  const int gained = laid.width() - m_laidOut.width();
  if (gained != 0) {
    const int name = std::max(kNameColumnMinimum, header->sectionSize(1) + gained);
    header->resizeSection(1, name);
  }
  m_laidOut = laid;
}

void CpageLoomDlg::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime != nullptr && (mime->hasUrls() || mime->hasText())) event->acceptProposedAction();
}

void CpageLoomDlg::dropEvent(QDropEvent* event) {
  const QMimeData* mime = event->mimeData();
  if (mime == nullptr) return;
  QStringList addresses;
  if (mime->hasUrls()) {
    for (const QUrl& url : mime->urls()) addresses << url.toString();
  } else {
    addresses << mime->text();
  }
  event->acceptProposedAction();
  AddDroppedAddresses(addresses.join(QLatin1Char('\n')));
}

void CpageLoomDlg::AddDroppedAddresses(const QString& text) {
  RunGuarded([this, &text] {
    if (!IsClosing()) m_controller.AddAddresses(text.toStdU16String(), AddOptions());
  });
}

void CpageLoomDlg::ImportCookies() {
  RunGuarded([this] {
    if (IsClosing()) return;
    const std::optional<std::u16string> picked = m_filePicker(tr("导入Cookies").toStdU16String());
    if (!picked || picked->empty() || IsClosing()) return;
    const QString name = QString::fromStdU16String(*picked);
    // A large export takes a moment: it is read beside the window, which says the result.
    JoinCookieImport();
    m_cookieImport = std::thread([this, name] {
      const TaskController::CookieImport import = m_controller.ImportCookiesFrom(ToPath(name));
      QMetaObject::invokeMethod(
          this, [this, name, import] { ShowCookieImport(name, import.reading, import.saved); },
          Qt::QueuedConnection);
    });
  });
}

void CpageLoomDlg::JoinCookieImport() {
  if (m_cookieImport.joinable()) m_cookieImport.join();
}

void CpageLoomDlg::ShowCookieImport(const QString& name, const CookieFileReading& reading,
                                    bool saved) {
  JoinCookieImport();  // it has ended: this call was its last act
  if (reading.status != CookieFileStatus::kRead) {
    ShowText(tr("无法读取Cookies文件：%1").arg(name));
    return;
  }
  QString text = tr("已导入 %1 条Cookies，跳过 %2 行。").arg(reading.added).arg(reading.skipped);
  if (reading.dropped > 0)
    text +=
        QLatin1Char('\n') + tr("超出数量上限（每个域名%1条，共%2条），舍弃了 %3 条较旧的Cookies。")
                                .arg(kMaxCookiesPerDomain)
                                .arg(kMaxCookies)
                                .arg(reading.dropped);
  if (!saved)
    text +=
        QLatin1Char('\n') + tr("无法保存Cookies文件：%1").arg(ToQString(m_controller.CookieFile()));
  ShowText(text);
}

void CpageLoomDlg::ClearCookies() {
  RunGuarded([this] {
    if (IsClosing()) return;
    const TaskController::CookieClearing clearing = m_controller.ClearCookieStore();
    if (!clearing.cleared) {
      ShowText(tr("无法清除Cookies"));
    } else if (!clearing.saved) {
      ShowText(
          tr("Cookies已清除，但无法保存Cookies文件：%1").arg(ToQString(m_controller.CookieFile())));
    } else {
      ShowText(tr("Cookies已清除"));
    }
  });
}

void CpageLoomDlg::AskPacing() {
  RunGuarded([this] {
    if (IsClosing()) return;
    const QString current = QString::fromStdString(PacingText(m_controller.GetPacing()));
    bool ok = false;
    const QString text = QInputDialog::getText(
        this, tr("请求间隔"),
        tr("同一网站两次请求之间等待的秒数（如 2，或 2-5 取其间随机值；0 为不等待）："),
        QLineEdit::Normal, current.isEmpty() ? QStringLiteral("0") : current, &ok);
    if (ok) (void)ApplyPacingText(text);
  });
}

bool CpageLoomDlg::ApplyPacingText(const QString& text) {
  const std::optional<Pacing> pacing = ParsePacing(text.trimmed().toStdString());
  if (!pacing) {
    ShowText(tr("无效的请求间隔：%1").arg(text));
    return false;
  }
  if (!m_controller.SetPacing(*pacing)) ShowText(tr("无法保存请求间隔设置"));
  return true;
}

void CpageLoomDlg::ShowText(const QString& text) {
  if (IsClosing()) return;
  RunGuarded([this, &text] { m_messageBox(text.toStdU16String()); });
}

void CpageLoomDlg::FitColumns(int row) { FitColumns(row, row); }

void CpageLoomDlg::FitColumns(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, m_model->rowCount() - 1);
  if (first > last) return;
  QHeaderView* header = m_taskList->horizontalHeader();
  // The item's text margins and the grid line.
  const int margins =
      (m_taskList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_taskList) + 1) *
          2 +
      2;
  for (const int column : {2, 3}) {
    int widest = 0;
    for (int row = first; row <= last; ++row)
      widest = std::max(widest, TextWidth(m_model->index(row, column).data().toString()));
    const int needed = widest + margins;
    const int extra = needed - header->sectionSize(column);
    if (extra <= 0) continue;
    header->resizeSection(column, needed);
    header->resizeSection(1, std::max(kNameColumnMinimum, header->sectionSize(1) - extra));
  }
}

int CpageLoomDlg::TextWidth(const QString& text) {
  // The cells say the same few things again and again ("24/24", "已完成"): each is measured
  // once per font.
  constexpr int kMostKept = 4096;
  const QFont font = m_taskList->font();
  if (font != m_widthFont || m_textWidths.size() > kMostKept) {
    m_textWidths.clear();
    m_widthFont = font;
  }
  const auto found = m_textWidths.constFind(text);
  if (found != m_textWidths.constEnd()) return *found;
  const int width = QFontMetrics(font).horizontalAdvance(text);
  m_textWidths.insert(text, width);
  return width;
}

void CpageLoomDlg::NoteStatusChange(int taskNo, TaskStatus before, const TaskSnapshot& after) {
  if (before == after.status) return;  // a finished task seen again by a later walk
  if (after.status == TaskStatus::kFinished) {
    ++m_tasksEndedUnsaid;
    m_tray->TaskEnded(taskNo);
  } else if (after.status == TaskStatus::kIncomplete && !after.missing.empty()) {
    ++m_tasksEndedUnsaid;
    m_tray->TaskIncomplete(taskNo, static_cast<int>(after.missing.size()));
  }
}

void CpageLoomDlg::PostNewChapters(std::u16string comic, int count) {
  Post([this, comic = QString::fromStdU16String(comic), count] {
    m_tray->NewChapters(comic, count);
  });
}

void CpageLoomDlg::NoteRunEnded(const RunEnded& ended) {
  if (m_tasksEndedUnsaid == 0) return;
  m_tasksEndedUnsaid = 0;
  m_tray->QueueDone(ended.tasks - ended.finished);
}

void CpageLoomDlg::PostPictureProgress(int taskNo, std::uint64_t received, std::int64_t total) {
  std::lock_guard<std::mutex> lock(m_requestMutex);
  if (m_closing) return;
  m_pendingBytes[taskNo] = PendingBytes{received, total, m_bytesBatch};
  if (m_bytesBatchQueued) return;
  m_bytesBatchQueued = true;
  // The dialog is the context: a call still queued when it goes away is discarded.
  QMetaObject::invokeMethod(
      this, [this, batch = m_bytesBatch] { ShowPendingBytes(batch); }, Qt::QueuedConnection);
}

void CpageLoomDlg::ShowPendingBytes(std::uint64_t batch) {
  std::vector<std::pair<int, PendingBytes>> shown;
  {
    std::lock_guard<std::mutex> lock(m_requestMutex);
    for (auto it = m_pendingBytes.begin(); it != m_pendingBytes.end();) {
      if (it->second.batch == batch) {
        shown.emplace_back(*it);
        it = m_pendingBytes.erase(it);
      } else {
        ++it;
      }
    }
    if (batch == m_bytesBatch) m_bytesBatchQueued = false;
  }
  for (const auto& [taskNo, bytes] : shown) {
    if (!m_model->SetPictureBytes(taskNo, bytes.received, bytes.total)) continue;
    FitColumns(m_model->RowOfTask(taskNo));
    m_status->NoteBytes(taskNo, bytes.received);
  }
}

}  // namespace pageloom
