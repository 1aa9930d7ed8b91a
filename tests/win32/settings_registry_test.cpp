// The settings store against the real registry, checked with the system's
// own tools: what the library stores is what `reg query` shows, a file in the
// Linux store's format imports with the registry editor, and the editor's
// export reads in that format.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/registry_file.h"
#include "sim/virtual_head.h"
#include "support/settings_store_guard.h"
#include "varnel.h"

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

// Fault caught: the first run writing its values under another key or name,
// with another type than REG_DWORD, or in the wrong number of bytes, as the
// system's own registry tool shows them.
TEST(SettingsRegistryTest, FirstRunIsWhatRegQueryShows) {
  testing::SettingsStoreGuard store;
  auto head = std::make_shared<VirtualHead>(kModelHXA1);
  ASSERT_TRUE(head->AttachTo(u'Q'));
  const CameraHandle h = Varnel_Initialize(nullptr);
  char names[32][256];
  const int count = Varnel_EnumDevice(h, &names[0][0]);
  for (int i = 0; i < count; ++i) {
    if (std::string(names[i]) == "Q:") Varnel_SetDeviceNumber(h, i);
  }
  ASSERT_EQ(Varnel_SetCameraType(h, 1), 1);
  ASSERT_EQ(Varnel_GetLastError(h), 0);
  ASSERT_EQ(Varnel_Release(h), 1);
  head->Detach();

  const std::string out = TempFile("varnel-reg-query.txt");
  ASSERT_EQ(RunCommand("cmd.exe /c reg query \"HKCU\\Software\\Holvik\\VarnelRadeSdk\" /s > \"" +
                       out + "\""),
            0);
  const std::string shown = ReadBytes(out);
  DeleteFileA(out.c_str());
  const char* expected[] = {
      "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Size_00",
      "EH    REG_DWORD    0x800",
      "EV    REG_DWORD    0x600",
      "Buf    REG_DWORD    0xa",
      "Color    REG_DWORD    0x2",
      "WaitTime    REG_DWORD    0xa",
      "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Gain",
      "Exposure    REG_DWORD    0x447",
      "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Filter",
      "BayerMode    REG_DWORD    0x3",
      "HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk\\Gray",
      "GainR1    REG_DWORD    0x80",
  };
  for (const char* line : expected) EXPECT_NE(shown.find(line), std::string::npos) << line;
  EXPECT_EQ(shown.find("REG_SZ"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("REG_BINARY"), std::string::npos) << shown;
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
