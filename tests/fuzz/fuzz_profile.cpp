// The INI profile layer with its code pages: parse, find, write, serialise and reload. A value
// that was written must read back, and every line the write did not touch must stay.
#include <string>

#include "platform/profile.h"
#include "tests/fuzz/fuzz_support.h"

using namespace ys;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    profile::Document doc = profile::Document::Parse(fuzz::Bytes(data, size));
    for (const char* section : {"S", "影の影響", "PC", "LINES"}) {
        for (const char* key : {"k", "NUM", "0", "name"}) {
            if (auto v = doc.Find(section, key)) (void)profile::ParseProfileInt(*v);
        }
    }
    const std::string before = doc.Serialize();
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } writes[] = {{"S", "k", "v"}, {"新しい節", "キー", "値=1,2"}};
    for (const auto& w : writes) {
        if (!doc.Set(w.section, w.key, w.value)) continue;
        const profile::Document reloaded = profile::Document::Parse(doc.Serialize());
        auto back = reloaded.Find(w.section, w.key);
        fuzz::Require(back && *back == w.value);
    }
    // A document that was not written serialises to its own bytes.
    fuzz::Require(profile::Document::Parse(before).Serialize() == before);
    return 0;
}
