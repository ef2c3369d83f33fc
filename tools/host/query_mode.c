/* The capability query as the recorder runs it before it adds a camera:
 *
 *   lumivar_host [--dll PATH] [-P PORT] [-u USER] [-w PASSWORD] query ADDRESS
 *                [--high-rate] [--api global|module] [--terminate-after MS] [--uninit-after MS]
 *
 * Prints every entry the driver writes into the host's result object, in order, one a line:
 * numbers as "ID = VALUE", texts as "ID [NAME] = VALUE", the device texts as "device KIND =
 * TEXT" and the frame-rate defaults as "framerate = CODE" / "framerate default = CODE"; then the
 * outcome ("query: completed" or "query: failed status=N message=TEXT") and the time it took.
 * The objects are C structs with vtables written from the host's slot tables. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "host_objects.h"

/* ---- The host's callback ---------------------------------------------------------------- */

typedef struct QueryCallback {
  const void* vtbl;
  HANDLE done;
  volatile LONG completed, failed, terminated;
  volatile LONG ended, late; /* the host ended the module; callbacks after that */
  uint32_t status;
  char message[1024];
} QueryCallback;

/* --uninit-in-callback: the host ends the query from inside its own completion callback. */
static void (*endInCallback)(void);

static void EndInCallback(void) {
  if (!endInCallback) return;
  void (*end)(void) = endInCallback;
  endInCallback = NULL;
  DWORD begin = GetTickCount();
  end();
  HostPrint("query: ended from inside the callback in %lu ms", (unsigned long)(GetTickCount() - begin));
}

static void LateCheck(QueryCallback* self, const char* what) {
  if (!self->ended) return;
  InterlockedIncrement(&self->late);
  HostPrint("host: ERROR: %s after the module ended", what);
}

static void CallbackCompleted(QueryCallback* self) {
  LateCheck(self, "completion");
  EndInCallback();
  InterlockedIncrement(&self->completed);
  SetEvent(self->done);
}

static void CallbackFailed(QueryCallback* self, uint32_t status, const char* message) {
  self->status = status;
  snprintf(self->message, sizeof(self->message), "%s", message ? message : "(null)");
  LateCheck(self, "failure");
  EndInCallback();
  InterlockedIncrement(&self->failed);
  SetEvent(self->done);
}

static void CallbackTerminated(QueryCallback* self) {
  LateCheck(self, "thread terminated");
  InterlockedIncrement(&self->terminated);
  HostPrint("query: thread terminated");
  SetEvent(self->done);
}

static const struct {
  void* (*ScalarDeletingDestructor)(void*, unsigned int);
  void (*Completed)(QueryCallback*);
  void (*Failed)(QueryCallback*, uint32_t, const char*);
  void (*Terminated)(QueryCallback*);
} callbackVtbl = {HostNotDeleted, CallbackCompleted, CallbackFailed, CallbackTerminated};

/* ---- The host's result object ------------------------------------------------------------ */

#define MAX_TEXTS 64

typedef struct TextEntry {
  const void* vtbl;
  uint32_t id;
  char name[128];
  bool named, seconded, valid;
} TextEntry;

typedef struct FrameRates {
  const void* vtbl;
} FrameRates;

typedef struct Result {
  const void* vtbl;
  TextEntry texts[MAX_TEXTS];
  int textCount;
  FrameRates rates;
  int errors;
} Result;

static Result* resultOfQuery; /* one query per process */

static bool TextSetName(TextEntry* self, const char* name) {
  snprintf(self->name, sizeof(self->name), "%s", name ? name : "");
  self->named = name != NULL;
  return true;
}

static bool TextSetSecond(TextEntry* self, const char* text) {
  self->seconded = text && !*text;
  return true;
}

static bool TextSetValid(TextEntry* self, bool valid) {
  self->valid = valid;
  return true;
}

static bool TextSetValue(TextEntry* self, const char* value) {
  if (!self->named || !self->seconded || !self->valid || !value || !*value) {
    HostPrint("host: ERROR: text entry %u written without its name, empty second field, valid mark or value",
              self->id);
    resultOfQuery->errors++;
  }
  HostPrint("%u [%s] = %s", self->id, self->name, value ? value : "(null)");
  return true;
}

static const struct {
  void* (*ScalarDeletingDestructor)(void*, unsigned int);
  bool (*SetName)(TextEntry*, const char*);
  bool (*SetSecond)(TextEntry*, const char*);
  bool (*SetValid)(TextEntry*, bool);
  bool (*SetValue)(TextEntry*, const char*);
} textVtbl = {HostNotDeleted, TextSetName, TextSetSecond, TextSetValid, TextSetValue};

static bool RatesAdd(FrameRates* self, uint32_t code) {
  (void)self;
  HostPrint("framerate = %u", code);
  return true;
}

static bool RatesDefault(FrameRates* self, uint32_t code) {
  (void)self;
  HostPrint("framerate default = %u", code);
  return true;
}

static const struct {
  void* (*ScalarDeletingDestructor)(void*, unsigned int);
  bool (*Add)(FrameRates*, uint32_t);
  bool (*Default)(FrameRates*, uint32_t);
} ratesVtbl = {HostNotDeleted, RatesAdd, RatesDefault};

static bool ResultSetNumber(Result* self, uint32_t id, uint32_t value) {
  (void)self;
  HostPrint("%u = %u", id, value);
  return true;
}

static TextEntry* ResultGetText(Result* self, uint32_t id) {
  if (self->textCount >= MAX_TEXTS) {
    HostPrint("host: ERROR: more than %d text entries", MAX_TEXTS);
    self->errors++;
    return NULL;
  }
  TextEntry* entry = &self->texts[self->textCount++];
  memset(entry, 0, sizeof(*entry));
  entry->vtbl = &textVtbl;
  entry->id = id;
  return entry;
}

static FrameRates* ResultGetFrameRates(Result* self) { return &self->rates; }

static bool ResultSetDeviceText(Result* self, uint32_t kind, const char* text) {
  static const char* const kinds[] = {"?", "vendor", "model", "video lines", "streams"};
  (void)self;
  HostPrint("device %s = %s", kind < 5 ? kinds[kind] : "?", text ? text : "(null)");
  return true;
}

static const struct {
  void* (*ScalarDeletingDestructor)(void*, unsigned int);
  bool (*SetNumber)(Result*, uint32_t, uint32_t);
  TextEntry* (*GetText)(Result*, uint32_t);
  FrameRates* (*GetFrameRates)(Result*);
  bool (*SetDeviceText)(Result*, uint32_t, const char*);
} resultVtbl = {HostNotDeleted, ResultSetNumber, ResultGetText, ResultGetFrameRates, ResultSetDeviceText};

/* ---- The driver's query object and entry points ------------------------------------------ */

typedef struct QueryModuleVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);                  /* 0 */
  uint32_t (*Start)(void* self, const char* address, uint16_t port, const char* user, /* 1 */
                    const char* password, void* result);
  void (*Terminate)(void* self); /* 2 */
} QueryModuleVtbl;

typedef struct QueryModule {
  const QueryModuleVtbl* vtbl;
} QueryModule;

typedef uint32_t (*InitFn)(void* callback, uint8_t flag);
typedef uint32_t (*StartFn)(const char* address, uint16_t port, const char* user, const char* password,
                            void* result);
typedef uint32_t (*NoArgFn)(void);
typedef QueryModule* (*CreateFn)(void* callback, uint8_t flag);
typedef void (*DeleteFn)(QueryModule* module);

static NoArgFn uninitFn;
static DeleteFn deleteFn;
static QueryModule* moduleInUse;
static void UninitGlobal(void) { uninitFn(); }
static void DeleteModule(void) {
  deleteFn(moduleInUse);
  moduleInUse = NULL;
}

static FARPROC Need(HMODULE library, const char* name, bool* ok) {
  FARPROC f = GetProcAddress(library, name);
  if (!f) {
    HostPrint("host: ERROR: %s is not exported", name);
    *ok = false;
  }
  return f;
}

int QueryMain(int argc, char** argv) {
  const char* dll = "LumivarIPCapture.dll";
  const char* address = NULL;
  const char* user = "";
  const char* password = "";
  unsigned long port = 80, terminateAfter = 0, uninitAfter = 0;
  bool highRate = false, global = true, uninitInCallback = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : NULL;
    if (strcmp(a, "query") == 0 && v && !address) {
      address = v;
      ++i;
    } else if (strcmp(a, "--dll") == 0 && v) {
      dll = v, ++i;
    } else if (strcmp(a, "-P") == 0 && v) {
      port = strtoul(v, NULL, 10), ++i;
    } else if (strcmp(a, "-u") == 0 && v) {
      user = v, ++i;
    } else if (strcmp(a, "-w") == 0 && v) {
      password = v, ++i;
    } else if (strcmp(a, "--high-rate") == 0) {
      highRate = true;
    } else if (strcmp(a, "--api") == 0 && v) {
      global = strcmp(v, "module") != 0, ++i;
    } else if (strcmp(a, "--terminate-after") == 0 && v) {
      terminateAfter = strtoul(v, NULL, 10), ++i;
    } else if (strcmp(a, "--commands") == 0 && v) {
      ++i; /* the live modes' command file: nothing to run here */
    } else if (strcmp(a, "--uninit-in-callback") == 0) {
      uninitInCallback = true;
    } else if (strcmp(a, "--uninit-after") == 0 && v) {
      uninitAfter = strtoul(v, NULL, 10), ++i;
    } else {
      fprintf(stderr, "lumivar_host query: unknown or incomplete option %s\n", a);
      return 2;
    }
  }
  if (!address || port > 0xFFFF) {
    fprintf(stderr,
            "usage: lumivar_host [--dll PATH] [-P PORT] [-u USER] [-w PASSWORD] query ADDRESS\n"
            "                    [--high-rate] [--api global|module] [--terminate-after MS]"
            " [--uninit-after MS] [--uninit-in-callback]\n");
    return 2;
  }
  HostObjectsInit();
  HMODULE library = LoadLibraryA(dll);
  if (!library) {
    HostPrint("host: cannot load %s (error %lu)", dll, (unsigned long)GetLastError());
    HostPrint("SUMMARY: FAILED (library not loaded)");
    return 1;
  }
  bool ok = true;
  InitFn init = (InitFn)(void (*)(void))Need(library, "InitCapabilityQuery", &ok);
  StartFn start = (StartFn)(void (*)(void))Need(library, "StartCapabilityQuery", &ok);
  NoArgFn terminate = (NoArgFn)(void (*)(void))Need(library, "TerminateCapabilityQuery", &ok);
  NoArgFn uninit = (NoArgFn)(void (*)(void))Need(library, "UninitCapabilityQuery", &ok);
  CreateFn create = (CreateFn)(void (*)(void))Need(library, "CreateCapabilityQueryModule", &ok);
  DeleteFn destroy = (DeleteFn)(void (*)(void))Need(library, "DeleteCapabilityQueryModule", &ok);
  if (!ok) {
    HostPrint("SUMMARY: FAILED (exports missing)");
    return 1;
  }

  static QueryCallback callback;
  static Result result;
  callback.vtbl = &callbackVtbl;
  callback.done = CreateEventA(NULL, TRUE, FALSE, NULL);
  result.vtbl = &resultVtbl;
  result.rates.vtbl = &ratesVtbl;
  resultOfQuery = &result;
  int failures = 0;

  QueryModule* module = NULL;
  uint32_t started = 0;
  uninitFn = uninit;
  deleteFn = destroy;
  if (uninitInCallback) endInCallback = global ? UninitGlobal : DeleteModule;
  DWORD begin = GetTickCount();
  if (global) {
    if (init(&callback, highRate ? 1 : 0) != 1) {
      HostPrint("host: ERROR: InitCapabilityQuery refused");
      ++failures;
    }
    if (init(&callback, 0) != 0) {
      HostPrint("host: ERROR: a second InitCapabilityQuery was accepted");
      ++failures;
    } else {
      HostPrint("InitCapabilityQuery again: refused");
    }
    if (start(NULL, (uint16_t)port, user, password, &result) != 0) {
      HostPrint("host: ERROR: a start without address was accepted");
      ++failures;
    }
    started = start(address, (uint16_t)port, user, password, &result);
  } else {
    module = create(&callback, highRate ? 1 : 0);
    if (!module) {
      HostPrint("SUMMARY: FAILED (no query module)");
      return 1;
    }
    moduleInUse = module;
    started = module->vtbl->Start(module, address, (uint16_t)port, user, password, &result);
    if (started && module->vtbl->Start(module, address, (uint16_t)port, user, password, &result) != 0) {
      HostPrint("host: ERROR: a second start while the query runs was accepted");
      ++failures;
    }
  }
  HostPrint("query: started %u", started);
  if (!started) ++failures;

  if (started && terminateAfter && WaitForSingleObject(callback.done, terminateAfter) == WAIT_TIMEOUT) {
    HostPrint("query: terminating after %lu ms", terminateAfter);
    if (global) {
      terminate();
    } else {
      module->vtbl->Terminate(module);
    }
  }
  if (started && uninitAfter && WaitForSingleObject(callback.done, uninitAfter) == WAIT_TIMEOUT) {
    HostPrint("query: ending the module after %lu ms", uninitAfter);
    DWORD endBegin = GetTickCount();
    if (global) {
      uninit();
    } else {
      destroy(module);
      module = NULL;
      moduleInUse = NULL;
    }
    InterlockedExchange(&callback.ended, 1);
    HostPrint("query: module ended in %lu ms", (unsigned long)(GetTickCount() - endBegin));
    /* A module the host ended owes no callback, and none may come later: watch for a while. */
    WaitForSingleObject(callback.done, 10000);
    if (!callback.late) HostPrint("query: no callback after the module ended");
    failures += callback.late;
  }
  if (started && !uninitAfter && WaitForSingleObject(callback.done, 60000) != WAIT_OBJECT_0) {
    HostPrint("host: ERROR: the query did not end within 60 s");
    ++failures;
  }
  DWORD elapsed = GetTickCount() - begin;
  if (callback.completed) HostPrint("query: completed");
  if (callback.failed) HostPrint("query: failed status=%u message=%s", callback.status, callback.message);
  if (callback.completed + callback.failed > 1) {
    HostPrint("host: ERROR: the query ended more than once");
    ++failures;
  }
  HostPrint("query: ended after %lu ms", (unsigned long)elapsed);
  if (uninitInCallback) module = moduleInUse; /* gone when the callback deleted it */
  /* One query per module: its handle is held until the module ends, so a new start is refused. */
  if (started && !uninitInCallback && !uninitAfter) {
    uint32_t again = global ? start(address, (uint16_t)port, user, password, &result)
                            : module->vtbl->Start(module, address, (uint16_t)port, user, password, &result);
    HostPrint("query: start after the end: %s", again ? "accepted" : "refused");
    if (again) {
      HostPrint("host: ERROR: a second query on the same module was accepted");
      ++failures;
      WaitForSingleObject(callback.done, 60000);
    }
  }
  if (global) {
    uninit();
    if (uninit() != 1) ++failures; /* a second Uninit is harmless */
  } else if (module) {
    destroy(module);
  }
  failures += result.errors;
  FreeLibrary(library);
  HostPrint("SUMMARY: %s", failures ? "FAILED" : "OK");
  return failures ? 1 : 0;
}
