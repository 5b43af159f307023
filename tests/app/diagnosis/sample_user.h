// A realistic household for the diagnosis tests: four roof surfaces, a simulation result and
// fifteen months of generation scaled so that the last twelve give the wanted ratio.
#pragma once

#include <initializer_list>

#include "app/app_data.h"

namespace ys::test {

// Fills `months` with one record per month from year/month on, oldest first.
void SetMonths(UserData& data, int year, int month, std::initializer_list<int> generation);

// Fifteen months from October 2024 to December 2025; real generation = ratio x simulation.
void MakeSampleUser(UserData& data, double ratio);

}  // namespace ys::test
