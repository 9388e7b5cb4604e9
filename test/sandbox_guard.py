"""The guard of the Python tests that act on fixed board paths: they run
only inside the board sandbox, which holds the token its environment names."""
import os
import sys


def require_sandbox(name):
    try:
        with open("/run/kestrel-sandbox/token") as f:
            token = f.read().strip()
    except OSError:
        token = ""
    if not token or token != os.environ.get("KESTREL_SANDBOX_TOKEN"):
        sys.exit(f"{name}: runs only inside the board sandbox (sim/sandbox)")
