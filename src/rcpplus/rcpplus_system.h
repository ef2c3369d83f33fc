// Process-wide state of our RCP+ client library. Nothing initialises it explicitly: parts of the
// library that start threads or sockets register a shut-down handler, and the driver's last
// delete calls dispatchCallback then terminate, so nothing of the library outlives the last
// driver object.
#pragma once

#include <cstdint>

namespace rcpplus {

class System {
 public:
  using Handler = void (*)(void* context);

  // Runs, on the caller's thread, every callback posted for deferred delivery, oldest first, so
  // that none is lost when terminate follows.
  static void dispatchCallback();
  // Runs the registered shut-down handlers, newest first, and forgets them. Safe to repeat.
  static void terminate();

  // Callbacks that must not run on the library thread that produced them.
  static void postCallback(Handler handler, void* context);
  // A part of the library that must be torn down with it registers here; unregistering an
  // unknown pair does nothing.
  static void registerShutdown(Handler handler, void* context);
  static void unregisterShutdown(Handler handler, void* context);

  // How often each entry point ran in this process; lets tests and diagnostics see the tear-down.
  static uint32_t dispatchCount();
  static uint32_t terminateCount();
};

}  // namespace rcpplus
