"""Field and variant names are str objects made once per decoder and shared by
every dict it fills: equal values as before, now also identical keys."""

import gc
import sys
import threading

from helpers import current_idl, data_line, struct
from varkel import EventDecoder
from varkel_support import encode, event_discriminator

SIDE = {"name": "Side", "type": {"kind": "enum", "variants": [
    {"name": "Buy"}, {"name": "Sell", "fields": [{"name": "amount", "type": "u8"}]}]}}
TYPES = [
    struct("Trade", [("amount", "u64"), ("side", {"defined": {"name": "Side"}}),
                     ("hops", {"vec": {"defined": {"name": "Hop"}}})]),
    struct("Hop", [("pool", "u8"), ("amount", "u16")]),
    SIDE,
]
TYPE_BODIES = {t["name"]: t["type"] for t in TYPES}
IDL = current_idl(events=["Trade"], types=TYPES)
DISC = event_discriminator("Trade")


def line(value):
    return data_line(DISC, encode({"defined": {"name": "Trade"}}, value, TYPE_BODIES))


VALUES = [
    {"amount": 5, "side": {"Sell": {"amount": 3}}, "hops": [{"pool": 1, "amount": 2}, {"pool": 3, "amount": 4}]},
    {"amount": 7, "side": "Buy", "hops": [{"pool": 9, "amount": 8}]},
]


def all_keys(value, out):
    if isinstance(value, dict):
        for key, item in value.items():
            out.append(key)
            all_keys(item, out)
    elif isinstance(value, list):
        for item in value:
            all_keys(item, out)
    return out


def test_values_unchanged_and_keys_identical_across_records():
    decoder = EventDecoder(IDL)
    records = decoder.parse_logs([line(v) for v in VALUES])
    assert records == [("Trade", v) for v in VALUES]
    by_text = {}
    for _, value in records:
        for key in all_keys(value, []):
            assert by_text.setdefault(key, key) is key, key
    # Field names and the variant name of a one-key dict, each one object.
    assert set(by_text) == {"amount", "side", "hops", "pool", "Sell"}
    for key in by_text.values():
        assert type(key) is str
        assert sys.intern(key) is key  # interned: the process's one str of that text


def test_keys_shared_between_decoders_and_threads():
    first, second = EventDecoder(IDL), EventDecoder(IDL)
    lines = [line(v) for v in VALUES] * 50
    seen = []
    barrier = threading.Barrier(4)

    def work(decoder):
        barrier.wait()
        seen.append(all_keys([v for _, v in decoder.parse_logs(lines)], []))

    threads = [threading.Thread(target=work, args=(d,)) for d in (first, second, first, second)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    ids = {}
    for keys in seen:
        for key in keys:
            assert ids.setdefault(key, id(key)) == id(key)


def test_decoder_is_not_tracked_by_the_collector():
    assert not gc.is_tracked(EventDecoder(IDL))
