/* The host's side of Open. Slots the driver is not meant to call report the call, so a slot
 * mix-up in the driver shows in the output instead of passing silently. */
#include "host_objects.h"

#include "audio_objects.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static CRITICAL_SECTION printLock;

void HostObjectsInit(void) { InitializeCriticalSection(&printLock); }

void HostPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  EnterCriticalSection(&printLock);
  vprintf(format, args);
  fputc('\n', stdout);
  fflush(stdout);
  LeaveCriticalSection(&printLock);
  va_end(args);
}

void HostUnexpectedSlot(const char* object, int slot) {
  HostPrint("host: ERROR: the driver called reserved slot %d of %s", slot, object);
}
#define Unexpected HostUnexpectedSlot

void* HostNotDeleted(void* self, unsigned int flags) {
  (void)flags;
  Unexpected("a host object (destructor)", 0);
  return self;
}
#define NotDeleted HostNotDeleted

/* ---- debug sink ---- */

static void SinkPost(void* self, DebugInfo* info) {
  DebugSink* sink = (DebugSink*)self;
  if (!info) {
    HostPrint("host: ERROR: Post with a null message");
    return;
  }
  uint8_t level = info->vtbl->GetLevel(info);
  const char* text = info->vtbl->GetText(info);
  InterlockedIncrement(&sink->lines);
  InterlockedIncrement(&sink->byLevel[level]);
  if (text) {
    HostPrint("LOG level=%u %s", (unsigned)level, text);
  } else {
    HostPrint("LOG level=%u (null)", (unsigned)level);
  }
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*post)(void*, DebugInfo*);
} sinkVtbl = {NotDeleted, SinkPost};

void DebugSinkInit(DebugSink* sink) {
  memset(sink, 0, sizeof(*sink));
  sink->vtbl = &sinkVtbl;
}

/* ---- frames ---- */

static void FrameReserved1(void* self) {
  (void)self;
  Unexpected("IIPFrame", 1);
}
static uint8_t* FrameGetData(void* self) { return ((Frame*)self)->data; }
static void FrameReserved3(void* self) {
  (void)self;
  Unexpected("IIPFrame", 3);
}
static void FrameSetDataSize(void* self, uint32_t size) {
  Frame* frame = (Frame*)self;
  if (size > frame->capacity) {
    HostPrint("host: ERROR: frame size %u above the allocated %u", size, frame->capacity);
    size = frame->capacity;
  }
  frame->size = size;
}
static void FrameReserved5(void* self) {
  (void)self;
  Unexpected("IIPFrame", 5);
}
static void FrameSetTime(void* self, const uint16_t* utc) {
  if (utc) memcpy(((Frame*)self)->time, utc, sizeof(((Frame*)self)->time));
}
static void FrameGetTime(void* self, uint16_t* utc) {
  if (utc) memcpy(utc, ((Frame*)self)->time, sizeof(((Frame*)self)->time));
}
static void FrameReserved8(void* self) {
  (void)self;
  Unexpected("IIPFrame", 8);
}
static void FrameReserved9(void* self) {
  (void)self;
  Unexpected("IIPFrame", 9);
}
static void FrameSetFourCC(void* self, uint32_t fourcc) { ((Frame*)self)->fourcc = fourcc; }
static void FrameReserved11(void* self) {
  (void)self;
  Unexpected("IIPFrame", 11);
}
static void FrameSetHeight(void* self, uint32_t height) { ((Frame*)self)->height = height; }
static void FrameReserved13(void* self) {
  (void)self;
  Unexpected("IIPFrame", 13);
}
static void FrameSetWidth(void* self, uint32_t width) { ((Frame*)self)->width = width; }
static void FrameReserved15(void* self) {
  (void)self;
  Unexpected("IIPFrame", 15);
}
static void FrameSetSizeClass(void* self, uint32_t sizeClass) { ((Frame*)self)->sizeClass = sizeClass; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*r1)(void*);
  uint8_t* (*getData)(void*);
  void (*r3)(void*);
  void (*setDataSize)(void*, uint32_t);
  void (*r5)(void*);
  void (*setTime)(void*, const uint16_t*);
  void (*getTime)(void*, uint16_t*);
  void (*r8)(void*);
  void (*r9)(void*);
  void (*setFourCC)(void*, uint32_t);
  void (*r11)(void*);
  void (*setHeight)(void*, uint32_t);
  void (*r13)(void*);
  void (*setWidth)(void*, uint32_t);
  void (*r15)(void*);
  void (*setSizeClass)(void*, uint32_t);
} frameVtbl = {NotDeleted,      FrameReserved1,   FrameGetData,   FrameReserved3,  FrameSetDataSize,
               FrameReserved5,  FrameSetTime,     FrameGetTime,   FrameReserved8,  FrameReserved9,
               FrameSetFourCC,  FrameReserved11,  FrameSetHeight, FrameReserved13, FrameSetWidth,
               FrameReserved15, FrameSetSizeClass};

bool HostIsFrame(const void* object) {
  return object && ((const Frame*)object)->vtbl == (const void*)&frameVtbl;
}

/* ---- frame allocator ---- */

static void AllocatorReserved1(void* self) {
  (void)self;
  Unexpected("IIPFrameAllocator", 1);
}
static void AllocatorReserved4(void* self) {
  (void)self;
  Unexpected("IIPFrameAllocator", 4);
}
static void AllocatorReserved5(void* self) {
  (void)self;
  Unexpected("IIPFrameAllocator", 5);
}

static void* AllocatorAllocate(void* self, uint32_t fourcc, uint32_t size, const char* owner) {
  FrameAllocator* allocator = (FrameAllocator*)self;
  Frame* frame = (Frame*)calloc(1, sizeof(Frame));
  if (!frame) return NULL;
  frame->data = (uint8_t*)malloc(size ? size : 1);
  if (!frame->data) {
    free(frame);
    return NULL;
  }
  frame->vtbl = &frameVtbl;
  frame->capacity = size;
  frame->fourcc = fourcc;
  if (owner) {
    static const char suffix[] = "::EdgeChannel";
    size_t n = strlen(owner);
    frame->replayed = n >= sizeof(suffix) - 1 && strcmp(owner + n - (sizeof(suffix) - 1), suffix) == 0;
  }
  InterlockedIncrement(&allocator->allocated);
  return frame;
}

static void* AllocatorAllocateAudio(void* self, uint32_t fourcc, uint32_t size, const char* owner) {
  (void)owner;
  FrameAllocator* allocator = (FrameAllocator*)self;
  void* frame = HostAudioFrameAllocate(fourcc, size);
  if (frame) InterlockedIncrement(&allocator->allocated);
  return frame;
}

static void AllocatorRelease(void* self, void* object) {
  FrameAllocator* allocator = (FrameAllocator*)self;
  Frame* frame = (Frame*)object;
  if (!frame) return;
  InterlockedIncrement(&allocator->released);
  if (HostIsAudioFrame(object)) {
    HostAudioFrameFree(object);
    return;
  }
  free(frame->data);
  free(frame);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*r1)(void*);
  void* (*allocate)(void*, uint32_t, uint32_t, const char*);
  void* (*allocateAudio)(void*, uint32_t, uint32_t, const char*);
  void (*r4)(void*);
  void (*r5)(void*);
  void (*release)(void*, void*);
} allocatorVtbl = {NotDeleted,         AllocatorReserved1, AllocatorAllocate, AllocatorAllocateAudio,
                   AllocatorReserved4, AllocatorReserved5, AllocatorRelease};

void FrameAllocatorInit(FrameAllocator* allocator) {
  memset(allocator, 0, sizeof(*allocator));
  allocator->vtbl = &allocatorVtbl;
}

/* ---- camera-information record ---- */

static const HostDevice* CameraDevice(void* self) { return ((CameraInfo*)self)->device; }
static void CameraReserved1(void* self) {
  (void)self;
  Unexpected("camera information", 1);
}
static const char* CameraGetModel(void* self) { return CameraDevice(self)->model; }
static uint32_t CameraGetChannelCount(void* self) { return CameraDevice(self)->channelCount; }
static void CameraReserved4(void* self) {
  (void)self;
  Unexpected("camera information", 4);
}
static uint32_t CameraGetHostId1(void* self) { return CameraDevice(self)->hostId1; }
static uint32_t CameraGetHostId2(void* self) { return CameraDevice(self)->hostId2; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  void (*r1)(void*);
  const char* (*getModel)(void*);
  uint32_t (*getChannelCount)(void*);
  void (*r4)(void*);
  uint32_t (*getHostId1)(void*);
  uint32_t (*getHostId2)(void*);
} cameraVtbl = {NotDeleted,      CameraReserved1,  CameraGetModel,  CameraGetChannelCount,
                CameraReserved4, CameraGetHostId1, CameraGetHostId2};

/* ---- connection record ---- */

static const HostDevice* ConnectionDevice(void* self) { return ((ConnectionInfo*)self)->device; }
static const char* ConnectionGetAddress(void* self) { return ConnectionDevice(self)->address; }
static uint32_t ConnectionGetPort(void* self) { return ConnectionDevice(self)->port; }
static void ConnectionReserved3(void* self) {
  (void)self;
  Unexpected("connection information", 3);
}
static uint32_t ConnectionGetDefaultVideoFormat(void* self) {
  return ConnectionDevice(self)->defaultVideoFormat;
}
static const char* ConnectionGetUserName(void* self) { return ConnectionDevice(self)->user; }
static const char* ConnectionGetPassword(void* self) { return ConnectionDevice(self)->password; }

static const struct {
  void* (*dtor)(void*, unsigned int);
  const char* (*getAddress)(void*);
  uint32_t (*getPort)(void*);
  void (*r3)(void*);
  uint32_t (*getDefaultVideoFormat)(void*);
  const char* (*getUserName)(void*);
  const char* (*getPassword)(void*);
} connectionVtbl = {NotDeleted,
                    ConnectionGetAddress,
                    ConnectionGetPort,
                    ConnectionReserved3,
                    ConnectionGetDefaultVideoFormat,
                    ConnectionGetUserName,
                    ConnectionGetPassword};

/* ---- open parameters ---- */

static void* ParamsGetCameraInfo(void* self) { return &((OpenParams*)self)->camera; }
static void* ParamsGetConnectionInfo(void* self) { return &((OpenParams*)self)->connection; }
static void ParamsReserved3(void* self) {
  (void)self;
  Unexpected("open parameters", 3);
}
static const char* ParamsGetParameter(void* self, uint32_t number) {
  const HostDevice* device = ((OpenParams*)self)->device;
  for (int i = 0; i < device->parameterCount; ++i) {
    if (device->parameters[i].number == number) return device->parameters[i].text;
  }
  return NULL;
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  void* (*getCameraInfo)(void*);
  void* (*getConnectionInfo)(void*);
  void (*r3)(void*);
  const char* (*getParameter)(void*, uint32_t);
} paramsVtbl = {NotDeleted, ParamsGetCameraInfo, ParamsGetConnectionInfo, ParamsReserved3,
                ParamsGetParameter};

void OpenParamsInit(OpenParams* params, const HostDevice* device) {
  memset(params, 0, sizeof(*params));
  params->vtbl = &paramsVtbl;
  params->device = device;
  params->camera.vtbl = &cameraVtbl;
  params->camera.device = device;
  params->connection.vtbl = &connectionVtbl;
  params->connection.device = device;
}
