// Owners for the Win32 handles the widget holds. Included by *_win.cpp files only.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "win32/unique_handle.h"

namespace stormtally {

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle empty() { return nullptr; }
  static bool isValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Handle h) { ::CloseHandle(h); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle empty() { return nullptr; }
  static bool isValid(Handle h) { return h != nullptr; }
  static void close(Handle h) { ::DeleteObject(h); }
};

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle empty() { return nullptr; }
  static bool isValid(Handle h) { return h != nullptr; }
  static void close(Handle h) { ::WinHttpCloseHandle(h); }
};

struct WindowTraits {
  using Handle = HWND;
  static Handle empty() { return nullptr; }
  static bool isValid(Handle h) { return h != nullptr; }
  static void close(Handle h) { ::DestroyWindow(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueInternet = UniqueHandle<InternetTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;  // a window of the widget's own, not the main one

}  // namespace stormtally
