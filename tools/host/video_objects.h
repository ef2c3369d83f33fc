/* The host's live-video objects handed to the video-capture object: the settings a stream is
 * started with (format, size, rate, privacy-zone list) and the per-stream callback that counts,
 * checks and stores the frames. Each object begins with its vtable pointer, in the host's slot
 * order. */
#ifndef LUMIVAR_HOST_VIDEO_OBJECTS_H
#define LUMIVAR_HOST_VIDEO_OBJECTS_H

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#define HOST_MAX_ZONES 8

typedef struct HostVideoSize {
  const void* vtbl;
  uint32_t width;
  uint32_t height;
} HostVideoSize;

typedef struct HostVideoFormat {
  const void* vtbl;
  HostVideoSize size;
  uint32_t streamFormat; /* 1 Motion JPEG, 2 MPEG-4, 3 H.264 */
} HostVideoFormat;

typedef struct HostVideoRate {
  const void* vtbl;
  uint32_t frameRate; /* the host's frame-rate code */
  uint32_t quality;
  uint32_t motion;
} HostVideoRate;

/* A privacy zone in percent of the picture. */
typedef struct HostZone {
  const void* vtbl;
  float x, y, width, height;
} HostZone;

typedef struct HostZoneList {
  const void* vtbl;
  int count;
  HostZone zones[HOST_MAX_ZONES];
} HostZoneList;

typedef struct HostVideoSettings {
  const void* vtbl;
  HostVideoFormat format;
  HostVideoRate rate;
  HostZoneList zones;
  bool hasZones; /* without zones the stream option is null */
} HostVideoSettings;

/* Figures of one stream, as a consistent copy. */
typedef struct StreamFigures {
  uint64_t frames;
  uint64_t bytes;
  uint32_t width, height, fourcc, sizeClass;
  uint32_t badFrames;
  long signalLost;
} StreamFigures;

/* The host's IIPVideoCallback for one stream. Frames arrive on driver threads; `lock` guards
 * everything below it. */
typedef struct StreamSink {
  const void* vtbl;
  uint32_t channel;
  uint32_t stream;
  bool quiet; /* no per-frame error lines (many streams at once) */
  CRITICAL_SECTION lock;
  FILE* out; /* the capture file, or null */
  StreamFigures figures;
  HANDLE frameEvent; /* manual reset; set on every accepted frame */
} StreamSink;

/* frameRate: frames per second (sent as the 0x7000 code). */
void VideoSettingsInit(HostVideoSettings* settings, uint32_t format, uint32_t width, uint32_t height,
                       uint32_t fps, uint32_t quality);
bool VideoSettingsAddZone(HostVideoSettings* settings, float x, float y, float width, float height);
void VideoSizeInit(HostVideoSize* size, uint32_t width, uint32_t height);

/* `out` may be null; the sink does not close it. */
void StreamSinkInit(StreamSink* sink, uint32_t channel, uint32_t stream, FILE* out);
void StreamSinkDestroy(StreamSink* sink);
void StreamSinkRead(StreamSink* sink, StreamFigures* figures);
/* "H264" from the code, first character in the lowest byte ("-" for none); `text` holds 5 bytes. */
void FourCCText(uint32_t fourcc, char* text);

#endif
