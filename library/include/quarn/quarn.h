/* SPDX-License-Identifier: Apache-2.0 */
/* libquarn: the Quarn Explorer engine as a library, for programs in any language.
 *
 * One engine (the databases of a data folder) is opened once and serves any number of threads
 * at once. A scan runs on the calling thread and hands each result to a callback as one JSON
 * object (a line of quarnscan's --json stream, without "line", "memory" and "message"). Nothing
 * is changed on disk unless the scan's options ask for an action. */
#ifndef QUARN_QUARN_H
#define QUARN_QUARN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QUARN_ABI_VERSION 0

#if defined(__GNUC__)
#define QUARN_API __attribute__((visibility("default")))
#else
#define QUARN_API
#endif

typedef struct quarn_engine quarn_engine;
typedef struct quarn_scan_options quarn_scan_options;
typedef int quarn_status;

#define QUARN_OK 0
/* A callback asked the scan to stop; its summary was still delivered. */
#define QUARN_CANCELLED 1
/* A null handle or pointer, an unknown option or a value it does not take. */
#define QUARN_EINVAL 2
/* quarn_engine_close on an engine with scans still running: nothing was freed. */
#define QUARN_EBUSY 3
/* The databases could not be loaded. */
#define QUARN_EDATABASE 4
/* The target cannot be scanned at all: it does not exist, or it is neither a file nor a
 * folder, or the descriptor cannot be read. */
#define QUARN_ETARGET 5
/* Out of memory or another failure of the library itself. */
#define QUARN_EINTERNAL 6

/* Receives each event of a scan; `json_event` is valid until the callback returns. A non-zero
 * return stops the scan after the current file. */
typedef int (*quarn_event_callback)(const char* json_event, void* context);

/* The project's version, "MAJOR.MINOR.PATCH". */
QUARN_API const char* quarn_version(void);

/* Loads QUARN.DAT, NAMEVIR.DAT and, when present, QUARNX.DAT from `data_dir` (NULL: the data
 * folder installed with the library). On failure *engine is NULL and *message (when `message`
 * is not NULL) names the file and the cause; release it with quarn_free_message. */
QUARN_API quarn_status quarn_engine_open(const char* data_dir, quarn_engine** engine,
                                         char** message);
/* Frees the engine, unless scans are still running on it (QUARN_EBUSY). NULL is QUARN_EINVAL. */
QUARN_API quarn_status quarn_engine_close(quarn_engine* engine);

/* The defaults: files "exe", containers "all" with the default limits, heuristics "on",
 * action "none". NULL when out of memory. */
QUARN_API quarn_scan_options* quarn_scan_options_new(void);
QUARN_API void quarn_scan_options_free(quarn_scan_options* options);
/* Sets one option by the name quarnscan gives it, without the dashes: "files" (exe|all),
 * "containers" (all|none|images|archives, or a list of kinds), "max-depth", "max-entries",
 * "max-file-size", "max-scan-size", "max-ratio", "max-time", "heuristics" (on|off), "action"
 * (none|clean|delete|rename). A wrong name or value leaves the options as they were. */
QUARN_API quarn_status quarn_scan_options_set(quarn_scan_options* options, const char* name,
                                              const char* value, char** message);

/* Scans a file or a folder and everything below it. `options` NULL means the defaults. */
QUARN_API quarn_status quarn_scan_path(quarn_engine* engine, const char* path,
                                       const quarn_scan_options* options,
                                       quarn_event_callback callback, void* context,
                                       char** message);
/* Scans each of `count` paths in turn as quarn_scan_path does, in one scan with one summary
 * whose counts cover them all: cheaper than a call per file for callers that hold lists of
 * files. Fails with QUARN_ETARGET, scanning nothing, when a path cannot be scanned at all. */
QUARN_API quarn_status quarn_scan_paths(quarn_engine* engine, const char* const* paths,
                                        size_t count, const quarn_scan_options* options,
                                        quarn_event_callback callback, void* context,
                                        char** message);
/* Scans the bytes of an open descriptor, named "fd:N" in the events. The descriptor is read at
 * offsets: it is not closed and its position does not move. */
QUARN_API quarn_status quarn_scan_fd(quarn_engine* engine, int fd,
                                     const quarn_scan_options* options,
                                     quarn_event_callback callback, void* context, char** message);
/* Scans `size` bytes in memory as a file called `name` (its extension counts for the files
 * filter "exe"); NULL `name` is "buffer". */
QUARN_API quarn_status quarn_scan_buffer(quarn_engine* engine, const void* data, size_t size,
                                         const char* name, const quarn_scan_options* options,
                                         quarn_event_callback callback, void* context,
                                         char** message);

QUARN_API void quarn_free_message(char* message);

#ifdef __cplusplus
}
#endif

#endif /* QUARN_QUARN_H */
