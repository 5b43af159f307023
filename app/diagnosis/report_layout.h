// The one-page diagnosis report as positions and texts in the device units of the page, so that
// the printer, the PDF writer and the tests all work from the same arithmetic.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/app_data.h"
#include "app/diagnosis/verdict.h"

namespace ys {

struct ReportText {
    int x = 0;  // top-left corner of the text
    int y = 0;
    int size = 0;        // nominal size of the item
    int cellHeight = 0;  // font cell height in device units: trunc(m * size)
    std::string text;    // UTF-8
};

struct ReportLayout {
    int width = 0;  // printable area in device units
    int height = 0;
    int left = 0;
    int indent = 0;
    int step = 0;    // line pitch
    double m = 0.0;  // chart and font scale

    // The chart's frame (right and bottom inclusive as given to the rectangle call) and the
    // chart drawn into it with `m` as its scale.
    int frameLeft = 0;
    int frameTop = 0;
    int frameRight = 0;
    int frameBottom = 0;
    int chartOriginX = 0;
    int chartOriginY = 0;

    std::vector<ReportText> texts;  // in drawing order
};

// The report's face: a fixed-pitch gothic, so that the header and the surface rows line up.
inline constexpr const char* kReportFontFace = "ＭＳ ゴシック";
inline constexpr const char* kReportDocumentName = "ヘリオミル結果";

// The name a page printed to a file is proposed under: "<document>_YYYYMMDD.pdf" (local date),
// e.g. "ヘリオミル結果_20261208.pdf".
std::string DatedPdfName(std::string_view document, std::int64_t today);

ReportLayout LayoutDiagnosisReport(int width, int height, const UserData& data, Verdict verdict);

}  // namespace ys
