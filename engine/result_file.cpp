#include "engine/result_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ys::gencalc {
namespace {

std::string MonthKey(int month) {
    return std::to_string(month) + "M";
}

void Put(ys::profile::Document& doc, std::string_view section, std::string_view key,
         std::string_view value) {
    // Every value is ASCII or one of the two INFO texts, all of which CP932 holds.
    Status s = doc.Set(section, key, value);
    (void)s;
}

// Truncated toward zero; the caller has checked the range, this only keeps the cast defined.
std::int32_t TruncatedKwh(double kwh) {
    if (!(kwh > -2147483649.0)) return kwh < 0 ? INT32_MIN : 0;
    if (kwh >= 2147483648.0) return INT32_MAX;
    return static_cast<std::int32_t>(std::trunc(kwh));
}

std::string SystemError(const std::string& path, int err) {
    return path + ": " + std::strerror(err);
}

// Temporary file and rename, so the GUI never finds a half-written result, but no sync: the file
// is made afresh by every run and read at once, and two disk flushes would take longer than the
// whole run.
Status WriteWithoutSync(const std::string& path, std::string_view bytes) {
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return Error{SystemError(tmp, errno)};
    std::size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        return Error{SystemError(path, err)};
    }
    return {};
}

}  // namespace

std::string FormatHourly(double kwh) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, kwh, std::chars_format::fixed, 2);
    if (r.ec != std::errc()) return "0.00";
    return std::string(buf, r.ptr);
}

ys::profile::Document BuildResultDocument(const SimulationContext& ctx) {
    ys::profile::Document doc;
    for (int m = 1; m <= kMonths; ++m) {
        const double total = ctx.totalMonthly[static_cast<std::size_t>(m - 1)];
        Put(doc, "MONTHLY_RESULT", MonthKey(m), std::to_string(TruncatedKwh(total)));
    }
    for (int m = 1; m <= kMonths; ++m) {
        std::string value;
        for (double kwh : ctx.totalHourly[static_cast<std::size_t>(m - 1)]) {
            if (!value.empty()) value += ',';
            value += FormatHourly(kwh);
        }
        Put(doc, "HOURLY_RESULT", MonthKey(m), value);
    }
    for (int k = 0; k < ctx.pcCount && k < kMaxPowerConditioners; ++k) {
        Put(doc, "INFO", "POWER_CON" + std::to_string(k + 1),
            ctx.mixedOrientation[static_cast<std::size_t>(k)] ? "異方位あり" : "異方位なし");
    }
    return doc;
}

Status WriteResult(const SimulationContext& ctx, const std::string& path) {
    const std::string bytes = BuildResultDocument(ctx).Serialize();
    // unlink, not remove: a directory of that name must not go.
    ::unlink(path.c_str());
    return WriteWithoutSync(path, bytes);
}

}  // namespace ys::gencalc
