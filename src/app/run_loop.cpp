#include "app/run_loop.h"

#include "command/command_template.h"
#include "command/execute.h"
#include "command/run_settings.h"
#include "platform/processes.h"

namespace zelvane {

RunProgress RunLoop(const RunSettings& settings, PathList& matches) {
  RunProgress progress;
  const std::vector<std::string>& entries = Entries(matches);
  progress.totalCount = static_cast<int>(entries.size());
  if (entries.empty()) return progress;
  // Read once; each file only fills in the macros.
  const CommandTemplate command = ParseCommandTemplate(
      settings.command, settings.breakChar, settings.macroChar, /*splitWords=*/settings.shell.empty());
  RunCommands(settings, command, entries, matches.directories,
              settings.jobs > 0 ? settings.jobs : platform::ProcessorCount(), progress);
  return progress;
}

}  // namespace zelvane
