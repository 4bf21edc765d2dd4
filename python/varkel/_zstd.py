"""Account data in the "base64+zstd" encoding, decompressed within a bound.

The extension calls decompress() for each such account; the zstd decoder is
the interpreter's (compression.zstd, Python 3.14) or the zstandard package.
"""

from __future__ import annotations

from typing import Any

NO_DECODER = "base64+zstd needs a zstd decoder (Python 3.14's compression.zstd, or: pip install zstandard)"


def _too_large(limit: int) -> str:
    return f"decompressed to more than {limit >> 20} MiB, more than any account holds"


def _stdlib(module: Any, data: bytes, limit: int) -> bytes | str:
    decompressor = module.ZstdDecompressor()
    out = decompressor.decompress(data, limit + 1)
    if len(out) > limit:
        return _too_large(limit)
    if not decompressor.eof:
        return "not valid zstd (the frame is cut short)"
    return bytes(out)


def _zstandard(module: Any, data: bytes, limit: int) -> bytes | str:
    size = module.frame_content_size(data)  # -1: the header does not say
    if size > limit:
        return _too_large(limit)
    decompressor = module.ZstdDecompressor()
    if size < 0:
        # Read at most limit + 1 bytes to learn the size; the stream reader
        # does not notice a frame cut short, the whole decompression below does.
        with decompressor.stream_reader(data) as reader:
            seen = 0
            while seen <= limit:
                chunk = reader.read(limit + 1 - seen)
                if not chunk:
                    break
                seen += len(chunk)
        if seen > limit:
            return _too_large(limit)
    return bytes(decompressor.decompress(data, max_output_size=limit))


def decompress(data: bytes, limit: int) -> bytes | str:
    """The decompressed bytes, or why there are none ("data: ..." follows in
    the account's error)."""
    try:
        from compression import zstd  # type: ignore[import-not-found, unused-ignore]

        run = _stdlib
        module: Any = zstd
    except ImportError:
        try:
            import zstandard  # type: ignore[import-not-found, unused-ignore]
        except ImportError:
            return NO_DECODER
        run = _zstandard
        module = zstandard
    try:
        return run(module, data, limit)
    except MemoryError:
        raise
    except Exception as error:  # the module's own error class: the data is not zstd
        return f"not valid zstd ({type(error).__name__}: {error})"
