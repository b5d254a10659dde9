#include "library/task_finish.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "library/comic_info.h"
#include "library/task_files.h"

namespace pageloom {

namespace fs = std::filesystem;

namespace {

// The folder's info, as written when its task was added, or made from what is known.
FolderInfo InfoOf(const fs::path& folder, const std::string& source) {
  std::optional<FolderInfo> read = ReadInfoJson(folder);
  FolderInfo info = read ? std::move(*read) : FolderInfo{};
  if (info.metadata.title.empty()) {
    fs::path named = folder;
    if (!named.has_filename()) named = named.parent_path();
    info.metadata.title = named.filename().string();
  }
  if (!source.empty()) info.source = source;
  if (info.metadata.web.empty()) info.metadata.web = info.source;
  return info;
}

}  // namespace

bool WriteAddedInfo(const fs::path& folder, const ComicMetadata& metadata,
                    const std::string& source) {
  FolderInfo info;
  info.metadata = metadata;
  info.source = source;
  return WriteFileAtomically(folder / kInfoJsonFile, InfoJson(info));
}

FinishOutcome FinishTaskFolder(const EndedTask& task, const FinishOptions& options) {
  FinishOutcome outcome;
  std::error_code ec;
  if (!fs::is_directory(task.folder, ec)) return outcome;
  std::string comicInfo;
  if (options.writeMetadata) {
    FolderInfo info = InfoOf(task.folder, task.source);
    info.complete = task.complete;
    info.missing = task.missing;
    info.files = PicturesInFolder(task.folder, true);
    comicInfo = ComicInfoXml(info.metadata, info.files);
    outcome.metadataWritten = WriteFileAtomically(task.folder / kComicInfoFile, comicInfo) &&
                              WriteFileAtomically(task.folder / kInfoJsonFile, InfoJson(info));
  }
  // Packed only while its mark names the task: the archive names what the mark names
  // first (the address as added; the task's own address in a mark of an earlier version).
  const std::vector<std::string> sources = FolderSources(task.folder);
  if (options.saveCbz && task.complete &&
      std::find(sources.begin(), sources.end(), task.source) != sources.end())
    outcome.pack = PackFolder(task.folder, sources, outcome.metadataWritten ? &comicInfo : nullptr);
  return outcome;
}

PackResult WhyIncomplete(const fs::path& folder) {
  PackResult result;
  result.status = PackStatus::kRefused;
  result.archive = ArchivePathFor(folder);
  const auto refuse = [&result](PackRefusal refusal, std::size_t missing = 0) {
    result.refusal = refusal;
    result.missingCount = static_cast<int>(missing);
    return result;
  };
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return refuse(PackRefusal::kNoFolder);
  if (FolderSources(folder).empty()) return refuse(PackRefusal::kNotATaskFolder);
  if (HasPartFiles(folder)) return refuse(PackRefusal::kPictureInFlight);
  const std::vector<PictureFile> pictures = PicturesInFolder(folder, false);
  if (pictures.empty()) return refuse(PackRefusal::kNoPictures);
  if (const std::optional<FolderInfo> info = ReadInfoJson(folder)) {
    if (!info->missing.empty()) return refuse(PackRefusal::kPicturesMissing, info->missing.size());
    if (info->metadata.length > static_cast<int>(pictures.size()))
      return refuse(PackRefusal::kPicturesMissing,
                    static_cast<std::size_t>(info->metadata.length) - pictures.size());
    if (!info->complete && !info->files.empty()) return refuse(PackRefusal::kUnfinished);
  }
  return refuse(PackRefusal::kNone);
}

PackResult PackTaskFolder(const fs::path& folder) {
  if (PackResult refused = WhyIncomplete(folder); refused.refusal != PackRefusal::kNone)
    return refused;
  const std::vector<std::string> sources = FolderSources(folder);
  std::ifstream in(folder / kComicInfoFile, std::ios::binary);
  const std::string comicInfo((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  return PackFolder(folder, sources, in && !comicInfo.empty() ? &comicInfo : nullptr);
}

}  // namespace pageloom
