#include "app/support_files.h"

#include "platform/atomic_file.h"
#include "platform/paths.h"

namespace ys {

std::optional<MissingSupportFile> FindMissingSupportFile(const std::string& programDir) {
    for (std::string_view file : kSupportFiles) {
        if (!files::FileExists(paths::Join(programDir, std::string(file)))) {
            return MissingSupportFile{std::string(file),
                                      "ファイルが見つかりません。(" + std::string(file) + ")"};
        }
    }
    return std::nullopt;
}

}  // namespace ys
