// varnelcam --virtual: an in-process virtual camera head on a drive letter.
// The head is not part of the library; the library finds it exactly as it
// finds an attached camera, through its drive list.
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"
#include "device/model_code.h"
#include "sim/virtual_head.h"

namespace varnelcam {

const char* const kVirtualModels = "HWH8, HXA1, HXB2, HXE5, HXC3, R2T, HYD4, HZF6 or HZG7";

namespace {

class InProcessCamera : public VirtualCamera {
 public:
  explicit InProcessCamera(std::shared_ptr<varnel::VirtualHead> head) : head_(std::move(head)) {}
  ~InProcessCamera() override { head_->Detach(); }
  bool FireTrigger() override { return head_->Trigger(); }
  bool Armed() override { return head_->Stream().triggerMode; }
  void StartTriggers(double hz, uint64_t count) override { head_->StartTriggers(hz, count); }
  bool TriggersRunning() override { return head_->TriggersRunning(); }
  HeadTriggerCounts TriggerCounts() override {
    const varnel::TriggerCounters c = head_->TriggerStats();
    return HeadTriggerCounts{c.fired, c.taken, c.cleared, c.read};
  }
  double ReadoutMs() override { return head_->ReadoutUs() / 1000.0; }

 private:
  std::shared_ptr<varnel::VirtualHead> head_;
};

}  // namespace

std::unique_ptr<VirtualCamera> StartVirtualCamera(const std::string& model, char letter, double fps,
                                                  int* status) {
  std::string upper = model;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  varnel::ModelCode code = 0;
  for (varnel::ModelCode candidate : varnel::kModelList) {
    const char name[5] = {static_cast<char>(candidate & 0xFF),
                          static_cast<char>((candidate >> 8) & 0xFF),
                          static_cast<char>((candidate >> 16) & 0xFF),
                          static_cast<char>((candidate >> 24) & 0xFF), 0};
    if (upper == name) code = candidate;
  }
  if (code == 0) {
    *status = Complain(kExitUsage, "unknown camera model '" + model + "' (one of " +
                                       std::string(kVirtualModels) + ")");
    return nullptr;
  }
  varnel::HeadOptions options;
  options.framesPerSecond = fps;
  auto head = std::make_shared<varnel::VirtualHead>(code, options);
  if (!head->AttachTo(static_cast<char16_t>(letter))) {
    *status = Complain(kExitFailed, std::string("drive ") + letter + ": is taken");
    return nullptr;
  }
  return std::make_unique<InProcessCamera>(std::move(head));
}

}  // namespace varnelcam
