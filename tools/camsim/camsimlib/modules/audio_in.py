"""Cameras whose RTSP side serves audio input on "?enableaudio=1" (the streams themselves come
from camsimlib/audio_media.py): G.711 by default, AAC with "audio_codec": "aac", AAC in
fragments with "aac_fragmented", G.711 A-law with "pcma"."""

from ..models import register_camera, register_config

register_config(audio_codec="g711")

register_camera({"address": "127.0.0.40", "auth": "basic", "model": "Camsim Audio G711"})
register_camera({"address": "127.0.0.41", "auth": "none", "model": "Camsim Audio AAC", "audio_codec": "aac"})
register_camera({"address": "127.0.0.46", "auth": "basic", "model": "Camsim Audio G711 A-law", "audio_codec": "pcma"})
register_camera({"address": "127.0.0.47", "auth": "none", "model": "Camsim Audio AAC Fragmented",
                 "audio_codec": "aac_fragmented"})
