#pragma once
// The TAR image built into the executable: game headers and vehicle colour tables.

#include <cstdint>
#include <span>

std::span<const uint8_t> GetBuiltinArchive();
