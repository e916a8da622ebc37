// The Windows API for the few places that call it, without what its headers
// define away.
#pragma once

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef GetMessage // a macro there, and the name of the readers' operation
#endif
