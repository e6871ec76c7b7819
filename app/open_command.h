#pragma once
#include <string>
#include <string_view>

// The bytes of the file at `path` as an ANSI text: up to the first 0x00 or 0x1A that is not the
// second byte of a double-byte character. Empty when the file cannot be opened, read or held in
// memory.
std::string ReadBookmarksText(const char* path);
// `bytes` cut where the text ends (see ReadBookmarksText).
size_t TextLength(std::string_view bytes);
