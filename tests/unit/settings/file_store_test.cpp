// The Linux settings store file: where it lives, that concurrent writers
// never lose each other's changes or show a reader half a file, and that it
// replaces only a file it could read.
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "platform/posix/registry_posix.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "support/settings_store_guard.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

// Sets (or, with nothing, removes) environment variables for its lifetime.
class ScopedEnvironment {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Fault caught: the store looked for somewhere else than VARNEL_REGISTRY, the
// XDG configuration directory beside the drives directory, or ~/.config.
TEST(FileStoreTest, StoreFileFollowsTheEnvironment) {
  struct Case {
    std::optional<std::string> registry, config, home;
    std::string expected;
  };
  const Case cases[] = {
      {"/data/settings.reg", "/cfg", "/home/u", "/data/settings.reg"},
      {"", "/cfg", "/home/u", "/cfg/varnel/registry.reg"},
      {std::nullopt, "/cfg", "/home/u", "/cfg/varnel/registry.reg"},
      {std::nullopt, "", "/home/u", "/home/u/.config/varnel/registry.reg"},
      {std::nullopt, std::nullopt, "/home/u", "/home/u/.config/varnel/registry.reg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnvironment environment;
    environment.Set("VARNEL_REGISTRY", c.registry);
    environment.Set("XDG_CONFIG_HOME", c.config);
    environment.Set("HOME", c.home);
    EXPECT_EQ(RegistryFilePath(), c.expected);
  }
}

// Writes `count` values named "<prefix><i>", one write session each.
bool WriteValues(const std::string& prefix, int count) {
  for (int i = 0; i < count; ++i) {
    auto session = SystemRegistry().Begin(RegistryAccess::kWrite);
    auto key = session->CreateKey("Software\\Test");
    if (key == nullptr || !key->WriteDword((prefix + std::to_string(i)).c_str(), i)) return false;
    if (!session->Commit()) return false;
  }
  return true;
}

// Fault caught: two processes saving at once losing each other's values (a
// read-modify-write without the lock), a reader seeing a half-written file
// (a rewrite in place instead of a rename), temporary files left behind.
TEST(FileStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  testing::SettingsStoreGuard store;
  constexpr int kValues = 40;
  std::vector<pid_t> children;
  for (const char* prefix : {"A", "B"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(WriteValues(prefix, kValues) ? 0 : 1);
    children.push_back(pid);
  }
  // A reader alongside: every file it finds must be complete.
  const pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    for (int i = 0; i < 400; ++i) {
      const std::string bytes = ReadBytes(store.FilePath());
      RegistryFile file;
      std::string error;
      if (!bytes.empty() && !RegistryFile::Parse(bytes, &file, &error)) _exit(2);
    }
    _exit(0);
  }
  children.push_back(reader);
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "child " << child << " " << status;
  }

  RegistryFile file;
  std::string error;
  ASSERT_TRUE(RegistryFile::Parse(ReadBytes(store.FilePath()), &file, &error)) << error;
  const RegistryFileKey* key = file.FindKey("HKEY_CURRENT_USER\\Software\\Test");
  ASSERT_NE(key, nullptr);
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < kValues; ++i) {
      const RegistryFileValue* value = RegistryFile::FindValue(*key, prefix + std::to_string(i));
      ASSERT_NE(value, nullptr) << prefix << i << " lost";
      EXPECT_EQ(value->dword, static_cast<uint32_t>(i));
    }
  }
  const std::string name = fs::path(store.FilePath()).filename().string();
  for (const auto& entry : fs::directory_iterator(fs::path(store.FilePath()).parent_path())) {
    const std::string other = entry.path().filename().string();
    EXPECT_TRUE(other == name || other == name + ".lock") << "left behind: " << other;
  }
}

// Saves, one session each, a tree of `kGenerationValues` values that all hold
// the save's generation number, from `first` upward, until killed.
constexpr int kGenerationValues = 400;

bool SaveGeneration(uint32_t generation) {
  auto session = SystemRegistry().Begin(RegistryAccess::kWrite);
  auto key = session->CreateKey("Software\\Generations");
  if (key == nullptr) return false;
  for (int i = 0; i < kGenerationValues; ++i) {
    if (!key->WriteDword(("V" + std::to_string(i)).c_str(), static_cast<int32_t>(generation)))
      return false;
  }
  return session->Commit();
}

[[noreturn]] void SaveGenerationsForever(uint32_t first) {
  for (uint32_t generation = first;; ++generation) {
    if (!SaveGeneration(generation)) _exit(1);
  }
}

// The generation the store file holds; fails the test when the file is not one
// complete save (missing, unreadable, values of two saves or missing values).
uint32_t StoredGeneration(const std::string& path) {
  RegistryFile file;
  std::string error;
  if (!RegistryFile::Parse(ReadBytes(path), &file, &error)) {
    ADD_FAILURE() << "store file unreadable: " << error;
    return 0;
  }
  const RegistryFileKey* key = file.FindKey("HKEY_CURRENT_USER\\Software\\Generations");
  if (key == nullptr) {
    ADD_FAILURE() << "store file without the saved key";
    return 0;
  }
  const RegistryFileValue* first = RegistryFile::FindValue(*key, "V0");
  for (int i = 0; i < kGenerationValues; ++i) {
    const RegistryFileValue* value = RegistryFile::FindValue(*key, "V" + std::to_string(i));
    if (value == nullptr || first == nullptr || value->dword != first->dword) {
      ADD_FAILURE() << "store file mixes saves or lacks V" << i;
      return 0;
    }
  }
  return first->dword;
}

// Fault caught: a save killed part-way leaving a truncated or mixed file (a
// rewrite in place, a rename before the data is written), a file going back
// to an older save, the lock of a killed writer never given back (the other
// writer would wait for ever), other writers' values lost, and temporary
// files of killed saves piling up.
TEST(FileStoreTest, SavesKilledAtRandomPointsLeaveTheOldOrTheNewFile) {
  testing::SettingsStoreGuard store;
  constexpr int kKills = 80;
  constexpr int kOtherValues = 60;

  // How long one save takes here: the kills are spread over a few saves'
  // time, so that they land at all points of one, on any machine.
  const auto started = std::chrono::steady_clock::now();
  for (uint32_t generation = 1; generation <= 4; ++generation) {
    ASSERT_TRUE(SaveGeneration(generation));
  }
  const auto perSave = (std::chrono::steady_clock::now() - started) / 4;
  const int64_t spreadUs = std::max<int64_t>(
      200, 3 * std::chrono::duration_cast<std::chrono::microseconds>(perSave).count());

  // A second writer saving all along, never killed.
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) _exit(WriteValues("Other", kOtherValues) ? 0 : 1);

  std::mt19937 random(16);
  std::uniform_int_distribution<int64_t> delay(0, spreadUs);
  const std::string name = fs::path(store.FilePath()).filename().string();
  uint32_t seen = 4;
  int unfinishedFound = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      close(started[0]);
      const char ready = 1;
      if (write(started[1], &ready, 1) != 1) _exit(1);
      SaveGenerationsForever(seen + 1);
    }
    // The delay counts from the writer's first save, not from the fork.
    close(started[1]);
    char ready = 0;
    ASSERT_EQ(read(started[0], &ready, 1), 1);
    close(started[0]);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    ::kill(writer, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself: " << status;
    const uint32_t generation = StoredGeneration(store.FilePath());
    if (::testing::Test::HasFailure()) break;
    EXPECT_GE(generation, seen) << "the file went back to an older save";
    seen = std::max(seen, generation);
    for (const auto& entry : fs::directory_iterator(fs::path(store.FilePath()).parent_path())) {
      if (entry.path().filename().string().rfind(name + ".tmp-", 0) == 0) ++unfinishedFound;
    }
  }

  // The other writer finishes (a lock left held by a killed writer would
  // keep it waiting: the bound is generous, it returns as soon as it is done).
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 1200 && done == 0; ++i) {
    done = waitpid(other, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    ::kill(other, SIGKILL);
    waitpid(other, &status, 0);
    FAIL() << "the other writer did not finish within a minute";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  // One more save clears what killed saves left, and keeps every value.
  ASSERT_TRUE(WriteValues("Last", 1));
  RegistryFile file;
  std::string error;
  ASSERT_TRUE(RegistryFile::Parse(ReadBytes(store.FilePath()), &file, &error)) << error;
  const RegistryFileKey* key = file.FindKey("HKEY_CURRENT_USER\\Software\\Test");
  ASSERT_NE(key, nullptr);
  for (int i = 0; i < kOtherValues; ++i) {
    EXPECT_NE(RegistryFile::FindValue(*key, "Other" + std::to_string(i)), nullptr)
        << "Other" << i << " lost";
  }
  for (const auto& entry : fs::directory_iterator(fs::path(store.FilePath()).parent_path())) {
    const std::string left = entry.path().filename().string();
    EXPECT_TRUE(left == name || left == name + ".lock") << "left behind: " << left;
  }
  std::printf(
      "%d writers killed at random points; the store held generation %u; %d kills "
      "landed while a new file was being written\n",
      kKills, seen, unfinishedFound);
}

// Fault caught: a store that exists but cannot be read being replaced (its
// settings would be lost unseen), a session ended without a commit writing,
// a store named through a link replacing the link.
TEST(FileStoreTest, OnlyACommittedSessionOnAReadableStoreWrites) {
  testing::SettingsStoreGuard store;
  const auto write = [] {
    auto session = SystemRegistry().Begin(RegistryAccess::kWrite);
    auto key = session->CreateKey("Software\\Test");
    return key != nullptr && key->WriteDword("V", 1) && session->Commit();
  };

  {  // No commit: nothing written.
    auto session = SystemRegistry().Begin(RegistryAccess::kWrite);
    ASSERT_NE(session->CreateKey("Software\\Test"), nullptr);
  }
  EXPECT_FALSE(fs::exists(store.FilePath()));

  // A directory where the file should be cannot be read: never replaced.
  fs::create_directory(store.FilePath());
  EXPECT_FALSE(write());
  EXPECT_TRUE(fs::is_directory(store.FilePath()));
  fs::remove(store.FilePath());

  // Through a link: the target is replaced and the link stays.
  const std::string target = store.FilePath() + ".target";
  std::ofstream(target) << "REGEDIT4\n";
  fs::create_symlink(target, store.FilePath());
  EXPECT_TRUE(write());
  EXPECT_TRUE(fs::is_symlink(store.FilePath()));
  EXPECT_NE(ReadBytes(target).find("\"V\"=dword:00000001"), std::string::npos);
  fs::remove(target);
}

}  // namespace
}  // namespace varnel
#endif
