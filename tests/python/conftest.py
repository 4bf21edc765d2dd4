import sys
from pathlib import Path

# Shared helpers (helpers.py) importable from every test folder.
sys.path.insert(0, str(Path(__file__).resolve().parent))
