// The user data file loader, and everything that works on a loaded record: the file must save
// and reload to the same bytes, its JSON dump must build the same file, and the pages' logic
// must take it without undefined behaviour.
#include "app/app_data.h"
#include "app/diagnosis/comparison_chart.h"
#include "app/diagnosis/report_layout.h"
#include "app/diagnosis/verdict.h"
#include "app/local_time.h"
#include "app/monitor/result_input.h"
#include "app/user_data_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/cli/user_data_json.h"

using namespace ys;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::UseProgramTimeZone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxUserDataFileBytes) return 0;  // refused before reading
    UserData d;
    FileResult r = DeserializeUserData(fuzz::Bytes(data, size), d);
    if (!r.ok()) {
        fuzz::Require(!r.UserMessage().empty());
        return 0;
    }
    const std::string saved = SerializeUserData(d);
    UserData back;
    fuzz::Require(DeserializeUserData(saved, back).ok());
    fuzz::Require(SerializeUserData(back) == saved);

    auto parsed = cli::UserDataFromJson(cli::UserDataToJson(d, 1));
    fuzz::Require(parsed.ok());
    fuzz::Require(SerializeUserData(parsed->data) == saved);

    const DiagnosisResult diagnosis = Diagnose(d);
    (void)BuildComparisonChart(d);
    (void)VerdictAreaLines(d.userInfo, diagnosis.verdict);
    (void)LayoutDiagnosisReport(2480, 3508, d, diagnosis.verdict);
    const std::int64_t today = MakeLocalTime(2026, 12, 8);
    (void)monitor::BuildYearList(d.userInfo.installYear, ToLocal(today).year);
    RebuildMonthTable(d, today);
    fuzz::Require(d.monthCount >= 0 && d.monthCount <= kMaxMonths);
    return 0;
}
