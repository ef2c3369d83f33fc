"""The camera simulator as a package; tools/camsim/camsim.py runs it. See README.md here."""
