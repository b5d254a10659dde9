// A worker's picture stored ahead: while a step stores its picture, the next picture of
// the list downloads on a helper thread into the name it will have, so that the next
// step finds it stored. One picture at a time: with the step's own transfer, at most two
// requests of the worker's site are in flight. Used by one worker thread; the session's
// switch ends a download in flight, and a download cut short never takes its name.
#pragma once

#include <optional>
#include <string>

#include "engine/helper_thread.h"
#include "net/failure_reason.h"

namespace pageloom {

class Session;
struct RetryPolicy;

// A picture to store: its address, the folder (an existing one, its text ending in '/')
// and the file name it gets there.
struct PictureJob {
  std::u16string url;
  std::u16string folder;
  std::u16string fileName;
  bool operator==(const PictureJob& other) const {
    return url == other.url && folder == other.folder && fileName == other.fileName;
  }
};

class PictureAhead {
 public:
  // `session` and `retry` must outlive the object.
  PictureAhead(Session& session, const RetryPolicy& retry);
  // Waits for the download in flight (the session's switch ends it early).
  ~PictureAhead() = default;
  PictureAhead(const PictureAhead&) = delete;
  PictureAhead& operator=(const PictureAhead&) = delete;

  // Begins storing `job` on the helper thread, as DownloadPictureQuietly does; a picture
  // stored or being stored before is dropped first.
  void Start(PictureJob job);
  // Waits for the download in flight. When it was `job` and ended stored or failed, that
  // result (kPictureStored, kPictureFailed); nothing otherwise (another job, none, or one
  // that was stopped). Either way nothing is held or in flight afterwards.
  // `failure`, when given, learns why a taken picture failed.
  [[nodiscard]] std::optional<int> Take(const PictureJob& job, FailureReason* failure = nullptr);
  // Waits for the download in flight, if any, and forgets its result.
  void Drop();

 private:
  Session& m_session;
  const RetryPolicy& m_retry;
  std::optional<PictureJob> m_job;  // stored or being stored
  int m_result = 0;                 // written by the helper while a job is in flight
  FailureReason m_failure;          // likewise
  HelperThread m_helper;            // last: ends before the rest goes
};

}  // namespace pageloom
