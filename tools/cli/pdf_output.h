// The one-page PDFs of yieldscope-cli (the diagnosis report, the weather comparison): drawn
// offscreen at printer resolution in the report's fonts, written atomically.
#pragma once

#include <QPageLayout>
#include <functional>
#include <string>
#include <string_view>

class QPdfWriter;

namespace ys::cli {

// Draws the page with `paint` (false: it could not be drawn) and writes it to `path`. Returns the
// tool's exit code; `what` names the page in the error ("the report could not be drawn").
int WriteOnePagePdf(const std::string& path, std::string_view title, const QPageLayout& layout,
                    std::string_view what, const std::function<bool(QPdfWriter&)>& paint);

}  // namespace ys::cli
