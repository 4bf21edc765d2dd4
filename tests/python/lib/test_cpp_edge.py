"""No C++ exception crosses into the interpreter: at every entry point
std::bad_alloc becomes MemoryError and any other exception the internal error,
and the interpreter goes on working."""

import json
import subprocess
import sys
import textwrap

import pytest

from helpers import SANITIZED, load_testing_module

testing = load_testing_module()
needs_testing = pytest.mark.skipif(testing is None, reason="the test-only module _varkel_testing is not built")


@needs_testing
@pytest.mark.parametrize(
    "kind, error, text",
    [
        ("bad_alloc", MemoryError, ""),
        ("length_error", "InternalError", "vector::reserve"),
        ("runtime_error", "InternalError", "thrown for the test"),
        ("int", "InternalError", "unknown C++ exception"),
    ],
)
def test_guard_maps_cpp_exceptions(kind, error, text):
    with pytest.raises(BaseException) as info:
        testing.throw_cpp(kind)
    if error is MemoryError:
        assert type(info.value) is MemoryError
    else:
        assert type(info.value).__qualname__ == error and not isinstance(info.value, Exception)
    assert str(info.value) == text
    # The interpreter is unharmed and the module still answers.
    with pytest.raises(ValueError):
        testing.throw_cpp("nothing")


# Run in a fresh interpreter whose address space is capped just above what it
# already uses, so that the next large allocation fails (the free-threaded
# interpreter reserves about a GiB up front, so the cap is relative to the
# current size, not absolute). The big inputs are built before the cap; the
# call under the cap then needs tens of MiB more, which it cannot get.
CAPPED = textwrap.dedent(
    """
    import base64, hashlib, json, resource, sys
    from varkel import EventDecoder

    def vm_size():
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024

    disc = hashlib.sha256(b"event:E").digest()[:8]
    def idl(description=""):
        return json.dumps({
            "address": "Prog111111111111111111111111111111111111111",
            "metadata": {"name": "t", "version": "0.1.0", "spec": "0.1.0", "description": description},
            "instructions": [], "events": [{"name": "E", "discriminator": list(disc)}],
            "types": [{"name": "E", "type": {"kind": "struct", "fields": [{"name": "v", "type": "u8"}]}}]})
    decoder = EventDecoder(idl())
    good = "Program data: " + base64.b64encode(disc + b"\\x07").decode()
    scenario = sys.argv[1]
    if scenario == "line":    # the payload buffer of a 64 MiB line
        big = "Program data: " + "A" * (64 << 20)
        call = lambda: decoder.parse_logs([good, big, good])
    else:                     # the JSON parser's copy of a 64 MiB string
        big = idl("d" * (64 << 20))
        call = lambda: EventDecoder(big)

    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (vm_size() + (16 << 20), hard))
    try:
        call()
        outcome = "no error"
    except MemoryError:
        outcome = "MemoryError"
    except BaseException as error:
        outcome = f"{type(error).__qualname__}: {error}"
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    after = call() if scenario == "line" else EventDecoder(big).event_names
    print(json.dumps({"outcome": outcome, "after": repr(after)}))
    """
)


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer's shadow memory does not fit under an address-space cap")
@pytest.mark.parametrize(
    "scenario, after",
    [
        ("line", "[('E', {'v': 7}), ('E', {'v': 7})]"),
        ("idl", "['E']"),
    ],
)
def test_allocation_failure_raises_memory_error(scenario, after):
    done = subprocess.run([sys.executable, "-c", CAPPED, scenario], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert result == {"outcome": "MemoryError", "after": after}
