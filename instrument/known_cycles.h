// SPDX-License-Identifier: GPL-3.0-or-later
// Key mode's cycles of the factory bank's settings and of the start-up settings, measured by
// measureCycle when the instrument was built (measure_known_cycles.cpp writes them), so that a
// factory sound plays in tune from its first sample whenever a host sets its controls.
#pragma once

#include <span>

#include "engine/nonblocking.h"
#include "engine/pitch_cycle.h"

std::span<const KnownCycle> knownCycles() noexcept QUILLFERN_NONBLOCKING;
