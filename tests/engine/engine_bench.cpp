// Speed of the built-in engine and of the system's "VBScript.RegExp" over one bookmarks file,
// doing what the program does: the link pattern, IgnoreCase and Global, then every match's
// Value. Usage: engine_bench <file> [rounds]. Prints MB/s (MB = 2^20 bytes of the file).
#include <windows.h>
#include <oleauto.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "builtin_regexp.h"
#include "regex_engine.h"
#include "regexp_driver.h"

namespace {

using namespace regexp_driver;
using Clock = std::chrono::steady_clock;

const wchar_t kLinkPattern[] = L"([a-zA-z]+://[^\\s\"]*)";

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool ReadFileBytes(const char* path, std::string* bytes) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0x7FFFFFFF;
  if (ok) {
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
         read == bytes->size();
  }
  CloseHandle(file);
  return ok;
}

// Execute, then Count and every Item's Value, as the program collects the links.
void Measure(const char* name, IDispatch* regexp, BSTR subject, double megabytes, int rounds) {
  Configure(regexp, {kLinkPattern, true, true, false});
  double best_execute = 1e9, best_total = 1e9;
  LONG count = 0;
  size_t characters = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    Variant collection, counted;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR | VT_BYREF;  // lent, not copied: as a caller with a huge subject does
    arg.pbstrVal = &subject;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    DISPID execute_id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Execute")};
    regexp->GetIDsOfNames(IID_NULL, names, 1, 0, &execute_id);
    if (FAILED(regexp->Invoke(execute_id, IID_NULL, 0, DISPATCH_METHOD, &params,
                              collection.put(), nullptr, nullptr))) {
      std::printf("%s: Execute failed\n", name);
      return;
    }
    const double execute = Since(start);
    Get(collection->pdispVal, L"Count", &counted);
    count = counted->lVal;
    characters = 0;
    for (LONG i = 0; i < count; ++i) {
      Variant match, value;
      Item(collection->pdispVal, i, &match);
      Get(match->pdispVal, L"Value", &value);
      characters += SysStringLen(value->bstrVal);
    }
    best_execute = std::min(best_execute, execute);
    best_total = std::min(best_total, Since(start));
  }
  std::printf("%-26s %7ld links (%zu chars)  Execute %.3f s  with reading %.3f s  = %7.1f MB/s\n",
              name, count, characters, best_execute, best_total, megabytes / best_total);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: engine_bench <bookmarks file> [rounds]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::string bytes;
  if (!ReadFileBytes(argv[1], &bytes)) {
    std::printf("cannot read %s\n", argv[1]);
    return 1;
  }
  const double megabytes = bytes.size() / 1048576.0;
  auto start = Clock::now();
  const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
  BSTR subject = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), subject, units);
  std::printf("%s: %.1f MB, %d UTF-16 units (code page %u), converted in %.3f s\n", argv[1],
              megabytes, units, GetACP(), Since(start));

  // The engine alone, without COM objects: the shortcuts, then the plain VM for reference.
  const auto compiled = regex_engine::Compile(kLinkPattern, {true, false});
  for (const bool accelerate : {true, false}) {
    double best = 1e9;
    size_t count = 0;
    for (int round = 0; round < (accelerate ? rounds : 1); ++round) {
      start = Clock::now();
      regex_engine::Matcher matcher(*compiled.program, std::wstring_view(subject, units),
                                    accelerate);
      count = 0;
      for (size_t from = 0; matcher.Find(from); ++count) {
        if (!regex_engine::NextSearchStart(matcher.Begin(0), matcher.End(0), units, &from)) break;
      }
      best = std::min(best, Since(start));
    }
    std::printf("%-26s %7zu links  %.3f s  = %7.1f MB/s\n",
                accelerate ? "engine core" : "engine core, plain VM", count, best,
                megabytes / best);
  }

  IDispatch* builtin = CreateBuiltinRegExp();
  Measure("built-in RegExp", builtin, subject, megabytes, rounds);
  builtin->Release();

  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  CLSID clsid;
  IDispatch* system = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(L"VBScript.RegExp", &clsid)) &&
      SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 reinterpret_cast<void**>(&system)))) {
    Measure("system VBScript.RegExp", system, subject, megabytes, rounds);
    system->Release();
  } else {
    std::printf("system VBScript.RegExp: not available\n");
  }
  CoUninitialize();
  SysFreeString(subject);
  return 0;
}
