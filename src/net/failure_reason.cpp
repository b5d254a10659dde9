#include "net/failure_reason.h"

#include <iterator>

namespace pageloom {

namespace {

struct KindKey {
  FailureKind kind;
  const char* key;
};

constexpr KindKey kKeys[] = {
    {FailureKind::kHttpStatus, "http"},
    {FailureKind::kTimedOut, "timeout"},
    {FailureKind::kNoConnection, "no_connection"},
    {FailureKind::kCertificateRefused, "refused"},
    {FailureKind::kNotAPicture, "not_a_picture"},
    {FailureKind::kDiskFull, "disk_full"},
    {FailureKind::kTooLarge, "too_large"},
    {FailureKind::kCancelled, "cancelled"},
    {FailureKind::kBrokenTransfer, "broken_transfer"},
    {FailureKind::kUnreadablePage, "unreadable_page"},
    {FailureKind::kLimitReached, "limit_reached"},
    {FailureKind::kPathTooLong, "path_too_long"},
};

}  // namespace

const char* FailureKindKey(FailureKind kind) {
  for (const KindKey& entry : kKeys)
    if (entry.kind == kind) return entry.key;
  return "unknown";
}

FailureKind FailureKindOfKey(std::string_view key) {
  for (const KindKey& entry : kKeys)
    if (key == entry.key) return entry.kind;
  return FailureKind::kUnknown;
}

}  // namespace pageloom
