/* ptz mode: works a camera head through the driver's PTZ interfaces, one command per line of
 * the commands file (read once, in order):
 *   channel N                  the PTZ channel the next lines use (0)
 *   move DIR SPEED             DIR: left right up down up-left up-right down-left down-right
 *   zoomin S | zoomout S | focusnear S | focusfar S | irisopen S | irisclose S | stop
 *   add NAME | goto NAME | remove NAME | current | count | name POS | info | configured
 *   wait MS                    let the driver's queue reach the camera
 * A line may end with "= N": the call must return N, else the run fails. Every call is printed
 * as "ptz: <line> -> <result>". The vtables below are written from the slot tables, not from
 * the driver's headers, so a slot mistake on either side fails the run. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "host_session.h"

typedef struct PTZInfo {
  uint8_t features[8];
  uint32_t presetCapacity;
  uint32_t presetCount;
} PTZInfo;

typedef struct PTZApiVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);                            /* 0 */
  int32_t (*IsPTZConfigured)(void* self);                                                       /* 1 */
  int32_t (*StartMove)(void* self, uint32_t direction, uint32_t speed);                         /* 2 */
  int32_t (*Stop)(void* self);                                                                  /* 3 */
  int32_t (*Center)(void* self, int32_t x, int32_t y, int32_t z);                               /* 4 */
  int32_t (*ZoomIn)(void* self, uint32_t speed);                                                /* 5 */
  int32_t (*ZoomOut)(void* self, uint32_t speed);                                               /* 6 */
  int32_t (*Unzoom)(void* self, int32_t value);                                                 /* 7 */
  int32_t (*AreaZoom)(void* self, int32_t a, int32_t b, int32_t c, int32_t d);                  /* 8 */
  int32_t (*FocusNear)(void* self, uint32_t speed);                                             /* 9 */
  int32_t (*FocusFar)(void* self, uint32_t speed);                                              /* 10 */
  int32_t (*IrisOpen)(void* self, uint32_t speed);                                              /* 11 */
  int32_t (*IrisClose)(void* self, uint32_t speed);                                             /* 12 */
  int32_t (*GetPTZInfo)(void* self, PTZInfo* info);                                             /* 13 */
  int32_t (*GetPrepositionCount)(void* self);                                                   /* 14 */
  int32_t (*GetPrepositionName)(void* self, uint32_t position, wchar_t* buffer, uint32_t size); /* 15 */
  int32_t (*GoToPreposition)(void* self, int32_t value, const wchar_t* name);                   /* 16 */
  int32_t (*AddPreposition)(void* self, const wchar_t* name);                                   /* 17 */
  int32_t (*RemovePreposition)(void* self, const wchar_t* name);                                /* 18 */
  int32_t (*GetCurrentPreposition)(void* self, wchar_t* buffer, uint32_t size);                 /* 19 */
  bool (*SupportsFeature)(void* self, uint32_t feature);                                        /* 20, Ex */
} PTZApiVtbl;

typedef struct PTZApi {
  const PTZApiVtbl* vtbl;
} PTZApi;

typedef struct PTZDriverVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags); /* 0 */
  PTZApi* (*GetPTZApi)(void* self, uint32_t channel);                /* 1 */
  PTZApi* (*GetPTZApiEx)(void* self, uint32_t channel);              /* 2, Ex */
} PTZDriverVtbl;

typedef struct PTZDriver {
  const PTZDriverVtbl* vtbl;
} PTZDriver;

static const char* const kDirections[] = {"left",     "right",     "up",         "down",    "up-left",
                                          "up-right", "down-left", "down-right", "zoom-in", "zoom-out"};

static bool ToWide(const char* text, wchar_t* out, int size) {
  return MultiByteToWideChar(CP_UTF8, 0, text, -1, out, size) > 0;
}

static void ToUtf8(const wchar_t* text, char* out, int size) {
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, NULL, NULL) <= 0) out[0] = '\0';
}

static bool ParseU32(const char* text, uint32_t* value) {
  char* end = NULL;
  if (!text || !*text) return false;
  unsigned long v = strtoul(text, &end, 10);
  if (*end != '\0' || v > 0xFFFFFFFFul) return false;
  *value = (uint32_t)v;
  return true;
}

/* Runs one command; false when the line is not a command. `result` is what the driver said. */
static bool RunCommand(PTZDriver* driver, PTZApi** api, char* verb, char* arg, char* arg2, int32_t* result,
                       char* detail, size_t detailSize) {
  uint32_t n = 0, speed = 0;
  wchar_t name[128];
  detail[0] = '\0';
  if (strcmp(verb, "channel") == 0) {
    if (!ParseU32(arg, &n)) return false;
    *api = driver->vtbl->GetPTZApiEx(driver, n);
    *result = *api ? 1 : 0;
    return true;
  }
  if (!*api) {
    *result = -18;
    return true;
  }
  PTZApi* p = *api;
  if (strcmp(verb, "move") == 0) {
    uint32_t d = 0;
    while (d < sizeof(kDirections) / sizeof(kDirections[0]) && (!arg || strcmp(arg, kDirections[d]) != 0))
      ++d;
    if (d == sizeof(kDirections) / sizeof(kDirections[0]) && !ParseU32(arg, &d)) return false;
    if (!ParseU32(arg2, &speed)) return false;
    *result = p->vtbl->StartMove(p, d, speed);
  } else if (strcmp(verb, "stop") == 0) {
    *result = p->vtbl->Stop(p);
  } else if (strcmp(verb, "configured") == 0) {
    *result = p->vtbl->IsPTZConfigured(p);
  } else if (strcmp(verb, "count") == 0) {
    *result = p->vtbl->GetPrepositionCount(p);
  } else if (strcmp(verb, "info") == 0) {
    PTZInfo info;
    *result = p->vtbl->GetPTZInfo(p, &info);
    snprintf(detail, detailSize, " (features %u%u%u%u%u%u%u%u, capacity %u, presets %u, feature 1 %s)",
             info.features[0], info.features[1], info.features[2], info.features[3], info.features[4],
             info.features[5], info.features[6], info.features[7], info.presetCapacity, info.presetCount,
             p->vtbl->SupportsFeature(p, 1) ? "yes" : "no");
  } else if (strcmp(verb, "current") == 0 || strcmp(verb, "name") == 0) {
    wchar_t buffer[128];
    char text[384];
    if (strcmp(verb, "name") == 0) {
      if (!ParseU32(arg, &n)) return false;
      *result = p->vtbl->GetPrepositionName(p, n, buffer, 128);
    } else {
      *result = p->vtbl->GetCurrentPreposition(p, buffer, 128);
    }
    if (*result == 1) {
      ToUtf8(buffer, text, sizeof(text));
      snprintf(detail, detailSize, " \"%s\"", text);
    }
  } else if (strcmp(verb, "add") == 0 || strcmp(verb, "goto") == 0 || strcmp(verb, "remove") == 0) {
    if (!arg || !ToWide(arg, name, 128)) return false;
    if (verb[0] == 'a') *result = p->vtbl->AddPreposition(p, name);
    if (verb[0] == 'g') *result = p->vtbl->GoToPreposition(p, 0, name);
    if (verb[0] == 'r') *result = p->vtbl->RemovePreposition(p, name);
  } else {
    int32_t (*lens)(void*, uint32_t) = NULL;
    if (strcmp(verb, "zoomin") == 0) lens = p->vtbl->ZoomIn;
    if (strcmp(verb, "zoomout") == 0) lens = p->vtbl->ZoomOut;
    if (strcmp(verb, "focusnear") == 0) lens = p->vtbl->FocusNear;
    if (strcmp(verb, "focusfar") == 0) lens = p->vtbl->FocusFar;
    if (strcmp(verb, "irisopen") == 0) lens = p->vtbl->IrisOpen;
    if (strcmp(verb, "irisclose") == 0) lens = p->vtbl->IrisClose;
    if (!lens || !ParseU32(arg, &speed)) return false;
    *result = lens(p, speed);
  }
  return true;
}

bool ModePTZ(Session* session) {
  const char* file = session->options->live.commandFile;
  if (session->version < 3) {
    HostPrint("host: ERROR: ptz mode needs factory version 3 or later");
    return false;
  }
  PTZDriver* driver = (PTZDriver*)session->driver->vtbl->GetPTZDriverEx(session->driver);
  if (!driver) {
    HostPrint("host: ERROR: the driver has no PTZ driver");
    return false;
  }
  if (driver != (PTZDriver*)session->driver->vtbl->GetPTZDriver(session->driver)) {
    HostPrint("host: ERROR: GetPTZDriver and GetPTZDriverEx disagree");
    return false;
  }
  PTZApi* api = driver->vtbl->GetPTZApiEx(driver, 0);
  if (!api) HostPrint("ptz: channel 0 refused");
  if (api && (PTZApi*)driver->vtbl->GetPTZApi(driver, 0) != api) {
    HostPrint("host: ERROR: GetPTZApi and GetPTZApiEx disagree");
    return false;
  }
  if (!file) {
    HostPrint("host: ERROR: ptz mode needs a --commands file");
    return false;
  }
  /* The reader follows lines appended while the mode runs (a stdio stream that once reached
   * its end does not see them under every C runtime). */
  CommandReader reader = {file, 0, "", 0};
  bool ok = true;
  char line[512];
  const ULONGLONG deadline = GetTickCount64() + (ULONGLONG)session->options->live.seconds * 1000;
  for (;;) {
    if (!NextCommand(&reader, line, sizeof(line))) {
      if (GetTickCount64() >= deadline) {
        HostPrint("ptz: no quit within %u s", session->options->live.seconds);
        break;
      }
      Sleep(50);
      continue;
    }
    line[strcspn(line, "\r\n")] = '\0';
    char shown[512];
    memcpy(shown, line, sizeof(shown));
    char* expect = strchr(line, '=');
    int32_t expected = 0;
    bool check = false;
    if (expect) {
      *expect = '\0';
      expected = (int32_t)strtol(expect + 1, NULL, 10);
      check = true;
    }
    char* verb = strtok(line, " \t");
    if (!verb || verb[0] == '#') continue;
    if (strcmp(verb, "quit") == 0) break;
    char* arg = strtok(NULL, " \t");
    char* arg2 = strtok(NULL, " \t");
    if (strcmp(verb, "wait") == 0) {
      uint32_t ms = 0;
      if (ParseU32(arg, &ms)) Sleep(ms);
      continue;
    }
    int32_t result = 0;
    char detail[256];
    if (!RunCommand(driver, &api, verb, arg, arg2, &result, detail, sizeof(detail))) {
      HostPrint("host: ERROR: bad ptz command \"%s\"", shown);
      ok = false;
      continue;
    }
    HostPrint("ptz: %s -> %d%s", shown, (int)result, detail);
    if (check && result != expected) {
      HostPrint("host: ERROR: \"%s\" returned %d", shown, (int)result);
      ok = false;
    }
  }
  return ok;
}
