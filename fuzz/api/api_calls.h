// The program a varnel_api_fuzz input describes, and the table of the 118
// exports it calls with arguments taken from the input.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "varnel.h"

namespace varnel::fuzz {

// A pointer and the size passed with it; the memory is exactly `size` bytes.
struct Buffer {
  void* data;
  int size;
};

class Program {
 public:
  Program(const uint8_t* data, size_t size);
  ~Program();
  void Run();

  // Argument makers, each consuming input.
  CameraHandle Handle();
  int Int();
  HWND Window();
  int* IntOut();
  CameraInfo* Info();
  char* DriveNames();
  Buffer NameBuffer();
  char* FileName();
  Buffer FrameBuffer(CameraHandle handle);

  // Totals over the whole run, for the closing figures.
  static uint64_t TotalCalls() { return totalCalls_; }
  static uint64_t TotalFaults() { return totalFaults_; }
  static uint64_t TotalRemovals() { return totalRemovals_; }

 private:
  struct State;
  CameraHandle PickHandle();
  void CameraAction();
  void Released(CameraHandle handle);

  FuzzedDataProvider input_;
  std::unique_ptr<State> state_;
  CameraHandle lastHandle_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> scratch_;  // freed after each call
  std::vector<std::string> names_;
  static inline uint64_t totalCalls_ = 0;
  static inline uint64_t totalFaults_ = 0;
  static inline uint64_t totalRemovals_ = 0;
};

struct ApiCall {
  enum Kind { kOther, kInitialize, kRelease, kGetLastError };
  const char* name;
  Kind kind;
  int64_t (*run)(Program& p);
};

// The 118 exports, in the order of varnel.h.
const std::vector<ApiCall>& ApiCalls();

}  // namespace varnel::fuzz
