"""Cameras whose RTSP side serves audio input on "?enableaudio=1" (the streams themselves come
from camsimlib/audio_media.py): G.711 by default, AAC with "audio_codec": "aac"."""

from ..models import register_camera, register_config

register_config(audio_codec="g711")

register_camera({"address": "127.0.0.40", "auth": "basic", "model": "Camsim Audio G711"})
register_camera({"address": "127.0.0.41", "auth": "none", "model": "Camsim Audio AAC", "audio_codec": "aac"})
