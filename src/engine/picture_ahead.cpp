#include "engine/picture_ahead.h"

#include <utility>

#include "engine/picture_download.h"
#include "engine/retry.h"
#include "net/session.h"

namespace pageloom {

PictureAhead::PictureAhead(Session& session, const RetryPolicy& retry)
    : m_session(session), m_retry(retry) {}

void PictureAhead::Start(PictureJob job) {
  Drop();
  // A picture that cannot be stored is left to the step, which tells the user why.
  if (!PictureFits(job.folder, job.fileName)) return;
  m_job = std::move(job);
  m_result = kPictureStop;
  m_helper.Run([this, job = *m_job] {
    m_result =
        DownloadPictureQuietly(m_session, job.url, job.fileName, job.folder, m_retry, &m_failure);
  });
}

std::optional<int> PictureAhead::Take(const PictureJob& job, FailureReason* failure) {
  if (!m_job) return std::nullopt;
  m_helper.Wait();
  const bool wanted = *m_job == job && m_result != kPictureStop;
  m_job.reset();
  if (!wanted) return std::nullopt;
  if (failure) *failure = m_failure;
  return m_result;
}

void PictureAhead::Drop() {
  m_helper.Wait();
  m_job.reset();
}

}  // namespace pageloom
