// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engine_state.h"

EngineState engineState;
