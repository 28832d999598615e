// Operating-system services the system's code needs, one function each.
#pragma once

#include <cstddef>
#include <string>

namespace framework {

// The separator of the paths this platform builds and splits ('\\' on Windows, '/' elsewhere).
char PathSeparator();

// The full path of the program file, at most size - 1 bytes (cut there); false on failure.
bool GetModulePath(char* buffer, std::size_t size);

}  // namespace framework
