// The Windows headers, without the character-set macros whose names the framework's own
// functions share (MessageBox, LoadString, SetWindowText, ...).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#undef AppendMenu
#undef GetCurrentDirectory
#undef GetDlgItemText
#undef GetWindowText
#undef LoadIcon
#undef LookupPrivilegeValue
#undef LoadString
#undef MessageBox
#undef PostMessage
#undef SendMessage
#undef SetCurrentDirectory
#undef SetDlgItemText
#undef SetWindowText
#undef FindWindow
