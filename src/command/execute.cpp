// One engine for every run, in the manner of a build tool's subprocess set: a window of files in list order,
// up to `slots` children running, one wait for whichever ends. A file's steps are interpreted in one place
// (Advance), so a run of one slot and a run of many cannot disagree on what a file does; they differ only
// in where a file's output goes (the console, or a capture printed whole in list order) and what its
// commands read (the keys, or the null device).
#include "command/execute.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "command/file_work.h"
#include "command/macros.h"
#include "command/run_settings.h"
#include "command/stamps.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/processes.h"

namespace zelvane {
namespace {

// Children watched at once: what WaitForMultipleObjects takes, the same on both targets so runs are alike.
constexpr int kMaxSlots = 64;

// How long the commands of a run that got an ending signal have to end before they are killed.
constexpr int kGraceMs = 2000;

// Asks "Execute ...? [y/n]" and reads one key; only y or Y agrees. The end of input declines.
bool Confirmed(const std::string& command) {
  platform::WriteOut("Execute \"" + command + "\"? [y/n] ");
  platform::FlushOutput();
  const int key = platform::ReadKey();
  const bool yes = key == 'y' || key == 'Y';
  platform::WriteOut(yes ? "y\n" : "n\n");
  return yes;
}

// One file, from its start until its block is out.
struct Job {
  FileWork work;
  platform::CaptureHandle capture = platform::kNoCapture;
  platform::StartDirHandle directory = platform::kNoStartDirectory;
  std::FILE* outputFile = nullptr;
  std::vector<std::pair<std::string, std::string>> environment;  // the pseudo variables, once a child starts
  bool opened = false;  // the -xo file is open (or not wanted) and the question answered
  std::size_t nextPart = 0;
  bool echoed = false;    // the part at nextPart was echoed (a start that waits is not echoed twice)
  bool waiting = false;   // a start was refused for want of a resource: tried again when a child ends
  bool finished = false;  // every part handled; its block may still wait for its capture's end
  int result = 0;
};

enum class Started { Yes, Wait };

class Engine {
 public:
  Engine(const RunSettings& ctx, const CommandTemplate& command, int slots, RunProgress& progress)
      : ctx_(ctx),
        progress_(progress),
        command_(command),
        slots_(std::clamp(slots, 1, kMaxSlots)),
        captured_(slots_ > 1),
        oneFile_(captured_ && platform::OutputAndErrorAreOneFile()),
        asks_(ctx.confirm && !ctx.batch),
        windowLimit_(static_cast<std::size_t>(slots_) * 2 + 16) {}

  int Run(const std::vector<std::string>& paths) {
    if (captured_) platform::DeferEndingSignals();
    std::size_t next = 0;
    for (;;) {
      RetryWaiting();
      Release();
      while (!stopping_ && next < paths.size() && running_.size() < static_cast<std::size_t>(slots_) &&
             window_.size() < windowLimit_ && !AnyWaiting()) {
        // A question waits until every earlier block is out, and its answer is acted on before the next.
        if (asks_ && !window_.empty()) break;
        if (StartFile(paths[next]) == Started::Wait) break;
        ++next;
        Release();
      }
      if (window_.empty() && (stopping_ || next >= paths.size())) break;
      Wait();
    }
    // A signal that came after the last wait still ends the run as that signal.
    if (captured_ && !signalled_ && platform::WaitForAny({}, {}, 0).signal) signalled_ = true;
    if (!stopWarning_.empty()) platform::WriteErr(stopWarning_);
    if (aborted_) platform::WriteOut("Aborting at user's request after " + lastReleased_ + ".\n");
    if (signalled_) {
      platform::FlushOutput();
      platform::EndBySignal();
    }
    return lastResult_;
  }

 private:
  // Zelvane's own text for one file: into its block, or straight out.
  void Emit(Job& job, std::string_view text, bool toError = false) {
    if (job.capture != platform::kNoCapture) {
      platform::WriteToCapture(job.capture, text, toError);
    } else if (toError) {
      platform::WriteErr(text);
    } else {
      platform::WriteOut(text);
    }
  }

  // Whether something else still holds resources that it will give back: a running child, or a block
  // whose capture some process still writes into.
  bool OthersHoldResources() const {
    if (!running_.empty()) return true;
    return std::any_of(window_.begin(), window_.end(),
                       [](const Job& job) { return !platform::CaptureEnded(job.capture); });
  }

  bool AnyWaiting() const {
    return std::any_of(window_.begin(), window_.end(), [](const Job& job) { return job.waiting; });
  }

  // Takes the next file into the window and runs its first steps. Waits (nothing taken, nothing numbered)
  // when its capture or its directory is refused for want of a resource while others hold some.
  Started StartFile(const std::string& path) {
    platform::CaptureHandle capture = platform::kNoCapture;
    if (captured_) {
      capture = platform::CreateCapture(oneFile_);
      if (capture == platform::kNoCapture && OthersHoldResources()) return Started::Wait;
    }
    platform::StartDirHandle directory = platform::kNoStartDirectory;
    bool entered = true;
    if (ctx_.changeDir) {
      directory = platform::OpenStartDirectory(FileDirectory(ctx_, path));
      if (directory == platform::kNoStartDirectory) {
        if (platform::WasShortage() && OthersHoldResources()) {
          platform::CloseCapture(capture);
          return Started::Wait;
        }
        entered = false;
      }
    }
    // A file's strings are those of a file done before it, so a long run makes no new ones.
    if (spare_.empty()) {
      window_.emplace_back();
    } else {
      window_.push_back(std::move(spare_.back()));
      spare_.pop_back();
    }
    Job& job = window_.back();
    job.capture = capture;
    job.directory = directory;
    PrepareFileWork(ctx_, command_, path, ++progress_.fileNumber, progress_.totalCount, job.work);
    if (!entered) {
      // A command never runs in a directory the user did not mean.
      Emit(job, DirectoryNotEnteredMessage(ctx_, path));
      progress_.commandFailed = 1;
      Finish(job);
      return Started::Yes;
    }
    Advance(job);
    return Started::Yes;
  }

  // Carries the file's steps on from where they stopped, until a child starts, a start must wait, or
  // nothing is left.
  void Advance(Job& job) {
    if (!job.opened && !job.work.notPassed.empty()) {
      // Skipped before its output file, its question or its echo, so not even an -eo list names it.
      Emit(job, job.work.notPassed);
      progress_.commandFailed = 1;
      Finish(job);
      return;
    }
    if (!job.opened) {
      // Created before the question, so it exists even when the user declines.
      if (!job.work.outputFile.empty() && job.outputFile == nullptr) {
        job.outputFile = platform::CreateTextFileIn(job.directory, job.work.outputFile);
        if (job.outputFile == nullptr && platform::WasShortage() && OthersHoldResources()) {
          job.waiting = true;
          return;
        }
      }
      job.opened = true;
      if (asks_ && !Confirmed(job.work.command)) {
        Finish(job);
        return;
      }
    }
    const std::vector<WorkPart>& parts = job.work.parts;
    for (; job.nextPart < parts.size(); ++job.nextPart, job.echoed = false) {
      // A failed -xo write ends the run: what is running finishes, nothing more starts.
      if (progress_.endRun) break;
      const WorkPart& part = parts[job.nextPart];
      if (part.kind == PartKind::InternalEcho) {
        // Performed even with -eo; the only writer of the -xo file, written through as each part is
        // reached, so a later part of the same Command reads what an earlier one wrote.
        if (job.outputFile == nullptr) {
          Emit(job, part.text);
          continue;
        }
        std::string message;
        if (!WriteThrough(job.outputFile, part.text, job.work.outputFile, message)) {
          // Like a failed write to standard output, this ends the run: nothing more is started.
          Emit(job, message, true);
          progress_.endRun = true;
          stopping_ = true;
          break;
        }
        continue;
      }
      if (ctx_.echoCommand && !job.echoed) Emit(job, part.text + "\n");
      job.echoed = true;
      if (ctx_.echoOnly) continue;
      // A part of blanks alone names no program.
      const std::string name = part.kind == PartKind::Shell ? ctx_.shell
                               : part.args.empty()          ? std::string()
                                                            : part.args.front();
      platform::ChildHandle child = platform::kNoChild;
      if (part.kind == PartKind::Shell || !part.args.empty()) {
        child = platform::StartChild(ChildStartFor(job, part));
        if (child == platform::kNoChild && platform::WasShortage() && OthersHoldResources()) {
          job.waiting = true;
          return;
        }
      }
      if (child == platform::kNoChild) {
        Emit(job, NotExecutedMessage(name));
        progress_.commandFailed = 1;
        job.result = -1;
        continue;
      }
      running_.push_back(child);
      runningJobs_.push_back(&job);
      ++job.nextPart;
      job.echoed = false;
      return;
    }
    Finish(job);
  }

  platform::ChildStart ChildStartFor(Job& job, const WorkPart& part) const {
    platform::ChildStart start;
    if (part.kind == PartKind::Shell) {
      start.shell = ctx_.shell;
      start.commandText = part.text;
    } else {
      start.args = part.args;
    }
    start.directory = job.directory;
    start.capture = job.capture;
    // The pseudo variables are the file's: worked out when its first child starts, with the directory it
    // starts in asked of the system then (an earlier file's command may have renamed it).
    if (job.environment.empty()) {
      std::string cwd;
      if (job.directory != platform::kNoStartDirectory) {
        cwd = platform::StartDirectoryPath(job.directory);
      } else if (!platform::GetCurrentDir(cwd)) {
        cwd = ctx_.startDir;
      }
      PseudoEnvironment env = MakePseudoEnvironment(platform::LocalNow(), cwd);
      job.environment = {{"wday", std::move(env.wday)},
                         {"weekday", std::move(env.weekday)},
                         {"cwd", std::move(env.cwd)},
                         {"date", std::move(env.date)},
                         {"time", std::move(env.time)}};
    }
    start.environment = job.environment;
    return start;
  }

  // Every part handled: the file lets go of what it held, and the run looks for a reason to stop.
  void Finish(Job& job) {
    job.finished = true;
    job.waiting = false;
    if (job.outputFile != nullptr) std::fclose(job.outputFile);
    job.outputFile = nullptr;
    platform::CloseStartDirectory(job.directory);
    job.directory = platform::kNoStartDirectory;
    platform::CloseCaptureInput(job.capture);
    lastResult_ = job.result;
    // Output nobody sees ends the run before anything else is looked at.
    if (platform::OutputFailed()) stopping_ = true;
    if (stopping_) return;
    // Between two files only: a running command always finishes.
    switch (CheckForStop(ctx_, stopWarning_)) {
      case StopRequest::AbortKey:
        aborted_ = true;
        stopping_ = true;
        break;
      case StopRequest::StopFile:
        stopping_ = true;
        break;
      case StopRequest::None:
        break;
    }
  }

  // Starts that were refused for want of a resource are tried again, in list order, once a child ended.
  void RetryWaiting() {
    for (Job& job : window_) {
      if (!job.waiting) continue;
      job.waiting = false;
      // After an ending signal nothing more starts.
      if (signalled_) {
        Finish(job);
        continue;
      }
      Advance(job);
      if (job.waiting) return;
    }
  }

  // Writes out every complete block at the front of the window, before any later file starts: output that
  // cannot be written (a pipe nobody reads, a full disk) leaves the user blind to what the run does, so
  // nothing new starts after it.
  // The oldest file's output goes out as it comes, as it would one at a time, so a failed write shows before
  // the next file starts.
  void Release() {
    while (!window_.empty()) {
      Job& job = window_.front();
      std::string message;
      const bool written = platform::CopyCaptureToOutput(job.capture, message);
      // Said once for the run: later blocks usually fail the same way.
      if (!message.empty() && message != spillMessage_) {
        platform::WriteErr(message);
        spillMessage_ = message;
      }
      if (!message.empty()) stopping_ = true;
      if (!written || platform::OutputFailed()) stopping_ = true;
      if (!job.finished || !platform::CaptureEnded(job.capture)) return;
      platform::CloseCapture(job.capture);
      lastReleased_ = job.work.path;
      Recycle(std::move(job));
      window_.pop_front();
    }
  }

  // Keeps a written-out file's storage for a later one, its state reset.
  void Recycle(Job&& job) {
    if (spare_.size() >= windowLimit_) return;
    Job& kept = spare_.emplace_back();
    kept.work = std::move(job.work);
    kept.environment = std::move(job.environment);
    kept.environment.clear();
  }

  void Wait() {
    std::vector<platform::CaptureHandle> reading;
    for (const Job& job : window_) {
      if (!platform::CaptureEnded(job.capture)) reading.push_back(job.capture);
    }
    if (running_.empty() && reading.empty()) return;
    int timeout = -1;
    if (signalled_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(graceEnd_ - Clock::now());
      timeout = static_cast<int>(std::max<long long>(0, left.count()));
    }
    const platform::WaitResult ended = platform::WaitForAny(running_, reading, timeout);
    if (ended.signal) {
      // The run ends as the signal asks, but not before its commands have ended and what they printed
      // is out.
      signalled_ = true;
      stopping_ = true;
      graceEnd_ = Clock::now() + std::chrono::milliseconds(kGraceMs);
      platform::EndChildren(running_, false);
      return;
    }
    if (ended.child >= 0) {
      const auto index = static_cast<std::size_t>(ended.child);
      Job& job = *runningJobs_[index];
      running_.erase(running_.begin() + ended.child);
      runningJobs_.erase(runningJobs_.begin() + ended.child);
      job.result = ended.exitCode;
      if (ended.exitCode != 0) progress_.commandFailed = 1;
      if (signalled_) {
        Finish(job);
      } else {
        Advance(job);
      }
      return;
    }
    if (signalled_ && Clock::now() >= graceEnd_) {
      if (!running_.empty()) {
        platform::EndChildren(running_, true);
        graceEnd_ = Clock::now() + std::chrono::milliseconds(kGraceMs);
        return;
      }
      // What holds the captures open now is no child of the run: its blocks are written as they stand.
      for (Job& job : window_) {
        if (!job.finished) Finish(job);
        platform::CloseCapture(job.capture);
        job.capture = platform::kNoCapture;
      }
    }
  }

  using Clock = std::chrono::steady_clock;

  const RunSettings& ctx_;
  RunProgress& progress_;
  const CommandTemplate& command_;
  const int slots_;
  const bool captured_;  // each file's output goes to a capture of its own
  const bool oneFile_;   // standard output and standard error are one file: one pipe keeps their order
  const bool asks_;      // -p without -Batch
  const std::size_t windowLimit_;  // files taken but not yet written out: bounds what is held
  std::deque<Job> window_;         // in list order; references stay valid while both ends change
  std::vector<Job> spare_;         // written-out files whose storage the next ones take
  std::vector<platform::ChildHandle> running_;
  std::vector<Job*> runningJobs_;  // the file of each running child
  bool stopping_ = false;
  bool aborted_ = false;
  bool signalled_ = false;
  Clock::time_point graceEnd_;
  std::string stopWarning_;
  std::string spillMessage_;
  std::string lastReleased_;
  int lastResult_ = 0;
};

}  // namespace

StopRequest CheckForStop(const RunSettings& ctx, std::string& warning) {
  if (platform::KeyWaiting()) {
    const int key = platform::ReadKey();
    if (key == static_cast<unsigned char>(ctx.abortKey)) return StopRequest::AbortKey;
    // Another key belongs to the next reader, such as a confirmation prompt.
    if (key >= 0) platform::PushBackKey(key);
  }
  if (!ctx.stopFile.empty() && platform::NameExists(ctx.stopFile)) {
    if (!platform::RemoveFile(ctx.stopFile))
      warning = "WARNING:  could not delete Stop file \"" + ctx.stopFile + "\".\n";
    return StopRequest::StopFile;
  }
  return StopRequest::None;
}

int RunCommands(const RunSettings& ctx, const CommandTemplate& command, const std::vector<std::string>& paths,
                int slots, RunProgress& progress) {
  return Engine(ctx, command, slots, progress).Run(paths);
}

void EndOutOfMemory() {
  platform::FlushOutput();
  platform::WriteErr("Out of memory.\n");
  std::_Exit(1);
}

std::string NotExecutedMessage(const std::string& name) {
  return "Could not execute " + name + ".\n";
}

bool WriteThrough(std::FILE* stream, std::string_view text, const std::string& name, std::string& message) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0)
    return true;
  const int error = errno;
  message = "Could not write \"" + name +
            "\": " + (error != 0 ? std::strerror(error) : "Input/output error") + ".\n";
  return false;
}

std::string DirectoryNotEnteredMessage(const RunSettings& ctx, const std::string& path) {
  // The directory as the match list holds it, without the separator that ends it (a root keeps its own).
  std::string directory = FileDirectory(ctx, path);
  if (directory.size() > 1 && platform::IsPathSeparator(directory.back()) &&
      directory[directory.size() - 2] != ':') {
    directory.pop_back();
  }
  return "Could not change to directory " + directory + ".\n";
}

}  // namespace zelvane
