// The classic 2.5 frame-server plug-in interface, written to its binary
// layout on x86-64 Linux (Itanium C++ ABI). A host built against its own
// header passes these types across the library boundary, so field order and
// width, virtual-slot order and the by-value passing rules must match
// exactly; the static_asserts at the end pin what a host relies on.
//
// Everything here is inline and compiled into whoever includes it. The
// plug-in builds with hidden visibility, so these inline definitions never
// bind to the host's own exported copies of the same names.
#pragma once

// Host-independent code (built with TALLYBURN_CORE) never sees a host.
#if defined(TALLYBURN_CORE)
#error "avisynth.h is for the 2.5 door and our own hosts, not for host-independent code"
#endif

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <type_traits>

// Calling-convention markers of the 32-bit Windows interface: meaningless on
// x86-64, kept empty so declarations read as in the interface.
#if !defined(_WIN32)
#define __stdcall  // NOLINT(bugprone-reserved-identifier): the interface's own name
#define __cdecl    // NOLINT(bugprone-reserved-identifier)
#endif

using int64 = long long;
using uint8 = unsigned char;

enum { AVISYNTH_INTERFACE_VERSION = 2 };

enum { PLANAR_Y = 1, PLANAR_U = 2, PLANAR_V = 4 };

namespace avs_detail {
// Reference counts are plain `long` fields (layout), changed atomically.
inline long AtomicIncrement(long& v) noexcept {
  return std::atomic_ref<long>(v).fetch_add(1, std::memory_order_relaxed) + 1;
}
inline long AtomicDecrement(long& v) noexcept {
  return std::atomic_ref<long>(v).fetch_sub(1, std::memory_order_acq_rel) - 1;
}
}  // namespace avs_detail

struct VideoInfo {
  int width;
  int height;
  unsigned fps_numerator;
  unsigned fps_denominator;
  int num_frames;
  int pixel_type;
  int audio_samples_per_second;
  int sample_type;
  int64 num_audio_samples;
  int nchannels;
  int image_type;

  // Colour-space bits. The planar bit is the sign bit, so the classic values
  // are spelled as unsigned and converted (modular since C++20).
  static constexpr int CS_BGR = 1 << 28;
  static constexpr int CS_YUV = 1 << 29;
  static constexpr int CS_INTERLEAVED = 1 << 30;
  static constexpr int CS_PLANAR = static_cast<int>(0x80000000u);

  static constexpr int CS_UNKNOWN = 0;
  static constexpr int CS_BGR24 = static_cast<int>(0x50000001u);
  static constexpr int CS_BGR32 = static_cast<int>(0x50000002u);
  static constexpr int CS_YUY2 = static_cast<int>(0x60000004u);
  static constexpr int CS_YV12 = static_cast<int>(0xA0000008u);
  static constexpr int CS_I420 = static_cast<int>(0xA0000010u);
  static constexpr int CS_IYUV = CS_I420;

  // image_type flags.
  static constexpr int IT_BFF = 1 << 0;
  static constexpr int IT_TFF = 1 << 1;
  static constexpr int IT_FIELDBASED = 1 << 2;

  // sample_type values.
  static constexpr int SAMPLE_INT8 = 1 << 0;
  static constexpr int SAMPLE_INT16 = 1 << 1;
  static constexpr int SAMPLE_INT24 = 1 << 2;
  static constexpr int SAMPLE_INT32 = 1 << 3;
  static constexpr int SAMPLE_FLOAT = 1 << 4;

  bool HasVideo() const noexcept { return width != 0; }
  bool HasAudio() const noexcept { return audio_samples_per_second != 0; }
  // The masked tests of the classic interface: a newer host's format that
  // carries extra bits on top of a classic value passes them too.
  bool IsRGB24() const noexcept { return (pixel_type & CS_BGR24) == CS_BGR24; }
  bool IsRGB32() const noexcept { return (pixel_type & CS_BGR32) == CS_BGR32; }
  bool IsYUY2() const noexcept { return (pixel_type & CS_YUY2) == CS_YUY2; }
  bool IsYV12() const noexcept { return (pixel_type & CS_YV12) == CS_YV12 || (pixel_type & CS_I420) == CS_I420; }
  bool IsPlanar() const noexcept { return (pixel_type & CS_PLANAR) != 0; }
  bool IsFieldBased() const noexcept { return (image_type & IT_FIELDBASED) != 0; }
  bool IsTFF() const noexcept { return (image_type & IT_TFF) != 0; }
  bool IsBFF() const noexcept { return (image_type & IT_BFF) != 0; }
};

// Created and owned by the host; the plug-in only reads it and asks for its
// write pointer.
class VideoFrameBuffer {
 public:
  uint8* data;
  int data_size;
  long sequence_number;  // bumped whenever a write pointer is handed out
  long refcount;         // frames that view this buffer

  const uint8* GetReadPtr() const noexcept { return data; }
  uint8* GetWritePtr() noexcept {
    ++sequence_number;
    return data;
  }
  int GetDataSize() const noexcept { return data_size; }
  long GetRefcount() const noexcept { return refcount; }
};

// A view of a VideoFrameBuffer. Hosts may append fields after these, so the
// plug-in never creates, copies or sizes one: it only holds pointers.
class VideoFrame {
 public:
  long refcount;
  VideoFrameBuffer* vfb;
  int offset, pitch, row_size, height;
  int offsetU, offsetV, pitchUV;

  static bool IsChroma(int plane) noexcept { return plane == PLANAR_U || plane == PLANAR_V; }

  int GetPitch() const noexcept { return pitch; }
  int GetPitch(int plane) const noexcept { return IsChroma(plane) ? pitchUV : pitch; }
  int GetRowSize() const noexcept { return row_size; }
  int GetRowSize(int plane) const noexcept {
    if (IsChroma(plane)) return pitchUV != 0 ? row_size / 2 : 0;
    return row_size;
  }
  int GetHeight() const noexcept { return height; }
  int GetHeight(int plane) const noexcept {
    if (IsChroma(plane)) return pitchUV != 0 ? height / 2 : 0;
    return height;
  }
  int GetOffset(int plane) const noexcept {
    if (plane == PLANAR_U) return offsetU;
    if (plane == PLANAR_V) return offsetV;
    return offset;
  }

  const uint8* GetReadPtr() const noexcept { return vfb->GetReadPtr() + offset; }
  const uint8* GetReadPtr(int plane) const noexcept { return vfb->GetReadPtr() + GetOffset(plane); }

  bool IsWritable() const noexcept { return refcount == 1 && vfb->refcount == 1; }

  uint8* GetWritePtr() const noexcept { return IsWritable() ? vfb->GetWritePtr() + offset : nullptr; }
  uint8* GetWritePtr(int plane) const noexcept {
    if (IsChroma(plane)) return vfb->data + GetOffset(plane);
    return IsWritable() ? vfb->GetWritePtr() + GetOffset(plane) : nullptr;
  }

  void AddRef() noexcept { avs_detail::AtomicIncrement(refcount); }
  // The host reclaims frames whose count reaches 0; nobody deletes one here.
  void Release() noexcept {
    if (refcount == 1) avs_detail::AtomicDecrement(vfb->refcount);
    avs_detail::AtomicDecrement(refcount);
  }
};

class IScriptEnvironment;
class IClip;

// Counting handle of a VideoFrame. Its user-provided copy constructor and
// destructor make the Itanium ABI pass and return it through a hidden
// pointer, as the host does.
class PVideoFrame {
 public:
  PVideoFrame() noexcept : p(nullptr) {}
  PVideoFrame(VideoFrame* frame) noexcept : p(frame) {
    if (p) p->AddRef();
  }
  PVideoFrame(const PVideoFrame& other) noexcept : p(other.p) {
    if (p) p->AddRef();
  }
  ~PVideoFrame() {
    if (p) p->Release();
  }
  PVideoFrame& operator=(const PVideoFrame& other) noexcept {
    if (this != &other) Set(other.p);
    return *this;
  }
  PVideoFrame& operator=(VideoFrame* frame) noexcept {
    Set(frame);
    return *this;
  }

  VideoFrame* operator->() const noexcept { return p; }
  VideoFrame* get() const noexcept { return p; }
  explicit operator bool() const noexcept { return p != nullptr; }

 private:
  void Set(VideoFrame* frame) noexcept {
    if (frame) frame->AddRef();
    if (p) p->Release();
    p = frame;
  }

  VideoFrame* p;
};

class IClip {
  friend class PClip;
  friend class AVSValue;
  friend struct AbiLayout;

  long refcnt;  // right after the vtable pointer
  void AddRef() noexcept { avs_detail::AtomicIncrement(refcnt); }
  void Release() noexcept {
    if (avs_detail::AtomicDecrement(refcnt) == 0) delete this;
  }

 public:
  IClip() noexcept : refcnt(0) {}
  IClip(const IClip&) = delete;
  IClip& operator=(const IClip&) = delete;

  virtual int __stdcall GetVersion() { return AVISYNTH_INTERFACE_VERSION; }
  virtual PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) = 0;
  virtual bool __stdcall GetParity(int n) = 0;
  virtual void __stdcall GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment* env) = 0;
  // void in the 2.5 interface; newer hosts call it only on clips whose
  // version is 5 or more, and an int result is harmless to a void caller.
  virtual int __stdcall SetCacheHints(int cachehints, int frame_range) = 0;
  virtual const VideoInfo& __stdcall GetVideoInfo() = 0;
  virtual __stdcall ~IClip() {}
};

class PClip {
 public:
  PClip() noexcept : p(nullptr) {}
  PClip(IClip* clip) noexcept : p(clip) {
    if (p) p->AddRef();
  }
  PClip(const PClip& other) noexcept : p(other.p) {
    if (p) p->AddRef();
  }
  ~PClip() {
    if (p) p->Release();
  }
  PClip& operator=(IClip* clip) noexcept {
    Set(clip);
    return *this;
  }
  PClip& operator=(const PClip& other) noexcept {
    if (this != &other) Set(other.p);
    return *this;
  }

  IClip* operator->() const noexcept { return p; }
  IClip* get() const noexcept { return p; }
  explicit operator bool() const noexcept { return p != nullptr; }

 private:
  void Set(IClip* clip) noexcept {
    if (clip) clip->AddRef();
    if (p) p->Release();
    p = clip;
  }

  IClip* p;
};

class AVSValue {
 public:
  AVSValue() noexcept : type('v'), array_size(0), clip(nullptr) {}
  AVSValue(IClip* c) noexcept : type('c'), array_size(0), clip(c) {
    if (c) c->AddRef();
  }
  AVSValue(const PClip& c) noexcept : AVSValue(c.get()) {}
  AVSValue(bool b) noexcept : type('b'), array_size(0), clip(nullptr) { boolean = b; }
  AVSValue(int i) noexcept : type('i'), array_size(0), clip(nullptr) { integer = i; }
  AVSValue(float f) noexcept : type('f'), array_size(0), clip(nullptr) { floating_pt = f; }
  AVSValue(double f) noexcept : AVSValue(static_cast<float>(f)) {}
  AVSValue(const char* s) noexcept : type('s'), array_size(0), clip(nullptr) { string = s; }
  // An array value points at elements it does not own.
  AVSValue(const AVSValue* a, int size) noexcept : type('a'), array_size(static_cast<short>(size)), clip(nullptr) {
    array = a;
  }
  AVSValue(const AVSValue& other) noexcept : type('v'), array_size(0), clip(nullptr) { Assign(other); }
  ~AVSValue() {
    if (IsClip() && clip) clip->Release();
  }
  AVSValue& operator=(const AVSValue& other) noexcept {
    if (this != &other) Assign(other);
    return *this;
  }

  bool Defined() const noexcept { return type != 'v'; }
  bool IsClip() const noexcept { return type == 'c'; }
  bool IsBool() const noexcept { return type == 'b'; }
  bool IsInt() const noexcept { return type == 'i'; }
  bool IsFloat() const noexcept { return type == 'f' || type == 'i'; }
  bool IsString() const noexcept { return type == 's'; }
  bool IsArray() const noexcept { return type == 'a'; }

  PClip AsClip() const noexcept { return IsClip() ? PClip(clip) : PClip(); }
  bool AsBool(bool def = false) const noexcept { return IsBool() ? boolean : def; }
  int AsInt(int def = 0) const noexcept { return IsInt() ? integer : def; }
  double AsFloat(double def = 0.0) const noexcept {
    if (type == 'i') return integer;
    return type == 'f' ? floating_pt : def;
  }
  const char* AsString(const char* def = nullptr) const noexcept { return IsString() ? string : def; }

  int ArraySize() const noexcept { return IsArray() ? array_size : 1; }
  // Element i of an array with more than i elements; otherwise the value
  // itself stands for element i.
  const AVSValue& operator[](int index) const noexcept {
    return (IsArray() && index < array_size) ? array[index] : *this;
  }
  char Type() const noexcept { return static_cast<char>(type); }

 private:
  friend struct AbiLayout;

  void Assign(const AVSValue& other) noexcept {
    if (other.IsClip() && other.clip) other.clip->AddRef();
    if (IsClip() && clip) clip->Release();
    type = other.type;
    array_size = other.array_size;
    clip = other.clip;  // the widest member carries every alternative
  }

  short type;
  short array_size;
  union {
    IClip* clip;
    bool boolean;
    int integer;
    float floating_pt;
    const char* string;
    const AVSValue* array;
  };
};

using ApplyFunc = AVSValue(__cdecl*)(AVSValue args, void* user_data, IScriptEnvironment* env);
using ShutdownFunc = void(__cdecl*)(void* user_data, IScriptEnvironment* env);

// Implemented by the host; the plug-in only calls through it.
class IScriptEnvironment {
 public:
  virtual __stdcall ~IScriptEnvironment() {}

  virtual long __stdcall GetCPUFlags() = 0;
  virtual char* __stdcall SaveString(const char* s, int length = -1) = 0;
  virtual char* __stdcall Sprintf(const char* fmt, ...) = 0;
  virtual char* __stdcall VSprintf(const char* fmt, va_list val) = 0;
  [[noreturn]] virtual void __stdcall ThrowError(const char* fmt, ...) = 0;
  virtual void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) = 0;
  virtual bool __stdcall FunctionExists(const char* name) = 0;
  virtual AVSValue __stdcall Invoke(const char* name, const AVSValue args, const char* const* arg_names = nullptr) = 0;
  virtual AVSValue __stdcall GetVar(const char* name) = 0;
  virtual bool __stdcall SetVar(const char* name, const AVSValue& val) = 0;
  virtual bool __stdcall SetGlobalVar(const char* name, const AVSValue& val) = 0;
  virtual void __stdcall PushContext(int level = 0) = 0;
  virtual void __stdcall PopContext() = 0;
  virtual PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = 16) = 0;
  virtual bool __stdcall MakeWritable(PVideoFrame* pvf) = 0;
  virtual void __stdcall BitBlt(uint8* dstp, int dst_pitch, const uint8* srcp, int src_pitch, int row_size,
                                int height) = 0;
  virtual void __stdcall AtExit(ShutdownFunc function, void* user_data) = 0;
  virtual void __stdcall CheckVersion(int version = AVISYNTH_INTERFACE_VERSION) = 0;
  virtual PVideoFrame __stdcall Subframe(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                         int new_height) = 0;
  virtual int __stdcall SetMemoryMax(int mem) = 0;
  virtual int __stdcall SetWorkingDir(const char* newdir) = 0;
  virtual void* __stdcall ManageCache(int key, void* data) = 0;
  virtual bool __stdcall PlanarChromaAlignment(int mode) = 0;
  virtual PVideoFrame __stdcall SubframePlanar(PVideoFrame src, int rel_offset, int new_pitch, int new_row_size,
                                               int new_height, int rel_offsetU, int rel_offsetV, int new_pitchUV) = 0;
};

// A filter that forwards everything to its source clip; derived filters
// override GetFrame.
class GenericVideoFilter : public IClip {
 protected:
  PClip child;
  VideoInfo vi;

 public:
  explicit GenericVideoFilter(const PClip& source) : child(source), vi(source->GetVideoInfo()) {}

  PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override { return child->GetFrame(n, env); }
  void __stdcall GetAudio(void* buf, int64 start, int64 count, IScriptEnvironment* env) override {
    child->GetAudio(buf, start, count, env);
  }
  const VideoInfo& __stdcall GetVideoInfo() override { return vi; }
  bool __stdcall GetParity(int n) override { return child->GetParity(n); }
  int __stdcall SetCacheHints(int, int) override { return 0; }
};

// What a host relies on, checked at build time.
struct AbiLayout {
  static_assert(sizeof(long) == 8 && sizeof(void*) == 8, "x86-64 LP64 layout expected");

  static_assert(sizeof(VideoInfo) == 48);
  static_assert(offsetof(VideoInfo, fps_numerator) == 8);
  static_assert(offsetof(VideoInfo, num_frames) == 16);
  static_assert(offsetof(VideoInfo, pixel_type) == 20);
  static_assert(offsetof(VideoInfo, num_audio_samples) == 32);
  static_assert(offsetof(VideoInfo, nchannels) == 40);
  static_assert(offsetof(VideoInfo, image_type) == 44);

  static_assert(std::is_standard_layout_v<VideoFrameBuffer>);
  static_assert(offsetof(VideoFrameBuffer, data) == 0);
  static_assert(offsetof(VideoFrameBuffer, data_size) == 8);
  static_assert(offsetof(VideoFrameBuffer, sequence_number) == 16);
  static_assert(offsetof(VideoFrameBuffer, refcount) == 24);

  static_assert(std::is_standard_layout_v<VideoFrame>);
  static_assert(offsetof(VideoFrame, refcount) == 0);
  static_assert(offsetof(VideoFrame, vfb) == 8);
  static_assert(offsetof(VideoFrame, offset) == 16);
  static_assert(offsetof(VideoFrame, pitch) == 20);
  static_assert(offsetof(VideoFrame, row_size) == 24);
  static_assert(offsetof(VideoFrame, height) == 28);
  static_assert(offsetof(VideoFrame, offsetU) == 32);
  static_assert(offsetof(VideoFrame, offsetV) == 36);
  static_assert(offsetof(VideoFrame, pitchUV) == 40);

  static_assert(sizeof(AVSValue) == 16);
  static_assert(std::is_standard_layout_v<AVSValue>);
  static_assert(offsetof(AVSValue, type) == 0);
  static_assert(offsetof(AVSValue, array_size) == 2);
  static_assert(offsetof(AVSValue, clip) == 8);

  // IClip is polymorphic, so offsetof does not apply; with the vtable
  // pointer first and one long after it, 16 bytes means refcnt sits at 8.
  static_assert(sizeof(IClip) == 16 && alignof(IClip) == 8);
  static_assert(sizeof(PClip) == sizeof(IClip*));             // NOLINT(bugprone-sizeof-expression)
  static_assert(sizeof(PVideoFrame) == sizeof(VideoFrame*));  // NOLINT(bugprone-sizeof-expression)

  // Non-trivial copy and destruction: passed and returned via hidden pointer.
  static_assert(!std::is_trivially_copyable_v<AVSValue>);
  static_assert(!std::is_trivially_copyable_v<PClip>);
  static_assert(!std::is_trivially_copyable_v<PVideoFrame>);
  static_assert(!std::is_trivially_destructible_v<AVSValue>);
};
