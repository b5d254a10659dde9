// Why a page or a picture could not be had, as a value that travels up to the user. The
// front ends turn it into words; the list of kinds grows as new failures are told apart.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "net/transfer_outcome.h"

namespace pageloom {

enum class FailureKind {
  kUnknown,             // not told (e.g. a picture missing since before this program kept reasons)
  kHttpStatus,          // the server answered with an error status (httpStatus)
  kTimedOut,            // a time limit ran out
  kNoConnection,        // no connection to the server
  kCertificateRefused,  // the address or the server's certificate was refused
  kNotAPicture,         // the answer was no picture
  kDiskFull,            // the file could not be written
  kTooLarge,            // the answer passed its size limit
  kCancelled,           // stopped by closing or a signal
  kBrokenTransfer,      // the transfer broke off
  kUnreadablePage,      // the page arrived but could not be understood
  kLimitReached,        // the site's download limit is used up
  kPathTooLong,         // the picture's path would be longer than a path may be
};

struct FailureReason {
  FailureReason() = default;
  FailureReason(FailureKind kind_, long httpStatus_, std::string contentType_ = {})
      : kind(kind_), httpStatus(httpStatus_), contentType(std::move(contentType_)) {}

  FailureKind kind = FailureKind::kUnknown;
  long httpStatus = 0;      // the status of the last answer, when one arrived
  std::string contentType;  // kNotAPicture: the type the answer named ("" when none)

  bool operator==(const FailureReason& other) const {
    return kind == other.kind && httpStatus == other.httpStatus && contentType == other.contentType;
  }
  bool operator!=(const FailureReason& other) const { return !(*this == other); }
};

// The kind's name where it is written down (the lasting queue, JSON lines): "http",
// "timeout", ... Names never change; new kinds get new ones.
[[nodiscard]] const char* FailureKindKey(FailureKind kind);
// The kind of a name FailureKindKey gives; kUnknown for any other.
[[nodiscard]] FailureKind FailureKindOfKey(std::string_view key);

// The reason a failed transfer gives the user.
[[nodiscard]] inline FailureReason ReasonOf(const TransferOutcome& outcome) {
  FailureReason reason;
  reason.httpStatus = outcome.status;
  switch (outcome.result) {
    case TransferResult::kOk:
    case TransferResult::kHttpError:
      reason.kind = outcome.status >= 400 ? FailureKind::kHttpStatus : FailureKind::kNotAPicture;
      break;
    case TransferResult::kCancelled:
      reason.kind = FailureKind::kCancelled;
      break;
    case TransferResult::kConnectFailed:
      reason.kind = FailureKind::kNoConnection;
      break;
    case TransferResult::kTimedOut:
      reason.kind = FailureKind::kTimedOut;
      break;
    case TransferResult::kTooLarge:
      reason.kind = FailureKind::kTooLarge;
      break;
    case TransferResult::kWriteFailed:
      reason.kind = FailureKind::kDiskFull;
      break;
    case TransferResult::kRefused:
      reason.kind = FailureKind::kCertificateRefused;
      break;
    case TransferResult::kFailed:
      reason.kind = outcome.status >= 400 ? FailureKind::kHttpStatus : FailureKind::kBrokenTransfer;
      break;
  }
  return reason;
}

// The reason a page that could not be read gives: the transfer's failure, an error status,
// or (when a page arrived) that it could not be understood.
[[nodiscard]] inline FailureReason ReasonOfPage(const TransferOutcome& outcome) {
  if (!outcome.Ok()) return ReasonOf(outcome);
  if (outcome.status >= 400) return FailureReason{FailureKind::kHttpStatus, outcome.status};
  return FailureReason{FailureKind::kUnreadablePage, outcome.status};
}

}  // namespace pageloom
