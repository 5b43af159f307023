#include "tools/qtxportd/portd_config.h"

#include <cstdio>
#include <optional>

#include "platform/number.h"
#include "platform/profile.h"

namespace ys::portd {
namespace {

// Registry values are 32-bit: "-1" is stored as 0xFFFFFFFF, as the registry editor would.
bool ParseDword(std::string_view text, std::uint32_t& out) {
    text = profile::TrimBlanks(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    bool negative = false;
    if (base == 10 && !text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const std::optional<std::uint64_t> parsed = ParseNumber<std::uint64_t>(text, base);
    if (!parsed) return false;
    const std::uint64_t v = *parsed;
    if (negative ? v > 0x80000000ULL : v > 0xFFFFFFFFULL) return false;
    out = static_cast<std::uint32_t>(negative ? (0x100000000ULL - v) & 0xFFFFFFFFULL : v);
    return true;
}

bool ParseId(std::string_view text, std::uint16_t& out) {
    text = profile::TrimBlanks(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    const std::optional<unsigned> v = ParseNumber<unsigned>(text, 16);
    if (!v || text.size() > 4) return false;
    out = static_cast<std::uint16_t>(*v);
    return true;
}

}  // namespace

std::string PortdConfig::InstanceId(const std::string& serial) const {
    char head[32];
    std::snprintf(head, sizeof head, "USB\\VID_%04X&PID_%04X\\", vendorId, productId);
    return head + serial;
}

Result<PortdConfig> LoadConfig(const std::string& path) {
    const profile::Document doc = profile::Document::Load(path);
    if (!doc.exists()) return Error{path + ": cannot read the configuration file"};
    auto bad = [&](std::string_view section, std::string_view key, std::string_view what) {
        return Error{path + ": [" + std::string(section) + "] " + std::string(key) + " " +
                     std::string(what)};
    };

    PortdConfig c;
    for (auto [key, id] : {std::pair{"VendorId", &c.vendorId}, {"ProductId", &c.productId}}) {
        const auto v = doc.Find("Device", key);
        if (!v) return bad("Device", key, "is missing");
        if (!ParseId(*v, *id)) return bad("Device", key, "must be four hexadecimal digits");
    }

    auto take = [&](const char* section, const char* key) -> Status {
        const auto v = doc.Find(section, key);
        if (!v) return {};
        std::uint32_t dword = 0;
        if (!ParseDword(*v, dword)) return bad(section, key, "must be a 32-bit number");
        c.dwords.emplace_back(key, dword);
        return {};
    };
    for (const char* key : kPipeDriverValues) {
        if (Status s = take("qtxusb64", key); !s) return Error{s.error()};
    }
    for (int ep = 0; ep < 16; ++ep) {
        const std::string key = "EP" + std::to_string(ep) + "_SegmentSize";
        if (Status s = take("qtxusb64", key.c_str()); !s) return Error{s.error()};
    }
    for (const char* key : kSerialDriverValues) {
        if (Status s = take("qtxvcom64", key); !s) return Error{s.error()};
    }

    const auto port = doc.Find("qtxvcom64", "PortName");
    if (!port) return bad("qtxvcom64", "PortName", "is missing");
    const std::string_view name = *port;
    const bool com = name.size() > 3 && profile::EqualsAsciiNoCase(name.substr(0, 3), "COM");
    const std::optional<int> n = com ? ParseNumber<int>(name.substr(3)) : std::nullopt;
    if (!n || *n < 1 || *n > 255 || name[3] == '0') {
        return bad("qtxvcom64", "PortName", "must be COM1 to COM255");
    }
    const int portNo = *n;
    c.portNo = portNo;
    c.portName = "COM" + std::to_string(portNo);
    c.strings.emplace_back("PortName", c.portName);
    return c;
}

}  // namespace ys::portd
