"""The guard of the Python tests that act on fixed board paths: they run
only inside the board sandbox, which holds the token its environment
names."""
import os
import sys


def require_sandbox(name):
    want = os.environ.get("KESTREL_SANDBOX_TOKEN")
    try:
        with open("/run/kestrel-sandbox/token") as f:
            inside = bool(want) and f.read().strip() == want
    except OSError:
        inside = False
    if not inside:
        sys.exit(f"{name}: runs only inside the board sandbox (sim/sandbox)")
