// Wide-character literals that are WCHAR strings on every build.
//
// Windows: WCHAR is wchar_t (16 bits), so W("x") is L"x".
// The Linux build runs on our Win32 layer, where wchar_t is 32 bits and
// WCHAR is char16_t; there W("x") is u"x". Product code writes every wide
// literal through this one macro and never uses the C library's wcs*
// functions, which would see the wrong character width.
#pragma once

#if defined(_WIN32)
#define W(s) L##s
#else
#define W(s) u##s
#endif
