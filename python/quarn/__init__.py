# SPDX-License-Identifier: Apache-2.0
"""Quarn Explorer's scanning engine for Python, on libquarn.

Open an :class:`Engine` once (it loads the databases) and scan with it from any number of
threads: a scan releases the GIL, so two threads scan at once. Each scan returns its events,
the objects of ``quarnscan --json`` (``detection``, ``suspicious``, ``incomplete``,
``action``, ``boot``, then one ``summary``) as dicts, in the order they came::

    import quarn
    with quarn.Engine() as engine:
        for event in engine.scan_path("/srv/old-disks", files="all", max_depth=4):
            if event["event"] == "detection":
                print(event["path"], event["name"])

Paths in events are host paths; an entry of a disk image or an archive is the container's
path, ``!`` and the entry's path inside it. ``python3 -m quarn.dask_scan`` scans a tree on a
Dask cluster.

Options of every scan (keyword-only): ``files`` ("exe": programs only, or "all"),
``containers`` ("all", "none", "images", "archives" or a comma list of kinds),
``heuristics`` (bool), ``action`` ("none", "clean", "delete", "rename"; nothing on disk
changes unless it is set) and the container limits ``max_depth``, ``max_entries``,
``max_file_size``, ``max_scan_size``, ``max_ratio``, ``max_time`` (an int, or a string
such as "5M" or "30s", as quarnscan takes them). A wrong keyword or a value of the wrong
type is a TypeError, a value the engine does not take a ValueError.
"""
from __future__ import annotations

import os
import threading

from . import _quarn

# typing costs a tenth of the module's import and is needed only by type checkers: the
# annotations are never evaluated at run time.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Iterable, Iterator, Union

    PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
    Event = dict[str, Any]


def _event_reader() -> Any:
    """json.loads for the engine's events, without importing json, whose regular expressions
    take longer to set up than a short scan takes: the interpreter's own JSON scanner, the one
    json.loads uses, reads them. Anything it does not read whole goes to json.loads, which
    gives its own error."""
    try:
        from _json import make_scanner
    except ImportError:  # an interpreter without json's accelerator
        import json

        return json.loads

    class Decoding:  # what the scanner asks of json's decoder
        strict = True
        object_hook = None
        object_pairs_hook = None
        parse_float = float
        parse_int = int
        parse_constant = float

    scan = make_scanner(Decoding())

    def loads(text: str) -> Any:
        try:
            value, end = scan(text, 0)
            if end == len(text):
                return value
        except StopIteration:
            pass
        import json

        return json.loads(text)

    return loads


_loads = _event_reader()

__all__ = ["Engine", "Error", "DatabaseError", "ScanError", "EngineBusyError", "__version__"]

__version__: str = _quarn.version()

# The container limits by their keyword names, and the option names the engine knows them by.
LIMITS = ("max_depth", "max_entries", "max_file_size", "max_scan_size", "max_ratio", "max_time")
# How many events iter_path lets its scan run ahead of the reader.
_QUEUED_EVENTS = 64
# Options are parsed once per engine and kept, as long as few different ones are used.
_KEPT_OPTIONS = 16


class Error(Exception):
    """Base of the errors the engine reports."""


class DatabaseError(Error):
    """The databases of the data folder could not be loaded."""


class ScanError(Error):
    """The target cannot be scanned at all (absent, neither a file nor a folder, a descriptor
    that cannot be read). ``path`` names it, ``message`` says why."""

    def __init__(self, path: Any, message: str) -> None:
        # Both in args, so that the error pickles (a Dask task's error crosses processes).
        super().__init__(path, message)
        self.path = path
        self.message = message

    def __str__(self) -> str:
        # The engine's messages name their target already.
        return self.message


class EngineBusyError(Error):
    """close() on an engine with scans still running: nothing was freed."""


def _translated(failure: _quarn.LibraryError) -> Exception:
    status, message, target = failure.args
    if status == _quarn.EDATABASE:
        return DatabaseError(message)
    if status == _quarn.ETARGET:
        return ScanError(target, message)
    if status == _quarn.EBUSY:
        return EngineBusyError(message)
    if status == _quarn.EINVAL:
        return ValueError(message)
    return Error(message)


def _option_value(keyword: str, value: Any) -> str:
    # bool is an int too: True as a depth would be a mistake, not 1.
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise TypeError(f"{keyword} must be an int or a str, not {type(value).__name__}")
    return str(value)


def _choice(keyword: str, value: Any) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{keyword} must be a str, not {type(value).__name__}")
    return value


def _option_pairs(files: str = "exe", containers: str = "all", heuristics: bool = True,
                  action: str = "none", **limits: Union[int, str]) -> tuple:
    """The options as (engine name, value) pairs; TypeError for a keyword or a type that is
    wrong (the values themselves are judged by the engine)."""
    if not isinstance(heuristics, bool):
        raise TypeError(f"heuristics must be a bool, not {type(heuristics).__name__}")
    pairs = [("files", _choice("files", files)), ("containers", _choice("containers", containers)),
             ("heuristics", "on" if heuristics else "off"), ("action", _choice("action", action))]
    for keyword, value in limits.items():
        if keyword not in LIMITS:
            raise TypeError(f"unexpected keyword argument '{keyword}'")
        pairs.append((keyword.replace("_", "-"), _option_value(keyword, value)))
    return tuple(pairs)


def _made_options(pairs: tuple) -> _quarn.Options:
    made = _quarn.Options()
    for name, value in pairs:
        try:
            made.set(name, value)
        except _quarn.LibraryError as failure:
            raise _translated(failure) from None
    return made


def _checked_options(**options: Any) -> None:
    """Raises as a scan with these options would, before any scan runs."""
    _made_options(_option_pairs(**options))


class Engine:
    """The engine over the databases of ``data_dir`` (None: the data folder installed with
    libquarn). Raises DatabaseError when they cannot be loaded.

    One engine serves any number of threads at once. Close it with close() or a ``with``
    block; closing it while a scan runs raises EngineBusyError."""

    def __init__(self, data_dir: PathArg | None = None) -> None:
        self._options_made: dict[tuple, _quarn.Options] = {}
        self._options_lock = threading.Lock()
        try:
            self._engine = _quarn.Engine(data_dir)
        except _quarn.LibraryError as failure:
            raise _translated(failure) from None

    def __enter__(self) -> Engine:
        return self

    def __exit__(self, *exception: Any) -> None:
        self.close()

    @property
    def closed(self) -> bool:
        """True once the engine is closed."""
        return self._engine.closed

    def close(self) -> None:
        """Frees the databases; again is harmless. EngineBusyError while a scan runs."""
        try:
            self._engine.close()
        except _quarn.LibraryError as failure:
            raise _translated(failure) from None

    def scan_path(self, path: PathArg, *, files: str = "exe", containers: str = "all",
                  heuristics: bool = True, action: str = "none",
                  **limits: Union[int, str]) -> list[Event]:
        """Scans a file, or a folder and everything below it; returns its events in order.

        ScanError when ``path`` does not exist or is neither a file nor a folder. The
        options and the limits (max_depth=..., max_file_size="5M", ...) are those of the
        module's help."""
        options = dict(files=files, containers=containers, heuristics=heuristics, action=action,
                       **limits)
        return self._collect(self._engine.scan_path, os.fspath(path), options)

    def scan_paths(self, paths: Iterable[PathArg], **options: Any) -> list[Event]:
        """Scans each path in turn as scan_path does, in one scan: its events in order, then
        one summary whose counts cover them all. Cheaper than a scan_path per file.

        ScanError, before anything is scanned, when any path does not exist or is neither a
        file nor a folder. The options are scan_path's."""
        targets = [os.fspath(path) for path in paths]
        return self._collect(self._engine.scan_paths, targets, options)

    def _scan_paths_text(self, paths: list[bytes], **options: Any) -> list[str]:
        """scan_paths, its events left as the JSON text lines the engine gives: for a caller
        that only passes them on (the Dask scan), parsing them is wasted."""
        return self._collect(self._engine.scan_paths, paths, options, text=True)

    def scan_bytes(self, data: bytes | bytearray | memoryview, name: PathArg | None = None,
                   **options: Any) -> list[Event]:
        """Scans bytes in memory as a file called ``name``, whose extension the ``files``
        filter goes by (None: "buffer", always scanned); TypeError unless ``data`` is
        bytes-like."""
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"data must be bytes-like, not {type(data).__name__}")
        return self._collect(self._engine.scan_buffer, data,
                             None if name is None else os.fspath(name), options)

    def scan_fd(self, fd: int, **options: Any) -> list[Event]:
        """Scans the regular file open on descriptor ``fd``, named "fd:N" in the events. The
        descriptor is read at offsets: it is not closed and its position does not move.
        ScanError when it cannot be read."""
        if isinstance(fd, bool) or not isinstance(fd, int):
            raise TypeError(f"fd must be an int, not {type(fd).__name__}")
        return self._collect(self._engine.scan_fd, fd, options)

    def iter_path(self, path: PathArg, **options: Any) -> Iterator[Event]:
        """Yields the events of scan_path(path, ...) as the scan finds them.

        The scan runs on a thread of its own at most a few dozen events ahead of the reader.
        Closing the generator before its end (``break`` out of a for loop, or close()) stops
        the scan after the file in hand and waits for it; nothing found after that is acted
        on. Wrong options raise here, a target that cannot be scanned at the first event."""
        target = os.fspath(path)
        made = self._options(options)
        return self._iterate(target, made)

    def _iterate(self, target: str | bytes, made: _quarn.Options) -> Iterator[Event]:
        import queue  # only long scans read their events as they come

        events: queue.Queue = queue.Queue(maxsize=_QUEUED_EVENTS)
        stop = threading.Event()

        def deliver(text: str) -> bool:
            if stop.is_set():
                return True
            events.put((True, text))
            return stop.is_set()

        def run() -> None:
            try:
                self._engine.scan_path(target, made, deliver)
                events.put((False, None))
            except BaseException as failure:  # handed to the reader, who raises it
                events.put((False, failure))

        scanner = threading.Thread(target=run, name="quarn-scan", daemon=True)
        scanner.start()
        ended = False
        try:
            while True:
                is_event, item = events.get()
                if not is_event:
                    ended = True
                    if item is not None:
                        if isinstance(item, _quarn.LibraryError):
                            raise _translated(item) from None
                        raise item
                    return
                yield _loads(item)
        finally:
            stop.set()
            # The scanner may wait on a full queue: taking its events frees it to see the
            # stop, and its end marker comes last.
            while not ended:
                ended = not events.get()[0]
            scanner.join()

    def _options(self, options: dict[str, Any]) -> _quarn.Options:
        pairs = _option_pairs(**options)
        with self._options_lock:
            made = self._options_made.get(pairs)
            if made is None:
                made = _made_options(pairs)
                if len(self._options_made) >= _KEPT_OPTIONS:
                    self._options_made.clear()
                self._options_made[pairs] = made
        return made

    def _collect(self, scan: Any, *arguments: Any, text: bool = False) -> list[Any]:
        *targets, options = arguments
        made = self._options(options)
        found: list[Any] = []
        keep = found.append
        loads = _loads

        def deliver(event: str) -> bool:
            keep(event if text else loads(event))
            return False

        try:
            scan(*targets, made, deliver)
        except _quarn.LibraryError as failure:
            raise _translated(failure) from None
        return found
