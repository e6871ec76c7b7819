#pragma once
// A reference for what the program should find in a bookmarks file, written apart from the
// program's code: where the file reader ends the text, then the link search over the text as the
// engine sees it (decoded from the ANSI code page to UTF-16), with the links encoded back.
#include <bitset>
#include <string>
#include <string_view>
#include <vector>

using CharSet = std::bitset<0x10000>;

// The characters that end a link: those that the system's "VBScript.RegExp", with the program's
// options, keeps out of [^\s"], among every character that ANSI text can decode to. Asked of the
// engine itself, since \s differs between engines; Wine's answers tab, LF, VT, FF, CR, space,
// U+3000 (A1 A1 in code page 936) and the double quote. Empty when the engine is missing.
const CharSet& LinkStoppers();

// Where the file reader ends the text of `bytes`: at the first 0x00 or 0x1A, where a byte from
// 0x80 up takes the next byte with it, and a pair whose second byte is 0x00 ends before its first.
size_t ModelTextEnd(std::string_view bytes);

// The links in the ANSI text `text` (already ended), in order, each encoded back to ANSI.
std::vector<std::string> ModelLinks(std::string_view text);

// The ANSI code page's view of `text`, and back.
std::wstring Decode(std::string_view text);
std::string Encode(std::wstring_view text);
