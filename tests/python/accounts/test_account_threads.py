"""One decoder per program shared by many threads, GIL off: every call gives exactly the serial result."""

import base64
import json

from accounts.test_real_accounts import FILES, IDL_OF, ZSTD, account, decoder, raw, text, zstd_compress
from helpers import FREE_THREADED, gil_enabled, results_in_threads


def test_threads_share_the_decoders():
    jobs = []
    for file in FILES:
        d = decoder(IDL_OF[file])
        jobs += [(d.decode_accounts, text(file)), (d.decode_account, json.loads(text(file)))]
        jobs.append((d.decode_account, raw(file)))
        if ZSTD is not None:  # the decoder calls the zstd module from each thread
            packed = base64.b64encode(zstd_compress(raw(file))).decode()
            jobs.append((d.decode_account, {**account(file), "data": [packed, "base64+zstd"]}))
    serial = [call(arg) for call, arg in jobs]
    for mine in results_in_threads(lambda job: job[0](job[1]), jobs, threads=6, rounds=4):
        assert mine == serial
    assert gil_enabled() is not FREE_THREADED  # a free-threaded build stays GIL-free
