#pragma once
// Free space as the installer asks for it: the bytes the calling user may
// still write on the volume that holds a path.
//
// Threads: any; no state.

#include <cstdint>
#include <string>

// Free bytes for the caller on the volume of `path`, which need not exist yet
// (its nearest existing ancestor lies on the same volume); false when the
// system cannot tell.
bool QueryFreeBytes(const std::wstring& path, uint64_t* bytes);
