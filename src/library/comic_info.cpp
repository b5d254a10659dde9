#include "library/comic_info.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QXmlStreamWriter>
#include <fstream>
#include <iterator>

namespace pageloom {

namespace {

// The text without the characters XML 1.0 cannot carry.
QString XmlText(const std::string& utf8) {
  const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      out += c;
      out += text[++i];
      continue;
    }
    const char16_t u = c.unicode();
    const bool allowed = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) ||
                         (u >= 0xE000 && u <= 0xFFFD);
    if (allowed) out += c;
  }
  return out;
}

std::string Joined(const std::vector<MetadataTag>& tags, bool (*pick)(const MetadataTag&),
                   bool withSpace) {
  std::string out;
  for (const MetadataTag& tag : tags) {
    if (!pick(tag)) continue;
    if (!out.empty()) out += ", ";
    if (withSpace && !tag.space.empty()) out += tag.space + ":";
    out += tag.name;
  }
  return out;
}

bool IsArtist(const MetadataTag& tag) { return tag.space == "artist"; }
bool IsGroup(const MetadataTag& tag) { return tag.space == "group"; }
bool IsOther(const MetadataTag& tag) { return !IsArtist(tag) && !IsGroup(tag); }

void Element(QXmlStreamWriter& xml, const char* name, const std::string& value) {
  if (!value.empty()) xml.writeTextElement(QString::fromLatin1(name), XmlText(value));
}

QString Q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

std::string LanguageIso(std::string_view language) {
  static constexpr struct {
    std::string_view name;
    std::string_view code;
  } kCodes[] = {
      {"chinese", "zh"},    {"japanese", "ja"},   {"english", "en"},   {"korean", "ko"},
      {"french", "fr"},     {"german", "de"},     {"spanish", "es"},   {"italian", "it"},
      {"russian", "ru"},    {"portuguese", "pt"}, {"thai", "th"},      {"vietnamese", "vi"},
      {"indonesian", "id"}, {"polish", "pl"},     {"dutch", "nl"},     {"hungarian", "hu"},
      {"czech", "cs"},      {"arabic", "ar"},     {"turkish", "tr"},   {"ukrainian", "uk"},
      {"greek", "el"},      {"swedish", "sv"},    {"finnish", "fi"},   {"hebrew", "he"},
      {"romanian", "ro"},   {"danish", "da"},     {"norwegian", "no"}, {"tagalog", "tl"}};
  std::string lower(language);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const auto& entry : kCodes)
    if (entry.name == lower) return std::string(entry.code);
  return {};
}

std::string ComicInfoXml(const ComicMetadata& m, const std::vector<PictureFile>& pictures) {
  QByteArray bytes;
  QXmlStreamWriter xml(&bytes);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement("ComicInfo");
  xml.writeNamespace("http://www.w3.org/2001/XMLSchema", "xsd");
  xml.writeNamespace("http://www.w3.org/2001/XMLSchema-instance", "xsi");
  Element(xml, "Title", m.title);
  Element(xml, "Series", m.series);
  Element(xml, "Number", m.number);
  Element(xml, "Summary", m.originalTitle);
  // "2021-03-04 05:06": the date the gallery was posted.
  const std::string& d = m.posted;
  const auto digits = [&d](std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i)
      if (i >= d.size() || d[i] < '0' || d[i] > '9') return false;
    return true;
  };
  if (digits(0, 4) && d.size() >= 10 && d[4] == '-' && digits(5, 2) && d[7] == '-' &&
      digits(8, 2)) {
    Element(xml, "Year", std::to_string(std::stoi(d.substr(0, 4))));
    Element(xml, "Month", std::to_string(std::stoi(d.substr(5, 2))));
    Element(xml, "Day", std::to_string(std::stoi(d.substr(8, 2))));
  }
  Element(xml, "Writer", Joined(m.tags, IsArtist, false));
  Element(xml, "Publisher", Joined(m.tags, IsGroup, false));
  Element(xml, "Genre", m.category);
  Element(xml, "Tags", Joined(m.tags, IsOther, true));
  Element(xml, "Web", m.web);
  Element(xml, "PageCount", std::to_string(pictures.size()));
  Element(xml, "LanguageISO", LanguageIso(m.language));
  xml.writeStartElement("Pages");
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    xml.writeEmptyElement("Page");
    xml.writeAttribute("Image", QString::number(i));
    xml.writeAttribute("ImageSize", QString::number(pictures[i].size));
    if (pictures[i].dimensions) {
      xml.writeAttribute("ImageWidth", QString::number(pictures[i].dimensions->width));
      xml.writeAttribute("ImageHeight", QString::number(pictures[i].dimensions->height));
    }
  }
  xml.writeEndElement();  // Pages
  xml.writeEndElement();  // ComicInfo
  xml.writeEndDocument();
  return bytes.toStdString();
}

std::string InfoJson(const FolderInfo& info) {
  const ComicMetadata& m = info.metadata;
  QJsonObject o;
  const auto put = [&o](const char* key, const std::string& value) {
    if (!value.empty()) o.insert(QString::fromLatin1(key), Q(value));
  };
  put("title", m.title);
  put("original_title", m.originalTitle);
  put("series", m.series);
  put("number", m.number);
  put("category", m.category);
  put("uploader", m.uploader);
  put("posted", m.posted);
  put("language", m.language);
  if (m.length > 0) o.insert("length", m.length);
  put("web", m.web);
  put("series_web", m.seriesWeb);
  QJsonArray tags;
  for (const MetadataTag& tag : m.tags)
    tags.append(QJsonObject{{"namespace", Q(tag.space)}, {"tag", Q(tag.name)}});
  o.insert("tags", tags);
  o.insert("source", Q(info.source));
  o.insert("complete", info.complete);
  QJsonArray missing;
  for (const std::string& name : info.missing) missing.append(Q(name));
  o.insert("missing", missing);
  QJsonArray files;
  for (const PictureFile& file : info.files)
    files.append(QJsonObject{{"name", Q(file.name)}, {"size", static_cast<qint64>(file.size)}});
  o.insert("files", files);
  return QJsonDocument(o).toJson(QJsonDocument::Indented).toStdString();
}

std::optional<FolderInfo> ParseInfoJson(std::string_view text) {
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  if (!o.contains("source")) return std::nullopt;
  FolderInfo info;
  ComicMetadata& m = info.metadata;
  m.title = S(o.value("title").toString());
  m.originalTitle = S(o.value("original_title").toString());
  m.series = S(o.value("series").toString());
  m.number = S(o.value("number").toString());
  m.category = S(o.value("category").toString());
  m.uploader = S(o.value("uploader").toString());
  m.posted = S(o.value("posted").toString());
  m.language = S(o.value("language").toString());
  const double length = o.value("length").toDouble();
  m.length = length > 0 && length < 1e6 ? static_cast<int>(length) : 0;
  m.web = S(o.value("web").toString());
  m.seriesWeb = S(o.value("series_web").toString());
  for (const QJsonValue& tag : o.value("tags").toArray())
    m.tags.push_back({S(tag.toObject().value("namespace").toString()),
                      S(tag.toObject().value("tag").toString())});
  info.source = S(o.value("source").toString());
  info.complete = o.value("complete").toBool();
  for (const QJsonValue& name : o.value("missing").toArray())
    info.missing.push_back(S(name.toString()));
  for (const QJsonValue& file : o.value("files").toArray()) {
    const double size = file.toObject().value("size").toDouble();
    info.files.push_back(PictureFile{S(file.toObject().value("name").toString()),
                                     size > 0 ? static_cast<std::uint64_t>(size) : 0,
                                     std::nullopt});
  }
  return info;
}

std::optional<FolderInfo> ReadInfoJson(const std::filesystem::path& folder) {
  std::ifstream in(folder / kInfoJsonFile, std::ios::binary);
  if (!in) return std::nullopt;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseInfoJson(text);
}

}  // namespace pageloom
