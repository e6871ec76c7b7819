#include "random_text.h"

#include <cstdio>
#include <iterator>

namespace {

size_t Below(std::mt19937& rng, size_t bound) { return rng() % bound; }

template <class T, size_t N>
const T& PickFrom(std::mt19937& rng, const T (&items)[N]) {
  return items[Below(rng, N)];
}

constexpr char kSchemeCharacters[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz";  // the range A-z

// A second byte after a lead byte of code page 936: the ones that would end or split the text
// if read alone, the valid range 0x40-0xFE (0x7F aside), and invalid ones.
char SecondByte(std::mt19937& rng, bool mayEnd) {
  switch (Below(rng, 12)) {
    case 0: return mayEnd && Below(rng, 2) ? '\0' : '\x1A';
    case 1: return '\x1A';
    case 2: return '"';
    case 3: return '\\';
    case 4: return '|';
    case 5: return PickFrom(rng, {':', '/', ' ', '\n', '\t'});
    case 6: return static_cast<char>(0x01 + Below(rng, 0x3F));  // below 0x40: invalid
    case 7: return PickFrom(rng, {'\x7F', '\xFF'});
    default: return static_cast<char>(0x40 + Below(rng, 0xBF));
  }
}

std::string Piece(std::mt19937& rng, bool mayEnd) {
  switch (Below(rng, 26)) {
    case 0: case 1: case 2: case 3:
      return "://";
    case 22: case 23:  // any piece right before "://"
      return Piece(rng, mayEnd) + "://";
    case 4: case 5: case 6: case 7: {
      std::string run;
      for (size_t n = 1 + Below(rng, 6); n > 0; --n)
        run += kSchemeCharacters[Below(rng, sizeof kSchemeCharacters - 1)];
      return run;
    }
    case 8:
      return PickFrom(rng, {"http", "HTTPS", "ftp", "svn+ssh", "file:///", "mailto:",
                            "data:image/png;base64,", "ab:/", ":/"});
    case 9: case 10:
      return std::string(1, ":/\"-+.#?=&%<>0123456789"[Below(rng, 23)]);
    case 11: case 12:  // white space, U+3000 included
      return PickFrom(rng, {" ", "\t", "\n", "\v", "\f", "\r", "\r\n", "\xA1\xA1"});
    case 13:  // control characters that are no white space
      return std::string(1, PickFrom(rng, {'\x01', '\x08', '\x0E', '\x1B', '\x1C', '\x1D',
                                           '\x1E', '\x1F', '\x7F'}));
    case 14:
      if (mayEnd && Below(rng, 2)) return std::string(1, PickFrom(rng, {'\0', '\x1A'}));
      return "x";
    case 15: case 16: case 17: {
      std::string pair(1, static_cast<char>(0x81 + Below(rng, 0x7E)));
      return pair + SecondByte(rng, mayEnd);
    }
    case 18:  // single-byte characters above 0x7F
      return std::string(1, PickFrom(rng, {'\x80', '\xFF'}));
    case 19: case 20:  // Chinese, full-width colon and solidus among it
      return PickFrom(rng, {"书签", "链接", "，", "：", "／", "“", "”", "中文标题"});
    default:
      return Base64Run(rng, 4 + Below(rng, 60));
  }
}

}  // namespace

std::string RandomText(std::mt19937& rng, int pieces, bool mayEnd) {
  std::string text;
  for (int i = 0; i < pieces; ++i) text += Piece(rng, mayEnd);
  if (Below(rng, 16) == 0) text += static_cast<char>(0x81 + Below(rng, 0x7E));  // lone lead
  return text;
}

std::string Base64Run(std::mt19937& rng, size_t length) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string run;
  run.reserve(length + 2);
  for (size_t i = 0; i < length; ++i) run += kAlphabet[Below(rng, 64)];
  run.append(Below(rng, 3), '=');
  return run;
}

std::string RandomBookmarksFile(std::mt19937& rng, size_t size) {
  std::string file =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=GBK\">\n"
      "<TITLE>书签</TITLE>\n<H1>书签</H1>\n<DL><p>\n";
  while (file.size() < size) {
    if (Below(rng, 3) == 0) {
      file += RandomText(rng, 1 + static_cast<int>(Below(rng, 20)), false) + "\n";
      continue;
    }
    file += "    <DT><A HREF=\"";
    file += PickFrom(rng, {"http", "https", "ftp", "chrome", "edge", "javascript"});
    file += "://";
    file += RandomText(rng, 1 + static_cast<int>(Below(rng, 4)), false);
    file += "\" ADD_DATE=\"";
    file += std::to_string(rng());
    if (Below(rng, 2)) {
      file += "\" ICON=\"data:image/png;base64,";
      file += Base64Run(rng, 100 + Below(rng, 2000));
    }
    file += "\">";
    file += RandomText(rng, 1 + static_cast<int>(Below(rng, 6)), false);
    file += "</A>\n";
  }
  return file + "</DL><p>\n";
}

std::string Hex(std::string_view bytes) {
  std::string hex;
  char pair[4];
  for (unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", c);
    hex += pair;
  }
  if (!hex.empty()) hex.pop_back();
  return hex;
}
