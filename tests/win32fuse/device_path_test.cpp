// Under Wine, the camera drive that varnel-camsim presents through the
// prefix's dosdevices, seen with the Win32 calls the library makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

char Letter() {
  const char* letter = std::getenv("VARNEL_CAMSIM_LETTER");
  return letter != nullptr ? static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])))
                           : 0;
}

TEST(Win32CameraDriveTest, EnumeratedAsFixedDriveWhoseFreeSpaceQueryFails) {
  const char letter = Letter();
  if (letter == 0) GTEST_SKIP() << "run through tests/fuse/run_with_camsim.sh --wine";
  EXPECT_NE(GetLogicalDrives() & (1u << (letter - 'A')), 0u);
  const char root[] = {letter, ':', '\\', '\0'};
  EXPECT_EQ(GetDriveTypeA(root), static_cast<UINT>(DRIVE_FIXED));
  ULARGE_INTEGER available{}, total{}, free{};
  EXPECT_FALSE(GetDiskFreeSpaceExA(root, &available, &total, &free));
}

TEST(Win32CameraDriveTest, DevicePathOpensTheVolumeForSectorTransfers) {
  const char letter = Letter();
  if (letter == 0) GTEST_SKIP() << "run through tests/fuse/run_with_camsim.sh --wine";
  wchar_t path[] = L"\\\\.\\X:";
  path[4] = static_cast<wchar_t>(letter);
  HANDLE volume =
      CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE) << GetLastError();

  // A register write by hand: command 1, address 0x35, data 0x0102; the
  // camera answers with the write-done bit in byte 42.
  const LONG control = 5216 * 512;
  std::vector<unsigned char> sector(512);
  DWORD moved = 0;
  ASSERT_NE(SetFilePointer(volume, control, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(ReadFile(volume, sector.data(), 512, &moved, nullptr));
  ASSERT_EQ(moved, 512u);
  sector[34] = 1, sector[36] = 0x35, sector[37] = 0, sector[38] = 0x02, sector[39] = 0x01;
  ASSERT_NE(SetFilePointer(volume, control, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(WriteFile(volume, sector.data(), 512, &moved, nullptr));
  ASSERT_EQ(moved, 512u);
  ASSERT_NE(SetFilePointer(volume, control, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  ASSERT_TRUE(ReadFile(volume, sector.data(), 512, &moved, nullptr));
  EXPECT_EQ(sector[42] & 0x02, 0x02);
  CloseHandle(volume);
}

TEST(Win32CameraDriveTest, MissingDriveIsNotOpened) {
  // A letter with no dosdevices entry: the open fails with the invalid handle.
  HANDLE volume =
      CreateFileW(L"\\\\.\\K:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(volume, INVALID_HANDLE_VALUE);
  if (volume != INVALID_HANDLE_VALUE) CloseHandle(volume);
}

}  // namespace
