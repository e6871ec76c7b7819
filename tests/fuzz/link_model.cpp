#include "link_model.h"

#include <windows.h>

#include "builtin_regexp.h"
#include "com_owners.h"

namespace {

// One late-bound call; `args` last first, as DISPPARAMS wants them.
HRESULT Call(IDispatch* object, const wchar_t* member, WORD kind, VARIANT* result,
             VARIANT* args = nullptr, UINT count = 0) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {args, nullptr, count, 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr,
                        nullptr);
}

HRESULT PutBool(IDispatch* object, const wchar_t* member, bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return Call(object, member, DISPATCH_PROPERTYPUT, nullptr, &v, 1);
}

// Every character that a text of the ANSI code page can decode to, NUL aside.
std::wstring DecodableCharacters() {
  CharSet seen;
  auto decode = [&seen](const char* bytes, int length) {
    wchar_t wide[4];
    int count = MultiByteToWideChar(CP_ACP, 0, bytes, length, wide, 4);
    for (int i = 0; i < count; ++i) seen.set(wide[i]);
  };
  for (int first = 1; first < 0x100; ++first) {
    const char single = static_cast<char>(first);
    decode(&single, 1);
    for (int second = 1; first >= 0x80 && second < 0x100; ++second) {
      const char pair[2] = {static_cast<char>(first), static_cast<char>(second)};
      decode(pair, 2);
    }
  }
  seen.reset(0);
  std::wstring all;
  for (size_t c = 0; c < seen.size(); ++c)
    if (seen[c]) all += static_cast<wchar_t>(c);
  return all;
}

// Removes every character that [^\s"] matches from all decodable ones, with the options the
// program searches with: what remains ends a link.
CharSet AskEngineForStoppers() {
  CharSet stoppers;
  ComApartment apartment;
  CLSID clsid;
  ComPtr<IDispatch> engine;
  // The engine the program uses: the system's, or the program's own where the system lacks it.
  if (FAILED(CLSIDFromProgID(L"VBScript.RegExp", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(engine.put()))))
    engine.reset(CreateBuiltinRegExp());
  if (!engine) return stoppers;
  PutBool(engine.get(), L"IgnoreCase", true);
  PutBool(engine.get(), L"Multiline", false);
  PutBool(engine.get(), L"Global", true);

  UniqueBstr pattern(SysAllocString(L"[^\\s\"]"));
  VARIANT patternArg;
  VariantInit(&patternArg);
  patternArg.vt = VT_BSTR;
  patternArg.bstrVal = pattern.get();  // borrowed: the callee neither keeps nor frees it
  if (FAILED(Call(engine.get(), L"Pattern", DISPATCH_PROPERTYPUT, nullptr, &patternArg, 1)))
    return stoppers;

  const std::wstring all = DecodableCharacters();
  UniqueBstr subject(SysAllocStringLen(all.data(), static_cast<UINT>(all.size())));
  UniqueBstr nothing(SysAllocString(L""));
  VARIANT args[2];  // Replace(subject, replacement), last first
  for (VARIANT& arg : args) {
    VariantInit(&arg);
    arg.vt = VT_BSTR;
  }
  args[0].bstrVal = nothing.get();
  args[1].bstrVal = subject.get();
  UniqueVariant left;
  if (FAILED(Call(engine.get(), L"Replace", DISPATCH_METHOD, left.put(), args, 2)) ||
      left.get().vt != VT_BSTR)
    return stoppers;
  BSTR kept = left.get().bstrVal;
  for (UINT i = 0; i < SysStringLen(kept); ++i) stoppers.set(kept[i]);
  return stoppers;
}

// The range A-z of the pattern: the ASCII letters and [ \ ] ^ _ ` (the program ignores case, and
// no character outside the range folds into it).
bool IsSchemeCharacter(wchar_t c) { return c >= L'A' && c <= L'z'; }

}  // namespace

const CharSet& LinkStoppers() {
  static const CharSet stoppers = AskEngineForStoppers();
  return stoppers;
}

size_t ModelTextEnd(std::string_view bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    const unsigned char first = static_cast<unsigned char>(bytes[at]);
    if (first == 0x00 || first == 0x1A) return at;
    if (first < 0x80 || at + 1 == bytes.size()) {
      ++at;
    } else if (bytes[at + 1] == '\0') {
      return at;
    } else {
      at += 2;
    }
  }
  return bytes.size();
}

std::wstring Decode(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), length,
                                                            nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(),
                      static_cast<int>(wide.size()));
  return wide;
}

std::string Encode(std::wstring_view text) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  std::string ansi(static_cast<size_t>(WideCharToMultiByte(CP_ACP, 0, text.data(), length,
                                                           nullptr, 0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), static_cast<int>(ansi.size()),
                      nullptr, nullptr);
  return ansi;
}

// A link starts at the first character of a run of scheme characters that "://" follows (the
// search tries the leftmost start first, and every start inside the run meets the same end of
// the run) and takes everything up to a stopper. The next search starts at that stopper, which
// is no scheme character, so runs are never entered halfway.
std::vector<std::string> ModelLinks(std::string_view text) {
  const std::wstring wide = Decode(text);
  const CharSet& stoppers = LinkStoppers();
  std::vector<std::string> links;
  size_t at = 0;
  while (at < wide.size()) {
    if (!IsSchemeCharacter(wide[at])) {
      ++at;
      continue;
    }
    size_t runEnd = at;
    while (runEnd < wide.size() && IsSchemeCharacter(wide[runEnd])) ++runEnd;
    if (wide.compare(runEnd, 3, L"://") != 0) {
      at = runEnd;
      continue;
    }
    size_t end = runEnd + 3;
    while (end < wide.size() && !stoppers[wide[end]]) ++end;
    links.push_back(Encode(std::wstring_view(wide).substr(at, end - at)));
    at = end;
  }
  return links;
}
