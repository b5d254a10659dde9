#include "net/cookie_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/debug_line.h"
#include "base/unique_fd.h"
#include "net/transfer.h"

namespace pageloom {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Longer lines are not cookies libcurl keeps whole.
constexpr std::size_t kMaxLineLength = 8192;
constexpr std::string_view kFileHeader =
    "# Netscape HTTP Cookie File\n"
    "# The cookies of pageLoom's downloads. Lines may be added in the same format.\n\n";

// What makes a cookie one: its domain (lower case, without leading dots), path and name.
using CookieKey = std::tuple<std::string, std::string, std::string>;

struct ParsedCookie {
  CookieKey key;
  long long expiry = 0;  // seconds since 1970; 0 for a cookie of the session
};

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsFlag(std::string_view field) {
  return EqualsNoCase(field, "TRUE") || EqualsNoCase(field, "FALSE");
}

// Control characters other than the tab, which separates the fields.
bool HasControl(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return true;
  }
  return false;
}

std::optional<long long> ParseExpiry(std::string_view field) {
  if (field.empty() || field.size() > 18) return std::nullopt;
  long long value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string NormalDomain(std::string_view domain) {
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  std::string normal(domain);
  for (char& c : normal)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return normal;
}

// A Netscape cookie line (six fields when the value is missing, else seven), or nothing.
std::optional<ParsedCookie> ParseCookieLine(std::string_view line) {
  if (line.size() > kMaxLineLength || HasControl(line)) return std::nullopt;
  if (line.substr(0, kHttpOnlyPrefix.size()) == kHttpOnlyPrefix)
    line.remove_prefix(kHttpOnlyPrefix.size());
  const std::vector<std::string_view> fields = SplitTabs(line);
  if (fields.size() != 6 && fields.size() != 7) return std::nullopt;
  const std::string_view domain = fields[0];
  const std::string_view path = fields[2];
  const std::string_view name = fields[5];
  if (NormalDomain(domain).empty() || domain.find(' ') != std::string_view::npos)
    return std::nullopt;
  if (!IsFlag(fields[1]) || !IsFlag(fields[3])) return std::nullopt;
  if (path.empty() || path.front() != '/') return std::nullopt;
  if (name.empty()) return std::nullopt;
  const std::optional<long long> expiry = ParseExpiry(fields[4]);
  if (!expiry) return std::nullopt;
  return ParsedCookie{CookieKey{NormalDomain(domain), std::string(path), std::string(name)},
                      *expiry};
}

enum class LineKind { kIgnored, kCookie, kBad };

LineKind Classify(std::string_view line, std::time_t now, std::optional<ParsedCookie>& cookie) {
  cookie = std::nullopt;
  if (line.find_first_not_of(" \t") == std::string_view::npos) return LineKind::kIgnored;
  if (line.front() == '#' && line.substr(0, kHttpOnlyPrefix.size()) != kHttpOnlyPrefix)
    return LineKind::kIgnored;
  cookie = ParseCookieLine(line);
  if (!cookie) return LineKind::kBad;
  // An expired cookie is one libcurl would drop at once.
  if (cookie->expiry != 0 && cookie->expiry <= static_cast<long long>(now)) return LineKind::kBad;
  return LineKind::kCookie;
}

// The whole of a regular file. A FIFO or a device is refused without being waited on.
CookieFileStatus ReadWholeFile(const fs::path& file, std::string& content) {
  content.clear();
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.Get() < 0)
    return errno == ENOENT ? CookieFileStatus::kMissing : CookieFileStatus::kUnreadable;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxCookieFileSize)
    return CookieFileStatus::kUnreadable;
  char piece[16384];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), piece, sizeof piece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return CookieFileStatus::kUnreadable;
    if (n == 0) return CookieFileStatus::kRead;
    if (content.size() + static_cast<std::size_t>(n) > kMaxCookieFileSize)
      return CookieFileStatus::kUnreadable;
    content.append(piece, static_cast<std::size_t>(n));
  }
}

std::string KeyText(const CookieKey& key) {
  return std::get<0>(key) + '\t' + std::get<1>(key) + '\t' + std::get<2>(key);
}

// Cookies in the order they came (the newest last), one per key, kept within the caps.
class CookieJar {
 public:
  struct Entry {
    CookieKey key;
    std::string line;
    bool fromFile = false;
    bool alive = true;
  };
  // Adds a cookie; one of the same key goes.
  void Put(ParsedCookie cookie, std::string_view line, bool fromFile) {
    const auto [it, inserted] = m_index.try_emplace(KeyText(cookie.key), m_entries.size());
    if (!inserted) {
      Entry& old = m_entries[it->second];
      old.alive = false;
      if (old.fromFile) ++m_fileReplaced;
      it->second = m_entries.size();
    }
    m_entries.push_back(Entry{std::move(cookie.key), std::string(line), fromFile});
  }
  std::size_t Size() const { return m_index.size(); }
  int FileLinesReplaced() const { return m_fileReplaced; }

  struct Kept {
    std::vector<const Entry*> entries;  // oldest first
    int fileEntries = 0;                // cookies of the file, before the caps
    int droppedFromFile = 0;
    int droppedFromStore = 0;
  };
  // The newest `perDomain` cookies of each domain, and of those the newest `total`.
  Kept Keep(std::size_t perDomain, std::size_t total) const {
    Kept kept;
    std::unordered_map<std::string, std::size_t> perDomainCount;
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
      if (!it->alive) continue;
      kept.fileEntries += it->fromFile ? 1 : 0;
      std::size_t& count = perDomainCount[std::get<0>(it->key)];
      if (count < perDomain && kept.entries.size() < total) {
        ++count;
        kept.entries.push_back(&*it);
      } else {
        ++(it->fromFile ? kept.droppedFromFile : kept.droppedFromStore);
      }
    }
    std::reverse(kept.entries.begin(), kept.entries.end());
    return kept;
  }

 private:
  std::vector<Entry> m_entries;
  std::unordered_map<std::string, std::size_t> m_index;  // key -> its live entry
  int m_fileReplaced = 0;
};

// An easy handle on the session's shared store, for the store's own operations.
net_detail::EasyPtr StoreHandle(Session& session) {
  if (!session.Valid()) return nullptr;
  net_detail::EnsureCurl();
  net_detail::EasyPtr easy(curl_easy_init());
  if (!easy || curl_easy_setopt(easy.get(), CURLOPT_SHARE, session.Internals().share) != CURLE_OK)
    return nullptr;
  return easy;
}

// The store's lines, or nothing when they could not be listed.
std::optional<std::vector<std::string>> ListCookies(Session& session) {
  const net_detail::EasyPtr easy = StoreHandle(session);
  if (!easy) return std::nullopt;
  curl_slist* list = nullptr;
  if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &list) != CURLE_OK) return std::nullopt;
  const net_detail::SlistPtr owned(list);
  std::vector<std::string> lines;
  for (const curl_slist* item = list; item != nullptr; item = item->next)
    if (item->data != nullptr) lines.emplace_back(item->data);
  return lines;
}

}  // namespace

CookieFileReading LoadCookies(Session& session, const fs::path& file) {
  CookieFileReading reading;
  std::string content;
  reading.status = ReadWholeFile(file, content);
  if (reading.status != CookieFileStatus::kRead) return reading;

  // The store's cookies come first, the file's after them: a later line is newer.
  CookieJar jar;
  const std::optional<std::vector<std::string>> before = ListCookies(session);
  for (const std::string& line : before.value_or(std::vector<std::string>{}))
    if (std::optional<ParsedCookie> cookie = ParseCookieLine(line))
      jar.Put(std::move(*cookie), line, false);

  const std::time_t now = std::time(nullptr);
  std::string_view rest(content);
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    rest.remove_prefix(kByteOrderMark.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::optional<ParsedCookie> cookie;
    const LineKind kind = Classify(line, now, cookie);
    if (kind == LineKind::kIgnored) continue;
    if (kind == LineKind::kBad) {
      ++reading.skipped;
      continue;
    }
    jar.Put(std::move(*cookie), line, true);
  }
  const CookieJar::Kept kept = jar.Keep(kMaxCookiesPerDomain, kMaxCookies);
  reading.dropped = kept.droppedFromFile + kept.droppedFromStore;

  // The store is handed only what it keeps; libcurl looks through a domain's cookies for
  // each line it takes, so a domain never holds more than the cap.
  const net_detail::EasyPtr easy = StoreHandle(session);
  bool handed = easy != nullptr;
  if (handed && kept.droppedFromStore > 0)
    handed = curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "ALL") == CURLE_OK;
  for (const CookieJar::Entry* entry : kept.entries) {
    if (!handed) break;
    if (!entry->fromFile && kept.droppedFromStore == 0) continue;  // there already
    (void)curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, entry->line.c_str());
  }

  // libcurl says nothing of a line it refuses: the store itself tells what it took.
  std::unordered_set<std::string> stored;
  for (const std::string& line : ListCookies(session).value_or(std::vector<std::string>{}))
    if (const std::optional<ParsedCookie> cookie = ParseCookieLine(line))
      stored.insert(KeyText(cookie->key));
  int takenFromFile = 0;
  for (const CookieJar::Entry* entry : kept.entries)
    if (entry->fromFile && stored.count(KeyText(entry->key)) != 0) ++takenFromFile;
  // Lines of the file replaced by a later line of it count as taken; lines the store
  // refused as skipped; lines over the caps as dropped.
  reading.added = takenFromFile + jar.FileLinesReplaced();
  reading.skipped += kept.fileEntries - kept.droppedFromFile - takenFromFile;
  DebugLine("cookies from " + file.string() + ": " + std::to_string(reading.added) + " taken, " +
            std::to_string(reading.skipped) + " lines skipped, " + std::to_string(reading.dropped) +
            " dropped over the limits");
  return reading;
}

bool SaveCookies(Session& session, const fs::path& file) {
  const std::optional<std::vector<std::string>> lines = ListCookies(session);
  if (!lines) return false;
  std::string content(kFileHeader);
  for (const std::string& line : *lines) content.append(line).append(1, '\n');

  std::error_code error;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), error);
  if (error) return false;
  std::string temporary = file.string() + ".XXXXXX";
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.Get() < 0) return false;
  bool ok = ::fchmod(fd.Get(), 0600) == 0 && WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(temporary.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    DebugLine("cookies could not be saved to " + file.string());
  }
  return ok;
}

void RemoveStaleCookieFiles(const fs::path& file) {
  // The names mkostemp gives: the file's name, '.', six letters or digits.
  const std::string prefix = file.filename().string() + ".";
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (!std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
      continue;
    std::error_code ignored;
    if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored)) {
      fs::remove(entry.path(), ignored);
      DebugLine("removed a cookie file left half saved: " + entry.path().string());
    }
  }
}

bool ClearCookies(Session& session) {
  const net_detail::EasyPtr easy = StoreHandle(session);
  return easy && curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "ALL") == CURLE_OK;
}

std::vector<std::string> CookieLines(Session& session) {
  return ListCookies(session).value_or(std::vector<std::string>{});
}

}  // namespace pageloom
