// The cookies of a session as a file, in the Netscape cookies.txt format that libcurl
// writes and browsers' cookie exports use: one cookie a line, seven fields separated by
// tabs (domain, include subdomains, path, secure, expiry, name, value), "#HttpOnly_"
// before the domain of an HTTP-only cookie, other lines starting with '#' are comments.
//
// Every operation may run while transfers of the session are in flight on other threads:
// the store is the session's shared one, locked by libcurl around each use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "net/session.h"

namespace pageloom {

enum class CookieFileStatus {
  kRead,        // the file was read (its lines may still have been skipped)
  kMissing,     // there is no such file
  kUnreadable,  // not a regular file, no permission, too large, or a read error
};

// What reading a cookies file gave.
struct CookieFileReading {
  CookieFileStatus status = CookieFileStatus::kMissing;
  int added = 0;    // cookie lines now in the store
  int skipped = 0;  // lines that were not usable cookies: malformed, expired or refused
  int dropped = 0;  // cookies over the caps: the oldest of the store's and the file's
};

// The most cookies the store keeps of one domain, and in all, as browsers do; beyond
// them the oldest go (the store's before the file's, a file's earlier lines before its
// later ones).
constexpr std::size_t kMaxCookiesPerDomain = 180;
constexpr std::size_t kMaxCookies = 10000;

// Files larger than this are refused as unreadable.
constexpr std::uintmax_t kMaxCookieFileSize = 16u << 20;

// Reads a cookies file into the session's store, adding to what is there (a cookie of
// the same domain, path and name is replaced), within the caps. Comments and blank
// lines are neither added nor skipped. The file is only read, never changed. Takes time
// in proportion to the file's lines and the cookies stored.
[[nodiscard]] CookieFileReading LoadCookies(Session& session, const std::filesystem::path& file);

// Writes every cookie of the session to `file`, mode 0600, atomically: a temporary file
// beside it is written in full and then renamed over it, so a failure leaves the old
// file as it was. Makes the folder when it is missing. False when it could not.
[[nodiscard]] bool SaveCookies(Session& session, const std::filesystem::path& file);

// Removes what a SaveCookies cut short (killed between writing and renaming) left beside
// `file`: its temporary files, which hold cookies. Only while no other program saves there.
void RemoveStaleCookieFiles(const std::filesystem::path& file);

// Forgets every cookie of the session at once. False when the store is unusable.
[[nodiscard]] bool ClearCookies(Session& session);

// The session's cookies, one Netscape line each.
[[nodiscard]] std::vector<std::string> CookieLines(Session& session);

}  // namespace pageloom
