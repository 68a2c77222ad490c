// The source tree's include graph: every include runs down a floor or
// stays in its own room, and no files include each other in a circle.
// Read from the sources themselves, so a new include that runs back up
// fails here before it tangles the house.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Room {
  const char* folder;  // relative to the source tree, no trailing slash
  int floor;           // higher floors may include lower ones
};

// Longest folder first, so tool/media is matched before tool.
constexpr Room kRooms[] = {
    {"tool/media", 5}, {"tool/script", 6}, {"tool/verify", 7}, {"tool/cli", 8},    {"tool", 9},
    {"core", 0},       {"glyphs", 1},      {"framecode", 1},   {"sync", 1},        {"timecode", 1},
    {"draw", 2},       {"filters", 3},     {"hosts", 4},       {"frameserver", 4},
};

std::optional<Room> RoomOf(const std::string& path) {
  for (const Room& r : kRooms) {
    const std::string prefix = std::string(r.folder) + "/";
    if (path.compare(0, prefix.size(), prefix) == 0) return r;
  }
  return std::nullopt;
}

struct Include {
  std::string target;
  int line;
};

// Every source of the rooms, with the project includes it writes.
std::map<std::string, std::vector<Include>> ReadGraph(const fs::path& root) {
  static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"]+)\")");
  std::map<std::string, std::vector<Include>> graph;
  for (const Room& r : kRooms) {
    const fs::path dir = root / r.folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
      const std::string name = fs::relative(entry.path(), root).generic_string();
      if (RoomOf(name)->folder != std::string(r.folder)) continue;  // a deeper room's file
      std::ifstream in(entry.path());
      std::string line;
      std::vector<Include>& includes = graph[name];
      for (int n = 1; std::getline(in, line); ++n) {
        std::smatch m;
        // Only paths from the source tree's root are ours; "avisynth.h" and
        // the like are the hosts' headers, found on an include path.
        if (std::regex_search(line, m, kInclude) && fs::exists(root / m[1].str())) includes.push_back({m[1], n});
      }
    }
  }
  return graph;
}

const std::map<std::string, std::vector<Include>>& Graph() {
  static const auto graph = ReadGraph(TALLYBURN_SOURCE_DIR);
  return graph;
}

TEST(IncludeFloors, TheRoomsAreThere) {
  // An empty graph would pass every check below.
  for (const char* must : {"core/plan.h", "filters/functions.cpp", "tool/cli/cli.cpp", "tool/verify/verify.cpp"})
    EXPECT_TRUE(Graph().count(must)) << must << " was not read: the rooms table no longer matches the tree";
}

TEST(IncludeFloors, EveryIncludeRunsDownOrStaysInItsRoom) {
  for (const auto& [file, includes] : Graph()) {
    const Room from = *RoomOf(file);
    for (const Include& inc : includes) {
      const std::optional<Room> to = RoomOf(inc.target);
      if (!to) continue;  // tests' helpers and the like sit outside the house
      if (std::string(to->folder) == from.folder) continue;
      EXPECT_LT(to->floor, from.floor) << file << ":" << inc.line << " includes " << inc.target << ": " << to->folder
                                       << " (floor " << to->floor << ") is not below " << from.folder << " (floor "
                                       << from.floor << ")";
    }
  }
}

// A header and its own source count as one unit: foo.cpp including foo.h
// is how the pair is built, not a circle.
std::string UnitOf(const std::string& file) { return file.substr(0, file.rfind('.')); }

TEST(IncludeFloors, NoFilesIncludeEachOtherInACircle) {
  std::map<std::string, std::set<std::string>> edges;
  for (const auto& [file, includes] : Graph())
    for (const Include& inc : includes)
      if (UnitOf(inc.target) != UnitOf(file)) edges[UnitOf(file)].insert(UnitOf(inc.target));
  // Depth-first, colouring the units on the current path.
  std::map<std::string, int> state;  // 1 on the path, 2 done
  std::vector<std::string> path;
  std::function<void(const std::string&)> visit = [&](const std::string& u) {
    state[u] = 1;
    path.push_back(u);
    for (const std::string& v : edges[u]) {
      if (state[v] == 1) {
        std::string circle;
        for (auto it = std::find(path.begin(), path.end(), v); it != path.end(); ++it) circle += *it + " -> ";
        ADD_FAILURE() << "a circle of includes: " << circle << v;
      } else if (state[v] == 0) {
        visit(v);
      }
    }
    path.pop_back();
    state[u] = 2;
  };
  for (const auto& [u, targets] : edges)
    if (state[u] == 0) visit(u);
}

}  // namespace
