#pragma once
#include <windows.h>

#include <string>
#include <string_view>

// Replaces the file at `path` with `bytes` so that the old file stays whole until every new byte
// is on disk: the bytes go to a temporary file in the same folder, which then takes the old
// file's place in one step. An existing file that is read-only, hidden or a system file, or that
// another program holds open, is not replaced. ERROR_SUCCESS, or the reason of the failure.
DWORD ReplaceFileContents(const std::string& path, std::string_view bytes);
