// Where the real host is, for tests that include the host's own C header
// (which cannot meet our 2.5 header in one file): RealHost's answers.
#pragma once

#include <string>

namespace tallyburn::testing {

std::string RealHostFolder();   // RealHost::Folder()
std::string RealHostMissing();  // RealHost::Missing()
bool HaveCDoor();               // the build has the C door
// `script` after LoadPlugin of the shipped plug-in.
std::string ShippedScript(const std::string& script);

}  // namespace tallyburn::testing
