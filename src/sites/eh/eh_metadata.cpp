#include "sites/eh/eh_metadata.h"

#include <cstdlib>

#include "engine/plain_text.h"

namespace pageloom {

namespace {

constexpr std::size_t npos = std::string_view::npos;

// The text between `open` (searched from `from`) and the first `close` after it, as a
// view of `page`; empty when either is missing. `from` moves behind `close`.
std::string_view Between(std::string_view page, std::size_t& from, std::string_view open,
                         std::string_view close) {
  const std::size_t at = page.find(open, from);
  if (at == npos) return {};
  const std::size_t start = at + open.size();
  const std::size_t end = page.find(close, start);
  if (end == npos) return {};
  from = end + close.size();
  return page.substr(start, end - start);
}

// The contents of the element whose start tag holds `attribute` (e.g. id="gn"): from
// behind that tag's '>' up to `close`. Empty when the page lacks either.
std::string_view ElementAfter(std::string_view page, std::string_view attribute,
                              std::string_view close, std::size_t from = 0) {
  const std::size_t at = page.find(attribute, from);
  if (at == npos) return {};
  std::size_t tagEnd = page.find('>', at);
  if (tagEnd == npos) return {};
  ++tagEnd;
  return Between(page, tagEnd, "", close);
}

void ReadDetails(std::string_view table, ComicMetadata& out) {
  std::size_t at = 0;
  for (;;) {
    std::size_t labelAt = table.find("class=\"gdt1\"", at);
    if (labelAt == npos) return;
    const std::string label = PlainText(ElementAfter(table, "class=\"gdt1\"", "</td>", at));
    const std::size_t valueAt = table.find("class=\"gdt2\"", labelAt);
    if (valueAt == npos) return;
    const std::string value = PlainText(ElementAfter(table, "class=\"gdt2\"", "</td>", labelAt));
    at = valueAt + 1;
    if (label == "Posted:") {
      out.posted = value;
    } else if (label == "Language:") {
      out.language = value.substr(0, value.find(' '));
    } else if (label == "Length:") {
      const long pages = std::strtol(value.c_str(), nullptr, 10);
      out.length = pages > 0 && pages < 1000000 ? static_cast<int>(pages) : 0;
    }
  }
}

// One row of the tag list: `row` runs from its "<tr" to the next one.
void ReadTagRow(std::string_view row, ComicMetadata& out) {
  std::string space = PlainText(ElementAfter(row, "class=\"tc\"", "</td>"));
  if (!space.empty() && space.back() == ':') space.pop_back();
  std::size_t at = 0;
  for (;;) {
    const std::size_t id = row.find("id=\"td_", at);
    if (id == npos) return;
    std::size_t idEnd = row.find('"', id + 7);
    if (idEnd == npos) return;
    const std::string_view key = row.substr(id + 7, idEnd - (id + 7));
    const std::size_t colon = key.find(':');
    MetadataTag tag;
    tag.space = colon == npos ? space : PlainText(key.substr(0, colon));
    const std::size_t divEnd = row.find("</div>", idEnd);
    const std::string_view link = ElementAfter(row, "<a", "</a>", idEnd);
    tag.name = PlainText(link);
    if (tag.name.empty() || row.find("<a", idEnd) > divEnd) {
      std::string fallback(key.substr(colon == npos ? 0 : colon + 1));
      for (char& c : fallback)
        if (c == '_') c = ' ';
      tag.name = PlainText(fallback);
    }
    if (!tag.name.empty()) out.tags.push_back(std::move(tag));
    at = idEnd + 1;
  }
}

void ReadTags(std::string_view list, ComicMetadata& out) {
  std::size_t at = list.find("<tr");
  while (at != npos) {
    const std::size_t next = list.find("<tr", at + 3);
    ReadTagRow(list.substr(at, next == npos ? npos : next - at), out);
    at = next;
  }
}

}  // namespace

ComicMetadata ReadEHGalleryMetadata(std::string_view page) {
  ComicMetadata out;
  out.title = PlainText(ElementAfter(page, "id=\"gn\"", "</h1>"));
  out.originalTitle = PlainText(ElementAfter(page, "id=\"gj\"", "</h1>"));
  const std::size_t category = page.find("id=\"gdc\"");
  if (category != npos) out.category = PlainText(ElementAfter(page, "<div", "</div>", category));
  const std::size_t uploader = page.find("id=\"gdn\"");
  if (uploader != npos) {
    const std::string_view box = ElementAfter(page, "id=\"gdn\"", "</div>");
    const std::size_t link = box.find("<a");
    out.uploader = PlainText(link == npos ? box : ElementAfter(box, "<a", "</a>"));
  }
  const std::size_t details = page.find("id=\"gdd\"");
  if (details != npos) ReadDetails(ElementAfter(page, "id=\"gdd\"", "</table>"), out);
  const std::size_t tags = page.find("id=\"taglist\"");
  if (tags != npos) ReadTags(ElementAfter(page, "id=\"taglist\"", "</table>"), out);
  return out;
}

}  // namespace pageloom
