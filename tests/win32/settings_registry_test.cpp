// The Linux store's file format against the real registry editor: a file the
// store writes imports there, and the editor's export reads in the store.
// (The interface suite runs under Wine against the real registry and reads
// every stored value back with RegQueryValueExA.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/registry_file.h"
#include "support/settings_store_guard.h"

namespace varnel {
namespace {

// Runs a command line and returns its exit code (or -1 when it cannot run).
int RunCommand(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return -1;
  }
  // A bound far above any run of the tool; a tool still running then reads
  // as a failure (STILL_ACTIVE) rather than hanging the suite.
  WaitForSingleObject(process.hProcess, 120000);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

std::string TempFile(const char* name) {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + name;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Fault caught: a Linux store file that the registry editor would not import
// (header, encoding, escapes, names beyond ASCII), or one of its exports that
// the Linux store would misread.
TEST(SettingsRegistryTest, StoreFileAndRegistryEditorUnderstandEachOther) {
  testing::SettingsStoreGuard store;
  const std::string path = TempFile("varnel-store.reg");
  const std::string main = "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk";

  // Ours into the editor.
  RegistryFile file;
  bool created = false;
  RegistryFile::SetDword(file.CreateKey(main, &created), "Size", 3);
  RegistryFile::SetDword(file.CreateKey(main + "\\Gray", &created), "OffsetR1",
                         static_cast<uint32_t>(-7));
  RegistryFile::SetDword(file.CreateKey(main + "\\Gain", &created), "A \"quoted\\\" name", 9);
  { std::ofstream(path, std::ios::binary) << file.Format(); }
  ASSERT_EQ(RunCommand("regedit.exe /S \"" + path + "\""), 0);
  EXPECT_EQ(store.Read("", "Size"), 3);
  EXPECT_EQ(store.Read("Gray", "OffsetR1"), -7);
  EXPECT_EQ(store.Read("Gain", "A \"quoted\\\" name"), 9);

  // Beyond ASCII the file is UTF-16, as the editor writes it.
  RegistryFile wide;
  RegistryFile::SetDword(wide.CreateKey(main + "\\Filter", &created),
                         "Gr\xC3\xBC\xC3\x9F"
                         "e",
                         77);
  { std::ofstream(path, std::ios::binary) << wide.Format(); }
  ASSERT_EQ(RunCommand("regedit.exe /S \"" + path + "\""), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Holvik\\VarnelRadeSdk\\Filter", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD type = 0, data = 0, size = sizeof data;
  EXPECT_EQ(RegQueryValueExW(key, L"Gr\u00FC\u00DFe", nullptr, &type,
                             reinterpret_cast<BYTE*>(&data), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, 77u);

  // The editor's export into ours, with values of other types beside.
  store.Seed({{"", "Color", 4},
              {"Gain", "Global", -1},
              {"Gain", "Text", 12, testing::SeedType::kString},
              {"Gain", "Bytes", 12, testing::SeedType::kBinary}});
  DeleteFileA(path.c_str());
  ASSERT_EQ(RunCommand("regedit.exe /E \"" + path + "\" \"" + main + "\""), 0);
  const std::string exported = ReadBytes(path);
  DeleteFileA(path.c_str());
  RegistryFile parsed;
  std::string error;
  ASSERT_TRUE(RegistryFile::Parse(exported, &parsed, &error)) << error;
  const RegistryFileKey* mainKey = parsed.FindKey(main);
  const RegistryFileKey* gainKey = parsed.FindKey(main + "\\Gain");
  ASSERT_NE(mainKey, nullptr);
  ASSERT_NE(gainKey, nullptr);
  const RegistryFileValue* color = RegistryFile::FindValue(*mainKey, "Color");
  const RegistryFileValue* global = RegistryFile::FindValue(*gainKey, "Global");
  const RegistryFileValue* text = RegistryFile::FindValue(*gainKey, "Text");
  const RegistryFileValue* bytes = RegistryFile::FindValue(*gainKey, "Bytes");
  ASSERT_TRUE(color && global && text && bytes);
  EXPECT_TRUE(color->isDword && color->dword == 4u);
  EXPECT_TRUE(global->isDword && global->dword == 0xFFFFFFFFu);
  EXPECT_FALSE(text->isDword);
  EXPECT_FALSE(bytes->isDword);
  EXPECT_EQ(text->data, "\"12\"") << "a string not kept as the editor wrote it";
  EXPECT_EQ(bytes->data, "hex:0c,00,00,00");
  // The name beyond ASCII imported above comes back through the UTF-16 export.
  const RegistryFileKey* filterKey = parsed.FindKey(main + "\\Filter");
  ASSERT_NE(filterKey, nullptr);
  const RegistryFileValue* named = RegistryFile::FindValue(*filterKey,
                                                           "Gr\xC3\xBC\xC3\x9F"
                                                           "e");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->dword, 77u);
}

}  // namespace
}  // namespace varnel
