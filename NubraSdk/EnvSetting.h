// The library's limits from the environment follow the programs' one rule
// (win/EnvLimit.h): they can only shorten, never below a floor.
#pragma once

#include "win/EnvLimit.h"

namespace nubra {

using ::ClampedLimit;
using ::EnvironmentLimit;

}  // namespace nubra
