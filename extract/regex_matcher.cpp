#include "regex_matcher.h"

#include <climits>
#include <iterator>
#include <cmath>
#include <new>
#include <utility>

#include "builtin_regexp.h"

namespace {

// ---- conversions between ANSI Texts and automation values ----

UniqueBstr ToBstr(std::string_view text) {
  if (text.size() > INT_MAX) return UniqueBstr();
  int length = static_cast<int>(text.size());
  int wideLength =
      length ? MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0) : 0;
  if (length && !wideLength) return UniqueBstr();
  UniqueBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wideLength)));
  if (!result.get()) return result;
  if (wideLength) MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.get(), wideLength);
  return result;
}

std::string ToText(const VARIANT& value) {
  UniqueVariant asString;
  if (FAILED(VariantChangeType(asString.put(), const_cast<VARIANT*>(&value), 0, VT_BSTR))) return std::string();
  BSTR wide = asString.get().bstrVal;
  int wideLength = static_cast<int>(SysStringLen(wide));
  if (!wideLength) return std::string();
  int length = WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
  if (!length) return std::string();
  try {
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, wideLength, text.data(), length, nullptr, nullptr);
    return text;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

int ToNumber(const VARIANT& value) {
  UniqueVariant asDouble;
  if (FAILED(VariantChangeType(asDouble.put(), const_cast<VARIANT*>(&value), 0, VT_R8))) return 0;
  double number = std::trunc(asDouble.get().dblVal);
  if (std::isnan(number)) return 0;
  if (number <= INT_MIN) return INT_MIN;
  if (number >= INT_MAX) return INT_MAX;
  return static_cast<int>(number);
}

VARIANT EmptyArg(VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  return v;
}

VARIANT BoolArg(bool value) {
  VARIANT v = EmptyArg(VT_BOOL);
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT NumberArg(double value) {
  VARIANT v = EmptyArg(VT_R8);
  v.dblVal = value;
  return v;
}

VARIANT IntArg(LONG value) {
  VARIANT v = EmptyArg(VT_I4);
  v.lVal = value;
  return v;
}

// A string argument borrowed from its owner: DISPPARAMS arguments are in-parameters that the
// callee neither keeps nor frees, so even a subject of many megabytes is passed without a copy.
VARIANT BorrowedStringArg(BSTR value) {
  VARIANT v = EmptyArg(VT_BSTR);
  v.bstrVal = value;
  return v;
}

// ---- late-bound calls: the member is looked up by name at every call ----

class ExcepInfo {
 public:
  ExcepInfo() : info_() {}
  ~ExcepInfo() {
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  EXCEPINFO* get() { return &info_; }

 private:
  EXCEPINFO info_;
};

// `args` in the order of the member's parameters (reversed here, as DISPPARAMS wants them).
HRESULT Call(IUnknown* object, const wchar_t* member, WORD kind, VARIANT* result,
             std::initializer_list<VARIANT> args = {}) {
  if (!object) return E_POINTER;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.put()));
  if (FAILED(hr)) return hr;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;

  VARIANT reversed[2];
  UINT count = 0;
  for (auto it = std::rbegin(args); it != std::rend(args) && count < 2; ++it)
    reversed[count++] = *it;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {count ? reversed : nullptr, nullptr, count, 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  ExcepInfo exception;
  UINT badArg = 0;
  return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result,
                          exception.get(), &badArg);
}

constexpr WORD kGet = DISPATCH_PROPERTYGET | DISPATCH_METHOD;

void Put(IUnknown* object, const wchar_t* member, VARIANT value) {
  Call(object, member, DISPATCH_PROPERTYPUT, nullptr, {value});
}

ComPtr<IUnknown> GetObject(IUnknown* object, const wchar_t* member,
                           std::initializer_list<VARIANT> args = {}) {
  UniqueVariant value;
  ComPtr<IUnknown> result;
  if (FAILED(Call(object, member, kGet, value.put(), args))) return result;
  const VARIANT& v = value.get();
  IUnknown* unknown = v.vt == VT_DISPATCH ? v.pdispVal : v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
  if (unknown) unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(result.put()));
  return result;
}

std::string GetText(IUnknown* object, const wchar_t* member,
                    std::initializer_list<VARIANT> args = {}) {
  UniqueVariant value;
  if (FAILED(Call(object, member, kGet, value.put(), args))) return std::string();
  return ToText(value.get());
}

int GetNumber(IUnknown* object, const wchar_t* member) {
  UniqueVariant value;
  if (FAILED(Call(object, member, kGet, value.put()))) return 0;
  return ToNumber(value.get());
}

// The program's own object: linear in time and memory for every subject.
ComPtr<IUnknown> MakeBuiltinEngine() {
  ComPtr<IDispatch> builtin(CreateBuiltinRegExp());
  return builtin.query<IUnknown>();
}

// `fromSystem` tells which one it is.
ComPtr<IUnknown> MakeEngine(bool& fromSystem) {
  // Looking for a missing class costs a registry and DLL search each time; it stays missing for
  // the rest of the run.
  static bool systemEngineMissing = false;
  ComPtr<IUnknown> engine;
  CLSID clsid;
  if (!systemEngineMissing &&
      SUCCEEDED(CLSIDFromProgID(L"VBScript.RegExp", &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(engine.put())))) {
    fromSystem = true;
    return engine;
  }
  systemEngineMissing = true;
  fromSystem = false;
  // VBScript is an optional Windows feature that may be absent: the program's own object answers
  // the same calls.
  return MakeBuiltinEngine();
}

}  // namespace

std::string ExpandQuoteMarkers(std::string_view pattern) {
  static constexpr std::string_view kMarker = "#引号";
  std::string expanded;
  expanded.reserve(pattern.size());
  for (size_t i = 0; i < pattern.size();) {
    if (pattern.compare(i, kMarker.size(), kMarker) == 0) {
      expanded += '"';
      i += kMarker.size();
    } else if (static_cast<unsigned char>(pattern[i]) >= 0x80 && i + 1 < pattern.size()) {
      expanded.append(pattern, i, 2);  // a double-byte character: its trail byte starts nothing
      i += 2;
    } else {
      expanded += pattern[i++];
    }
  }
  return expanded;
}

RegexMatcher::RegexMatcher() { subjectValue.put()->vt = VT_I4; }

RegexMatcher::~RegexMatcher() {
  engine.reset();
  matches.reset();
  subjectValue.reset();
}  // then apartment_ ends the COM initialisation

bool RegexMatcher::Create(std::string_view pattern, std::string_view subject, bool caseSensitive,
                          bool multiline, bool global, bool expandQuotes,
                          LinearSearchTest needsLinearSearch) {
  engine.reset();
  matches.reset();
  std::string patternText;
  try {
    patternText = expandQuotes ? ExpandQuoteMarkers(pattern) : std::string(pattern);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const UniqueBstr patternValue = ToBstr(patternText);
  auto setUp = [&](ComPtr<IUnknown> made) {
    engine = std::move(made);
    Put(engine.get(), L"IgnoreCase", BoolArg(!caseSensitive));
    Put(engine.get(), L"Multiline", BoolArg(multiline));
    Put(engine.get(), L"Singleline", BoolArg(true));
    Put(engine.get(), L"Global", BoolArg(global));
    if (patternValue.get()) Put(engine.get(), L"Pattern", BorrowedStringArg(patternValue.get()));
  };
  bool systemEngine = false;
  setUp(MakeEngine(systemEngine));

  // Without room for the subject there is nothing honest to search: no match collection.
  UniqueBstr subjectString = ToBstr(subject);
  VARIANT* slot = subjectValue.put();
  if (!subjectString.get()) return false;
  if (systemEngine && needsLinearSearch &&
      needsLinearSearch(std::wstring_view(subjectString.get(), SysStringLen(subjectString.get()))))
    setUp(MakeBuiltinEngine());
  slot->vt = VT_BSTR;
  slot->bstrVal = subjectString.release();
  matches = GetObject(engine.get(), L"Execute", {BorrowedStringArg(slot->bstrVal)});
  return static_cast<bool>(matches);
}

std::string RegexMatcher::GetPattern() const { return GetText(engine.get(), L"Pattern"); }

std::string RegexMatcher::Replace(std::string_view replacement) const {
  if (!engine || subjectValue.get().vt != VT_BSTR) return std::string();
  UniqueBstr replacementValue = ToBstr(replacement);
  if (!replacementValue.get()) return std::string();
  return GetText(engine.get(), L"Replace",
                 {BorrowedStringArg(subjectValue.get().bstrVal),
                  BorrowedStringArg(replacementValue.get())});
}

int RegexMatcher::GetMatchCount() const {
  return matches ? GetNumber(matches.get(), L"Count") : 0;
}

std::string RegexMatcher::GetMatchText(int matchIndex) const {
  ComPtr<IUnknown> match = GetObject(matches.get(), L"Item", {NumberArg(matchIndex - 1.0)});
  return GetText(match.get(), L"Value");
}

std::string RegexMatcher::GetSubMatchText(int matchIndex, int groupIndex) const {
  ComPtr<IUnknown> match = GetObject(matches.get(), L"Item", {NumberArg(matchIndex - 1.0)});
  ComPtr<IUnknown> groups = GetObject(match.get(), L"SubMatches");
  return GetText(groups.get(), L"Item", {NumberArg(groupIndex - 1.0)});
}

int RegexMatcher::GetSubMatchCount() const {
  ComPtr<IUnknown> match = GetObject(matches.get(), L"Item", {IntArg(0)});
  ComPtr<IUnknown> groups = GetObject(match.get(), L"SubMatches");
  return GetNumber(groups.get(), L"Count");
}
