#include "check/scheduler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tree/settings.h"
#include "check/clean_run_state.h"
#include "check/probe.h"
#include "check/socket_context.h"

SchedulerTuning schedulerTuning;

namespace {

constexpr uint32_t kNoPosition = UINT32_MAX;

// Finds, for a link's address, the entry the whole-tree search would find: the first
// checked entry in depth-first order with the same address. Positions are the order of
// the tree's leaves. Settled candidates have a result that can no longer change during the
// walk (taken over, preset, or a joined worker's non-zero result); pending ones belong to
// workers not joined yet, whose result may appear at any moment and is read as it stands.
class DuplicateIndex {
 public:
  LinkEntry* find(const TextString& url) {
    auto found = byUrl_.find(&url);
    if (found == byUrl_.end()) return nullptr;
    Candidates& c = found->second;
    LinkEntry* best = c.settled;
    uint32_t bestPosition = c.settledPosition;
    for (auto& [position, entry] : c.pending)
      if (position < bestPosition &&
          entry->checkResult.load(std::memory_order_acquire) != CHECK_NONE) {
        best = entry;
        bestPosition = position;
      }
    return best;
  }
  void addSettled(LinkEntry* entry, uint32_t position) {
    Candidates& c = byUrl_[&entry->url];
    if (position < c.settledPosition) {
      c.settled = entry;
      c.settledPosition = position;
    }
  }
  void addPending(LinkEntry* entry, uint32_t position) {
    byUrl_[&entry->url].pending.emplace_back(position, entry);
  }
  // The entry's worker has been joined: its result is final.
  void settle(LinkEntry* entry, uint32_t position) {
    auto found = byUrl_.find(&entry->url);
    if (found == byUrl_.end()) return;
    auto& pending = found->second.pending;
    for (size_t i = 0; i < pending.size(); ++i)
      if (pending[i].second == entry) {
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    if (entry->checkResult.load(std::memory_order_acquire) != CHECK_NONE)
      addSettled(entry, position);
  }

 private:
  struct Candidates {
    LinkEntry* settled = nullptr;
    uint32_t settledPosition = kNoPosition;
    std::vector<std::pair<uint32_t, LinkEntry*>> pending;
  };
  // Ordered by the same case-insensitive comparison as the whole-tree search, so that
  // "the same address" means the same thing for both.
  struct AddressLess {
    bool operator()(const TextString* a, const TextString* b) const {
      return a->compareNoCase(*b) < 0;
    }
  };
  std::map<const TextString*, Candidates, AddressLess> byUrl_;
};

uint32_t LeafCount(LinkEntry* top) {
  if (top->children.isEmpty()) return 1;
  uint32_t count = 0;
  std::vector<Node*> stack;
  Node* n = top->children.head();
  for (;;) {
    if (!n->next) {
      if (stack.empty()) return count;
      n = stack.back();
      stack.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(n);
    if (!entry->children.isEmpty()) {
      stack.push_back(n->next);
      n = entry->children.head();
      continue;
    }
    ++count;
    n = n->next;
  }
}

void StepProgress(Window* window) {
  if (window) window->post([](Controls& controls) { controls.stepProgress(IDC_PROGRESS); });
}

void ShowThreadCount(Window* window, int32_t running) {
  if (!window) return;
  char text[16];
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(running));
  std::string copy(text);
  window->post([copy](Controls& controls) { controls.setText(IDC_THREAD_COUNT, copy.c_str()); });
}

// The host a link's probe starts at, in lower case, without user information and port; the
// whole address when it has no "scheme://" part.
std::string HostKey(const TextString& url) {
  std::string text(url.c_str(), static_cast<size_t>(url.length));
  size_t start = text.find("://");
  std::string host = AddressHost(text, start == std::string::npos ? 0 : start + 3);
  for (char& c : host)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return host;
}

void ReportOutOfMemory(Window* window) {
  try {
    AppendLog(window, IDC_LOG, "\r\nOut of memory: checking stopped.\r\n");
  } catch (const std::bad_alloc&) {
    // Nothing more can be said; the run still ends as an abort.
  }
}

}  // namespace

// A link whose number is given and whose worker waits for room at its host.
struct WaitingJob {
  CheckJob* job;
  uint32_t position;
  bool indexed;
};

struct HostLoad {
  int32_t running = 0;
  std::deque<WaitingJob> waiting;
};

struct SchedulerState {
  int32_t threadCount = 1;
  int32_t hostCap = 4;  // workers for one host at the same moment
  std::thread* handles = nullptr;  // joinable: the slot's worker has not been joined yet
  LinkEntry** slotEntries = nullptr;
  uint32_t* slotPositions = nullptr;
  bool* slotIndexed = nullptr;
  std::string* slotHosts = nullptr;
  int32_t running = 0;
  int32_t sequence = 1;
  int32_t waitMessages = 0;

  // Workers report their end here; the run thread waits for the first of many to end.
  std::mutex endedLock;
  std::condition_variable endedSignal;
  int32_t ended[MAX_CHECK_THREADS];
  int32_t endedCount = 0;

  DuplicateIndex index;
  // Hosts with a worker running or a link waiting; a host without either is dropped.
  std::map<std::string, HostLoad> hosts;
  int32_t waitingCount = 0;
  bool droppedWaiting = false;  // links that waited were given up (abort, no memory)
  // What the workers found: links probed, and those whose probe reached a server.
  std::atomic<int32_t> probed{0};
  std::atomic<int32_t> answered{0};
  // Memory ran out in the walk or in a worker: the run ends as an abort.
  std::atomic<bool> outOfMemory{false};
  bool indexWalk = false;  // walked entries lie in the searched tree
  uint32_t position = 0;   // leaf position of the walk in the searched tree

  // Waits until a worker has ended, at most timeoutMs (-1: no limit). False on time-out.
  bool waitForEnded(int32_t timeoutMs, int32_t* slot) {
    std::unique_lock<std::mutex> hold(endedLock);
    if (timeoutMs < 0) {
      endedSignal.wait(hold, [this] { return endedCount > 0; });
    } else {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      if (!endedSignal.wait_until(hold, deadline, [this] { return endedCount > 0; })) return false;
    }
    *slot = ended[0];
    for (int32_t i = 1; i < endedCount; ++i) ended[i - 1] = ended[i];
    --endedCount;
    return true;
  }

  void markEnded(int32_t slot) {
    {
      std::lock_guard<std::mutex> hold(endedLock);
      ended[endedCount++] = slot;
    }
    endedSignal.notify_one();
  }

  void reap(Window* window, int32_t slot) {
    handles[slot].join();
    --running;
    if (slotIndexed[slot]) index.settle(slotEntries[slot], slotPositions[slot]);
    slotIndexed[slot] = false;
    slotEntries[slot] = nullptr;
    auto host = hosts.find(slotHosts[slot]);
    if (host != hosts.end() && --host->second.running <= 0 && host->second.waiting.empty())
      hosts.erase(host);
    ShowThreadCount(window, running);
  }

  // Starts the job's worker in a free slot (preferring `slot`); false when no thread could
  // be made (the job is then freed; without memory the run must end).
  bool start(Window* window, const WaitingJob& w, const std::string& host, int32_t slot);

  // Starts waiting links whose host has room, lowest number first, while slots are free;
  // the first goes to `slot` when that one is free. Returns whether `slot` was taken.
  bool startWaiting(Window* window, int32_t slot) {
    bool slotTaken = false;
    while (running < threadCount && waitingCount > 0 && !outOfMemory.load()) {
      std::map<std::string, HostLoad>::iterator best = hosts.end();
      for (auto it = hosts.begin(); it != hosts.end(); ++it)
        if (!it->second.waiting.empty() && it->second.running < hostCap &&
            (best == hosts.end() ||
             it->second.waiting.front().job->sequence < best->second.waiting.front().job->sequence))
          best = it;
      if (best == hosts.end()) break;
      std::string host = best->first;  // copied first: the entry may go when the start fails
      WaitingJob w = best->second.waiting.front();
      best->second.waiting.pop_front();
      --waitingCount;
      bool free = slot >= 0 && !handles[slot].joinable();
      if (start(window, w, host, free ? slot : -1) && free) slotTaken = true;
    }
    return slotTaken;
  }

  // Gives up every waiting link (the run stops).
  void dropWaiting() {
    for (auto it = hosts.begin(); it != hosts.end();) {
      for (WaitingJob& w : it->second.waiting) {
        if (w.indexed) index.settle(w.job->entry, w.position);
        delete w.job;
        droppedWaiting = true;
      }
      it->second.waiting.clear();
      if (it->second.running <= 0)
        it = hosts.erase(it);
      else
        ++it;
    }
    waitingCount = 0;
  }

  ~SchedulerState() {
    dropWaiting();
    delete[] handles;
    delete[] slotEntries;
    delete[] slotPositions;
    delete[] slotIndexed;
    delete[] slotHosts;
  }
};

bool IsOlderThanLimit(TimeValue date) {
  TimeValue now = static_cast<TimeValue>(std::time(nullptr));
  return date < now - static_cast<TimeValue>(settings->olderThanDays) * 86400;
}

ProbeContact CheckWorker(CheckJob* owned) {
  // Owned so that an allocation failure on the way out frees them too.
  std::unique_ptr<CheckJob> job(owned);
  std::unique_ptr<SocketContext> context(new (std::nothrow) SocketContext);
  if (job->window) {
    std::string name = job->entry->name ? job->entry->name : "";
    std::string url = job->entry->url.c_str();
    ItemData slot = job->slot;
    std::lock_guard<std::mutex> hold(statusListLock);
    job->window->post([slot, name = std::move(name), url = std::move(url)](Controls& controls) {
      int row = controls.findListRow(IDC_THREAD_LIST, slot);
      if (row < 0) return;
      controls.setListCell(IDC_THREAD_LIST, row, 2, name.c_str());
      controls.setListCell(IDC_THREAD_LIST, row, 3, url.c_str());
    });
  }
  ProbeContact contact = context ? ProbeLink(*context, job.get()) : ProbeContact::NotTried;
  StepProgress(job->window);
  return contact;
}

bool SchedulerState::start(Window* window, const WaitingJob& w, const std::string& host,
                           int32_t slot) {
  if (slot < 0 || handles[slot].joinable()) {
    slot = 0;
    while (handles[slot].joinable()) ++slot;
  }
  CheckJob* job = w.job;
  job->slot = slot;
  slotEntries[slot] = job->entry;
  slotPositions[slot] = w.position;
  slotIndexed[slot] = w.indexed;
  try {
    slotHosts[slot] = host;
    handles[slot] = std::thread([job, slot, state = this] {
      try {
        ProbeContact contact = CheckWorker(job);
        if (contact != ProbeContact::NotTried) state->probed.fetch_add(1);
        if (contact == ProbeContact::Answered) state->answered.fetch_add(1);
      } catch (const std::bad_alloc&) {
        state->outOfMemory.store(true);
      }
      state->markEnded(slot);
    });
  } catch (const std::exception& failure) {
    // No thread: without memory the run ends; otherwise the link alone is passed over
    // and its number stays used.
    LinkEntry* entry = job->entry;
    delete job;
    if (w.indexed) index.settle(entry, w.position);
    slotIndexed[slot] = false;
    slotEntries[slot] = nullptr;
    if (dynamic_cast<const std::bad_alloc*>(&failure)) outOfMemory.store(true);
    auto found = hosts.find(host);
    if (found != hosts.end() && found->second.running <= 0 && found->second.waiting.empty())
      hosts.erase(found);
    return false;
  }
  ++running;
  ++hosts[host].running;  // the entry exists: the caller made it
  ShowThreadCount(window, running);
  return true;
}

bool DispatchLinks(Window* window, NodeList& list, NodeList& tree, SchedulerState& s) {
  // An explicit stack instead of recursion: a hostile file may nest folders very deeply.
  std::vector<Node*> stack;
  Node* n = list.head();
  for (;;) {
    if (!n->next) {
      if (stack.empty()) return true;
      n = stack.back();
      stack.pop_back();
      continue;
    }
    if (abortRequested.load() || s.outOfMemory.load()) return false;
    LinkEntry* entry = LinkEntry::of(n);
    n = n->next;
    if (!entry->name) {
      s.position += LeafCount(entry);
      continue;
    }
    if (!entry->children.isEmpty()) {
      if (CompareNames(entry->name, "Broken Links") == 0) {
        s.position += LeafCount(entry);
        continue;
      }
      stack.push_back(n);
      n = entry->children.head();
      continue;
    }
    uint32_t position = s.position++;
    if (entry->url.isEmpty()) continue;

    LinkEntry* twin = schedulerTuning.searchWholeTree ? FindCheckedByUrl(entry->url, tree)
                                                      : s.index.find(entry->url);
    if (twin) {
      if (twin != entry) {
        int32_t result = twin->checkResult.load(std::memory_order_acquire);
        if (result == CHECK_MOVED) entry->newUrl.assign(twin->newUrl);
        entry->checkResult.store(result, std::memory_order_release);
      }
      if (s.indexWalk) s.index.addSettled(entry, position);
      StepProgress(window);
      continue;
    }

    uint32_t flags = settings->flags;
    bool wanted = (entry->source == SOURCE_BOOKMARKS && (flags & FLAG_CLEAN_BOOKMARKS)) ||
                  (entry->source == SOURCE_FAVORITES && (flags & FLAG_CLEAN_FAVORITES));
    if (!wanted) continue;
    if ((flags & FLAG_ONLY_OLDER) && !IsOlderThanLimit(entry->lastVisit)) {
      StepProgress(window);
      continue;
    }

    // The link's number is given now, in walk order, also when it waits for its host.
    std::string host = HostKey(entry->url);
    if (s.indexWalk) s.index.addPending(entry, position);  // before the job: it may throw
    CheckJob* job = new (std::nothrow) CheckJob{window, entry, s.sequence, 0};
    if (!job) {
      s.outOfMemory.store(true);
      return false;
    }
    // The job is ours until it waits in its host's queue or a worker takes it: whatever
    // throws before then (the freeing of a slot allocates too) must not leak it.
    std::unique_ptr<CheckJob> owned(job);
    ++s.sequence;
    WaitingJob w{job, position, s.indexWalk};
    HostLoad* load = &s.hosts[host];
    // A host at its limit: the link waits, and the walk goes on to other hosts.
    while (load->running < s.hostCap && load->waiting.empty() && s.running >= s.threadCount) {
      int32_t slot = 0;
      s.waitForEnded(-1, &slot);
      s.reap(window, slot);
      if (!abortRequested.load()) s.startWaiting(window, slot);
      load = &s.hosts[host];  // the reap may have dropped an idle entry
    }
    if (abortRequested.load() || s.outOfMemory.load()) {
      if (s.indexWalk) s.index.settle(entry, position);
      return false;
    }
    if (load->running >= s.hostCap || !load->waiting.empty()) {
      load->waiting.push_back(w);
      owned.release();
      ++s.waitingCount;
      continue;
    }
    owned.release();  // start() takes it, and frees it when no worker can
    s.start(window, w, host, -1);
    if (s.outOfMemory.load()) return false;
  }
}

// Results already in the tree count as checked twins, in the tree's order; the walk's own
// entries join the index only when the list lies inside the searched tree.
void IndexCheckedLinks(NodeList& list, NodeList& tree, SchedulerState& s) {
  bool listFound = &list == &tree;
  uint32_t position = 0;
  std::vector<Node*> stack;
  Node* n = tree.head();
  for (;;) {
    if (!n->next) {
      if (stack.empty()) break;
      n = stack.back();
      stack.pop_back();
      continue;
    }
    LinkEntry* entry = LinkEntry::of(n);
    if (!entry->children.isEmpty()) {
      if (&entry->children == &list && !listFound) {
        listFound = true;
        s.position = position;
      }
      stack.push_back(n->next);
      n = entry->children.head();
      continue;
    }
    if (!entry->url.isEmpty() && entry->checkResult.load(std::memory_order_acquire) != CHECK_NONE)
      s.index.addSettled(entry, position);
    ++position;
    n = n->next;
  }
  s.indexWalk = listFound;
}

bool CheckAllLinks(Window* window, NodeList& list, NodeList& tree, CheckTally* tally) {
  // Secure sessions are reused within a run only, and each run reads the trust store anew.
  SocketContext::StartRun();
  SchedulerState s;
  uint32_t count = settings->threadCount;
  if (count < 1) count = 1;
  if (count > MAX_CHECK_THREADS) count = MAX_CHECK_THREADS;
  s.threadCount = static_cast<int32_t>(count);
  s.handles = new (std::nothrow) std::thread[count];
  s.slotEntries = new (std::nothrow) LinkEntry*[count]();
  s.slotPositions = new (std::nothrow) uint32_t[count]();
  s.slotIndexed = new (std::nothrow) bool[count]();
  s.slotHosts = new (std::nothrow) std::string[count];
  uint32_t hostCap = settings->hostThreads;
  if (hostCap < 1) hostCap = 1;
  if (hostCap > MAX_CHECK_THREADS) hostCap = MAX_CHECK_THREADS;
  s.hostCap = static_cast<int32_t>(hostCap);
  if (!s.handles || !s.slotEntries || !s.slotPositions || !s.slotIndexed || !s.slotHosts) {
    ReportOutOfMemory(window);
    return false;
  }

  // The standard library reports a failed allocation by an exception. Caught here, it ends
  // the walk; the workers already started are still waited for below, and the run ends as
  // an abort, so that nothing is saved from a half-checked tree.
  bool result = false;
  bool rowsLeft = false;
  try {
    if (!schedulerTuning.searchWholeTree) IndexCheckedLinks(list, tree, s);
    result = DispatchLinks(window, list, tree, s);
    if (!result) s.dropWaiting();
    // Idle slots show no row, unless links still wait for them.
    rowsLeft = s.waitingCount > 0;
    for (int32_t slot = 0; slot < s.threadCount; ++slot)
      if (!s.handles[slot].joinable() && !rowsLeft) RemoveThreadRow(window, slot);
  } catch (const std::bad_alloc&) {
    s.outOfMemory.store(true);
    s.dropWaiting();
  }

  // Joining allocates nothing: a failure in what the drain shows never leaves a worker
  // unjoined.
  while (s.running > 0 || s.waitingCount > 0) {
    try {
      if (s.running == 0) {  // links wait, but no worker will end to start them
        if (!abortRequested.load() && !s.outOfMemory.load()) s.startWaiting(window, -1);
        if (s.running == 0) s.dropWaiting();
        continue;
      }
      int32_t slot = 0;
      if (!s.waitForEnded(schedulerTuning.drainPeriodMs, &slot)) {
        ++s.waitMessages;
        static const char* const kRemarks[] = {
            " (sorry about this...)",
            " (taking a while, I know...)",
            " (mmmm... more bandwidth... more bandwidth...)",
            " (belgium!)",
            " (do you know where YOUR towel is?)",
            " (maybe you should quit and try again :-)",
        };
        const char* remark = "";
        if (s.waitMessages % 4 == 0 && s.waitMessages <= 24)
          remark = kRemarks[s.waitMessages / 4 - 1];
        AppendLogF(window, IDC_LOG, "%saiting for %ld thread%s%s\r\n",
                   s.waitMessages == 1 ? "W" : "Still w", static_cast<long>(s.running),
                   s.running > 1 ? "s..." : "...", remark);
        continue;
      }
      s.reap(window, slot);
      bool reused = false;
      if (abortRequested.load() || s.outOfMemory.load())
        s.dropWaiting();
      else
        reused = s.startWaiting(window, slot);
      if (!reused) RemoveThreadRow(window, slot);
    } catch (const std::bad_alloc&) {
      s.outOfMemory.store(true);
      s.dropWaiting();
    }
  }
  if (rowsLeft) {
    try {
      for (int32_t slot = 0; slot < s.threadCount; ++slot) RemoveThreadRow(window, slot);
    } catch (const std::bad_alloc&) {
      s.outOfMemory.store(true);
    }
  }
  if (tally) {
    tally->probed = s.probed.load();
    tally->answered = s.answered.load();
  }
  if (s.droppedWaiting) result = false;
  if (s.outOfMemory.load()) {
    ReportOutOfMemory(window);
    return false;
  }
  return result;
}
