#pragma once
// The program's own regular-expression object, for Windows machines where "VBScript.RegExp" is
// missing (VBScript is an optional, deprecated Windows feature). It answers the same late-bound
// calls as the system object, so the matcher drives both the same way.
#include <oaidl.h>

// A new regular-expression object with one reference, or nullptr when memory runs out.
IDispatch* CreateBuiltinRegExp();
