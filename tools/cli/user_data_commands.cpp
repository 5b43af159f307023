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
    auto bytes = files::ReadWholeFile(path);
    if (!bytes) {
        PrintError(path + ": cannot open: " + bytes.error());
        return kExitFailure;
    }
    UserData data;
    FileResult r = DeserializeUserData(*bytes, data);
    if (!r.ok()) {
        PrintError(path + ": not a valid user data file: " + r.detail);
        return kExitFailure;
    }
    std::int32_t marker = 0;
    std::memcpy(&marker, bytes->data(), sizeof marker);
    std::cout << UserDataToJson(data, marker);
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailure;
}

int CmdBuild(const Context&, Args args) {
    if (args.size() != 2) {
        PrintError("usage: yieldscope-cli build FILE.json OUT.sol");
        return kExitUsage;
    }
    auto text = files::ReadWholeFile(args[0]);
    if (!text) {
        PrintError(args[0] + ": cannot open: " + text.error());
        return kExitFailure;
    }
    auto parsed = UserDataFromJson(*text);
    if (!parsed) {
        PrintError(args[0] + ": " + parsed.error());
        return kExitFailure;
    }
    std::string bytes = SerializeUserData(parsed->data);
    std::memcpy(bytes.data(), &parsed->marker, sizeof parsed->marker);
    files::WriteOutcome w = files::WriteFileAtomically(args[1], bytes);
    if (!w.ok()) {
        PrintError(args[1] + ": cannot write: " + w.message);
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace ys::cli
