#include "edge_storage.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

static struct {
  bool enabled;
  CRITICAL_SECTION lock;
  FILE* out;
  const char* path;
  ULONGLONG begin;
  unsigned long frames;
  unsigned long keyFrames;
  bool firstWasKey;
} edge;

static void TimeText(const Frame* frame, char* text, size_t size) {
  const uint16_t* t = frame->time; /* SYSTEMTIME: year, month, weekday, day, h, m, s, ms */
  snprintf(text, size, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t[0], t[1], t[3], t[4], t[5], t[6], t[7]);
}

/* FNV-1a of the payload: the same picture delivered live and replayed has the same sum. */
static uint32_t PictureSum(const Frame* frame) {
  uint32_t sum = 2166136261u;
  const uint8_t* data = (const uint8_t*)frame->data;
  for (uint32_t i = 0; data && i < frame->size; ++i) sum = (sum ^ data[i]) * 16777619u;
  return sum;
}

bool EdgeStorageStart(VideoCapture* video, const char* replayFile) {
  InitializeCriticalSection(&edge.lock);
  edge.enabled = true;
  edge.begin = GetTickCount64();
  edge.path = replayFile;
  if (replayFile) {
    edge.out = fopen(replayFile, "wb");
    if (!edge.out) {
      HostPrint("host: ERROR: cannot write %s", replayFile);
      return false;
    }
  }
  uint16_t on = 1;
  bool ok = video->vtbl->SetProperty(video, "EdgeStorageState", &on, sizeof(on));
  uint16_t back = 0;
  bool read = video->vtbl->GetProperty(video, "EdgeStorageState", &back, sizeof(back));
  HostPrint("EDGE_STORAGE set=%s state=%u", ok ? "true" : "false", read ? back : 0xFFFFu);
  return ok;
}

bool EdgeStorageTakeFrame(uint32_t channel, const Frame* frame) {
  if (!edge.enabled) return false;
  char when[40];
  TimeText(frame, when, sizeof(when));
  const bool key = frame->fourcc == (uint32_t)('H' | '2' << 8 | '6' << 16 | '4' << 24);
  const unsigned long ms = (unsigned long)(GetTickCount64() - edge.begin);
  if (!frame->replayed) {
    HostPrint("LIVE_FRAME channel=%u time=%s key=%d ms=%lu sum=%08x", channel, when, key ? 1 : 0, ms,
              PictureSum(frame));
    return false;
  }
  EnterCriticalSection(&edge.lock);
  if (edge.frames == 0) edge.firstWasKey = key;
  edge.frames++;
  if (key) edge.keyFrames++;
  if (edge.out) fwrite(frame->data, 1, frame->size, edge.out);
  LeaveCriticalSection(&edge.lock);
  HostPrint("REPLAYED channel=%u time=%s key=%d bytes=%u ms=%lu sum=%08x", channel, when, key ? 1 : 0,
            frame->size, ms, PictureSum(frame));
  return true;
}

void EdgeStorageFinish(void) {
  if (!edge.enabled) return;
  EnterCriticalSection(&edge.lock);
  HostPrint("REPLAY frames=%lu key_frames=%lu first_key=%d file=%s", edge.frames, edge.keyFrames,
            edge.firstWasKey ? 1 : 0, edge.path ? edge.path : "-");
  if (edge.out) fclose(edge.out);
  edge.out = NULL;
  edge.enabled = false;
  LeaveCriticalSection(&edge.lock);
}
