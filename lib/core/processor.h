// Processor-type detection beyond the exported flag functions of hvb.h.
#pragma once

#include <cstdint>

#include "core/hvb.h"

// Runs processor detection and returns what it found, without touching the
// enabled flags.
uint32_t DetectProcessorTypes();
