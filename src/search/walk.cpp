// The walk of one directory tree.
//
// A walker is a loop over an explicit stack of directories, never a recursion, so a tree is never too
// deep for it, and it keeps one path that grows and shrinks as it goes down and up: what it holds is
// linear in the depth. Each directory is read once: the one listing serves both the name pattern and the
// walk into its subdirectories. A subdirectory is opened relative to its parent's open handle, so its
// depth is not bounded by the length of a path the OS would accept and the current directory stays where
// it is.
//
// Several walkers share a tree by handing each other subdirectories they have not entered yet: when
// another walker waits for work, a walker gives away the next unentered subdirectory of the shallowest
// directory on its stack (the largest piece of work it has), opened, with its path. Each walker writes its
// matches to a piece of output of its own, and notes there where a handed-off subdirectory's piece
// stands: exactly where its own walk would have walked it. Joining the pieces at the end gives the
// insertions of one walker alone, in the same order.
#include "search/walk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "command/execute.h"
#include "filespec/filespec.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/threads.h"
#include "search/why.h"

namespace zelvane {
namespace {

// A walked name may hold '\' on POSIX, where it is no separator: only the platform says which are.
const platform::SeparatorRule IsSeparator;

bool EndsInSeparator(std::string_view path) {
  return !path.empty() && IsSeparator(path.back());
}

void AppendName(std::string& path, std::string_view name) {
  if (!EndsInSeparator(path)) path += platform::NativeSeparator();
  path += name;
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// Hidden subdirectories are walked (the masks filter matches, not the walk); one reached through a
// symbolic link never is, since walking it could loop forever.
bool IsWalkable(const platform::DirEntry& e) {
  return e.isDirectory && !e.isLink && !e.name.empty() && e.name[0] != '.';
}

// The matches of one piece of a walk, in the order one walker would find them. A piece handed to another
// walker stands where this walker would have walked it: before match number `at`.
//
// The matches are kept a directory at a time: the directory's path and identity once, then the names
// matched in it, so a piece holds a few bytes a match beside the list it is joined into. The full paths
// are made as the pieces are joined, straight into the list.
struct Output {
  struct Handed {
    std::size_t at;
    Output* piece;
  };
  struct Group {
    std::size_t pathEnd;   // the directory's path ends here in `text`; it begins where the group before ends
    std::size_t namesEnd;  // the group's names, each followed by a '\0' (no name holds one), end here
    platform::DirIdentity identity;
  };
  std::string text;
  std::vector<Group> groups;
  std::size_t count = 0;  // matches
  std::vector<Handed> handed;
};

// A subdirectory to walk, with everything below it: what a walker hands another.
struct Task {
  platform::DirHandle handle = platform::kNoDirectory;
  std::string path;
  ListingCache::Node* node = nullptr;
  Output* output = nullptr;
};

// One directory on a walker's stack.
struct Directory {
  platform::DirHandle handle = platform::kNoDirectory;
  std::size_t pathLength = 0;           // its stored form is the walker's path cut to this length
  ListingCache::Node* node = nullptr;   // where its listing is kept; null when none is
  std::vector<platform::DirEntry> own;  // its listing when none is kept
  std::size_t next = 0;                 // the next entry to look at for a subdirectory
  std::size_t subdirectoriesLeft = 0;   // walkable subdirectories from `next` on
  platform::DirIdentity identity;       // known once it is listed
  bool listed = false;                  // its listing was read
  bool kept = false;                    // its whole tree is kept: it is walked without a handle
  bool parentReleased = false;          // the parent's handle was let go while this one is walked
  std::vector<Output*> handedOff;       // subdirectories given away, whose matches come before the next

  const std::vector<platform::DirEntry>& Entries() const { return node != nullptr ? node->entries : own; }
};

// Whether the walk finds the tree of `node` kept whole, so it need not open anything in it.
bool TreeKept(const WalkSettings& s, const ListingCache::Node* node) {
  return node != nullptr && (s.wantAttributes ? node->treeKeptWithAttributes : node->treeKept);
}

Directory Enter(const WalkSettings& s, platform::DirHandle handle, std::size_t pathLength,
                ListingCache::Node* node, bool parentReleased) {
  Directory dir;
  dir.handle = handle;
  dir.pathLength = pathLength;
  dir.node = node;
  dir.kept = TreeKept(s, node);
  dir.parentReleased = parentReleased;
  return dir;
}

// A directory the walk cannot read for any reason but permission or its being gone ends the run before a
// command starts: the matches would be less than the tree. `parentPath` and `name` give its path.
void CheckRefused(const WalkSettings& s, std::string_view parentPath, std::string_view name) {
  if (s.why == nullptr && platform::LastDirectoryFailure() == platform::DirFailure::Refused) return;
  std::string path =
      name.empty() ? s.drive + std::string(parentPath) : MakeFullPath(s.drive, parentPath, name);
  if (s.why != nullptr) {
    s.why->Add(std::move(path), "unreadable", platform::LastDirectoryFailureText());
    return;
  }
  EndUnreadableDirectory(path, platform::LastDirectoryFailureText());
}

bool ShortOfHandles() {
  return platform::LastDirectoryFailure() == platform::DirFailure::Shortage;
}

// Lets go of every handle the walker holds below the top of its stack, so that a directory refused for
// want of a descriptor can be opened after all; each is opened again from its child by ".." when the walk
// comes back up to it. A kept tree holds no handles, so it cannot open its parent again: handles above one
// stay.
void ReleaseHeld(std::vector<Directory>& stack) {
  for (std::size_t i = 0; i + 1 < stack.size() && !stack[i + 1].kept; ++i) {
    if (stack[i].handle == platform::kNoDirectory) continue;
    platform::CloseDirectory(stack[i].handle);
    stack[i].handle = platform::kNoDirectory;
    stack[i + 1].parentReleased = true;
  }
}

// Opens the subdirectory `name` of `parent` for the walk, with its node in the kept listings (or null when
// none are kept): nothing to open when its tree is kept whole. False when it cannot be opened; see
// LastDirectoryFailure for why.
bool OpenChild(const WalkSettings& s, const Directory& parent, const std::string& name,
               platform::DirHandle& handle, ListingCache::Node*& node) {
  handle = platform::kNoDirectory;
  node = parent.node != nullptr ? ListingCache::FindChild(*parent.node, name) : nullptr;
  if (TreeKept(s, node)) return true;
  if (parent.handle == platform::kNoDirectory) return false;
  handle = platform::OpenSubdirectory(parent.handle, name);
  if (handle == platform::kNoDirectory) return false;
  if (parent.node != nullptr && node == nullptr) node = &ListingCache::Child(*parent.node, name);
  return true;
}

// Opens the parent of `done` again, from `done` by "..", after the walk let go of it; the parent is the top
// of `stack` again, and `parentPath` its path. A parent that is no longer the directory the walk listed (the
// tree was moved meanwhile) is not walked further, as if it were gone.
void ReopenParent(const WalkSettings& s, std::vector<Directory>& stack, const Directory& done,
                  std::string_view parentPath) {
  Directory& parent = stack.back();
  // A directory that was itself no longer there to reopen (moved or removed during the search) has no
  // ".." to go by: its parent is passed over as gone, as it would be had the walk found it gone.
  if (done.handle == platform::kNoDirectory) return;
  parent.handle = platform::OpenSubdirectory(done.handle, "..");
  if (parent.handle == platform::kNoDirectory && ShortOfHandles()) {
    ReleaseHeld(stack);
    parent.handle = platform::OpenSubdirectory(done.handle, "..");
  }
  if (parent.handle == platform::kNoDirectory) {
    CheckRefused(s, parentPath, {});
    return;
  }
  if (parent.identity.known && platform::IdentityOf(parent.handle) != parent.identity) {
    platform::CloseDirectory(parent.handle);
    parent.handle = platform::kNoDirectory;
  }
}

// OpenChild for the top of a walker's stack, whose path is `path`: short of descriptors, the walker lets
// go of those it holds and tries again. False when the directory is refused or gone; any other failure ends
// the run.
bool OpenChildOfTop(const WalkSettings& s, std::vector<Directory>& stack, const std::string& path,
                    const std::string& name, platform::DirHandle& handle, ListingCache::Node*& node) {
  if (OpenChild(s, stack.back(), name, handle, node)) return true;
  if (ShortOfHandles()) {
    ReleaseHeld(stack);
    // Walkers beside this one may hold the rest: they let go as they finish their pieces.
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (OpenChild(s, stack.back(), name, handle, node)) return true;
      if (!ShortOfHandles()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  CheckRefused(s, path, name);
  return false;
}

// Reads the listing of `dir` through its handle, or takes the one kept from an earlier search. False when
// it cannot be read (see LastDirectoryFailure).
bool ReadListing(const WalkSettings& s, Directory& dir) {
  ListingCache::Node* node = dir.node;
  if (node != nullptr && node->listed && (node->withAttributes || !s.wantAttributes)) {
    dir.identity = node->identity;
    return true;
  }
  std::vector<platform::DirEntry>& into = node != nullptr ? node->entries : dir.own;
  if (!platform::ListDirectory(dir.handle, into, s.wantAttributes)) {
    if (node != nullptr) node->listed = false;
    return false;
  }
  // Which directory this is, however its path was spelled: what tells its matches from others'.
  dir.identity = s.wantIdentity ? platform::IdentityOf(dir.handle) : platform::DirIdentity{};
  if (node != nullptr) {
    node->listed = true;
    node->withAttributes = s.wantAttributes;
    node->identity = dir.identity;
  }
  return true;
}

// What the name pattern and the attribute switches make of one entry.
enum class Fate { Match, DotName, NoMatch, Attribute };

Fate FateOf(const WalkSettings& s, const platform::DirEntry& e, bool exactOnly) {
  // Names beginning with '.' are never matches: this also keeps "." and ".." out.
  if (e.name.empty() || e.name[0] == '.') return Fate::DotName;
  if (exactOnly ? e.name != s.pattern : !platform::MatchesPattern(s.pattern, e.name)) return Fate::NoMatch;
  if ((e.attributes & s.required) != s.required || (e.attributes & s.excluded) != 0) return Fate::Attribute;
  return Fate::Match;
}

// -Why's note of an entry looked at (a match's only the place its line will take), and of a directory the
// walk does not enter.
void NoteFate(const WalkSettings& s, std::string_view searchedPath, const platform::DirEntry& e, Fate fate) {
  WhyLog& why = *s.why;
  if (fate != Fate::Match) {
    std::string detail = why.step;
    const char* verdict = fate == Fate::DotName ? "dot-name" : "no-match";
    if (fate == Fate::Attribute) {
      // The first attribute that decided it, as the switch spells it.
      const std::uint32_t missing = s.required & ~e.attributes;
      const std::uint32_t bits = missing != 0 ? missing : e.attributes & s.excluded;
      detail = missing != 0 ? "missing " : "has ";
      detail += AttributeLetter(bits & (~bits + 1));
      verdict = "attribute";
    }
    why.Add(MakeFullPath(s.drive, searchedPath, e.name), verdict, std::move(detail));
  } else {
    // A match's fate is decided once the list is made: its place is kept here, where it was looked at.
    why.Add(MakeFullPath(s.drive, searchedPath, e.name), nullptr, {});
  }
  if (s.recurse && fate != Fate::DotName && e.isDirectory && e.isLink)
    why.Add(MakeFullPath(s.drive, searchedPath, e.name), "link", "not entered");
}

void AddMatches(const WalkSettings& s, std::string_view searchedPath, const Directory& dir, Output& out) {
  const std::vector<platform::DirEntry>& entries = dir.Entries();
  // A name without wildcards is looked up exactly first, and only when that fails without regard to case.
  bool exactOnly = false;
  if (!HasWildcards(s.pattern)) {
    for (const platform::DirEntry& e : entries) {
      if (e.name == s.pattern) {
        exactOnly = true;
        break;
      }
    }
  }
  std::string alias;
  if (s.aliases && !exactOnly && !HasWildcards(s.pattern) && platform::HasAlternateNames()) {
    // No entry has that long name: it may be another's short name, which the system alone knows.
    bool found = false;
    for (const platform::DirEntry& e : entries)
      found = found || platform::MatchesPattern(s.pattern, e.name);
    platform::FindData data;
    if (!found && platform::FindFirst(MakeFullPath(s.drive, searchedPath, s.pattern), data) &&
        platform::MatchesPattern(s.pattern, data.alternateName))
      alias = data.name;
  }
  bool grouped = false;
  const auto add = [&](std::string_view name) {
    if (!grouped) {
      out.text += searchedPath;
      out.groups.push_back({out.text.size(), out.text.size(), dir.identity});
      grouped = true;
    }
    out.text += name;
    out.text += '\0';
    out.groups.back().namesEnd = out.text.size();
    ++out.count;
  };
  for (const platform::DirEntry& e : entries) {
    if (!alias.empty()) {
      if (e.name != alias || (e.attributes & s.required) != s.required || (e.attributes & s.excluded) != 0)
        continue;
      add(e.name);
      continue;
    }
    const Fate fate = FateOf(s, e, exactOnly);
    if (s.why != nullptr) NoteFate(s, searchedPath, e, fate);
    if (fate == Fate::Match) add(e.name);
  }
}

// The next subdirectory of `dir` to walk, or null.
const platform::DirEntry* NextSubdirectory(Directory& dir) {
  const std::vector<platform::DirEntry>& entries = dir.Entries();
  while (dir.next < entries.size()) {
    const platform::DirEntry& e = entries[dir.next++];
    if (IsWalkable(e)) {
      --dir.subdirectoriesLeft;
      return &e;
    }
  }
  return nullptr;
}

// Open directories held along the path one walker walks; below this depth a directory is closed while its
// subdirectories are searched and opened again from them by "..", so no tree is too deep to walk. Walkers
// side by side share a budget, so the process holds a bounded number of handles whatever its threads.
constexpr std::size_t kHeldDirectories = 128;
constexpr std::size_t kHeldByAllWalkers = 256;
constexpr std::size_t kLeastHeldByOneWalker = 8;
constexpr int kMostThreads = 64;

// A walker loops over an explicit stack and keeps its listings on the heap: this is ample for it, and
// small enough that walkers still start under a tight address-space limit.
constexpr std::size_t kWalkerStack = std::size_t{256} * 1024;

// Directories the first walker reads before it starts others: a small tree is done before threads would
// have started.
constexpr std::size_t kStartOthersAfter = 32;

// Listings a walker keeps for reuse: enough for the siblings that follow a directory it leaves.
constexpr std::size_t kSpareListings = 8;

std::atomic<std::uint64_t> directoriesShared{0};

class Pool;
void WalkPiece(const WalkSettings& s, Pool* pool, Task task, std::size_t held, bool startsPool);

// The walkers of one tree after the first, and the pieces they hand each other. The first walker is the
// thread that called WalkTree; the others start when it has read kStartOthersAfter directories.
class Pool {
 public:
  Pool(const WalkSettings& settings, int threads) : settings_(settings), threads_(threads) {
    held_ = std::max(kLeastHeldByOneWalker, kHeldByAllWalkers / static_cast<std::size_t>(threads));
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() { JoinOthers(); }

  std::size_t Held() const { return held_; }

  // Whether a walker waits for a piece that nobody has handed out yet. Asked between two directories,
  // without a lock: a wrong answer only hands out one piece too many or one too late.
  bool Hungry() const { return hungry_.load(std::memory_order_relaxed) > 0; }

  // Starts the other walkers; from the first walker only, once.
  void StartOthers() {
    for (int i = 1; i < threads_; ++i) {
      platform::ThreadHandle thread = platform::kNoThread;
      try {
        others_.reserve(static_cast<std::size_t>(threads_));
        thread = platform::StartThread(
            [this] {
              // Nothing may leave a thread: a walker that runs out of memory ends the run, as the first does.
              try {
                Work();
              } catch (const std::bad_alloc&) {
                EndOutOfMemory();
              }
            },
            kWalkerStack);
      } catch (const std::bad_alloc&) {
        break;
      }
      if (thread == platform::kNoThread) break;  // fewer threads walk; the result is the same
      others_.push_back(thread);
    }
  }

  // Hands a subdirectory to the next walker that waits. Returns where its matches will be.
  Output* Give(Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    task.output = &pieces_.emplace_back();
    Output* piece = task.output;
    queue_.push_back(std::move(task));
    UpdateHungry();
    directoriesShared.fetch_add(1, std::memory_order_relaxed);
    wake_.notify_one();
    return piece;
  }

  // The first walker's tree, then what is left to share, until every walker has finished.
  void WalkAll(Task root) {
    WalkPiece(settings_, this, std::move(root), held_, true);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --busy_;
    }
    Work();
    JoinOthers();
  }

  // Every piece handed out, in the order they were given.
  std::deque<Output>& Pieces() { return pieces_; }

 private:
  // Takes handed pieces and walks them until there are none and no walker could hand out more.
  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (queue_.empty() && !done_) {
        if (busy_ == 0) {
          done_ = true;
          wake_.notify_all();
          break;
        }
        ++idle_;
        UpdateHungry();
        wake_.wait(lock);
        --idle_;
        UpdateHungry();
      }
      if (queue_.empty()) return;
      // The latest piece first: it is the one nearest the giver's place in the tree.
      Task task = std::move(queue_.back());
      queue_.pop_back();
      UpdateHungry();
      ++busy_;
      lock.unlock();
      WalkPiece(settings_, this, std::move(task), held_, false);
      lock.lock();
      --busy_;
    }
  }

  void UpdateHungry() {
    hungry_.store(static_cast<int>(idle_) - static_cast<int>(queue_.size()), std::memory_order_relaxed);
  }

  void JoinOthers() {
    for (platform::ThreadHandle t : others_)
      platform::JoinThread(t);
    others_.clear();
  }

  const WalkSettings& settings_;
  const int threads_;
  std::size_t held_ = kHeldDirectories;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Task> queue_;
  std::deque<Output> pieces_;  // stable addresses for the pieces handed out
  std::size_t idle_ = 0;
  std::size_t busy_ = 1;  // the first walker
  bool done_ = false;
  std::atomic<int> hungry_{0};
  std::vector<platform::ThreadHandle> others_;
};

// Gives the next subdirectory of `from`, a directory on the stack of a walker whose path is `path`, to
// the pool.
void HandOff(const WalkSettings& s, Pool& pool, Directory& from, const std::string& path) {
  const platform::DirEntry* sub = NextSubdirectory(from);
  if (sub == nullptr) return;
  Task task;
  if (!OpenChild(s, from, sub->name, task.handle, task.node)) {
    // Left to the walker itself, which skips it, tries again or reports it as its own rule says.
    --from.next;
    ++from.subdirectoriesLeft;
    return;
  }
  task.path.assign(path, 0, from.pathLength);
  AppendName(task.path, sub->name);
  from.handedOff.push_back(pool.Give(std::move(task)));
}

// Walks the directory of `task` and everything below it that is not handed off, into the task's output.
// With a pool, subdirectories are handed to walkers that wait, from directories no deeper than `held`
// (so a handed-off path is short, and its parent's handle is open). A chain of single subdirectories is
// never handed off piece by piece: the walker's own top directory gives one away only while it has
// another to walk itself.
void WalkPiece(const WalkSettings& s, Pool* pool, Task task, std::size_t held, bool startsPool) {
  Output& out = *task.output;
  std::string& path = task.path;
  std::vector<Directory> stack;
  stack.push_back(Enter(s, task.handle, path.size(), task.node, false));
  std::size_t shallowest = 0;  // no directory below this place on the stack has a subdirectory left
  // Listings of directories done, whose room the next directories read into, instead of growing their own.
  std::vector<std::vector<platform::DirEntry>> spare;
  std::size_t read = 0;
  bool entered = true;  // the top of the stack has just been pushed
  while (!stack.empty()) {
    if (entered) {
      entered = false;
      Directory& top = stack.back();
      top.listed = ReadListing(s, top);
      if (!top.listed && ShortOfHandles()) {
        ReleaseHeld(stack);
        top.listed = ReadListing(s, top);
      }
      if (!top.listed) CheckRefused(s, path, {});
      // A directory refused or gone yields nothing, and nothing below it.
      if (top.listed) {
        if (s.recurse) {
          const std::vector<platform::DirEntry>& entries = top.Entries();
          top.subdirectoriesLeft =
              static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), IsWalkable));
        }
        if (!s.depthFirst) AddMatches(s, path, top, out);
      }
      if (startsPool && ++read == kStartOthersAfter) pool->StartOthers();
    }
    if (pool != nullptr && pool->Hungry()) {
      const std::size_t topIndex = stack.size() - 1;
      const std::size_t limit = std::min(topIndex, held);
      while (shallowest < limit && stack[shallowest].subdirectoriesLeft == 0)
        ++shallowest;
      Directory* from = nullptr;
      if (shallowest < limit) {
        from = &stack[shallowest];
      } else if (topIndex < held && stack[topIndex].subdirectoriesLeft >= 2) {
        from = &stack[topIndex];
      }
      if (from != nullptr && (from->handle != platform::kNoDirectory || from->kept))
        HandOff(s, *pool, *from, path);
    }
    Directory& top = stack.back();
    // What was handed off from here comes before the next subdirectory this walker enters.
    for (Output* piece : top.handedOff)
      out.handed.push_back({out.count, piece});
    top.handedOff.clear();
    const platform::DirEntry* sub = nullptr;
    if (s.recurse && top.listed && (top.handle != platform::kNoDirectory || top.kept))
      sub = NextSubdirectory(top);
    if (sub != nullptr) {
      platform::DirHandle child = platform::kNoDirectory;
      ListingCache::Node* node = nullptr;
      if (!OpenChildOfTop(s, stack, path, sub->name, child, node)) continue;
      // Only a directory opened below counts against the handles held; a kept tree holds none.
      const bool release =
          child != platform::kNoDirectory && top.handle != platform::kNoDirectory && stack.size() - 1 >= held;
      if (release) {
        platform::CloseDirectory(top.handle);
        top.handle = platform::kNoDirectory;
      }
      AppendName(path, sub->name);
      stack.push_back(Enter(s, child, path.size(), node, release));
      if (!spare.empty()) {
        stack.back().own = std::move(spare.back());
        spare.pop_back();
      }
      entered = true;
      continue;
    }
    // Everything below this directory has been searched.
    if (s.depthFirst && top.listed) AddMatches(s, path, top, out);
    Directory done = std::move(top);
    stack.pop_back();
    if (!stack.empty()) {
      Directory& parent = stack.back();
      if (done.parentReleased)
        ReopenParent(s, stack, done, std::string_view(path).substr(0, parent.pathLength));
      path.resize(parent.pathLength);
      shallowest = std::min(shallowest, stack.size() - 1);
    }
    platform::CloseDirectory(done.handle);
    if (spare.size() < kSpareListings && done.own.capacity() != 0) spare.push_back(std::move(done.own));
  }
}

// Moves the matches of `root` and of every piece handed off from it, each at its place, into `target`.
void Join(const WalkSettings& s, Output& root, std::size_t total, PathList& target) {
  target.entries.reserve(target.entries.size() + total);
  if (s.wantIdentity) target.directories.reserve(target.entries.size() + total);
  struct Place {
    Output* output;
    std::size_t group;   // the group of the next match
    std::size_t at;      // where the next match's name begins in the output's text, once in its group
    std::size_t match;   // how many matches of the output are joined
    std::size_t handed;  // how many of its handed pieces are
  };
  std::vector<Place> places{{&root, 0, 0, 0, 0}};
  while (!places.empty()) {
    Place& place = places.back();
    Output& out = *place.output;
    const bool handedLeft = place.handed < out.handed.size();
    if (handedLeft && out.handed[place.handed].at == place.match) {
      Output* piece = out.handed[place.handed++].piece;
      places.push_back({piece, 0, 0, 0, 0});  // `place` is not used after this
      continue;
    }
    if (place.group == out.groups.size()) {
      std::string().swap(out.text);
      std::vector<Output::Group>().swap(out.groups);
      places.pop_back();
      continue;
    }
    const Output::Group& group = out.groups[place.group];
    const std::size_t pathStart = place.group == 0 ? 0 : out.groups[place.group - 1].namesEnd;
    const std::string_view directory(out.text.data() + pathStart, group.pathEnd - pathStart);
    place.at = std::max(place.at, group.pathEnd);
    const std::size_t stop = handedLeft ? out.handed[place.handed].at : out.count;
    for (; place.at < group.namesEnd && place.match < stop; ++place.match) {
      const std::size_t length = std::char_traits<char>::length(out.text.data() + place.at);
      InsertSorted(target,
                   MakeFullPath(s.drive, directory, std::string_view(out.text.data() + place.at, length)),
                   group.identity);
      place.at += length + 1;
    }
    if (place.at >= group.namesEnd) ++place.group;
  }
}

}  // namespace

void ListingCache::MarkKeptTrees(Node& root) {
  // Post-order over an explicit stack: a node is decided once every child has been.
  struct Visit {
    Node* node;
    bool childrenDone;
  };
  std::vector<Visit> pending{{&root, false}};
  while (!pending.empty()) {
    Visit& visit = pending.back();
    Node& node = *visit.node;
    if (!visit.childrenDone) {
      visit.childrenDone = true;
      for (auto& [name, child] : node.children)
        pending.push_back({child.get(), false});  // `visit` is not used after this
      continue;
    }
    pending.pop_back();
    bool kept = node.listed;
    bool keptWithAttributes = node.listed && node.withAttributes;
    for (const platform::DirEntry& e : node.entries) {
      if (!kept) break;
      if (!IsWalkable(e)) continue;
      const Node* child = FindChild(node, e.name);
      kept = child != nullptr && child->treeKept;
      keptWithAttributes = keptWithAttributes && kept && child->treeKeptWithAttributes;
    }
    node.treeKept = kept;
    node.treeKeptWithAttributes = keptWithAttributes;
  }
}

void WalkTree(const WalkSettings& settings, platform::DirHandle handle, std::string path,
              ListingCache::Node* root, PathList& target) {
  Output out;
  Task task;
  task.handle = handle;
  task.path = std::move(path);
  task.node = root;
  task.output = &out;
  const int threads = std::min(settings.threads, kMostThreads);
  if (threads <= 1 || !settings.recurse) {
    WalkPiece(settings, nullptr, std::move(task), kHeldDirectories, false);
    Join(settings, out, out.count, target);
    if (root != nullptr && settings.recurse) ListingCache::MarkKeptTrees(*root);
    return;
  }
  Pool pool(settings, threads);
  // Out of memory with walkers running, nothing may unwind past them: the run ends here and says why.
  try {
    pool.WalkAll(std::move(task));
  } catch (const std::bad_alloc&) {
    EndOutOfMemory();
  }
  std::size_t total = out.count;
  for (const Output& piece : pool.Pieces())
    total += piece.count;
  Join(settings, out, total, target);
  if (root != nullptr) ListingCache::MarkKeptTrees(*root);
}

std::uint64_t DirectoriesShared() {
  return directoriesShared.load(std::memory_order_relaxed);
}

}  // namespace zelvane
