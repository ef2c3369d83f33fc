#include "rcpplus/rcpplus_system.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace rcpplus {
namespace {

struct Entry {
  System::Handler handler;
  void* context;
};

// Function-local statics: the library is used from DLL entry points and other static objects'
// lifetimes, so the state must exist on first use whatever the initialisation order.
struct State {
  std::mutex lock;  // guards posted and shutdowns
  std::deque<Entry> posted;
  std::vector<Entry> shutdowns;
  std::atomic<uint32_t> dispatches{0};
  std::atomic<uint32_t> terminations{0};
};

State& GetState() {
  static State* state = new State();  // never destroyed: terminate may run during process exit
  return *state;
}

}  // namespace

void System::dispatchCallback() {
  State& state = GetState();
  state.dispatches.fetch_add(1, std::memory_order_relaxed);
  // Handlers run without the lock, so one may post again; those run in this call as well.
  for (;;) {
    Entry entry;
    {
      std::lock_guard<std::mutex> guard(state.lock);
      if (state.posted.empty()) break;
      entry = state.posted.front();
      state.posted.pop_front();
    }
    entry.handler(entry.context);
  }
}

void System::terminate() {
  State& state = GetState();
  state.terminations.fetch_add(1, std::memory_order_relaxed);
  std::vector<Entry> handlers;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    handlers.swap(state.shutdowns);
    state.posted.clear();
  }
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) it->handler(it->context);
}

void System::postCallback(Handler handler, void* context) {
  if (!handler) return;
  State& state = GetState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.posted.push_back({handler, context});
}

void System::registerShutdown(Handler handler, void* context) {
  if (!handler) return;
  State& state = GetState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.shutdowns.push_back({handler, context});
}

void System::unregisterShutdown(Handler handler, void* context) {
  State& state = GetState();
  std::lock_guard<std::mutex> guard(state.lock);
  auto& list = state.shutdowns;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Entry& e) { return e.handler == handler && e.context == context; }),
             list.end());
}

uint32_t System::dispatchCount() { return GetState().dispatches.load(std::memory_order_relaxed); }

uint32_t System::terminateCount() { return GetState().terminations.load(std::memory_order_relaxed); }

}  // namespace rcpplus
