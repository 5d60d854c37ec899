// The settings registry moved to base/env, beneath logging; this name stays
// for code not moved yet.
#pragma once

#include "base/env/EnvVar.h"
