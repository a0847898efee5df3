// What scenehost tells about one command: `scenehost help CMD` and
// `CMD --help` (its arguments, what the known ones mean, a one-line
// example), and the nearest registered name for a mistyped one.
#pragma once

#include <string>
#include <vector>

namespace scenehost {

// The name in `names` nearest to `word`: the same name in another case
// first ("raisetower"), else the one fewest single-letter edits away
// (insert, delete, change, swap two neighbours), when that is few enough to
// be a slip: at most a third of the word, and at most 3. Ties go to the
// earlier name. Empty when nothing is near.
std::string NearestName(const std::string& word, const std::vector<std::string>& names);

// A registered command as the help shows it.
struct CommandFacts {
  std::string name;
  std::string owner;        // "host" or the plug-in's name
  std::string description;  // may be empty
  std::vector<std::string> arguments;
};

// Several lines, ending in '\n': the command and where it comes from, the
// usage line, one line per argument (with its meaning for the commands this
// project ships), a one-line example and the page that documents it.
std::string CommandHelp(const CommandFacts& command);

}  // namespace scenehost
