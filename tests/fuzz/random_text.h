#pragma once
// Seeded random ANSI texts (code page 936) made of what matters to the link search and to where
// the file reader ends the text. Only the raw numbers of std::mt19937 are used, whose sequence the
// standard fixes, so a seed gives the same text with every compiler.
#include <random>
#include <string>
#include <string_view>

// `pieces` pieces: scheme characters, "://", separators, every kind of white space, lead bytes of
// code page 936 with every kind of second byte, icon-like base64, and (when `mayEnd`) the bytes
// that end a text: 0x00, 0x1A and a lead byte before 0x00.
std::string RandomText(std::mt19937& rng, int pieces, bool mayEnd);

// `length` characters of base64, as in the icons that browsers embed in their bookmark files.
std::string Base64Run(std::mt19937& rng, size_t length);

// An exported bookmarks file of about `size` bytes: bookmark lines with icons and random titles,
// between lines of random text.
std::string RandomBookmarksFile(std::mt19937& rng, size_t size);

// `bytes` as hexadecimal pairs, for replaying a failure.
std::string Hex(std::string_view bytes);
