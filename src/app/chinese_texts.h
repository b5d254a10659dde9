// The program's own words in Chinese, the language its texts are written in: the status
// words, messages and failure reasons that both front ends show. The window translates
// them through its catalogue (context kTextContext); the terminal program shows them as
// they are when it speaks Chinese. Plain UTF-8; "%n" stands for a number.
#pragma once

#include <string>
#include <string_view>

#include "engine/task_snapshot.h"
#include "engine/user_prompt.h"
#include "library/cbz_packer.h"

namespace pageloom::zh {

constexpr const char* kTextContext = "pageloom::CoreTexts";

// The words of a message; null for the kinds made of parts (kWorkerNotStarted, kPackFailed,
// kBanned). A message with arguments puts the first one after these words.
[[nodiscard]] const char* MessageWords(MessageKind kind);
// "创建EH下载线程失败" or "创建DMZJ下载线程失败".
[[nodiscard]] const char* WorkerNotStartedWords(std::u16string_view site);
// "准备中", "下载中", ...
[[nodiscard]] const char* StatusWords(TaskStatus status);
// A chapter that waits because page scripts cannot run safely here.
[[nodiscard]] const char* ScriptsBlockedWords();
// "未完成，缺%n张".
[[nodiscard]] const char* MissingCountWords();
// "被封禁，%n分钟后重试".
[[nodiscard]] const char* BannedWords();
// "……另有%n张": the missing pictures a list leaves out.
[[nodiscard]] const char* MoreMissingWords();
// Why something failed; null for kHttpStatus ("HTTP 404" in every language).
[[nodiscard]] const char* ReasonWords(FailureKind kind);

// Why a folder was not packed ("未完成，缺%n张" for kPicturesMissing); null for kNone.
[[nodiscard]] const char* PackRefusalWords(PackRefusal refusal);

// `words` with each "%n" replaced by `number`.
[[nodiscard]] std::string WithNumber(const char* words, long long number);

}  // namespace pageloom::zh
