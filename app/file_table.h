// The files the repair restores: the same relative name is the entry path in
// the archive and the path below the installation directory.
#pragma once

#include <cstdint>

constexpr uint32_t kFileTableSlotSize = 64;

// Names of at most 63 bytes, each zero-padded to its slot; an empty slot ends
// the table. Generated at build time from file_table.txt.
extern const char RepairFileTable[][kFileTableSlotSize];
