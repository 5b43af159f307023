// The JSON input of "yieldscope-cli build": refused with a message, or turned into a file that
// the program loads and that dumps and builds again to the same bytes.
#include "app/user_data_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/cli/user_data_json.h"

using namespace ys;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::UseProgramTimeZone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = cli::UserDataFromJson(fuzz::Bytes(data, size));
    if (!parsed) {
        fuzz::Require(!parsed.error().empty());
        return 0;
    }
    const std::string bytes = SerializeUserData(parsed->data);
    UserData loaded;
    fuzz::Require(DeserializeUserData(bytes, loaded).ok());
    auto again = cli::UserDataFromJson(cli::UserDataToJson(loaded, parsed->marker));
    fuzz::Require(again.ok());
    fuzz::Require(SerializeUserData(again->data) == bytes);
    return 0;
}
