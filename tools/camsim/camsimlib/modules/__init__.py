"""Camera-side modules: each file here is imported at start-up and registers itself (see
camsimlib/README.md)."""
