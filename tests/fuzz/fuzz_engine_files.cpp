// The engine's constants file and simulation request, through their public readers. The first
// byte chooses the file: odd, the input is the constants file; even, it is the request, read
// after the shipped constants.
#include <string>

#include "engine/constants.h"
#include "engine/profile_list.h"
#include "engine/request.h"
#include "platform/atomic_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace ys;

namespace {

profile::Document g_constants;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    auto text =
        files::ReadWholeFile(std::string(YS_FUZZ_SOURCE_DIR) + "/resources/program/gencalc.ini");
    fuzz::Require(text.ok());
    g_constants = profile::Document::Parse(*text);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool constantsFile = data[0] & 1;
    const profile::Document doc = profile::Document::Parse(fuzz::Bytes(data + 1, size - 1));
    gencalc::SimulationContext ctx;
    if (constantsFile) {
        (void)gencalc::LoadConstants(ctx, doc);
        (void)gencalc::ReadProfileList("発電電力量計算", "CALENDAR", doc, ctx);
        return 0;
    }
    fuzz::Require(gencalc::LoadConstants(ctx, g_constants) == 0);
    (void)gencalc::ReadRequest(ctx, doc);
    for (const char* key : {"PV_TOTAL_KW", "NUM", "0", "LATITUDE", "SHADOW_LOSS"}) {
        const std::string v = gencalc::ReadProfileString("SYSTEM", key, "", doc);
        (void)gencalc::ParseReal(v);
        (void)gencalc::ParseListReal(v);
        (void)gencalc::ParseInteger(v);
    }
    return 0;
}
