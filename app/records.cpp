#include "app/records.h"

namespace ys {

void CUserInfo::Serialize(CArchive& ar) {
    ar.Text(name);
    ar.Text(address);
    ar.Text(phone);
    ar.Text(email);
    ar.Int32(regionNo);
    ar.Text(regionName);
    ar.Text(dealerName);
    ar.Text(dealerTel);
    ar.Int32(installYear);
    ar.Int32(installMonth);
    ar.Double(capacityKw);
    ar.Int32(detailed);
    ar.Text(pcCode);
    ar.Text(pcProduct);
    ar.Text(pcModel);
    ar.Double(pcEfficiency);
    for (auto& w : moduleWatt) ar.Int32(w);
    for (int s = 0; s < kSurfaceCount; ++s) {
        ar.Double(azimuth[s]);
        ar.Int32(tilt[s]);
        ar.Int32(booster[s]);
        for (int c = 0; c < kModuleColumnCount; ++c) ar.Int32(ModuleCount(c, s));
        ar.Double(surfaceKw[s]);
    }
    ar.Text(monitorModel);
    ar.Int32(monitorImport);
    ar.Int32(shadeLevel);
    ar.Text(shadeText);
    ar.Text(shadeLoss);
}

void CGenerationRecord::Serialize(CArchive& ar) {
    ar.Int64(date);
    ar.Int16(generation);
    for (auto& e : extra) ar.Int16(e);
    std::uint8_t* flags = FlagBytes();
    for (int i = 0; i < 5; ++i) ar.Int8(flags[i]);
}

void CErrorData::Serialize(CArchive& ar) {
    ar.Int8(kind);
    ar.Int8(code);
    ar.Int64(time);
}

}  // namespace ys
