// corvane-pack: the release engineers' tool for the stub's payload resource.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/tool_main.h"
#include "tools/packer/pack_command.h"
#include "tools/packer/payload_file_commands.h"

namespace {

constexpr char kUsage[] =
    "corvane-pack builds the payload resource of CorvaneUpdateSetup.exe and inspects it.\n"
    "\n"
    "Usage:\n"
    "  corvane-pack pack INPUT -o PAYLOAD.bin [--launch NAME] [--allow-no-exe] [--if-changed]\n"
    "                    [--threads 1|2]\n"
    "  corvane-pack list PAYLOAD.bin\n"
    "  corvane-pack extract PAYLOAD.bin -C DIR\n"
    "  corvane-pack --help\n"
    "\n"
    "pack     INPUT is a folder (its top-level regular files, in byte-wise name order)\n"
    "         or a tar file (its members, in archive order). The stub starts the\n"
    "         first file whose name ends in .exe.\n"
    "           -o, --output FILE   the payload file to write (replaced only on success)\n"
    "           --launch NAME       put NAME first, so that the stub starts it\n"
    "           --allow-no-exe      pack even when no file ends in .exe\n"
    "           --if-changed        keep PAYLOAD.bin, untouched, when this packer made it\n"
    "                               from the same files (by content, whatever their\n"
    "                               times); the record is kept in PAYLOAD.bin.digest\n"
    "           --threads 1|2       encoder threads (default 2: the match finder runs\n"
    "                               beside the encoder); the bytes are the same\n"
    "         Names must be ASCII Windows file names of at most 100 bytes, and the\n"
    "         tar image must stay below 2 GiB. The payload is decoded again with\n"
    "         the stub's decoder and compared before it is written.\n"
    "list     prints the members of a payload and the program the stub would start.\n"
    "extract  unpacks the members of a payload into DIR (-C, --directory).\n"
    "\n"
    "Exit status: 0 on success, 1 when the command failed, 2 for a usage error.\n";

using vireo::tools::UsageError;

bool IsHelp(const std::string& argument) {
  return argument == "--help" || argument == "-h" || argument == "help";
}

// Reads the value of option `argument` ("-o FILE", "--output FILE" or
// "--output=FILE") at `*index`, advancing past it. Returns false when
// `argument` is not one of `names`.
bool TakeValue(const std::vector<std::string>& args, size_t* index,
               std::initializer_list<const char*> names, std::string* value) {
  const std::string& argument = args[*index];
  for (const char* name : names) {
    if (argument == name) {
      if (*index + 1 >= args.size()) throw UsageError{argument + " needs a value"};
      *value = args[++*index];
      return true;
    }
    const std::string prefix = std::string(name) + "=";
    if (name[1] == '-' && argument.compare(0, prefix.size(), prefix) == 0) {
      *value = argument.substr(prefix.size());
      return true;
    }
  }
  return false;
}

int Pack(const std::vector<std::string>& args) {
  vireo::packer::PackOptions options;
  std::string input, output;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string value;
    if (TakeValue(args, &i, {"-o", "--output"}, &value)) {
      output = value;
    } else if (TakeValue(args, &i, {"--launch"}, &value)) {
      if (value.empty()) throw UsageError{"--launch needs a file name"};
      options.launch = value;
    } else if (args[i] == "--allow-no-exe") {
      options.allow_no_exe = true;
    } else if (args[i] == "--if-changed") {
      options.if_changed = true;
    } else if (TakeValue(args, &i, {"--threads"}, &value)) {
      if (value != "1" && value != "2") throw UsageError{"--threads takes 1 or 2"};
      options.threads = value[0] - '0';
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError{"pack: unknown option " + args[i]};
    } else if (input.empty()) {
      input = args[i];
    } else {
      throw UsageError{"pack: more than one INPUT (" + input + ", " + args[i] + ")"};
    }
  }
  if (input.empty()) throw UsageError{"pack: INPUT (a folder or tar file) is missing"};
  if (output.empty()) throw UsageError{"pack: -o PAYLOAD.bin is missing"};
  options.input = input;
  options.output = output;
  return vireo::packer::RunPack(options);
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[1].empty() || args[1][0] == '-') {
    throw UsageError{"list takes exactly one PAYLOAD.bin"};
  }
  return vireo::packer::RunList(args[1]);
}

int Extract(const std::vector<std::string>& args) {
  std::string payload, directory;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string value;
    if (TakeValue(args, &i, {"-C", "--directory"}, &value)) {
      directory = value;
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError{"extract: unknown option " + args[i]};
    } else if (payload.empty()) {
      payload = args[i];
    } else {
      throw UsageError{"extract: more than one PAYLOAD.bin"};
    }
  }
  if (payload.empty()) throw UsageError{"extract: PAYLOAD.bin is missing"};
  if (directory.empty()) throw UsageError{"extract: -C DIR is missing"};
  return vireo::packer::RunExtract(payload, directory);
}

}  // namespace

int main(int argc, char** argv) {
  return vireo::tools::RunToolMain(
      argc, argv, {"corvane-pack"}, [](const std::vector<std::string>& args) {
        for (const std::string& argument : args) {
          if (IsHelp(argument)) {
            std::fputs(kUsage, stdout);
            return 0;
          }
        }
        return vireo::tools::RunToolCommand(args,
                                            {{"pack", Pack}, {"list", List}, {"extract", Extract}});
      });
}
