#include "builtin_regexp.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "regex_engine.h"

namespace {

using regex_engine::kNoPosition;

// The system object's DISPIDs, so that a caller that caches them sees the same numbers.
constexpr DISPID kPattern = 10001, kIgnoreCase = 10002, kGlobal = 10003, kExecute = 10004,
                 kTest = 10005, kReplace = 10006, kMultiline = 10007;
constexpr DISPID kItem = DISPID_VALUE, kCount = 1;                         // both collections
constexpr DISPID kValue = DISPID_VALUE, kFirstIndex = 10001, kLength = 10002,
                 kSubMatches = 10003;                                      // a match

struct Member {
  const wchar_t* name;
  DISPID id;
};

// Method failures travel as the system object's do: DISP_E_EXCEPTION, the cause in scode.
HRESULT Raise(EXCEPINFO* exception, HRESULT cause) {
  if (exception) {
    *exception = EXCEPINFO{};
    exception->scode = cause;
  }
  return DISP_E_EXCEPTION;
}

// ---------------------------------------------------------------------------------------------
// Arguments (DISPPARAMS holds them last first)

const VARIANT& Argument(const DISPPARAMS& params, UINT index) {
  return params.rgvarg[params.cArgs - 1 - index];
}

HRESULT CheckCount(const DISPPARAMS& params, UINT wanted) {
  return params.cArgs == wanted ? S_OK : DISP_E_BADPARAMCOUNT;
}

// Text of an argument. A BSTR (also by reference) is read in place: subjects run to hundreds
// of MB and are never copied; anything else is converted as VariantChangeType does.
class TextArgument {
 public:
  TextArgument() { VariantInit(&converted_); }
  ~TextArgument() { VariantClear(&converted_); }
  TextArgument(const TextArgument&) = delete;
  TextArgument& operator=(const TextArgument&) = delete;

  HRESULT Read(const DISPPARAMS& params, UINT index, UINT* arg_error) {
    const VARIANT* arg = &Argument(params, index);
    if (arg->vt == (VT_VARIANT | VT_BYREF) && arg->pvarVal) arg = arg->pvarVal;
    if (arg->vt == VT_BSTR) return Borrow(arg->bstrVal);
    if (arg->vt == (VT_BSTR | VT_BYREF) && arg->pbstrVal) return Borrow(*arg->pbstrVal);
    const HRESULT hr = VariantChangeType(&converted_, const_cast<VARIANT*>(arg), 0, VT_BSTR);
    if (FAILED(hr)) {
      if (arg_error) *arg_error = params.cArgs - 1 - index;
      return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    }
    return Borrow(converted_.bstrVal);
  }
  std::wstring_view Text() const { return text_; }

 private:
  HRESULT Borrow(BSTR text) {
    text_ = text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view();
    return S_OK;
  }
  VARIANT converted_;
  std::wstring_view text_;
};

// An argument converted to one simple type (VT_BOOL, VT_I4).
HRESULT ReadAs(const DISPPARAMS& params, UINT index, VARTYPE type, VARIANT* out, UINT* arg_error) {
  VariantInit(out);
  const HRESULT hr =
      VariantChangeType(out, const_cast<VARIANT*>(&Argument(params, index)), 0, type);
  if (SUCCEEDED(hr)) return S_OK;
  if (arg_error) *arg_error = params.cArgs - 1 - index;
  return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
}

HRESULT ReturnText(std::wstring_view text, VARIANT* result) {
  if (!result) return S_OK;
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) return E_OUTOFMEMORY;
  result->vt = VT_BSTR;
  result->bstrVal = copy;
  return S_OK;
}

void ReturnLong(LONG value, VARIANT* result) {
  if (!result) return;
  result->vt = VT_I4;
  result->lVal = value;
}

void ReturnBool(bool value, VARIANT* result) {
  if (!result) return;
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ReturnObject(IUnknown* object, VARTYPE type, VARIANT* result) {  // takes the reference
  if (!result) {
    object->Release();
    return;
  }
  result->vt = type;
  if (type == VT_DISPATCH) {
    result->pdispVal = static_cast<IDispatch*>(object);
  } else {
    result->punkVal = object;
  }
}

// ---------------------------------------------------------------------------------------------
// IDispatch common to the four objects

class DispatchObject : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_INVALIDARG;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (const Member& m : Members()) {
      if (names[0] && CompareStringOrdinal(names[0], -1, m.name, -1, TRUE) == CSTR_EQUAL) {
        ids[0] = m.id;
      }
    }
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    for (UINT k = 1; k < count; ++k) {  // no member here has named arguments
      ids[k] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception,
                                   UINT* arg_error) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    if (params->cNamedArgs && !params->rgdispidNamedArgs) return E_INVALIDARG;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put ? params->cNamedArgs > 1 ||
                  (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            : params->cNamedArgs != 0) {
      return DISP_E_NONAMEDARGS;
    }
    if (result) VariantInit(result);
    try {
      return Call(id, flags, *params, result, exception, arg_error);
    } catch (const std::bad_alloc&) {
      if (result) VariantClear(result);
      return Raise(exception, E_OUTOFMEMORY);
    }
  }

 protected:
  virtual ~DispatchObject() = default;
  virtual std::span<const Member> Members() const = 0;
  virtual HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
                       EXCEPINFO* exception, UINT* arg_error) = 0;

  static bool IsGet(WORD flags) { return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }
  static bool IsPut(WORD flags) { return (flags & DISPATCH_PROPERTYPUT) != 0; }

 private:
  LONG references_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Results of Execute

// All matches of one Execute, immutable once built and shared by the objects that show them.
// Each match keeps only its own text; the subject itself is not kept.
class MatchData {
 public:
  explicit MatchData(size_t group_count) : group_count_(group_count) {}

  void Add(const regex_engine::Matcher& matcher, std::wstring_view subject) {
    const uint32_t begin = matcher.Begin(0), end = matcher.End(0);
    const size_t length = end - begin;
    if (chunks_.empty() || chunk_used_ + length > chunk_size_) {
      // Chunks double from small (most Executes find a few short matches) to a ceiling; a
      // longer match gets a chunk of its own. Nothing is copied when one fills up.
      chunk_size_ = std::max(std::min(chunk_size_ * 2, kLargestChunk), length);
      chunks_.push_back(std::unique_ptr<wchar_t[]>(new wchar_t[chunk_size_]));
      chunk_used_ = 0;
    }
    std::copy_n(subject.data() + begin, length, chunks_.back().get() + chunk_used_);
    records_.push_back({begin, static_cast<uint32_t>(length),
                        static_cast<uint32_t>(chunks_.size() - 1), chunk_used_});
    chunk_used_ += length;
    for (size_t g = 1; g <= group_count_; ++g) {
      const bool took_part = matcher.Begin(g) != kNoPosition;
      groups_.push_back(took_part ? matcher.Begin(g) - begin : kNoPosition);
      groups_.push_back(took_part ? matcher.End(g) - begin : kNoPosition);
    }
  }

  size_t Count() const { return records_.size(); }
  size_t GroupCount() const { return group_count_; }
  LONG FirstIndex(size_t match) const { return static_cast<LONG>(records_[match].first_index); }
  std::wstring_view Text(size_t match) const {
    const Record& r = records_[match];
    return {chunks_[r.chunk].get() + r.offset, r.length};
  }
  // Group k (from 0) of a match; false when it took no part.
  bool Group(size_t match, size_t k, std::wstring_view* text) const {
    const uint32_t* span = &groups_[(match * group_count_ + k) * 2];
    if (span[0] == kNoPosition) return false;
    *text = Text(match).substr(span[0], span[1] - span[0]);
    return true;
  }

 private:
  static constexpr size_t kLargestChunk = size_t{1} << 20;  // units
  struct Record {
    uint32_t first_index, length, chunk;
    size_t offset;
  };
  size_t group_count_;
  std::vector<std::unique_ptr<wchar_t[]>> chunks_;
  size_t chunk_size_ = 128, chunk_used_ = 0;
  std::vector<Record> records_;
  std::vector<uint32_t> groups_;  // per match and group: begin and end within the match text
};

using SharedMatches = std::shared_ptr<const MatchData>;

HRESULT ReadIndex(const DISPPARAMS& params, UINT* arg_error, LONG* index) {
  HRESULT hr = CheckCount(params, 1);
  if (FAILED(hr)) return hr;
  VARIANT v;
  hr = ReadAs(params, 0, VT_I4, &v, arg_error);
  if (FAILED(hr)) return hr;
  *index = v.lVal;
  return S_OK;
}

class SubMatchesObject final : public DispatchObject {
 public:
  SubMatchesObject(SharedMatches data, size_t match) : data_(std::move(data)), match_(match) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member members[] = {{L"Item", kItem}, {L"Count", kCount}};
    return members;
  }
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT* arg_error) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kCount) {
      const HRESULT hr = CheckCount(params, 0);
      if (FAILED(hr)) return hr;
      ReturnLong(static_cast<LONG>(data_->GroupCount()), result);
      return S_OK;
    }
    if (id != kItem) return DISP_E_MEMBERNOTFOUND;
    LONG k;
    const HRESULT hr = ReadIndex(params, arg_error, &k);
    if (FAILED(hr)) return hr;
    if (k < 0 || static_cast<size_t>(k) >= data_->GroupCount()) {
      return Raise(exception, E_INVALIDARG);
    }
    std::wstring_view text;
    if (!data_->Group(match_, static_cast<size_t>(k), &text)) return S_OK;  // stays VT_EMPTY
    const HRESULT returned = ReturnText(text, result);
    return FAILED(returned) ? Raise(exception, returned) : S_OK;
  }

 private:
  SharedMatches data_;
  size_t match_;
};

class MatchObject final : public DispatchObject {
 public:
  MatchObject(SharedMatches data, size_t match) : data_(std::move(data)), match_(match) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member members[] = {{L"Value", kValue},
                                     {L"FirstIndex", kFirstIndex},
                                     {L"Length", kLength},
                                     {L"SubMatches", kSubMatches}};
    return members;
  }
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT*) override {
    if (id != kValue && id != kFirstIndex && id != kLength && id != kSubMatches) {
      return DISP_E_MEMBERNOTFOUND;
    }
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    const HRESULT hr = CheckCount(params, 0);
    if (FAILED(hr)) return hr;
    switch (id) {
      case kValue: {
        const HRESULT returned = ReturnText(data_->Text(match_), result);
        return FAILED(returned) ? Raise(exception, returned) : S_OK;
      }
      case kFirstIndex:
        ReturnLong(data_->FirstIndex(match_), result);
        return S_OK;
      case kLength:
        ReturnLong(static_cast<LONG>(data_->Text(match_).size()), result);
        return S_OK;
      default: {
        auto* groups = new (std::nothrow) SubMatchesObject(data_, match_);
        if (!groups) return Raise(exception, E_OUTOFMEMORY);
        ReturnObject(groups, VT_DISPATCH, result);
        return S_OK;
      }
    }
  }

 private:
  SharedMatches data_;
  size_t match_;
};

// For Each over the collection.
class MatchEnumerator final : public IEnumVARIANT {
 public:
  MatchEnumerator(SharedMatches data, size_t next) : data_(std::move(data)), next_(next) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumVARIANT)) {
      *out = static_cast<IEnumVARIANT*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (wanted && !out) return E_POINTER;
    ULONG given = 0;
    for (; given < wanted && next_ < data_->Count(); ++given, ++next_) {
      auto* match = new (std::nothrow) MatchObject(data_, next_);
      if (!match) {
        for (ULONG k = 0; k < given; ++k) VariantClear(&out[k]);
        next_ -= given;
        return E_OUTOFMEMORY;
      }
      VariantInit(&out[given]);
      ReturnObject(match, VT_DISPATCH, &out[given]);
    }
    if (fetched) *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const size_t left = data_->Count() - next_;
    next_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MatchEnumerator(data_, next_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~MatchEnumerator() = default;
  LONG references_ = 1;
  SharedMatches data_;
  size_t next_;
};

class MatchCollectionObject final : public DispatchObject {
 public:
  explicit MatchCollectionObject(SharedMatches data) : data_(std::move(data)) {}

 protected:
  std::span<const Member> Members() const override {
    static const Member members[] = {
        {L"Item", kItem}, {L"Count", kCount}, {L"_NewEnum", DISPID_NEWENUM}};
    return members;
  }
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT* arg_error) override {
    if (id != kItem && id != kCount && id != DISPID_NEWENUM) return DISP_E_MEMBERNOTFOUND;
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kCount || id == DISPID_NEWENUM) {
      const HRESULT hr = CheckCount(params, 0);
      if (FAILED(hr)) return hr;
      if (id == kCount) {
        ReturnLong(static_cast<LONG>(data_->Count()), result);
        return S_OK;
      }
      auto* enumerator = new (std::nothrow) MatchEnumerator(data_, 0);
      if (!enumerator) return Raise(exception, E_OUTOFMEMORY);
      ReturnObject(enumerator, VT_UNKNOWN, result);
      return S_OK;
    }
    LONG index;
    const HRESULT hr = ReadIndex(params, arg_error, &index);
    if (FAILED(hr)) return hr;
    if (index < 0 || static_cast<size_t>(index) >= data_->Count()) {
      return Raise(exception, E_INVALIDARG);
    }
    auto* match = new (std::nothrow) MatchObject(data_, static_cast<size_t>(index));
    if (!match) return Raise(exception, E_OUTOFMEMORY);
    ReturnObject(match, VT_DISPATCH, result);
    return S_OK;
  }

 private:
  SharedMatches data_;
};

// ---------------------------------------------------------------------------------------------
// The RegExp object

// Replace's replacement text: $$, $&, $`, $', and $n / $nn for a group that exists;
// any other '$' stays as it is.
class Replacement {
 public:
  Replacement(std::wstring_view text, size_t group_count) : text_(text), groups_(group_count) {}

  // Appends (or, with `out` null, only counts) the replacement for one match.
  uint64_t Expand(std::wstring_view subject, const uint32_t* spans, wchar_t* out) const {
    uint64_t written = 0;
    auto put = [&](std::wstring_view piece) {
      if (out) std::copy(piece.begin(), piece.end(), out + written);
      written += piece.size();
    };
    const size_t begin = spans[0], end = spans[1];
    for (size_t i = 0; i < text_.size();) {
      const size_t dollar = text_.find(L'$', i);
      if (dollar == std::wstring_view::npos) {
        put(text_.substr(i));
        break;
      }
      put(text_.substr(i, dollar - i));
      const wchar_t next = dollar + 1 < text_.size() ? text_[dollar + 1] : 0;
      i = dollar + 2;
      if (next == '$') {
        put(L"$");
      } else if (next == '&') {
        put(subject.substr(begin, end - begin));
      } else if (next == '`') {
        put(subject.substr(0, begin));
      } else if (next == '\'') {
        put(subject.substr(end));
      } else if (next >= '0' && next <= '9') {
        size_t group = next - '0';
        const wchar_t second = dollar + 2 < text_.size() ? text_[dollar + 2] : 0;
        if (second >= '0' && second <= '9' && group * 10 + (second - '0') >= 1 &&
            group * 10 + (second - '0') <= groups_) {
          group = group * 10 + (second - '0');
          i = dollar + 3;
        } else if (group == 0 || group > groups_) {
          put(L"$");
          i = dollar + 1;
          continue;
        }
        if (spans[2 * group] != kNoPosition) {
          put(subject.substr(spans[2 * group], spans[2 * group + 1] - spans[2 * group]));
        }
      } else {
        put(L"$");
        i = dollar + 1;
      }
    }
    return written;
  }

 private:
  std::wstring_view text_;
  size_t groups_;
};

class RegExpObject final : public DispatchObject {
 protected:
  std::span<const Member> Members() const override {
    static const Member members[] = {
        {L"Pattern", kPattern}, {L"IgnoreCase", kIgnoreCase}, {L"Global", kGlobal},
        {L"Multiline", kMultiline}, {L"Execute", kExecute}, {L"Test", kTest},
        {L"Replace", kReplace}};
    return members;
  }

  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result,
               EXCEPINFO* exception, UINT* arg_error) override {
    switch (id) {
      case kPattern:
        if (IsPut(flags)) {
          HRESULT hr = CheckCount(params, 1);
          if (FAILED(hr)) return hr;
          TextArgument text;
          hr = text.Read(params, 0, arg_error);
          if (FAILED(hr)) return hr;
          pattern_.assign(text.Text());
          program_.reset();
          return S_OK;
        }
        if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
        if (const HRESULT hr = CheckCount(params, 0); FAILED(hr)) return hr;
        if (const HRESULT hr = ReturnText(pattern_, result); FAILED(hr)) {
          return Raise(exception, hr);
        }
        return S_OK;
      case kIgnoreCase:
        return Flag(&ignore_case_, true, flags, params, result, arg_error);
      case kGlobal:
        return Flag(&global_, false, flags, params, result, arg_error);
      case kMultiline:
        return Flag(&multiline_, true, flags, params, result, arg_error);
      case kExecute:
      case kTest:
      case kReplace:
        break;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    HRESULT hr = CheckCount(params, id == kReplace ? 2 : 1);
    if (FAILED(hr)) return hr;
    TextArgument subject;
    hr = subject.Read(params, 0, arg_error);
    if (FAILED(hr)) return hr;
    const regex_engine::Program* program = nullptr;
    hr = Compiled(&program);
    if (FAILED(hr)) return Raise(exception, hr);
    if (id == kExecute) hr = Execute(*program, subject.Text(), result);
    if (id == kTest) {
      regex_engine::Matcher matcher(*program, subject.Text());
      ReturnBool(matcher.Find(0), result);
    }
    if (id == kReplace) {
      TextArgument replacement;
      hr = replacement.Read(params, 1, arg_error);
      if (FAILED(hr)) return hr;
      hr = Replace(*program, subject.Text(), replacement.Text(), result);
    }
    return FAILED(hr) ? Raise(exception, hr) : S_OK;
  }

 private:
  HRESULT Flag(bool* flag, bool compiled_in, WORD flags, const DISPPARAMS& params,
               VARIANT* result, UINT* arg_error) {
    if (IsPut(flags)) {
      HRESULT hr = CheckCount(params, 1);
      if (FAILED(hr)) return hr;
      VARIANT v;
      hr = ReadAs(params, 0, VT_BOOL, &v, arg_error);
      if (FAILED(hr)) return hr;
      const bool value = v.boolVal != VARIANT_FALSE;
      if (compiled_in && value != *flag) program_.reset();
      *flag = value;
      return S_OK;
    }
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    const HRESULT hr = CheckCount(params, 0);
    if (FAILED(hr)) return hr;
    ReturnBool(*flag, result);
    return S_OK;
  }

  HRESULT Compiled(const regex_engine::Program** program) {
    if (!program_) {
      const regex_engine::CompileResult compiled =
          regex_engine::Compile(pattern_, {ignore_case_, multiline_});
      switch (compiled.status) {
        case regex_engine::CompileStatus::kOk:
          break;
        case regex_engine::CompileStatus::kUnsupported:
          return E_NOTIMPL;  // valid VBScript, but beyond this engine: refused, never guessed
        default:
          return E_FAIL;  // as the system object reports a syntax error
      }
      program_ = compiled.program;
    }
    *program = program_.get();
    return S_OK;
  }

  HRESULT Execute(const regex_engine::Program& program, std::wstring_view subject,
                  VARIANT* result) {
    auto data = std::make_shared<MatchData>(regex_engine::GroupCount(program));
    regex_engine::Matcher matcher(program, subject);
    for (size_t from = 0; matcher.Find(from);) {
      data->Add(matcher, subject);
      if (!global_ ||
          !regex_engine::NextSearchStart(matcher.Begin(0), matcher.End(0), subject.size(), &from)) {
        break;
      }
    }
    auto* collection = new (std::nothrow) MatchCollectionObject(std::move(data));
    if (!collection) return E_OUTOFMEMORY;
    ReturnObject(collection, VT_DISPATCH, result);
    return S_OK;
  }

  HRESULT Replace(const regex_engine::Program& program, std::wstring_view subject,
                  std::wstring_view replacement_text, VARIANT* result) {
    const size_t slots = 2 * (regex_engine::GroupCount(program) + 1);
    std::vector<uint32_t> spans;  // every match's slots, one match after another
    regex_engine::Matcher matcher(program, subject);
    for (size_t from = 0; matcher.Find(from);) {
      for (size_t k = 0; k < slots; ++k) {
        spans.push_back(k % 2 ? matcher.End(k / 2) : matcher.Begin(k / 2));
      }
      if (!global_ ||
          !regex_engine::NextSearchStart(matcher.Begin(0), matcher.End(0), subject.size(), &from)) {
        break;
      }
    }
    const Replacement replacement(replacement_text, regex_engine::GroupCount(program));
    // Two passes, counting then writing, so that the result is allocated once at its size.
    // The count is 64-bit: in a 32-bit process it may exceed what size_t holds.
    uint64_t total = 0;
    for (int pass = 0; pass < 2; ++pass) {
      wchar_t* out = nullptr;
      if (pass == 1) {
        if (total >= 0x7FFFFFFF) return E_OUTOFMEMORY;
        BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(total));
        if (!text) return E_OUTOFMEMORY;
        if (!result) {
          SysFreeString(text);
          return S_OK;
        }
        result->vt = VT_BSTR;
        result->bstrVal = text;
        out = text;
      }
      uint64_t written = 0;
      size_t copied_to = 0;
      for (size_t m = 0; m < spans.size(); m += slots) {
        const size_t gap = spans[m] - copied_to;
        if (out) std::copy_n(subject.data() + copied_to, gap, out + written);
        written += gap;
        written += replacement.Expand(subject, &spans[m], out ? out + written : nullptr);
        copied_to = spans[m + 1];
      }
      if (out) std::copy(subject.begin() + copied_to, subject.end(), out + written);
      written += subject.size() - copied_to;
      total = written;
    }
    return S_OK;
  }

  std::wstring pattern_;
  bool ignore_case_ = false, global_ = false, multiline_ = false;
  std::shared_ptr<const regex_engine::Program> program_;  // for the settings above
};

}  // namespace

IDispatch* CreateBuiltinRegExp() { return new (std::nothrow) RegExpObject(); }
