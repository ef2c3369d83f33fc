/* Audio frames, the audio callback and the audio-in mode of the test host. The audio frame's
 * vtable follows the driver's slot table for the host audio frame; the capture output is
 * written the way a decoder reads it: G.711 mu-law as a WAV file, AAC as ADTS built from the
 * AudioSpecificConfig each frame carries. */
#include "audio_objects.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_objects.h"

#define TAG(a, b, c, d) ((uint32_t)(a) | ((uint32_t)(b) << 8) | ((uint32_t)(c) << 16) | ((uint32_t)(d) << 24))
#define TAG_711M TAG('7', '1', '1', 'M')
#define TAG_AAC1 TAG('A', 'A', 'C', '1')

/* ---- audio frame ---- */

typedef struct AudioFrame {
  const void* vtbl;
  uint8_t* data;
  uint32_t capacity;
  uint32_t size;
  uint32_t fourcc;
  uint32_t sampleRate, bitsPerSample, bitRate, channel;
  bool stereo;
  uint16_t time[8];
  uint8_t config[64];
  uint32_t configSize;
} AudioFrame;

static uint8_t* AfGetData(void* self) { return ((AudioFrame*)self)->data; }
static uint32_t AfGetDataSize(void* self) { return ((AudioFrame*)self)->size; }
static void AfSetDataSize(void* self, uint32_t size) {
  AudioFrame* f = (AudioFrame*)self;
  if (size > f->capacity) {
    HostPrint("host: ERROR: audio frame size %u beyond the allocated %u", size, f->capacity);
    size = f->capacity;
  }
  f->size = size;
}
static uint32_t AfGetFourCC(void* self) { return ((AudioFrame*)self)->fourcc; }
static void AfSetFormat(void* self, uint32_t rate, uint32_t bits, bool stereo) {
  AudioFrame* f = (AudioFrame*)self;
  f->sampleRate = rate;
  f->bitsPerSample = bits;
  f->stereo = stereo;
}
static uint32_t AfGetSampleRate(void* self) { return ((AudioFrame*)self)->sampleRate; }
static uint32_t AfGetBitsPerSample(void* self) { return ((AudioFrame*)self)->bitsPerSample; }
static bool AfIsStereo(void* self) { return ((AudioFrame*)self)->stereo; }
static void AfSetBitRate(void* self, uint32_t rate) { ((AudioFrame*)self)->bitRate = rate; }
static uint32_t AfGetBitRate(void* self) { return ((AudioFrame*)self)->bitRate; }
static void AfSetChannel(void* self, uint32_t channel) { ((AudioFrame*)self)->channel = channel; }
static uint32_t AfGetChannel(void* self) { return ((AudioFrame*)self)->channel; }
static void AfSetTime(void* self, const void* utc) { memcpy(((AudioFrame*)self)->time, utc, 16); }
static void AfGetTime(void* self, void* utc) { memcpy(utc, ((AudioFrame*)self)->time, 16); }
static void AfSetDecoderConfig(void* self, const uint8_t* bytes, uint32_t size) {
  AudioFrame* f = (AudioFrame*)self;
  if (!bytes || size > sizeof(f->config)) {
    HostPrint("host: ERROR: decoder configuration of %u bytes", size);
    return;
  }
  memcpy(f->config, bytes, size);
  f->configSize = size;
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  uint8_t* (*getData)(void*);
  uint32_t (*getDataSize)(void*);
  void (*setDataSize)(void*, uint32_t);
  uint32_t (*getFourCC)(void*);
  void (*setFormat)(void*, uint32_t, uint32_t, bool);
  uint32_t (*getSampleRate)(void*);
  uint32_t (*getBitsPerSample)(void*);
  bool (*isStereo)(void*);
  void (*setBitRate)(void*, uint32_t);
  uint32_t (*getBitRate)(void*);
  void (*setChannel)(void*, uint32_t);
  uint32_t (*getChannel)(void*);
  void (*setTime)(void*, const void*);
  void (*getTime)(void*, void*);
  void (*setDecoderConfig)(void*, const uint8_t*, uint32_t);
} audioFrameVtbl = {HostNotDeleted, AfGetData,    AfGetDataSize,   AfSetDataSize,
                    AfGetFourCC,    AfSetFormat,  AfGetSampleRate, AfGetBitsPerSample,
                    AfIsStereo,     AfSetBitRate, AfGetBitRate,    AfSetChannel,
                    AfGetChannel,   AfSetTime,    AfGetTime,       AfSetDecoderConfig};

void* HostAudioFrameAllocate(uint32_t fourcc, uint32_t size) {
  AudioFrame* frame = (AudioFrame*)calloc(1, sizeof(AudioFrame));
  if (!frame) return NULL;
  frame->data = (uint8_t*)malloc(size ? size : 1);
  if (!frame->data) {
    free(frame);
    return NULL;
  }
  frame->vtbl = &audioFrameVtbl;
  frame->capacity = size;
  frame->fourcc = fourcc;
  return frame;
}

void* HostAudioFrameMake(const uint8_t* bytes, uint32_t size, uint32_t fourcc, uint32_t sampleRate,
                         uint32_t bitsPerSample, bool stereo, uint32_t bitRate, uint32_t channel) {
  AudioFrame* frame = (AudioFrame*)HostAudioFrameAllocate(fourcc, size);
  if (!frame) return NULL;
  if (size) memcpy(frame->data, bytes, size);
  frame->size = size;
  frame->sampleRate = sampleRate;
  frame->bitsPerSample = bitsPerSample;
  frame->stereo = stereo;
  frame->bitRate = bitRate;
  frame->channel = channel;
  return frame;
}

bool HostIsAudioFrame(const void* object) {
  return object && ((const AudioFrame*)object)->vtbl == (const void*)&audioFrameVtbl;
}

void HostAudioFrameFree(void* object) {
  AudioFrame* frame = (AudioFrame*)object;
  free(frame->data);
  free(frame);
}

/* ---- output files ---- */

static void PutU16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
static void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v & 0xFFFF);
  PutU16(p + 2, v >> 16);
}

/* RIFF/WAVE with a mu-law format chunk; the sizes are written again when the file is closed. */
static void WriteWavHeader(FILE* out, uint32_t rate, uint32_t dataBytes) {
  uint8_t h[44];
  memcpy(h, "RIFF", 4);
  PutU32(h + 4, 36 + dataBytes);
  memcpy(h + 8, "WAVEfmt ", 8);
  PutU32(h + 16, 16);
  PutU16(h + 20, 7); /* WAVE_FORMAT_MULAW */
  PutU16(h + 22, 1);
  PutU32(h + 24, rate);
  PutU32(h + 28, rate);
  PutU16(h + 32, 1);
  PutU16(h + 34, 8);
  memcpy(h + 36, "data", 4);
  PutU32(h + 40, dataBytes);
  fwrite(h, 1, sizeof(h), out);
}

/* One ADTS frame: the AudioSpecificConfig gives object type, rate index and channels. */
static bool WriteAdts(FILE* out, const AudioFrame* f) {
  if (f->configSize < 2) return false;
  uint32_t objectType = f->config[0] >> 3;
  uint32_t rateIndex = ((f->config[0] & 7u) << 1) | (f->config[1] >> 7);
  uint32_t channels = (f->config[1] >> 3) & 0xFu;
  if (objectType < 1 || objectType > 4 || rateIndex > 12) return false;
  uint32_t length = f->size + 7;
  if (length > 0x1FFF) return false;
  uint8_t h[7];
  h[0] = 0xFF;
  h[1] = 0xF1;
  h[2] = (uint8_t)(((objectType - 1) << 6) | (rateIndex << 2) | ((channels >> 2) & 1));
  h[3] = (uint8_t)(((channels & 3) << 6) | (length >> 11));
  h[4] = (uint8_t)((length >> 3) & 0xFF);
  h[5] = (uint8_t)(((length & 7) << 5) | 0x1F);
  h[6] = 0xFC;
  fwrite(h, 1, sizeof(h), out);
  fwrite(f->data, 1, f->size, out);
  return true;
}

/* ---- audio callback ---- */

static char* TagText(uint32_t tag, char* text) {
  for (int i = 0; i < 4; ++i) {
    char c = (char)((tag >> (8 * i)) & 0xFF);
    text[i] = c >= 32 && c < 127 ? c : '?';
  }
  text[4] = '\0';
  return text;
}

static bool SinkOnAudioFrame(void* self, void* object) {
  AudioSink* sink = (AudioSink*)self;
  if (!HostIsAudioFrame(object)) {
    HostPrint("host: ERROR: the driver delivered an audio frame the host did not allocate");
    return false;
  }
  const AudioFrame* f = (const AudioFrame*)object;
  bool bad = f->size == 0 || f->channel != sink->channel;
  EnterCriticalSection(&sink->lock);
  AudioFigures* a = &sink->figures;
  a->frames++;
  a->bytes += f->size;
  if (a->frames == 1 || f->size < a->minSize) a->minSize = f->size;
  if (f->size > a->maxSize) a->maxSize = f->size;
  a->fourcc = f->fourcc;
  a->sampleRate = f->sampleRate;
  a->bitsPerSample = f->bitsPerSample;
  a->bitRate = f->bitRate;
  a->stereo = f->stereo;
  a->channel = f->channel;
  if (sink->out) {
    if (f->fourcc == TAG_AAC1) {
      if (!WriteAdts(sink->out, f)) bad = true;
    } else {
      if (!sink->wroteHeader) {
        WriteWavHeader(sink->out, f->sampleRate, 0);
        sink->wroteHeader = true;
      }
      fwrite(f->data, 1, f->size, sink->out);
    }
  }
  if (bad) a->badFrames++;
  uint64_t n = a->frames;
  LeaveCriticalSection(&sink->lock);
  if (!sink->quiet && n <= 3) {
    char tag[5];
    HostPrint("AUDIO frame=%llu size=%u tag=%s rate=%u bits=%u stereo=%u bitrate=%u channel=%u config=%u",
              (unsigned long long)n, f->size, TagText(f->fourcc, tag), f->sampleRate, f->bitsPerSample,
              f->stereo ? 1u : 0u, f->bitRate, f->channel, f->configSize);
  }
  SetEvent(sink->frameEvent);
  return true;
}

static void SinkOnChannelStatus(void* self, uint32_t index, uint32_t status) {
  AudioSink* sink = (AudioSink*)self;
  EnterCriticalSection(&sink->lock);
  sink->figures.status = status;
  sink->figures.statusChanges++;
  LeaveCriticalSection(&sink->lock);
  if (!sink->quiet) HostPrint("AUDIO status index=%u status=%u", index, status);
}

static const struct {
  void* (*dtor)(void*, unsigned int);
  bool (*onFrame)(void*, void*);
  void (*onStatus)(void*, uint32_t, uint32_t);
} audioSinkVtbl = {HostNotDeleted, SinkOnAudioFrame, SinkOnChannelStatus};

void AudioSinkInit(AudioSink* sink, uint32_t channel, FILE* out) {
  memset(sink, 0, sizeof(*sink));
  sink->vtbl = &audioSinkVtbl;
  sink->channel = channel;
  sink->out = out;
  InitializeCriticalSection(&sink->lock);
  sink->frameEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
}

void AudioSinkRead(AudioSink* sink, AudioFigures* figures) {
  EnterCriticalSection(&sink->lock);
  *figures = sink->figures;
  LeaveCriticalSection(&sink->lock);
}

void AudioSinkDestroy(AudioSink* sink) {
  if (sink->out) {
    if (sink->wroteHeader) {
      long end = ftell(sink->out);
      uint32_t dataBytes = end > 44 ? (uint32_t)(end - 44) : 0;
      fseek(sink->out, 0, SEEK_SET);
      WriteWavHeader(sink->out, sink->figures.sampleRate, dataBytes);
    }
    fclose(sink->out);
    sink->out = NULL;
  }
  CloseHandle(sink->frameEvent);
  DeleteCriticalSection(&sink->lock);
}

/* ---- audio-in mode ---- */

AudioCapture* HostGetAudioCapture(Session* session) {
  if (session->version < 4) {
    HostPrint("host: ERROR: audio capture needs the version 4 factory or later");
    return NULL;
  }
  AudioCapture* audio = (AudioCapture*)session->driver->vtbl->GetAudioCapture2(session->driver);
  if (!audio) HostPrint("host: ERROR: the driver has no audio capture object");
  return audio;
}

bool ModeAudioIn(Session* session) {
  const LiveOptions* live = &session->options->live;
  AudioCapture* audio = HostGetAudioCapture(session);
  if (!audio) return false;
  FILE* out = NULL;
  if (live->output) {
    out = fopen(live->output, "wb");
    if (!out) {
      HostPrint("host: ERROR: cannot write %s", live->output);
      return false;
    }
  }
  const uint32_t channel = live->streams[0].channel;
  AudioSink sink;
  AudioSinkInit(&sink, channel, out);
  /* A second open of an open channel is harmless and must not make a second channel. */
  bool opened = audio->vtbl->OpenChannel(audio, channel, channel, &sink, 0x1234);
  bool again = opened && audio->vtbl->OpenChannel(audio, channel, channel, &sink, 0x1234);
  HostPrint("AUDIO open channel=%u result=%s again=%s count=%u", channel, opened ? "true" : "false",
            again ? "true" : "false", audio->vtbl->GetChannelCount(audio));
  bool ok = opened && again && audio->vtbl->GetChannelCount(audio) == 1;
  uint64_t lastFrames = 0;
  /* Counting from the first frame: the wait for it is printed as seconds too, but does not count. */
  uint32_t seconds = live->seconds;
  bool waitingFirst = live->firstFrameWaitSeconds > 0;
  uint32_t waitLeft = live->firstFrameWaitSeconds;
  for (uint32_t second = 0; opened && second < seconds; ++second) {
    if (waitingFirst) {
      AudioFigures f;
      AudioSinkRead(&sink, &f);
      if (f.frames > 0) {
        waitingFirst = false;
        seconds = second + live->seconds;
      } else if (waitLeft > 0) {
        --waitLeft;
        ++seconds;
      }
    }
    Sleep(1000);
    AudioFigures a;
    AudioSinkRead(&sink, &a);
    HostPrint("AUDIO second=%u frames=%llu new=%llu bytes=%llu status=%u driver_status=%u", second + 1,
              (unsigned long long)a.frames, (unsigned long long)(a.frames - lastFrames),
              (unsigned long long)a.bytes, a.status, audio->vtbl->GetChannelStatus(audio, channel));
    lastFrames = a.frames;
  }
  ULONGLONG begin = GetTickCount64();
  bool closed = opened && audio->vtbl->CloseChannel(audio, channel);
  DWORD closeMs = (DWORD)(GetTickCount64() - begin);
  bool closedAgain = audio->vtbl->CloseChannel(audio, channel);
  AudioFigures a;
  AudioSinkRead(&sink, &a);
  AudioSinkDestroy(&sink);
  char tag[5];
  HostPrint(
      "AUDIO result frames=%llu bytes=%llu min=%u max=%u tag=%s rate=%u bits=%u stereo=%u bitrate=%u "
      "bad=%u status=%u changes=%u close=%s close_ms=%lu close_again=%s count=%u",
      (unsigned long long)a.frames, (unsigned long long)a.bytes, a.minSize, a.maxSize, TagText(a.fourcc, tag),
      a.sampleRate, a.bitsPerSample, a.stereo ? 1u : 0u, a.bitRate, a.badFrames, a.status, a.statusChanges,
      closed ? "true" : "false", (unsigned long)closeMs, closedAgain ? "true" : "false",
      audio->vtbl->GetChannelCount(audio));
  ok = ok && closed && !closedAgain && a.badFrames == 0 && a.status == 0;
  if (!live->allowNoFrames && a.frames == 0) ok = false;
  return ok;
}
