// The built-in object through IDispatch: its properties, arguments, errors, lifetimes, and the
// behaviour where it deliberately differs from the system object.
#include <gtest/gtest.h>

#include <string>

#include "builtin_regexp.h"
#include "regexp_driver.h"

namespace {

using namespace regexp_driver;

Ref<IDispatch> NewBuiltin() { return Ref<IDispatch>(CreateBuiltinRegExp()); }

TEST(BuiltinRegExp, PropertiesStartLikeTheSystemObjectsAndKeepWhatIsPut) {
  Ref<IDispatch> re = NewBuiltin();
  ASSERT_TRUE(re);
  Variant v;
  ASSERT_EQ(Get(re.get(), L"Pattern", &v).hr, S_OK);
  EXPECT_EQ(v->vt, VT_BSTR);
  EXPECT_EQ(BstrText(v.get()), L"");
  for (const wchar_t* flag : {L"IgnoreCase", L"Global", L"Multiline"}) {
    ASSERT_EQ(Get(re.get(), flag, &v).hr, S_OK) << Escape(flag);
    EXPECT_EQ(v->vt, VT_BOOL);
    EXPECT_EQ(v->boolVal, VARIANT_FALSE) << Escape(flag);
    // Any value VariantChangeType makes a boolean of, and names in any case.
    ASSERT_EQ(Put(re.get(), flag, Long(7)).hr, S_OK);
    std::wstring upper = flag;
    for (wchar_t& c : upper) c = towupper(c);
    ASSERT_EQ(Get(re.get(), upper.c_str(), &v).hr, S_OK);
    EXPECT_EQ(v->boolVal, VARIANT_TRUE) << Escape(flag);
  }
  ASSERT_EQ(Put(re.get(), L"pattern", Text(L"a(b)")).hr, S_OK);
  ASSERT_EQ(Get(re.get(), L"PATTERN", &v).hr, S_OK);
  EXPECT_EQ(BstrText(v.get()), L"a(b)");
  EXPECT_EQ(Put(re.get(), L"Singleline", Bool(true)).hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(Put(re.get(), L"IgnoreCase", Text(L"not a boolean")).hr, DISP_E_TYPEMISMATCH);
}

TEST(BuiltinRegExp, GetIDsOfNamesAndInvokeRejectWhatTheyDoNotKnow) {
  Ref<IDispatch> re = NewBuiltin();
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Execute"), const_cast<LPOLESTR>(L"SourceString")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(re->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 10004);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(re->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  DISPPARAMS none{};
  Variant result;
  EXPECT_EQ(re->Invoke(12345, IID_NULL, 0, DISPATCH_METHOD, &none, result.put(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(re->Invoke(10004, IID_IDispatch, 0, DISPATCH_METHOD, &none, result.put(), nullptr,
                       nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(Call(re.get(), L"Execute", DISPATCH_PROPERTYPUT, {Text(L"x")}, nullptr).hr,
            DISP_E_MEMBERNOTFOUND);
  UINT count = 5;
  EXPECT_EQ(re->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST(BuiltinRegExp, MatchesOutliveTheObjectsThatMadeThem) {
  IDispatch* re = CreateBuiltinRegExp();
  ASSERT_NE(re, nullptr);
  EXPECT_EQ(re->AddRef(), 2u);
  EXPECT_EQ(re->Release(), 1u);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(re->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(re), unknown);
  EXPECT_EQ(unknown->Release(), 1u);
  void* other = &other;
  EXPECT_EQ(re->QueryInterface(IID_IEnumVARIANT, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  Configure(re, {L"(\\w+)@(\\w+)", false, true, false});
  Variant collection;
  ASSERT_EQ(Call(re, L"Execute", DISPATCH_METHOD, {Text(L"ann@home bob@work")}, collection.put()).hr,
            S_OK);
  EXPECT_EQ(re->Release(), 0u);
  Variant match, groups, value, group;
  ASSERT_EQ(Item(collection->pdispVal, 1, &match).hr, S_OK);
  collection.put();  // releases the collection
  ASSERT_EQ(Get(match->pdispVal, L"SubMatches", &groups).hr, S_OK);
  match.put();
  ASSERT_EQ(Item(groups->pdispVal, 1, &group).hr, S_OK);
  EXPECT_EQ(BstrText(group.get()), L"work");
  EXPECT_EQ(groups->pdispVal->AddRef(), 2u);
  EXPECT_EQ(groups->pdispVal->Release(), 1u);
}

TEST(BuiltinRegExp, ReadsTheSubjectInEveryArgumentForm) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"\\d+", false, true, false});
  BSTR text = SysAllocString(L"a12b345");
  VARIANT by_reference;
  VariantInit(&by_reference);
  by_reference.vt = VT_BSTR | VT_BYREF;
  by_reference.pbstrVal = &text;
  VARIANT inner = Text(L"x9");
  VARIANT variant_reference;
  VariantInit(&variant_reference);
  variant_reference.vt = VT_VARIANT | VT_BYREF;
  variant_reference.pvarVal = &inner;
  VARIANT null_text;
  VariantInit(&null_text);
  null_text.vt = VT_BSTR;
  null_text.bstrVal = nullptr;
  const struct {
    VARIANT subject;
    LONG count;
  } cases[] = {{by_reference, 2}, {variant_reference, 1}, {Long(2024), 1}, {null_text, 0}};
  for (const auto& c : cases) {
    Variant collection, count;
    VARIANT arg = c.subject;  // owns nothing: Invoke directly, not through Call, which clears
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXCEPINFO exception{};
    ASSERT_EQ(re->Invoke(10004, IID_NULL, 0, DISPATCH_METHOD, &params, collection.put(),
                         &exception, nullptr),
              S_OK)
        << arg.vt;
    ASSERT_EQ(Get(collection->pdispVal, L"Count", &count).hr, S_OK);
    EXPECT_EQ(count->lVal, c.count) << arg.vt;
  }
  SysFreeString(text);
  VariantClear(&inner);

  // Without a place for the result, and with wrong arguments.
  EXPECT_EQ(Call(re.get(), L"Execute", DISPATCH_METHOD, {Text(L"1")}, nullptr).hr, S_OK);
  Variant result;
  EXPECT_EQ(Call(re.get(), L"Execute", DISPATCH_METHOD, {}, result.put()).hr,
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(re.get(), L"Execute", DISPATCH_METHOD, {Text(L"1"), Text(L"2")}, result.put()).hr,
            DISP_E_BADPARAMCOUNT);
  VARIANT null_value;
  VariantInit(&null_value);
  null_value.vt = VT_NULL;
  EXPECT_EQ(Call(re.get(), L"Execute", DISPATCH_METHOD, {null_value}, result.put()).hr,
            DISP_E_TYPEMISMATCH);
}

TEST(BuiltinRegExp, RefusedPatternsFailEveryMethodUntilThePatternIsFixed) {
  Ref<IDispatch> re = NewBuiltin();
  const struct {
    const wchar_t* pattern;
    SCODE cause;
  } cases[] = {{L"(a", E_FAIL}, {L"a**", E_FAIL}, {L"(a)\\1", E_NOTIMPL}, {L"(?=a)", E_NOTIMPL}};
  for (const auto& c : cases) {
    Configure(re.get(), {c.pattern, false, true, false});
    const Matches executed = Execute(re.get(), L"aa");
    EXPECT_EQ(executed.call.hr, DISP_E_EXCEPTION) << Escape(c.pattern);
    EXPECT_EQ(executed.call.scode, c.cause) << Escape(c.pattern);
    const Replaced replaced = Replace(re.get(), L"aa", L"b");
    EXPECT_EQ(replaced.call.hr, DISP_E_EXCEPTION) << Escape(c.pattern);
    EXPECT_EQ(replaced.call.scode, c.cause) << Escape(c.pattern);
    Variant tested;
    EXPECT_EQ(Call(re.get(), L"Test", DISPATCH_METHOD, {Text(L"aa")}, tested.put()).hr,
              DISP_E_EXCEPTION);
  }
  Configure(re.get(), {L"a", false, true, false});
  EXPECT_EQ(Execute(re.get(), L"aa").list.size(), 2u);
}

// The system object never returns here: after an empty match Wine's searches again at the
// same place. We move on by one, as JScript does.
TEST(BuiltinRegExp, GlobalEmptyMatchesMoveOnByOne) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"a*", false, true, false});
  const Matches m = Execute(re.get(), L"baaac");
  ASSERT_EQ(m.list.size(), 4u);
  const LONG first[] = {0, 1, 4, 5};
  const wchar_t* value[] = {L"", L"aaa", L"", L""};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(m.list[k].first_index, first[k]);
    EXPECT_EQ(m.list[k].value, value[k]);
  }
  EXPECT_EQ(Replace(re.get(), L"baaac", L"-").text, L"-b--c-");
  Variant tested;
  ASSERT_EQ(Call(re.get(), L"Test", DISPATCH_METHOD, {Text(L"b")}, tested.put()).hr, S_OK);
  EXPECT_EQ(tested->boolVal, VARIANT_TRUE);
  Configure(re.get(), {L"^x", false, true, false});
  ASSERT_EQ(Call(re.get(), L"Test", DISPATCH_METHOD, {Text(L"ax")}, tested.put()).hr, S_OK);
  EXPECT_EQ(tested->boolVal, VARIANT_FALSE);
}

TEST(BuiltinRegExp, EnumeratesMatchesForEach) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"\\d", false, true, false});
  Variant collection, enumerator;
  ASSERT_EQ(Call(re.get(), L"Execute", DISPATCH_METHOD, {Text(L"1a2b3")}, collection.put()).hr, S_OK);
  ASSERT_EQ(Get(collection->pdispVal, L"_NewEnum", &enumerator).hr, S_OK);
  ASSERT_EQ(enumerator->vt, VT_UNKNOWN);
  Ref<IEnumVARIANT> items;
  ASSERT_EQ(enumerator->punkVal->QueryInterface(IID_IEnumVARIANT,
                                                reinterpret_cast<void**>(items.put())),
            S_OK);
  VARIANT got[3];
  ULONG fetched = 0;
  ASSERT_EQ(items->Next(2, got, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  Variant value;
  ASSERT_EQ(Get(got[1].pdispVal, L"Value", &value).hr, S_OK);
  EXPECT_EQ(BstrText(value.get()), L"2");
  VariantClear(&got[0]);
  VariantClear(&got[1]);
  Ref<IEnumVARIANT> copy;
  ASSERT_EQ(items->Clone(copy.put()), S_OK);
  EXPECT_EQ(items->Next(3, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  VariantClear(&got[0]);
  EXPECT_EQ(copy->Skip(2), S_FALSE);
  EXPECT_EQ(copy->Reset(), S_OK);
  EXPECT_EQ(copy->Skip(3), S_OK);
  EXPECT_EQ(copy->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
}

// Wine's Value stops at the first NUL of the match; ours is the whole match.
TEST(BuiltinRegExp, ValueKeepsNulUnits) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"a.b", false, false, false});
  const Matches m = Execute(re.get(), std::wstring(L"xa\0b", 4));
  ASSERT_EQ(m.list.size(), 1u);
  EXPECT_EQ(m.list[0].value, std::wstring(L"a\0b", 3));
  EXPECT_EQ(m.list[0].length, 3);
}

TEST(BuiltinRegExp, ReplaceBeyondTheLargestStringFailsWithOutOfMemory) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"a", false, true, false});
  // Every match is replaced by the rest of the subject: about 5e9 units in all.
  const Replaced r = Replace(re.get(), std::wstring(100000, L'a'), L"$'");
  EXPECT_EQ(r.call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.call.scode, E_OUTOFMEMORY);
}

// Upper-case mapping of the system's tables beyond ASCII (Wine's object folds ASCII only).
TEST(BuiltinRegExp, IgnoreCaseFoldsBeyondAscii) {
  Ref<IDispatch> re = NewBuiltin();
  Configure(re.get(), {L"\u00e9t\u00e9", true, true, false});
  const Matches m = Execute(re.get(), L"\u00c9T\u00c9 \u00e9t\u00e9");
  ASSERT_EQ(m.list.size(), 2u);
  EXPECT_EQ(m.list[0].value, L"\u00c9T\u00c9");
}

}  // namespace
