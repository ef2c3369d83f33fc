"""Audio streams of the simulated cameras' RTSP side.

A camera serves its microphone input to a session whose URL query carries "enableaudio=1"
(with "multicast=1" for the multicast stream). The description then names one audio track:
  - G.711 mu-law, 8 kHz mono, payload type 0, 20 ms (160-byte) packets, as cameras send it;
  - AAC LC (camera configuration "audio_codec": "aac"), RFC 3640 "mpeg4-generic" in AAC-hbr
    mode (one 16-bit AU header per packet) with the AudioSpecificConfig in the fmtp "config".
The signal is a sine tone of AUDIO_TONE_HZ so that a test can check the content after a real
decoder. A camera whose audio is switched off (RCP+ 0x000C not written 1) sends silence, so a
client that forgets to switch audio on gets no tone.
"""

AUDIO_TONE_HZ = 1000
G711_RATE = 8000
G711_SAMPLES_PER_PACKET = 160
AAC_RATE = 16000
AAC_BITRATE = 32000


def _int(value, default):
    try:
        return int(str(value), 0)
    except (TypeError, ValueError):
        return default


def wants_audio(params):
    return _int(params.get("enableaudio"), 0) == 1


def codec_of(camera):
    config = getattr(camera, "config", None) or {}
    return "aac" if str(config.get("audio_codec", "g711")).lower() == "aac" else "g711"


def launch(camera):
    """The GStreamer launch text of the camera's audio stream as it is now."""
    enabled = bool(getattr(camera, "audio_enabled", 0))
    wave = "sine" if enabled else "silence"
    if codec_of(camera) == "aac":
        # 1024 samples per buffer: one AAC frame each, so every packet carries one unit.
        return ("( audiotestsrc is-live=true wave=%s freq=%d volume=0.5 samplesperbuffer=1024 "
                "! audio/x-raw,format=S16LE,rate=%d,channels=1 ! valve name=gate drop=false "
                "! voaacenc bitrate=%d ! aacparse ! rtpmp4gpay name=pay0 pt=96 )"
                % (wave, AUDIO_TONE_HZ, AAC_RATE, AAC_BITRATE))
    return ("( audiotestsrc is-live=true wave=%s freq=%d volume=0.5 samplesperbuffer=%d "
            "! audio/x-raw,format=S16LE,rate=%d,channels=1 ! valve name=gate drop=false "
            "! mulawenc ! rtppcmupay name=pay0 pt=0 min-ptime=20000000 max-ptime=20000000 )"
            % (wave, AUDIO_TONE_HZ, G711_SAMPLES_PER_PACKET, G711_RATE))
