/* The host's objects handed to the driver's Open: a debug sink that prints every message with
 * its level, a frame allocator, and the open parameters with their two records. Each object
 * begins with its vtable pointer, in the host's slot order. */
#ifndef LUMIVAR_HOST_HOST_OBJECTS_H
#define LUMIVAR_HOST_HOST_OBJECTS_H

#include <stdbool.h>
#include <stdint.h>

#include "driver_abi.h"

#define HOST_MAX_PARAMETERS 64

typedef struct HostParameter {
  uint32_t number;
  const char* text;
} HostParameter;

/* What the host tells the driver about the device. */
typedef struct HostDevice {
  const char* address;
  uint32_t port;
  const char* user;
  const char* password;
  const char* model;
  uint32_t channelCount;
  uint32_t defaultVideoFormat;
  uint32_t hostId1;
  uint32_t hostId2;
  HostParameter parameters[HOST_MAX_PARAMETERS];
  int parameterCount;
} HostDevice;

typedef struct DebugSink {
  const void* vtbl;
  volatile long lines;        /* messages received */
  volatile long byLevel[256]; /* messages received per delivered level */
} DebugSink;

typedef struct FrameAllocator {
  const void* vtbl;
  volatile long allocated;
  volatile long released;
} FrameAllocator;

/* A frame of the host: payload buffer plus what the driver set on it. */
typedef struct Frame {
  const void* vtbl;
  uint8_t* data;
  uint32_t capacity;
  uint32_t size;
  uint32_t fourcc;
  uint32_t width;
  uint32_t height;
  uint32_t sizeClass;
  uint16_t time[8]; /* SYSTEMTIME, UTC */
  bool replayed;    /* allocated for the driver's edge channel (replayed recordings) */
} Frame;

typedef struct CameraInfo {
  const void* vtbl;
  const HostDevice* device;
} CameraInfo;

typedef struct ConnectionInfo {
  const void* vtbl;
  const HostDevice* device;
} ConnectionInfo;

typedef struct OpenParams {
  const void* vtbl;
  CameraInfo camera;
  ConnectionInfo connection;
  const HostDevice* device;
} OpenParams;

/* True for a frame of this host's allocator (the driver must hand back only those). */
bool HostIsFrame(const void* object);

void HostObjectsInit(void);
void DebugSinkInit(DebugSink* sink);
void FrameAllocatorInit(FrameAllocator* allocator);
/* `device` must outlive the parameters object. */
void OpenParamsInit(OpenParams* params, const HostDevice* device);

/* Reports a call of a slot the driver is not meant to use, so a slot mix-up shows in the output. */
void HostUnexpectedSlot(const char* object, int slot);
/* Slot 0 of every host object: these objects are the host's, the driver never deletes them. */
void* HostNotDeleted(void* self, unsigned int flags);

/* Prints one line at a time, whole, whatever thread calls. */
void HostPrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
