"""parse_logs: argument conversion, line forms, base64 strictness, ordering."""

import base64
import gc
import sys

import pytest

from varkel import EventDecoder
from helpers import SANITIZED, current_idl, data_line, rss_bytes, struct
from varkel_support import event_discriminator

DISC = bytes(event_discriminator("Deposit"))
KEY = bytes(range(32))
KEY_TEXT = "1thX6LZfHDZZKUs92febYZhYRcXddmzfzF2NvTkPNE"
PAYLOAD = DISC + (5).to_bytes(8, "little") + KEY
RECORD = ("Deposit", {"amount": 5, "owner": KEY_TEXT})
B64 = base64.b64encode(bytes(PAYLOAD)).decode()


@pytest.fixture(scope="module")
def decoder():
    types = [struct("Deposit", [("amount", "u64"), ("owner", "pubkey")]), struct("Tick", [("n", "u8")])]
    return EventDecoder(current_idl(events=["Deposit", "Tick"], types=types))


def test_key_text_matches_base58():
    # The expected text above, recomputed here so the table stays honest: an
    # independent base58, deliberately not varkel_support.b58encode.
    alphabet = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
    n, out = int.from_bytes(KEY, "big"), ""
    while n:
        n, r = divmod(n, 58)
        out = alphabet[r] + out
    assert "1" * (len(KEY) - len(KEY.lstrip(b"\0"))) + out == KEY_TEXT


@pytest.mark.parametrize(
    "line",
    [
        "Program data: " + B64,
        "Program log: " + B64,
        "Program data: " + B64 + "\r\n",
        "Program data: " + B64 + "\t\t",
        "Program data: " + B64 + "\u00a0",
        "Program data: \u3000" + B64 + "\u2029",
        "Program data:    " + B64,
    ],
)
def test_event_lines(decoder, line):
    assert decoder.parse_logs([line]) == [RECORD]


@pytest.mark.parametrize(
    "line",
    [
        "Program data:" + B64,
        "program data: " + B64,
        "  Program data: " + B64,
        "Program data: " + B64 + " " + B64,
        "Program data: " + B64[:-1],
        "Program data: " + B64.replace("+", "-").replace("/", "_") + "AA-_",
        "Program data: ",
        "Program data",
        "",
        "Program log: Instruction: Transfer",
        "Program 11111111111111111111111111111111 invoke [1]",
        "Program consumed 1234 of 200000 compute units",
    ]
    + ["Program data: " + base64.b64encode(DISC[:n]).decode() for n in range(1, 8)]
    + ["Program data: " + base64.b64encode(bytes(PAYLOAD[:-1])).decode()],
)
def test_lines_without_events(decoder, line):
    assert decoder.parse_logs([line]) == []


def test_trailing_bytes_ignored(decoder):
    assert decoder.parse_logs([data_line(PAYLOAD, b"\xff\xff\xff")]) == [RECORD]


def test_order_and_noise(decoder):
    tick = data_line(event_discriminator("Tick"), b"\x09")
    lines = [tick, "Program log: Instruction: Swap", "Program data: " + B64, "noise", tick]
    assert decoder.parse_logs(lines) == [("Tick", {"n": 9}), RECORD, ("Tick", {"n": 9})]
    assert decoder.parse_logs(tuple(lines)) == decoder.parse_logs(logs=lines)


class Lines:
    """A sequence that is neither a list nor a tuple: read through its iterator."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


def test_every_kind_of_sequence_and_line_gives_the_same_events(decoder):
    # ASCII lines are read in place, others through their UTF-8 text; a str
    # subclass is never taken for an ASCII str.
    class Text(str):
        pass

    tick = data_line(event_discriminator("Tick"), b"\x09")
    lines = [tick, "Program log: é " + B64, Text("Program data: " + B64), "Program data: \u00a0" + B64,
             "Program log: Instruction: Swap", "Program data: " + B64 + " \u3000", "noise"]
    want = [("Tick", {"n": 9}), RECORD, RECORD, RECORD]
    for logs in (lines, tuple(lines), Lines(lines)):
        assert decoder.parse_logs(logs) == want
        assert {name: table.num_rows for name, table in decoder.parse_logs_arrow(logs).items()} == \
            {"Deposit": 3, "Tick": 1}


@pytest.mark.parametrize("empty", [[], (), ["noise", "Program log: hello"]])
def test_no_events_gives_empty_list(decoder, empty):
    result = decoder.parse_logs(empty)
    assert result == [] and isinstance(result, list)


def test_result_is_new_list_of_tuples(decoder):
    first = decoder.parse_logs(["Program data: " + B64])
    second = decoder.parse_logs(["Program data: " + B64])
    assert first == second and first is not second
    assert type(first[0]) is tuple and type(first[0][1]) is dict


class Lines:
    """A sequence that is not a list: item access only."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("len is only a capacity hint")

    def __getitem__(self, index):
        return self.items[index]


def test_any_sequence_accepted(decoder):
    assert decoder.parse_logs(Lines(["Program data: " + B64])) == [RECORD]


class Hinted:
    """A Sequence whose __len__ returns `length` (or raises it, an exception)
    while item access yields `items`."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.items[index]


class HintedList(list):
    """A list whose __len__ lies; iteration yields its real items."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return Hinted.__len__(self)


LENGTHS = [
    10**15,  # a reservation of that many lines would exhaust memory
    sys.maxsize,
    sys.maxsize + 1,  # OverflowError from len()
    10**30,
    -1,  # ValueError from len()
    -(10**15),
    0,
    "many",  # TypeError from len()
    RuntimeError("len() refused"),
]


@pytest.mark.parametrize("length", LENGTHS, ids=repr)
@pytest.mark.parametrize("count", [0, 1, 3, 100_000])
@pytest.mark.parametrize("kind", [Hinted, HintedList])
def test_len_is_only_a_hint(decoder, kind, length, count):
    # The items that iteration yields decide, whatever __len__ says.
    lines = (["Program data: " + B64, "noise", data_line(DISC, b"\x01")] * count)[:count]
    expected = [RECORD] * len(lines[::3])
    assert decoder.parse_logs(kind(lines, length)) == expected


@pytest.mark.parametrize(
    "logs, message",
    [
        ("Program data: abc", "argument 'logs': Can't extract `str` to `Vec`"),
        (iter(["x"]), "argument 'logs': 'list_iterator' object is not an instance of 'Sequence'"),
        ({"x"}, "argument 'logs': 'set' object is not an instance of 'Sequence'"),
        ({"x": 1}, "argument 'logs': 'dict' object is not an instance of 'Sequence'"),
        (None, "argument 'logs': 'None' is not an instance of 'Sequence'"),
        (5, "argument 'logs': 'int' object is not an instance of 'Sequence'"),
        (["Program data: " + B64, 5], "argument 'logs': 'int' object is not an instance of 'str'"),
        (["ok", None], "argument 'logs': 'None' is not an instance of 'str'"),
        (b"abc", "argument 'logs': 'int' object is not an instance of 'str'"),
    ],
)
def test_argument_type_errors(decoder, logs, message):
    with pytest.raises(TypeError) as info:
        decoder.parse_logs(logs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "EventDecoder.parse_logs() missing 1 required positional argument: 'logs'"),
        (([], []), {}, "EventDecoder.parse_logs() takes 1 positional arguments but 2 were given"),
        (([],), {"logs": []}, "EventDecoder.parse_logs() got multiple values for argument 'logs'"),
        ((), {"lines": []}, "EventDecoder.parse_logs() got an unexpected keyword argument 'lines'"),
    ],
)
def test_binding_errors(decoder, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        decoder.parse_logs(*args, **kwargs)
    assert str(info.value) == message


def test_type_error_from_iteration_is_prefixed_and_keeps_cause(decoder):
    cause = KeyError("root")

    class Bad:
        def __len__(self):
            return 1

        def __getitem__(self, index):
            raise TypeError("boom") from cause

    with pytest.raises(TypeError) as info:
        decoder.parse_logs(Bad())
    assert str(info.value) == "argument 'logs': boom"
    assert info.value.__cause__ is cause


def test_other_exceptions_pass_unchanged(decoder):
    class Bad:
        def __len__(self):
            return 1

        def __getitem__(self, index):
            raise ZeroDivisionError("inner")

    with pytest.raises(ZeroDivisionError, match="^inner$"):
        decoder.parse_logs(Bad())
    with pytest.raises(UnicodeEncodeError):
        decoder.parse_logs(["Program data: " + B64, "\ud800"])


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer holds freed memory in quarantine: resident memory grows")
@pytest.mark.thread_unsafe(reason="measures the memory of the whole process")
def test_repeated_batches_do_not_leak(decoder):
    good = "Program data: " + B64
    lines = [good, good[:-4], "noise", data_line(DISC, b"\x01"), data_line(PAYLOAD, b"\xff" * 64)] * 40

    def churn(rounds):
        for _ in range(rounds):
            assert len(decoder.parse_logs(lines)) == 80
            for bad in (lines + [5], "text", iter(lines)):
                with pytest.raises(TypeError):
                    decoder.parse_logs(bad)

    churn(100)
    gc.collect()
    before = rss_bytes()
    churn(1000)
    gc.collect()
    # 80,000 records and 3,000 failed calls: a leak of one object per record
    # or per call would show as several MiB.
    assert rss_bytes() - before < 8 * 1024 * 1024
