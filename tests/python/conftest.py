import sys
from pathlib import Path

# Shared helpers importable from every test folder: helpers.py (pytest-side
# builders) here, varkel_support.py (base58, Borsh encoder, random values; also
# used by the benchmark) in tests/support.
HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "support"))
sys.path.insert(0, str(HERE))
