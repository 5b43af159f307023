// The records that hold all user data: the household and installation, error events, days and
// months. Each stores and loads itself in the fixed field order of the user data file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/archive.h"

namespace ys {

class CObjBase {
public:
    virtual const char* GetRuntimeClassName() const { return "CObjBase"; }
    virtual ~CObjBase() = default;
    virtual void Serialize(CArchive& ar) { (void)ar; }

protected:
    CObjBase() = default;
    CObjBase(const CObjBase&) = default;
    CObjBase& operator=(const CObjBase&) = default;
};

constexpr int kSurfaceCount = 4;
constexpr int kModuleColumnCount = 3;

// The household and the installation. Texts are CP932 bytes.
class CUserInfo : public CObjBase {
public:
    const char* GetRuntimeClassName() const override { return "CUserInfo"; }
    void Serialize(CArchive& ar) override;

    // moduleCount is stored column by column: the four surfaces of column 1, then of column 2...
    std::int32_t& ModuleCount(int column, int surface) { return moduleCount[column * 4 + surface]; }
    std::int32_t ModuleCount(int column, int surface) const {
        return moduleCount[column * 4 + surface];
    }

    std::string name;
    std::string address;
    std::string phone;
    std::string email;
    std::int32_t regionNo = 0;
    std::string regionName;
    std::string dealerName;
    std::string dealerTel;
    std::int32_t installYear = 2000;
    std::int32_t installMonth = 1;
    double capacityKw = 0.0;
    std::int32_t detailed = 1;
    std::string pcCode;
    std::string pcProduct;
    std::string pcModel;
    double pcEfficiency = 0.0;
    std::array<double, 4> azimuth{0.0, -90.0, 90.0, 0.0};
    std::array<std::int32_t, 4> tilt{30, 30, 30, 30};
    std::array<std::int32_t, 4> booster{};
    std::array<std::int32_t, 3> moduleWatt{};
    std::array<std::int32_t, 12> moduleCount{};
    std::array<double, 4> surfaceKw{};
    std::string monitorModel;
    std::int32_t monitorImport = 0;
    std::int32_t shadeLevel = 0;
    std::string shadeText;
    std::string shadeLoss;
};

// One day or one month of generation, as the monitor unit records it.
class CGenerationRecord : public CObjBase {
public:
    void Serialize(CArchive& ar) override;

    std::int64_t date = 0;  // local midnight, seconds since 1970-01-01 UTC
    std::int16_t generation = 0;  // kWh; read as unsigned 16-bit wherever it is shown
    std::array<std::int16_t, 4> extra{};

protected:
    virtual std::uint8_t* FlagBytes() = 0;
};

class CDateResult : public CGenerationRecord {
public:
    const char* GetRuntimeClassName() const override { return "CDateResult"; }
    // Only the first five bytes reach the file; the sixth keeps what it held before a load.
    std::array<std::uint8_t, 6> flags{};

protected:
    std::uint8_t* FlagBytes() override { return flags.data(); }
};

class CMonthResult : public CGenerationRecord {
public:
    const char* GetRuntimeClassName() const override { return "CMonthResult"; }
    std::array<std::uint8_t, 5> flags{};

protected:
    std::uint8_t* FlagBytes() override { return flags.data(); }
};

// One error event of the power conditioner.
class CErrorData : public CObjBase {
public:
    const char* GetRuntimeClassName() const override { return "CErrorData"; }
    void Serialize(CArchive& ar) override;

    std::uint8_t kind = 0;  // 1 E error, 2 F error, 0x81, 0x82
    std::uint8_t code = 0;
    std::int64_t time = 0;  // local date and time, seconds 0
};

constexpr int kMaxErrors = 50;
constexpr int kMaxDays = 400;
constexpr int kMaxMonths = 60;

}  // namespace ys
