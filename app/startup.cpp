#include "app/startup.h"

#include <QtGlobal>

#include "app/app_data.h"
#include "app/message_box.h"
#include "app/support_files.h"
#include "platform/paths.h"

// The resources live in a static library; this reference keeps them linked in.
static void InitResourcesOutsideNamespace() {
    Q_INIT_RESOURCE(resources);
}

namespace ys::gui {

void InitResources() {
    InitResourcesOutsideNamespace();
}

bool PrepareStartup(CYieldscopeApp& app, const std::string& programDir,
                    const std::string& dataDir) {
    app.programDir = programDir;
    app.dataDir = dataDir;
    paths::MakeDirs(dataDir, paths::kDataDirMode);
    if (auto missing = FindMissingSupportFile(programDir)) {
        MessageBox::Show(nullptr, QString::fromStdString(missing->message), ApplicationName(),
                         MsgButtons::kOk, MsgIcon::kWarning);
        return false;
    }
    return true;
}

}  // namespace ys::gui
