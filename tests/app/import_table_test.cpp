// The built program imports only DLLs that the loader always takes from the system, so that no
// DLL planted beside the program (in Downloads, say) runs elevated when it starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/utf.h"

namespace nimbrel {
namespace {

// The names (lower case) of the DLLs in a 64-bit PE file's import and delay-import tables;
// nullopt when the file is not such a program.
std::optional<std::vector<std::string>> ImportedDlls(const std::wstring& Path) {
  std::ifstream File(std::filesystem::path(Path), std::ios::binary);
  const std::vector<char> Image((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  auto At = [&](size_t Offset, size_t Size) -> const char* {
    return Offset + Size <= Image.size() && Offset + Size >= Offset ? Image.data() + Offset : nullptr;
  };
  const auto* Dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(At(0, sizeof(IMAGE_DOS_HEADER)));
  if (Dos == nullptr || Dos->e_magic != IMAGE_DOS_SIGNATURE) return std::nullopt;
  const auto* Nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(At(Dos->e_lfanew, sizeof(IMAGE_NT_HEADERS64)));
  if (Nt == nullptr || Nt->Signature != IMAGE_NT_SIGNATURE ||
      Nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    return std::nullopt;
  const auto* Sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      At(static_cast<size_t>(Dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
             Nt->FileHeader.SizeOfOptionalHeader,
         sizeof(IMAGE_SECTION_HEADER) * Nt->FileHeader.NumberOfSections));
  if (Sections == nullptr) return std::nullopt;
  auto FileOffset = [&](DWORD Rva) -> std::optional<size_t> {
    for (WORD I = 0; I < Nt->FileHeader.NumberOfSections; ++I) {
      const IMAGE_SECTION_HEADER& Section = Sections[I];
      const DWORD Size = std::max(Section.Misc.VirtualSize, Section.SizeOfRawData);
      if (Rva >= Section.VirtualAddress && Rva < Section.VirtualAddress + Size)
        return static_cast<size_t>(Rva - Section.VirtualAddress) + Section.PointerToRawData;
    }
    return std::nullopt;
  };
  auto NameAt = [&](DWORD Rva) -> std::optional<std::string> {
    const auto Offset = FileOffset(Rva);
    if (!Offset || *Offset >= Image.size()) return std::nullopt;
    std::string Name(Image.data() + *Offset, ::strnlen(Image.data() + *Offset, Image.size() - *Offset));
    std::transform(Name.begin(), Name.end(), Name.begin(), [](char C) { return C >= 'A' && C <= 'Z' ? C + 32 : C; });
    return Name;
  };

  std::vector<std::string> Names;
  const IMAGE_DATA_DIRECTORY& Imports = Nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (Imports.VirtualAddress != 0) {
    const auto Start = FileOffset(Imports.VirtualAddress);
    if (!Start) return std::nullopt;
    for (size_t Offset = *Start;; Offset += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
      const auto* Entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(At(Offset, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
      if (Entry == nullptr) return std::nullopt;
      if (Entry->Name == 0) break;
      const auto Name = NameAt(Entry->Name);
      if (!Name) return std::nullopt;
      Names.push_back(*Name);
    }
  }
  const IMAGE_DATA_DIRECTORY& Delayed = Nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
  if (Delayed.VirtualAddress != 0) {
    const auto Start = FileOffset(Delayed.VirtualAddress);
    if (!Start) return std::nullopt;
    for (size_t Offset = *Start;; Offset += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
      const auto* Entry =
          reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(At(Offset, sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)));
      if (Entry == nullptr) return std::nullopt;
      if (Entry->DllNameRVA == 0) break;
      const auto Name = NameAt(Entry->DllNameRVA);
      if (!Name) return std::nullopt;
      Names.push_back(*Name);
    }
  }
  return Names;
}

// The DLLs the program may import: ones the loader takes from the system on every supported
// Windows (known DLLs, ntdll, and comctl32, which the manifest redirects to the side-by-side
// store) and that the first paint needs. The shell, COM and the common dialogs are loaded at
// their first use instead.
const std::set<std::string> SystemDlls = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                          "msvcrt.dll",   "ntdll.dll",  "comctl32.dll"};

std::vector<std::string> UnsafeImports(const std::vector<std::string>& Names) {
  std::vector<std::string> Unsafe;
  for (const std::string& Name : Names)
    if (!SystemDlls.contains(Name)) Unsafe.push_back(Name);
  return Unsafe;
}

TEST(ImportTable, TheProgramImportsOnlySystemDlls) {
  const auto Names = ImportedDlls(L"" NIMBREL_EXE_PATH);
  ASSERT_TRUE(Names.has_value());
  EXPECT_NE(std::find(Names->begin(), Names->end(), "kernel32.dll"), Names->end());
  EXPECT_EQ(UnsafeImports(*Names), std::vector<std::string>{});
}

TEST(ImportTable, APlantedImportIsFound) {
  // Built for this test: a program that imports dwmapi.dll directly.
  const auto Names = ImportedDlls(L"" PLANTED_IMPORT_PATH);
  ASSERT_TRUE(Names.has_value());
  EXPECT_EQ(UnsafeImports(*Names), std::vector<std::string>{"dwmapi.dll"});
  EXPECT_FALSE(ImportedDlls(L"" NIMBREL_EXE_PATH L".absent").has_value());
}

}  // namespace
}  // namespace nimbrel
