# Type stub of the compiled extension module varkel._varkel. Checked against
# the built module by `python -m mypy.stubtest varkel._varkel` (the test
# command runs it): everything the module defines is declared here.
from collections.abc import Sequence
from typing import Any, final

__all__ = ["EventDecoder"]

@final
class EventDecoder:
    """Decodes Anchor program events from Solana transaction log lines.

    Reads the program's IDL as JSON text, in the current format (Anchor
    0.30+, "spec": "0.1.0") or the legacy format of earlier Anchor
    versions. Immutable: one decoder serves any number of threads; it
    pickles as its IDL text and copies as itself.
    """

    def __new__(cls, idl_json: str) -> EventDecoder: ...
    def parse_logs(self, logs: Sequence[str]) -> list[tuple[str, Any]]: ...
    @property
    def event_names(self) -> list[str]: ...
    def __reduce__(self) -> tuple[type[EventDecoder], tuple[str]]: ...
    def __copy__(self) -> EventDecoder: ...
    def __deepcopy__(self, memo: dict[int, Any], /) -> EventDecoder: ...
