// The user data file (.sol): all user data as one flat byte stream, written atomically and
// loaded into a copy so that a bad file changes nothing.
#pragma once

#include <string>
#include <string_view>

#include "app/app_data.h"

namespace ys {

inline constexpr std::string_view kDefaultUserDataFile = "SolarData.sol";

// Texts the user sees (UTF-8).
inline constexpr std::string_view kMsgCannotOpen = "ファイルを開けません。";
// %1 the file, %2 the system's reason.
inline constexpr std::string_view kMsgWriteFailed =
    "ファイルの書き込みに失敗しました。\n%1\n(%2)\n以前のファイルはそのまま残っています。";
// %1 the file, %2 what is wrong.
inline constexpr std::string_view kMsgCorruptFile =
    "ユーザーデータファイルが壊れているため読み込めません。\n%1\n(%2)\nデータは変更されていません。";

enum class FileOutcome { kOk, kCannotOpen, kWriteError, kCorrupt };

struct FileResult {
    FileOutcome outcome = FileOutcome::kOk;
    std::string path;    // the file that was used
    std::string detail;  // system error or what is wrong with the content
    bool ok() const { return outcome == FileOutcome::kOk; }
    // The message the user sees (UTF-8); empty for success. A load that cannot open its file is
    // silent in the GUI, which does not ask for this text then.
    std::string UserMessage() const;
};

// The file content for `data`, byte for byte.
std::string SerializeUserData(const UserData& data);
// Reads `bytes` into `data`, which is changed only when the whole content is valid. The sixth
// flag byte of each day keeps the value it had in `data`.
FileResult DeserializeUserData(std::string_view bytes, UserData& data);

// An empty path means `dataDir`/SolarData.sol.
std::string ResolveUserDataPath(const CYieldscopeApp& app, const std::string& path);
FileResult SaveUserData(const CYieldscopeApp& app, const std::string& path);
FileResult LoadUserData(CYieldscopeApp& app, const std::string& path);

// Replaces %1, %2, ... in a message.
std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args);

}  // namespace ys
