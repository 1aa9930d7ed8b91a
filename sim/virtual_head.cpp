#include "sim/virtual_head.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include "device/sector_protocol.h"

namespace varnel {

namespace {

constexpr uint64_t kControlOffset = uint64_t{5216} * kSectorSize;
constexpr uint64_t kAreaAOffset = uint64_t{5280} * kSectorSize;
constexpr uint64_t kAreaBOffset = uint64_t{38048} * kSectorSize;
constexpr uint64_t kAreaSpan = kAreaBOffset - kAreaAOffset;  // 16 MiB

// Full scale of the overlays (frame stamp, moving mark): independent of gain.
constexpr uint16_t kOverlayOn = 0xFFFF;
// Amplitude of the scene at reference gain and exposure (75 % of full scale),
// leaving head-room for brighter settings.
constexpr uint32_t kSceneOn = 0xC000;

// Blanking added to the streamed samples when the frame period comes from the
// pixel clock.
constexpr uint32_t kHorizontalBlank = 64;
constexpr uint32_t kVerticalBlank = 16;

enum class Transport : uint8_t { kTopDown, kBottomUp, kTwoEnded };
enum class WindowSource : uint8_t { kStream, kR2T, kHXA1, kHXB2 };
enum class SubsampleRegs : uint8_t { kNone, kR2T, kHX };
enum class MirrorRegs : uint8_t { kNone, kR2T, kHX };
enum class GainRegs : uint8_t { kNone, kG1, kG2, kG3 };
enum class ExposureRegs : uint8_t { kNone, kReg11, kReg9, kReg82, kReg3166, kE5, kE6 };
enum class TriggerRegs : uint8_t { kNone, kHXA1, kHZG7 };

struct ModelTraits {
  ModelCode code;
  uint32_t width, height;
  RegisterForm registerForm;
  uint32_t wideTopMask;
  Transport transport;
  WindowSource window;
  bool originFromSector;
  SubsampleRegs subsample;
  MirrorRegs mirror;
  GainRegs gain;
  ExposureRegs exposure;
  TriggerRegs trigger;
  uint32_t referenceGain, gainScale, referenceExposure;
  uint32_t nativeBits;
  int bayerPhase;
  bool alwaysEightBit;
};

// Reference gain and exposure are the values the host stores for the model
// by default, so a camera at default settings gives the scene at 75 %.
constexpr ModelTraits kModels[] = {
    {kModelHWH8, 8192, 8192, RegisterForm::kAddress8, 0x3F, Transport::kTopDown,
     WindowSource::kStream, true, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kNone, TriggerRegs::kNone, 14, 32, 1095, 16, 3, false},
    {kModelHXA1, 2048, 1536, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kHXA1, false, SubsampleRegs::kHX, MirrorRegs::kHX, GainRegs::kG1,
     ExposureRegs::kReg9, TriggerRegs::kHXA1, 14, 32, 1095, 10, 3, false},
    {kModelHXB2, 2592, 1944, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kHXB2, false, SubsampleRegs::kHX, MirrorRegs::kHX, GainRegs::kG1,
     ExposureRegs::kReg9, TriggerRegs::kNone, 14, 32, 1095, 12, 3, false},
    {kModelHXE5, 1280, 1024, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp,
     WindowSource::kStream, false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kReg82, TriggerRegs::kNone, 16, 32, 480, 10, 1, false},
    {kModelHXC3, 3264, 2448, RegisterForm::kAddress16, 0x3F, Transport::kTopDown,
     WindowSource::kStream, false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kNone,
     ExposureRegs::kReg3166, TriggerRegs::kNone, 16, 32, 480, 16, 3, false},
    {kModelR2T, 752, 480, RegisterForm::kAddress8, 0x3F, Transport::kBottomUp, WindowSource::kR2T,
     false, SubsampleRegs::kR2T, MirrorRegs::kR2T, GainRegs::kG1, ExposureRegs::kReg11,
     TriggerRegs::kNone, 16, 32, 480, 10, 3, false},
    {kModelHYD4, 1360, 1024, RegisterForm::kWide, 0x3F, Transport::kTopDown, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG2, ExposureRegs::kE5,
     TriggerRegs::kNone, 16, 256, 480, 16, 3, false},
    {kModelHZF6, 1600, 1200, RegisterForm::kWide, 0x3F, Transport::kTopDown, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG2, ExposureRegs::kE5,
     TriggerRegs::kNone, 16, 256, 480, 16, 1, false},
    {kModelHZG7, 2456, 2041, RegisterForm::kWide, 0xFF, Transport::kTwoEnded, WindowSource::kStream,
     false, SubsampleRegs::kNone, MirrorRegs::kNone, GainRegs::kG3, ExposureRegs::kE6,
     TriggerRegs::kHZG7, 16, 256, 480, 8, 1, true},
};

const ModelTraits& TraitsOf(ModelCode model) {
  for (const ModelTraits& traits : kModels) {
    if (traits.code == model) return traits;
  }
  // An unknown code gets the plainest head: the first model's behaviour.
  return kModels[0];
}

uint64_t AlignUp(uint64_t value, uint64_t step) { return (value + step - 1) / step * step; }

uint64_t VolumeSizeOf(const ModelTraits& traits) {
  const uint64_t largestFrame =
      AlignUp(traits.width, 8) * AlignUp(traits.height, 8) * 2 + kSectorSize;
  return kAreaBOffset + AlignUp(std::max(kAreaSpan, largestFrame), kSectorSize);
}

// Significant bits from control byte 96.
uint32_t DepthFromSelect(uint8_t select, uint32_t nativeBits) {
  uint32_t bits;
  switch (select) {
    case 1:
      bits = 8;
      break;
    case 2:
      bits = 10;
      break;
    case 4:
      bits = 12;
      break;
    case 8:
      bits = 14;
      break;
    case 0:
      bits = 16;
      break;
    default:
      bits = nativeBits;
      break;
  }
  return std::min(bits, std::max<uint32_t>(nativeBits, 8));
}

// The colour of the filter over sensor pixel (x, y) for a host-numbered
// phase: phase 0 is G B / R G, phase 1 exchanges the rows, phase 2 the
// columns, phase 3 both. 0 red, 1 green, 2 blue.
int FilterColor(uint32_t x, uint32_t y, int phase) {
  static constexpr int kPhase0[2][2] = {{1, 2}, {0, 1}};
  return kPhase0[(y & 1) ^ (phase & 1)][(x & 1) ^ ((phase >> 1) & 1)];
}

struct Layout {
  uint32_t fieldWidth = 0, fieldHeight = 0;  // as sent in bytes 64-70
  uint32_t pictureWidth = 0, pictureHeight = 0;
  uint32_t bytesPerSample = 1, bits = 8;
  uint32_t rowBytes = 0, frameBytes = 0;
  Transport transport = Transport::kTopDown;
  uint32_t rowsSent = 0;  // picture rows the frame carries (bottom-up: from the window)
  std::vector<int32_t> columnMap, rowMap;  // picture -> sensor, -1 = black
  uint32_t permille = 1000;
  bool monochrome = false;
  int phase = 0;
  // For HeadStream.
  uint32_t windowX = 0, windowY = 0, windowWidth = 0, windowHeight = 0;
  uint32_t stepX = 1, stepY = 1;
  bool mirrorH = false, mirrorV = false;

  bool SameRendering(const Layout& other) const {
    return pictureWidth == other.pictureWidth && pictureHeight == other.pictureHeight &&
           bytesPerSample == other.bytesPerSample && bits == other.bits &&
           rowBytes == other.rowBytes && frameBytes == other.frameBytes &&
           transport == other.transport && rowsSent == other.rowsSent &&
           permille == other.permille && monochrome == other.monochrome && phase == other.phase &&
           columnMap == other.columnMap && rowMap == other.rowMap;
  }

  // Byte offset in the frame of picture pixel (column, row), or -1 when the
  // frame does not carry it.
  int64_t FrameOffset(uint32_t column, uint32_t row) const {
    if (column >= pictureWidth || row >= pictureHeight) return -1;
    uint64_t frameRow = row;
    if (transport == Transport::kBottomUp) {
      if (row >= rowsSent) return -1;
      frameRow = rowsSent - 1 - row;
    }
    uint64_t byte;
    if (transport == Transport::kTwoEnded) {
      // Each two-byte unit k carries column k in its second byte and column
      // width-1-k in its first, so both ends of a row arrive together.
      const uint32_t half = pictureWidth / 2;
      byte = column < half ? 2 * uint64_t{column} + 1 : 2 * uint64_t{pictureWidth - 1 - column};
    } else {
      byte = uint64_t{column} * bytesPerSample;
    }
    const uint64_t offset = frameRow * rowBytes + byte;
    return offset < frameBytes ? static_cast<int64_t>(offset) : -1;
  }

  void Encode(uint32_t level16, uint8_t* out) const {
    if (bytesPerSample == 1) {
      out[0] = static_cast<uint8_t>(level16 >> 8);
      return;
    }
    // The deep encoding: the first byte holds the sample's top eight bits,
    // the second the remaining low bits in its least significant bits.
    const uint32_t sample = level16 >> (16 - bits);
    out[0] = static_cast<uint8_t>(sample >> (bits - 8));
    out[1] = static_cast<uint8_t>(sample & ((1u << (bits - 8)) - 1));
  }
};

struct Patch {
  uint32_t offset;
  uint8_t value;
  bool operator<(const Patch& other) const { return offset < other.offset; }
};

// The picture for one set of settings, as the frame carries it. Every scene
// depends on the sensor row only through its half and its filter row, so a
// frame holds at most four distinct rows besides black ones: each is rendered
// once and a frame row names the one it shows. Nothing of a frame's size is
// ever allocated or filled, which keeps continuous setting changes (each a new
// rendering) cheap even on a slow host.
struct Rendering {
  uint32_t rowBytes = 0;
  uint64_t frameBytes = 0;
  std::vector<uint8_t> rows;  // the distinct rows, rowBytes each
  std::vector<int8_t> rowOf;  // per frame row: index into rows, -1 = black

  // Copies frame bytes [from, from + count) of the picture; from + count must
  // not pass frameBytes.
  void CopyRange(uint64_t from, uint8_t* out, uint32_t count) const {
    const uint64_t end = from + count;
    for (uint64_t at = from; at < end;) {
      const uint64_t row = at / rowBytes;
      const uint32_t within = static_cast<uint32_t>(at % rowBytes);
      const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(rowBytes - within, end - at));
      const int index = rowOf[row];
      if (index < 0) {
        std::memset(out + (at - from), 0, piece);
      } else {
        std::memcpy(out + (at - from), rows.data() + size_t{uint32_t(index)} * rowBytes + within,
                    piece);
      }
      at += piece;
    }
  }
};

// One delivered frame: the shared rendering of the current settings plus the
// few bytes that differ per frame (stamp and mark). Immutable once made, so
// reads copy from it without the head's lock.
struct Frame {
  std::shared_ptr<const Rendering> base;
  std::vector<Patch> patches;
  uint32_t number = 0;

  void CopyOut(uint64_t from, uint8_t* out, uint32_t count) const {
    const uint64_t size = base ? base->frameBytes : 0;
    uint32_t copied = 0;
    if (from < size) {
      copied = static_cast<uint32_t>(std::min<uint64_t>(count, size - from));
      base->CopyRange(from, out, copied);
    }
    if (copied < count) std::memset(out + copied, 0, count - copied);
    auto it =
        std::lower_bound(patches.begin(), patches.end(),
                         Patch{static_cast<uint32_t>(std::min<uint64_t>(from, UINT32_MAX)), 0});
    for (; it != patches.end() && it->offset < from + count; ++it)
      out[it->offset - from] = it->value;
  }
};

struct PendingCommand {
  bool active = false;
  bool write = false;
  RegisterForm form = RegisterForm::kAddress8;
  uint32_t address = 0;
  uint32_t value = 0;
  uint64_t writtenUs = 0;
  uint32_t pollsSeen = 0;
};

}  // namespace

struct VirtualHead::Impl {
  const ModelTraits& traits;
  HeadOptions options;
  // The clock of a test, or null: the head then keeps time in microseconds
  // on the system's steady clock, so that it paces any frame rate exactly
  // (a millisecond clock cannot pace more than about 1000 frames a second).
  Clock* clock;
  uint64_t volumeSize;

  mutable std::mutex mutex;
  std::array<uint8_t, kSectorSize> sector{};
  std::array<uint8_t, kSectorSize> runSector{};
  std::vector<uint32_t> registers;
  std::vector<RegisterExchange> log;
  std::vector<RunExchange> runLog;
  HeadFaults faults;
  SceneOptions scene;
  HeadCounters counters;
  PendingCommand pending;

  bool running = false;
  uint64_t runStartUs = 0;
  uint32_t frameBase = 0;
  uint32_t lastNumber = 0;
  uint32_t lastDelivered = 0;
  bool nextTriggerAreaB = false;
  std::shared_ptr<const Frame> latched[2];

  Layout cachedLayout;
  SceneOptions cachedScene;
  std::shared_ptr<const Rendering> cachedBase;

  bool tickStarted = false;
  uint32_t lastTick = 0;
  uint64_t elapsedUs = 0;
  std::chrono::steady_clock::time_point steadyStart = std::chrono::steady_clock::now();

  bool removed = false;
  char attachedLetter = 0;

  Impl(const ModelTraits& modelTraits, const HeadOptions& headOptions)
      : traits(modelTraits),
        options(headOptions),
        clock(headOptions.clock),
        volumeSize(VolumeSizeOf(modelTraits)),
        registers(modelTraits.registerForm == RegisterForm::kAddress16 ? 0x10000 : 0x400, 0) {
    ResetRegisters();
  }

  uint32_t Reg(uint32_t address) const {
    return address < registers.size() ? registers[address] : 0;
  }

  void ResetRegisters() {
    auto set = [this](uint32_t address, uint32_t value) { registers[address] = value; };
    const uint32_t w = traits.width, h = traits.height;
    switch (traits.window) {
      case WindowSource::kR2T:
        set(1, 0), set(2, 0), set(3, h - 1), set(4, w - 1);
        break;
      case WindowSource::kHXA1:
        set(1, 20), set(2, 32), set(3, h - 1), set(4, w - 1);
        break;
      case WindowSource::kHXB2:
        set(1, 54), set(2, 16), set(3, h - 1), set(4, w - 1);
        break;
      case WindowSource::kStream:
        break;
    }
    const uint32_t gain = traits.referenceGain, exposure = traits.referenceExposure;
    switch (traits.gain) {
      case GainRegs::kG1:
        set(53, gain);
        break;
      case GainRegs::kG2:
        set(6, gain & 0x3F), set(7, gain >> 6);
        break;
      case GainRegs::kG3:
        set(4, gain | 0x10000);
        break;
      case GainRegs::kNone:
        break;
    }
    switch (traits.exposure) {
      case ExposureRegs::kReg11:
        set(11, exposure);
        break;
      case ExposureRegs::kReg9:
        set(9, exposure);
        break;
      case ExposureRegs::kReg82:
        set(82, exposure);
        break;
      case ExposureRegs::kReg3166:
        set(0x3166, exposure);
        break;
      case ExposureRegs::kE5:
        set(158, exposure & 0x3F), set(159, exposure >> 6);
        break;
      case ExposureRegs::kE6:
        set(154, exposure | 0x802000);
        break;
      case ExposureRegs::kNone:
        break;
    }
    // The sensor with trigger registers starts free-running.
    if (traits.trigger == TriggerRegs::kHZG7) set(32, 0x10);
  }

  // Microseconds since the head was made (a test clock counts in whole
  // milliseconds; its unsigned tick differences survive the wrap).
  uint64_t NowUs() {
    if (clock == nullptr) {
      return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now() - steadyStart)
                                       .count());
    }
    const uint32_t tick = clock->TickCount();
    if (!tickStarted) {
      tickStarted = true;
      lastTick = tick;
    }
    elapsedUs += uint64_t{static_cast<uint32_t>(tick - lastTick)} * 1000;
    lastTick = tick;
    return elapsedUs;
  }

  void SleepUs(uint64_t microseconds) {
    if (clock != nullptr) {
      clock->Sleep(static_cast<uint32_t>((microseconds + 999) / 1000));
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    }
  }

  // ---- register effects ----------------------------------------------------

  uint32_t GainValue() const {
    switch (traits.gain) {
      case GainRegs::kG1:
        return Reg(53) & 0xFF;
      case GainRegs::kG2:
        return (Reg(6) & 0x3F) | (Reg(7) & 0x0F) << 6;
      case GainRegs::kG3:
        return Reg(4) & 0x3FF;
      case GainRegs::kNone:
        break;
    }
    return traits.referenceGain;
  }

  uint32_t ExposureValue() const {
    switch (traits.exposure) {
      case ExposureRegs::kReg11:
        return Reg(11) & 0xFFFF;
      case ExposureRegs::kReg9:
        return Reg(9) & 0xFFFF;
      case ExposureRegs::kReg82:
        return Reg(82) & 0xFFFF;
      case ExposureRegs::kReg3166:
        return Reg(0x3166) & 0xFFFF;
      case ExposureRegs::kE5:
        return (Reg(158) & 0x3F) | (Reg(159) & 0x3F) << 6;
      case ExposureRegs::kE6:
        return Reg(154) & 0xFFF;
      case ExposureRegs::kNone:
        break;
    }
    return traits.referenceExposure;
  }

  // Brightness relative to the reference settings: linear in exposure, and
  // linear in (gain scale + gain), so gain 0 still gives a picture.
  uint32_t Permille() const {
    const uint64_t gain = GainValue(), exposure = ExposureValue();
    const uint64_t numerator = 1000 * (traits.gainScale + gain) * exposure;
    const uint64_t denominator =
        uint64_t{traits.gainScale + traits.referenceGain} * traits.referenceExposure;
    return static_cast<uint32_t>(std::min<uint64_t>(numerator / denominator, 1'000'000));
  }

  bool SensorAgreesToTrigger() const {
    switch (traits.trigger) {
      case TriggerRegs::kHXA1:
        return (Reg(30) & 0x0100) != 0;
      case TriggerRegs::kHZG7:
        return (Reg(32) & 0x10) == 0;
      case TriggerRegs::kNone:
        break;
    }
    return true;
  }

  bool TriggerModeActive() const {
    return running && runSector[control::kTrigger] == 1 && SensorAgreesToTrigger();
  }

  Layout ComputeLayout() const {
    Layout layout;
    const uint8_t* rs = runSector.data();
    layout.fieldWidth = rs[control::kWidthLow] | rs[control::kWidthHigh] << 8;
    layout.fieldHeight = rs[control::kHeightLow] | rs[control::kHeightHigh] << 8;
    layout.transport = traits.transport;
    const bool twoEnded = traits.transport == Transport::kTwoEnded;
    layout.bytesPerSample = (traits.alwaysEightBit || rs[control::kEightBit] != 0) ? 1 : 2;
    layout.bits =
        layout.bytesPerSample == 1 ? 8 : DepthFromSelect(rs[control::kBitDepth], traits.nativeBits);
    layout.pictureWidth = twoEnded ? 2 * layout.fieldWidth : layout.fieldWidth;
    layout.rowBytes = layout.pictureWidth * layout.bytesPerSample;
    // A frame that does not fit the volume's frame space is cut at the last
    // whole row that fits.
    const uint64_t maxFrame = volumeSize - kAreaBOffset;
    uint32_t height = layout.fieldHeight;
    if (layout.rowBytes > 0 && uint64_t{layout.rowBytes} * height > maxFrame) {
      height = static_cast<uint32_t>(maxFrame / layout.rowBytes);
    }
    layout.pictureHeight = height;
    layout.frameBytes = layout.rowBytes * height;
    layout.monochrome = options.monochrome;
    layout.phase =
        options.bayerPhase >= 0 && options.bayerPhase <= 3 ? options.bayerPhase : traits.bayerPhase;
    layout.permille = Permille();

    int64_t x0 = 0, y0 = 0;
    uint32_t ww = layout.pictureWidth, wh = layout.pictureHeight;
    switch (traits.window) {
      case WindowSource::kStream:
        if (traits.originFromSector) {
          x0 = rs[control::kOriginXLow] | rs[control::kOriginXHigh] << 8;
          y0 = rs[control::kOriginYLow] | rs[control::kOriginYHigh] << 8;
        }
        break;
      case WindowSource::kR2T:
        x0 = Reg(1) & 0xFFFF, y0 = Reg(2) & 0xFFFF;
        ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
        break;
      case WindowSource::kHXA1:
        x0 = int64_t{Reg(2) & 0xFFFF} - 32, y0 = int64_t{Reg(1) & 0xFFFF} - 20;
        ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
        break;
      case WindowSource::kHXB2:
        x0 = int64_t{Reg(2) & 0xFFFF} - 16, y0 = int64_t{Reg(1) & 0xFFFF} - 54;
        ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
        break;
    }
    x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);

    uint32_t stepX = 1, stepY = 1;
    switch (traits.subsample) {
      case SubsampleRegs::kR2T: {
        auto factor = [](uint32_t value) { return value == 1 ? 2u : value == 2 ? 4u : 1u; };
        stepY = factor(Reg(13) & 0x03);
        stepX = factor((Reg(13) >> 2) & 0x03);
        break;
      }
      case SubsampleRegs::kHX:
        stepY = std::min<uint32_t>((Reg(34) & 0x3F) + 1, 8);
        stepX = std::min<uint32_t>((Reg(35) & 0x3F) + 1, 8);
        break;
      case SubsampleRegs::kNone:
        break;
    }
    switch (traits.mirror) {
      case MirrorRegs::kR2T:
        layout.mirrorH = (Reg(13) & 0x20) != 0;
        layout.mirrorV = (Reg(13) & 0x10) != 0;
        break;
      case MirrorRegs::kHX:
        layout.mirrorH = (Reg(32) & 0x4000) != 0;
        layout.mirrorV = (Reg(32) & 0x8000) != 0;
        break;
      case MirrorRegs::kNone:
        break;
    }
    layout.windowX = static_cast<uint32_t>(x0), layout.windowY = static_cast<uint32_t>(y0);
    layout.windowWidth = ww, layout.windowHeight = wh;
    layout.stepX = stepX, layout.stepY = stepY;

    // Sub-sampling keeps the colour filter pattern: samples are taken in
    // pairs, skipping whole pairs.
    const bool pairs = !options.monochrome;
    auto windowIndex = [pairs](uint32_t picture, uint32_t step) -> uint64_t {
      return pairs ? uint64_t{picture / 2} * 2 * step + (picture & 1) : uint64_t{picture} * step;
    };
    auto buildMap = [&](uint32_t count, uint32_t step, uint32_t extent, int64_t origin, bool mirror,
                        uint32_t sensorExtent, std::vector<int32_t>& map, uint32_t* inWindow) {
      map.assign(count, -1);
      *inWindow = count;
      for (uint32_t p = 0; p < count; ++p) {
        const uint64_t w = windowIndex(p, step);
        if (w >= extent) {
          *inWindow = std::min(*inWindow, p);
          continue;
        }
        const int64_t s = mirror ? origin + extent - 1 - static_cast<int64_t>(w)
                                 : origin + static_cast<int64_t>(w);
        if (s >= 0 && s < sensorExtent) map[p] = static_cast<int32_t>(s);
      }
    };
    uint32_t columnsInWindow = 0, rowsInWindow = 0;
    buildMap(layout.pictureWidth, stepX, ww, x0, layout.mirrorH, traits.width, layout.columnMap,
             &columnsInWindow);
    buildMap(layout.pictureHeight, stepY, wh, y0, layout.mirrorV, traits.height, layout.rowMap,
             &rowsInWindow);
    // A bottom-up read-out starts at the window's last row, so the frame
    // carries only the rows inside the window, last first.
    layout.rowsSent =
        traits.transport == Transport::kBottomUp ? rowsInWindow : layout.pictureHeight;
    return layout;
  }

  // ---- rendering -------------------------------------------------------------

  uint32_t SceneLevel(const SceneOptions& opts, uint32_t x, uint32_t y, int color) const {
    uint32_t rgb[3];
    switch (opts.kind) {
      case SceneKind::kFlatColor:
        rgb[0] = opts.flatColor[0], rgb[1] = opts.flatColor[1], rgb[2] = opts.flatColor[2];
        break;
      case SceneKind::kFlatGray:
        rgb[0] = rgb[1] = rgb[2] = opts.flatLevel;
        break;
      case SceneKind::kBarsAndGradient:
      default:
        if (y < traits.height / 2) {
          // White, yellow, cyan, green, magenta, red, blue, black.
          static constexpr uint8_t kBars[8] = {7, 3, 6, 2, 5, 1, 4, 0};  // bit0 R, bit1 G, bit2 B
          const uint8_t bar = kBars[uint64_t{x} * 8 / traits.width];
          for (int c = 0; c < 3; ++c) rgb[c] = (bar >> c & 1) ? kSceneOn : 0;
        } else {
          rgb[0] = rgb[1] = rgb[2] = static_cast<uint32_t>(uint64_t{x} * kSceneOn /
                                                           std::max<uint32_t>(traits.width - 1, 1));
        }
        break;
    }
    return color < 0 ? (rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29) >> 8 : rgb[color];
  }

  std::shared_ptr<const Rendering> RenderBase(const Layout& layout,
                                              const SceneOptions& opts) const {
    auto rendering = std::make_shared<Rendering>();
    rendering->rowBytes = layout.rowBytes;
    rendering->frameBytes = layout.frameBytes;
    if (layout.frameBytes == 0) return rendering;
    rendering->rowOf.assign(layout.frameBytes / layout.rowBytes, -1);
    int8_t slotOf[4] = {-1, -1, -1, -1};  // distinct row (by key) -> index into rows
    for (uint32_t pr = 0; pr < layout.pictureHeight; ++pr) {
      const int32_t sy = layout.rowMap[pr];
      if (sy < 0) continue;
      if (layout.transport == Transport::kBottomUp && pr >= layout.rowsSent) continue;
      const uint32_t key = (static_cast<uint32_t>(sy) < traits.height / 2 ? 0 : 2) | (sy & 1);
      if (slotOf[key] < 0) {
        slotOf[key] = static_cast<int8_t>(rendering->rows.size() / layout.rowBytes);
        rendering->rows.resize(rendering->rows.size() + layout.rowBytes, 0);
        uint8_t* cached = rendering->rows.data() + size_t{uint32_t(slotOf[key])} * layout.rowBytes;
        for (uint32_t pc = 0; pc < layout.pictureWidth; ++pc) {
          const int32_t sx = layout.columnMap[pc];
          if (sx < 0) continue;
          const int color = layout.monochrome ? -1 : FilterColor(sx, sy, layout.phase);
          const uint64_t level = uint64_t{SceneLevel(opts, sx, sy, color)} * layout.permille / 1000;
          // Position inside the row, as FrameOffset would place it in row 0.
          uint64_t byte;
          if (layout.transport == Transport::kTwoEnded) {
            const uint32_t half = layout.pictureWidth / 2;
            byte = pc < half ? 2 * uint64_t{pc} + 1 : 2 * uint64_t{layout.pictureWidth - 1 - pc};
          } else {
            byte = uint64_t{pc} * layout.bytesPerSample;
          }
          layout.Encode(static_cast<uint32_t>(std::min<uint64_t>(level, 0xFFFF)), cached + byte);
        }
      }
      const uint64_t frameRow =
          layout.transport == Transport::kBottomUp ? layout.rowsSent - 1 - pr : pr;
      rendering->rowOf[frameRow] = slotOf[key];
    }
    return rendering;
  }

  std::vector<Patch> Overlay(const Layout& layout, const SceneOptions& opts,
                             uint32_t number) const {
    std::vector<Patch> patches;
    auto put = [&](uint32_t column, uint32_t row, uint16_t level) {
      const int64_t offset = layout.FrameOffset(column, row);
      if (offset < 0) return;
      uint8_t bytes[2];
      layout.Encode(level, bytes);
      for (uint32_t i = 0; i < layout.bytesPerSample; ++i) {
        if (offset + i < layout.frameBytes) {
          patches.push_back({static_cast<uint32_t>(offset + i), bytes[i]});
        }
      }
    };
    if (opts.stampFrameNumber && layout.pictureWidth >= 128 && layout.pictureHeight >= 8) {
      // 32 cells of 4 × 8 pixels, bit 0 first: the upper half of a cell shows
      // the bit, the lower half its complement, so a reader can tell a stamp
      // from a picture.
      for (uint32_t bit = 0; bit < 32; ++bit) {
        const bool on = (number >> bit & 1) != 0;
        for (uint32_t dy = 0; dy < 8; ++dy) {
          const uint16_t level = (dy < 4) == on ? kOverlayOn : 0;
          for (uint32_t dx = 0; dx < 4; ++dx) put(bit * 4 + dx, dy, level);
        }
      }
    }
    if (opts.movingMark && layout.pictureWidth >= 64 && layout.pictureHeight >= 48) {
      const uint32_t travel = layout.pictureWidth - 48;
      const uint32_t left = 16 + (number * 4) % travel;
      const uint32_t top = layout.pictureHeight / 2 - 8;
      for (uint32_t dy = 0; dy < 16; ++dy) {
        for (uint32_t dx = 0; dx < 16; ++dx) put(left + dx, top + dy, kOverlayOn);
      }
    }
    std::sort(patches.begin(), patches.end());
    return patches;
  }

  std::shared_ptr<const Frame> MakeFrame(uint32_t number) {
    Layout layout = ComputeLayout();
    const SceneOptions opts = scene;
    const bool sameScene = cachedScene.kind == opts.kind &&
                           std::equal(std::begin(opts.flatColor), std::end(opts.flatColor),
                                      std::begin(cachedScene.flatColor)) &&
                           cachedScene.flatLevel == opts.flatLevel;
    if (!cachedBase || !sameScene || !layout.SameRendering(cachedLayout)) {
      cachedBase = RenderBase(layout, opts);
      cachedScene = opts;
      cachedLayout = std::move(layout);
    }
    auto frame = std::make_shared<Frame>();
    frame->base = cachedBase;
    frame->patches = Overlay(cachedLayout, opts, number);
    frame->number = number;
    ++counters.framesRendered;
    return frame;
  }

  double PeriodUs(const Layout& layout) const {
    if (options.framesPerSecond > 0) return 1e6 / options.framesPerSecond;
    const double samples = double(layout.pictureWidth + kHorizontalBlank) *
                           double(layout.pictureHeight + kVerticalBlank);
    const double hz = options.pixelClockHz > 0 ? options.pixelClockHz : 48'000'000.0;
    return std::max(samples / hz * 1e6, 1.0);
  }

  // The frame a read of `areaB` at the area's start delivers: while streaming,
  // the newest finished frame of that area not yet delivered, waiting for the
  // next one when there is none; otherwise whatever the area holds.
  std::shared_ptr<const Frame> NextFrame(bool areaB, std::unique_lock<std::mutex>& lock) {
    const int area = areaB ? 1 : 0;
    if (!running) return latched[area];
    if (TriggerModeActive()) {
      const uint8_t ready = areaB ? control::kFrameReadyB : control::kFrameReadyA;
      if (sector[control::kFrameReady] == ready) sector[control::kFrameReady] = 0;
      if (latched[area]) lastDelivered = std::max(lastDelivered, latched[area]->number);
      return latched[area];
    }
    const double period = PeriodUs(ComputeLayout());
    const uint64_t now = NowUs();
    const uint64_t finished = static_cast<uint64_t>(double(now - runStartUs) / period);
    // Relative frame n goes to area A when odd, to B when even.
    const uint64_t parity = areaB ? 0 : 1;
    const uint64_t delivered = lastDelivered > frameBase ? lastDelivered - frameBase : 0;
    uint64_t n = finished;
    if (n % 2 != parity) n = n == 0 ? 0 : n - 1;
    if (n == 0 || n <= delivered) {
      n = std::max(finished, delivered) + 1;
      if (n % 2 != parity) ++n;
      const double due = double(runStartUs) + double(n) * period;
      const uint64_t start = runStartUs;
      if (due > double(now)) {
        const uint64_t wait = static_cast<uint64_t>(std::ceil(due - double(now)));
        lock.unlock();
        SleepUs(wait);
        lock.lock();
        NowUs();
        // A stop or restart while waiting: deliver what the area holds.
        if (!running || runStartUs != start || TriggerModeActive()) return latched[area];
      }
    }
    const uint32_t number = frameBase + static_cast<uint32_t>(n);
    latched[area] = MakeFrame(number);
    lastDelivered = std::max(lastDelivered, number);
    lastNumber = std::max(lastNumber, number);
    return latched[area];
  }

  // ---- control sector ----------------------------------------------------

  void RefreshStatus() {
    if (faults.statusZero) {
      sector[control::kStatus] = 0;
      return;
    }
    if (!pending.active) return;
    const uint8_t busy = pending.write ? control::kStatusWriteBusy : control::kStatusReadBusy;
    const uint8_t done = pending.write ? control::kStatusWriteDone : control::kStatusReadDone;
    const uint8_t other = pending.write ? control::kStatusReadDone : control::kStatusWriteDone;
    if (faults.statusStuckBusy) {
      sector[control::kStatus] = busy;
    } else if (faults.otherDirectionOnly) {
      sector[control::kStatus] = other;
    } else if (pending.pollsSeen < faults.busyPolls ||
               NowUs() < pending.writtenUs + uint64_t{faults.answerDelayMs} * 1000) {
      ++pending.pollsSeen;
      sector[control::kStatus] = busy;
    } else {
      Execute();
      sector[control::kStatus] = done;
    }
  }

  void Execute() {
    pending.active = false;
    uint32_t& slot = registers[pending.address];
    if (pending.write) {
      slot = pending.value;
      return;
    }
    sector[control::kReadLow] = static_cast<uint8_t>(slot & 0xFF);
    sector[control::kReadHigh] = static_cast<uint8_t>((slot >> 8) & 0xFF);
    if (pending.form == RegisterForm::kWide) {
      sector[control::kWideData] = static_cast<uint8_t>((slot >> 16) & 0xFF);
    }
  }

  void RegisterCommand() {
    const uint8_t* s = sector.data();
    const bool write = s[control::kRegisterCommand] == control::kCommandWrite;
    RegisterExchange exchange;
    exchange.write = write;
    uint32_t value = s[control::kDataLow] | s[control::kDataHigh] << 8;
    switch (traits.registerForm) {
      case RegisterForm::kAddress16:
        exchange.form = RegisterForm::kAddress16;
        exchange.address = s[control::kAddressLow] | s[control::kAddress16High] << 8;
        break;
      case RegisterForm::kWide:
        exchange.form = RegisterForm::kWide;
        exchange.address = s[control::kAddressLow] | (s[control::kAddressHigh] & 0x03) << 8;
        value |= (s[control::kWideData] & traits.wideTopMask) << 16;
        break;
      case RegisterForm::kAddress8:
        exchange.address = s[control::kAddressLow] | (s[control::kAddressHigh] & 0x03) << 8;
        exchange.form =
            (s[control::kAddressHigh] & 0x03) != 0 ? RegisterForm::kWide : RegisterForm::kAddress8;
        if (exchange.form == RegisterForm::kWide) value |= (s[control::kWideData] & 0x3F) << 16;
        break;
    }
    exchange.value = write ? value : Reg(exchange.address);
    const bool refused = faults.refusedRegisters.count(exchange.address) != 0;
    exchange.accepted =
        !(refused || faults.statusZero || faults.statusStuckBusy || faults.otherDirectionOnly);
    log.push_back(exchange);

    pending = PendingCommand{};
    if (refused || faults.statusZero) {
      // Refused: the status says nothing, and the host gives up at once.
      sector[control::kStatus] = 0;
      return;
    }
    pending.active = true;
    pending.write = write;
    pending.form = exchange.form;
    pending.address = exchange.address;
    pending.value = value;
    pending.writtenUs = NowUs();
    const bool delayed = faults.statusStuckBusy || faults.otherDirectionOnly ||
                         faults.busyPolls > 0 || faults.answerDelayMs > 0;
    if (delayed) {
      sector[control::kStatus] = write ? control::kStatusWriteBusy : control::kStatusReadBusy;
    } else {
      Execute();
      sector[control::kStatus] = write ? control::kStatusWriteDone : control::kStatusReadDone;
    }
  }

  void RunCommand(bool run) {
    RunExchange exchange;
    exchange.run = run;
    std::memcpy(exchange.sector, sector.data(), kSectorSize);
    runLog.push_back(exchange);
    if (running) {
      // Frames that finished before the stop keep their numbers.
      const double period = PeriodUs(ComputeLayout());
      const uint64_t finished = static_cast<uint64_t>(double(NowUs() - runStartUs) / period);
      lastNumber = std::max<uint64_t>(lastNumber, frameBase + finished);
    }
    runSector = sector;
    sector[control::kFrameReady] = 0;
    running = run;
    if (run) {
      runStartUs = NowUs();
      frameBase = std::max(lastNumber, lastDelivered);
      nextTriggerAreaB = false;
    }
  }

  void WriteControl(const uint8_t* data, uint32_t from, uint32_t count) {
    // Bytes the camera owns stay the camera's whatever the host writes back.
    const uint8_t readLow = sector[control::kReadLow], readHigh = sector[control::kReadHigh];
    const uint8_t status = sector[control::kStatus], ready = sector[control::kFrameReady];
    std::memcpy(sector.data() + from, data, count);
    sector[control::kReadLow] = readLow, sector[control::kReadHigh] = readHigh;
    sector[control::kStatus] = status, sector[control::kFrameReady] = ready;

    const uint8_t command = sector[control::kRegisterCommand];
    if (command == control::kCommandWrite || command == control::kCommandRead) {
      RegisterCommand();
      // The command is consumed, so a later read-modify-write of the sector
      // does not repeat it.
      sector[control::kRegisterCommand] = 0;
      return;
    }
    const bool touchesRun = from <= control::kRunCommand && control::kRunCommand < from + count;
    const uint8_t run = sector[control::kRunCommand];
    if (touchesRun && (run == control::kRun || run == control::kStop)) {
      RunCommand(run == control::kRun);
    }
  }

  // Fault switches common to every transfer. False when the transfer fails.
  bool TransferAllowed(std::unique_lock<std::mutex>& lock) {
    if (removed) return false;
    if (faults.failAfterTransfers == 0) return false;
    if (faults.failAfterTransfers > 0) --faults.failAfterTransfers;
    if (faults.transferDelayMs > 0) {
      const uint32_t delay = faults.transferDelayMs;
      ++counters.delayedTransfers;
      lock.unlock();
      SleepUs(uint64_t{delay} * 1000);
      lock.lock();
      if (removed) return false;
    }
    return true;
  }
};

VirtualHead::VirtualHead(ModelCode model, const HeadOptions& options)
    : model_(model), impl_(std::make_unique<Impl>(TraitsOf(model), options)) {}

VirtualHead::~VirtualHead() = default;

uint32_t VirtualHead::sensorWidth() const { return impl_->traits.width; }
uint32_t VirtualHead::sensorHeight() const { return impl_->traits.height; }
uint64_t VirtualHead::volumeSize() const { return impl_->volumeSize; }

uint64_t VirtualHead::ControlOffset() { return kControlOffset; }
uint64_t VirtualHead::AreaAOffset() { return kAreaAOffset; }
uint64_t VirtualHead::AreaBOffset() { return kAreaBOffset; }

bool VirtualHead::ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  if (!d.TransferAllowed(lock)) return false;
  if (size == 0 || offset >= d.volumeSize) return true;
  uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size, d.volumeSize - offset));
  auto* out = static_cast<uint8_t*>(data);

  if (offset < kAreaAOffset) {
    std::memset(out, 0, count);
    const uint64_t end = offset + count;
    if (offset < kControlOffset + kSectorSize && end > kControlOffset) {
      d.RefreshStatus();
      const uint64_t from = std::max(offset, kControlOffset);
      const uint64_t to = std::min(end, kControlOffset + kSectorSize);
      std::memcpy(out + (from - offset), d.sector.data() + (from - kControlOffset), to - from);
      ++d.counters.controlReads;
    } else {
      ++d.counters.otherTransfers;
    }
    if (transferred != nullptr) *transferred = count;
    return true;
  }

  const bool areaB = offset >= kAreaBOffset;
  const uint64_t within = offset - (areaB ? kAreaBOffset : kAreaAOffset);
  std::shared_ptr<const Frame> frame;
  if (within == 0) {
    ++d.counters.frameReads;
    if (d.faults.failedFrameReads > 0) {
      --d.faults.failedFrameReads;
      return false;
    }
    if (d.faults.shortFrameReads > 0) {
      --d.faults.shortFrameReads;
      count = (count / 2) & ~(kSectorSize - 1);
    }
    frame = d.NextFrame(areaB, lock);
  } else {
    frame = d.latched[areaB ? 1 : 0];
    if (!frame) frame = d.NextFrame(areaB, lock);
  }
  lock.unlock();
  if (frame) {
    frame->CopyOut(within, out, count);
  } else {
    std::memset(out, 0, count);
  }
  if (transferred != nullptr) *transferred = count;
  return true;
}

bool VirtualHead::WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  if (!d.TransferAllowed(lock)) return false;
  if (size == 0 || offset >= d.volumeSize) return true;
  const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size, d.volumeSize - offset));
  const uint64_t end = offset + count;
  if (offset < kControlOffset + kSectorSize && end > kControlOffset) {
    const uint64_t from = std::max(offset, kControlOffset);
    const uint64_t to = std::min(end, kControlOffset + kSectorSize);
    d.WriteControl(static_cast<const uint8_t*>(data) + (from - offset),
                   static_cast<uint32_t>(from - kControlOffset), static_cast<uint32_t>(to - from));
    ++d.counters.controlWrites;
  } else {
    // Writes elsewhere reach no function of the camera; they are accepted.
    ++d.counters.otherTransfers;
  }
  if (transferred != nullptr) *transferred = count;
  return true;
}

bool VirtualHead::AttachTo(char16_t letter) {
  std::shared_ptr<VirtualHead> self = weak_from_this().lock();
  const char normalized = NormalizeDriveLetter(letter);
  if (!self || normalized == 0) return false;
  if (!AttachDevice(normalized, self)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->attachedLetter = normalized;
  return true;
}

void VirtualHead::Detach() {
  char letter;
  {
    std::lock_guard lock(impl_->mutex);
    letter = impl_->attachedLetter;
    impl_->attachedLetter = 0;
  }
  if (letter != 0 && FindAttachedDevice(letter).get() == this) DetachDevice(letter);
}

void VirtualHead::Remove() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->removed = true;
  }
  Detach();
}

bool VirtualHead::removed() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->removed;
}

uint32_t VirtualHead::PeekRegister(uint32_t address) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->Reg(address);
}

void VirtualHead::PokeRegister(uint32_t address, uint32_t value) {
  std::lock_guard lock(impl_->mutex);
  if (address < impl_->registers.size()) impl_->registers[address] = value & 0xFFFFFF;
}

std::vector<RegisterExchange> VirtualHead::RegisterLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->log;
}

std::vector<RunExchange> VirtualHead::RunLog() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->runLog;
}

void VirtualHead::ClearLogs() {
  std::lock_guard lock(impl_->mutex);
  impl_->log.clear();
  impl_->runLog.clear();
}

void VirtualHead::ControlSector(uint8_t* sector) const {
  std::lock_guard lock(impl_->mutex);
  std::memcpy(sector, impl_->sector.data(), kSectorSize);
}

HeadStream VirtualHead::Stream() const {
  std::lock_guard lock(impl_->mutex);
  const Impl& d = *impl_;
  const Layout layout = d.ComputeLayout();
  HeadStream stream;
  stream.running = d.running;
  stream.triggerMode = d.TriggerModeActive();
  stream.streamWidth = layout.fieldWidth;
  stream.streamHeight = layout.fieldHeight;
  stream.rowBytes = layout.rowBytes;
  stream.frameBytes = layout.frameBytes;
  stream.bytesPerSample = layout.bytesPerSample;
  stream.significantBits = layout.bits;
  stream.windowX = layout.windowX, stream.windowY = layout.windowY;
  stream.windowWidth = layout.windowWidth, stream.windowHeight = layout.windowHeight;
  stream.subsampleX = layout.stepX, stream.subsampleY = layout.stepY;
  stream.mirrorH = layout.mirrorH, stream.mirrorV = layout.mirrorV;
  stream.brightnessPermille = layout.permille;
  stream.syncBits = d.runSector[control::kSync];
  return stream;
}

HeadCounters VirtualHead::Counters() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->counters;
}

void VirtualHead::SetScene(const SceneOptions& scene) {
  std::lock_guard lock(impl_->mutex);
  impl_->scene = scene;
}

SceneOptions VirtualHead::Scene() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->scene;
}

void VirtualHead::SetFrameRate(double framesPerSecond) {
  std::lock_guard lock(impl_->mutex);
  impl_->options.framesPerSecond = framesPerSecond > 0 ? framesPerSecond : 0;
}

void VirtualHead::SetPixelClock(uint32_t hz) {
  std::lock_guard lock(impl_->mutex);
  impl_->options.pixelClockHz = hz;
}

uint32_t VirtualHead::LastDeliveredFrame() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->lastDelivered;
}

bool VirtualHead::Trigger() {
  std::lock_guard lock(impl_->mutex);
  Impl& d = *impl_;
  if (d.removed || !d.TriggerModeActive()) return false;
  const uint32_t number = std::max(d.lastNumber, d.lastDelivered) + 1;
  d.lastNumber = number;
  const int area = d.nextTriggerAreaB ? 1 : 0;
  d.latched[area] = d.MakeFrame(number);
  d.sector[control::kFrameReady] = area == 1 ? control::kFrameReadyB : control::kFrameReadyA;
  d.nextTriggerAreaB = !d.nextTriggerAreaB;
  return true;
}

void VirtualHead::SetFaults(const HeadFaults& faults) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults = faults;
}

HeadFaults VirtualHead::Faults() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->faults;
}

std::optional<uint32_t> VirtualHead::ReadStamp(const uint8_t* picture, uint32_t width,
                                               uint32_t height, size_t rowPitch,
                                               uint32_t bytesPerSample) {
  if (picture == nullptr || width < 128 || height < 8 || bytesPerSample < 1 || bytesPerSample > 2) {
    return std::nullopt;
  }
  auto bright = [&](uint32_t column, uint32_t row) {
    const uint8_t* sample = picture + row * rowPitch + size_t{column} * bytesPerSample;
    uint8_t top = sample[0];
    if (bytesPerSample == 2) top = std::max(top, sample[1]);
    return top >= 0x80;
  };
  uint32_t number = 0;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const bool upper = bright(bit * 4 + 1, 1);
    if (upper == bright(bit * 4 + 1, 5)) return std::nullopt;
    if (upper) number |= 1u << bit;
  }
  return number;
}

std::optional<uint32_t> VirtualHead::ReadFrameNumber(const void* frame, size_t size) const {
  Layout layout;
  {
    std::lock_guard lock(impl_->mutex);
    layout = impl_->ComputeLayout();
  }
  const auto* bytes = static_cast<const uint8_t*>(frame);
  auto bright = [&](uint32_t column, uint32_t row) -> std::optional<bool> {
    const int64_t offset = layout.FrameOffset(column, row);
    if (offset < 0 || static_cast<uint64_t>(offset) >= size) return std::nullopt;
    return bytes[offset] >= 0x80;
  };
  if (frame == nullptr || layout.pictureWidth < 128 || layout.pictureHeight < 8) {
    return std::nullopt;
  }
  uint32_t number = 0;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const std::optional<bool> upper = bright(bit * 4 + 1, 1);
    const std::optional<bool> lower = bright(bit * 4 + 1, 5);
    if (!upper || !lower || *upper == *lower) return std::nullopt;
    if (*upper) number |= 1u << bit;
  }
  return number;
}

}  // namespace varnel
