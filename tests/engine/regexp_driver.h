#pragma once
// Drives a regular-expression object - the system's "VBScript.RegExp" or the built-in one -
// through late-bound IDispatch calls only, so that both answer exactly the same questions.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace regexp_driver {

template <class T>
class Ref {  // owns one reference
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() { return &p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Variant {  // owns one VARIANT
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&v_); }
  VARIANT* put() {
    VariantClear(&v_);
    return &v_;
  }
  const VARIANT& get() const { return v_; }
  VARIANT* operator->() { return &v_; }

 private:
  VARIANT v_;
};

inline VARIANT Text(std::wstring_view text) {  // the caller's VARIANT owns the new BSTR
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}
inline VARIANT Bool(bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
inline VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}
inline VARIANT Double(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

struct CallResult {
  HRESULT hr = E_FAIL;
  SCODE scode = S_OK;  // the cause when hr is DISP_E_EXCEPTION
};

// Calls member `name` with the arguments in natural order (they are reversed for DISPPARAMS
// and cleared afterwards).
inline CallResult Call(IDispatch* object, const wchar_t* name, WORD flags,
                       std::initializer_list<VARIANT> args, VARIANT* result) {
  std::vector<VARIANT> reversed(args.begin(), args.end());
  struct Clear {
    std::vector<VARIANT>& v;
    ~Clear() {
      for (VARIANT& a : v) VariantClear(&a);
    }
  } clear{reversed};
  std::reverse(reversed.begin(), reversed.end());
  DISPID id;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  CallResult out;
  out.hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out.hr)) return out;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  UINT arg_error = 0;
  out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                          &arg_error);
  if (out.hr == DISP_E_EXCEPTION) out.scode = exception.scode;
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return out;
}

inline CallResult Put(IDispatch* object, const wchar_t* name, VARIANT value) {
  return Call(object, name, DISPATCH_PROPERTYPUT, {value}, nullptr);
}
inline CallResult Get(IDispatch* object, const wchar_t* name, Variant* result) {
  return Call(object, name, DISPATCH_PROPERTYGET, {}, result->put());
}
inline CallResult Item(IDispatch* collection, LONG index, Variant* result) {
  return Call(collection, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Long(index)},
              result->put());
}

struct Settings {
  std::wstring pattern;
  bool ignore_case = false;
  bool global = false;
  bool multiline = false;
};

inline bool Configure(IDispatch* regexp, const Settings& s) {
  return SUCCEEDED(Put(regexp, L"Pattern", Text(s.pattern)).hr) &&
         SUCCEEDED(Put(regexp, L"IgnoreCase", Bool(s.ignore_case)).hr) &&
         SUCCEEDED(Put(regexp, L"Global", Bool(s.global)).hr) &&
         SUCCEEDED(Put(regexp, L"Multiline", Bool(s.multiline)).hr);
}

struct Match {
  std::wstring value;
  LONG first_index = -1;
  LONG length = -1;
  std::vector<std::optional<std::wstring>> groups;  // nullopt: VT_EMPTY
  bool operator==(const Match&) const = default;
};

struct Matches {
  CallResult call;  // of Execute
  bool read_ok = true;  // every Count/Item/property call after Execute succeeded
  std::vector<Match> list;
  bool operator==(const Matches& o) const {
    return call.hr == o.call.hr && call.scode == o.call.scode && read_ok == o.read_ok &&
           list == o.list;
  }
};

inline std::wstring BstrText(const VARIANT& v) {
  return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal))
                                      : std::wstring();
}

// Execute, then read everything back: Count, and per match Value, FirstIndex, Length and each
// SubMatches item.
inline Matches Execute(IDispatch* regexp, std::wstring_view subject) {
  Matches out;
  Variant collection;
  out.call = Call(regexp, L"Execute", DISPATCH_METHOD, {Text(subject)}, collection.put());
  if (FAILED(out.call.hr)) return out;
  Variant count;
  IDispatch* matches = collection->pdispVal;
  if (FAILED(Get(matches, L"Count", &count).hr) || count->vt != VT_I4) {
    out.read_ok = false;
    return out;
  }
  for (LONG i = 0; i < count->lVal; ++i) {
    Variant item, value, first, length, sub, sub_count;
    Match m;
    bool ok = SUCCEEDED(Item(matches, i, &item).hr) && item->vt == VT_DISPATCH;
    ok = ok && SUCCEEDED(Get(item->pdispVal, L"Value", &value).hr) &&
         SUCCEEDED(Get(item->pdispVal, L"FirstIndex", &first).hr) &&
         SUCCEEDED(Get(item->pdispVal, L"Length", &length).hr) &&
         SUCCEEDED(Get(item->pdispVal, L"SubMatches", &sub).hr) && sub->vt == VT_DISPATCH &&
         SUCCEEDED(Get(sub->pdispVal, L"Count", &sub_count).hr);
    if (!ok) {
      out.read_ok = false;
      return out;
    }
    m.value = BstrText(value.get());
    m.first_index = first->lVal;
    m.length = length->lVal;
    for (LONG k = 0; k < sub_count->lVal; ++k) {
      Variant group;
      if (FAILED(Item(sub->pdispVal, k, &group).hr)) {
        out.read_ok = false;
        return out;
      }
      if (group->vt == VT_EMPTY) {
        m.groups.push_back(std::nullopt);
      } else {
        m.groups.push_back(BstrText(group.get()));
      }
    }
    out.list.push_back(std::move(m));
  }
  return out;
}

struct Replaced {
  CallResult call;
  std::wstring text;
  bool operator==(const Replaced& o) const {
    return call.hr == o.call.hr && call.scode == o.call.scode && text == o.text;
  }
};

inline Replaced Replace(IDispatch* regexp, std::wstring_view subject,
                        std::wstring_view replacement) {
  Replaced out;
  Variant result;
  out.call = Call(regexp, L"Replace", DISPATCH_METHOD, {Text(subject), Text(replacement)},
                  result.put());
  out.text = BstrText(result.get());
  return out;
}

// Printable form for failure messages: ASCII as is, the rest as \uXXXX.
inline std::string Escape(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      wsprintfA(buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

inline std::string Describe(const Matches& m) {
  std::string out = "hr=" + std::to_string(static_cast<unsigned long>(m.call.hr)) +
                    " scode=" + std::to_string(static_cast<unsigned long>(m.call.scode)) +
                    (m.read_ok ? "" : " (read failed)") + ":";
  for (const Match& match : m.list) {
    out += " [" + std::to_string(match.first_index) + "," + std::to_string(match.length) + " \"" +
           Escape(match.value) + "\"";
    for (const auto& g : match.groups) out += g ? " \"" + Escape(*g) + "\"" : " <empty>";
    out += "]";
  }
  return out;
}

}  // namespace regexp_driver
