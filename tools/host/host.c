/* A stand-in for the recorder: loads LumivarIPCapture.dll, makes a driver through each factory,
 * opens it with its own host objects, works through it, closes it and deletes it through the
 * matching delete. Everything the driver logs is printed with its level.
 *
 *   lumivar_host [options] [mode]
 *     --dll PATH        the driver library (default LumivarIPCapture.dll, found like the host would)
 *     -a ADDRESS        camera address (127.0.0.1)      -P PORT        port (80)
 *     -u USER           user name ("")                  -w PASSWORD    password ("")
 *     -m MODEL          device model ("Lumivar camera") -c COUNT       channel count (1)
 *     -v FORMAT         default video format (3)        -i ID1,ID2     the host ids (0,0)
 *     -p N=TEXT         numbered parameter N (repeatable; -p 101="Count=1; IsStereo=0")
 *     -f FACTORY        0..5: only that factory version (default: all six for open, 5 otherwise)
 *     --require-open    exit with 1 when an Open fails
 *   live video (modes live, cycles, multi):
 *     --format h264|mjpeg|mpeg4 stream format (h264)        --size WxH     requested size (640x480)
 *                           (Motion JPEG of a camera of group 0, -p 5=0, is polled as snapshots)
 *     --frame-code N        the frame-rate code as given instead of --fps (N ms between frames)
 *     --fps N               frames per second (25)      --quality Q    0..100 (50)
 *     --stream [CH:]IDX[@WxH] a stream to start (repeatable; default 0:0), at its own size
 *                           when given. Index 0 goes through StartChannel, others through
 *                           StartStream.
 *     --zone X,Y,W,H        a privacy zone in percent, passed as stream option of stream 0
 *     --seconds S           how long to receive (10)    -o FILE        capture file (payloads
 *                           as delivered: Annex B H.264, concatenated JPEG or an MPEG-4
 *                           elementary stream; with several
 *                           streams "-c<CH>s<IDX>" is added before the extension)
 *     --commands FILE       run the lines appended to FILE: quit | pause CH | resume CH |
 *                           update CH W H FPS | stop CH | start CH (again, as at
 *                           the beginning) | stopstream CH IDX | mark TEXT
 *     --first-frame-wait S  live, audio-in: --seconds count from the first frame (of every
 *                           stream), which is waited for at most S s (0: from the start)
 *     --allow-no-frames     a live run without frames is not a failure
 *     --edge-storage        live mode: edge storage on; replayed frames printed apart
 *     --replay-file FILE    live mode with edge storage: replayed payloads (Annex B)
 *     --block-callback MS   io and motion modes: every I/O or motion callback takes MS
 *     --stop-in-callback    io and motion modes: the first I/O or motion callback stops
 *                           (StopIO / StopChannel) from inside itself
 *     --cycles N            cycles mode: start/stop cycles (200)
 *     --cycle-wait MS       cycles mode: wait up to MS for a frame in each cycle (3000; 0: none)
 *     --drivers N           multi mode: streams, one driver each (8)
 *     --cameras A,B,...     multi mode: camera addresses, used in turn (default: -a)
 *     --warmup S            multi mode: longest wait until every stream receives (30)
 *   modes: open (default) - calls every accessor the factory's version has;
 *          live   - receives the streams, prints states, log lines and once a second the
 *                   frames, kbit/s and picture size of each stream;
 *          cycles - starts and stops stream 0 of channel 0 again and again and compares
 *                   handles, threads and private bytes before and after;
 *          multi  - one H.264 stream per driver, counts frames against the frame rate and the
 *                   process's CPU time;
 *          ptz    - moves, zooms, focuses, steers the iris and keeps presets from the commands
 *                   file (tools/host/ptz_mode.c lists the commands);
 *          query ADDRESS - the capability query, without a driver object (see query_mode.c).
 *          safety - one case of the host-safety matrix: a subsystem stopped against a silent or
 *                   vanished camera, a blocking callback or from inside its callback (see
 *                   safety_mode.c for its options).
 *          audio-in - opens audio input channel CH (--stream CH:0) for --seconds, prints the frames
 *                   and status changes, writes -o FILE (G.711 as WAV, AAC as ADTS); with
 *                   --audio, the cycles mode opens and closes that audio channel instead.
 *          audio-out FILE.wav - opens audio output channel 0 and sends the WAV file's data
 *                   (G.711 mu-law, 8000 Hz, mono) as host frames, printing each status change.
 *   audio output (mode audio-out; cycles with --audio-out):
 *     --frame-bytes N       bytes per frame (1000)     --frame-ms MS  pause between frames (130)
 *     --audio-bitrate B     bit rate the frames claim (64000)
 *     --audio-formats T,..  format tags the host offers ("711M")
 *     --audio-seconds S     send the file again and again for S seconds (0: once)
 *     --audio-out           cycles mode: open and close an audio output channel per cycle
 *     --audio-no-wait       audio-out: send from right after the open, not after "running"
 *
 * The last line is a summary; the exit code is 0 when every step ran as required. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "audio_objects.h"
#include "driver_abi.h"
#include "host_objects.h"
#include "host_session.h"

/* A mode works with an opened driver; returns false when something it needed failed. */
typedef bool (*ModeFn)(Session* session);

typedef struct Accessor {
  const char* name;
  int minVersion;
  size_t offset; /* of the slot in DriverVtbl */
} Accessor;

static const Accessor accessors[] = {
    {"GetVideoCapture", 0, offsetof(DriverVtbl, GetVideoCapture)},
    {"GetIOApi", 0, offsetof(DriverVtbl, GetIOApi)},
    {"GetReservedEx", 1, offsetof(DriverVtbl, GetReservedEx)},
    {"GetPTZDriver", 1, offsetof(DriverVtbl, GetPTZDriver)},
    {"GetReservedEx2", 2, offsetof(DriverVtbl, GetReservedEx2)},
    {"GetVideoCaptureEx", 2, offsetof(DriverVtbl, GetVideoCaptureEx)},
    {"GetPTZDriverEx", 3, offsetof(DriverVtbl, GetPTZDriverEx)},
    {"GetAudioCapture2", 4, offsetof(DriverVtbl, GetAudioCapture2)},
    {"GetAudioSender", 4, offsetof(DriverVtbl, GetAudioSender)},
    {"GetVideoCaptureEx2", 5, offsetof(DriverVtbl, GetVideoCaptureEx2)},
};

static bool ModeOpen(Session* session) {
  for (size_t i = 0; i < sizeof(accessors) / sizeof(accessors[0]); ++i) {
    if (accessors[i].minVersion > session->version) continue;
    void* (*get)(void*);
    memcpy(&get, (const char*)session->driver->vtbl + accessors[i].offset, sizeof(get));
    void* object = get(session->driver);
    if (object) {
      HostPrint("accessor %s: %p", accessors[i].name, object);
    } else {
      HostPrint("accessor %s: null", accessors[i].name);
    }
  }
  VideoCapture* video = (VideoCapture*)session->driver->vtbl->GetVideoCapture(session->driver);
  if (video) {
    uint32_t channels = video->vtbl->GetChannelCount(video);
    HostPrint("video capture: %u channels", channels);
    if (channels != session->options->device.channelCount) {
      HostPrint("host: ERROR: the video capture object has %u channels, the host gave %u", channels,
                session->options->device.channelCount);
      return false;
    }
  }
  return true;
}

typedef struct Mode {
  const char* name;
  ModeFn run;
} Mode;

/* clang-format off */
static const Mode modes[] = {
    {"open", ModeOpen},
    {"live", ModeLive},
    {"cycles", ModeCycles},
    {"multi", ModeMulti},
    {"audio-out", ModeAudioOut},
    {"ptz", ModePTZ},
    {"io", ModeIO},
    {"motion", ModeMotion},
    {"audio-in", ModeAudioIn},
};
/* clang-format on */

static const char* const createNames[6] = {"CreateIPCapture",    "CreateIPCaptureEx",  "CreateIPCaptureEx2",
                                           "CreateIPCaptureEx3", "CreateIPCaptureEx4", "CreateIPCaptureEx5"};
static const char* const deleteNames[6] = {"DeleteIPCapture",    "DeleteIPCaptureEx",  "DeleteIPCaptureEx2",
                                           "DeleteIPCaptureEx3", "DeleteIPCaptureEx4", "DeleteIPCaptureEx5"};

static void Usage(void) {
  fprintf(
      stderr,
      "usage: lumivar_host [--dll PATH] [-a ADDRESS] [-P PORT] [-u USER] [-w PASSWORD] [-m MODEL]\n"
      "                    [-c COUNT] [-v FORMAT] [-i ID1,ID2] [-p N=TEXT]... [-f 0..5] [--require-open]\n"
      "                    [--format h264|mjpeg|mpeg4] [--size WxH] [--fps N] [--quality Q]\n"
      "                    [--stream [CH:]IDX[@WxH]]... [--zone X,Y,W,H]... [--seconds S] [-o FILE]\n"
      "                    [--first-frame-wait S]\n"
      "                    [--commands FILE] [--allow-no-frames] [--cycles N] [--cycle-wait MS]\n"
      "                    [--drivers N] [--cameras A,B,...] [--warmup S]\n"
      "                    [--edge-storage] [--replay-file FILE] [--block-callback MS] [--stop-in-callback]\n"
      "                    [--frame-bytes N] [--frame-ms MS] [--audio-bitrate B] [--audio-formats T,...]\n"
      "                    [--audio-seconds S] [--audio-out] [--audio-no-wait]\n"
      "                    [--audio] [open|live|cycles|multi|ptz|io|motion|audio-in|query|audio-out "
      "FILE.wav]\n");
}

static bool ParseUnsigned(const char* text, uint32_t* value) {
  char* end = NULL;
  if (!text || !*text) return false;
  unsigned long v = strtoul(text, &end, 10);
  if (*end != '\0' || v > 0xFFFFFFFFul) return false;
  *value = (uint32_t)v;
  return true;
}

static bool ParseFloatList(const char* text, float* values, int count) {
  for (int i = 0; i < count; ++i) {
    char* end = NULL;
    values[i] = strtof(text, &end);
    if (end == text) return false;
    if (i + 1 < count) {
      if (*end != ',') return false;
      text = end + 1;
    } else if (*end != '\0') {
      return false;
    }
  }
  return true;
}

/* Options of the live modes. Returns true when `arg` is one of them; `bad` tells a bad value. */
static bool ParseLiveOption(const char* arg, const char* value, LiveOptions* live, bool* takesValue,
                            bool* bad) {
  *bad = false;
  if (strcmp(arg, "--edge-storage") == 0) {
    live->edgeStorage = true;
    *takesValue = false;
    return true;
  }
  if (strcmp(arg, "--allow-no-frames") == 0) {
    live->allowNoFrames = true;
    *takesValue = false;
    return true;
  }
  if (strcmp(arg, "--stop-in-callback") == 0) {
    live->stopInCallback = true;
    *takesValue = false;
    return true;
  }
  if (strcmp(arg, "--audio") == 0) {
    live->audio = true;
    *takesValue = false;
    return true;
  }
  if (strncmp(arg, "--", 2) != 0 || !value) return false;
  const char* name = arg + 2;
  if (strcmp(name, "format") == 0) {
    if (strcmp(value, "h264") == 0) {
      live->format = 3;
    } else if (strcmp(value, "mjpeg") == 0) {
      live->format = 1;
    } else if (strcmp(value, "mpeg4") == 0) {
      live->format = 2;
    } else {
      *bad = !ParseUnsigned(value, &live->format);
    }
  } else if (strcmp(name, "size") == 0) {
    unsigned w = 0, h = 0;
    char extra;
    *bad = sscanf(value, "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF;
    live->width = w;
    live->height = h;
  } else if (strcmp(name, "fps") == 0) {
    *bad = !ParseUnsigned(value, &live->fps) || live->fps == 0 || live->fps > 0xFFF;
  } else if (strcmp(name, "frame-code") == 0) {
    *bad = !ParseUnsigned(value, &live->frameCode) || live->frameCode == 0;
  } else if (strcmp(name, "quality") == 0) {
    *bad = !ParseUnsigned(value, &live->quality) || live->quality > 100;
  } else if (strcmp(name, "stream") == 0) {
    unsigned ch = 0, idx = 0, w = 0, h = 0;
    char extra, text[64];
    snprintf(text, sizeof(text), "%s", value);
    char* at = strchr(text, '@');
    if (at) {
      *at = '\0';
      *bad = sscanf(at + 1, "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF;
    }
    if (sscanf(text, "%u:%u%c", &ch, &idx, &extra) != 2) {
      ch = 0;
      if (sscanf(text, "%u%c", &idx, &extra) != 1) *bad = true;
    }
    if (idx > 3 || live->streamCount >= HOST_MAX_STREAMS) *bad = true;
    if (!*bad) live->streams[live->streamCount++] = (StreamRequest){ch, idx, w, h};
  } else if (strcmp(name, "zone") == 0) {
    float v[4];
    *bad = live->zoneCount >= 4 || !ParseFloatList(value, v, 4);
    if (!*bad) live->zones[live->zoneCount++] = (ZoneRequest){v[0], v[1], v[2], v[3]};
  } else if (strcmp(name, "block-callback") == 0) {
    *bad = !ParseUnsigned(value, &live->blockCallbackMs) || live->blockCallbackMs > 600000;
  } else if (strcmp(name, "replay-file") == 0) {
    live->replayFile = value;
  } else if (strcmp(name, "seconds") == 0) {
    *bad = !ParseUnsigned(value, &live->seconds);
  } else if (strcmp(name, "commands") == 0) {
    live->commandFile = value;
  } else if (strcmp(name, "cycles") == 0) {
    *bad = !ParseUnsigned(value, &live->cycles) || live->cycles == 0;
  } else if (strcmp(name, "cycle-wait") == 0) {
    *bad = !ParseUnsigned(value, &live->cycleWaitMs);
  } else if (strcmp(name, "drivers") == 0) {
    *bad = !ParseUnsigned(value, &live->drivers) || live->drivers == 0 || live->drivers > 1024;
  } else if (strcmp(name, "cameras") == 0) {
    /* Split in place in a copy that lives as long as the process. */
    char* copy = _strdup(value);
    for (char* p = copy ? strtok(copy, ",") : NULL; p; p = strtok(NULL, ",")) {
      if (live->cameraCount >= HOST_MAX_CAMERAS) {
        *bad = true;
        break;
      }
      live->cameras[live->cameraCount++] = p;
    }
    *bad = *bad || live->cameraCount == 0;
  } else if (strcmp(name, "warmup") == 0) {
    *bad = !ParseUnsigned(value, &live->warmupSeconds);
  } else if (strcmp(name, "first-frame-wait") == 0) {
    *bad = !ParseUnsigned(value, &live->firstFrameWaitSeconds);
  } else {
    return false;
  }
  return true;
}

static bool ParseOptions(int argc, char** argv, HostOptions* options) {
  memset(options, 0, sizeof(*options));
  options->dllPath = "LumivarIPCapture.dll";
  options->device.address = "127.0.0.1";
  options->device.port = 80;
  options->device.user = "";
  options->device.password = "";
  options->device.model = "Lumivar camera";
  options->device.channelCount = 1;
  options->device.defaultVideoFormat = 3;
  options->factory = -1;
  options->mode = "open";
  LiveOptions* live = &options->live;
  live->format = 3;
  live->width = 640;
  live->height = 480;
  live->fps = 25;
  live->quality = 50;
  live->seconds = 10;
  live->cycles = 200;
  live->cycleWaitMs = 3000;
  live->drivers = 8;
  live->warmupSeconds = 30;
  options->audio.frameBytes = 1000;
  options->audio.frameMs = 130;
  options->audio.bitRate = 64000;
  options->audio.formats = "711M";

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    bool takesValue = true;
    bool bad = false;
    if (strcmp(arg, "--dll") == 0 && value) {
      options->dllPath = value;
    } else if (strcmp(arg, "-a") == 0 && value) {
      options->device.address = value;
    } else if (strcmp(arg, "-P") == 0 && value) {
      if (!ParseUnsigned(value, &options->device.port)) return false;
    } else if (strcmp(arg, "-u") == 0 && value) {
      options->device.user = value;
    } else if (strcmp(arg, "-w") == 0 && value) {
      options->device.password = value;
    } else if (strcmp(arg, "-m") == 0 && value) {
      options->device.model = value;
    } else if (strcmp(arg, "-c") == 0 && value) {
      if (!ParseUnsigned(value, &options->device.channelCount)) return false;
    } else if (strcmp(arg, "-v") == 0 && value) {
      if (!ParseUnsigned(value, &options->device.defaultVideoFormat)) return false;
    } else if (strcmp(arg, "-i") == 0 && value) {
      unsigned long a = 0, b = 0;
      if (sscanf(value, "%lu,%lu", &a, &b) != 2) return false;
      options->device.hostId1 = (uint32_t)a;
      options->device.hostId2 = (uint32_t)b;
    } else if (strcmp(arg, "-p") == 0 && value) {
      const char* equals = strchr(value, '=');
      if (!equals || options->device.parameterCount >= HOST_MAX_PARAMETERS) return false;
      char number[16];
      size_t length = (size_t)(equals - value);
      if (length == 0 || length >= sizeof(number)) return false;
      memcpy(number, value, length);
      number[length] = '\0';
      HostParameter* p = &options->device.parameters[options->device.parameterCount];
      if (!ParseUnsigned(number, &p->number)) return false;
      p->text = equals + 1;
      options->device.parameterCount++;
    } else if (strcmp(arg, "-o") == 0 && value) {
      options->live.output = value;
    } else if (strcmp(arg, "-f") == 0 && value) {
      uint32_t f = 0;
      if (!ParseUnsigned(value, &f) || f > 5) return false;
      options->factory = (int)f;
    } else if (ParseLiveOption(arg, value, &options->live, &takesValue, &bad) ||
               ParseAudioOption(arg, value, &options->audio, &takesValue, &bad)) {
      if (bad) return false;
    } else if (strcmp(arg, "--require-open") == 0) {
      options->requireOpen = true;
      takesValue = false;
    } else if (arg[0] != '-') {
      if (strcmp(options->mode, "audio-out") == 0 && !options->audio.file) {
        options->audio.file = arg;
      } else {
        options->mode = arg;
      }
      takesValue = false;
    } else {
      return false;
    }
    if (takesValue) ++i;
  }
  if (live->streamCount == 0) live->streamCount = 1; /* channel 0, stream 0 */
  /* A live run works with one driver; every factory in turn only makes sense for "open". */
  if (options->factory < 0 && strcmp(options->mode, "open") != 0) options->factory = 5;
  return true;
}

static const Mode* FindMode(const char* name) {
  for (size_t i = 0; i < sizeof(modes) / sizeof(modes[0]); ++i) {
    if (strcmp(modes[i].name, name) == 0) return &modes[i];
  }
  return NULL;
}

int QueryMain(int argc, char** argv);  /* query_mode.c: needs no driver object */
int SafetyMain(int argc, char** argv); /* safety_mode.c: makes its own driver */

int main(int argc, char** argv) {
  /* First: "query" may be the safety mode's subsystem. */
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "safety") == 0) return SafetyMain(argc, argv);
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "query") == 0) return QueryMain(argc, argv);
  HostOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  const Mode* mode = FindMode(options.mode);
  if (!mode) {
    fprintf(stderr, "lumivar_host: unknown mode \"%s\"\n", options.mode);
    Usage();
    return 2;
  }
  HostObjectsInit();

  HMODULE library = LoadLibraryA(options.dllPath);
  if (!library) {
    HostPrint("host: cannot load %s (error %lu)", options.dllPath, (unsigned long)GetLastError());
    HostPrint("SUMMARY: FAILED (library not loaded)");
    return 1;
  }
  HostPrint("host: loaded %s", options.dllPath);

  DebugSink sink;
  FrameAllocator allocator;
  OpenParams params;
  DebugSinkInit(&sink);
  FrameAllocatorInit(&allocator);
  OpenParamsInit(&params, &options.device);

  int runs = 0, opened = 0, failures = 0;
  for (int version = 0; version < 6; ++version) {
    if (options.factory >= 0 && options.factory != version) continue;
    CreateDriverFn create = (CreateDriverFn)(void (*)(void))GetProcAddress(library, createNames[version]);
    DeleteDriverFn destroy = (DeleteDriverFn)(void (*)(void))GetProcAddress(library, deleteNames[version]);
    if (!create || !destroy) {
      HostPrint("host: ERROR: %s or %s is not exported", createNames[version], deleteNames[version]);
      ++failures;
      continue;
    }
    ++runs;
    Driver* driver = create();
    if (!driver) {
      HostPrint("%s: null", createNames[version]);
      ++failures;
      destroy(NULL);
      continue;
    }
    HostPrint("%s: created", createNames[version]);
    bool ok = driver->vtbl->Open(driver, &sink, &allocator, &params);
    HostPrint("open: %s", ok ? "true" : "false");
    if (ok) {
      ++opened;
      Session session = {&options, library, version, driver, &sink, &allocator};
      if (!mode->run(&session)) ++failures;
    } else if (options.requireOpen) {
      ++failures;
    }
    ULONGLONG closeBegin = GetTickCount64();
    driver->vtbl->Close(driver);
    HostPrint("close: done ms=%lu", (unsigned long)(GetTickCount64() - closeBegin));
    destroy(driver);
    HostPrint("%s: done", deleteNames[version]);
  }

  if (allocator.allocated != allocator.released) {
    HostPrint("host: ERROR: %ld frames allocated, %ld released", allocator.allocated, allocator.released);
    ++failures;
  }
  FreeLibrary(library);
  HostPrint(
      "SUMMARY: %s: %d drivers, %d opened, %ld log lines (error %ld, warning %ld, info %ld, opened %ld)",
      failures ? "FAILED" : "OK", runs, opened, sink.lines, sink.byLevel[1], sink.byLevel[2], sink.byLevel[3],
      sink.byLevel[100]);
  return failures ? 1 : 0;
}
