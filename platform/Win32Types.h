// The Win32 base types and the few macros every seam shares.
//
// On Windows this is <windows.h>, included the one way the program does.
// Elsewhere it declares the same names, so that the serial subset
// (Win32Api.h) and the dialog layer's user32 subset (app/ui/UiApi.h) build on
// one set of definitions.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // !_WIN32

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

typedef std::uint32_t DWORD;
typedef int BOOL;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef unsigned int UINT;
typedef long LONG;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef std::uintptr_t ULONG_PTR;

#define TRUE 1
#define FALSE 0

#endif  // !_WIN32
