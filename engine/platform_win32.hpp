#pragma once

// The Windows side's own helpers, for the front ends' Windows seams.
#include <windows.h>

#include <string>

#include "engine/platform.hpp"

namespace tavrin {

inline HANDLE handleOf(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

inline FileHandle fileOf(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

// Names are UTF-8 inside the program and UTF-16 for Windows.
std::string utf8(const wchar_t* text);

}  // namespace tavrin
