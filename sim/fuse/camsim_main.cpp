// varnel-camsim: the virtual camera head served as a FUSE file system, so that
// any process (the Linux library through its drives directory, or the Windows
// library under Wine through a prefix's dosdevices) reaches it with ordinary
// file I/O, exactly as it reaches a real camera volume.
//
// Each mount holds these files:
//   volume    the camera volume (opened with direct_io, so every read and write
//             reaches the head; no page cache sits between host and camera)
//   model     the head's model code, as text
//   trigger   the trigger input: a write fires one trigger, or starts or stops
//             a steady-rate trigger
//   triggers  what became of the triggers, as text
//   faults    the head's fault switches: read shows them, one NAME VALUE a
//             line; writing NAME VALUE lines changes them
// and fails the free-space query, as a disk without a file system does.
//
// One process serves one head per mount point given, each on a FUSE loop of
// its own thread, so that several cameras' frames are read at once.
//
// A head is armed for triggers by the program that sent its last run command;
// when that program's volume handle closes (the program stopped, or died),
// the head leaves trigger mode, as a camera whose host has gone away.
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/fault_settings.h"
#include "sim/virtual_head.h"

namespace varnel {
namespace {

constexpr const char kUsageHead[] =
    "Usage: varnel-camsim [HEAD OPTIONS] MOUNTPOINT [[HEAD OPTIONS] MOUNTPOINT ...]\n"
    "\n"
    "Serves a virtual camera head as a FUSE file system on each MOUNTPOINT, with\n"
    "the head options given before it, and runs in the foreground until SIGINT or\n"
    "SIGTERM (or until every mount is gone), then unmounts. For example four\n"
    "cameras on drives V: to Y: of a drives directory D:\n"
    "  varnel-camsim --model HXA1 --link D:v m1  --model HXB2 --link D:w m2 \\\n"
    "                --model HZF6 --link D:x m3  --model HZG7 --link D:y m4\n"
    "\n"
    "  MOUNTPOINT/volume   the camera volume (control sector and frame areas)\n"
    "  MOUNTPOINT/model    the head's model code (HXA1 ...), as text: a camera's\n"
    "                      volume has no such file, so only a virtual head tells\n"
    "                      its model\n"
    "  MOUNTPOINT/trigger  the trigger input. A write of 'rate HZ [COUNT]' starts a\n"
    "                      steady-rate trigger (COUNT pulses, or until 'stop'),\n"
    "                      'stop' stops it, and any other write fires one trigger;\n"
    "                      that write fails with EAGAIN when the trigger started\n"
    "                      no frame (the head is not waiting for triggers, or both\n"
    "                      frame areas hold frames the host has not read)\n"
    "  MOUNTPOINT/triggers reads 'armed', 'fired', 'taken', 'ignored', 'overrun',\n"
    "                      'cleared' and 'read' counts and 'readout-us', one a line\n"
    "  MOUNTPOINT/faults   the camera's faults: reading it shows each one as a\n"
    "                      NAME VALUE line; writing NAME VALUE lines changes them\n"
    "                      (an unknown name or a bad value fails the write with\n"
    "                      EINVAL and changes nothing), for example\n"
    "                        echo 'removed 1' > MOUNTPOINT/faults\n"
    "  The free-space query (statfs) on the mount fails, as on a camera drive.\n"
    "\n"
    "Faults:\n";

constexpr const char kUsage[] =
    "\n"
    "Head options (each applies to the next MOUNTPOINT):\n"
    "  --model CODE      camera model: HWH8, HXA1 (default), HXB2, HXE5, HXC3, R2T,\n"
    "                    HYD4, HZF6 or HZG7\n"
    "  --fps N           frame rate; without it the rate follows the model's pixel\n"
    "                    clock and the stream size\n"
    "  --trigger-rate HZ[:COUNT]\n"
    "                    each time a host arms the head for triggers, fire COUNT\n"
    "                    triggers (default: until it is disarmed) at a steady rate\n"
    "  --link DIR:LETTER create DIR/letter: -> MOUNTPOINT and DIR/letter:: ->\n"
    "                    MOUNTPOINT/volume (DIR is a Linux drives directory or a\n"
    "                    Wine prefix's dosdevices); removed again on exit\n"
    "  --help            show this text\n";

std::string Usage() { return std::string(kUsageHead) + kFaultSettingsHelp + kUsage; }

// One head and its mount. Every request of a mount comes on that mount's
// own loop thread.
struct Daemon {
  std::shared_ptr<VirtualHead> head;
  // What a head plugged in again is made with.
  ModelCode model = kModelHXA1;
  HeadOptions options;
  // Volume handles, numbered as they are opened; the one whose write was the
  // last run or stop command (0: none). The mount's loop is single-threaded,
  // so these need no lock.
  uint64_t lastHandle = 0;
  uint64_t runBy = 0;
  // --trigger-rate: the steady-rate trigger each arming starts (0: none).
  double armRate = 0;
  uint64_t armCount = 0;
};

// The head of the mount whose request this thread serves.
Daemon& State() { return *static_cast<Daemon*>(fuse_get_context()->private_data); }

enum class Node { kNone, kRoot, kVolume, kModel, kTrigger, kTriggers, kFaults };

Node Lookup(const char* path) {
  if (strcmp(path, "/") == 0) return Node::kRoot;
  if (strcmp(path, "/volume") == 0) return Node::kVolume;
  if (strcmp(path, "/model") == 0) return Node::kModel;
  if (strcmp(path, "/trigger") == 0) return Node::kTrigger;
  if (strcmp(path, "/faults") == 0) return Node::kFaults;
  if (strcmp(path, "/triggers") == 0) return Node::kTriggers;
  return Node::kNone;
}

// The text of the triggers file.
std::string TriggerReport() {
  VirtualHead& head = *State().head;
  const TriggerCounters c = head.TriggerStats();
  char text[512];
  snprintf(text, sizeof text,
           "armed %d\nfired %llu\ntaken %llu\nignored %llu\noverrun %llu\ncleared %llu\n"
           "read %llu\nreadout-us %.0f\n",
           head.Stream().triggerMode ? 1 : 0, static_cast<unsigned long long>(c.fired),
           static_cast<unsigned long long>(c.taken), static_cast<unsigned long long>(c.ignored),
           static_cast<unsigned long long>(c.overrun), static_cast<unsigned long long>(c.cleared),
           static_cast<unsigned long long>(c.read), head.ReadoutUs());
  return text;
}

// A model code as its characters ("HXA1", "R2T").
std::string ModelName(ModelCode model) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((model >> (8 * i)) & 0xFF);
    if (c != '\0') text += c;
  }
  return text;
}

// The text of the model file: the model code and a newline.
std::string ModelText() { return ModelName(State().model) + "\n"; }

// A write to the trigger file: 'rate HZ [COUNT]', 'stop', or one pulse.
int TriggerWrite(const char* data, size_t size) {
  VirtualHead& head = *State().head;
  const std::string text(data, std::min<size_t>(size, 256));
  double hz = 0;
  unsigned long long count = 0;
  if (sscanf(text.c_str(), " rate %lf %llu", &hz, &count) >= 1) {
    if (!(hz > 0) || hz > 100000) return -EINVAL;
    head.StartTriggers(hz, count);
    return static_cast<int>(size);
  }
  char word[8] = {};
  if (sscanf(text.c_str(), " %7s", word) == 1 && strcmp(word, "stop") == 0) {
    head.StopTriggers();
    return static_cast<int>(size);
  }
  return head.Trigger() ? static_cast<int>(size) : -EAGAIN;
}

// The text of the faults file: one NAME VALUE line a switch.
std::string FaultsText() {
  const VirtualHead& head = *State().head;
  return FormatFaultSettings(head.Faults(), head.removed());
}

// Takes NAME VALUE lines written to the faults file. The mount's FUSE loop
// has one thread, so the head can be replaced here without a lock: every
// request that uses it comes on this thread.
int ApplyFaults(const char* buffer, size_t size) {
  Daemon& daemon = State();
  HeadFaults faults = daemon.head->Faults();
  int removed = daemon.head->removed() ? 1 : 0;
  std::string error;
  if (!ParseFaultSettings(std::string(buffer, size), &faults, &removed, &error)) {
    fprintf(stderr, "varnel-camsim: faults: %s\n", error.c_str());
    return -EINVAL;
  }
  if (removed == 0 && daemon.head->removed()) {
    // Plugged in again: a camera as after power-on, with the switches given.
    daemon.head = std::make_shared<VirtualHead>(daemon.model, daemon.options);
  }
  daemon.head->SetFaults(faults);
  if (removed == 1 && !daemon.head->removed()) daemon.head->Remove();
  return static_cast<int>(size);
}

void* Init(fuse_conn_info* /*conn*/, fuse_config* config) {
  // Every read must reach the head: a cached frame is a stale frame.
  config->direct_io = 1;
  config->kernel_cache = 0;
  config->attr_timeout = 0;
  config->entry_timeout = 0;
  // What Init returns is every later request's private data: the mount's head.
  return fuse_get_context()->private_data;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* /*fi*/) {
  memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  switch (Lookup(path)) {
    case Node::kRoot:
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
      return 0;
    case Node::kVolume:
      st->st_mode = S_IFREG | 0666;
      st->st_nlink = 1;
      st->st_size = static_cast<off_t>(State().head->volumeSize());
      return 0;
    case Node::kTrigger:
      st->st_mode = S_IFREG | 0222;
      st->st_nlink = 1;
      return 0;
    case Node::kFaults:
      st->st_mode = S_IFREG | 0666;
      st->st_nlink = 1;
      st->st_size = static_cast<off_t>(FaultsText().size());
      return 0;
    case Node::kModel:
      st->st_mode = S_IFREG | 0444;
      st->st_nlink = 1;
      st->st_size = static_cast<off_t>(ModelText().size());
      return 0;
    case Node::kTriggers:
      // The size is unknown until read: direct_io reads until a short read.
      st->st_mode = S_IFREG | 0444;
      st->st_nlink = 1;
      return 0;
    case Node::kNone:
      break;
  }
  return -ENOENT;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/,
            fuse_file_info* /*fi*/, fuse_readdir_flags /*flags*/) {
  if (Lookup(path) != Node::kRoot) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "volume", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "model", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "trigger", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "faults", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "triggers", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  const Node node = Lookup(path);
  if (node == Node::kNone || node == Node::kRoot) return -ENOENT;
  if (node == Node::kTrigger && (fi->flags & O_ACCMODE) == O_RDONLY) return -EACCES;
  if ((node == Node::kTriggers || node == Node::kModel) && (fi->flags & O_ACCMODE) != O_RDONLY) {
    return -EACCES;
  }
  fi->direct_io = 1;
  fi->keep_cache = 0;
  fi->fh = node == Node::kVolume ? ++State().lastHandle : 0;
  return 0;
}

int Release(const char* path, fuse_file_info* fi) {
  Daemon& daemon = State();
  if (Lookup(path) == Node::kVolume && fi->fh != 0 && fi->fh == daemon.runBy) {
    daemon.runBy = 0;
    // The program that started the head has closed its volume: a head left
    // waiting for its triggers would take them for nobody.
    if (daemon.head->Stream().triggerMode) daemon.head->StopRun();
  }
  return 0;
}

int Truncate(const char* path, off_t /*size*/, fuse_file_info* /*fi*/) {
  // Opening the trigger or the faults with O_TRUNC (as a shell redirection
  // does) is fine; the volume's size is the camera's and cannot change.
  const Node node = Lookup(path);
  return node == Node::kTrigger || node == Node::kFaults ? 0 : -EPERM;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* /*fi*/) {
  if (offset < 0) return -EINVAL;
  const Node node = Lookup(path);
  if (node == Node::kFaults || node == Node::kTriggers || node == Node::kModel) {
    const std::string text = node == Node::kFaults     ? FaultsText()
                             : node == Node::kTriggers ? TriggerReport()
                                                       : ModelText();
    if (static_cast<size_t>(offset) >= text.size()) return 0;
    const size_t count = std::min(size, text.size() - static_cast<size_t>(offset));
    memcpy(buffer, text.data() + offset, count);
    return static_cast<int>(count);
  }
  if (Lookup(path) != Node::kVolume) return -EACCES;
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, INT_MAX));
  uint32_t done = 0;
  if (!State().head->ReadAt(static_cast<uint64_t>(offset), buffer, count, &done)) return -EIO;
  return static_cast<int>(done);
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  switch (Lookup(path)) {
    case Node::kVolume: {
      if (offset < 0) return -EINVAL;
      const uint32_t count = static_cast<uint32_t>(std::min<size_t>(size, INT_MAX));
      uint32_t done = 0;
      Daemon& daemon = State();
      const uint64_t runsBefore = daemon.head->Counters().runCommands;
      if (!daemon.head->WriteAt(static_cast<uint64_t>(offset), buffer, count, &done)) {
        return -EIO;
      }
      if (daemon.head->Counters().runCommands != runsBefore) {
        daemon.runBy = fi->fh;
        if (daemon.armRate > 0 && daemon.head->Stream().triggerMode) {
          daemon.head->StartTriggers(daemon.armRate, daemon.armCount);
        }
      }
      return static_cast<int>(done);
    }
    case Node::kTrigger:
      if (size == 0) return 0;
      return TriggerWrite(buffer, size);
    case Node::kFaults:
      // Each write carries whole lines (as echo and a program's write of
      // its text do); where in the file it lands does not matter.
      return ApplyFaults(buffer, size);
    default:
      return -EACCES;
  }
}

int StatFs(const char* /*path*/, struct statvfs* /*st*/) {
  // A camera volume carries no file system: the free-space query fails.
  return -EIO;
}

bool ParseModel(std::string text, ModelCode* model) {
  if (text.empty() || text.size() > 4) return false;
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ModelCode code = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    code |= static_cast<ModelCode>(static_cast<uint8_t>(text[i])) << (8 * i);
  }
  for (ModelCode known : kModelList) {
    if (known == code) {
      *model = code;
      return true;
    }
  }
  return false;
}

// The two drive entries made by --link, removed at exit when they are still
// the links this process made.
struct Links {
  std::string root, volume;
  std::string rootTarget, volumeTarget;

  static bool Place(const std::string& path, const std::string& target) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        fprintf(stderr, "varnel-camsim: %s exists and is not a link; not replacing it\n",
                path.c_str());
        return false;
      }
      unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
      fprintf(stderr, "varnel-camsim: cannot create %s: %s\n", path.c_str(), strerror(errno));
      return false;
    }
    return true;
  }

  static void RemoveIfOurs(const std::string& path, const std::string& target) {
    if (path.empty()) return;
    char buffer[PATH_MAX + 1];
    const ssize_t length = readlink(path.c_str(), buffer, PATH_MAX);
    if (length < 0) return;
    buffer[length] = '\0';
    if (target == buffer) unlink(path.c_str());
  }

  void Remove() {
    RemoveIfOurs(root, rootTarget);
    RemoveIfOurs(volume, volumeTarget);
  }
};

// What the options before one mount point asked for.
struct HeadSpec {
  ModelCode model = kModelHXA1;
  double fps = 0;
  double armRate = 0;
  unsigned long long armCount = 0;
  std::string link, mountpoint;
};

// One served head: its state, its links, its FUSE instance and loop thread.
struct Mount {
  Daemon daemon;
  Links links;
  std::string mountpoint;
  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse* fs = nullptr;
  bool mounted = false;
  pthread_t thread{};
  bool running = false;
  std::atomic<bool> ended{false};
  int loopResult = 0;
};

// SIGUSR1 only has to interrupt a loop thread's wait for the next request,
// so that it sees its session has been told to exit.
void WakeLoop(int) {}

void* LoopThread(void* argument) {
  Mount& mount = *static_cast<Mount*>(argument);
  // One thread a mount: a mount's requests are answered in the order they
  // arrive, so the pieces of one large frame read come from one frame.
  mount.loopResult = fuse_loop(mount.fs);
  mount.ended = true;
  return nullptr;
}

// Parses one head option at argv[i]; returns 1 when taken, 0 when argv[i] is
// not a head option, or the exit status (2) on a bad value.
int TakeHeadOption(int argc, char** argv, int& i, HeadSpec& spec) {
  const std::string arg = argv[i];
  auto value = [&](const char* name) -> const char* {
    if (i + 1 >= argc) {
      fprintf(stderr, "varnel-camsim: %s needs a value\n%s", name, Usage().c_str());
      return nullptr;
    }
    return argv[++i];
  };
  if (arg == "--model") {
    const char* text = value("--model");
    if (text == nullptr) return 2;
    if (!ParseModel(text, &spec.model)) {
      fprintf(stderr, "varnel-camsim: unknown model '%s'\n%s", text, Usage().c_str());
      return 2;
    }
    return 1;
  }
  if (arg == "--fps") {
    const char* text = value("--fps");
    if (text == nullptr) return 2;
    char* end = nullptr;
    spec.fps = strtod(text, &end);
    if (end == text || *end != '\0' || !(spec.fps > 0) || spec.fps > 100000) {
      fprintf(stderr, "varnel-camsim: bad frame rate '%s'\n", text);
      return 2;
    }
    return 1;
  }
  if (arg == "--trigger-rate") {
    const char* text = value("--trigger-rate");
    if (text == nullptr) return 2;
    double hz = 0;
    unsigned long long count = 0;
    char extra = 0;
    const int fields = sscanf(text, "%lf:%llu%c", &hz, &count, &extra);
    if ((fields != 1 && fields != 2) || !(hz > 0) || hz > 100000) {
      fprintf(stderr, "varnel-camsim: --trigger-rate wants HZ or HZ:COUNT, not '%s'\n", text);
      return 2;
    }
    spec.armRate = hz;
    spec.armCount = count;
    return 1;
  }
  if (arg == "--link") {
    const char* text = value("--link");
    if (text == nullptr) return 2;
    spec.link = text;
    return 1;
  }
  return 0;
}

// The mount point made absolute and the links of --link; false after saying why.
bool PrepareMount(const HeadSpec& spec, Mount& mount) {
  char resolved[PATH_MAX];
  if (realpath(spec.mountpoint.c_str(), resolved) == nullptr) {
    fprintf(stderr, "varnel-camsim: mount point %s: %s\n", spec.mountpoint.c_str(),
            strerror(errno));
    return false;
  }
  mount.mountpoint = resolved;
  if (!spec.link.empty()) {
    const size_t colon = spec.link.rfind(':');
    const std::string dir = colon == std::string::npos ? "" : spec.link.substr(0, colon);
    const std::string letterText = colon == std::string::npos ? "" : spec.link.substr(colon + 1);
    if (dir.empty() || letterText.size() != 1 ||
        !std::isalpha(static_cast<unsigned char>(letterText[0]))) {
      fprintf(stderr, "varnel-camsim: --link wants DIR:LETTER, got '%s'\n", spec.link.c_str());
      return false;
    }
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letterText[0])));
    mount.links.root = dir + "/" + letter + ":";
    mount.links.volume = dir + "/" + letter + "::";
    mount.links.rootTarget = mount.mountpoint;
    mount.links.volumeTarget = mount.mountpoint + "/volume";
  }
  Daemon& daemon = mount.daemon;
  daemon.model = spec.model;
  daemon.options.framesPerSecond = spec.fps;
  daemon.armRate = spec.armRate;
  daemon.armCount = spec.armCount;
  daemon.head = std::make_shared<VirtualHead>(spec.model, daemon.options);
  return true;
}

// Mounts one head and places its links; false when either failed.
bool StartMount(Mount& mount, const char* program, const fuse_operations& operations) {
  fuse_opt_add_arg(&mount.args, program);
  // Unmount even when the daemon dies without cleaning up.
  fuse_opt_add_arg(&mount.args, "-oauto_unmount");
  mount.fs = fuse_new(&mount.args, &operations, sizeof operations, &mount.daemon);
  if (mount.fs == nullptr) return false;
  if (fuse_mount(mount.fs, mount.mountpoint.c_str()) != 0) return false;
  mount.mounted = true;
  if (!mount.links.root.empty() && !(Links::Place(mount.links.root, mount.links.rootTarget) &&
                                     Links::Place(mount.links.volume, mount.links.volumeTarget))) {
    return false;
  }
  return true;
}

// Ends a mount's loop (when it runs), then unmounts it and removes its links.
void StopMount(Mount& mount) {
  if (mount.running) {
    fuse_session_exit(fuse_get_session(mount.fs));
    // The loop may be waiting for a request: a signal interrupts the wait,
    // and is sent again in case it came just before the wait began.
    while (!mount.ended) {
      pthread_kill(mount.thread, SIGUSR1);
      usleep(20000);
    }
    pthread_join(mount.thread, nullptr);
    mount.running = false;
  }
  mount.links.Remove();
  if (mount.mounted) fuse_unmount(mount.fs);
  mount.mounted = false;
  if (mount.fs != nullptr) fuse_destroy(mount.fs);
  mount.fs = nullptr;
  fuse_opt_free_args(&mount.args);
}

int Main(int argc, char** argv) {
  std::vector<HeadSpec> specs;
  HeadSpec next;
  bool pending = false;  // head options given without a mount point yet
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(Usage().c_str(), stdout);
      return 0;
    }
    const int taken = TakeHeadOption(argc, argv, i, next);
    if (taken > 1) return taken;
    if (taken == 1) {
      pending = true;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      fprintf(stderr, "varnel-camsim: unknown option '%s'\n%s", arg.c_str(), Usage().c_str());
      return 2;
    }
    next.mountpoint = arg;
    specs.push_back(next);
    next = HeadSpec();
    pending = false;
  }
  if (specs.empty()) {
    fprintf(stderr, "varnel-camsim: no mount point\n%s", Usage().c_str());
    return 2;
  }
  if (pending) {
    fprintf(stderr, "varnel-camsim: head options after the last mount point\n%s", Usage().c_str());
    return 2;
  }

  std::vector<std::unique_ptr<Mount>> mounts;
  for (const HeadSpec& spec : specs) {
    mounts.push_back(std::make_unique<Mount>());
    if (!PrepareMount(spec, *mounts.back())) return spec.link.empty() ? 1 : 2;
  }

  // A shell starts background jobs with SIGINT ignored, and an ignored signal
  // is thrown away even while it is blocked; the daemon promises to stop on
  // SIGINT, so put the defaults back first. The stop signals are then
  // blocked in every thread and taken by this one alone.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction wake {};
  wake.sa_handler = WakeLoop;  // no SA_RESTART: the wait for a request ends
  sigemptyset(&wake.sa_mask);
  sigaction(SIGUSR1, &wake, nullptr);

  fuse_operations operations{};
  operations.init = Init;
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.release = Release;
  operations.truncate = Truncate;
  operations.read = Read;
  operations.write = Write;
  operations.statfs = StatFs;

  bool started = true;
  for (auto& mount : mounts) {
    if (!StartMount(*mount, argv[0], operations)) {
      started = false;
      break;
    }
    if (pthread_create(&mount->thread, nullptr, LoopThread, mount.get()) != 0) {
      started = false;
      break;
    }
    mount->running = true;
    fprintf(stderr, "varnel-camsim: serving camera volume (%s) on %s\n",
            ModelName(mount->daemon.model).c_str(), mount->mountpoint.c_str());
  }
  int status = started ? 0 : 1;
  if (started) {
    // Until a stop signal, or until every mount has gone (unmounted from
    // outside).
    for (;;) {
      timespec poll{0, 200 * 1000 * 1000};
      if (sigtimedwait(&stopSignals, nullptr, &poll) > 0) break;
      if (std::all_of(mounts.begin(), mounts.end(), [](const auto& m) { return m->ended.load(); }))
        break;
    }
  }
  for (auto& mount : mounts) {
    StopMount(*mount);
    if (mount->loopResult < 0) status = 1;
  }
  return status;
}

}  // namespace
}  // namespace varnel

int main(int argc, char** argv) { return varnel::Main(argc, argv); }
