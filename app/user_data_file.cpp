#include "app/user_data_file.h"

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace ys {
namespace {

void SerializeAll(CArchive& ar, UserData& d) {
    std::int32_t marker = 1;
    ar.Int32(marker);
    d.userInfo.Serialize(ar);
    ar.Int32(d.simDone);
    for (auto& v : d.simMonthly) ar.Int32(v);
    ar.Int32(d.errorCount);
    for (auto& e : d.errors) e.Serialize(ar);
    ar.Int32(d.dayCount);
    for (auto& e : d.days) e.Serialize(ar);
    ar.Int32(d.monthCount);
    for (auto& e : d.months) e.Serialize(ar);
}

std::string CountProblem(const char* name, std::int32_t count, std::int32_t max) {
    if (count >= 0 && count <= max) return {};
    return std::string(name) + " " + std::to_string(count) + " is outside 0-" + std::to_string(max);
}

}  // namespace

std::string FormatMessage(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string FileResult::UserMessage() const {
    switch (outcome) {
        case FileOutcome::kOk:
            return {};
        case FileOutcome::kCannotOpen:
            return std::string(kMsgCannotOpen);
        case FileOutcome::kWriteError:
            return FormatMessage(kMsgWriteFailed, {path, detail});
        case FileOutcome::kCorrupt:
            return FormatMessage(kMsgCorruptFile, {path, detail});
    }
    return {};
}

std::string SerializeUserData(const UserData& data) {
    CArchive ar;
    UserData copy = data;  // Serialize is symmetric and takes its fields by reference
    SerializeAll(ar, copy);
    return ar.buffer();
}

FileResult DeserializeUserData(std::string_view bytes, UserData& data) {
    UserData loaded = data;
    CArchive ar(bytes);
    try {
        SerializeAll(ar, loaded);
    } catch (const ArchiveError& e) {
        return {FileOutcome::kCorrupt, {}, e.what()};
    }
    for (const std::string& problem :
         {CountProblem("errorCount", loaded.errorCount, kMaxErrors),
          CountProblem("dayCount", loaded.dayCount, kMaxDays),
          CountProblem("monthCount", loaded.monthCount, kMaxMonths)}) {
        if (!problem.empty()) return {FileOutcome::kCorrupt, {}, problem};
    }
    data = loaded;
    return {};
}

std::string ResolveUserDataPath(const CYieldscopeApp& app, const std::string& path) {
    return path.empty() ? paths::Join(app.dataDir, std::string(kDefaultUserDataFile)) : path;
}

FileResult SaveUserData(const CYieldscopeApp& app, const std::string& path) {
    const std::string target = ResolveUserDataPath(app, path);
    files::WriteOutcome w = files::WriteFileAtomically(target, SerializeUserData(app.data()));
    switch (w.failure) {
        case files::WriteFailure::kNone:
            return {FileOutcome::kOk, target, {}};
        case files::WriteFailure::kCannotCreate:
            return {FileOutcome::kCannotOpen, target, w.message};
        case files::WriteFailure::kWriteError:
            return {FileOutcome::kWriteError, target, w.message};
    }
    return {FileOutcome::kWriteError, target, w.message};
}

FileResult LoadUserData(CYieldscopeApp& app, const std::string& path) {
    const std::string source = ResolveUserDataPath(app, path);
    auto bytes = files::ReadWholeFile(source);
    if (!bytes) return {FileOutcome::kCannotOpen, source, bytes.error()};
    FileResult r = DeserializeUserData(*bytes, app.data());
    r.path = source;
    return r;
}

}  // namespace ys
