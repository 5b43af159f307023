#include <cstdio>
#include <cstring>
#include <iostream>

#include "app/user_data_file.h"
#include "platform/atomic_file.h"
#include "tools/cli/commands.h"
#include "tools/cli/user_data_json.h"

namespace ys::cli {

int CmdDump(const Context&, Args args) {
    if (args.size() != 1) {
        PrintError("usage: yieldscope-cli dump FILE.sol");
        return kExitUsage;
    }
    const std::string& path = args[0];
    // Only what can be a user data file is read: no FIFO, device or folder, nothing larger.
    files::ReadOutcome in = files::ReadRegularFile(path, kMaxUserDataFileBytes);
    switch (in.failure) {
        case files::ReadFailure::kNone:
            break;
        case files::ReadFailure::kNotRegular:
            PrintError(path + ": not a regular file");
            return kExitFailure;
        case files::ReadFailure::kTooLarge:
            PrintError(path + ": " + std::to_string(in.size) +
                       " bytes is larger than a user data file can be (" +
                       std::to_string(kMaxUserDataFileBytes) + ")");
            return kExitFailure;
        default:
            PrintError(path + ": cannot open: " + in.message);
            return kExitFailure;
    }
    UserData data;
    FileResult r = DeserializeUserData(in.bytes, data);
    if (!r.ok()) {
        PrintError(path + ": not a valid user data file: " + r.technical);
        return kExitFailure;
    }
    std::int32_t marker = 0;
    std::memcpy(&marker, in.bytes.data(), sizeof marker);
    std::cout << UserDataToJson(data, marker);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailure;
}

int CmdBuild(const Context&, Args args) {
    if (args.size() != 2) {
        PrintError("usage: yieldscope-cli build FILE.json OUT.sol");
        return kExitUsage;
    }
    // Generous for escaped texts, but bounded: the whole document is held in memory.
    constexpr std::uint64_t kMaxJsonBytes = 64ull << 20;
    files::ReadOutcome text = files::ReadRegularFile(args[0], kMaxJsonBytes);
    if (!text.ok()) {
        PrintError(args[0] + ": cannot read: " +
                   (text.failure == files::ReadFailure::kNotRegular
                        ? std::string("not a regular file")
                        : text.message));
        return kExitFailure;
    }
    auto parsed = UserDataFromJson(text.bytes);
    if (!parsed) {
        PrintError(args[0] + ": " + parsed.error());
        return kExitFailure;
    }
    std::string bytes = SerializeUserData(parsed->data);
    std::memcpy(bytes.data(), &parsed->marker, sizeof parsed->marker);
    files::WriteOutcome w = files::WriteFileAtomically(args[1], bytes, 0600);
    if (!w.ok()) {
        PrintError(args[1] + ": cannot write: " + w.message);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace ys::cli
