/* The driver's interfaces as a C host sees them: vtables written from the driver's slot tables,
 * in the host compiler's layout (slot 0 is one entry, the scalar deleting destructor; every
 * method takes the object first). Written without the driver's C++ headers on purpose, so that
 * a slot-order mistake on either side shows up as a failing call. */
#ifndef LUMIVAR_HOST_DRIVER_ABI_H
#define LUMIVAR_HOST_DRIVER_ABI_H

#include <stdbool.h>
#include <stdint.h>

typedef struct DriverVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);                 /* 0 */
  bool (*Open)(void* self, void* debugSink, void* frameAllocator, void* openParams); /* 1 */
  void (*Close)(void* self);                                                         /* 2 */
  void* (*GetVideoCapture)(void* self);                                              /* 3 */
  void* (*GetIOApi)(void* self);                                                     /* 4 */
  void* (*GetReservedEx)(void* self);                                                /* 5, Ex */
  void* (*GetPTZDriver)(void* self);                                                 /* 6, Ex */
  void* (*GetReservedEx2)(void* self);                                               /* 7, Ex2 */
  void* (*GetVideoCaptureEx)(void* self);                                            /* 8, Ex2 */
  void* (*GetPTZDriverEx)(void* self);                                               /* 9, Ex3 */
  void* (*GetAudioCapture2)(void* self);                                             /* 10, Ex4 */
  void* (*GetAudioSender)(void* self);                                               /* 11, Ex4 */
  void* (*GetVideoCaptureEx2)(void* self);                                           /* 12, Ex5 */
} DriverVtbl;

typedef struct Driver {
  const DriverVtbl* vtbl;
} Driver;

typedef Driver* (*CreateDriverFn)(void);
typedef void (*DeleteDriverFn)(Driver* driver);

/* The video-capture object (IIPVideoCapture, Ex and Ex2: one object serves every version). The
 * settings, size and callback arguments are the host's own objects (video_objects.h). */
typedef struct VideoCaptureVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);                           /* 0 */
  uint32_t (*GetChannelCount)(void* self);                                                     /* 1 */
  bool (*StartChannel)(void* self, uint32_t channel, void* callback, void* settings);          /* 2 */
  bool (*StopChannel)(void* self, uint32_t channel);                                           /* 3 */
  bool (*UpdateChannelSettings)(void* self, uint32_t channel, void* size, uint32_t frameRate); /* 4 */
  void* (*GetReserved)(void* self);                                                            /* 5 */
  bool (*GetChannelState)(void* self, uint32_t channel, uint32_t* state, uint32_t* extra, void* flag,
                          uint32_t flagSize);                                    /* 6 */
  bool (*SetProperty)(void* self, const char* name, void* value, uint32_t size); /* 7 */
  bool (*GetProperty)(void* self, const char* name, void* value, uint32_t size); /* 8 */
  bool (*ResumeChannel)(void* self, uint32_t channel);                           /* 9, Ex */
  bool (*PauseChannel)(void* self, uint32_t channel);                            /* 10, Ex */
  bool (*StartStream)(void* self, uint32_t channel, uint32_t stream, void* callback,
                      void* settings);                               /* 11, Ex2 */
  bool (*StopStream)(void* self, uint32_t channel, uint32_t stream); /* 12, Ex2 */
} VideoCaptureVtbl;

typedef struct VideoCapture {
  const VideoCaptureVtbl* vtbl;
} VideoCapture;

/* The message object the driver hands to the debug sink. */
typedef struct DebugInfoVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags); /* 0 */
  uint8_t (*GetLevel)(void* self);                                   /* 1 */
  const char* (*GetText)(void* self);                                /* 2: null for an empty message */
} DebugInfoVtbl;

typedef struct DebugInfo {
  const DebugInfoVtbl* vtbl;
} DebugInfo;

#endif
