"""Loading of the simulator's modules and the services they run beside the cameras.

Every .py file in camsimlib/modules/ is imported at start-up, in name order, before the cameras
are built; importing is how a module registers itself. A module that fails to import is logged
and left out, so the rest of the simulator keeps serving.
"""

import importlib
import os
import pkgutil
import traceback

from .common import log

# start(sim) -> a handle with stop() (or None); called once the cameras' HTTP sides listen.
SERVICES = []


def register_service(start):
    SERVICES.append(start)
    return start


def load_modules():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "modules")
    for info in sorted(pkgutil.iter_modules([here]), key=lambda m: m.name):
        try:
            importlib.import_module("%s.modules.%s" % (__package__, info.name))
        except Exception:
            log("module %s not loaded:\n%s" % (info.name, traceback.format_exc()))


def start_services(sim):
    handles = []
    for start in SERVICES:
        try:
            handle = start(sim)
        except Exception:
            log("service %s failed to start:\n%s" % (getattr(start, "__module__", start), traceback.format_exc()))
            continue
        if handle is not None:
            handles.append(handle)
    return handles


def stop_services(handles):
    for handle in reversed(handles):
        try:
            handle.stop()
        except Exception:
            log("service stop failed:\n%s" % traceback.format_exc())
