#include "library/task_finish.h"

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

std::string Missing(std::size_t count) { return "未完成，缺" + std::to_string(count) + "张"; }

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
  if (options.saveCbz && task.complete)
    outcome.pack =
        PackFolder(task.folder, task.source, outcome.metadataWritten ? &comicInfo : nullptr);
  return outcome;
}

std::string WhyIncomplete(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return "文件夹不存在";
  if (!FolderSource(folder)) return "不是pageLoom的任务文件夹";
  if (HasPartFiles(folder)) return "还有图片正在下载";
  const std::vector<PictureFile> pictures = PicturesInFolder(folder, false);
  if (pictures.empty()) return "文件夹里没有图片";
  if (const std::optional<FolderInfo> info = ReadInfoJson(folder)) {
    if (!info->missing.empty()) return Missing(info->missing.size());
    if (info->metadata.length > static_cast<int>(pictures.size()))
      return Missing(static_cast<std::size_t>(info->metadata.length) - pictures.size());
    if (!info->complete && !info->files.empty()) return "任务未完成";
  }
  return {};
}

PackResult PackTaskFolder(const fs::path& folder) {
  const fs::path archive = ArchivePathFor(folder);
  if (std::string reason = WhyIncomplete(folder); !reason.empty())
    return PackResult{PackStatus::kRefused, archive, std::move(reason)};
  const std::optional<std::string> source = FolderSource(folder);
  std::ifstream in(folder / kComicInfoFile, std::ios::binary);
  const std::string comicInfo((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  return PackFolder(folder, *source, in && !comicInfo.empty() ? &comicInfo : nullptr);
}

}  // namespace pageloom
