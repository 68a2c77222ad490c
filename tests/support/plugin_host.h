// The test host with the built plug-in loaded, and frame comparison helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avisynth.h"
#include "frameserver/environment.h"
#include "tests/support/synthetic_clip.h"
#include "tests/support/test_environment.h"

namespace tallyburn::testing {

using frameserver::Argument;
using frameserver::Environment;
using frameserver::SourceParams;

inline constexpr int kRgb24 = VideoInfo::CS_BGR24;
inline constexpr int kRgb32 = VideoInfo::CS_BGR32;
inline constexpr int kYuy2 = VideoInfo::CS_YUY2;
inline constexpr int kYv12 = VideoInfo::CS_YV12;
inline constexpr int kI420 = VideoInfo::CS_I420;

const char* FormatName(int pixel_type);

class PluginHost : public ::testing::Test {
 protected:
  PluginHost() { env.LoadPlugin(TALLYBURN_PLUGIN_PATH); }

  PClip Source(const SourceParams& params) { return new frameserver::SyntheticClip(env, params); }
  PClip Apply(const std::string& function, const std::vector<Argument>& args) {
    return env.Call(function, args).AsClip();
  }
  // The message a call fails with, or "" when it succeeds.
  std::string ErrorOf(const std::string& function, const std::vector<Argument>& args);

  frameserver::TestEnvironment env;
};

// One byte of a frame: plane (PLANAR_Y for packed formats), memory line,
// byte column.
struct ByteAt {
  int plane;
  int line;
  int column;
};

// A rectangle of bytes in one plane, bounds inclusive.
struct Region {
  int plane;
  int first_line, last_line;
  int first_column, last_column;
  bool Contains(const ByteAt& b) const {
    return b.plane == plane && b.line >= first_line && b.line <= last_line && b.column >= first_column &&
           b.column <= last_column;
  }
};

// Every picture byte in which two frames of one format differ.
std::vector<ByteAt> Differences(Environment& env, const PVideoFrame& a, const PVideoFrame& b);

// Fails the test for each differing byte outside `allowed`.
void ExpectChangedOnlyIn(Environment& env, const PVideoFrame& out, const PVideoFrame& src,
                         const std::vector<Region>& allowed);

uint8_t ByteOf(Environment& env, const PVideoFrame& frame, int plane, int line, int column);

// Reads the reference count of a clip, the long right after its vtable
// pointer: also a check that the count sits where hosts expect it.
long RefCount(IClip* clip);

}  // namespace tallyburn::testing
