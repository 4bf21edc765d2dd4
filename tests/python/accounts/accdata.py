"""Shared by the account tests: the real account dumps of tests/data/accounts
(see its SOURCES.md), a decoder per IDL, and the account data in the other
forms the decoder reads (written here, independently of the package)."""

import base64
import functools
import importlib
import json

from helpers import DATA, REPO, fixture
from varkel_support import b58encode

from varkel import EventDecoder

ACCOUNTS = DATA / "accounts"


@functools.cache
def decoder(idl: str) -> EventDecoder:
    """The decoder of a shared IDL fixture (skips when absent), or of "pump-legacy" (examples/)."""
    path = REPO / "examples" / "pump-legacy" / "idl.json" if idl == "pump-legacy" else fixture("idl", "current", idl)
    return EventDecoder(path.read_text())


def text(file: str) -> str:
    return (ACCOUNTS / file).read_text()


def account(file: str) -> dict:
    """The account object ({"data", "owner", ...}) of a dump or of a getAccountInfo response."""
    doc = json.loads(text(file))
    return doc["account"] if "account" in doc else doc["result"]["value"]


def raw(file: str) -> bytes:
    data, encoding = account(file)["data"]
    assert encoding == "base64"
    return base64.b64decode(data, validate=True)


def _zstd_module():
    # The module the decoder decompresses with: compression.zstd (3.14), else zstandard.
    for name in ("compression.zstd", "zstandard"):
        try:
            return importlib.import_module(name)
        except ImportError:
            pass
    return None


ZSTD = _zstd_module()


def zstd_compress(data: bytes, content_size: bool = True) -> bytes:
    """A zstd frame of `data`, with or without its size in the frame header."""
    if ZSTD.__name__ == "zstandard":
        return ZSTD.ZstdCompressor(write_content_size=content_size).compress(data)
    return ZSTD.compress(data, options={ZSTD.CompressionParameter.content_size_flag: content_size})


def encoded(file: str, encoding: str) -> dict:
    """The file's account object with its data in `encoding`."""
    data = raw(file)
    if encoding == "base58":
        text_ = b58encode(data)
    elif encoding == "base64+zstd":
        text_ = base64.b64encode(zstd_compress(data)).decode()
    else:
        text_ = base64.b64encode(data).decode()
    return {**account(file), "data": [text_, encoding]}
