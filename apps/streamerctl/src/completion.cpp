#include "commands.h"

#include <string>
#include <vector>

namespace {

struct Node {
  std::string path;  // "/session/add"; "" for the top
  std::string words;
};

std::string option_words(CLI::App& command) {
  std::string words;
  for (const CLI::Option* option : command.get_options()) {
    for (const std::string& name : option->get_lnames()) words += " --" + name;
    for (const std::string& name : option->get_snames()) words += " -" + name;
  }
  return words;
}

void collect(CLI::App& command, const std::string& path, std::vector<Node>& nodes) {
  std::string words;
  std::vector<CLI::App*> subcommands = command.get_subcommands([](CLI::App*) { return true; });
  for (CLI::App* sub : subcommands) words += " " + sub->get_name();
  nodes.push_back({path, words + option_words(command)});
  for (CLI::App* sub : subcommands) collect(*sub, path + "/" + sub->get_name(), nodes);
}

}  // namespace

// The script walks the words typed so far down the command tree and offers
// the subcommands and options of the command reached.
std::string bash_completion(CLI::App& app) {
  std::vector<Node> nodes;
  collect(app, "", nodes);
  std::string paths;
  std::string cases;
  for (const Node& node : nodes) {
    if (!node.path.empty()) paths += (paths.empty() ? "" : "|") + node.path;
    cases += "    \"" + node.path + "\") words=\"" + node.words.substr(node.words.empty() ? 0 : 1) + "\" ;;\n";
  }
  return "# bash completion for streamerctl\n"
         "_streamerctl() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} path=\"\" word words\n"
         "  for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
         "    case \"$path/$word\" in\n"
         "      " + paths + ") path=\"$path/$word\" ;;\n"
         "    esac\n"
         "  done\n"
         "  case \"$path\" in\n" + cases +
         "  esac\n"
         "  COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
         "}\n"
         "complete -F _streamerctl streamerctl\n";
}
