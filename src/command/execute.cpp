// One engine for every run, in the manner of a build tool's subprocess set: a window of files in list order,
// up to `slots` children running, one wait for whichever ends. A file's steps are interpreted in one place
// (Advance), so a run of one slot and a run of many cannot disagree on what a file does; they differ only
// in where a file's output goes (the console, or a capture printed whole in list order) and what its
// commands read (the keys, or the null device).
#include "command/execute.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "command/file_work.h"
#include "command/macros.h"
#include "command/run_log.h"
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

// How often a run of files that take microseconds each looks at a terminal's keys.
constexpr std::chrono::milliseconds kLookEvery{10};

// Log lines held at most before they are written, when nothing else makes the run write them sooner.
constexpr std::size_t kLogHeld = std::size_t{64} * 1024;

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
  bool started = false;   // a child of it has started
  bool timedOut = false;  // its running child ran past -KillAfter (counted as a failure then)
  bool everTimedOut = false;
  bool skipped = false;                         // declined, or its directory could not be entered
  bool startFailed = false;                     // its last part could not be started
  std::chrono::steady_clock::time_point began;  // when it was taken
  std::string beganText;                        // the same in local time, for the log
  int result = 0;
  std::size_t first = 0;  // index of its (first) file in the run's list
  std::size_t files = 1;  // files it runs for: more than one only with -Gather
  int firstNumber = 0;    // $c of its first file
};

enum class Started { Yes, Wait };

class Engine {
 public:
  Engine(const RunSettings& ctx, const CommandTemplate& command, int slots, RunProgress& progress)
      : ctx_(ctx),
        progress_(progress),
        command_(command),
        slots_(std::clamp(slots, 1, kMaxSlots)),
        statusWidth_(ctx.showProgress ? platform::ErrorTerminalWidth() : 0),
        // A status line and a command's own output cannot share the terminal: with one, everything a command
        // prints passes through the run, as side by side.
        captured_(slots_ > 1 || statusWidth_ > 0),
        oneFile_(captured_ && platform::OutputAndErrorAreOneFile()),
        asks_(ctx.confirm && !ctx.batch),
        echoesAlone_(!captured_ && !asks_ && ctx.outputFile.empty() && !ctx.changeDir &&
                     ctx.logFile.empty() && !ctx.gather && EchoesAlone(ctx, command)),
        windowLimit_(static_cast<std::size_t>(slots_) * 2 + 16) {}

  int Run(const std::vector<std::string>& paths, const std::vector<platform::DirIdentity>& directories) {
    if (captured_) platform::DeferEndingSignals();
    paths_ = &paths;
    if (!ctx_.logFile.empty() && !OpenLog()) return lastResult_;
    if (echoesAlone_) {
      const platform::OutputHold hold;
      while (!stopping_ && next_ < paths.size())
        EchoFile();
    } else {
      for (;;) {
        RetryWaiting();
        Release();
        while (!stopping_ && next_ < paths.size() && running_.size() < static_cast<std::size_t>(slots_) &&
               window_.size() < windowLimit_ && !AnyWaiting()) {
          // A question waits until every earlier block is out, and its answer is acted on before the next.
          if (asks_ && !window_.empty()) break;
          SkipDone();
          if (next_ >= paths.size()) break;
          const platform::DirIdentity listed =
              next_ < directories.size() ? directories[next_] : platform::DirIdentity{};
          if (StartFile(listed) == Started::Wait) break;
          Release();
        }
        SkipDone();
        if (window_.empty() && (stopping_ || next_ >= paths.size())) break;
        Wait();
      }
    }
    EraseStatus();
    CloseLog();
    if (quit_) {
      platform::FlushOutput();
      platform::WriteErr("Stopped after " + std::to_string(progress_.failures) + " failed command(s).\n");
      progress_.quitOnFail = true;
    }
    // A signal that came after the last wait still ends the run as that signal.
    if (captured_ && !signalled_ && platform::WaitForAny({}, {}, 0).signal) signalled_ = true;
    if (!stopWarning_.empty()) platform::WriteErr(stopWarning_);
    if (aborted_) {
      std::string message = "Aborting at user's request after ";
      if (lastReleased_ < paths.size()) message += paths[lastReleased_];
      message += ".\n";
      platform::WriteOut(message);
    }
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

  // Whether something else than `self` still holds resources that it will give back: a running child, or
  // a block whose capture some process still writes into. The capture of `self` ends only when `self` is
  // finished, so waiting for it would wait forever.
  bool OthersHoldResources(const Job* self = nullptr) const {
    if (!running_.empty()) return true;
    return std::any_of(window_.begin(), window_.end(), [self](const Job& job) {
      return &job != self && !platform::CaptureEnded(job.capture);
    });
  }

  bool AnyWaiting() const {
    return std::any_of(window_.begin(), window_.end(), [](const Job& job) { return job.waiting; });
  }

  // Takes the next file into the window and runs its first steps. Waits (nothing taken, nothing numbered)
  // when its capture or its directory is refused for want of a resource while others hold some.
  Started StartFile(const platform::DirIdentity& listed) {
    const std::string& path = (*paths_)[next_];
    platform::CaptureHandle capture = platform::kNoCapture;
    if (captured_) {
      capture = platform::CreateCapture(oneFile_);
      if (capture == platform::kNoCapture && OthersHoldResources()) return Started::Wait;
    }
    platform::StartDirHandle directory = platform::kNoStartDirectory;
    bool entered = true;
    if (ctx_.changeDir) {
      directory = platform::OpenStartDirectory(FileDirectory(ctx_, path), !ctx_.shell.empty());
      if (directory == platform::kNoStartDirectory) {
        if (platform::WasShortage() && OthersHoldResources()) {
          platform::CloseCapture(capture);
          return Started::Wait;
        }
        entered = false;
      } else if (listed.known) {
        // Entered only if it is still the directory the search listed: one replaced since (by a link to
        // somewhere else, say, by an earlier command) is another place than the user's.
        const platform::DirIdentity now = platform::StartDirectoryIdentity(directory);
        if (now.known && now != listed) {
          platform::CloseStartDirectory(directory);
          directory = platform::kNoStartDirectory;
          entered = false;
        }
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
    job.first = next_;
    job.firstNumber = progress_.fileNumber + 1;
    if (log_ != nullptr) {
      job.began = Clock::now();
      const platform::SystemTime now = platform::LocalNow();
      job.beganText = LocalTimeText(now.year, now.month, now.day, now.hour, now.minute, now.second);
    }
    job.files = Prepare(job, 0);
    if (!entered) {
      // A command never runs in a directory the user did not mean.
      Emit(job, DirectoryNotEnteredMessage(ctx_, path));
      job.skipped = true;
      Failed();
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
      Failed();
      job.skipped = true;
      Finish(job);
      return;
    }
    if (!job.opened) {
      // Created before the question, so it exists even when the user declines.
      if (!job.work.outputFile.empty() && job.outputFile == nullptr) {
        job.outputFile = platform::CreateTextFileIn(job.directory, job.work.outputFile);
        if (job.outputFile == nullptr && platform::WasShortage() && OthersHoldResources(&job)) {
          job.waiting = true;
          return;
        }
      }
      job.opened = true;
      if (asks_) {
        EraseStatus();
        FlushLog();
      }
      if (asks_ && !Confirmed(job.work.command)) {
        job.skipped = true;
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
      // Asked of the system only for a start it refused: a part naming no program leaves it unasked.
      bool tooLong = false;
      if (part.kind == PartKind::Shell || !part.args.empty()) {
        FlushLog();
        child = platform::StartChild(ChildStartFor(job, part));
        tooLong = child == platform::kNoChild && platform::WasTooLong();
        if (child == platform::kNoChild && platform::WasShortage() && OthersHoldResources(&job)) {
          job.waiting = true;
          return;
        }
      }
      if (tooLong && SplitGroup(job)) {
        // Fewer files, the same first part: echoed and tried again with the shorter line (the step of the
        // loop brings it back to this part).
        --job.nextPart;
        continue;
      }
      if (child == platform::kNoChild) {
        Emit(job, tooLong ? TooLongMessage(name) : NotExecutedMessage(name));
        Failed();
        job.result = -1;
        job.startFailed = true;
        continue;
      }
      job.started = true;
      job.startFailed = false;
      running_.push_back(child);
      runningJobs_.push_back(&job);
      killStage_.push_back(0);
      deadlines_.push_back(ctx_.killAfter > 0 ? Clock::now() + std::chrono::seconds(ctx_.killAfter)
                                              : Clock::time_point::max());
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
    start.ownGroup = ctx_.killAfter > 0;
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
    if (log_ != nullptr) WriteLog(job);
    LookForStop();
  }

  // A file of a Command of internal echoes alone, one at a time, with no question, -xo file, directory, log
  // or group to see to: what Prepare, Advance, Finish and Release do for such a file, without a job to hold
  // it, since nothing of it outlives its parts. A run over every file of a large tree is mostly this.
  void EchoFile() {
    const int number = progress_.fileNumber + 1;
    // The paths' text lies scattered over memory, and each is read once: asked for a few files ahead, it is
    // there when its turn comes, rather than waited for then.
    if (next_ + 16 < paths_->size()) __builtin_prefetch((*paths_)[next_ + 16].data());
    PrepareEchoTexts(ctx_, command_, (*paths_)[next_], number, progress_.totalCount, echoTexts_);
    progress_.fileNumber = number;
    lastReleased_ = next_++;
    for (const std::string& text : echoTexts_)
      platform::WriteOut(text);
    lastResult_ = 0;
    ++filesDone_;
    LookForStop(/*everyFile=*/false);
  }

  // After each file: output nobody sees ends the run before anything else is looked at; then the abort key
  // and the Stop file. Without `everyFile`, files that take microseconds each (internal echoes) look at a
  // terminal's keys only every few milliseconds: asking a terminal costs several system calls, which for
  // such files was nine tenths of the run, and a person's key still ends it sooner than they can tell.
  void LookForStop(bool everyFile = true) {
    if (platform::OutputFailed()) stopping_ = true;
    if (stopping_) return;
    if (!everyFile && keysFromTerminal_ && ctx_.stopFile.empty()) {
      const Clock::time_point now = Clock::now();
      if (now - lastLook_ < kLookEvery) return;
      lastLook_ = now;
    }
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
      // Asked first: what comes after the answer is still copied below, so nothing of the block is left.
      const bool done = job.finished && platform::CaptureEnded(job.capture);
      // Under a status line a block goes out whole, once its file is done: the line is erased only then.
      if (statusWidth_ > 0 && !done) return;
      EraseStatus();
      const bool written = platform::CopyCaptureToOutput(job.capture, message, statusWidth_ == 0);
      // Said once for the run: later blocks usually fail the same way.
      if (!message.empty() && message != spillMessage_) {
        platform::WriteErr(message);
        spillMessage_ = message;
      }
      if (!message.empty()) stopping_ = true;
      if (!written || platform::OutputFailed()) stopping_ = true;
      if (!done) return;
      platform::CloseCapture(job.capture);
      lastReleased_ = job.first;
      filesDone_ += static_cast<int>(job.files);
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
    Clock::time_point until = Clock::time_point::max();
    if (signalled_) until = graceEnd_;
    if (statusWidth_ > 0) {
      DrawStatus();
      until = std::min(until, lastDraw_ + kStatusEvery);
    }
    for (const Clock::time_point deadline : deadlines_)
      until = std::min(until, deadline);
    if (until != Clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
      // Rounded up, so the wait never ends just before the time it waits for.
      timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 24LL * 3600 * 1000));
    }
    FlushLog();
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
      killStage_.erase(killStage_.begin() + ended.child);
      deadlines_.erase(deadlines_.begin() + ended.child);
      job.result = ended.exitCode;
      // A command ended for its time was counted when it was.
      if (ended.exitCode != 0 && !job.timedOut) Failed();
      job.timedOut = false;
      if (signalled_) {
        Finish(job);
      } else {
        Advance(job);
      }
      return;
    }
    EndOverdue();
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

  // Expands the job's Command for its file, or with -Gather for as many files from it as one command takes
  // (at most `most`, 0: no number). Returns the files it takes; the run's place in the list moves past them.
  std::size_t Prepare(Job& job, std::size_t most) {
    std::size_t taken = 1;
    const std::string& path = (*paths_)[job.first];
    if (ctx_.gather) {
      GroupLimits limits;
      limits.most = most != 0 ? most : static_cast<std::size_t>(ctx_.gatherMost);
      limits.wordRoom = platform::CommandLineRoom(false);
      limits.shellRoom = platform::CommandLineRoom(true);
      limits.cost = platform::WordCost;
      limits.end = NextDone(job.first + 1);
      taken = PrepareGroupWork(ctx_, command_, *paths_, job.first, job.firstNumber, progress_.totalCount,
                               limits, job.work);
    } else {
      PrepareFileWork(ctx_, command_, path, job.firstNumber, progress_.totalCount, job.work);
    }
    next_ = job.first + taken;
    progress_.fileNumber = job.firstNumber + static_cast<int>(taken) - 1;
    return taken;
  }

  // A group whose first command line the system refused as too long is cut in half and tried again, while
  // nothing of it has started and no later file has been taken: the files it lets go come next.
  bool SplitGroup(Job& job) {
    if (job.files <= 1 || job.started || job.nextPart != 0 || &window_.back() != &job) return false;
    job.files = Prepare(job, job.files / 2);
    return true;
  }

  // Opens the -Log file to append to; with -Resume, first reads which files it says are done. A log that
  // cannot be opened is reported as a failed write and nothing runs.
  bool OpenLog() {
    if (ctx_.resume) {
      done_ = DoneFiles(ctx_.logFile, *paths_);
      resumed_ = static_cast<int>(std::count(done_.begin(), done_.end(), true));
    }
    errno = 0;
    log_ = platform::OpenForAppending(ctx_.logFile);
    if (log_ == nullptr) {
      LogFailed(errno);
      return false;
    }
    std::fseek(log_, 0, SEEK_END);
    if (std::ftell(log_) == 0) Log(LogHeader());
    return log_ != nullptr;
  }

  void LogFailed(int error) {
    EraseStatus();
    platform::WriteErr("Could not write \"" + ctx_.logFile +
                       "\": " + (error != 0 ? std::strerror(error) : "Input/output error") + ".\n");
    progress_.endRun = true;
    stopping_ = true;
  }

  // Lines are held until the run is about to start a command, wait, or ask, and then written whole in one
  // write: a file's line is out before anything else happens, so an interrupted run leaves whole lines
  // and loses none of a file whose command ran, while a run of internal echoes makes one write for many
  // files rather than one each.
  void Log(const std::string& line) {
    logPending_ += line;
    if (logPending_.size() >= kLogHeld) FlushLog();
  }

  void FlushLog() {
    if (log_ == nullptr || logPending_.empty()) return;
    errno = 0;
    const bool written = std::fwrite(logPending_.data(), 1, logPending_.size(), log_) == logPending_.size() &&
                         std::fflush(log_) == 0;
    logPending_.clear();
    if (written) return;
    LogFailed(errno);
    std::fclose(log_);
    log_ = nullptr;
  }

  // A line for each file of the job: what became of it.
  void WriteLog(const Job& job) {
    LogEntry entry;
    entry.start = job.beganText;
    entry.seconds = std::chrono::duration<double>(Clock::now() - job.began).count();
    // A file the run left before its last part (a failed -xo write, an ending signal) is not done, whatever
    // its earlier parts returned: -Resume runs it again.
    const bool cut = job.nextPart < job.work.parts.size();
    entry.exit = job.everTimedOut                          ? "timeout"
                 : job.skipped                             ? "skipped"
                 : ctx_.echoOnly || job.startFailed || cut ? "not started"
                                                           : std::to_string(job.result);
    entry.command = job.work.command;
    for (std::size_t i = 0; i < job.files && log_ != nullptr; ++i) {
      entry.number = job.firstNumber + static_cast<int>(i);
      // A group's command is written once, on its first file's line: written on every line, a group of
      // 100,000 files would write its megabytes 100,000 times.
      if (i == 1) entry.command = "same command as file " + std::to_string(job.firstNumber);
      entry.path = (*paths_)[job.first + i];
      entry.size = 0;
      entry.time.clear();
      CurrentFileState(entry.path, entry.size, entry.time);
      Log(FormatLogLine(entry));
    }
  }

  void CloseLog() {
    FlushLog();
    if (log_ == nullptr) return;
    if (!platform::SyncToDisk(log_)) LogFailed(errno);
    std::fclose(log_);
    log_ = nullptr;
  }

  // Files the log says are done (-Resume) are passed over, though they keep their numbers.
  void SkipDone() {
    while (next_ < done_.size() && done_[next_]) {
      ++next_;
      ++progress_.fileNumber;
    }
  }

  // The first file from `from` on that -Resume passes over (the list's end when none): a group stops there.
  std::size_t NextDone(std::size_t from) {
    doneScan_ = std::max(doneScan_, from);
    while (doneScan_ < done_.size() && !done_[doneScan_])
      ++doneScan_;
    return doneScan_ < done_.size() ? doneScan_ : static_cast<std::size_t>(-1);
  }

  // The status line of -Progress: drawn at most ten times a second while the run waits, and erased before
  // anything else is written.
  void DrawStatus() {
    const Clock::time_point now = Clock::now();
    if (statusShown_ > 0 && now - lastDraw_ < kStatusEvery) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - runStart_).count();
    const std::string current = window_.empty() ? std::string() : window_.back().work.path;
    const std::string text = StatusLineText(filesDone_, progress_.totalCount - resumed_, progress_.failures,
                                            elapsed, current, statusWidth_);
    if (statusShown_ > 0 && text == statusText_) return;
    statusText_ = text;
    // Written over what stood there, with blanks past its end where the last line was longer.
    std::string line(1, '\r');
    line += text;
    if (statusShown_ > text.size()) {
      line.append(statusShown_ - text.size(), ' ');
      line += '\r';
      line += text;
    }
    platform::WriteErr(line);
    statusShown_ = text.size();
  }

  void EraseStatus() {
    if (statusShown_ == 0) return;
    std::string blank(statusShown_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    platform::WriteErr(blank);
    statusShown_ = 0;
  }

  // A failure as -ReturnCode counts it; with -QuitOnFail the n-th lets no new file start.
  void Failed() {
    progress_.commandFailed = 1;
    ++progress_.failures;
    if (ctx_.quitOnFail > 0 && progress_.failures >= ctx_.quitOnFail) {
      quit_ = true;
      stopping_ = true;
    }
  }

  // Commands past -KillAfter are asked to end, and two seconds later ended for good, with what they started.
  void EndOverdue() {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < running_.size(); ++i) {
      if (now < deadlines_[i]) continue;
      Job& job = *runningJobs_[i];
      if (killStage_[i] == 0) {
        const std::size_t part = job.nextPart - 1;
        const std::string& text = part < job.work.parts.size() ? job.work.parts[part].text : job.work.command;
        Emit(job, "Command timed out after " + std::to_string(ctx_.killAfter) + " s: " + text + ".\n", true);
        Failed();
        job.timedOut = true;
        job.everTimedOut = true;
        platform::EndChild(running_[i], false);
        killStage_[i] = 1;
        deadlines_[i] = now + std::chrono::milliseconds(kGraceMs);
      } else {
        platform::EndChild(running_[i], true);
        deadlines_[i] = Clock::time_point::max();
      }
    }
  }

  const RunSettings& ctx_;
  RunProgress& progress_;
  const CommandTemplate& command_;
  const int slots_;
  const int statusWidth_;  // -Progress on a terminal this wide; 0: no status line
  const bool captured_;    // each file's output goes to a capture of its own
  const bool oneFile_;     // standard output and standard error are one file: one pipe keeps their order
  const bool asks_;        // -p without -Batch
  const bool keysFromTerminal_ = platform::KeysFromTerminal();
  Clock::time_point lastLook_{};   // when the keys were last looked at, for files that take microseconds
  const bool echoesAlone_;         // every file takes the short way of EchoFile
  const std::size_t windowLimit_;  // files taken but not yet written out: bounds what is held
  std::deque<Job> window_;         // in list order; references stay valid while both ends change
  std::vector<Job> spare_;         // written-out files whose storage the next ones take
  std::vector<platform::ChildHandle> running_;
  std::vector<Job*> runningJobs_;  // the file of each running child
  std::vector<int> killStage_;     // of each running child: 0, asked to end (1), ended for good (2)
  std::vector<Clock::time_point> deadlines_;  // when each running child is next acted on for its time
  const std::vector<std::string>* paths_ = nullptr;
  std::size_t next_ = 0;      // the first file of the list not yet taken
  bool quit_ = false;         // -QuitOnFail saw its n-th failure
  std::FILE* log_ = nullptr;  // -Log
  std::string logPending_;    // its lines not written yet
  static constexpr std::chrono::milliseconds kStatusEvery{100};
  std::size_t statusShown_ = 0;  // the length of the status line on the terminal now
  std::string statusText_;       // what it shows
  Clock::time_point lastDraw_;
  const Clock::time_point runStart_ = Clock::now();
  int filesDone_ = 0;       // files whose blocks are out
  int resumed_ = 0;         // files -Resume passes over: neither done by this run nor left for it
  std::vector<bool> done_;  // -Resume: files the log says succeeded and that have not changed since
  std::size_t doneScan_ = 0;
  bool stopping_ = false;
  bool aborted_ = false;
  bool signalled_ = false;
  Clock::time_point graceEnd_;
  std::string stopWarning_;
  std::string spillMessage_;
  std::size_t lastReleased_ = static_cast<std::size_t>(-1);  // the index of the file written out last
  std::vector<std::string> echoTexts_;                       // EchoFile's parts, kept from file to file
  int lastResult_ = 0;
};

}  // namespace

StopRequest CheckForStop(const RunSettings& ctx, std::string& warning) {
  // Another key belongs to the next reader, such as a confirmation prompt: it is left where it waits.
  if (platform::WaitingKey() == static_cast<unsigned char>(ctx.abortKey)) {
    platform::ReadKey();
    return StopRequest::AbortKey;
  }
  if (!ctx.stopFile.empty() && platform::NameExists(ctx.stopFile)) {
    if (!platform::RemoveFile(ctx.stopFile))
      warning = "WARNING:  could not delete Stop file \"" + ctx.stopFile + "\".\n";
    return StopRequest::StopFile;
  }
  return StopRequest::None;
}

int RunCommands(const RunSettings& ctx, const CommandTemplate& command, const std::vector<std::string>& paths,
                const std::vector<platform::DirIdentity>& directories, int slots, RunProgress& progress) {
  return Engine(ctx, command, slots, progress).Run(paths, directories);
}

void EndOutOfMemory() {
  platform::FlushOutput();
  platform::WriteErr("Out of memory.\n");
  std::_Exit(1);
}

void EndUnreadableDirectory(const std::string& path, const std::string& reason) {
  platform::FlushOutput();
  platform::WriteErr("Could not read directory " + path + ": " + reason + ".\n");
  std::_Exit(1);
}

std::string NotExecutedMessage(const std::string& name) {
  return "Could not execute " + name + ".\n";
}

std::string StatusLineText(int done, int total, int failures, double elapsedSeconds, std::string_view current,
                           int width) {
  const auto clock = [](double seconds) {
    const long long s = std::llround(seconds);
    char text[32];
    if (s >= 3600) {
      std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    }
    return std::string(text);
  };
  // Built by appending: GCC 12 warns falsely on a chain of + with a temporary here.
  std::string text = "[";
  text += std::to_string(done);
  text += '/';
  text += std::to_string(total);
  text += "] ";
  if (failures > 0) {
    text += std::to_string(failures);
    text += " failed, ";
  }
  text += clock(elapsedSeconds);
  // The time left at the pace of the files done so far: steadier than the pace of the last few.
  if (done > 0 && total > done) {
    text += ", ~";
    text += clock(elapsedSeconds / done * (total - done));
    text += " left";
  }
  if (!current.empty()) {
    text += ": ";
    text += current;
  }
  // One column short of the width, so the terminal never wraps the line; a cut never splits a character.
  const std::size_t most = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
  if (text.size() > most) {
    std::size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
      --cut;
    text.resize(cut);
  }
  return text;
}

std::string TooLongMessage(const std::string& name) {
  return "Could not execute " + name + ": the command line is too long.\n";
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
