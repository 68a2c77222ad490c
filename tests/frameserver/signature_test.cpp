// The host's signature language and argument binding.
#include <gtest/gtest.h>

#include "frameserver/errors.h"
#include "frameserver/signature.h"

namespace tallyburn::frameserver {
namespace {

std::string BindError(const char* params, const std::vector<Argument>& args) {
  try {
    BindArguments("F", ParseSignature("F", params), args);
  } catch (const HostError& e) {
    return e.what();
  }
  return "";
}

TEST(SignatureTest, ParsesRequiredAndNamedOptionalParameters) {
  const auto p = ParseSignature("F", "cs[offset]i[Rate]f[flag]b.");
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[0].type, 'c');
  EXPECT_FALSE(p[0].optional);
  EXPECT_EQ(p[2].name, "offset");
  EXPECT_EQ(p[2].type, 'i');
  EXPECT_TRUE(p[2].optional);
  EXPECT_EQ(p[3].name, "Rate");
  EXPECT_EQ(p[5].type, '.');
}

TEST(SignatureTest, MalformedSignaturesAreRefused) {
  for (const char* bad : {"[x", "[]i", "[x]", "q", "[a]i[A]i"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseSignature("F", bad), HostError);
  }
}

TEST(SignatureTest, BindsPositionalAndNamedArgumentsToTheSameSlots) {
  const auto params = ParseSignature("F", "i[a]i[b]s[c]f");
  const auto by_position = BindArguments("F", params, {{"", 1}, {"", 2}, {"", "x"}, {"", 3}});
  const auto by_name = BindArguments("F", params, {{"", 1}, {"C", 3}, {"b", "x"}, {"a", 2}});
  ASSERT_EQ(by_position.size(), 4u);
  for (const auto* bound : {&by_position, &by_name}) {
    EXPECT_EQ((*bound)[1].AsInt(0), 2);
    EXPECT_STREQ((*bound)[2].AsString(), "x");
    EXPECT_EQ((*bound)[3].Type(), 'f');  // the integer 3 is taken as a float
    EXPECT_DOUBLE_EQ((*bound)[3].AsFloat(), 3.0);
  }
  const auto sparse = BindArguments("F", params, {{"", 1}, {"b", "y"}});
  EXPECT_FALSE(sparse[1].Defined());
  EXPECT_FALSE(sparse[3].Defined());
}

TEST(SignatureTest, BindingErrorsNameTheFunctionAndArgument) {
  EXPECT_EQ(BindError("i[a]i", {{"", 1}, {"z", 2}}), "F: no argument named \"z\"");
  EXPECT_EQ(BindError("i[a]i", {{"a", 2}}), "F: missing argument 1 (an integer)");
  EXPECT_EQ(BindError("i[a]i", {{"", 1}, {"", 2}, {"", 3}}), "F: too many arguments (takes at most 2)");
  EXPECT_EQ(BindError("i[a]i", {{"", 1}, {"a", 2}, {"A", 3}}), "F: argument \"A\" given twice");
  EXPECT_EQ(BindError("i[a]i", {{"", 1}, {"a", 1.5}}), "F: argument \"a\" must be an integer, not a float");
  EXPECT_EQ(BindError("s", {{"", true}}), "F: argument 1 must be a string, not a bool");
  EXPECT_EQ(BindError("i[a]i", {{"a", 1}, {"", 2}}), "F: a positional argument follows a named one");
  EXPECT_EQ(BindError("i[a]i", {{"", 1}, {"a", 2}}), "");
}

}  // namespace
}  // namespace tallyburn::frameserver
