/* The host's audio side: the audio frame its allocator hands out for audio capture, the audio
 * capture object's vtable, a per-channel audio callback that counts frames and keeps the last
 * status, and the audio-in mode. */
#ifndef LUMIVAR_HOST_AUDIO_OBJECTS_H
#define LUMIVAR_HOST_AUDIO_OBJECTS_H

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#include "host_session.h"

/* IIPAudioCapture2, slot order of the driver's table. */
typedef struct AudioCaptureVtbl {
  void* (*ScalarDeletingDestructor)(void* self, unsigned int flags);                                   /* 0 */
  uint32_t (*GetChannelCount)(void* self);                                                             /* 1 */
  bool (*OpenChannel)(void* self, uint32_t channel, uint32_t index, void* callback, uint64_t context); /* 2 */
  bool (*CloseChannel)(void* self, uint32_t channel);                                                  /* 3 */
  uint32_t (*GetChannelStatus)(void* self, uint32_t channel);                                          /* 4 */
  bool (*Reserved5)(void* self);                                                                       /* 5 */
  bool (*Reserved6)(void* self);                                                                       /* 6 */
} AudioCaptureVtbl;

typedef struct AudioCapture {
  const AudioCaptureVtbl* vtbl;
} AudioCapture;

/* Frame allocator slot 3 and the audio frames' part of slot 6. */
void* HostAudioFrameAllocate(uint32_t fourcc, uint32_t size);
/* A frame the host itself sends (audio output), filled with a copy of `bytes`. */
void* HostAudioFrameMake(const uint8_t* bytes, uint32_t size, uint32_t fourcc, uint32_t sampleRate,
                         uint32_t bitsPerSample, bool stereo, uint32_t bitRate, uint32_t channel);
bool HostIsAudioFrame(const void* object);
void HostAudioFrameFree(void* object);

/* What a callback saw, read under its lock. */
typedef struct AudioFigures {
  uint64_t frames;
  uint64_t bytes;
  uint32_t minSize, maxSize;
  uint32_t fourcc, sampleRate, bitsPerSample, bitRate, channel;
  bool stereo;
  uint32_t status;
  uint32_t statusChanges;
  uint32_t badFrames; /* without data, or with a wrong channel */
} AudioFigures;

typedef struct AudioSink {
  const void* vtbl;
  uint32_t channel;
  CRITICAL_SECTION lock;
  HANDLE frameEvent; /* manual reset, set by every frame */
  FILE* out;
  bool wroteHeader;
  AudioFigures figures;
  bool quiet;
} AudioSink;

void AudioSinkInit(AudioSink* sink, uint32_t channel, FILE* out);
void AudioSinkRead(AudioSink* sink, AudioFigures* figures);
/* Finishes the output file (the WAV sizes) and frees the sink's resources. */
void AudioSinkDestroy(AudioSink* sink);

AudioCapture* HostGetAudioCapture(Session* session);
bool ModeAudioIn(Session* session);

#endif
