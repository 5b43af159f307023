// The user data file (.sol): all user data as one flat byte stream, written atomically and
// loaded into a copy so that a bad file changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_data.h"
#include "platform/result.h"

namespace ys {

inline constexpr std::string_view kDefaultUserDataFile = "SolarData.sol";

// Texts the user sees (UTF-8).
inline constexpr std::string_view kMsgCannotOpen = "ファイルを開けません。";
// %1 the file, %2 the system's reason.
inline constexpr std::string_view kMsgWriteFailed =
    "ファイルの書き込みに失敗しました。\n%1\n(%2)\n以前のファイルはそのまま残っています。";
// %1 the file, %2 what is wrong.
inline constexpr std::string_view kMsgCorruptFile =
    "ユーザーデータファイルが壊れているため読み込めません。\n%1\n(%2)"
    "\nデータは変更されていません。";

// The default file was refused at start and kept aside under %3.
inline constexpr std::string_view kMsgCorruptKeptAside =
    "ユーザーデータファイルが壊れているため読み込めません。\n%1\n(%2)\n"
    "壊れたファイルは次の名前で保管しました。\n%3\n初期値で起動します。";
// The default file was refused at start and could not be kept aside: it is never written then.
inline constexpr std::string_view kMsgCorruptNotKept =
    "ユーザーデータファイルが壊れているため読み込めません。\n%1\n(%2)\n"
    "壊れたファイルを別の名前で保管できなかったため、このファイルには保存しません。\n"
    "初期値で起動します。";
inline constexpr std::string_view kMsgDefaultFileProtected =
    "壊れたユーザーデータファイルを保護するため、保存しませんでした。";

// The largest text the program itself stores: an edit holds at most 32,767 characters, two bytes
// each in CP932.
inline constexpr std::uint64_t kMaxStoredTextBytes = 65534;
// The largest user data file: the fixed part, and every text at its largest with the longest
// length prefix (7 bytes). Anything larger is refused before it is read.
inline constexpr std::uint64_t kMaxUserDataFileBytes = 11357 - 13 + 13 * (7 + kMaxStoredTextBytes);

enum class FileOutcome { kOk, kCannotOpen, kWriteError, kCorrupt };

struct FileResult {
    FileOutcome outcome = FileOutcome::kOk;
    std::string path;       // the file that was used
    std::string detail;     // what is wrong, for the user (Japanese); system error text otherwise
    std::string technical;  // the same for standard error and the command line (English)
    std::string keptAs;     // a refused default file kept aside under this name
    bool notKept = false;   // a refused default file could not be kept aside
    bool ok() const { return outcome == FileOutcome::kOk; }
    // The message the user sees (UTF-8); empty for success. A load that cannot open its file is
    // silent in the GUI, which does not ask for this text then.
    std::string UserMessage() const;
};

// The file content for `data`, byte for byte.
std::string SerializeUserData(const UserData& data);
// Reads `bytes` into `data`, which is changed only when the whole content is valid and within
// what the program itself produces (RangeProblem). The sixth flag byte of each day keeps the
// value it had in `data`.
FileResult DeserializeUserData(std::string_view bytes, UserData& data);

// A value that drives arithmetic, an allocation or a list and lies outside what the program
// produces.
struct RangeProblem {
    std::string key;    // e.g. "userInfo.installYear", "days[3].date"
    std::string label;  // the same for the user (Japanese)
};
std::optional<RangeProblem> CheckUserData(const UserData& data);

// Times the tables may hold: local dates of the years 1900 to 9999, with a day to spare.
inline constexpr std::int64_t kMinStoredTime = -2208988800LL - 86400;
inline constexpr std::int64_t kMaxStoredTime = 253402300799LL + 86400;
inline constexpr std::int32_t kMaxSimulatedMonth = 100000000;  // kWh, far inside 32-bit sums
inline constexpr std::int32_t kMinInstallYear = 1995;
inline constexpr std::int32_t kMaxInstallYear = 9999;

// An empty path means `dataDir`/SolarData.sol.
std::string ResolveUserDataPath(const CYieldscopeApp& app, const std::string& path);
// A save to the default file is refused while it holds a refused file that could not be kept
// aside (see LoadDefaultUserDataAtStart).
FileResult SaveUserData(const CYieldscopeApp& app, const std::string& path);
FileResult LoadUserData(CYieldscopeApp& app, const std::string& path);

// The load at start: a default file that is refused is kept aside in the data folder as
// "SolarData.sol.damaged-YYYYMMDD-HHMMSS" (local time of `app.Now()`) before anything can write
// the default file; if that fails, the default file is never written in this run.
FileResult LoadDefaultUserDataAtStart(CYieldscopeApp& app);

// Renames a refused file to "<path>.damaged-YYYYMMDD-HHMMSS" (a counter is added when that name
// is taken). The new path, or an error.
Result<std::string> KeepRefusedFileAside(const std::string& path, std::int64_t now);

// Replaces %1, %2, ... in a message.
std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args);

}  // namespace ys
