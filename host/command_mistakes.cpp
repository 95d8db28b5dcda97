#include "host/command_mistakes.h"

#include <algorithm>
#include <vector>

namespace host {

namespace {

// Letters to change, add, take away or swap with the next to make one word the other.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    for (std::size_t j = 0; j <= b.size(); ++j) {
      d[i][j] = i == 0 || j == 0 ? i + j
                                 : std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                             d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The name among `names` a mistyped `word` most likely meant: one or two
// letters apart (one for a short word), or the only one it begins; empty when
// none is near.
std::string Nearest(const std::string& word, const std::vector<std::string>& names) {
  std::string nearest;
  std::size_t best = word.size() > 4 ? 3 : 2;
  std::vector<std::string> begun;
  for (const std::string& name : names) {
    const std::size_t distance = Distance(word, name);
    if (distance < best) {
      best = distance;
      nearest = name;
    }
    if (word.size() > 2 && name.rfind(word, 0) == 0) {
      begun.push_back(name);
    }
  }
  return !nearest.empty() ? nearest : begun.size() == 1 ? begun[0] : std::string();
}

// A command's options by their names, "--freq" and "-o".
std::vector<std::string> OptionNames(const CLI::App* command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command->get_options()) {
    for (const std::string& name : option->get_lnames()) {
      names.push_back("--" + name);
    }
    for (const std::string& name : option->get_snames()) {
      names.push_back("-" + name);
    }
  }
  return names;
}

std::vector<std::string> CommandNames(const Commands& commands) {
  std::vector<std::string> names;
  for (const auto& entry : commands) {
    names.push_back(entry.first);
  }
  return names;
}

}  // namespace

// "unknown command 'tnue'; did you mean tune?"
std::string UnknownCommand(const std::string& word, const Commands& commands) {
  const std::string nearest = Nearest(word, CommandNames(commands));
  return "unknown command '" + word + "'" +
         (nearest.empty() ? "" : "; did you mean " + nearest + "?");
}

// What the first word the command line did not take says: an option the
// command does not have (with the nearest it has, or the commands that have
// it), a command not known, or a word too many.
std::string LeftOver(const CLI::App& app, const CLI::App* chosen, const Commands& commands) {
  const std::vector<std::string> before = app.remaining(false);
  const std::vector<std::string> after =
      chosen != nullptr ? chosen->remaining(false) : std::vector<std::string>();
  const auto option = [](const std::string& word) { return word.size() > 1 && word[0] == '-'; };
  for (const std::vector<std::string>* words : {&after, &before}) {
    for (const std::string& word : *words) {
      if (!option(word)) {
        continue;
      }
      const std::string name = word.substr(0, word.find('='));
      if (words == &before || chosen == nullptr) {
        return name + " goes after the command (before it: --json, -v, -q)";
      }
      const std::string nearest = Nearest(name, OptionNames(chosen));
      std::string others;
      for (const auto& entry : commands) {
        const std::vector<std::string> names = OptionNames(entry.second);
        if (std::find(names.begin(), names.end(), name) != names.end()) {
          others += (others.empty() ? "" : ", ") + entry.first;
        }
      }
      return chosen->get_name() + " has no option " + name +
             (!nearest.empty() ? "; did you mean " + nearest + "?"
              : !others.empty()
                  ? " (" + others + " " + (others.find(',') == std::string::npos ? "has" : "have") +
                        " it)"
                  : "");
    }
  }
  if (!before.empty() || chosen == nullptr) {
    return before.empty() ? std::string() : UnknownCommand(before[0], commands);
  }
  return after.empty() ? std::string() : chosen->get_name() + " takes no '" + after[0] + "' here";
}

}  // namespace host
