// The sample export opened and saved once with the system's "VBScript.RegExp" and once with it
// switched off for the program, so that the program's own engine answers: the same bookmarks.txt.
#include <algorithm>
#include <optional>

#include "app_steps.h"
#include "e2e_support.h"

namespace {

const char kSampleExport[] = B2T_SAMPLE_EXPORT;
// An ideographic space (A1 A1) after an address: Wine's engine counts it as white space, the
// program's own engine, like Microsoft's documented \s, does not. It tells which engine answered.
const char kEngineProbe[] = "<A HREF=\"http://probe.example/\">http://probe.example/a\xA1\xA1" "b</A>\r\n";

// Wine's per-program DLL override: while it lives, bookmarks2txt.exe cannot load vbscript.dll, so
// "VBScript.RegExp" cannot be made, as on a Windows without VBScript.
class VbscriptSwitchedOff {
 public:
  VbscriptSwitchedOff() {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_, nullptr))
      return;
    RegSetValueExA(key_, "vbscript", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  }
  ~VbscriptSwitchedOff() {
    if (!key_) return;
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\bookmarks2txt.exe");
  }

 private:
  static constexpr char kKey[] = "Software\\Wine\\AppDefaults\\bookmarks2txt.exe\\DllOverrides";
  HKEY key_ = nullptr;
};

// Opens the sample and the probe in a fresh run of the program and saves; returns what it wrote.
uidriver::Result<std::string> OpenAndSave(bool withoutVbscript) {
  std::optional<VbscriptSwitchedOff> switchedOff;
  if (withoutVbscript) switchedOff.emplace();
  uidriver::TempFolder folder("引擎");
  if (!folder.ok()) return {{}, "cannot make a temporary folder"};
  uidriver::Program program;
  if (uidriver::Status started = program.Start(kAppExe, folder.path()); !started)
    return {{}, started.error};
  if (uidriver::Status s = steps::OpenFile(program, uidriver::WindowsPath(kSampleExport)); !s)
    return {{}, s.error};
  if (uidriver::Status s = program.waitForText(program.control(kLabelId), steps::CountCaption(20)); !s)
    return {{}, s.error};
  std::string probe = folder.file("probe.html");
  if (uidriver::Status s = uidriver::WriteFileBytes(probe, kEngineProbe); !s) return {{}, s.error};
  if (uidriver::Status s = steps::OpenFile(program, probe); !s) return {{}, s.error};
  if (uidriver::Status s = program.waitForText(program.control(kLabelId), steps::CountCaption(2)); !s)
    return {{}, s.error};
  if (uidriver::Status s = steps::ClickSave(program); !s) return {{}, s.error};
  uidriver::Result<steps::Box> box = steps::AnswerBox(program, IDNO);
  if (!box) return {{}, box.error};
  if (box.value.caption != steps::kSavedCaption) return {{}, "unexpected box: " + uidriver::ToUtf8(box.value.text)};
  return uidriver::ReadFileBytes(folder.file("bookmarks.txt"));
}

TEST(Engines, TheSampleExportSavesTheSameBytesWithEitherEngine) {
  uidriver::Result<std::string> system = OpenAndSave(false);
  ASSERT_TRUE(system) << system.error;
  uidriver::Result<std::string> builtin = OpenAndSave(true);
  ASSERT_TRUE(builtin) << builtin.error;

  // The probe's links close both files; the sample's links come before them.
  const std::string probeBySystem = "http://probe.example/\r\nhttp://probe.example/a\r\n";
  const std::string probeByBuiltin = "http://probe.example/\r\nhttp://probe.example/a\xA1\xA1" "b</A>\r\n";
  ASSERT_TRUE(system.value.ends_with(probeBySystem)) << "Wine's engine stops at U+3000";
  ASSERT_TRUE(builtin.value.ends_with(probeByBuiltin)) << "the program's own engine answered the second run";
  const std::string sampleWithSystem = system.value.substr(0, system.value.size() - probeBySystem.size());
  const std::string sampleWithBuiltin = builtin.value.substr(0, builtin.value.size() - probeByBuiltin.size());
  EXPECT_EQ(std::count(sampleWithSystem.begin(), sampleWithSystem.end(), '\n'), 20);
  EXPECT_EQ(sampleWithBuiltin, sampleWithSystem);
}

}  // namespace
