#include "gui/ui_texts.h"

#include <QCoreApplication>
#include <QStringView>
#include <QTextDocument>
#include <iterator>

namespace pageloom {

namespace {

constexpr const char* kContext = "pageloom::CoreTexts";

// The messages and picker titles the logic shows, as the logic writes them.
constexpr const char* kMessages[] = {
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请输入网址"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "暂时不支持该网站漫画下载"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无效的目录，请重新选择"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请选择至少一行数据"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建EH下载线程失败"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建DMZJ下载线程失败"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已到达下载上限。请清空cookie，换IP后重试。"),
    QT_TRANSLATE_NOOP(
        "pageloom::CoreTexts",
        "解析网址失败，可能由于已经过了9点，需要登录才能下载。请到e绅士论坛注册并用ie登录后重试"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "请选择漫画下载目录："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "创建文件夹失败，请手动选择漫画保存文件夹："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法打开任务队列文件，本次添加的任务不会被保存。"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "pageLoom 已在运行。"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务进度又能保存到任务队列文件了。"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                      "本系统不能隔离页面脚本（不支持seccomp），无法读取DMZJ漫画的图片列表，这些章"
                      "节将保持“准备中”。"),
};

// Messages that begin with a fixed text and go on with a path.
constexpr const char* kMessageHeads[] = {
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务队列文件已损坏，已另存为："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法打开文件夹："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "无法创建任务文件夹，任务未添加："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "文件路径过长，图片未保存："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "任务进度无法保存到任务队列文件，将在下一步重试："),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts",
                      "无法创建数据文件夹或锁文件，本次添加的任务不会被保存："),
};

// The status words of the table.
constexpr const char* kStatusWords[] = {
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "准备中"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "准备中（无法安全运行页面脚本）"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "等待中"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "下载中"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "暂停中"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "已完成"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "未知"),
    QT_TRANSLATE_NOOP("pageloom::CoreTexts", "未完成"),
};

// The number between `head` and `tail` that make up `text`, if they do.
std::optional<int> NumberBetween(QStringView text, const QString& head, const QString& tail) {
  if (!text.startsWith(head) || !text.endsWith(tail)) return std::nullopt;
  const QStringView digits = text.mid(head.size(), text.size() - head.size() - tail.size());
  if (digits.isEmpty() || digits.size() > 9) return std::nullopt;
  int value = 0;
  for (const QChar c : digits) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

// "被封禁，X分钟后重试": a banned task's status, and what the user is told of the ban.
std::optional<int> BanMinutes(QStringView text) {
  static const QString head = QString::fromUtf8("被封禁，");
  static const QString tail = QString::fromUtf8("分钟后重试");
  return NumberBetween(text, head, tail);
}

QString BannedText(int minutes) {
  return QCoreApplication::translate(kContext, "被封禁，%n分钟后重试", nullptr, minutes);
}

const QString& FinishedWord() {
  static const QString word = QString::fromUtf8("已完成");
  return word;
}

// The translation of `text` when it is one of `known`, else nothing.
template <std::size_t N>
std::optional<QString> TranslateKnown(const char* const (&known)[N], QStringView text) {
  for (const char* source : known)
    if (text == QString::fromUtf8(source)) return QCoreApplication::translate(kContext, source);
  return std::nullopt;
}

}  // namespace

QString CoreMessage(std::u16string_view text) {
  const QStringView view(text.data(), static_cast<qsizetype>(text.size()));
  for (const char* head : kMessageHeads) {
    const QString source = QString::fromUtf8(head);
    if (view.startsWith(source))
      return QCoreApplication::translate(kContext, head) + view.mid(source.size()).toString();
  }
  if (const std::optional<int> minutes = BanMinutes(view)) return BannedText(*minutes);
  return TranslateKnown(kMessages, view).value_or(view.toString());
}

QString StatusText(const QString& status) {
  if (const std::optional<int> missing = MissingPictures(status))
    return QCoreApplication::translate("pageloom::CoreTexts", "未完成，缺%n张", nullptr, *missing);
  if (const std::optional<int> minutes = BanMinutes(status)) return BannedText(*minutes);
  return TranslateKnown(kStatusWords, status).value_or(status);
}

std::optional<int> MissingPictures(const QString& status) {
  static const QString head = QString::fromUtf8("未完成，缺");
  static const QString tail = QString::fromUtf8("张");
  return NumberBetween(status, head, tail);
}

bool IsFinishedStatus(const QString& status) { return status == FinishedWord(); }

QString PlainToolTip(const QString& text) {
  if (text.isEmpty()) return {};
  return Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap);
}

QString ByteCountText(std::uint64_t bytes) {
  constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  const int decimals = value < 10.0 && unit >= 2 ? 2 : 1;
  return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(kUnits[unit]));
}

}  // namespace pageloom
