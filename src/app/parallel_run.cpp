// One thread does everything: it expands each file's work, starts children up to the limit, and waits for
// whichever ends first. A file's output goes to an unlinked temporary file (its capture), so a command that
// prints gigabytes costs disk, not memory; a capture is copied to standard output once it and every earlier
// one are complete.
#include "app/parallel_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/run_context.h"
#include "app/run_loop.h"
#include "command/execute.h"
#include "command/file_work.h"
#include "command/stamps.h"
#include "platform/platform.h"

namespace zelvane {
namespace {

// WaitForMultipleObjects watches at most 64 handles; the same limit on both targets keeps runs alike.
constexpr int kMaxJobs = 64;

// One file from its start until its block is printed.
struct Job {
  FileWork work;
  std::size_t nextPart = 0;
  platform::CaptureHandle output = platform::kNoCapture;
  platform::CaptureHandle error = platform::kNoCapture;  // only when the two streams are different files
  platform::StartDirHandle directory = platform::kNoStartDirectory;
  std::vector<std::pair<std::string, std::string>> environment;  // the pseudo variables of this file
  bool outputFileOpen = false;                                   // internal echo went to the -xo file
  // The internal echo at which writing the -xo file failed, and the message: the file's parts stop there.
  std::size_t failedEcho = SIZE_MAX;
  std::string failedEchoMessage;
  bool done = false;
};

struct ParallelRun {
  ParallelRun(RunContext& context, const CommandTemplate& parsed, int jobCount)
      : ctx(context),
        command(parsed),
        jobs(jobCount),
        windowLimit(static_cast<std::size_t>(jobCount) * 2 + 16),
        oneFile(platform::OutputAndErrorAreOneFile()) {}

  RunContext& ctx;
  const CommandTemplate& command;
  int jobs;
  std::size_t windowLimit;  // files started but not yet printed: bounds the open captures
  bool oneFile;             // standard output and standard error are one file
  std::deque<Job> window;   // in list order; references stay valid while both ends change
  std::vector<platform::ChildHandle> running;
  std::vector<Job*> runningJobs;  // the job of each running child
  // Captures of printed blocks, emptied for the next files: a file costs no new temporary file.
  std::vector<platform::CaptureHandle> spareCaptures;
  bool stopping = false;
  bool aborted = false;
  std::string stopWarning;
  std::string lastPrinted;

  // Zelvane's own text for one file: into its block, or straight out when it has none.
  void Emit(Job& job, const std::string& text) {
    if (job.output != platform::kNoCapture) {
      platform::WriteToCapture(job.output, text);
    } else {
      platform::WriteOut(text);
    }
  }

  // Zelvane's own text for standard error, for one file: into its block as well.
  void EmitError(Job& job, const std::string& text) {
    const platform::CaptureHandle capture = job.error != platform::kNoCapture ? job.error : job.output;
    if (capture != platform::kNoCapture) {
      platform::WriteToCapture(capture, text);
    } else {
      platform::WriteErr(text);
    }
  }

  // Runs the job's parts from where it stopped until one starts a child (false) or none is left (true).
  bool Advance(Job& job) {
    const std::vector<WorkPart>& parts = job.work.parts;
    while (job.nextPart < parts.size()) {
      const std::size_t index = job.nextPart++;
      const WorkPart& part = parts[index];
      if (part.kind == WorkPart::Kind::InternalEcho) {
        if (index == job.failedEcho) {
          // Where the one-at-a-time run reports it; nothing after it runs.
          EmitError(job, job.failedEchoMessage);
          break;
        }
        if (!job.outputFileOpen) Emit(job, part.text);
        continue;
      }
      if (ctx.echoCommand) Emit(job, part.text + "\n");
      if (ctx.echoOnly) continue;
      platform::ChildStart start;
      if (part.kind == WorkPart::Kind::Shell) {
        start.shell = ctx.shell;
        start.commandText = part.text;
      } else {
        start.args = part.args;
      }
      start.directory = job.directory;
      start.environment = job.environment;
      start.output = job.output;
      start.error = job.error != platform::kNoCapture ? job.error : job.output;
      if (job.output == platform::kNoCapture) platform::FlushOutput();
      const platform::ChildHandle child = platform::StartChild(start);
      if (child == platform::kNoChild) {
        // A part of blanks alone names no program.
        const std::string name = !start.shell.empty() ? start.shell
                                 : start.args.empty() ? std::string()
                                                      : start.args.front();
        Emit(job, NotExecutedMessage(name));
        ctx.commandFailed = 1;
        continue;
      }
      running.push_back(child);
      runningJobs.push_back(&job);
      return false;
    }
    job.done = true;
    platform::CloseStartDirectory(job.directory);
    job.directory = platform::kNoStartDirectory;
    return true;
  }

  platform::CaptureHandle TakeCapture() {
    if (spareCaptures.empty()) return platform::CreateCapture();
    const platform::CaptureHandle capture = spareCaptures.back();
    spareCaptures.pop_back();
    return capture;
  }

  void GiveBackCapture(platform::CaptureHandle capture) {
    if (capture == platform::kNoCapture) return;
    if (spareCaptures.size() < 2 * windowLimit && platform::ResetCapture(capture)) {
      spareCaptures.push_back(capture);
    } else {
      platform::CloseCapture(capture);
    }
  }

  // Starts the next file. False when no capture could be made while earlier files still hold theirs: the
  // caller waits for one of them and tries again.
  bool StartFile(const std::string& path) {
    platform::CaptureHandle output = TakeCapture();
    platform::CaptureHandle error = platform::kNoCapture;
    if (output != platform::kNoCapture && !oneFile) {
      error = TakeCapture();
      if (error == platform::kNoCapture) {
        GiveBackCapture(output);
        output = platform::kNoCapture;
      }
    }
    // With nothing before it, a file that gets no capture can print straight away and stay in order.
    if (output == platform::kNoCapture && !window.empty()) return false;

    window.emplace_back();
    Job& job = window.back();
    job.work = PrepareFileWork(ctx, command, path);
    job.output = output;
    job.error = error;

    std::string cwd = ctx.startDir;
    if (ctx.changeDir) {
      job.directory = platform::OpenStartDirectory(job.work.directory);
      if (job.directory == platform::kNoStartDirectory) {
        // A command never runs in a directory the user did not mean.
        Emit(job, DirectoryNotEnteredMessage(ctx, path));
        ctx.commandFailed = 1;
        job.done = true;
        return true;
      }
      cwd = platform::StartDirectoryPath(job.directory);
    }
    const PseudoEnvironment env = MakePseudoEnvironment(job.work.now, cwd);
    job.environment = {{"wday", env.wday},
                       {"weekday", env.weekday},
                       {"cwd", env.cwd},
                       {"date", env.date},
                       {"time", env.time}};

    // Only the internal echo writes the -xo file, so its content is known now; files start in list order,
    // so the last one written is the one the one-at-a-time run leaves.
    if (!job.work.outputFile.empty()) WriteOutputFile(job);
    Advance(job);
    return true;
  }

  // Creates the file's -xo file and writes its internal echo into it. A failed write ends the run as it
  // does one file at a time: no further file starts, and this one stops at that part.
  void WriteOutputFile(Job& job) {
    std::FILE* file = platform::CreateTextFileIn(job.directory, job.work.outputFile);
    if (file == nullptr) return;
    job.outputFileOpen = true;
    const std::vector<WorkPart>& parts = job.work.parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].kind != WorkPart::Kind::InternalEcho) continue;
      if (WriteThrough(file, parts[i].text, job.work.outputFile, job.failedEchoMessage)) continue;
      job.failedEcho = i;
      ctx.endRun = true;
      stopping = true;
      break;
    }
    std::fclose(file);
  }

  // After a command (or a file that started none) ends: the abort key, then the Stop file.
  void CheckAfterCommand() {
    if (stopping) return;
    switch (CheckForStop(ctx, stopWarning)) {
      case StopRequest::AbortKey:
        aborted = true;
        stopping = true;
        break;
      case StopRequest::StopFile:
        stopping = true;
        break;
      case StopRequest::None:
        break;
    }
  }

  // Prints every complete block at the front of the window.
  void ReleaseFinished() {
    while (!window.empty() && window.front().done) {
      Job& job = window.front();
      bool written = platform::CopyCaptureToOutput(job.output, false);
      written = platform::CopyCaptureToOutput(job.error, true) && written;
      // Output nobody sees: start nothing more.
      if (!written || platform::OutputFailed()) stopping = true;
      GiveBackCapture(job.output);
      GiveBackCapture(job.error);
      lastPrinted = job.work.path;
      window.pop_front();
    }
  }

  void Run() {
    const std::vector<std::string>& entries = Entries(ctx.MatchList);
    std::size_t next = 0;
    for (;;) {
      while (!stopping && next < entries.size() && running.size() < static_cast<std::size_t>(jobs) &&
             window.size() < windowLimit) {
        if (!StartFile(entries[next])) break;
        ++next;
        if (window.back().done) CheckAfterCommand();
      }
      ReleaseFinished();
      // Every file that is not done has a child running, so with none running every block is printed.
      if (running.empty()) {
        if (stopping || next >= entries.size()) break;
        continue;
      }
      int exitCode = 0;
      const int ended = platform::WaitForAnyChild(running, exitCode);
      if (ended < 0) break;
      Job& job = *runningJobs[static_cast<std::size_t>(ended)];
      running.erase(running.begin() + ended);
      runningJobs.erase(runningJobs.begin() + ended);
      if (exitCode != 0) ctx.commandFailed = 1;
      Advance(job);
      CheckAfterCommand();
    }
    for (platform::CaptureHandle capture : spareCaptures)
      platform::CloseCapture(capture);
    if (!stopWarning.empty()) platform::WriteErr(stopWarning);
    if (aborted) platform::WriteOut("Aborting at user's request after " + lastPrinted + ".\n");
  }
};

}  // namespace

void RunInParallel(RunContext& ctx, const CommandTemplate& command, int jobs) {
  jobs = std::min({jobs, kMaxJobs, platform::MaxRunningChildren()});
  ParallelRun(ctx, command, jobs).Run();
}

}  // namespace zelvane
