#include "tools/common/tool_main.h"

#include <cstdio>
#include <exception>

namespace vireo::tools {

int RunToolMain(int argc, char** argv, const ToolMessages& tool,
                const std::function<int(const std::vector<std::string>& args)>& command) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return command(args);
  } catch (const UsageError& error) {
    if (tool.usage) {
      std::fprintf(stderr, "%s\n", tool.usage);
    } else {
      std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool.name, error.message.c_str(),
                   tool.name);
    }
    return kExitUsageError;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s%s\n", tool.name, tool.failure_label, error.what());
    return kExitFailed;
  }
}

int RunToolCommand(const std::vector<std::string>& args,
                   std::initializer_list<ToolCommand> commands) {
  if (args.empty()) throw UsageError{"no command given"};
  for (const ToolCommand& command : commands) {
    if (args[0] == command.name) return command.run(args);
  }
  throw UsageError{"unknown command " + args[0]};
}

}  // namespace vireo::tools
