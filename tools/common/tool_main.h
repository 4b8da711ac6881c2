#pragma once
// The shape of every release tool's main(): the command line as strings, the
// command it names, a usage error reported with a pointer to --help (exit
// status 2), any other failure as "TOOL: ..." (exit status 1).

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace vireo::tools {

constexpr int kExitFailed = 1;
constexpr int kExitUsageError = 2;

// A mistake in the command line.
struct UsageError {
  std::string message;
};

// How a tool names itself in what main() prints.
struct ToolMessages {
  const char* name;  // starts every line, as in "corvane-pack: ..."
  // Between the name and a failure's message.
  const char* failure_label = "error: ";
  // For a tool without --help: the line printed for any usage error instead
  // of its message and the pointer to --help.
  const char* usage = nullptr;
};

// Runs `command` over the arguments after the program's name and returns its
// exit status. A UsageError prints "NAME: MESSAGE" and "Try 'NAME --help'."
// (or only `tool.usage`) and gives kExitUsageError; any other exception prints
// "NAME: LABELMESSAGE" and gives kExitFailed. Everything goes to standard
// error.
int RunToolMain(int argc, char** argv, const ToolMessages& tool,
                const std::function<int(const std::vector<std::string>& args)>& command);

// A command of a tool that has several: its name (the first argument) and
// what runs it, given every argument, its name included.
struct ToolCommand {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
};

// Runs the command that `args[0]` names and returns its exit status. Throws
// UsageError when `args` is empty or names no command.
int RunToolCommand(const std::vector<std::string>& args,
                   std::initializer_list<ToolCommand> commands);

}  // namespace vireo::tools
