"""Audio streams of the simulated cameras' RTSP side.

A camera serves its microphone input to a session whose URL query carries "enableaudio=1"
(with "multicast=1" for the multicast stream). The description then names one audio track:
  - G.711 mu-law, 8 kHz mono, payload type 0, 20 ms (160-byte) packets, as cameras send it;
  - AAC LC (camera configuration "audio_codec": "aac"), RFC 3640 "mpeg4-generic" in AAC-hbr
    mode (one 16-bit AU header per packet) with the AudioSpecificConfig in the fmtp "config";
  - "aac_fragmented": the same, but in packets of at most AAC_FRAGMENT_MTU bytes, so that every
    access unit comes in fragments (each with an AU header that gives the whole unit's size);
  - "pcma": G.711 A-law, payload type 8 ("PCMA/8000"), 20 ms packets.
The signal is a sine tone of AUDIO_TONE_HZ so that a test can check the content after a real
decoder. A camera whose audio is switched off (RCP+ 0x000C not written 1) sends silence, so a
client that forgets to switch audio on gets no tone.
"""

AUDIO_TONE_HZ = 1000
G711_RATE = 8000
G711_SAMPLES_PER_PACKET = 160
AAC_RATE = 16000
AAC_BITRATE = 32000
AAC_FRAGMENT_MTU = 140
CODECS = ("g711", "pcma", "aac", "aac_fragmented")


def _int(value, default):
    try:
        return int(str(value), 0)
    except (TypeError, ValueError):
        return default


def wants_audio(params):
    return _int(params.get("enableaudio"), 0) == 1


def codec_of(camera):
    config = getattr(camera, "config", None) or {}
    codec = str(config.get("audio_codec", "g711")).lower()
    return codec if codec in CODECS else "g711"


def launch(camera):
    """The GStreamer launch text of the camera's audio stream as it is now."""
    enabled = bool(getattr(camera, "audio_enabled", 0))
    wave = "sine" if enabled else "silence"
    codec = codec_of(camera)
    if codec in ("aac", "aac_fragmented"):
        # 1024 samples per buffer: one AAC frame each, so every packet carries one unit (or,
        # with the small MTU, one fragment of it).
        mtu = " mtu=%d" % AAC_FRAGMENT_MTU if codec == "aac_fragmented" else ""
        return ("( audiotestsrc is-live=true wave=%s freq=%d volume=0.5 samplesperbuffer=1024 "
                "! audio/x-raw,format=S16LE,rate=%d,channels=1 ! valve name=gate drop=false "
                "! voaacenc bitrate=%d ! aacparse ! rtpmp4gpay name=pay0 pt=96%s )"
                % (wave, AUDIO_TONE_HZ, AAC_RATE, AAC_BITRATE, mtu))
    if codec == "pcma":
        encode = "alawenc ! rtppcmapay name=pay0 pt=8"
    else:
        encode = "mulawenc ! rtppcmupay name=pay0 pt=0"
    return ("( audiotestsrc is-live=true wave=%s freq=%d volume=0.5 samplesperbuffer=%d "
            "! audio/x-raw,format=S16LE,rate=%d,channels=1 ! valve name=gate drop=false "
            "! %s min-ptime=20000000 max-ptime=20000000 )"
            % (wave, AUDIO_TONE_HZ, G711_SAMPLES_PER_PACKET, G711_RATE, encode))
