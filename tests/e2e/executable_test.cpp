// The built executables as files: their resources, read the way Explorer reads them (as data,
// nothing of the program runs), and the PE header of the product.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "e2e_support.h"

namespace {

using uidriver::Format;
using uidriver::ToUtf8;
using uidriver::WindowsPath;

struct Executable {
  std::string what, path;
};

// The product named by B2T_PRODUCT_EXE and this build's own program (the 64-bit twin where the
// tests run a 64-bit build).
std::vector<Executable> Executables() {
  std::vector<Executable> list;
  if (kProductExe[0]) list.push_back({"the product", WindowsPath(kProductExe)});
  std::string own = WindowsPath(kAppExe);
  if (list.empty() || lstrcmpiA(list.front().path.c_str(), own.c_str()) != 0)
    list.push_back({"this build's program", own});
  return list;
}

// A module mapped as a data file and image resource only.
class ResourceModule {
 public:
  explicit ResourceModule(const std::string& path)
      : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~ResourceModule() {
    if (module_) FreeLibrary(module_);
  }
  ResourceModule(const ResourceModule&) = delete;
  ResourceModule& operator=(const ResourceModule&) = delete;
  explicit operator bool() const { return module_ != nullptr; }

  // The bytes of a resource; empty when there is none.
  std::string bytes(const char* name, const char* type) const {
    HRSRC found = FindResourceA(module_, name, type);
    HGLOBAL loaded = found ? LoadResource(module_, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? std::string(static_cast<const char*>(data), SizeofResource(module_, found)) : std::string();
  }

 private:
  HMODULE module_;
};

using Attributes = std::map<std::string, std::string>;

// The attributes of each element `tag` in `xml`: enough XML for a manifest, which has no
// entities or prefixes in the parts read here.
std::vector<Attributes> Elements(const std::string& xml, const std::string& tag) {
  std::vector<Attributes> elements;
  for (size_t at = xml.find("<" + tag); at != std::string::npos; at = xml.find("<" + tag, at + 1)) {
    size_t i = at + 1 + tag.size();
    if (i >= xml.size() || !(std::isspace(static_cast<unsigned char>(xml[i])) || xml[i] == '/' || xml[i] == '>'))
      continue;
    Attributes attributes;
    for (;;) {
      while (i < xml.size() && std::isspace(static_cast<unsigned char>(xml[i]))) ++i;
      if (i >= xml.size() || xml[i] == '/' || xml[i] == '>') break;
      size_t equals = xml.find('=', i);
      if (equals == std::string::npos || equals + 1 >= xml.size()) break;
      char quote = xml[equals + 1];
      size_t end = xml.find(quote, equals + 2);
      if ((quote != '"' && quote != '\'') || end == std::string::npos) break;
      std::string name = xml.substr(i, equals - i);
      while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
      attributes[name] = xml.substr(equals + 2, end - equals - 2);
      i = end + 1;
    }
    elements.push_back(attributes);
  }
  return elements;
}

// The text between <tag ...> and </tag>, for each such element.
std::vector<std::string> Contents(const std::string& xml, const std::string& tag) {
  std::vector<std::string> contents;
  for (size_t at = xml.find("<" + tag + ">"), end; at != std::string::npos; at = xml.find("<" + tag + ">", end)) {
    size_t start = at + tag.size() + 2;
    end = xml.find("</" + tag + ">", start);
    if (end == std::string::npos) break;
    contents.push_back(xml.substr(start, end - start));
  }
  return contents;
}

TEST(Resources, ManifestAsksForAdministratorWithoutUiAccessAndForCommonControls6) {
  for (const Executable& exe : Executables()) {
    SCOPED_TRACE(exe.what + " " + ToUtf8(exe.path));
    ResourceModule module(exe.path);
    ASSERT_TRUE(module) << "LoadLibraryEx failed with error " << GetLastError();
    std::string manifest = module.bytes(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
    ASSERT_FALSE(manifest.empty()) << "no manifest resource 1";

    std::vector<Attributes> levels = Elements(manifest, "requestedExecutionLevel");
    ASSERT_EQ(levels.size(), 1u) << manifest;
    EXPECT_EQ(levels[0]["level"], "requireAdministrator");
    EXPECT_EQ(levels[0]["uiAccess"], "false");

    std::vector<Attributes> controls;
    for (const std::string& dependency : Contents(manifest, "dependentAssembly"))
      for (const Attributes& identity : Elements(dependency, "assemblyIdentity"))
        if (identity.count("name") && identity.at("name") == "Microsoft.Windows.Common-Controls")
          controls.push_back(identity);
    ASSERT_EQ(controls.size(), 1u) << manifest;
    EXPECT_EQ(controls[0]["version"], "6.0.0.0");
    EXPECT_EQ(controls[0]["type"], "win32");
    EXPECT_EQ(controls[0]["publicKeyToken"], "6595b64144ccf1df");
    EXPECT_EQ(controls[0]["processorArchitecture"], "*");
  }
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved, type, count;
};
struct GroupIconEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;  // of the RT_ICON resource holding the image
};
#pragma pack(pop)
static_assert(sizeof(GroupIconHeader) == 6 && sizeof(GroupIconEntry) == 14);

TEST(Resources, IconGroupDefaultIconHolds16And32PixelImages) {
  for (const Executable& exe : Executables()) {
    SCOPED_TRACE(exe.what + " " + ToUtf8(exe.path));
    ResourceModule module(exe.path);
    ASSERT_TRUE(module) << "LoadLibraryEx failed with error " << GetLastError();
    std::string group = module.bytes("DEFAULT_ICON", MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader)) << "no icon group DEFAULT_ICON";
    GroupIconHeader header;
    std::memcpy(&header, group.data(), sizeof header);
    EXPECT_EQ(header.reserved, 0);
    EXPECT_EQ(header.type, 1);  // icons, not cursors
    ASSERT_EQ(group.size(), sizeof header + header.count * sizeof(GroupIconEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < header.count; ++i) {
      GroupIconEntry entry;
      std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
      int width = entry.width ? entry.width : 256, height = entry.height ? entry.height : 256;
      SCOPED_TRACE(Format("image %d: %dx%d, %u bits, icon %u", i, width, height, entry.bitCount, entry.id));
      EXPECT_EQ(width, height);
      sizes.insert(width);
      std::string image = module.bytes(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3) /* RT_ICON */);
      EXPECT_EQ(image.size(), entry.bytesInRes);
    }
    EXPECT_TRUE(sizes.count(16)) << "no 16x16 image";
    EXPECT_TRUE(sizes.count(32)) << "no 32x32 image";
  }
}

// ---- the PE header ----

struct PeFacts {
  std::string error;
  WORD machine = 0, characteristics = 0, magic = 0, dllCharacteristics = 0;
  std::vector<std::string> imports;  // the DLLs named by the import and delay-load tables
};

PeFacts Broken(const char* why) {
  PeFacts pe;
  pe.error = why;
  return pe;
}

template <class T>
bool ReadAt(const std::string& file, size_t offset, T& value) {
  if (offset > file.size() || file.size() - offset < sizeof value) return false;
  std::memcpy(&value, file.data() + offset, sizeof value);
  return true;
}

PeFacts ReadPe(const std::string& file) {
  PeFacts pe;
  IMAGE_DOS_HEADER dos;
  DWORD signature = 0;
  if (!ReadAt(file, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || !ReadAt(file, dos.e_lfanew, signature) ||
      signature != IMAGE_NT_SIGNATURE)
    return Broken("not a PE file");
  const size_t fileHeaderAt = dos.e_lfanew + sizeof signature;
  IMAGE_FILE_HEADER header;
  if (!ReadAt(file, fileHeaderAt, header)) return Broken("cut short in the file header");
  pe.machine = header.Machine;
  pe.characteristics = header.Characteristics;
  const size_t optionalAt = fileHeaderAt + sizeof header;
  if (!ReadAt(file, optionalAt, pe.magic)) return Broken("cut short in the optional header");

  IMAGE_DATA_DIRECTORY imports, delayImports;
  bool read;
  if (pe.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    IMAGE_OPTIONAL_HEADER32 optional = {};
    read = ReadAt(file, optionalAt, optional);
    pe.dllCharacteristics = optional.DllCharacteristics;
    imports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    delayImports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  } else {
    IMAGE_OPTIONAL_HEADER64 optional = {};
    read = ReadAt(file, optionalAt, optional);
    pe.dllCharacteristics = optional.DllCharacteristics;
    imports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    delayImports = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  }
  if (!read) return Broken("cut short in the optional header");

  std::vector<IMAGE_SECTION_HEADER> sections(header.NumberOfSections);
  for (size_t i = 0; i < sections.size(); ++i)
    if (!ReadAt(file, optionalAt + header.SizeOfOptionalHeader + i * sizeof(IMAGE_SECTION_HEADER), sections[i]))
      return Broken("cut short in the section table");
  auto offsetOf = [&](DWORD rva) -> size_t {
    for (const IMAGE_SECTION_HEADER& s : sections)
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < std::max(s.Misc.VirtualSize, s.SizeOfRawData))
        return s.PointerToRawData + (rva - s.VirtualAddress);
    return file.size();
  };
  auto nameAt = [&](DWORD rva) {
    size_t at = offsetOf(rva);
    return at < file.size() ? std::string(file.c_str() + at) : std::string("?");
  };

  for (size_t at = offsetOf(imports.VirtualAddress); imports.VirtualAddress; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR entry;
    if (!ReadAt(file, at, entry)) return Broken("cut short in the import table");
    if (!entry.Name) break;
    pe.imports.push_back(nameAt(entry.Name));
  }
  for (size_t at = offsetOf(delayImports.VirtualAddress); delayImports.VirtualAddress;
       at += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
    IMAGE_DELAYLOAD_DESCRIPTOR entry;
    if (!ReadAt(file, at, entry)) return Broken("cut short in the delay-load table");
    if (!entry.DllNameRVA) break;
    pe.imports.push_back(nameAt(entry.DllNameRVA));
  }
  return pe;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Only DLLs that every Windows has: the program is one file, copied anywhere.
void ExpectSystemImportsAndHardening(const std::string& path, WORD machine) {
  SCOPED_TRACE(ToUtf8(path));
  uidriver::Result<std::string> file = uidriver::ReadFileBytes(path);
  ASSERT_TRUE(file) << file.error;
  PeFacts pe = ReadPe(file.value);
  ASSERT_TRUE(pe.error.empty()) << pe.error;

  EXPECT_EQ(pe.machine, machine) << Format("machine %04X", pe.machine);
  EXPECT_EQ(pe.magic, machine == IMAGE_FILE_MACHINE_I386 ? IMAGE_NT_OPTIONAL_HDR32_MAGIC : IMAGE_NT_OPTIONAL_HDR64_MAGIC);
  EXPECT_TRUE(pe.characteristics & IMAGE_FILE_EXECUTABLE_IMAGE);
  EXPECT_FALSE(pe.characteristics & IMAGE_FILE_DLL);
  EXPECT_TRUE(pe.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) << Format("characteristics %04X", pe.characteristics);
  EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
      << Format("DllCharacteristics %04X", pe.dllCharacteristics);
  EXPECT_TRUE(pe.dllCharacteristics & IMAGE_DLLCHARACTERISTICS_NX_COMPAT)
      << Format("DllCharacteristics %04X", pe.dllCharacteristics);

  const std::set<std::string> system = {"KERNEL32.DLL", "USER32.DLL",  "GDI32.DLL",   "COMDLG32.DLL",
                                        "SHELL32.DLL",  "OLE32.DLL",   "OLEAUT32.DLL", "MSVCRT.DLL",
                                        "ADVAPI32.DLL", "COMCTL32.DLL", "SHLWAPI.DLL"};
  EXPECT_FALSE(pe.imports.empty());
  for (const std::string& dll : pe.imports) EXPECT_TRUE(system.count(Upper(dll))) << dll << " is not a system DLL";
}

TEST(PeHeader, I686ProductIsI386WithLargeAddressesAslrDepAndOnlySystemImports) {
  std::string product = kProductExe[0] ? WindowsPath(kProductExe) : sizeof(void*) == 4 ? WindowsPath(kAppExe) : "";
  if (product.empty()) GTEST_SKIP() << "no i686 product here: configure with -DB2T_PRODUCT_EXE=<its path>";
  ExpectSystemImportsAndHardening(product, IMAGE_FILE_MACHINE_I386);
}

TEST(PeHeader, ThisBuildsProgramHasTheSameHardeningAndOnlySystemImports) {
  ExpectSystemImportsAndHardening(WindowsPath(kAppExe),
                                  sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
}

}  // namespace
